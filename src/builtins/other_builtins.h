// The remaining builtins: writing words (echo, linedit, glob), eval, the interrupt and hang-up
// dispositions (onintr, nohup), leaving the shell (suspend, login, logout), the memory report
// (alloc) and the argument handling of printf.
#pragma once

#include "core/chars.h"
#include "parse/syntax_tree.h"

/// echo [-n] word ...: the words with blanks between them and a newline (none after -n).
void builtin_echo(WordVector& words, CommandNode& node);
/// glob word ...: the expanded words separated by NUL bytes, with no final separator.
void builtin_glob(WordVector& words, CommandNode& node);
/// onintr [-|label]: default interrupt handling, interrupts ignored, or a jump to the label.
void builtin_onintr(WordVector& words, CommandNode& node);
/// nohup without a command: a script ignores hang-ups from now on.
void builtin_nohup(WordVector& words, CommandNode& node);
/// suspend: stops the shell until it is continued and has the terminal again.
void builtin_suspend(WordVector& words, CommandNode& node);
/// logout: ends a login shell as at the end of its input.
void builtin_logout(WordVector& words, CommandNode& node);
/// login [user]: replaces a login shell by the system's login program.
void builtin_login(WordVector& words, CommandNode& node);
/// alloc: reports the extent of the shell's memory area.
void builtin_alloc(WordVector& words, CommandNode& node);
/// printf format [arg ...]: file-name generation on the words, then the formatter; a failure
/// ends the command with status 1 and no further message.
void builtin_printf(WordVector& words, CommandNode& node);
