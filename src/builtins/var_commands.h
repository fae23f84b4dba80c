// The commands that assign, compute, remove and shift shell variables.
#pragma once

#include "core/chars.h"
#include "parse/syntax_tree.h"

/// A name of more than this many characters is refused by set and @.
inline constexpr std::size_t MAX_VAR_NAME = 30;

void builtin_set(WordVector& words, CommandNode& node);
void builtin_at(WordVector& words, CommandNode& node);
void builtin_unset(WordVector& words, CommandNode& node);
void builtin_shift(WordVector& words, CommandNode& node);
void builtin_setenv(WordVector& words, CommandNode& node);
void builtin_unsetenv(WordVector& words, CommandNode& node);
