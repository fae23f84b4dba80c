// The alias commands and the history listing.
#pragma once

#include "core/chars.h"
#include "parse/syntax_tree.h"

/// alias [name [word ...]]: lists every alias, shows one, or defines one.
void builtin_alias(WordVector& words, CommandNode& node);
/// unalias pattern ...: removes every alias whose name matches a pattern.
void builtin_unalias(WordVector& words, CommandNode& node);
/// history [-rh] [n]: lists the n most recent events (n from the variable history by default),
/// oldest first; every listing counts as a use of every event.
void builtin_history(WordVector& words, CommandNode& node);
