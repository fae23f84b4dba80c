// The builtin commands: the sorted table, the lookup of a command word and the dispatch.
#pragma once

#include "exec/builtin_entry.h"

/// The table, sorted by byte order of name, and its length.
extern const BuiltinEntry* const builtin_table;
extern const int builtin_count;

/// The entry for the node's first word: a label, a %job word, or a row of the table; null when
/// the command is not a builtin. A %job word followed by & loses the node's background flag.
const BuiltinEntry* find_builtin(CommandNode& node);
/// Checks the argument count and runs the builtin.
void run_builtin(CommandNode& node, const BuiltinEntry& entry);
/// A builtin that does nothing (case, default, endif, endsw and labels).
void noop_builtin(WordVector& words, CommandNode& node);
