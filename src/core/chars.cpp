#include "core/chars.h"

#include <cctype>
#include <cwchar>

#include "platform/vis.h"

// clang-format off
const std::uint16_t CharClass[256] = {
    // 0x00 - 0x0f: controls; tab and newline are blanks and metas as well
    0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000,
    0x4000, 0x4014, 0x4018, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000,
    // 0x10 - 0x1f
    0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000,
    0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000,
    //  sp      !       "       #       $       %       &       '
    0x0014, 0x0000, 0x0001, 0x0010, 0x0080, 0x0000, 0x2010, 0x0001,
    //  (       )       *       +       ,       -       .       /
    0x2010, 0x0010, 0x0020, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,
    //  0 - 7
    0x1100, 0x1100, 0x1100, 0x1100, 0x1100, 0x1100, 0x1100, 0x1100,
    //  8       9       :       ;       <       =       >       ?
    0x1100, 0x1100, 0x0000, 0x2010, 0x0010, 0x0000, 0x0010, 0x0020,
    //  @       A - G
    0x0000, 0x1600, 0x1600, 0x1600, 0x1600, 0x1600, 0x1600, 0x0600,
    //  H - O
    0x0600, 0x0600, 0x0600, 0x0600, 0x0600, 0x0600, 0x0600, 0x0600,
    //  P - W
    0x0600, 0x0600, 0x0600, 0x0600, 0x0600, 0x0600, 0x0600, 0x0600,
    //  X       Y       Z       [       \       ]       ^       _
    0x0600, 0x0600, 0x0600, 0x0020, 0x0040, 0x0000, 0x0000, 0x0000,
    //  `       a - g
    0x0032, 0x1a00, 0x1a00, 0x1a00, 0x1a00, 0x1a00, 0x1a00, 0x0a00,
    //  h - o
    0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00,
    //  p - w
    0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00,
    //  x       y       z       {       |       }       ~       del
    0x0a00, 0x0a00, 0x0a00, 0x0020, 0x2010, 0x0000, 0x0000, 0x4000,
    // 0x80 - 0x9f: controls
    0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000,
    0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000,
    0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000,
    0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000, 0x4000,
    // 0xa0: the no-break space is a blank; 0xa1 - 0xbf nothing
    0x0004, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,
    0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,
    0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,
    0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000, 0x0000,
    // 0xc0 - 0xdf: upper-case letters, except 0xd7; 0xdf is lower case
    0x0600, 0x0600, 0x0600, 0x0600, 0x0600, 0x0600, 0x0600, 0x0600,
    0x0600, 0x0600, 0x0600, 0x0600, 0x0600, 0x0600, 0x0600, 0x0600,
    0x0600, 0x0600, 0x0600, 0x0600, 0x0600, 0x0600, 0x0600, 0x0000,
    0x0600, 0x0600, 0x0600, 0x0600, 0x0600, 0x0600, 0x0600, 0x0a00,
    // 0xe0 - 0xff: lower-case letters, except 0xf7
    0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00,
    0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00,
    0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0000,
    0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00, 0x0a00,
};
// clang-format on

static_assert(sizeof(CharClass) / sizeof(CharClass[0]) == 256);

// ---- Locale ------------------------------------------------------------------------------------

namespace {
// Bytes below the limit are characters of their own in the current locale; 128 in the C and
// UTF-8 locales, 256 in single-byte ones. Computed lazily, since start-up may not need it.
int sb_limit = -1;

int compute_sb_limit() {
    int n = 0;
    while (n < 256 && std::btowc(n) != WEOF) ++n;
    return n < 128 ? 128 : n;
}

inline bool in_locale(Char c) {
    return c >= 0 && c < locale_sb_limit();
}
}  // namespace

void locale_changed() {
    sb_limit = -1;
}

int locale_sb_limit() {
    if (sb_limit < 0) sb_limit = compute_sb_limit();
    return sb_limit;
}

bool char_is_alpha(Char c) {
    return in_locale(c) && std::isalpha(c);
}
bool char_is_alnum(Char c) {
    return in_locale(c) && std::isalnum(c);
}
bool byte_is_print(unsigned char c) {
    return std::isprint(c);
}

// ---- Strings -----------------------------------------------------------------------------------

Char* str_copy_n(Char* dst, const Char* src, std::size_t n) {
    std::size_t i = 0;
    for (; i < n && src[i] != 0; ++i) dst[i] = src[i];
    for (; i < n; ++i) dst[i] = 0;
    return dst;
}

int str_cmp(const Char* a, const Char* b) {
    while (*a && *a == *b) ++a, ++b;
    if (*a == 0) return *b == 0 ? 0 : -1;
    if (*b == 0) return 1;
    return *a - *b;
}

int str_ncmp(const Char* a, const Char* b, std::size_t n) {
    for (; n > 0; --n, ++a, ++b) {
        if (*a != *b) {
            if (*a == 0) return -1;
            if (*b == 0) return 1;
            return *a - *b;
        }
        if (*a == 0) return 0;
    }
    return 0;
}

bool str_is_prefix(const CharString& a, const CharString& b) {
    return a.size() <= b.size() && CharTraits::compare(a.data(), b.data(), a.size()) == 0;
}

void str_strip(CharString& s) {
    for (Char& c : s) c = static_cast<Char>(c & TRIM);
}

bool str_is_number(const CharString& s) {
    std::size_t i = 0;
    if (!s.empty() && s[0] == '-') {
        if (s.size() < 2 || !char_is_digit(s[1])) return false;
        i = 2;
    }
    for (; i < s.size(); ++i) {
        if (!char_is_digit(s[i])) return false;
    }
    return true;
}

// ---- Conversions -------------------------------------------------------------------------------

// The scratch buffers grow and are never freed, so converting a name for a system call
// allocates nothing once the buffer is large enough.
namespace {
std::string byte_scratch;
std::string escaped_scratch;
std::string visible_scratch;

const char* fill_bytes(std::string& buf, CharView s) {
    buf.resize(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) buf[i] = static_cast<char>(s[i] & 0xff);
    return buf.c_str();
}
}  // namespace

CharString to_char_string(std::string_view bytes) {
    CharString s(bytes.size(), 0);
    for (std::size_t i = 0; i < bytes.size(); ++i) s[i] = static_cast<unsigned char>(bytes[i]);
    return s;
}

const char* to_byte_string(CharView s) {
    return fill_bytes(byte_scratch, s);
}
const char* to_byte_string(const CharString& s) {
    return fill_bytes(byte_scratch, s);
}

std::string to_bytes(CharView s) {
    std::string out(s.size(), '\0');
    for (std::size_t i = 0; i < s.size(); ++i) out[i] = static_cast<char>(s[i] & 0xff);
    return out;
}

const char* to_escaped_bytes(const CharString& s) {
    escaped_scratch.clear();
    for (Char c : s) {
        if (is_quoted(c)) escaped_scratch += '\\';
        escaped_scratch += static_cast<char>(c & 0xff);
    }
    return escaped_scratch.c_str();
}

const char* to_visible(CharView s) {
    fill_bytes(byte_scratch, s);
    visible_scratch.clear();
    strvis_noslash(visible_scratch, byte_scratch.data(), byte_scratch.size());
    return visible_scratch.c_str();
}
const char* to_visible(const CharString& s) {
    return to_visible(CharView(s));
}

void put_char_visible(Char c, FILE* stream) {
    if (is_quoted(c)) {
        std::fputc(c & 0xff, stream);
        return;
    }
    std::string out;
    vis_noslash(out, static_cast<unsigned char>(c & 0xff));
    std::fwrite(out.data(), 1, out.size(), stream);
}

WordVector to_char_vector(const char* const* v) {
    WordVector out;
    for (; v && *v; ++v) out.push_back(to_char_string(*v));
    return out;
}

ByteVector::ByteVector(const WordVector& words) {
    strings.reserve(words.size());
    for (const CharString& w : words) strings.push_back(to_bytes(w));
    pointers.reserve(strings.size() + 1);
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
}

// ---- Word vectors ------------------------------------------------------------------------------

void vec_print(FILE* stream, const WordVector& v) {
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (i) std::fputc(' ', stream);
        std::fputs(to_visible(v[i]), stream);
    }
}

void vec_drop_first(WordVector& v, std::size_t n) {
    if (n > v.size()) n = v.size();
    v.erase(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n));
}

void clear_quote_marks(WordVector& words) {
    for (CharString& w : words) str_strip(w);
}
