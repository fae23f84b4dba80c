// Command substitution: the output of backquoted commands turned into words.
#pragma once

#include "core/chars.h"

/// Runs the backquoted commands of word and returns the words of their output, with the text around
/// them joined on; literal keeps blank lines and blanks (here documents).
WordVector command_substitute(const CharString& word, bool literal);
