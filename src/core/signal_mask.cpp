#include "core/signal_mask.h"

#include <cstring>

namespace {
// The mask in force; valid from the first change on. A child made by fork has its own copy; a
// child that borrows the shell's memory changes it, and the shell sets its whole mask again
// when the child is done.
sigset_t current;
bool known = false;

// Both sets are built from empty sets by the calls here, so the bytes beyond the signals the
// system has are 0 in both.
bool same(const sigset_t& a, const sigset_t& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}
}  // namespace

void mask_change(int how, const sigset_t* set, sigset_t* old) {
    if (!known) {
        sigemptyset(&current);
        sigprocmask(SIG_BLOCK, nullptr, &current);
        known = true;
    }
    if (old) *old = current;
    if (!set) return;
    sigset_t next = current;
    switch (how) {
        case SIG_BLOCK:
            sigorset(&next, &current, set);
            break;
        case SIG_UNBLOCK:
            for (int sig = 1; sig < NSIG; ++sig) {
                if (sigismember(set, sig) == 1) sigdelset(&next, sig);
            }
            break;
        default:
            next = *set;
            break;
    }
    sigdelset(&next, SIGKILL);
    sigdelset(&next, SIGSTOP);
    if (same(next, current)) return;
    sigprocmask(SIG_SETMASK, &next, nullptr);
    current = next;
}

sigset_t mask_now() {
    sigset_t now;
    mask_change(SIG_BLOCK, nullptr, &now);
    return now;
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

SignalsBlocked::SignalsBlocked(std::initializer_list<int> signals) noexcept {
    sigset_t s;
    sigemptyset(&s);
    for (int sig : signals) sigaddset(&s, sig);
    mask_change(SIG_BLOCK, &s, &before_);
}

SignalsBlocked::~SignalsBlocked() {
    mask_change(SIG_SETMASK, &before_, nullptr);
}
