// Characters, strings and word vectors.
//
// Every piece of shell text is a string of 16-bit Chars: the low byte is the character, the top
// bit (QUOTE) records that it was quoted. A Char compares as a signed 16-bit number, so a quoted
// character is negative and sorts below every plain one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

using Char = std::int16_t;

/// The quote mark of a Char and the mask that removes it.
inline constexpr int QUOTE = 0x8000;
inline constexpr int TRIM = 0x7fff;

/// A Char with the quote mark set (the marker put before alias words is quoted(0)).
constexpr Char quoted(int c) {
    return static_cast<Char>(c | QUOTE);
}
/// True when the Char carries the quote mark.
constexpr bool is_quoted(Char c) {
    return c < 0;
}
/// The character without its quote mark.
constexpr int trim(Char c) {
    return c & TRIM;
}
/// The byte held by a Char.
constexpr unsigned char low_byte(Char c) {
    return static_cast<unsigned char>(c & 0xff);
}

/// Character traits for Char: plain values, compared as signed 16-bit numbers.
struct CharTraits {
    using char_type = Char;
    using int_type = int;
    using off_type = std::streamoff;
    using pos_type = std::streampos;
    using state_type = std::mbstate_t;

    static constexpr void assign(char_type& r, const char_type& a) noexcept { r = a; }
    static constexpr bool eq(char_type a, char_type b) noexcept { return a == b; }
    static constexpr bool lt(char_type a, char_type b) noexcept { return a < b; }
    static constexpr int compare(const char_type* a, const char_type* b, std::size_t n) noexcept {
        for (std::size_t i = 0; i < n; ++i) {
            if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
        }
        return 0;
    }
    static constexpr std::size_t length(const char_type* s) noexcept {
        std::size_t n = 0;
        while (s[n] != 0) ++n;
        return n;
    }
    static constexpr const char_type* find(const char_type* s, std::size_t n,
                                           const char_type& a) noexcept {
        for (std::size_t i = 0; i < n; ++i) {
            if (s[i] == a) return s + i;
        }
        return nullptr;
    }
    static char_type* move(char_type* d, const char_type* s, std::size_t n) noexcept {
        if (n) std::memmove(d, s, n * sizeof(char_type));
        return d;
    }
    static char_type* copy(char_type* d, const char_type* s, std::size_t n) noexcept {
        if (n) std::memcpy(d, s, n * sizeof(char_type));
        return d;
    }
    static char_type* assign(char_type* s, std::size_t n, char_type a) noexcept {
        for (std::size_t i = 0; i < n; ++i) s[i] = a;
        return s;
    }
    static constexpr int_type eof() noexcept { return 0x10000; }
    static constexpr int_type not_eof(int_type c) noexcept { return c == eof() ? 0 : c; }
    static constexpr char_type to_char_type(int_type c) noexcept { return static_cast<Char>(c); }
    static constexpr int_type to_int_type(char_type c) noexcept { return c; }
    static constexpr bool eq_int_type(int_type a, int_type b) noexcept { return a == b; }
};

/// A string of Chars; owns its memory.
using CharString = std::basic_string<Char, CharTraits>;
using CharView = std::basic_string_view<Char, CharTraits>;
/// A list of words; owns every word.
using WordVector = std::vector<CharString>;

// ---- Character classes ----------------------------------------------------------------------

enum CharClassBits : unsigned {
    CC_QUOTE = 0x0001,      ///< " and '
    CC_BACKQUOTE = 0x0002,  ///< `
    CC_BLANK = 0x0004,      ///< blank, tab, no-break space
    CC_NEWLINE = 0x0008,    ///< newline
    CC_META = 0x0010,       ///< blank tab newline # & ( ) ; < > | `
    CC_GLOB = 0x0020,       ///< * ? [ { `
    CC_ESCAPE = 0x0040,     ///< backslash
    CC_DOLLAR = 0x0080,     ///< $
    CC_DIGIT = 0x0100,
    CC_LETTER = 0x0200,
    CC_UPPER = 0x0400,
    CC_LOWER = 0x0800,
    CC_HEX = 0x1000,
    CC_SEPARATOR = 0x2000,
    CC_CONTROL = 0x4000,
};

/// The 256-entry class table, indexed by the low byte of a character.
extern const std::uint16_t CharClass[256];

/// True when c carries no quote mark and its class entry has one of the given bits.
inline bool char_is(Char c, unsigned bits) {
    return c >= 0 && (CharClass[c & 0xff] & bits) != 0;
}

// ---- Locale-aware classification ------------------------------------------------------------

/// Re-reads the locale's single-byte limit; run after every setlocale.
void locale_changed();
/// Bytes below this are single-byte characters of the current locale.
int locale_sb_limit();
/// Decimal digit test of an unquoted Char: the digits are 0 to 9 in every locale.
inline bool char_is_digit(Char c) {
    return c >= '0' && c <= '9';
}
/// Locale letter test of an unquoted Char below the single-byte limit.
bool char_is_alpha(Char c);
/// Locale letter-or-digit test of an unquoted Char below the single-byte limit.
bool char_is_alnum(Char c);
/// Locale printable test of a byte.
bool byte_is_print(unsigned char c);

// ---- Char string operations on terminated buffers ------------------------------------------

/// Copies at most n Chars of src, padding with 0 when src is shorter; no terminator is added
/// when src has n or more Chars.
Char* str_copy_n(Char* dst, const Char* src, std::size_t n);
/// -1 / 1 when a or b ends first, else the signed difference of the first differing Chars.
int str_cmp(const Char* a, const Char* b);
/// As str_cmp over at most n Chars.
int str_ncmp(const Char* a, const Char* b, std::size_t n);
inline int str_cmp(const CharString& a, const CharString& b) {
    return str_cmp(a.c_str(), b.c_str());
}
/// True when the word is exactly the plain text: a quoted character never equals one of it.
inline bool equals(CharView word, std::string_view text) {
    if (word.size() != text.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (word[i] != static_cast<unsigned char>(text[i])) return false;
    }
    return true;
}
/// True when every Char of a equals the Char at the same place of b (quote marks included).
bool str_is_prefix(const CharString& a, const CharString& b);
/// Clears the quote mark of every Char in place.
void str_strip(CharString& s);
/// The last Char, or 0 for the empty string.
inline Char str_last_char(const CharString& s) {
    return s.empty() ? 0 : s.back();
}
/// Optional minus, then only unquoted locale digits; the empty string counts as a number.
bool str_is_number(const CharString& s);
/// True when the byte occurs in the string.
inline bool bytes_contain(const char* s, char c) {
    return s && c && std::strchr(s, c);
}

// ---- Conversions ------------------------------------------------------------------------------

/// Widens a byte string (no quote marks).
CharString to_char_string(std::string_view bytes);
/// A byte string of the low bytes, in a scratch buffer valid until the next call.
const char* to_byte_string(const CharString& s);
const char* to_byte_string(CharView s);
/// The low bytes as a new string.
std::string to_bytes(CharView s);
/// Bytes with a backslash before every quoted Char, in a scratch buffer of its own.
const char* to_escaped_bytes(const CharString& s);
/// The printable (vis, no backslash) form of the low bytes, in a scratch buffer of its own.
const char* to_visible(const CharString& s);
const char* to_visible(CharView s);
/// Writes one Char: a quoted Char raw, otherwise in its visible form.
void put_char_visible(Char c, FILE* stream);
/// Widens every string of a null-terminated array.
WordVector to_char_vector(const char* const* v);

/// An argument or environment vector in byte form, ready for execve.
struct ByteVector {
    std::vector<std::string> strings;
    std::vector<char*> pointers;  ///< null-terminated, into strings
    explicit ByteVector(const WordVector& words);
    char* const* data() { return pointers.data(); }
};

// ---- Word vectors -----------------------------------------------------------------------------

/// Writes the words in visible form with one blank between them, no newline.
void vec_print(FILE* stream, const WordVector& v);
/// Drops the first n words (all of them when there are fewer).
void vec_drop_first(WordVector& v, std::size_t n);
/// Clears the quote marks of every word.
void clear_quote_marks(WordVector& words);

/// A CharString from a byte literal, for tables and tests.
inline CharString chars(std::string_view bytes) {
    return to_char_string(bytes);
}
