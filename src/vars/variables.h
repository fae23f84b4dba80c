// The variable store: shell variables and aliases, each a word vector under a name.
//
// Names order as strings of signed 16-bit Chars (a quoted character below every plain one, a
// prefix before its extensions); each name occurs once. Stored values never carry quote marks.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string_view>

#include "core/chars.h"

/// Orders names as the shell does; also compares with plain byte names, for lookups by literal.
struct NameLess {
    using is_transparent = void;
    bool operator()(CharView a, CharView b) const noexcept { return a < b; }
    bool operator()(CharView a, std::string_view b) const noexcept;
    bool operator()(std::string_view a, CharView b) const noexcept;
};

using VariableTree = std::map<CharString, WordVector, NameLess>;

/// The shell variables.
extern VariableTree shell_variables;
/// The aliases.
extern VariableTree aliases;
/// Bumped by every change of the aliases: what was expanded under other ones is expanded again.
extern std::uint64_t aliases_generation;

/// The value of the named entry, or null when it is not set.
const WordVector* var_lookup(CharView name, const VariableTree& tree = shell_variables);
const WordVector* var_lookup(std::string_view name, const VariableTree& tree = shell_variables);
/// The first word of a shell variable; the empty string when unset or without words.
const CharString& var_value(CharView name);
const CharString& var_value(std::string_view name);

/// Stores a value as it is (quote marks cleared), replacing an existing one. The store never
/// expands: a caller that wants file-name generation on a value does it first.
void var_store(CharView name, WordVector value, VariableTree& tree);
/// Sets a shell variable to one word.
void var_set(CharView name, CharString word);
void var_set(std::string_view name, CharString word);
/// Sets a shell variable to one empty word.
void var_set_empty(CharView name);
/// Raises "Undefined variable" or "Subscript out of range" unless the shell variable has a word
/// index (from 1).
void var_check_element(CharView name, int index);
/// Replaces word index (from 1) of a shell variable by word (quote marks cleared), after the
/// checks of var_check_element.
void var_set_element(CharView name, int index, CharString word);
/// Removes the shell variable of exactly that name ("Undefined variable" when unset).
void var_unset(CharView name);
/// The first entry at or after from, in name order, whose name matches the pattern; end if none.
VariableTree::iterator var_find_match(const CharString& pattern, VariableTree& tree,
                                      VariableTree::iterator from);
/// Removes every entry whose name matches one of the patterns words[1..].
void var_unset_matching(const WordVector& words, VariableTree& tree);
/// Lists every entry in name order on the output stream: name, tab, value, newline.
void var_print_all(const VariableTree& tree);

/// Reads a signed 32-bit decimal number ("Badly formed number" with the name prefix).
std::int32_t parse_number(const CharString& word);
/// The decimal form of a number.
CharString format_number(std::int32_t n);
/// Writes the decimal form of a number into word, reusing its storage.
void format_number_into(CharString& word, std::int32_t n);

/// Sets status to a number.
void set_status(int n);
/// Sets status to 1, as after an error.
void set_status_after_error();
/// Ends the shell with the value of status (0 when unset; "Badly formed number" ends it with 1).
[[noreturn]] void exit_with_status();

/// A variable with a meaning to the shell: what setting or unsetting it does besides storing.
struct SpecialVariable {
    const char* name;
    void (*after_set)();    ///< run by set (and by @ for path) once the value is stored; or null
    void (*after_unset)();  ///< run by unset while the variable is not set; or null
};
/// Installs the table of variables with a meaning to the shell (start-up does, once).
void var_install_specials(std::span<const SpecialVariable> table);
/// The effects of setting a variable by set (path, histchars, user, term, home, filec, ...).
void var_after_set(CharView name);
/// The resets after unset of the variables that are no longer set (filec, histchars, ...).
void var_after_unset();

/// True while file-name completion is switched on (the variable filec).
extern bool filec_enabled;
/// True while the line editor is switched on (the variable edit).
extern bool edit_enabled;
