// The commands that work on the command search: rehash, unhash, hashstat, exec and which.
#pragma once

#include "core/chars.h"
#include "parse/syntax_tree.h"

void builtin_rehash(WordVector& words, CommandNode& node);
void builtin_unhash(WordVector& words, CommandNode& node);
void builtin_hashstat(WordVector& words, CommandNode& node);
void builtin_exec(WordVector& words, CommandNode& node);
void builtin_which(WordVector& words, CommandNode& node);
