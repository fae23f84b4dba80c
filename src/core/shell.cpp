#include "core/shell.h"

ShellFlags shell;
SessionState session;
