// The three places where the shell calls back up its own floors: the recursion at the heart of
// an interpreter. Expansion runs commands (command substitution, { command } in expressions),
// the executor runs builtins, and builtins read nested input (eval, source, logout, login).
//
// Each is a hook that start-up fills in (wire_shell), so that every floor links only the floors
// below it. Everywhere else a floor calls only its own floor or lower ones.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/chars.h"

struct BuiltinEntry;
struct CommandNode;

/// The hooks of the three recursion points.
struct Reentry {
    // Expansion runs commands.
    /// Runs the backquoted commands of a word and appends the words of their output to words.
    void (*command_substitute)(const CharString& word, bool literal, WordVector& words) = nullptr;
    /// Runs words [first, end) as a command line in a child and returns its exit status.
    std::int32_t (*run_brace_command)(const WordVector& words, std::size_t first,
                                      std::size_t end) = nullptr;

    // The executor runs builtins.
    /// The builtin named by the node's first word, or null.
    const BuiltinEntry* (*find_builtin)(CommandNode& node) = nullptr;
    /// Checks the argument count and runs the builtin.
    void (*run_builtin)(CommandNode& node, const BuiltinEntry& entry) = nullptr;

    // Builtins read nested input.
    /// Reads and runs lines until the input is finished (see lifecycle/command_loop).
    void (*run_command_loop)(bool catch_errors) = nullptr;
    /// Reads and runs the commands of a descriptor as nested input, then closes it.
    void (*source_file)(int fd, bool check_status, bool load_history) = nullptr;
    /// The end of a login shell; does not return.
    void (*logout_sequence)() = nullptr;
};
inline Reentry reentry;
