#include "builtins/other_builtins.h"

#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>

#include "builtins/printf.h"
#include "core/descriptors.h"
#include "core/errors.h"
#include "core/process_exit.h"
#include "core/shell.h"
#include "core/signal_mask.h"
#include "core/signals.h"
#include "exec/reentry.h"
#include "expand/glob.h"
#include "input/history.h"
#include "input/input_buffer.h"
#include "jobs/job_control.h"

#if defined(__SANITIZE_ADDRESS__)
#define ORV_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORV_ADDRESS_SANITIZER 1
#endif
#endif
#ifdef ORV_ADDRESS_SANITIZER
// Declared here: g++ installs the sanitizer runtime without its interface headers.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

// The bytes the shell holds from the allocator: in use in the heap and in blocks of their own.
std::size_t bytes_allocated() {
#ifdef ORV_ADDRESS_SANITIZER
    // The sanitizer's allocator stands in for the C library's, whose counts then stay empty.
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

// echo, linedit and glob: one function with a separator.
void write_words(const WordVector& words, char separator) {
    let_interrupts_through();
    if (words.size() > 1) {
        WordVector args = glob_arguments(words, ERR_NO_MATCH | ERRF_NAME);
        bool newline = separator == ' ';
        std::size_t first = 0;
        if (separator == ' ' && !args.empty() && args[0] == chars("-n")) {
            newline = false;
            first = 1;
        }
        for (std::size_t i = first; i < args.size(); ++i) {
            act_on_signals();
            if (i > first) std::fputc(separator, output_stream);
            for (Char c : args[i]) std::fputc(c & 0xff, output_stream);
        }
        if (newline) {
            std::fputc('\n', output_stream);
        } else {
            std::fflush(output_stream);
        }
    }
    hold_interrupts();
}

}  // namespace

void builtin_echo(WordVector& words, CommandNode&) {
    write_words(words, ' ');
}

void builtin_glob(WordVector& words, CommandNode&) {
    write_words(words, '\0');
}

void builtin_onintr(WordVector& words, CommandNode&) {
    if (shell.inherited_sigint.sa_handler == SIG_IGN) return;
    if (shell.handle_interrupts && shell.interactive) {
        error_raise(ERR_CANT_FROM_TERMINAL | ERRF_NAME);
    }
    session.interrupt_label.reset();
    if (words.size() == 1) {
        if (shell.handle_interrupts) {
            // Held until the next line is read; a default disposition is not held, since
            // nothing would let it through again.
            hold_interrupts();
        } else {
            signal(SIGINT, SIG_DFL);
            interrupt_routine_replaced();
        }
        return;
    }
    CharString label = words[1];
    str_strip(label);
    if (label == chars("-")) {
        signal(SIGINT, SIG_IGN);
        interrupt_routine_replaced();
    } else {
        install_interrupt_handler();
    }
    session.interrupt_label = std::move(label);
}

void builtin_nohup(WordVector&, CommandNode&) {
    if (shell.interactive) error_raise(ERR_CANT_FROM_TERMINAL | ERRF_NAME);
    if (!shell.handle_interrupts) signal(SIGHUP, SIG_IGN);
}

namespace {

// Sends the signal to the shell's own process group with its default action in force: the
// shell stops here until it is continued.
void stop_self(int sig) {
    struct sigaction default_action = {};
    struct sigaction previous = {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(sig, &default_action, &previous);
    kill(0, sig);
    sigaction(sig, &previous, nullptr);
}

// Not in a login shell; the stopped-jobs warning first (a second logout goes through).
void check_leaving_login_shell() {
    if (stop_warned == 0 && shell.handle_interrupts) check_stopped_jobs(false);
    if (!shell.login_shell) error_raise(ERR_NOT_LOGIN_SHELL);
}

}  // namespace

void builtin_suspend(WordVector&, CommandNode&) {
    if (shell.login_shell) error_raise(ERR_CANT_SUSPEND_LOGIN);
    give_back_terminal();
    stop_self(SIGTSTP);
    if (shell.terminal_pgrp != -1) {
        // Continued in the background: wait, stopped, until the terminal is ours again. A
        // terminal that cannot be asked ends the wait instead of spinning.
        for (;;) {
            pid_t owner = tcgetpgrp(TTY_FD);
            if (owner == shell.startup_pgrp || owner < 0) break;
            stop_self(SIGTTIN);
        }
        setpgid(0, shell.shell_pgrp);
        tcsetpgrp(TTY_FD, shell.shell_pgrp);
    }
}

void builtin_logout(WordVector&, CommandNode&) {
    check_leaving_login_shell();
    // From here an error ends the shell instead of returning to the command loop.
    shell.fork_depth = 1;
    reentry.logout_sequence();
}

void builtin_login(WordVector& words, CommandNode&) {
    check_leaving_login_shell();
    std::optional<std::string> user;
    if (words.size() > 1) user = to_bytes(words[1]);
    save_history();
    sigaction(SIGTERM, &shell.inherited_sigterm, nullptr);
    std::fflush(output_stream);
    std::fflush(diagnostic_stream);
    // The login program gets the shell's standard descriptors when the command has none set up,
    // and starts with no signal blocked.
    if (!fds.fds_prepared) {
        dup2(fds.saved_stdin, 0);
        dup2(fds.shell_out, 1);
        dup2(fds.shell_diag, 2);
    }
    sigset_t none;
    sigemptyset(&none);
    mask_change(SIG_SETMASK, &none, nullptr);
    execl("/usr/bin/login", "login", user ? user->c_str() : nullptr, nullptr);
    exit_now(1);
}

void builtin_alloc(WordVector&, CommandNode&) {
    // Counted from 0, so that the top and the size are both what the shell has allocated; the
    // program break is no measure of that (glibc maps large blocks elsewhere, and the break of
    // a position-independent program is an address, not an amount).
    const auto size = static_cast<unsigned long>(bytes_allocated());
    std::fprintf(output_stream, "Allocated memory from 0x%lx to 0x%lx (%ld).\n", 0UL, size,
                 static_cast<long>(size));
}

void builtin_printf(WordVector& words, CommandNode&) {
    std::optional<WordVector> expanded;
    if (int kind = glob_classify(words)) {
        expanded = glob_words(words, kind);
        if (!expanded) error_raise(ERR_NO_MATCH | ERRF_NAME);
    }
    ByteVector bytes(expanded ? *expanded : words);
    int result = printf_format(static_cast<int>(bytes.strings.size()), bytes.data());
    std::fflush(output_stream);
    std::fflush(diagnostic_stream);
    if (result != 0) error_raise(ERRF_SILENT);
}
