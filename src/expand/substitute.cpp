#include "expand/substitute.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/modifiers.h"
#include "core/shell.h"
#include "input/lexer.h"
#include "vars/environment.h"
#include "vars/variables.h"

namespace {

constexpr std::size_t WORD_ROOM = 1019;         // characters of a word; 1020 with its end
constexpr std::size_t SUBSCRIPT_ROOM = 119;     // characters between [ and ]
constexpr std::size_t DOLLAR_LINE_ROOM = 1022;  // characters of a line read by $<
constexpr std::size_t MODIFIER_ROOM = 1020;     // Chars of the modifier list of one construct
constexpr int BUDGET_UNLIMITED = 10000;         // the word budget of g and q: every word
constexpr std::int64_t NUMBER_CAP = INT32_MAX + std::int64_t{1};  // larger numbers stop here

// A repeated (a) s stops after this many replacements even when its left text is still found:
// a right text that contains the left one, or an empty left text, would repeat forever. The
// word also stops growing once it is longer than a word may be (see substitute_text).
constexpr int REPEAT_ROUNDS = 1020;

/// One modifier of a $ construct.
struct Modifier {
    int letter = 0;
    CharString left, right;  ///< s: the text searched for and its replacement
};

/// The state of one substitution: the input words, the two pushbacks and the value of the
/// construct being delivered. Invariant: current points into value_words, or at the empty
/// word that stands for a word moved to the lexer's lookahead, or is null.
struct SubstState {
    const WordVector* input = nullptr;    ///< the words read; null when none
    std::size_t input_word = 0;           ///< index of the word being read
    std::size_t input_pos = 0;            ///< position in it
    int builder_pushback = 0;             ///< in front of everything (word builder); 0 none
    int raw_pushback = 0;                 ///< in front of the input words ($ reader); 0 none
    WordVector value_words;               ///< the selected words of the construct
    std::size_t value_next = 0;           ///< index of the next value word to make current
    const CharString* current = nullptr;  ///< the value word being delivered
    std::size_t current_pos = 0;          ///< position in it
    std::vector<Modifier> modifiers;      ///< the construct's modifiers, in order
    int budget = 0;                       ///< value words the modifiers may still change
    bool repeat = false;                  ///< the a flag
};
SubstState subst;

const CharString EMPTY_WORD;

bool is_quote_char(int c) {
    return c == '\'' || c == '"' || c == '`';
}

// The quoting rule for characters of values and of the lookahead: those that would quote
// something are themselves quoted.
int value_char(Char c) {
    return char_is(c, CC_QUOTE | CC_BACKQUOTE | CC_ESCAPE) ? quoted(c) : c;
}

// The next character of the input words: a blank between two words, SUBST_END after the last.
int subst_read_char() {
    const WordVector* in = subst.input;
    if (in && subst.input_word < in->size()) {
        const CharString& word = (*in)[subst.input_word];
        if (subst.input_pos < word.size()) return word[subst.input_pos++];
        subst.input_pos = 0;
        if (++subst.input_word < in->size()) return ' ';
    }
    subst.input = nullptr;  // the end is final, and the words need not outlive it
    return SUBST_END;
}

int raw_get() {
    if (subst.raw_pushback) return std::exchange(subst.raw_pushback, 0);
    return subst_read_char();
}

bool lookahead_next(int& c) {
    if (lexer.lookahead_pos >= lexer.lookahead_text.size()) return false;
    c = lexer.lookahead_text[lexer.lookahead_pos++];
    if (lexer.lookahead_pos == lexer.lookahead_text.size()) {
        lexer.lookahead_text.clear();
        lexer.lookahead_pos = 0;
    }
    return true;
}

bool value_in_progress() {
    return subst.current || subst.value_next < subst.value_words.size() ||
           lexer.lookahead_pos < lexer.lookahead_text.size();
}

// The first place at or after from where left stands in word, quote marks ignored (values carry
// none, while the lexer marks some characters of a modifier's text).
std::size_t find_unmarked(const CharString& word, const CharString& left, std::size_t from) {
    if (left.size() > word.size()) return CharString::npos;
    for (std::size_t at = from; at + left.size() <= word.size(); ++at) {
        std::size_t i = 0;
        while (i < left.size() && trim(word[at + i]) == trim(left[i])) ++i;
        if (i == left.size()) return at;
    }
    return CharString::npos;
}

// Applies one s modifier; false when its left text is not found.
bool substitute_text(CharString& word, const Modifier& mod) {
    std::size_t at = find_unmarked(word, mod.left, 0);
    if (at == CharString::npos) return false;
    word.replace(at, mod.left.size(), mod.right);
    if (!subst.repeat) return true;
    // Bounded: see REPEAT_ROUNDS. A word past the word room is refused later by the reader.
    const std::size_t span = mod.left.size();
    for (int round = 1; round < REPEAT_ROUNDS && word.size() <= WORD_ROOM; ++round) {
        // Each round takes the first match in the whole new word. The text before the last
        // replacement is unchanged and held no match, so the first match can only start where
        // it reaches into the replacement: the search resumes there, not at 0, so that a long
        // left text does not cost a scan of the whole word in every round.
        at = span == 0 ? 0 : at - std::min(at, span - 1);
        at = find_unmarked(word, mod.left, at);
        if (at == CharString::npos) break;
        word.replace(at, mod.left.size(), mod.right);
    }
    return true;
}

// Runs the construct's modifiers on a copy of word; true when at least one applied.
bool apply_modifiers(CharString& word) {
    bool applied = false;
    for (const Modifier& mod : subst.modifiers) {
        if (mod.letter == 's') {
            if (!substitute_text(word, mod)) break;
        } else {
            std::optional<CharString> changed = word_modifier(word, mod.letter);
            if (!changed) break;
            // Every letter but q and x shortens a word it changes, and q and x change a word
            // once only, so the repetition ends.
            while (subst.repeat) {
                std::optional<CharString> again = word_modifier(*changed, mod.letter);
                if (!again || *again == *changed) break;
                changed = std::move(again);
            }
            word = std::move(*changed);
        }
        applied = true;
    }
    return applied;
}

// The modifier step: a value word becomes current, changed by the modifiers while the budget
// lasts. A changed word is read from the lexer's lookahead.
void make_current(const CharString& word) {
    subst.current_pos = 0;
    if (subst.modifiers.empty() || subst.budget == 0) {
        subst.current = &word;
    } else {
        CharString changed = word;
        if (apply_modifiers(changed) && subst.budget != BUDGET_UNLIMITED) --subst.budget;
        lex_push_text(changed);
        subst.current = &EMPTY_WORD;
    }
    // A deferred error of the construct (Bad substitute, an overflowing lookahead) now.
    error_raise_pending();
}

[[noreturn]] void raise_with_name(ErrorCode code, const CharString& name) {
    error_set_name(name);
    error_raise(code | ERRF_NAME);
}

// One line of the shell's saved standard input, without its newline, read a byte at a time so
// that the rest stays for whoever reads next.
CharString read_saved_stdin_line() {
    std::string line;
    for (;;) {
        char byte;
        ssize_t n = read(fds.saved_stdin, &byte, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || byte == '\n') break;
        // A NUL byte would end the word in every later conversion; it is dropped.
        if (byte == 0) continue;
        if (line.size() >= DOLLAR_LINE_ROOM) error_raise(ERR_DOLLAR_LINE_TOO_LONG);
        line += byte;
    }
    return to_char_string(line);
}

// Reads a decimal number (locale digits) from text at p; false when no digit stands there.
bool read_number(const CharString& text, std::size_t& p, std::int64_t& n) {
    if (p >= text.size() || !char_is_digit(text[p])) return false;
    n = 0;
    for (; p < text.size() && char_is_digit(text[p]); ++p) {
        n = std::min(n * 10 + (low_byte(text[p]) - '0'), NUMBER_CAP);
    }
    return true;
}

// Reads a subscript after its [ and selects words [lo, hi) of a value of count words.
void read_subscript(const CharString& name, std::size_t count, std::size_t& lo, std::size_t& hi) {
    CharString text;
    for (;;) {
        int c = subst_get_char(true);
        if (c == '\n' || c == SUBST_END) error_raise(ERR_INCOMPLETE_SUBSCRIPT);
        if (c == ']') break;
        if (text.size() >= SUBSCRIPT_ROOM) error_raise(ERR_VAR_NAME_TOO_LONG);
        text += static_cast<Char>(c);
    }
    if (value_in_progress()) error_raise(ERR_EXPANSION_BEFORE_BRACKET);
    if (text.empty()) error_raise(ERR_SYNTAX);
    const auto words = static_cast<std::int64_t>(count);
    std::size_t p = 0;
    auto at = [&](int c) { return p < text.size() && text[p] == c; };
    std::int64_t first = 1, last = words, n = 0;
    bool alone = false;
    if (read_number(text, p, n)) {
        if (n > words && !at('-') && !at('*')) raise_with_name(ERR_SUBSCRIPT_RANGE, name);
        first = n;
        if (p == text.size()) {
            last = n;
            alone = true;
        }
    }
    if (!alone) {
        if (at('*')) {
            ++p;
        } else if (at('-')) {
            ++p;
            if (read_number(text, p, n)) {
                if (n > words) raise_with_name(ERR_SUBSCRIPT_RANGE, name);
                last = n;
            }
        } else {
            error_raise(ERR_MISSING, '-');
        }
    }
    if (p != text.size()) error_raise(ERR_SYNTAX);
    if (first == 0 && last != 0) raise_with_name(ERR_SUBSCRIPT_RANGE, name);
    if (first == 0 || last < first) {
        lo = hi = 0;
        return;
    }
    lo = static_cast<std::size_t>(first - 1);
    hi = static_cast<std::size_t>(last);
}

// Reads the text of an s modifier after its letter. False (with Bad substitute deferred, to be
// raised when the value is delivered) when the delimiter is missing or invalid; next is then
// the character that stopped the reading.
bool read_substitute(std::vector<Modifier>& mods, std::size_t& used, int& next) {
    int delimiter = subst_get_char(false);
    if (delimiter == SUBST_END || delimiter == 0 || delimiter == '_' || delimiter == ' ' ||
        delimiter == '\t' || delimiter == '\n' || char_is_alnum(static_cast<Char>(delimiter))) {
        error_defer(ERR_BAD_SUBSTITUTE);
        next = delimiter;
        return false;
    }
    Modifier mod{'s', {}, {}};
    used += 3;  // the delimiter that opens, separates and closes
    for (CharString* text : {&mod.left, &mod.right}) {
        for (;;) {
            int c = subst_get_char(false);
            if (c == delimiter) break;
            if (c == '\n' || c == SUBST_END) {
                error_defer(ERR_BAD_SUBSTITUTE);
                next = c;
                return false;
            }
            // The list has room for MODIFIER_ROOM Chars; a longer text is refused with the
            // message of an overflowing substitution.
            if (++used > MODIFIER_ROOM) error_raise(ERR_SUBSTITUTION_OVERFLOW);
            *text += static_cast<Char>(c);
        }
    }
    mods.push_back(std::move(mod));
    return true;
}

// Reads the modifiers while next is ':'; leaves in next the character after the last one.
void read_modifiers(int& next, std::vector<Modifier>& mods, int& budget, bool& repeat) {
    std::size_t used = 0;
    while (next == ':') {
        budget = 1;
        repeat = false;
        int letter = subst_get_char(false);
        bool global = false;
        while ((letter == 'g' && !global) || (letter == 'a' && !repeat)) {
            if (letter == 'g') {
                global = true;
                budget = BUDGET_UNLIMITED;
            } else {
                repeat = true;
            }
            ++used;
            letter = subst_get_char(false);
        }
        if (++used > MODIFIER_ROOM) error_raise(ERR_SUBSTITUTION_OVERFLOW);
        switch (letter) {
            case 'q':
                budget = BUDGET_UNLIMITED;
                [[fallthrough]];
            case 'h':
            case 't':
            case 'r':
            case 'e':
            case 'x':
                mods.push_back(Modifier{letter, {}, {}});
                break;
            case 's':
                if (!read_substitute(mods, used, next)) return;
                break;
            default:
                error_raise(ERR_BAD_COLON_MODIFIER, letter == SUBST_END ? ' ' : letter & 0xff);
        }
        next = subst_get_char(false);
    }
}

enum class Form { PLAIN, COUNT, TEST };

CharString truth(bool b) {
    return chars(b ? "1" : "0");
}

// The $ reader, entered after a $: reads one construct and makes its value the one delivered.
void read_dollar() {
    int c = subst_get_char(false);
    bool braced = false;
    if (c == '{') {
        braced = true;
        c = subst_get_char(false);
    }
    Form form = Form::PLAIN;
    // The lexer hands a # back quoted, as it does every character that could end a word.
    if ((c & TRIM) == '#') {
        form = Form::COUNT;
        c = subst_get_char(false);
    } else if (c == '?') {
        form = Form::TEST;
        c = subst_get_char(false);
    }

    WordVector value;
    bool modifiable = false;
    std::optional<std::size_t> count;
    int next = 0;
    bool have_next = false;

    if (c == '\n' || c == SUBST_END) {
        error_raise(ERR_SYNTAX);
    } else if (c == '!' || c == '$') {
        if (form != Form::PLAIN) error_raise(ERR_SYNTAX);
        if (c == '$') {
            value.push_back(shell.pid_text);
        } else if (session.last_background_pid != 0) {
            value.push_back(format_number(static_cast<std::int32_t>(session.last_background_pid)));
        }
    } else if (c == quoted('<')) {
        if (form == Form::TEST) error_raise(ERR_NOT_ALLOWED, "$?<");
        if (form == Form::COUNT) error_raise(ERR_NOT_ALLOWED, "$?#");
        value.push_back(*word_modifier(read_saved_stdin_line(), 'q'));
    } else if (c == '*') {
        next = subst_get_char(false);
        have_next = true;
        const WordVector* argv = var_lookup("argv");
        if (form == Form::TEST) {
            value.push_back(truth(argv != nullptr));
        } else if (form == Form::COUNT) {
            count = argv ? argv->size() : 0;
        } else {
            if (argv) value = *argv;
            modifiable = true;
        }
    } else if (char_is_digit(static_cast<Char>(c))) {
        std::int64_t n = 0;
        for (; char_is_digit(static_cast<Char>(c)); c = subst_get_char(false)) {
            n = std::min(n * 10 + ((c & 0xff) - '0'), NUMBER_CAP);
        }
        next = c;
        have_next = true;
        if (form == Form::COUNT) error_raise(ERR_NOT_ALLOWED, "$#<num>");
        if (n == 0) {
            if (form == Form::TEST) {
                value.push_back(truth(shell.has_script_name));
            } else {
                if (!shell.has_script_name) error_raise(ERR_NO_FILE_FOR_ZERO);
                value.push_back(shell.script_name);
                modifiable = true;
            }
        } else {
            if (form == Form::TEST) error_raise(ERR_DOLLAR_QUERY_NOT_ALLOWED);
            if (n >= NUMBER_CAP) raise_with_name(ERR_SUBSCRIPT_RANGE, chars("argv"));
            const WordVector* argv = var_lookup("argv");
            if (argv && static_cast<std::size_t>(n) <= argv->size())
                value.push_back((*argv)[n - 1]);
            modifiable = true;
        }
    } else {
        if (c != '_' && !char_is_alpha(static_cast<Char>(c))) error_raise(ERR_VAR_ALPHANUMERIC);
        CharString name;
        for (; c == '_' || char_is_alnum(static_cast<Char>(c)); c = subst_get_char(false)) {
            if (name.size() >= VAR_NAME_ROOM) error_raise(ERR_VAR_NAME_TOO_LONG);
            name += static_cast<Char>(c);
        }
        next = c;
        have_next = true;
        const WordVector* var = var_lookup(name);
        if (form == Form::TEST) {
            value.push_back(truth(var || env_lookup(name)));
        } else if (!var) {
            // The environment stands in for an unset variable: one word, never counted or
            // subscripted.
            std::optional<CharView> env = env_lookup(name);
            if (!env) error_undefined_variable(name);
            value.emplace_back(*env);
            modifiable = true;
        } else {
            std::size_t lo = 0, hi = var->size();
            if (form == Form::PLAIN && next == '[') {
                read_subscript(name, var->size(), lo, hi);
                next = subst_get_char(false);
            }
            if (form == Form::COUNT) {
                count = hi - lo;
            } else {
                value.assign(var->begin() + static_cast<std::ptrdiff_t>(lo),
                             var->begin() + static_cast<std::ptrdiff_t>(hi));
                modifiable = true;
            }
        }
    }

    std::vector<Modifier> mods;
    int budget = 0;
    bool repeat = false;
    if (modifiable) read_modifiers(next, mods, budget, repeat);

    // The character after the construct goes back in front of the raw input, so that it is
    // read after the value.
    if (braced) {
        if (!have_next) next = raw_get();
        if (next != '}') error_raise(ERR_MISSING, '}');
    } else if (have_next) {
        subst.raw_pushback = next;
    }

    subst.value_words = std::move(value);
    subst.value_next = 0;
    subst.current = nullptr;
    subst.modifiers = std::move(mods);
    subst.budget = budget;
    subst.repeat = repeat;
    if (count) lex_push_text(format_number(static_cast<std::int32_t>(*count)));
    // A deferred error of the construct is raised when its value is delivered; a value of no
    // words is delivered at once. Left pending, it would be raised by whichever construct
    // delivers a word next, perhaps in another command.
    if (count || subst.value_words.empty()) error_raise_pending();
}

// Appends to a word under construction ("Word too long" past the room of a word).
void append(CharString& word, int c) {
    if (word.size() >= WORD_ROOM) error_raise(ERR_WORD_TOO_LONG);
    word += static_cast<Char>(c);
}

// Reads a quoted part after its opening quote character into word.
void read_quoted_part(CharString& word, int quote) {
    if (quote == '`') append(word, '`');
    for (;;) {
        int c = subst_get_char(quote == '"');
        if (c == quote) break;
        if (c == '\n' || c == SUBST_END) error_raise(ERR_UNMATCHED, quote);
        Char stored;
        if (quote == '\'') {
            stored = quoted(c);
        } else if (quote == '"') {
            // A backquote stays plain: command substitution still happens in double quotes.
            stored = c == '`' ? static_cast<Char>(c) : quoted(c);
        } else {
            stored = static_cast<Char>(c);
        }
        // A backslash-newline inside quotes: the newline takes the backslash's place.
        if (c == quoted('\n') && !word.empty()) {
            word.back() = stored;
        } else {
            append(word, stored);
        }
    }
    if (quote == '`') append(word, '`');
}

// Builds one word into words; false once the input is exhausted.
bool build_word(WordVector& words) {
    CharString word;
    int c;
    for (;;) {
        do c = subst_get_char(true);
        while (c == ' ' || c == '\t');
        if (c == SUBST_END) return false;
        if (c == '\n') {
            words.emplace_back();
            return true;
        }
        if (c == '\\') {
            c = subst_get_char(false);
            if (c == '\n' || c == SUBST_END) continue;  // the backslash vanishes
            append(word, quoted(c));
        } else if (is_quote_char(c)) {
            read_quoted_part(word, c);
        } else {
            append(word, c);
        }
        break;
    }
    // The rest of the word.
    for (;;) {
        c = subst_get_char(true);
        if (c == '\\') {
            c = subst_get_char(false);
            if (c == '\n') {
                c = ' ';
            } else if (c != SUBST_END) {
                c = quoted(c);
            }
        }
        if (c == SUBST_END) break;
        if (c == ' ' || c == '\t' || c == '\n') {
            subst.builder_pushback = c;
            break;
        }
        if (is_quote_char(c)) {
            read_quoted_part(word, c);
        } else {
            append(word, c);
        }
    }
    words.push_back(std::move(word));
    return true;
}

}  // namespace

void subst_begin(const WordVector& words) {
    subst.input = &words;
    subst.input_word = 0;
    subst.input_pos = 0;
    subst.builder_pushback = 0;
    subst.raw_pushback = 0;
    subst.value_words.clear();
    subst.value_next = 0;
    subst.current = nullptr;
    subst.modifiers.clear();
    subst.budget = 0;
    subst.repeat = false;
    lexer.lookahead_text.clear();
    lexer.lookahead_pos = 0;
}

void subst_unget_char(int c) {
    subst.builder_pushback = c;
}

int subst_get_char(bool expand_dollar) {
    for (;;) {
        if (subst.builder_pushback) return std::exchange(subst.builder_pushback, 0);
        int c;
        if (lookahead_next(c)) return value_char(static_cast<Char>(c));
        if (subst.current) {
            if (subst.current_pos < subst.current->size()) {
                return value_char((*subst.current)[subst.current_pos++]);
            }
            subst.current = nullptr;
            if (subst.value_next < subst.value_words.size()) {
                make_current(subst.value_words[subst.value_next++]);
                return ' ';
            }
            continue;
        }
        if (subst.value_next < subst.value_words.size()) {
            make_current(subst.value_words[subst.value_next++]);
            continue;
        }
        c = raw_get();
        if (c == '$' && expand_dollar) {
            read_dollar();
            continue;
        }
        return c;
    }
}

WordVector substitute_words(const WordVector& words) {
    WordVector result;
    SubstReader reader(words);
    while (build_word(result)) {
    }
    return result;
}

void substitute_command_words(CommandNode& node) {
    if (shell.no_execute) return;
    // The words are built in a vector that keeps its room from one command to the next: it
    // takes the place of the node's words, whose vector becomes the next one's.
    static WordVector built;
    for (const CharString& word : node.words) {
        for (Char c : word) {
            if (char_is(c, CC_DOLLAR | CC_QUOTE | CC_BACKQUOTE | CC_ESCAPE)) {
                built.clear();
                {
                    SubstReader reader(node.words);
                    while (build_word(built)) {
                    }
                }
                node.words.swap(built);
                built.clear();
                return;
            }
        }
    }
}

std::optional<CharString> substitute_one_word(const CharString& word) {
    if (shell.no_execute) return std::nullopt;
    WordVector result = substitute_words(WordVector{word});
    if (result.size() != 1) raise_with_name(ERR_AMBIGUOUS, word);
    return std::move(result[0]);
}

void subst_end() {
    subst.input = nullptr;
    subst.value_words.clear();  // the room is kept for the next substitution
    subst.value_next = 0;
    subst.current = nullptr;
    subst.modifiers.clear();
}
