// The read-execute loop, and the sourcing of files through it.
#pragma once

#include "core/chars.h"
#include "parse/syntax_tree.h"

/// What the end of the input at the descriptor means; returns only for the input to be read
/// again.
void end_of_input();
/// Reads and runs lines until the input is finished. With catch_errors the loop resumes after
/// an error; without, the error passes on to the caller's recovery point.
void run_command_loop(bool catch_errors);
/// Reads and runs the commands of a descriptor above 2 as nested input, then closes it.
void source_file(int fd, bool check_status, bool load_history);
/// Sources dir followed by name (which begins with "/") when it can be opened.
void source_home_file(const CharString& dir, const char* name);
/// Sources a start-up file of the system when it can be opened.
void source_system_file(const char* path);
