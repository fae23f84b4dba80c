// How the line editor's text looks on the screen: its characters, their widths, and where each
// lands on a terminal of a given width once the lines wrap.
//
// The text is bytes. With `utf8` (the locale's character set is UTF-8) a valid UTF-8 character
// and the zero-width characters that follow it (combining marks) are one character; any other
// byte is a character of its own. A character the terminal cannot show as it is (a control
// character, a byte that is no character of the locale) is shown in the shell's visible form,
// "^X" or "M-x", and takes as many columns.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

/// One character of the text as shown.
struct TextCell {
    std::size_t length = 0;     ///< bytes of the text
    int width = 0;              ///< columns on the screen (0 to 2, more for a visible form)
    std::string shown;          ///< what is written to show it
    bool visible_form = false;  ///< shown as several one-column characters, which wrap apart
};

/// The character at text[pos] (pos < text.size()).
TextCell text_cell(std::string_view text, std::size_t pos, bool utf8);
/// The offset of the character after the one at pos.
std::size_t text_next(std::string_view text, std::size_t pos, bool utf8);
/// The offset of the character before pos (0 at the start).
std::size_t text_previous(std::string_view text, std::size_t pos, bool utf8);
/// The columns text takes on one long line.
int text_width(std::string_view text, bool utf8);
/// The columns of a prompt: as text_width, but control sequences (escape, "[", parameters, final
/// byte) take none, so that a prompt may set colours.
int prompt_width(std::string_view prompt, bool utf8);
/// A byte in the visible form ("^X", "M-x", "M-^X", or the byte itself).
std::string visible_byte(unsigned char c);

/// A place on the screen, counted from the row of the start of the prompt and column 0.
struct ScreenPos {
    int row = 0;
    int col = 0;
    bool operator==(const ScreenPos&) const = default;
};

/// Where the next character goes after one of `width` columns (0 to 2) written at p, on a
/// terminal of `columns` columns: a wide character that does not fit on the row goes whole to
/// the next one, and a row filled to its last column continues on the next. The col of a result
/// is always below columns.
ScreenPos screen_advance(ScreenPos p, int width, int columns);
/// screen_advance for a whole cell (a visible form wraps column by column).
ScreenPos screen_advance(ScreenPos p, const TextCell& cell, int columns);
/// Where text[0, end) ends when written from `start`.
ScreenPos screen_end(ScreenPos start, std::string_view text, std::size_t end, bool utf8,
                     int columns);
