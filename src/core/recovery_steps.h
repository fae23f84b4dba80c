// The steps of error recovery that reset state owned by other subsystems. error_raise runs
// them in this order; each is defined by the module that owns the state.
#pragma once

/// Detaches and frees the word vectors of command substitution and file-name generation.
void discard_expansion_vectors();
/// Throws away all pending input (the rest of a script, the typed-ahead line, loops).
void input_to_eof();
/// Sets the shell variable status to 1.
void set_status_after_error();
/// Makes the shell's own process group the terminal's foreground group again, when it has one.
void reclaim_terminal();
/// Hands the terminal back and ends the process at once with the status.
[[noreturn]] void exit_now(int status);
