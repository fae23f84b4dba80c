// Control flow: if, while, foreach, switch, goto and their partners are builtins that move
// around in the shell input by recording and restoring positions, and skip forward with one
// search that reads only the first word (sometimes two) of each line.
#pragma once

#include "core/chars.h"
#include "input/loop_stack.h"
#include "parse/syntax_tree.h"

/// Locates the ends of the active loops, then goes to the line after the label.
void goto_label(const CharString& label);

/// The commands.
void builtin_if(WordVector& words, CommandNode& node);
void builtin_else(WordVector& words, CommandNode& node);
void builtin_while(WordVector& words, CommandNode& node);
void builtin_foreach(WordVector& words, CommandNode& node);
void builtin_end(WordVector& words, CommandNode& node);
void builtin_continue(WordVector& words, CommandNode& node);
void builtin_break(WordVector& words, CommandNode& node);
void builtin_switch(WordVector& words, CommandNode& node);
void builtin_breaksw(WordVector& words, CommandNode& node);
void builtin_goto(WordVector& words, CommandNode& node);
void builtin_repeat(WordVector& words, CommandNode& node);
void builtin_exit(WordVector& words, CommandNode& node);
