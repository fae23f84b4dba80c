// File-name generation: backquoted commands, braces, a leading ~, and wildcard patterns
// matched against the file system.
//
// Quoted characters (QUOTE set) are never pattern characters: the file-system match sees them
// escaped with a backslash.
#pragma once

#include <optional>

#include "core/chars.h"
#include "core/errors.h"

/// Bits of glob_classify.
enum ExpansionKind : int {
    EXP_WILDCARD = 1,  ///< some word holds an unquoted *, ? or [
    EXP_SPECIAL = 2,   ///< some word begins with ~ or =, or holds an unquoted { or backquote
};

/// Modes of glob_one when a word expands to several.
enum GlobOneMode : int {
    ONE_AMBIGUOUS = 0,  ///< "Ambiguous"
    ONE_FIRST = 1,      ///< the first word
    ONE_JOIN = 2,       ///< all words joined with blanks
};

/// What file-name generation would have to do to the words (ExpansionKind bits).
int glob_classify(const WordVector& words);
/// Expands the words as glob_classify found (kind); nullopt when a pattern matched nothing.
/// The words that come back carry no quote marks.
std::optional<WordVector> glob_words(const WordVector& words, int kind);
/// Expands one word to exactly one ("No match"; several words as the mode says).
CharString glob_one(const CharString& word, int mode);
/// The arguments words[1...] after file-name generation when they need it, else copied without
/// quote marks; raises no_match when a pattern matches nothing.
WordVector glob_arguments(const WordVector& words, ErrorCode no_match);
/// A value as set, foreach, alias and the path import store it: file-name generation when it has
/// anything to expand ("No match" under the current name prefix when that yields nothing).
WordVector expand_value(WordVector value);

/// Command substitution, then (unless noglob is set) braces and a leading ~.
WordVector expand_special(const WordVector& words);
/// A word beginning with ~ with the home directory (of home, or of the named user) in place
/// of ~ and the name ("No $home variable set", "Unknown user: %s").
CharString tilde_expand(const CharString& word);
/// Matches the words against the file system, each word's names sorted, in word order;
/// nullopt when nothing matched.
std::optional<WordVector> system_glob(const WordVector& words);
