// The terminal handed back and forth between the shell and the group it was started in, and
// the immediate end of the process.
#pragma once

/// Puts the shell back into the group it was started in and gives that group the terminal.
void give_back_terminal();
/// Makes the shell's own process group the terminal's foreground group again, when it has one.
void reclaim_terminal();
/// Hands the terminal back and ends the process at once with the status, without flushing.
[[noreturn]] void exit_now(int status);
