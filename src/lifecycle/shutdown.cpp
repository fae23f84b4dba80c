#include "lifecycle/shutdown.h"

#include <termios.h>
#include <unistd.h>

#include "core/descriptors.h"
#include "core/recovery_steps.h"
#include "core/shell.h"
#include "lifecycle/command_loop.h"

#include <csignal>
#include "vars/variables.h"

#include <cstdint>
#include <cstdio>

void give_back_terminal() {
    if (shell.terminal_pgrp <= 0) return;
    setpgid(0, shell.startup_pgrp);
    tcsetpgrp(TTY_FD, shell.startup_pgrp);
}

void exit_now(int status) {
    give_back_terminal();
    _exit(status);
}

void logout_sequence() {
    save_history();
    if (shell.login_shell) {
        signal(SIGQUIT, SIG_IGN);
        signal(SIGINT, SIG_IGN);
        signal(SIGTERM, SIG_IGN);
        shell.handle_interrupts = false;
        if (!var_lookup("logout")) var_set("logout", chars("normal"));
        source_system_file("/etc/orv.logout");
        if (const WordVector* home = var_lookup("home"); home && !home->empty()) {
            source_home_file((*home)[0], "/.logout");
        }
    }
    exit_with_status();
}

void exit_with_status() {
    shell.fork_depth = 1;
    std::int32_t status = parse_number(var_value("status"));
    std::fflush(output_stream);
    std::fflush(diagnostic_stream);
    exit_now(status);
}

void reclaim_terminal() {
    if (shell.terminal_pgrp > 0) tcsetpgrp(TTY_FD, shell.terminal_pgrp);
}
