#include "input/lexer.h"

#include "core/errors.h"
#include "core/shell.h"
#include "input/history.h"

LexerState lexer;

namespace {

constexpr std::size_t WORD_ROOM = WORD_BUFFER_SIZE - 5;  // characters a word may hold
constexpr std::size_t DOLLAR_ROOM = 128;                 // a $ construct's text, with room to end
constexpr std::size_t NAME_ROOM = 31;                    // characters of a name in a $ construct
constexpr std::size_t SUBSCRIPT_ROOM = 67;               // characters of a subscript, with ]
// A $ construct in a subscript is checked by a nested scan. Every level adds at least four
// characters ("$x[" and "]") to the subscript around it, so nothing nested deeper than this fits
// in SUBSCRIPT_ROOM; at this depth a $ in a subscript is read as a plain character, and the
// subscript overflows instead of the stack.
constexpr int DOLLAR_NESTING_MAX = 32;

int dollar_nesting = 0;  // scans of $ constructs under way

bool is_blank(int c) {
    return c == ' ' || c == '\t';
}

bool is_name_char(int c) {
    return c == '_' || char_is_alnum(static_cast<Char>(c));
}

// A character a $ construct's name may begin with: a letter or _, unquoted.
bool is_name_start(int c) {
    return c == '_' || char_is_alpha(static_cast<Char>(c));
}

void scan_dollar();

}  // namespace

void unget_char(int c) {
    lexer.lex_pushback = c;
}

void unget_deferred(int c) {
    lexer.lex_deferred = c;
}

void lex_push_text(CharView text) {
    std::size_t unread = lexer.lookahead_text.size() - lexer.lookahead_pos;
    if (text.size() + unread >= LOOKAHEAD_SIZE - 2) {
        error_defer(ERR_EXPANSION_OVERFLOW);
        return;
    }
    CharString joined(text);
    joined.append(lexer.lookahead_text, lexer.lookahead_pos);
    lexer.lookahead_text = std::move(joined);
    lexer.lookahead_pos = 0;
}

void lex_reset() {
    lexer.lex_pushback = 0;
    lexer.lex_deferred = 0;
    lexer.lookahead_text.clear();
    lexer.lookahead_pos = 0;
    lexer.history_active = false;
    lexer.history_words.clear();
}

bool lex_idle() {
    return !(lexer.lex_pushback | lexer.lex_deferred) && !lexer.history_active &&
           lexer.lookahead_pos >= lexer.lookahead_text.size();
}

int get_char(int request) {
    // Nothing pushed back or put ahead: the next character comes straight from the input.
    if (!(lexer.lex_pushback | lexer.lex_deferred) && !lexer.history_active &&
        lexer.lookahead_pos >= lexer.lookahead_text.size()) {
        int c = read_char(false);
        if ((c != '$' || !(request & SUB_DOLLAR)) &&
            (c != lexer.history_char || c == 0 || !(request & SUB_HISTORY))) {
            return c;
        }
        unread_char(c);
    }
    for (;;) {
        if (lexer.lex_pushback) {
            int c = lexer.lex_pushback;
            lexer.lex_pushback = 0;
            return c;
        }
        if (lexer.lookahead_pos < lexer.lookahead_text.size()) {
            Char c = lexer.lookahead_text[lexer.lookahead_pos++];
            if (lexer.lookahead_pos == lexer.lookahead_text.size()) {
                lexer.lookahead_text.clear();
                lexer.lookahead_pos = 0;
            }
            // Text put back by the $ scan must not end the word or open a quote again.
            if (char_is(c, CC_META | CC_QUOTE | CC_BACKQUOTE)) c = quoted(c);
            return c;
        }
        if (lexer.lex_deferred) {
            int c = lexer.lex_deferred;
            lexer.lex_deferred = 0;
            return c;
        }
        if (lexer.history_active) {
            const CharString& w = lexer.history_words[lexer.history_word];
            if (lexer.history_pos < w.size()) return w[lexer.history_pos++];
            ++lexer.history_word;
            lexer.history_pos = 0;
            if (lexer.history_word < lexer.history_words.size() &&
                !(lexer.history_words[lexer.history_word].size() &&
                  lexer.history_words[lexer.history_word][0] == '\n')) {
                return ' ';
            }
            lexer.history_active = false;
            lexer.history_words.clear();
            continue;
        }
        int c = read_char(false);
        if (c == '$' && (request & SUB_DOLLAR)) {
            scan_dollar();
            continue;
        }
        if (c != 0 && c == lexer.history_char && (request & SUB_HISTORY)) {
            history_substitute(0);
            continue;
        }
        return c;
    }
}

namespace {

// Checks the syntax of a $ construct and puts its text back in front of the input unchanged,
// so that it becomes part of the current word. Variables are not looked up here.
void scan_dollar() {
    struct Nesting {
        Nesting() noexcept { ++dollar_nesting; }
        ~Nesting() { --dollar_nesting; }
    } nesting;
    CharString text;
    text += '$';
    int c = get_char(SUB_HISTORY);
    if (is_blank(c) || c == '\n') {
        unget_deferred(c);
        unget_char(quoted('$'));
        return;
    }
    // Ends the scan: c, the character that ended it, is put back behind the text.
    auto finish = [&](int after) {
        unget_deferred(after);
        lex_push_text(text);
    };
    auto fail = [&](ErrorCode error, int after) {
        error_defer(error);
        finish(after);
    };
    bool braced = false;
    if (c == '{') {
        braced = true;
        text += static_cast<Char>(c);
        c = get_char(SUB_HISTORY);
    }
    bool count_or_test = false;
    if (c == '#' || c == '?') {
        count_or_test = true;
        text += static_cast<Char>(c);
        c = get_char(SUB_HISTORY);
    }
    bool may_follow = true;  // a subscript or modifiers may follow the name
    if (c == '<' || c == '$' || c == '!') {
        text += static_cast<Char>(c);
        if (count_or_test) return fail(ERR_DOLLAR_SPECIAL_WITH_COUNT, get_char(SUB_HISTORY));
        may_follow = false;
        c = get_char(SUB_HISTORY);
    } else if (c == '\n') {
        error_defer(ERR_NEWLINE_IN_NAME);
        return finish('\n');
    } else if (c == '*') {
        text += static_cast<Char>(c);
        if (count_or_test) return fail(ERR_STAR_WITH_COUNT, get_char(SUB_HISTORY));
        c = get_char(SUB_HISTORY);
    } else if (char_is_digit(static_cast<Char>(c))) {
        while (char_is_digit(static_cast<Char>(c))) {
            text += static_cast<Char>(c);
            c = get_char(SUB_HISTORY);
        }
    } else if (is_name_start(c)) {
        std::size_t length = 0;
        while (is_name_char(c)) {
            if (++length > NAME_ROOM) return fail(ERR_VAR_NAME_TOO_LONG, c);
            text += static_cast<Char>(c);
            c = get_char(SUB_HISTORY);
        }
    } else {
        return fail(ERR_ILLEGAL_VAR_NAME, c);
    }
    if (may_follow && c == '[') {
        text += static_cast<Char>(c);
        // The characters after the [ are counted, the ] included.
        for (std::size_t length = 1;; ++length) {
            c = get_char(dollar_nesting < DOLLAR_NESTING_MAX ? SUB_ALL : SUB_HISTORY);
            if (c == '\n') return fail(ERR_NEWLINE_IN_INDEX, c);
            if (length > SUBSCRIPT_ROOM) return fail(ERR_SELECTOR_OVERFLOW, c);
            text += static_cast<Char>(c);
            if (c == ']') break;
        }
        c = get_char(SUB_HISTORY);
    }
    while (may_follow && c == ':') {
        text += static_cast<Char>(c);
        c = get_char(SUB_HISTORY);
        bool global = false, repeat = false;
        while ((c == 'g' && !global) || (c == 'a' && !repeat)) {
            (c == 'g' ? global : repeat) = true;
            text += static_cast<Char>(c);
            c = get_char(SUB_HISTORY);
        }
        if (c == '\n' && (global || repeat)) {
            unget_deferred(c);
            error_raise(ERR_VARIABLE_SYNTAX);
        }
        if (c != 'h' && c != 't' && c != 'r' && c != 'q' && c != 'x' && c != 'e' && c != 's') {
            return fail(ERR_UNKNOWN_VAR_MODIFIER, c);
        }
        text += static_cast<Char>(c);
        if (c == 's') {
            int delimiter = get_char(SUB_HISTORY);
            if (delimiter == 0 || is_name_char(delimiter) || is_blank(delimiter) ||
                delimiter == '\n' || delimiter < 0) {
                return fail(ERR_BAD_SUBSTITUTE, delimiter);
            }
            text += static_cast<Char>(delimiter);
            for (int seen = 0; seen < 2;) {
                c = get_char(SUB_HISTORY);
                if (c == '\n') return fail(ERR_BAD_SUBSTITUTE, c);
                // The collection is bounded: a longer substitution is refused here.
                if (text.size() >= DOLLAR_ROOM - 2) return fail(ERR_EXPANSION_OVERFLOW, c);
                text += static_cast<Char>(c);
                if (c == delimiter) ++seen;
            }
        }
        c = get_char(SUB_HISTORY);
    }
    if (braced) {
        if (c != '}') {
            error_defer(ERR_MISSING, '}');
            return finish(c);
        }
        text += static_cast<Char>(c);
        c = get_char(SUB_HISTORY);
    }
    finish(c);
}

// Reads one word into a fresh string.
// Reads one word into word, which is empty on entry (a node's string, whose room is reused).
void lex_word(CharString& word) {
    int c;
    int request = SUB_ALL;
    int quote = 0;
    // A word that reaches the room left is refused; it is cut to its first character, and the
    // rest of the line is read as further words of the erroneous line.
    auto full = [&]() {
        if (word.size() < WORD_ROOM) return false;
        error_defer(ERR_WORD_TOO_LONG);
        word.resize(1);
        return true;
    };
    // A backslash outside quotes: the character after it is quoted, the backslash kept, except
    // that a quoted history character stands alone.
    auto store_escaped = [&](int next) {
        if (next != lexer.history_char || next == 0) word += '\\';
        word += quoted(next);
    };
    for (;;) {
        do c = get_char(SUB_ALL);
        while (is_blank(c));
        if (!char_is(static_cast<Char>(c), CC_META | CC_ESCAPE)) break;
        switch (c) {
            case '&':
            case '|':
            case '<':
            case '>': {
                word += static_cast<Char>(c);
                int next = get_char(SUB_ALL);
                if (next == c) {
                    word += static_cast<Char>(c);
                } else {
                    unget_char(next);
                }
                return;
            }
            case ';':
            case '(':
            case ')':
            case '\n':
                word += static_cast<Char>(c);
                return;
            case '#': {
                if (shell.interactive) break;
                int before = 0;
                while ((c = get_char(0)) != '\n') before = c;
                if (before == '\\') continue;
                word += '\n';
                return;
            }
            case '\\': {
                int next = get_char(0);
                if (next == '\n') {
                    if (input.one_line_count == 1) input.one_line_count = 2;
                    continue;
                }
                store_escaped(next);
                c = get_char(request);
                break;
            }
            default:
                break;
        }
        break;
    }
    for (;;) {
        if (quote) {
            if (c == quote) {
                quote = 0;
                request = SUB_ALL;
            } else if (c == '\\') {
                int next = get_char(0);
                if (next != 0 && next == lexer.history_char) {
                    c = quoted(next);
                } else {
                    unget_char(next == '\n' ? quoted('\n') : next);
                }
            } else if (c == '\n') {
                error_defer(ERR_UNMATCHED, quote);
                unget_char(c);
                return;
            }
        } else if (char_is(static_cast<Char>(c), CC_META | CC_QUOTE | CC_BACKQUOTE | CC_ESCAPE)) {
            if (c == '\\') {
                int next = get_char(0);
                if (next == '\n') {
                    if (input.one_line_count == 1) input.one_line_count = 2;
                    return;
                }
                if (full()) return;
                store_escaped(next);
                c = get_char(request);
                continue;
            }
            if (char_is(static_cast<Char>(c), CC_QUOTE | CC_BACKQUOTE)) {
                quote = c;
                request = c == '"' ? SUB_ALL : SUB_HISTORY;
            } else if (!(c == '#' && shell.interactive)) {
                unget_char(c);
                return;
            }
        }
        if (full()) {
            unget_char(c);
            return;
        }
        word += static_cast<Char>(c);
        c = get_char(request);
    }
}

}  // namespace

bool lex_line(WordList& line) {
    input_tell(lexer.line_start);
    line.clear();
    lexer.had_history = false;
    lexer.current_words = &line;
    int c;
    do c = read_char(false);
    while (is_blank(c));
    if (c != 0 && c == lexer.quick_sub_char && shell.interactive) {
        history_substitute(c);
    } else {
        unread_char(c);
    }
    for (;;) {
        // The word is read aside and then linked in: while it is read, the line holds only the
        // words before it (what !# refers to).
        static CharString word;
        word.clear();
        lex_word(word);
        LexWord* w = line.append_copy(word);
        if (!w->word.empty() && w->word[0] == '\n') break;
    }
    lexer.current_words = nullptr;
    return lexer.had_history;
}
