// The remaining builtins: writing words (echo, linedit, glob), eval, and aliases.
#pragma once

#include "core/chars.h"
#include "parse/syntax_tree.h"

void builtin_echo(WordVector& words, CommandNode& node);
void builtin_glob(WordVector& words, CommandNode& node);
void builtin_eval(WordVector& words, CommandNode& node);
