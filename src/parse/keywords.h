// The keywords of the scripting commands: the words that the control-flow search recognises at
// the start of a line and that put a command into keyword form for the parser.
#pragma once

#include <array>
#include <cstdint>

#include "core/chars.h"

/// The code of each keyword; a search started by a keyword takes its code as the search kind.
enum KeywordCode : std::uint16_t {
    KW_BREAK = 0,
    KW_BREAKSW = 1,
    KW_CASE = 2,
    KW_DEFAULT = 3,
    KW_ELSE = 4,
    KW_END = 5,
    KW_ENDIF = 6,
    KW_ENDSW = 7,
    KW_EXIT = 8,
    KW_FOREACH = 9,
    KW_GOTO = 10,
    KW_IF = 11,
    KW_LABEL = 12,
    KW_AT = 13,  ///< @
    KW_SET = 14,
    KW_SWITCH = 15,
    KW_WHILE = 18,
};

/// One row of the keyword table.
struct KeywordEntry {
    const char* name;
    std::uint16_t code;
};

/// The keywords, sorted in byte order of their names (searched by halving).
inline constexpr std::array<KeywordEntry, 17> keyword_table{{
    {"@", KW_AT},
    {"break", KW_BREAK},
    {"breaksw", KW_BREAKSW},
    {"case", KW_CASE},
    {"default", KW_DEFAULT},
    {"else", KW_ELSE},
    {"end", KW_END},
    {"endif", KW_ENDIF},
    {"endsw", KW_ENDSW},
    {"exit", KW_EXIT},
    {"foreach", KW_FOREACH},
    {"goto", KW_GOTO},
    {"if", KW_IF},
    {"label", KW_LABEL},
    {"set", KW_SET},
    {"switch", KW_SWITCH},
    {"while", KW_WHILE},
}};

/// The code of a keyword, or -1 when the word is none. A quoted character never matches.
int keyword_lookup(CharView word);
