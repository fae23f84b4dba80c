// The mail check and the prompt, before a line is read from the terminal.
#pragma once

#include <ctime>

/// Time of the last mail check (0, or the start-up time in a login shell).
extern std::time_t mail_check_time;

/// Reports mailboxes named by mail that changed, at most once per interval.
void check_mail();
/// Prints the prompt ("? " while a loop is typed) and flushes the output.
void print_prompt();
