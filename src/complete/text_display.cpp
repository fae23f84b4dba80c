#include "complete/text_display.h"

#include <cwchar>

#include "complete/keys.h"
#include "core/chars.h"

namespace {

// The code point of a valid UTF-8 character of n bytes.
char32_t decode_utf8(std::string_view s, std::size_t n) {
    unsigned char lead = static_cast<unsigned char>(s[0]);
    char32_t c = n == 2 ? lead & 0x1f : n == 3 ? lead & 0x0f : lead & 0x07;
    for (std::size_t i = 1; i < n; ++i) c = (c << 6) | (static_cast<unsigned char>(s[i]) & 0x3f);
    return c;
}

// The columns of the valid UTF-8 character at s (n bytes); -1 when it cannot be shown.
int utf8_width(std::string_view s, std::size_t n) {
    return wcwidth(static_cast<wchar_t>(decode_utf8(s, n)));
}

// The single character at pos, without the combining marks that may follow.
TextCell base_cell(std::string_view text, std::size_t pos, bool utf8) {
    unsigned char c = static_cast<unsigned char>(text[pos]);
    TextCell cell;
    if (utf8 && c >= 0x80) {
        std::size_t n = utf8_length(text.substr(pos));
        int w = n > 1 ? utf8_width(text.substr(pos), n) : -1;
        cell.length = n;
        if (w >= 0) {
            cell.width = w;
            cell.shown.assign(text.substr(pos, n));
            return cell;
        }
        cell.length = 1;
    } else {
        cell.length = 1;
        if (c >= 0x20 && c != 0x7f && (c < 0x80 || byte_is_print(c))) {
            cell.width = 1;
            cell.shown.assign(1, static_cast<char>(c));
            return cell;
        }
    }
    cell.shown = visible_byte(c);
    cell.width = static_cast<int>(cell.shown.size());
    cell.visible_form = true;
    return cell;
}

}  // namespace

std::string visible_byte(unsigned char c) {
    std::string s;
    if (c >= 0x80) {
        s = "M-";
        c &= 0x7f;
    }
    if (c < 0x20 || c == 0x7f) {
        s += '^';
        s += static_cast<char>(c ^ 0x40);
    } else {
        s += static_cast<char>(c);
    }
    return s;
}

TextCell text_cell(std::string_view text, std::size_t pos, bool utf8) {
    TextCell cell = base_cell(text, pos, utf8);
    if (!utf8) return cell;
    // Zero-width characters after a character go with it.
    for (;;) {
        std::size_t at = pos + cell.length;
        if (at >= text.size()) break;
        std::size_t n = utf8_length(text.substr(at));
        if (n == 1 || utf8_width(text.substr(at), n) != 0) break;
        cell.shown.append(text.substr(at, n));
        cell.length += n;
    }
    return cell;
}

std::size_t text_next(std::string_view text, std::size_t pos, bool utf8) {
    if (pos >= text.size()) return text.size();
    return pos + text_cell(text, pos, utf8).length;
}

std::size_t text_previous(std::string_view text, std::size_t pos, bool utf8) {
    std::size_t at = 0;
    for (std::size_t next; at < pos && (next = text_next(text, at, utf8)) < pos;) at = next;
    return at;
}

int text_width(std::string_view text, bool utf8) {
    int w = 0;
    for (std::size_t i = 0; i < text.size();) {
        TextCell cell = text_cell(text, i, utf8);
        w += cell.width;
        i += cell.length;
    }
    return w;
}

int prompt_width(std::string_view prompt, bool utf8) {
    int w = 0;
    for (std::size_t i = 0; i < prompt.size();) {
        if (prompt[i] == '\x1b' && i + 1 < prompt.size() && prompt[i + 1] == '[') {
            i += 2;
            while (i < prompt.size() && static_cast<unsigned char>(prompt[i]) >= 0x20 &&
                   static_cast<unsigned char>(prompt[i]) <= 0x3f) {
                ++i;
            }
            ++i;  // the final byte
            continue;
        }
        TextCell cell = text_cell(prompt, i, utf8);
        w += cell.width;
        i += cell.length;
    }
    return w;
}

ScreenPos screen_advance(ScreenPos p, int width, int columns) {
    if (columns < 2) columns = 2;
    if (p.col + width > columns) {
        ++p.row;
        p.col = 0;
    }
    p.col += width;
    if (p.col >= columns) {
        ++p.row;
        p.col = 0;
    }
    return p;
}

ScreenPos screen_advance(ScreenPos p, const TextCell& cell, int columns) {
    if (!cell.visible_form) return screen_advance(p, cell.width, columns);
    for (int i = 0; i < cell.width; ++i) p = screen_advance(p, 1, columns);
    return p;
}

ScreenPos screen_end(ScreenPos start, std::string_view text, std::size_t end, bool utf8,
                     int columns) {
    ScreenPos p = start;
    for (std::size_t i = 0; i < end && i < text.size();) {
        TextCell cell = text_cell(text, i, utf8);
        p = screen_advance(p, cell, columns);
        i += cell.length;
    }
    return p;
}
