// The directory-stack commands.
#pragma once

#include "core/chars.h"
#include "parse/syntax_tree.h"

/// cd and chdir [-lvn] [dir|+n]: replace the current directory.
void builtin_cd(WordVector& words, CommandNode& node);
/// pushd [-lvn] [dir|+n]: push a directory, exchange the top two, or rotate the stack.
void builtin_pushd(WordVector& words, CommandNode& node);
/// popd [-lvn] [+n]: drop the current directory, or the entry n below it.
void builtin_popd(WordVector& words, CommandNode& node);
/// dirs [-lvn]: list the stack.
void builtin_dirs(WordVector& words, CommandNode& node);
