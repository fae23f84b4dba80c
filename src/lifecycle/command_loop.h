// The read-execute loop, and the sourcing of files through it.
#pragma once

#include "core/chars.h"
#include "parse/syntax_tree.h"

struct LoopState {
    bool history_loading = false;     ///< lines are entered into the history list, never run
    bool source_in_progress = false;  ///< a file is being sourced
};
extern LoopState loop_state;

/// Nested inputs (sourced files and eval texts, one inside the other) read at once, at most.
/// Each holds a stretch of the stack, and a sourced file or an eval with descriptors set up
/// holds descriptors as well: deeper nesting is refused as the system refuses a descriptor when
/// its table is full ("Too many open files"), so that input that nests itself ends with a
/// message whatever the limits are and never overflows the stack.
inline constexpr int INPUT_NESTING_MAX = 100;

/// Counts one nested input for the life of the guard (across a fork too: a child's nesting
/// goes on from its parent's, on the same stack).
class NestedInput {
  public:
    NestedInput() noexcept;
    ~NestedInput();
    NestedInput(const NestedInput&) = delete;
    NestedInput& operator=(const NestedInput&) = delete;
};
/// Whether one more nested input would pass INPUT_NESTING_MAX.
bool input_nesting_full();

/// Reads and runs lines until the input is finished. With catch_errors the loop resumes after
/// an error; without, the error passes on to the caller's recovery point.
void run_command_loop(bool catch_errors);
/// Reads and runs the commands of a descriptor above 2 as nested input, then closes it.
void source_file(int fd, bool check_status, bool load_history);
/// Sources dir followed by name (which begins with "/") when it can be opened.
void source_home_file(const CharString& dir, const char* name);
/// Sources a start-up file of the system when it can be opened.
void source_system_file(const char* path);
/// The source builtin: source [-h] name.
void builtin_source(WordVector& words, CommandNode& node);
