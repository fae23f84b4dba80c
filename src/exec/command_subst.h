// Command substitution: the output of backquoted commands turned into words.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/chars.h"

/// Runs the backquoted commands of word and appends the words of their output, with the text
/// around them joined on, to words: a large output is held once, in the caller's vector. literal
/// keeps blank lines and blanks (here documents).
void command_substitute(const CharString& word, bool literal, WordVector& words);
/// Runs the words [first, end) as a command line in a child and returns its exit status.
std::int32_t run_brace_command(const WordVector& words, std::size_t first, std::size_t end);
