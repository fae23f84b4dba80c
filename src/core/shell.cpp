#include "core/shell.h"

ShellFlags shell;
