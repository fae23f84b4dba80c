#include "core/signal_mask.h"
#include "lifecycle/signals.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "core/shell.h"
#include "jobs/process_table.h"
#include "lifecycle/interrupts.h"

SignalRecords signal_records;

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

void install(int sig, void (*handler)(int), int flags) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = flags;
    sigaction(sig, &sa, nullptr);
}

bool interrupt_is_blocked() {
    sigset_t now;
    mask_change(SIG_BLOCK, nullptr, &now);
    return sigismember(&now, SIGINT);
}

}  // namespace

void signals_init() { signal_records.owner = getpid(); }

void install_interrupt_handler() {
    install(SIGINT, record_interrupt, 0);
    interrupt_routine = true;
}
void install_child_handler() { install(SIGCHLD, record_child, SA_RESTART); }
void install_hangup_handlers() {
    install(SIGHUP, record_hangup, SA_RESTART);
    install(SIGXCPU, record_hangup, SA_RESTART);
    install(SIGXFSZ, record_hangup, SA_RESTART);
}

void block_signal(int sig) {
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, sig);
    mask_change(SIG_BLOCK, &s, nullptr);
}

void unblock_signal(int sig) {
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, sig);
    mask_change(SIG_UNBLOCK, &s, nullptr);
}

void let_interrupts_through() {
    if (!shell.handle_interrupts || !interrupt_routine) return;
    unblock_signal(SIGINT);
    act_on_signals();
}

void hold_interrupts() {
    if (shell.handle_interrupts && interrupt_routine) block_signal(SIGINT);
}

void interrupt_routine_replaced() { interrupt_routine = false; }

void act_on_signals() {
    if (signal_records.hangup) hangup_action(signal_records.hangup);
    if (signal_records.child) {
        signal_records.child = 0;
        reap_children();
    }
    if (signal_records.interrupt && !interrupt_is_blocked()) {
        signal_records.interrupt = 0;
        interrupt_action(true);
    }
}

void wait_readable(int fd) {
    // The signals are held while the records are examined and let through only inside ppoll,
    // so that one arriving in between still wakes the wait.
    sigset_t hold, before;
    sigemptyset(&hold);
    for (int sig : {SIGINT, SIGCHLD, SIGHUP, SIGXCPU, SIGXFSZ}) sigaddset(&hold, sig);
    mask_change(SIG_BLOCK, &hold, &before);
    struct Restore {
        sigset_t mask;
        ~Restore() { mask_change(SIG_SETMASK, &mask, nullptr); }
    } restore{before};
    for (;;) {
        if (signal_records.hangup || signal_records.child ||
            (signal_records.interrupt && !sigismember(&before, SIGINT))) {
            mask_change(SIG_SETMASK, &before, nullptr);
            act_on_signals();
            mask_change(SIG_BLOCK, &hold, nullptr);
        }
        struct pollfd p {fd, POLLIN, 0};
        int r = ppoll(&p, 1, nullptr, &before);
        if (r > 0 || (r < 0 && errno != EINTR)) return;  // input, or an error for read to report
    }
}
