// Signal handling. Everything a signal handler touches lives in this file: the handlers run
// only in the shell's own process, record what arrived and return; ordinary code acts on the
// records at safe points (reading input, waiting for children, long builtins) through the
// actions start-up registers.
#pragma once

#include <csignal>

/// Written by the handlers, read and cleared by ordinary code.
struct SignalRecords {
    volatile sig_atomic_t interrupt = 0;  ///< SIGINT arrived
    volatile sig_atomic_t child = 0;      ///< SIGCHLD arrived
    volatile sig_atomic_t hangup = 0;     ///< the number of a hang-up signal that arrived
    volatile sig_atomic_t window = 0;     ///< SIGWINCH arrived (for the line editor to act on)
    volatile pid_t owner = 0;             ///< the shell's own pid; other processes ignore signals
};
extern SignalRecords signal_records;

/// What the shell does about a recorded signal, at a safe point. Start-up fills them in; an
/// action left empty leaves its record alone.
struct SignalActions {
    void (*interrupt)(bool want_newline) = nullptr;  ///< does not return
    void (*child)() = nullptr;                       ///< collects the children's statuses
    void (*hangup)(int sig) = nullptr;               ///< does not return
};
extern SignalActions signal_actions;

/// Records the shell's pid for the handlers; run at start-up and in every forked child.
void signals_init();
/// Catches SIGINT into the record (system calls are not restarted).
void install_interrupt_handler();
/// Notes that SIGINT no longer goes to the shell's routine (a child, or onintr changed it).
void interrupt_routine_replaced();
/// Catches SIGCHLD into the record.
void install_child_handler();
/// Catches SIGHUP, SIGXCPU and SIGXFSZ into the record (a login shell).
void install_hangup_handlers();
/// Catches SIGWINCH into the record (once the line editor runs).
void install_window_handler();

/// Lets SIGINT through (when the shell handles interrupts) and acts on one already recorded.
void let_interrupts_through();
/// Blocks SIGINT again (when the shell handles interrupts).
void hold_interrupts();
/// A safe point: acts on recorded signals (a hang-up, the children, an interrupt while SIGINT
/// is let through). May not return (an interrupt unwinds).
void act_on_signals();
/// Waits until fd has input (or an error to report), acting on signals meanwhile.
void wait_readable(int fd);

/// What wait_input saw.
enum class InputWait { READABLE, TIMED_OUT, SIGNALED };
/// Waits until fd has input (or an error to report), or for timeout_ms (-1: no limit), or until a
/// signal is recorded that act_on_signals would act on (or, with `window`, SIGWINCH): acts on
/// none, so that the caller can prepare for what act_on_signals may do.
InputWait wait_input(int fd, int timeout_ms, bool window);
