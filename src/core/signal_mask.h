// The signal mask of the shell, with a copy kept in memory: the shell changes its mask only
// through this, so reading it (as every recovery point does) costs no system call.
#pragma once

#include <csignal>

/// sigprocmask: changes the mask as asked (set may be null to only read it) and keeps the copy.
void mask_change(int how, const sigset_t* set, sigset_t* old);
