// The line being edited and the editing commands on it, apart from any terminal.
//
// The cursor is a byte offset at a character boundary (see text_display.h for what a character
// is). A word, for the word motions and Alt-d and Alt-Backspace, is a run of letters and digits
// (any character beyond ASCII counts as a letter in UTF-8); ^W kills back to a blank, as the
// terminal's own word-erase key does. Kills in a row add up: the next yank gives all of them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct EditLine {
    std::string text;
    std::size_t cursor = 0;
    bool utf8 = false;     ///< characters are UTF-8
    std::string killed;    ///< the last text killed, given back by yank
    bool killing = false;  ///< the last command killed: the next kill adds to killed
};

enum class EditOp {
    LEFT,
    RIGHT,
    WORD_LEFT,
    WORD_RIGHT,
    HOME,
    END,
    BACKSPACE,          ///< deletes the character before the cursor
    DELETE,             ///< deletes the character at the cursor
    KILL_TO_END,        ///< ^K
    KILL_LINE,          ///< ^U: the whole line
    KILL_TO_BLANK,      ///< ^W: back to the previous blank
    KILL_WORD_BACK,     ///< Alt-Backspace: back to the start of a word
    KILL_WORD_FORWARD,  ///< Alt-d: to the end of a word
    YANK,               ///< ^Y: inserts the last text killed
    TRANSPOSE,          ///< ^T: the character before the cursor with the one at it (at the end
                        ///< of the line, the two before it); the cursor moves past both
};

/// Applies one command. False when it has nothing to act on (the cursor at an end of the line,
/// nothing killed yet): the line is unchanged.
bool edit_apply(EditLine& line, EditOp op);
/// Inserts bytes at the cursor and moves the cursor past them.
void edit_insert(EditLine& line, std::string_view bytes);
/// Replaces the text and puts the cursor at its end.
void edit_set_text(EditLine& line, std::string_view text);
