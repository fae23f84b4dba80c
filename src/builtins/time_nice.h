// The time and nice commands.
#pragma once

#include "core/chars.h"
#include "parse/syntax_tree.h"

/// time: the usage of the shell and its waited-for children since the start.
void builtin_time(WordVector& words, CommandNode& node);
/// nice [+n|-n]: sets the shell's own priority (4 without an argument).
void builtin_nice(WordVector& words, CommandNode& node);
