#include "core/pattern.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/errors.h"

// Syntax characters are compared as plain Chars, so a quoted one (negative) never counts.

bool is_lone_brace(CharView w) {
    return (w.size() == 1 && w[0] == '{') || (w.size() == 2 && w[0] == '{' && w[1] == '}');
}

bool has_brace_group(CharView w) {
    return !is_lone_brace(w) && w.find(Char('{')) != CharView::npos;
}

namespace {

// ---- Braces -----------------------------------------------------------------------------------

// The first brace group of a word: the { that opens it and the } that closes it.
struct BraceGroup {
    std::size_t open = 0;
    std::size_t close = 0;
};

// The ] that ends the bracket text opened at i ("Missing ]").
std::size_t bracket_end(CharView w, std::size_t i) {
    std::size_t e = w.find(Char(']'), i + 1);
    if (e == CharView::npos) error_raise(ERR_MISSING, ']');
    return e;
}

// Finds the first group of a word for which has_brace_group holds ("Missing }", "Missing ]").
// Bracket text inside the group is passed over, so a brace in it neither opens nor closes.
BraceGroup find_brace_group(CharView w) {
    const std::size_t open = w.find(Char('{'));
    int depth = 0;
    for (std::size_t i = open + 1; i < w.size(); ++i) {
        const Char c = w[i];
        if (c == '[') {
            i = bracket_end(w, i);
        } else if (c == '{') {
            ++depth;
        } else if (c == '}') {
            if (depth == 0) return BraceGroup{open, i};
            --depth;
        }
    }
    error_raise(ERR_MISSING, '}');
}

// Appends the full expansion of one word to out, in order. Pending words wait on an explicit
// stack (the next one last), so deep nesting costs heap, not call stack.
void expand_braces_of(const CharString& word, WordVector& out) {
    std::vector<CharString> pending;
    std::vector<std::pair<std::size_t, std::size_t>> pieces;  // [begin, end) of alternatives
    pending.push_back(word);
    while (!pending.empty()) {
        CharString w = std::move(pending.back());
        pending.pop_back();
        if (!has_brace_group(w)) {
            out.push_back(std::move(w));
            continue;
        }
        const BraceGroup g = find_brace_group(w);
        // Commas split only at the group's own level and outside brackets.
        pieces.clear();
        std::size_t begin = g.open + 1;
        int depth = 0;
        for (std::size_t i = begin; i < g.close; ++i) {
            const Char c = w[i];
            if (c == '[') {
                i = bracket_end(w, i);
            } else if (c == '{') {
                ++depth;
            } else if (c == '}') {
                --depth;
            } else if (c == ',' && depth == 0) {
                pieces.emplace_back(begin, i);
                begin = i + 1;
            }
        }
        pieces.emplace_back(begin, g.close);
        const std::size_t suffix = g.close + 1;
        for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
            CharString alt;
            alt.reserve(g.open + (it->second - it->first) + (w.size() - suffix));
            alt.append(w, 0, g.open);
            alt.append(w, it->first, it->second - it->first);
            alt.append(w, suffix, CharString::npos);
            pending.push_back(std::move(alt));
        }
    }
}

// ---- Pattern matching ---------------------------------------------------------------------------

// The matcher compares characters of the locale. Where each of them is one byte (a single-byte
// locale, or text that is all ASCII) it reads the Chars as they are (ByteText); otherwise both
// texts are first decoded into wide characters (WideText). Either way a quoted unit is
// negative, so a syntax test never takes it, and value() is what gets compared.

// One byte a character.
struct ByteText {
    using Unit = Char;
    static int value(std::int32_t unit) { return unit & TRIM; }
    // Collation order of two characters: strcoll of one-character strings, equal ones by code.
    static int collate(int a, int b) {
        const char sa[2] = {static_cast<char>(a & 0xff), 0};
        const char sb[2] = {static_cast<char>(b & 0xff), 0};
        const int r = std::strcoll(sa, sb);
        return r != 0 ? r : a - b;
    }
};

// Characters decoded in the locale: a wide character, or BAD_BYTE plus the byte for a byte that
// begins no character of the locale (it stands for itself); QUOTED marks a quoted one.
struct WideText {
    using Unit = std::int32_t;
    static constexpr std::int32_t QUOTED = INT32_MIN;
    static constexpr std::int32_t BAD_BYTE = 0x40000000;  // above every wide character
    static int value(std::int32_t unit) { return unit & INT32_MAX; }
    // As for bytes, by wcscoll; a byte that is no character sorts after every character.
    static int collate(int a, int b) {
        if (a >= BAD_BYTE || b >= BAD_BYTE) return a < b ? -1 : a > b ? 1 : 0;
        const wchar_t sa[2] = {static_cast<wchar_t>(a), 0};
        const wchar_t sb[2] = {static_cast<wchar_t>(b), 0};
        const int r = std::wcscoll(sa, sb);
        return r != 0 ? r : a < b ? -1 : a > b ? 1 : 0;
    }
};

// True when no Char holds a byte above ASCII, which is a character of its own in every locale.
bool is_ascii(CharView text) {
    return std::all_of(text.begin(), text.end(), [](Char c) { return (c & 0x7f80) == 0; });
}

// Decodes Chars into WideText units in out, which is reused so that matching allocates nothing
// once it is large enough. A character is quoted when its first byte is.
void decode(CharView text, std::vector<std::int32_t>& out) {
    out.clear();
    const std::size_t longest = MB_CUR_MAX;
    char bytes[MB_LEN_MAX];
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char first = low_byte(text[i]);
        std::int32_t unit = first;
        std::size_t len = 1;
        if (first >= 0x80) {
            const std::size_t avail = std::min(longest, text.size() - i);
            for (std::size_t k = 0; k < avail; ++k) {
                bytes[k] = static_cast<char>(low_byte(text[i + k]));
            }
            wchar_t wc = 0;
            std::mbstate_t state{};
            const std::size_t r = std::mbrtowc(&wc, bytes, avail, &state);
            // r is 0 for a null character, or (size_t) -1 or -2 for no or an incomplete one.
            if (r >= 1 && r <= avail && wc > 0 && wc < WideText::BAD_BYTE) {
                unit = wc;
                len = r;
            } else {
                unit = WideText::BAD_BYTE + first;
            }
        }
        out.push_back(is_quoted(text[i]) ? (unit | WideText::QUOTED) : unit);
        i += len;
    }
}

// The outcome of matching where a list without its ] may be reached: Error stands for the
// "Missing ]" that the match raises once the outcome is known to depend on that list.
enum class Tri : std::uint8_t { False, True, Error };

Tri tri_not(Tri t) {
    if (t == Tri::Error) return t;
    return t == Tri::True ? Tri::False : Tri::True;
}

enum class TokenKind : std::uint8_t { Literal, Any, Star, List, BadList };

// One pattern element; a List names its members as the range [begin, end) of the pattern.
struct Token {
    TokenKind kind;
    bool negate;
    std::int32_t c;
    std::uint32_t begin, end;
};

template <class Text>
using Units = std::span<const typename Text::Unit>;

// Whether a list holds the character x (quote mark removed). Two members joined by an
// unquoted - form a range unless the - is the first or the last member.
template <class Text>
bool list_holds(Units<Text> pattern, const Token& t, int x) {
    bool found = false;
    std::size_t j = t.begin;
    while (j < t.end && !found) {
        const int lo = Text::value(pattern[j]);
        if (j + 2 < t.end && pattern[j + 1] == '-') {
            const int hi = Text::value(pattern[j + 2]);
            found = Text::collate(lo, x) <= 0 && Text::collate(x, hi) <= 0;
            j += 3;
        } else {
            found = lo == x;
            ++j;
        }
    }
    return found != t.negate;
}

// Whether a token other than * and a bad list takes the string character c.
template <class Text>
bool takes(Units<Text> pattern, const Token& t, std::int32_t c) {
    switch (t.kind) {
        case TokenKind::Literal:
            return Text::value(c) == Text::value(t.c);
        case TokenKind::Any:
            return true;
        case TokenKind::List:
            return list_holds<Text>(pattern, t, Text::value(c));
        default:
            return false;
    }
}

// Splits one alternative into tokens; true when it holds a *. A [ without its ] makes one
// BadList of the rest.
template <class Text>
bool tokenize(Units<Text> pattern, std::vector<Token>& tokens) {
    tokens.clear();
    bool star = false;
    for (std::size_t k = 0; k < pattern.size(); ++k) {
        const std::int32_t c = pattern[k];
        if (c == '*') {
            tokens.push_back(Token{TokenKind::Star, false, c, 0, 0});
            star = true;
        } else if (c == '?') {
            tokens.push_back(Token{TokenKind::Any, false, c, 0, 0});
        } else if (c == '[') {
            std::size_t begin = k + 1;
            const bool negate = begin < pattern.size() && pattern[begin] == '^';
            if (negate) ++begin;
            const auto close = std::find(pattern.begin() + begin, pattern.end(), ']');
            if (close == pattern.end()) {
                tokens.push_back(Token{TokenKind::BadList, false, c, 0, 0});
                break;
            }
            const auto end = static_cast<std::size_t>(close - pattern.begin());
            tokens.push_back(Token{TokenKind::List, negate, c, static_cast<std::uint32_t>(begin),
                                   static_cast<std::uint32_t>(end)});
            k = end;
        } else {
            tokens.push_back(Token{TokenKind::Literal, false, c, 0, 0});
        }
    }
    return star;
}

// A pattern without *: one pass.
template <class Text>
Tri match_straight(Units<Text> s, Units<Text> pattern, const std::vector<Token>& tokens) {
    std::size_t i = 0;
    for (const Token& t : tokens) {
        if (t.kind == TokenKind::BadList) return Tri::Error;
        if (i == s.size() || !takes<Text>(pattern, t, s[i])) return Tri::False;
        ++i;
    }
    return i == s.size() ? Tri::True : Tri::False;
}

// Scratch for matching, kept between calls so that matching allocates nothing once it is large
// enough: the columns of match_stars, the tokens, and the decoded string and alternative.
std::vector<Tri> column_a, column_b, column_c, column_d;
std::vector<Token> token_scratch;
std::vector<std::int32_t> wide_string, wide_pattern;

// A pattern with *. The defined rule for * re-applies the whole matcher (leading ^ included;
// the rest of an alternative holds no brace group) to the rest of the pattern at every later
// position of the string but the end, and ORs the outcomes in order. Done by recursion that
// is exponential in the number of *s. Here the same outcomes are computed bottom-up over
// suffixes: for token t and string position i,
//   alt(i, t)  = the rest of the alternative from token t matches s[i..]
//   full(i, t) = the same rest applied as a whole pattern: not alt(i, t + 1) when token t is
//                an unquoted ^, else alt(i, t)
// and a * at t takes the first outcome other than False among full(j, t + 1), j = i .. n-1,
// which keeps the order in which the recursion would have raised "Missing ]". Each column
// depends only on the next one, so this is O(tokens * length) time, O(length) space and no
// recursion at all.
template <class Text>
Tri match_stars(Units<Text> s, Units<Text> pattern, const std::vector<Token>& tokens) {
    const std::size_t n = s.size();
    std::vector<Tri>* alt_next = &column_a;
    std::vector<Tri>* full_next = &column_b;
    std::vector<Tri>* alt_cur = &column_c;
    std::vector<Tri>* full_cur = &column_d;
    for (std::vector<Tri>* v : {alt_next, full_next, alt_cur, full_cur}) v->resize(n + 1);
    for (std::size_t i = 0; i <= n; ++i) (*alt_next)[i] = (*full_next)[i] = Tri::False;
    (*alt_next)[n] = (*full_next)[n] = Tri::True;

    for (std::size_t t = tokens.size(); t-- > 0;) {
        const Token& tok = tokens[t];
        std::vector<Tri>& cur = *alt_cur;
        const std::vector<Tri>& next = *alt_next;
        switch (tok.kind) {
            case TokenKind::BadList:
                std::fill(cur.begin(), cur.end(), Tri::Error);
                break;
            case TokenKind::Star:
                if (t + 1 == tokens.size()) {
                    std::fill(cur.begin(), cur.end(), Tri::True);
                } else {
                    const std::vector<Tri>& full = *full_next;
                    Tri first = Tri::False;
                    cur[n] = Tri::False;
                    for (std::size_t i = n; i-- > 0;) {
                        if (full[i] != Tri::False) first = full[i];
                        cur[i] = first;
                    }
                }
                break;
            default:
                cur[n] = Tri::False;
                for (std::size_t i = 0; i < n; ++i) {
                    cur[i] = takes<Text>(pattern, tok, s[i]) ? next[i + 1] : Tri::False;
                }
                break;
        }
        std::vector<Tri>& full = *full_cur;
        if (tok.kind == TokenKind::Literal && tok.c == '^') {
            for (std::size_t i = 0; i <= n; ++i) full[i] = tri_not(next[i]);
        } else {
            full = cur;
        }
        std::swap(alt_cur, alt_next);
        std::swap(full_cur, full_next);
    }
    return (*alt_next)[0];
}

// Whether the string matches one alternative (a leading ^ is an ordinary character here).
template <class Text>
bool match_alternative(Units<Text> s, Units<Text> pattern) {
    const bool star = tokenize<Text>(pattern, token_scratch);
    const Tri r = star ? match_stars<Text>(s, pattern, token_scratch)
                       : match_straight<Text>(s, pattern, token_scratch);
    if (r == Tri::Error) error_raise(ERR_MISSING | ERRF_NAME, ']');
    return r == Tri::True;
}

// Whether the string matches one alternative; when wide, wide_string holds the string decoded.
bool match_in_locale(CharView s, CharView alternative, bool wide) {
    if (!wide) return match_alternative<ByteText>(Units<ByteText>(s), Units<ByteText>(alternative));
    decode(alternative, wide_pattern);
    return match_alternative<WideText>(wide_string, wide_pattern);
}

}  // namespace

void brace_expand(WordVector& words) {
    auto first = std::find_if(words.begin(), words.end(),
                              [](const CharString& w) { return has_brace_group(w); });
    if (first == words.end()) return;
    WordVector out;
    out.reserve(words.size() + 8);
    out.insert(out.end(), words.begin(), first);
    for (auto it = first; it != words.end(); ++it) {
        if (has_brace_group(*it)) {
            expand_braces_of(*it, out);
        } else {
            out.push_back(*it);
        }
    }
    words = std::move(out);
}

bool pattern_match(CharView string, CharView pattern) {
    const bool negate = !pattern.empty() && pattern[0] == '^';
    if (negate) pattern.remove_prefix(1);
    // Text that is all ASCII is one byte a character in every locale.
    const bool wide = MB_CUR_MAX > 1 && !(is_ascii(string) && is_ascii(pattern));
    if (wide) decode(string, wide_string);
    bool matched = false;
    if (has_brace_group(pattern)) {
        WordVector alternatives{CharString(pattern)};
        brace_expand(alternatives);
        for (const CharString& alt : alternatives) {
            if (match_in_locale(string, alt, wide)) {
                matched = true;
                break;
            }
        }
    } else {
        matched = match_in_locale(string, pattern, wide);
    }
    return matched != negate;
}
