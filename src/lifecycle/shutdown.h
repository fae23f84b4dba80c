// Leaving the shell: the terminal handed back, the exit with the value of status.
#pragma once

/// Puts the shell back into the group it was started in and gives that group the terminal.
void give_back_terminal();
/// Hands the terminal back and ends the process at once, without flushing.
[[noreturn]] void exit_now(int status);
