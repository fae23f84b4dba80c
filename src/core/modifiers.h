// The word modifiers shared by variable and history substitution.
#pragma once

#include <optional>

#include "core/chars.h"

/// The word changed by one modifier letter (h t r e q x), or nullopt when the letter does not
/// apply to it. A quoted / separates nothing.
std::optional<CharString> word_modifier(const CharString& word, int letter);
