// The parser: turns the words of one line into a tree of commands.
//
// A recursive descent over six levels, loosest first: & (background), ; and newline (sequence),
// ||, &&, | (pipeline), and the simple command or parenthesised group with its redirections.
// Each level splits its range at its first operator word at parenthesis depth 0. Only the first
// character of a word decides what it is, so a quoted character is never an operator. Syntax
// errors never stop the parse: they are recorded with error_defer, and the caller reports the
// first one and discards the tree unrun.
#pragma once

#include "input/word_list.h"
#include "parse/syntax_tree.h"

/// Context bits passed down the levels; the top level passes 0.
enum ParseContext : int {
    PARSE_IN_PARENS = 1,  ///< inside a parenthesised group: no << allowed
    PARSE_PIPE_IN = 2,    ///< right of a pipe: no input redirection allowed
    PARSE_PIPE_OUT = 4,   ///< left of a pipe
    PARSE_PIPE_DIAG = 8,  ///< left of a |& pipe
};

/// Groups nested deeper than this are refused with "Too many ('s"; no such group could run
/// (subshells fork, and fork nesting stops at 16), and the bound keeps the recursion shallow.
inline constexpr int MAX_GROUP_NESTING = 256;

/// Parses the words [first, end) of a list. Leading words beginning with ;, & or a newline are
/// skipped; nothing else gives null. Errors are deferred (errors.pending_error).
CommandTree parse_commands(LexWord* first, LexWord* end, int context);
