// Command substitution: the output of backquoted commands turned into words.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/chars.h"

/// Runs the backquoted commands of word and returns the words of their output, with the text around
/// them joined on; literal keeps blank lines and blanks (here documents).
WordVector command_substitute(const CharString& word, bool literal);
/// Runs the words [first, end) as a command line in a child and returns its exit status.
std::int32_t run_brace_command(const WordVector& words, std::size_t first, std::size_t end);
