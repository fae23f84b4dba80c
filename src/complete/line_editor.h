// The line editor: lines typed at the terminal are edited with the keys users of other
// interactive shells type by habit, recalled from the history list, searched for and completed.
//
// It runs while the variable edit is set and the shell's input and output are terminals. For
// each line it sets the terminal modes it needs (no canonical mode, no echo, no flow control;
// signals from the keyboard still go to the shell) and puts back the modes of the user's
// programs before the line goes to the shell: the modes the terminal had at the last line that
// found it in canonical mode, so that a program that left the terminal raw does not leave it so.
// It reads a byte at a time, so that keys typed after Enter stay in the terminal for whoever
// reads next. The screen is driven with the control sequences every common terminal knows
// (cursor up, down, left, right, erase to the end of the screen).
//
// Why an editor of the shell's own and not libedit loaded when the editor starts: neither costs
// a script anything at start-up (orv -c '' runs 410,833 instructions with this editor linked in,
// 411,033 without it; the editor's 65 KB of code are never paged in). Loading libedit with the
// libraries it needs costs 547,000 instructions before its first line, more than the shell's
// whole start-up, and it would keep a history list of its own beside the shell's, which every
// line would have to copy across; its completion would call back into this floor's completion
// anyway, and it catches signals itself, where this shell's handlers only record them and
// notices are printed at safe points.
#pragma once

#include <string_view>

#include "core/chars.h"

/// Reads one line typed at the terminal into buffer (size Chars, one per byte) and returns its
/// length (the last Char a newline, unless the line fills the buffer: the rest comes with the
/// next call), 0 at the end of the input, < 0 on an error. The editor reads it when edit is set
/// and the shell's input and output are terminals; otherwise the filec reader, or with filec
/// unset, one read of the input. An interrupt unwinds, the terminal modes put back.
int read_terminal_line(Char* buffer, int size);

/// Sets the editor's terminal modes now when the editor reads the next line, so that keys typed
/// as soon as the prompt shows come to the editor as they were typed: the terminal's line mode
/// would echo them and turn a ^D into a NUL byte. The user's modes come back when the line is read.
void line_editor_before_prompt();

/// Notes the prompt just printed for the next line, which the editor prints again whenever it
/// redraws the line. A line read without a prompt noted (a here document) has none.
void line_editor_note_prompt(std::string_view prompt);

/// Takes the line being edited off the screen for a message printed while the editor waits for
/// a key (a job notice): true when it did, leaving the cursor at the start of an empty row. The
/// editor draws the line again below the message.
bool line_editor_clear();
