// Command search: a program found along path and executed, scripts handed to a shell.
#pragma once

#include <optional>
#include <string>

#include "core/chars.h"
#include "parse/syntax_tree.h"

/// What a shared-memory child allocates for the search and still holds when it executes its
/// program or ends: kept in the shell's frame and released by the shell afterwards.
struct ChildScratch {
    std::string suffix;              ///< "/" and the command name
    std::string candidate;           ///< the path being tried
    CharString exec_path;            ///< the name reported when the search fails
    std::optional<ByteVector> argv;  ///< the argument vector of the execution
    std::string interpreter;         ///< the script fallback's interpreter path
};

/// Expands the command's words, searches path and executes the program; never returns.
[[noreturn]] void run_program(CommandNode& node, ChildScratch& scratch);
/// Writes the words on the diagnostic stream when the variable echo is set.
void echo_command(const WordVector& words);
/// The directories to try: path, unless the name has a slash or path has no words.
const WordVector& search_list(bool has_slash);
/// True for a directory of path that stands for the current one: "." or the empty word.
bool is_dot_or_empty(const CharString& d);
