#include "complete/keys.h"

namespace {

constexpr unsigned char ESC = 0x1b;

bool in(std::string_view s, std::size_t i, unsigned char low, unsigned char high) {
    return i < s.size() && static_cast<unsigned char>(s[i]) >= low &&
           static_cast<unsigned char>(s[i]) <= high;
}

KeyPress key(Key k, std::size_t length) {
    return KeyPress{k, 0, length};
}

// The modifier of a parameter list "1;N": 3 Alt, 5 Control, ... (1 none).
int modifier_of(std::string_view params) {
    std::size_t semi = params.find(';');
    if (semi == std::string_view::npos) return 1;
    int m = 0;
    for (char c : params.substr(semi + 1)) {
        if (c < '0' || c > '9') return 1;
        m = m * 10 + (c - '0');
    }
    return m;
}

// The keys of the final letters both kinds of sequence share.
Key letter_key(char final) {
    constexpr struct {
        char final;
        Key key;
    } letters[] = {{'A', Key::UP},   {'B', Key::DOWN}, {'C', Key::RIGHT},
                   {'D', Key::LEFT}, {'H', Key::HOME}, {'F', Key::END}};
    for (const auto& l : letters) {
        if (l.final == final) return l.key;
    }
    return Key::NONE;
}

// The key a whole control sequence stands for: ESC [ params final.
Key csi_key(std::string_view params, char final) {
    if (final == '~') {
        std::string_view number = params.substr(0, params.find(';'));
        if (number == "1" || number == "7") return Key::HOME;
        if (number == "4" || number == "8") return Key::END;
        if (number == "3") return Key::DELETE;
        return Key::NONE;
    }
    // Control- or Alt-Right and -Left move by words.
    if (modifier_of(params) > 1 && (final == 'C' || final == 'D')) {
        return final == 'C' ? Key::WORD_RIGHT : Key::WORD_LEFT;
    }
    return letter_key(final);
}

// The key of ESC O final (application mode; rxvt's Control-arrows are lower case).
Key ss3_key(char final) {
    if (final == 'c') return Key::WORD_RIGHT;
    if (final == 'd') return Key::WORD_LEFT;
    return letter_key(final);
}

// A sequence after its escape, at s[start]: "[" ... or "O" x. Length 0 when incomplete.
KeyPress sequence(std::string_view s, std::size_t start, bool final) {
    std::size_t i = start + 1;
    if (s[start] == 'O') {
        if (i < s.size()) return key(ss3_key(s[i]), i + 1);
        return final ? key(Key::NONE, s.size()) : KeyPress{};
    }
    // The Linux console's function keys: ESC [ [ letter.
    if (i < s.size() && s[i] == '[') {
        if (i + 1 < s.size()) return key(Key::NONE, i + 2);
        return final ? key(Key::NONE, s.size()) : KeyPress{};
    }
    std::size_t params = i;
    while (in(s, i, 0x30, 0x3f)) ++i;
    std::size_t params_end = i;
    while (in(s, i, 0x20, 0x2f)) ++i;
    if (in(s, i, 0x40, 0x7e)) {
        return key(csi_key(s.substr(params, params_end - params), s[i]), i + 1);
    }
    if (i < s.size()) return key(Key::NONE, i);  // not a sequence: dropped up to the odd byte
    return final ? key(Key::NONE, s.size()) : KeyPress{};
}

}  // namespace

std::size_t utf8_expected_length(unsigned char lead) {
    if (lead >= 0xc2 && lead <= 0xdf) return 2;
    if (lead >= 0xe0 && lead <= 0xef) return 3;
    if (lead >= 0xf0 && lead <= 0xf4) return 4;
    return 1;
}

std::size_t utf8_length(std::string_view s) {
    unsigned char lead = static_cast<unsigned char>(s[0]);
    std::size_t n = utf8_expected_length(lead);
    if (n == 1 || s.size() < n) return 1;
    // The second byte's range excludes overlong forms, surrogates and values past U+10FFFF.
    unsigned char low = 0x80, high = 0xbf;
    if (lead == 0xe0) low = 0xa0;
    if (lead == 0xed) high = 0x9f;
    if (lead == 0xf0) low = 0x90;
    if (lead == 0xf4) high = 0x8f;
    if (!in(s, 1, low, high)) return 1;
    for (std::size_t i = 2; i < n; ++i) {
        if (!in(s, i, 0x80, 0xbf)) return 1;
    }
    return n;
}

KeyPress decode_key(std::string_view s, bool utf8, bool final) {
    unsigned char c = static_cast<unsigned char>(s[0]);
    if (c != ESC) {
        if (c < 0x20 || c == 0x7f) return KeyPress{Key::CONTROL, c, 1};
        if (utf8 && c >= 0x80) {
            std::size_t want = utf8_expected_length(c);
            if (s.size() < want && !final) {
                // Wait for the rest only while what came so far can still be a character.
                std::size_t n = 1;
                while (n < s.size() && in(s, n, 0x80, 0xbf)) ++n;
                if (n == s.size()) return KeyPress{};
            }
            return key(Key::CHAR, utf8_length(s));
        }
        return key(Key::CHAR, 1);
    }
    if (s.size() == 1) return final ? KeyPress{Key::ESCAPE, ESC, 1} : KeyPress{};
    unsigned char next = static_cast<unsigned char>(s[1]);
    if (next == '[' || next == 'O') return sequence(s, 1, final);
    if (next == ESC) {
        // Escape Escape, or Alt with a key's sequence (the same key).
        if (s.size() == 2) return final ? KeyPress{Key::ALT, ESC, 2} : KeyPress{};
        if (s[2] == '[' || s[2] == 'O') return sequence(s, 2, final);
        return KeyPress{Key::ALT, ESC, 2};
    }
    return KeyPress{Key::ALT, next, 2};
}
