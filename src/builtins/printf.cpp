#include "builtins/printf.h"

#include <err.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr const char* USAGE = "usage: printf format [arg ...]\n";
constexpr const char* FLAG_CHARS = "#-+ 0";

static_assert(sizeof(long) == sizeof(long long), "integer conversions are made long");

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The format with its backslash escapes replaced. A NUL byte that an escape produces ends the
// format there, as it ends a C string.
std::string unescape(const char* text) {
    std::string out;
    for (std::size_t i = 0; text[i]; ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        char c = text[i + 1];
        if (c == '\0') {
            out += '\\';  // a backslash at the very end stays
            break;
        }
        ++i;
        switch (c) {
            case 'a':
                out += '\a';
                continue;
            case 'b':
                out += '\b';
                continue;
            case 'f':
                out += '\f';
                continue;
            case 'n':
                out += '\n';
                continue;
            case 'r':
                out += '\r';
                continue;
            case 't':
                out += '\t';
                continue;
            case 'v':
                out += '\v';
                continue;
            default:
                break;
        }
        if (c >= '0' && c <= '7') {
            unsigned value = 0;
            for (int k = 0; k < 3 && text[i] >= '0' && text[i] <= '7'; ++k, ++i) {
                value = value * 8 + static_cast<unsigned>(text[i] - '0');
            }
            --i;
            out += static_cast<char>(value & 0xff);
        } else {
            out += c;
        }
    }
    return out.substr(0, out.find('\0'));
}

// The arguments after the format, consumed from left to right.
struct ArgCursor {
    const char* const* args;
    int count;
    int next = 0;

    bool done() const { return next >= count; }
    const char* peek() const { return done() ? nullptr : args[next]; }
    const char* take() { return done() ? nullptr : args[next++]; }
};

// Arguments that do not look like numbers stand for a byte: the first, or the one after a
// leading quote.
bool looks_numeric(const char* s) {
    char c = s[0];
    return c == '\0' || c == '+' || c == '-' || c == '.' || is_digit(c);
}
int byte_value(const char* s) {
    char c = (s[0] == '\'' || s[0] == '"') ? s[1] : s[0];
    return static_cast<unsigned char>(c);
}

// The next argument as an integer (0 when none is left); false after a warning.
bool next_integer(ArgCursor& args, long long& value) {
    const char* s = args.peek();
    if (!s) {
        value = 0;
        return true;
    }
    if (looks_numeric(s)) {
        errno = 0;
        char* end = nullptr;
        long long v = std::strtoll(s, &end, 0);
        if (*end != '\0') {
            warnx("%s: illegal number", s);
            return false;
        }
        if (errno == ERANGE) {
            warnx("%s: %s", s, std::strerror(ERANGE));
            return false;
        }
        value = v;
    } else {
        value = byte_value(s);
    }
    args.take();
    return true;
}

// A width or precision given by "*"; it must fit an int.
bool next_field(ArgCursor& args, int& value) {
    const char* s = args.peek();
    long long v = 0;
    if (!next_integer(args, v)) return false;
    if (v > INT_MAX || v < INT_MIN) {
        warnx("%s: %s", s, std::strerror(ERANGE));
        return false;
    }
    value = static_cast<int>(v);
    return true;
}

// The next argument as a floating value; trailing characters are ignored.
double next_floating(ArgCursor& args) {
    const char* s = args.take();
    if (!s) return 0.0;
    if (looks_numeric(s)) return std::strtod(s, nullptr);
    return byte_value(s);
}

// The value of the digits of a width or precision written in the format, from k; where they end.
// The value stops growing past what any field could use.
std::size_t digits_value(std::string_view fmt, std::size_t k, long long& value) {
    value = 0;
    for (; k < fmt.size() && is_digit(fmt[k]); ++k) {
        value = std::min(value * 10 + (fmt[k] - '0'), 1LL << 40);
    }
    return k;
}

struct Field {
    bool has_width = false, has_precision = false;
    int width = 0, precision = 0;
    // The fewest bytes the piece formats to: its text before the conversion and the width, or
    // for a number the precision when that is more.
    long long least = 0;
};

// Formats one piece into a new string and writes it up to its first NUL byte; false after a
// warning when the system's formatter fails (a width or precision its count cannot hold, no
// memory for the text).
template <class... Values>
bool emit(const std::string& piece, Values... values) {
    char* out = nullptr;
    if (asprintf(&out, piece.c_str(), values...) < 0) {
        warnx("%s", std::strerror(errno));
        return false;
    }
    std::fputs(out, stdout);
    std::free(out);
    return true;
}

// The "*" arguments come before the value. The formatter counts what it writes in an int and
// fails on a piece longer than that, but only after building gigabytes of padding: a piece that
// would reach INT_MAX bytes is refused here as the formatter refuses a longer one (at exactly
// INT_MAX bytes the count of the text and its NUL would not fit either).
template <class Value>
bool emit_value(const std::string& piece, const Field& field, Value value) {
    if (field.least >= INT_MAX) {
        warnx("%s", std::strerror(EOVERFLOW));
        return false;
    }
    if (field.has_width && field.has_precision) {
        return emit(piece, field.width, field.precision, value);
    }
    if (field.has_width) return emit(piece, field.width, value);
    if (field.has_precision) return emit(piece, field.precision, value);
    return emit(piece, value);
}

void write_text(std::string_view text) {
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stdout);
}

// One run over the arguments; the format holds no NUL byte.
int format_all(std::string_view fmt, ArgCursor& args) {
    const std::size_t n = fmt.size();
    std::size_t pos = 0;
    for (;;) {
        // Find the next conversion, writing literal text and "%%" on the way. Reaching the end
        // twice without a conversion means the format cannot use up the arguments.
        bool wrapped = false;
        std::size_t start = pos;
        for (;;) {
            if (pos == n) {
                if (wrapped) {
                    warnx("missing format character");
                    return 1;
                }
                wrapped = true;
                write_text(fmt.substr(start, pos - start));
                if (args.done()) return 0;
                pos = start = 0;
                continue;
            }
            if (fmt[pos] != '%') {
                ++pos;
                continue;
            }
            if (pos + 1 < n && fmt[pos + 1] == '%') {
                write_text(fmt.substr(start, pos + 1 - start));
                pos += 2;
                start = pos;
                continue;
            }
            break;
        }

        auto at = [&](std::size_t k) { return k < n ? fmt[k] : '\0'; };
        std::size_t q = pos + 1;
        while (q < n && std::strchr(FLAG_CHARS, fmt[q])) ++q;
        Field field;
        long long width = 0, precision = 0;
        if (at(q) == '*') {
            if (!next_field(args, field.width)) return 1;
            field.has_width = true;
            width = std::llabs(field.width);
            ++q;
        } else {
            q = digits_value(fmt, q, width);
        }
        if (at(q) == '.') {
            ++q;
            if (at(q) == '*') {
                if (!next_field(args, field.precision)) return 1;
                field.has_precision = true;
                precision = field.precision;
                ++q;
            } else {
                q = digits_value(fmt, q, precision);
            }
        }
        if (q >= n) {
            warnx("missing format character");
            return 1;
        }
        char conversion = fmt[q];
        const bool number = std::strchr("diouxXeEfgG", conversion) != nullptr;
        field.least =
            static_cast<long long>(pos - start) + std::max(width, number ? precision : 0LL);
        // The pending text and the conversion are formatted together.
        std::string piece(fmt.substr(start, q + 1 - start));
        switch (conversion) {
            case 'd':
            case 'i':
            case 'o':
            case 'u':
            case 'x':
            case 'X': {
                long long value = 0;
                if (!next_integer(args, value)) return 1;
                piece.insert(piece.size() - 1, 1, 'l');
                if (!emit_value(piece, field, static_cast<long>(value))) return 1;
                break;
            }
            case 'e':
            case 'E':
            case 'f':
            case 'g':
            case 'G':
                if (!emit_value(piece, field, next_floating(args))) return 1;
                break;
            case 'c': {
                const char* s = args.take();
                if (!emit_value(piece, field,
                                s ? static_cast<int>(static_cast<unsigned char>(s[0])) : 0)) {
                    return 1;
                }
                break;
            }
            case 's': {
                const char* s = args.take();
                if (!emit_value(piece, field, s ? s : "")) return 1;
                break;
            }
            default:
                warnx("illegal format character %c", conversion);
                return 1;
        }
        pos = q + 1;
    }
}

}  // namespace

int printf_format(int argc, const char* const argv[]) {
    // The options are parsed as the system's option parser does with an empty option set: "--"
    // ends them, a lone "-" is the format, any other word beginning with "-" is illegal.
    int first = 1;
    if (first < argc && argv[first][0] == '-' && argv[first][1] != '\0') {
        if (std::strcmp(argv[first], "--") != 0) {
            warnx("illegal option -- %c", argv[first][1]);
            std::fputs(USAGE, stderr);
            return 1;
        }
        ++first;
    }
    if (first >= argc) {
        std::fputs(USAGE, stderr);
        return 1;
    }
    std::string format = unescape(argv[first]);
    ArgCursor args{argv + first + 1, argc - first - 1};
    return format_all(format, args);
}
