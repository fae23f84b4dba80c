// The signal mask of the shell, with a copy kept in memory: the shell changes its mask only
// through this, so reading it (as every recovery point does) costs no system call.
#pragma once

#include <csignal>
#include <initializer_list>

/// sigprocmask: changes the mask as asked (set may be null to only read it) and keeps the copy.
void mask_change(int how, const sigset_t* set, sigset_t* old);
/// The mask in force now.
sigset_t mask_now();
/// Blocks one signal.
void block_signal(int sig);
/// Unblocks one signal.
void unblock_signal(int sig);

/// Blocks some signals for its lifetime, then puts back the whole mask it found.
class SignalsBlocked {
  public:
    /// Blocks the signals named (none: only remembers the mask, for a change made later).
    explicit SignalsBlocked(std::initializer_list<int> signals) noexcept;
    /// Puts back the mask in force when the guard was made.
    ~SignalsBlocked();
    SignalsBlocked(const SignalsBlocked&) = delete;             ///< restores once
    SignalsBlocked& operator=(const SignalsBlocked&) = delete;  ///< restores once
    /// The mask in force before the guard blocked anything.
    const sigset_t& before() const noexcept { return before_; }
    /// Puts back this mask instead, on the way out.
    void put_back(const sigset_t& mask) noexcept { before_ = mask; }

  private:
    sigset_t before_;  ///< the mask to put back
};
