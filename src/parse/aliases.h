// Alias expansion: command words that name aliases are replaced by the aliases' text.
#pragma once

#include "input/word_list.h"

/// Expands every alias in command position of the line, again and again until none is left.
void expand_aliases(WordList& line);
