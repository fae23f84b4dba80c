// The shell's own pattern matcher (switch, =~ and !~, unset and unalias patterns, kill %?text)
// and brace expansion, which both file-name generation and the matcher use.
//
// Quoted characters (QUOTE set) are never pattern characters: they compare literally.
#pragma once

#include "core/chars.h"

/// True for the words { and {}, which stand for themselves: they are never brace groups.
bool is_lone_brace(CharView w);
/// True when a word holds a brace group to expand.
bool has_brace_group(CharView w);
/// Replaces each word holding a brace group by its alternatives, in order ("Missing }",
/// "Missing ]"). The words are left as they were when it raises.
void brace_expand(WordVector& words);
/// True when the string matches the pattern (a leading ^, braces, *, ?, [...]); "Missing ]"
/// under the current name prefix for a list without its ].
bool pattern_match(CharView string, CharView pattern);
