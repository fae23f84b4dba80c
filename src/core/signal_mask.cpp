#include "core/signal_mask.h"

namespace {
// The mask in force; valid from the first change on. A child made by fork has its own copy; a
// child that borrows the shell's memory changes it, and the shell sets its whole mask again
// when the child is done.
sigset_t current;
bool known = false;
}  // namespace

void mask_change(int how, const sigset_t* set, sigset_t* old) {
    if (!known) {
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
    sigprocmask(SIG_SETMASK, &next, nullptr);
    current = next;
}
