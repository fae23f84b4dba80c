// What the executor knows of a builtin command: one row of the builtin table.
#pragma once

#include <cstdint>

#include "core/chars.h"
#include "parse/syntax_tree.h"

/// A builtin's function: the command's words (word 0 its name) and its node.
using BuiltinFunction = void (*)(WordVector& words, CommandNode& node);

/// What the executor must know of a builtin beyond its name: bits of BuiltinEntry::properties.
enum BuiltinProperty : std::uint8_t {
    BUILTIN_SCRIPTING = 0x01,      ///< still runs under -n: part of the scripting language
    BUILTIN_CHANGES_DIR = 0x02,    ///< changes the shell's directory: nice does not fork it
    BUILTIN_TAKES_STD_FDS = 0x04,  ///< works on 0, 1 and 2 itself (exec, if, repeat, login)
    BUILTIN_FORKS_IN_PIPE = 0x08,  ///< runs in a child of its own in a pipeline (eval)
};

/// One row of the table.
struct BuiltinEntry {
    const char* name;
    BuiltinFunction perform;
    std::int16_t min_args;
    std::int16_t max_args;
    std::uint8_t properties = 0;  ///< BuiltinProperty bits

    /// True when the row has the property.
    bool has(BuiltinProperty p) const { return (properties & p) != 0; }
};

inline constexpr std::int16_t ARGS_UNLIMITED = 1000;
