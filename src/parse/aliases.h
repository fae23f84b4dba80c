// Alias expansion: command words that name aliases are replaced by the aliases' text.
//
// The text of an alias is lexed like a typed line, so it may hold several commands and history
// references; these address the aliased command (!! the whole command, !* its arguments). After
// each replacement the line is scanned again from its start.
#pragma once

#include "input/word_list.h"

/// Scans of one line allowed before "Alias loop": at most 19 replacements complete a line.
inline constexpr int ALIAS_RESTARTS = 21;

/// Expands every alias in command position of the line, again and again until none is left;
/// returns whether history substitution took place in an alias's text. Does not return on an
/// error ("Alias loop", also for an alias met in input nested INPUT_NESTING_MAX deep; "Too many
/// )'s"; an error in an alias's text).
bool expand_aliases(WordList& line);
