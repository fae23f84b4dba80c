#include "platform/vis.h"

#include <climits>
#include <cwchar>
#include <cwctype>

namespace {

// One character (a wide character, or a byte taken as one) in vis form, without the backslash.
void encode(std::string& out, const char* bytes, std::size_t nbytes, wint_t c) {
    if (std::iswgraph(c) || c == L' ' || c == L'\t' || c == L'\n') {
        out.append(bytes, nbytes);
        return;
    }
    // Wide characters are encoded byte by byte from the most significant non-zero byte.
    bool started = false;
    for (int i = static_cast<int>(sizeof(wint_t)) - 1; i >= 0; --i) {
        unsigned b = (static_cast<unsigned>(c) >> (i * 8)) & 0xff;
        if (!started && b == 0 && i != 0) continue;
        started = true;
        if ((b & 0177) == ' ') {
            // A meta blank cannot be shown as M- followed by a blank: octal, always escaped.
            out += '\\';
            out += static_cast<char>('0' + ((b >> 6) & 03));
            out += static_cast<char>('0' + ((b >> 3) & 07));
            out += static_cast<char>('0' + (b & 07));
            continue;
        }
        if (b & 0200) {
            b &= 0177;
            out += 'M';
        }
        if (std::iswcntrl(b)) {
            out += '^';
            out += b == 0177 ? '?' : static_cast<char>(b + '@');
        } else {
            out += '-';
            out += static_cast<char>(b);
        }
    }
}

}  // namespace

void strvis_noslash(std::string& out, const char* src, std::size_t len) {
    std::mbstate_t state{};
    bool bytewise = false;
    while (len > 0) {
        wchar_t wc = 0;
        std::size_t clen = 1;
        if (!bytewise) {
            clen = std::mbrtowc(&wc, src, len < MB_LEN_MAX ? len : MB_LEN_MAX, &state);
            if (clen == static_cast<std::size_t>(-1) || clen == static_cast<std::size_t>(-2)) {
                bytewise = true;
            } else if (clen == 0) {
                clen = 1;  // an embedded NUL byte
            }
        }
        if (bytewise) {
            wc = static_cast<unsigned char>(*src);
            clen = 1;
        }
        encode(out, src, clen, static_cast<wint_t>(wc));
        src += clen;
        len -= clen;
    }
}

void vis_noslash(std::string& out, unsigned char c) {
    char b = static_cast<char>(c);
    strvis_noslash(out, &b, 1);
}
