// The last command started in the background, for $!.
#pragma once

#include <sys/types.h>

/// The process id of the last command started with & through a full fork; 0 before any.
extern pid_t last_background_pid;
