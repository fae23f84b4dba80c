// Leaving the shell: the terminal handed back, the exit with the value of status.
#pragma once

/// Puts the shell back into the group it was started in and gives that group the terminal.
void give_back_terminal();
/// Hands the terminal back and ends the process at once, without flushing.
[[noreturn]] void exit_now(int status);
/// Writes the history file when savehist asks for it.
void save_history();
/// The end of a login shell: history saved, logout files read, exit with status.
[[noreturn]] void logout_sequence();
/// Ends the shell with the value of status (0 when unset; "Badly formed number" ends it with 1).
[[noreturn]] void exit_with_status();
