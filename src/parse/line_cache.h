// The parsed lines of a file or pipe input, kept with the input: a line read again (a loop body,
// the lines after a label that a goto returns to) is taken from here instead of being lexed,
// expanded for aliases and parsed again.
//
// An entry holds the line's bytes as they were read, and what its reading depended on besides
// them: the aliases and the history characters. It is used only when the input goes on with the
// same bytes (a script file may be changed while it runs) under the same aliases and history
// characters. What decides whether a line may be cached at all is the command loop's.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "input/input_buffer.h"
#include "parse/syntax_tree.h"

/// One line as it was read and parsed.
struct ParsedLine {
    std::string text;                         ///< the bytes read, the newline included
    std::shared_ptr<const CommandNode> tree;  ///< null for a line without a command
    std::uint64_t aliases_generation = 0;     ///< the aliases it was expanded under
    int history_char = 0;                     ///< the history characters it was read under
    int quick_sub_char = 0;
};

/// The parsed lines of one input, by the offset where each begins.
class LineCache : public InputAttachment {
  public:
    std::unordered_map<std::int64_t, ParsedLine> lines;
};

/// The current input's entry for the line beginning at offset, when it was made under the
/// aliases and history characters now in force; null otherwise.
const ParsedLine* cached_line(std::int64_t offset);
/// Keeps line as the current input's entry for offset, in place of any other.
void cache_line(std::int64_t offset, ParsedLine line);
