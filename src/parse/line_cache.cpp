#include "parse/line_cache.h"

#include "input/lexer.h"
#include "vars/variables.h"

const ParsedLine* cached_line(std::int64_t offset) {
    if (!input.parsed_lines) return nullptr;
    const auto& lines = static_cast<const LineCache&>(*input.parsed_lines).lines;
    auto it = lines.find(offset);
    if (it == lines.end()) return nullptr;
    const ParsedLine& line = it->second;
    if (line.aliases_generation != aliases_generation || line.history_char != lexer.history_char ||
        line.quick_sub_char != lexer.quick_sub_char) {
        return nullptr;
    }
    return &line;
}

void cache_line(std::int64_t offset, ParsedLine line) {
    if (!input.parsed_lines) input.parsed_lines = std::make_unique<LineCache>();
    static_cast<LineCache&>(*input.parsed_lines).lines.insert_or_assign(offset, std::move(line));
}
