// The entry point of the shell.
#pragma once

/// Starts the shell with the process arguments; does not return normally.
int shell_main(int argc, char** argv);
