// The environment: the shell's own copy as Char words, the C library's environ kept equal to it,
// the coupling of PATH with the shell variable path, and the locale taken from the environment.
//
// Invariant: after every operation here, environ holds exactly the 8-bit form of env_words, in
// the same order, so that programs the shell starts inherit what the shell shows.
#pragma once

#include <optional>
#include <string_view>

#include "core/chars.h"

/// The environment as NAME=value words without quote marks, in order of addition.
extern WordVector env_words;

/// Takes the process environment at start-up as the shell's environment.
void env_init(char** envp);
/// Replaces the entry of exactly that name with name=value, or appends one.
void env_set(CharView name, CharView value);
void env_set(std::string_view name, CharView value);
/// Removes the entry of exactly that name, if there is one.
void env_unset(CharView name);
/// The value of an environment variable; empty when it is not set. Valid until the next change.
std::optional<CharView> env_lookup(CharView name);
std::optional<CharView> env_lookup(std::string_view name);

/// Sets PATH to the words of path joined with ":" (cut, with a warning, before 1023 characters).
void export_path(const WordVector& words);
/// The components of a PATH-style value ("." for empty ones), for the shell variable path.
WordVector path_components(CharView value);

/// True for the variables that choose the locale: LANG, LC_ALL, LC_CTYPE, LC_COLLATE.
bool is_locale_variable(CharView name);
/// Takes the locale afresh from the environment and re-reads what depends on it.
void locale_reinit();
