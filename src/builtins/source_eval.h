// Reading nested input: source and eval.
#pragma once

#include "core/chars.h"
#include "parse/syntax_tree.h"

/// source [-h] name: runs the commands of a file (with -h enters its lines into the history).
void builtin_source(WordVector& words, CommandNode& node);
/// eval word ...: runs the words as shell input; an error inside ends it silently with status 1.
void builtin_eval(WordVector& words, CommandNode& node);
