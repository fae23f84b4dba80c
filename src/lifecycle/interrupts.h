// What the shell does on an interrupt and on a hang-up.
#pragma once

#include <optional>

#include "core/chars.h"

/// Abandons what the shell is doing and goes back to the prompt (or to the onintr label).
[[noreturn]] void interrupt_action(bool want_newline);
/// Saves the history, hangs up the foreground jobs and ends with the signal number.
[[noreturn]] void hangup_action(int sig);
