// The entry point of the shell.
#pragma once

/// Starts the shell with the process arguments; does not return normally.
int shell_main(int argc, char** argv);
/// Connects the floors: fills in every hook through which a lower floor reaches what a higher
/// one does (signal actions, the clean-up after an error, ...). Run first of all.
void wire_shell();
