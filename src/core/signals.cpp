#include "core/signals.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "core/shell.h"
#include "core/signal_mask.h"

SignalRecords signal_records;
SignalActions signal_actions;

namespace {

// Blocking SIGINT matters only while the shell's own routine catches it: a default or ignored
// disposition acts the same whether the signal waits or not, and the system calls are saved.
bool interrupt_routine = false;

void record_interrupt(int) {
    if (getpid() == signal_records.owner) signal_records.interrupt = 1;
}

void record_child(int) {
    if (getpid() == signal_records.owner) signal_records.child = 1;
}

void record_hangup(int sig) {
    if (getpid() == signal_records.owner) signal_records.hangup = sig;
}

void record_window(int) {
    if (getpid() == signal_records.owner) signal_records.window = 1;
}

void install(int sig, void (*handler)(int), int flags) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = flags;
    sigaction(sig, &sa, nullptr);
}

bool interrupt_is_blocked() {
    sigset_t now = mask_now();
    return sigismember(&now, SIGINT);
}

}  // namespace

void signals_init() {
    signal_records.owner = getpid();
}

void install_interrupt_handler() {
    install(SIGINT, record_interrupt, 0);
    interrupt_routine = true;
}
void install_child_handler() {
    install(SIGCHLD, record_child, SA_RESTART);
}
void install_hangup_handlers() {
    install(SIGHUP, record_hangup, SA_RESTART);
    install(SIGXCPU, record_hangup, SA_RESTART);
    install(SIGXFSZ, record_hangup, SA_RESTART);
}

void install_window_handler() {
    install(SIGWINCH, record_window, SA_RESTART);
}

void let_interrupts_through() {
    if (!shell.handle_interrupts || !interrupt_routine) return;
    unblock_signal(SIGINT);
    act_on_signals();
}

void hold_interrupts() {
    if (shell.handle_interrupts && interrupt_routine) block_signal(SIGINT);
}

void interrupt_routine_replaced() {
    interrupt_routine = false;
}

void act_on_signals() {
    // A record without a registered action is dropped, so that no wait keeps waking for it.
    if (int sig = signal_records.hangup) {
        if (!signal_actions.hangup)
            signal_records.hangup = 0;
        else
            signal_actions.hangup(sig);
    }
    if (signal_records.child) {
        signal_records.child = 0;
        if (signal_actions.child) signal_actions.child();
    }
    if (signal_records.interrupt && !interrupt_is_blocked()) {
        signal_records.interrupt = 0;
        if (signal_actions.interrupt) signal_actions.interrupt(true);
    }
}

void wait_readable(int fd) {
    while (wait_input(fd, -1, false) == InputWait::SIGNALED) act_on_signals();
}

InputWait wait_input(int fd, int timeout_ms, bool window) {
    // The signals are held while the records are examined and let through only inside ppoll,
    // so that one arriving in between still wakes the wait.
    SignalsBlocked held({SIGINT, SIGCHLD, SIGHUP, SIGXCPU, SIGXFSZ, SIGWINCH});
    const sigset_t& before = held.before();
    struct timespec limit {
        timeout_ms / 1000, (timeout_ms % 1000) * 1000000L
    };
    for (;;) {
        if (signal_records.hangup || signal_records.child || (window && signal_records.window) ||
            (signal_records.interrupt && !sigismember(&before, SIGINT))) {
            return InputWait::SIGNALED;
        }
        struct pollfd p {
            fd, POLLIN, 0
        };
        int r = ppoll(&p, 1, timeout_ms < 0 ? nullptr : &limit, &before);
        if (r > 0 || (r < 0 && errno != EINTR)) return InputWait::READABLE;
        if (r == 0) return InputWait::TIMED_OUT;
    }
}
