#include "expand/expressions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "core/errors.h"
#include "core/pattern.h"
#include "core/shell.h"
#include "exec/reentry.h"
#include "expand/glob.h"
#include "vars/variables.h"

namespace {

// Levels 1 to 6 work with numbers; levels 7 to 11 pass words, so that == can compare spellings
// (1 == 01 is false). A word made by arithmetic stays a number until a comparison needs its
// text: its decimal form reads back as the same number, so nothing can tell the difference.
// A word of the expression that needs no expansion is borrowed, not copied.
struct Operand {
    const CharString* borrowed = nullptr;  ///< a word of the expression, used as it stands
    CharString own;                        ///< a word made here; used when nothing is borrowed
    std::int32_t number = 0;               ///< the value, when is_number
    bool is_number = false;
};

Operand number_operand(std::int32_t n) {
    Operand op;
    op.number = n;
    op.is_number = true;
    return op;
}

Operand truth_operand(bool b) {
    return number_operand(b ? 1 : 0);
}

// The text of an operand; a number is formatted into scratch.
const CharString& text_of(const Operand& op, CharString& scratch) {
    if (op.is_number) {
        format_number_into(scratch, op.number);
        return scratch;
    }
    return op.borrowed ? *op.borrowed : op.own;
}

// The numeric operand check: empty, or a leading "-" or unquoted digit, then parse_number.
// Does not return on a word that is not a number.
std::int32_t to_number(const Operand& op) {
    if (op.is_number) return op.number;
    const CharString& w = op.borrowed ? *op.borrowed : op.own;
    if (w.empty()) return 0;
    if (w[0] != '-' && !char_is_digit(w[0])) error_raise(ERR_EXPRESSION_SYNTAX | ERRF_NAME);
    return parse_number(w);
}

// Arithmetic wraps in 32-bit two's complement; unsigned arithmetic gives that without
// undefined behaviour.
std::int32_t wrap(std::uint32_t u) {
    return static_cast<std::int32_t>(u);
}
std::uint32_t bits(std::int32_t n) {
    return static_cast<std::uint32_t>(n);
}

// Words a primary leaves alone: the one-character operators, the two-character ones, and
// anything beginning with < or >. "&", "|", "&&" and "||" are deliberately not among them.
bool is_operator_word(const CharString& w) {
    if (w.size() == 1) {
        switch (w[0]) {
            case '+':
            case '-':
            case '*':
            case '/':
            case '%':
            case '(':
            case ')':
            case '!':
            case '~':
            case '^':
            case '"':
                return true;
            default:
                break;
        }
    }
    if (w.size() == 2) {
        for (std::string_view op : {"|&", "<<", ">>", "==", "!=", "=~", "!~"}) {
            if (equals(w, op)) return true;
        }
    }
    return !w.empty() && (w[0] == '<' || w[0] == '>');
}

constexpr std::string_view INQUIRY_LETTERS = "erwxfdzopls";

bool is_inquiry_letter(Char c) {
    return c > 0 && c < 128 && INQUIRY_LETTERS.find(static_cast<char>(c)) != std::string_view::npos;
}

// A word with nothing for file-name generation to do and no quote marks to clear: glob_one
// would give it back unchanged, so it can be borrowed. Covers the numbers of arithmetic loops.
bool needs_no_expansion(const CharString& w) {
    return str_is_number(w);
}

// Each level function that can recur adds one to the depth while it runs, so nested
// parentheses and long chains of right-recursive operators are bounded by the count, the same
// in every build. Measured per counted frame: about 200 bytes optimised, about 1050 under the
// address sanitizer; 3000 frames (some 430 nested parentheses, or a chain of 3000 terms) stay
// within 3.2 MB of an 8 MB main stack even there. Deeper input gets "Expression Syntax".
constexpr int MAX_DEPTH = 3000;

// The depth of every evaluation in progress in this process. The child of a { command } runs
// on its parent's stack, below the frames of the evaluation that forked it, and inherits the
// count with the stack: an expression nested through { } in expressions stays within the bound.
int expression_depth = 0;

class Evaluator {
  public:
    Evaluator(const WordVector& words, std::size_t& cursor) : words_(words), cursor_(cursor) {}

    // Level 1, ||: right-recursive; after a true left side the right one is only examined.
    std::int32_t level1(int flags) {
        Depth d(depth_);
        std::int32_t left = level2(flags);
        if (!at("||")) return left;
        ++cursor_;
        const int right_flags = (left != 0 || (flags & EXPR_SKIP)) ? EXPR_SKIP : 0;
        std::int32_t right = level1(right_flags);
        return (left != 0 || right != 0) ? 1 : 0;
    }

  private:
    // Counts the nesting of level frames; see MAX_DEPTH.
    struct Depth {
        explicit Depth(int& counter) : count(counter) {
            if (count >= MAX_DEPTH) error_raise(ERR_EXPRESSION_SYNTAX | ERRF_NAME);
            ++count;
        }
        ~Depth() { --count; }
        Depth(const Depth&) = delete;
        Depth& operator=(const Depth&) = delete;
        int& count;
    };

    const CharString* current() const {
        return cursor_ < words_.size() ? &words_[cursor_] : nullptr;
    }
    bool at(std::string_view text) const {
        const CharString* w = current();
        return w && equals(*w, text);
    }

    // Level 2, &&: right-recursive; after a false left side the right one is only examined.
    std::int32_t level2(int flags) {
        Depth d(depth_);
        std::int32_t left = level3(flags);
        if (!at("&&")) return left;
        ++cursor_;
        const int right_flags = (left == 0 || (flags & EXPR_SKIP)) ? EXPR_SKIP : 0;
        std::int32_t right = level2(right_flags);
        return (left != 0 && right != 0) ? 1 : 0;
    }

    // Level 3, bitwise or, left to right.
    std::int32_t level3(int flags) {
        std::int32_t value = level4(flags);
        while (at("|")) {
            ++cursor_;
            value |= level4(flags);
        }
        return value;
    }

    // Level 4, bitwise exclusive or, left to right.
    std::int32_t level4(int flags) {
        std::int32_t value = level5(flags);
        while (at("^")) {
            ++cursor_;
            value ^= level5(flags);
        }
        return value;
    }

    // Level 5, bitwise and: all bits set, and-ed with each operand.
    std::int32_t level5(int flags) {
        std::int32_t value = ~0;
        for (;;) {
            value &= level6(flags);
            if (!at("&")) return value;
            ++cursor_;
        }
    }

    // Level 6: at most one ==, !=, =~ or !~, comparing words; otherwise the number of the word.
    std::int32_t level6(int flags) {
        Operand p1 = level7(flags);
        const CharString* w = current();
        const bool equal = w && equals(*w, "==");
        const bool unequal = w && equals(*w, "!=");
        const bool match = w && equals(*w, "=~");
        const bool no_match = w && equals(*w, "!~");
        if (!(equal || unequal || match || no_match)) return to_number(p1);
        ++cursor_;
        Operand p2 = level7((match || no_match) ? (flags | EXPR_NOGLOB) : flags);
        if (flags & EXPR_SKIP) return 0;
        CharString scratch1, scratch2;
        const CharString& s1 = text_of(p1, scratch1);
        const CharString& s2 = text_of(p2, scratch2);
        if (equal || unequal) return (s1 == s2) == equal ? 1 : 0;
        return pattern_match(s1, s2) == match ? 1 : 0;
    }

    // Level 7, < > <= >=: right-recursive. The lexer splits "<=" into "<" and "=", so the "="
    // comes as a word of its own.
    Operand level7(int flags) {
        Depth d(depth_);
        Operand p1 = level8(flags);
        const CharString* w = current();
        if (!w || w->empty() || ((*w)[0] != '<' && (*w)[0] != '>')) return p1;
        const bool less = (*w)[0] == '<';
        ++cursor_;
        const bool or_equal = at("=");
        if (or_equal) ++cursor_;
        Operand p2 = level7(flags);
        if (flags & EXPR_SKIP) return number_operand(0);
        const std::int32_t a = to_number(p1);
        const std::int32_t b = to_number(p2);
        if (less) return truth_operand(or_equal ? a <= b : a < b);
        return truth_operand(or_equal ? a >= b : a > b);
    }

    // Level 8, << >>: right-recursive; operands are checked even when skipping. The count is
    // taken modulo 32.
    Operand level8(int flags) {
        Depth d(depth_);
        Operand p1 = level9(flags);
        const CharString* w = current();
        if (!w || w->size() < 2 ||
            !(((*w)[0] == '<' && (*w)[1] == '<') || ((*w)[0] == '>' && (*w)[1] == '>'))) {
            return p1;
        }
        const bool left_shift = (*w)[0] == '<';
        ++cursor_;
        Operand p2 = level8(flags);
        const std::int32_t a = to_number(p1);
        const unsigned count = bits(to_number(p2)) & 31u;
        // >> of a negative number is arithmetic (defined since C++20).
        return number_operand(left_shift ? wrap(bits(a) << count) : a >> count);
    }

    // Level 9, + -: right-recursive, so 10 - 3 - 2 is 10 - (3 - 2).
    Operand level9(int flags) {
        Depth d(depth_);
        Operand p1 = level10(flags);
        const bool plus = at("+");
        if (!plus && !at("-")) return p1;
        ++cursor_;
        Operand p2 = level9(flags);
        if (flags & EXPR_SKIP) return number_operand(0);
        const std::int32_t a = to_number(p1);
        const std::int32_t b = to_number(p2);
        return number_operand(wrap(plus ? bits(a) + bits(b) : bits(a) - bits(b)));
    }

    // Level 10, * / %: right-recursive, so 16 / 4 / 2 is 16 / (4 / 2).
    Operand level10(int flags) {
        Depth d(depth_);
        Operand p1 = level11(flags);
        const bool times = at("*");
        const bool divide = at("/");
        if (!times && !divide && !at("%")) return p1;
        ++cursor_;
        Operand p2 = level10(flags);
        if (flags & EXPR_SKIP) return number_operand(0);
        if (times) {
            const std::int32_t a = to_number(p1);
            return number_operand(wrap(bits(a) * bits(to_number(p2))));
        }
        // The divisor is examined first: "x / 0" reports the division, not the x.
        const std::int32_t b = to_number(p2);
        if (b == 0) error_raise(divide ? ERR_DIVISION_BY_ZERO : ERR_MOD_BY_ZERO);
        const std::int32_t a = to_number(p1);
        // The least number divided by -1 overflows: the quotient wraps to the least number
        // itself and the remainder is 0. Negation in unsigned arithmetic gives that for every a.
        if (b == -1) return number_operand(divide ? wrap(0u - bits(a)) : 0);
        return number_operand(divide ? a / b : a % b);
    }

    // Level 11: unary operators, parentheses, the command form, file inquiries and words.
    Operand level11(int flags) {
        Depth d(depth_);
        const CharString* w = current();
        if (!w) error_raise(ERR_EXPRESSION_SYNTAX | ERRF_NAME);
        if (equals(*w, "!")) {
            ++cursor_;
            return truth_operand(to_number(level11(flags)) == 0);
        }
        if (equals(*w, "~")) {
            ++cursor_;
            return number_operand(~to_number(level11(flags)));
        }
        if (equals(*w, "(")) {
            ++cursor_;
            const std::int32_t value = level1(flags);
            const CharString* close = current();
            if (!close || close->empty() || (*close)[0] != ')') {
                error_raise(ERR_EXPRESSION_SYNTAX | ERRF_NAME);
            }
            ++cursor_;
            return number_operand(value);
        }
        if (equals(*w, "{")) return command_form(flags);
        // A leading "-" reads as negation: the empty word (0) minus the rest.
        if (is_operator_word(*w)) return Operand{};
        if (w->size() >= 2 && (*w)[0] == '-' && is_inquiry_letter((*w)[1])) {
            if (w->size() > 2) error_raise(ERR_MALFORMED_INQUIRY | ERRF_NAME);
            return file_inquiry(static_cast<char>((*w)[1]), flags);
        }
        ++cursor_;
        Operand op;
        if ((flags & EXPR_NOGLOB) || needs_no_expansion(*w)) {
            op.borrowed = w;
        } else {
            op.own = glob_one(*w, ONE_AMBIGUOUS);
        }
        return op;
    }

    // "-" letter name: the cursor is on the inquiry word.
    Operand file_inquiry(char letter, int flags) {
        ++cursor_;
        const CharString* name_word = current();
        struct stat st;
        // An operator-looking name is taken only when such a file exists (as "/" does).
        if (!name_word ||
            (is_operator_word(*name_word) && stat(to_byte_string(*name_word), &st) != 0)) {
            error_raise(ERR_MISSING_FILE_NAME | ERRF_NAME);
        }
        ++cursor_;
        if (flags & EXPR_SKIP) return Operand{};
        const CharString name = glob_one(*name_word, ONE_AMBIGUOUS);
        const char* path = to_byte_string(name);
        switch (letter) {
            case 'r':
                return truth_operand(access(path, R_OK) == 0);
            case 'w':
                return truth_operand(access(path, W_OK) == 0);
            case 'x':
                return truth_operand(access(path, X_OK) == 0);
            default:
                break;
        }
        if ((letter == 'l' ? lstat(path, &st) : stat(path, &st)) != 0) return truth_operand(false);
        switch (letter) {
            case 'f':
                return truth_operand(S_ISREG(st.st_mode));
            case 'd':
                return truth_operand(S_ISDIR(st.st_mode));
            case 'p':
                return truth_operand(S_ISFIFO(st.st_mode));
            case 'l':
                return truth_operand(S_ISLNK(st.st_mode));
            case 's':
                return truth_operand(S_ISSOCK(st.st_mode));
            case 'z':
                return truth_operand(st.st_size == 0);
            case 'o':
                return truth_operand(st.st_uid == shell.real_uid);
            default:  // 'e'
                return truth_operand(true);
        }
    }

    // "{" words "}": 1 when the command succeeds. The cursor is on the "{".
    Operand command_form(int flags) {
        const std::size_t first = ++cursor_;
        std::size_t end = first;
        while (end < words_.size() && !equals(words_[end], "}")) ++end;
        if (end == words_.size()) error_raise(ERR_MISSING | ERRF_NAME, '}');
        cursor_ = end + 1;
        if (flags & EXPR_SKIP) return Operand{};
        return truth_operand(reentry.run_brace_command(words_, first, end) == 0);
    }

    const WordVector& words_;
    std::size_t& cursor_;
    int& depth_ = expression_depth;
};

}  // namespace

std::int32_t eval_expression(const WordVector& words, std::size_t& cursor, int flags) {
    return Evaluator(words, cursor).level1(flags);
}
