#include "exec/background.h"

pid_t last_background_pid = 0;
