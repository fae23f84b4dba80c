#include "core/process_exit.h"

#include <unistd.h>

#include "core/descriptors.h"
#include "core/shell.h"

void give_back_terminal() {
    if (shell.terminal_pgrp <= 0) return;
    setpgid(0, shell.startup_pgrp);
    tcsetpgrp(TTY_FD, shell.startup_pgrp);
}

void reclaim_terminal() {
    if (shell.terminal_pgrp > 0) tcsetpgrp(TTY_FD, shell.terminal_pgrp);
}

void exit_now(int status) {
    give_back_terminal();
    _exit(status);
}
