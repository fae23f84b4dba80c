// The keys of the line editor, decoded from the bytes a terminal sends.
//
// A key is one byte (a character or a control character), a UTF-8 character, Alt with a byte
// (escape, then the byte), or an escape sequence of the common terminals (xterm, VT100/220, the
// Linux console, screen and tmux, rxvt) for the arrows, Home, End, Delete and their variants.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The line editor's table of bindings follows this order.
enum class Key : std::uint8_t {
    NONE,     ///< a sequence of a key the editor has no use for (F1, Insert, ...)
    CHAR,     ///< a printable character: the key's bytes
    CONTROL,  ///< a control character (0 to 31, 127): byte
    ALT,      ///< escape followed by byte
    ESCAPE,   ///< escape on its own
    UP,
    DOWN,
    LEFT,
    RIGHT,
    WORD_LEFT,   ///< Control- or Alt-Left
    WORD_RIGHT,  ///< Control- or Alt-Right
    HOME,
    END,
    DELETE,
};

/// One decoded key and the number of bytes it took; length 0: the bytes are only the start of a
/// key, and more must be read to tell.
struct KeyPress {
    Key key = Key::NONE;
    unsigned char byte = 0;
    std::size_t length = 0;
};

/// Decodes the key at the start of bytes (not empty). With `utf8` a UTF-8 character is one key.
/// With `final` no more bytes are coming (the wait for them timed out): a lone escape is the
/// Escape key, a partial sequence is dropped whole (NONE) and a partial character is its first
/// byte.
KeyPress decode_key(std::string_view bytes, bool utf8, bool final);

/// The length of the UTF-8 character at the start of bytes (not empty): 2 to 4 for a whole, valid
/// character, else 1.
std::size_t utf8_length(std::string_view bytes);
/// The number of bytes a UTF-8 character that starts with `lead` has (1 for any other byte).
std::size_t utf8_expected_length(unsigned char lead);
