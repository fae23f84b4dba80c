// Variable substitution: the words of a command read as one character stream, quotes
// interpreted and removed (every character they protected marked QUOTE), $ constructs replaced
// by values with their subscripts and modifiers, and the resulting words collected. Every error
// here is immediate.
#pragma once

#include <optional>

#include "core/chars.h"
#include "parse/syntax_tree.h"

/// What subst_get_char returns after the last character of its input.
inline constexpr int SUBST_END = -1;
/// Characters of a variable name in a $ construct, at most.
inline constexpr std::size_t VAR_NAME_ROOM = 30;

/// Substitutes the words of a simple command in place when one of them holds an unquoted $,
/// quote, backquote or backslash; does nothing under -n.
void substitute_command_words(CommandNode& node);
/// The words that substitution makes of the given ones.
WordVector substitute_words(const WordVector& words);
/// The one word that substitution makes of word ("Ambiguous" under the word's name when it
/// makes none or several); nullopt under -n.
std::optional<CharString> substitute_one_word(const CharString& word);

/// Starts reading words through subst_get_char, with every pushback and value cleared. The
/// words must stay alive until SUBST_END has been read.
void subst_begin(const WordVector& words);
/// Lets go of the words and frees the values of the last substitution.
void subst_end();

/// Reads words through subst_get_char for its lifetime; frees what the reading held on every
/// way out.
class SubstReader {
  public:
    explicit SubstReader(const WordVector& words) { subst_begin(words); }
    ~SubstReader() { subst_end(); }
    SubstReader(const SubstReader&) = delete;             ///< one reading at a time
    SubstReader& operator=(const SubstReader&) = delete;  ///< one reading at a time
};
/// The next character of the substitution stream (QUOTE possibly set; SUBST_END at the end),
/// with $ constructs replaced by their values when expand_dollar is set.
int subst_get_char(bool expand_dollar);
/// Pushes one character back in front of every source of subst_get_char.
void subst_unget_char(int c);
