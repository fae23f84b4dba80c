// Command search: a program found along path and executed, scripts handed to a shell, and the
// builtins that work on the search.
#pragma once

#include <optional>
#include <string>

#include "core/chars.h"
#include "parse/syntax_tree.h"

/// What a shared-memory child allocates for the search and still holds when it executes its
/// program or ends: kept in the shell's frame and released by the shell afterwards.
struct ChildScratch {
    std::string suffix;                  ///< "/" and the command name
    std::string candidate;               ///< the path being tried
    CharString exec_path;                ///< the name reported when the search fails
    std::optional<ByteVector> argv;      ///< the argument vector of the execution
    std::string interpreter;             ///< the script fallback's interpreter path
};

/// Expands the command's words, searches path and executes the program; never returns.
[[noreturn]] void run_program(CommandNode& node, ChildScratch& scratch);
/// Writes the words on the diagnostic stream when the variable echo is set.
void echo_command(const WordVector& words);

/// rehash, unhash, hashstat, exec and which.
void builtin_rehash(WordVector& words, CommandNode& node);
void builtin_unhash(WordVector& words, CommandNode& node);
void builtin_hashstat(WordVector& words, CommandNode& node);
void builtin_exec(WordVector& words, CommandNode& node);
void builtin_which(WordVector& words, CommandNode& node);
