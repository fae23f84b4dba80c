#include "lifecycle/shutdown.h"

#include <csignal>

#include "core/shell.h"
#include "input/history.h"
#include "lifecycle/command_loop.h"
#include "vars/variables.h"

void logout_sequence() {
    save_history();
    if (shell.login_shell) {
        signal(SIGQUIT, SIG_IGN);
        signal(SIGINT, SIG_IGN);
        signal(SIGTERM, SIG_IGN);
        shell.handle_interrupts = false;
        if (!var_lookup("logout")) var_store(chars("logout"), {chars("normal")}, shell_variables);
        source_system_file("/etc/orv.logout");
        if (const WordVector* home = var_lookup("home"); home && !home->empty()) {
            source_home_file((*home)[0], "/.logout");
        }
    }
    exit_with_status();
}
