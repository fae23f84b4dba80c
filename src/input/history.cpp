#include "input/history.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/modifiers.h"
#include "core/shell.h"
#include "core/signal_mask.h"
#include "input/input_buffer.h"
#include "input/lexer.h"
#include "vars/variables.h"

HistoryState history;

HistoryEntry::~HistoryEntry() {
    std::unique_ptr<HistoryEntry> older = std::move(next);
    while (older) older = std::move(older->next);
}

std::int32_t HistoryEntry::reference_number() const {
    return static_cast<std::int32_t>(use_key + history.listings);
}

namespace {

constexpr std::size_t EVENT_TEXT_ROOM = 30;      // characters of an event's search text kept
constexpr std::size_t SUBSTITUTION_ROOM = 1020;  // characters of a word changed by :s
// A number read from digits stops growing at this value, which no event number or word index
// reaches, so that reading it cannot overflow.
constexpr std::int64_t NUMBER_CEILING = 1000000000000LL;

bool is_newline_word(const CharString& w) {
    return !w.empty() && w[0] == '\n';
}

// True when c is an unquoted character of the byte set.
bool one_of(const char* set, int c) {
    return c > 0 && c < 0x100 && std::strchr(set, c);
}

bool is_digit(int c) {
    return c >= '0' && c <= '9';
}

bool in_alias_text() {
    return history.alias_event_end != nullptr;
}

// The limit of the list: the first word of history as decimal digits; anything else is 0.
std::int64_t history_limit() {
    std::int64_t n = 0;
    for (Char c : var_value("history")) {
        if (!is_digit(c)) return 0;
        if (n < NUMBER_CEILING) n = n * 10 + (c - '0');
    }
    return n;
}

// Where text first stands in word, quote marks ignored on both sides: a typed
// search or left side cannot express the mark that the lexer put on escaped characters.
std::size_t find_text(const CharString& word, const CharString& text) {
    if (text.size() > word.size()) return CharString::npos;
    for (std::size_t at = 0; at + text.size() <= word.size(); ++at) {
        std::size_t i = 0;
        while (i < text.size() && trim(word[at + i]) == trim(text[i])) ++i;
        if (i == text.size()) return at;
    }
    return CharString::npos;
}

// The words of [first, end) up to a newline word.
WordVector words_of(const LexWord* first, const LexWord* end) {
    WordVector out;
    for (const LexWord* w = first; w != end && !is_newline_word(w->word); w = w->next) {
        out.push_back(w->word);
    }
    return out;
}

WordVector words_of(const HistoryEntry& e) {
    return words_of(e.words.first(), e.words.head());
}

// The aliased command, whose words stand in for the previous event inside alias text.
WordVector aliased_command() {
    return words_of(history.alias_event_start->next, history.alias_event_end);
}

// Gives an event not in the last-used order its reference number and its place there: the end
// (amortized constant time), unless listings since the other events' last uses raised their numbers
// above it.
void place_by_use(HistoryEntry& e, std::int64_t reference) {
    e.use_key = reference - history.listings;
    e.use = history.last_used.emplace_hint(history.last_used.end(), e.use_key, &e);
}

// Sets an event's reference number, moving it in the last-used order.
void set_reference(HistoryEntry& e, std::int64_t reference) {
    history.last_used.erase(e.use);
    place_by_use(e, reference);
}

// Selects the event of the given number; false (with the error recorded) when there is none.
bool select_number(std::int64_t n, WordVector& words) {
    for (HistoryEntry* e = history.history_list.get(); e; e = e->next.get()) {
        if (e->event_number == n) {
            set_reference(*e, history.current_event);
            words = words_of(*e);
            return true;
        }
    }
    error_defer(ERR_EVENT_NOT_FOUND, std::to_string(n).c_str());
    return false;
}

// The previous event: the aliased command inside alias text, else the last event entered.
bool select_previous(WordVector& words) {
    if (in_alias_text()) {
        words = aliased_command();
        return true;
    }
    return select_number(history.current_event, words);
}

// The ?text? form: the newest event with a word containing the text.
bool select_search(WordVector& words, int& found_index) {
    CharString text;
    for (;;) {
        int c = get_char(0);
        if (c == '?') break;
        if (c == '\n') {
            unread_char(c);
            break;
        }
        if (text.size() < EVENT_TEXT_ROOM) text += static_cast<Char>(c);
    }
    if (text.empty()) {
        if (history.search_text.empty()) {
            error_defer(ERR_NO_PREV_SEARCH);
            return false;
        }
        text = history.search_text;
    } else {
        history.search_text = text;
    }
    for (HistoryEntry* e = history.history_list.get(); e; e = e->next.get()) {
        if (e->event_number < 0 || e->words.empty() || is_newline_word(e->words.first()->word)) {
            continue;
        }
        WordVector candidate = words_of(*e);
        for (std::size_t i = 0; i < candidate.size(); ++i) {
            if (find_text(candidate[i], text) != CharString::npos) {
                found_index = static_cast<int>(i);
                words = std::move(candidate);
                return true;
            }
        }
    }
    error_defer(ERR_EVENT_NOT_FOUND, to_visible(text));
    return false;
}

// The numbered, relative and prefix forms, beginning with the character c. False when the
// history character turned out to be literal or no event was found.
bool select_by_text(int c, WordVector& words) {
    bool relative = c == '-';
    if (relative) c = get_char(0);
    CharString text;
    bool all_digits = true;
    std::int64_t n = 0;
    while (!char_is(static_cast<Char>(c), CC_META | CC_QUOTE | CC_BACKQUOTE | CC_ESCAPE) &&
           !one_of("^$*-%{}:", c)) {
        if (text.size() < EVENT_TEXT_ROOM) text += static_cast<Char>(c);
        if (is_digit(c)) {
            if (n < NUMBER_CEILING) n = n * 10 + (c - '0');
        } else {
            all_digits = false;
        }
        c = get_char(0);
    }
    unread_char(c);
    if (text.empty()) {
        // A literal history character; a - read after it stays in the text as well.
        if (relative) lex_push_text(CharView(chars("-")));
        unget_char(lexer.history_char);
        return false;
    }
    history.search_text = text;
    if (all_digits) {
        if (relative) n = history.current_event + (in_alias_text() ? 0 : 1) - n;
        return select_number(n, words);
    }
    for (HistoryEntry* e = history.history_list.get(); e; e = e->next.get()) {
        if (e->event_number < 0 || e->words.empty()) continue;
        const CharString& first = e->words.first()->word;
        if (first.size() >= text.size() && find_text(first.substr(0, text.size()), text) == 0) {
            words = words_of(*e);
            return true;
        }
    }
    error_defer(ERR_EVENT_NOT_FOUND, to_visible(text));
    return false;
}

// Chooses the event. False when nothing is to be substituted (an error was recorded, or the
// history character stands for itself).
bool select_event(bool quick, WordVector& words, int& found_index) {
    if (quick) return select_previous(words);
    int c = get_char(0);
    if (c != 0 && c == lexer.history_char) return select_previous(words);
    if (c == '#') {
        // The budget stays spent until the next line's alias expansion restores it: going
        // below 0 would let a line double its words without end.
        if (history.hash_ref_budget > 0) --history.hash_ref_budget;
        if (history.hash_ref_budget == 0) {
            error_defer(ERR_HISTORY_LOOP);
            return false;
        }
        if (lexer.current_words) {
            words = words_of(lexer.current_words->first(), lexer.current_words->head());
        }
        return true;
    }
    if (one_of("$%*:^", c)) {
        unget_char(c);
        return select_previous(words);
    }
    if (c == '?') return select_search(words, found_index);
    if (one_of("(=~", c)) {
        unread_char(c);
        unget_char(lexer.history_char);
        return false;
    }
    return select_by_text(c, words);
}

// The words chosen from the event, as a closed range of indexes.
struct Range {
    std::int64_t from;
    std::int64_t to;
};

// Reads one selector. For the first selector of a range the result is a range; for its end
// only to is used. False (error recorded) for % without a search match.
bool read_selector(bool first, std::int64_t last, int found_index, Range& r, bool& star) {
    int c = get_char(0);
    if (c == '%') {
        if (found_index < 0) {
            error_defer(ERR_BAD_ARG_SELECTOR);
            return false;
        }
        r.from = r.to = found_index;
    } else if (c == '-' && first) {
        r.from = 0;
        r.to = last;
        unread_char(c);
    } else if (c == '^') {
        r.from = r.to = 1;
    } else if (c == '$') {
        r.from = r.to = last;
    } else if (c == '*') {
        if (first) r.from = 1;
        r.to = last;
        star = first;
    } else if (is_digit(c)) {
        std::int64_t n = 0;
        while (is_digit(c)) {
            if (n < NUMBER_CEILING) n = n * 10 + (c - '0');
            c = get_char(0);
        }
        unread_char(c);
        if (n >= NUMBER_CEILING) n = last + 1;
        r.from = r.to = n;
    } else {
        unread_char(c);
        if (first) {
            r.from = 0;
            r.to = last;
        } else {
            r.to = last - 1;
        }
    }
    return true;
}

// Reads the selection after the event; false after an error.
bool read_selection(std::int64_t last, int found_index, Range& r) {
    bool star = false;  // the first selector was *: an empty selection is no error
    if (!read_selector(true, last, found_index, r, star)) return false;
    int c = get_char(0);
    if (c == '*') {
        unget_char(c);
        c = '-';
    }
    if (c == '-') {
        Range end{0, 0};
        bool unused = false;
        if (!read_selector(false, last, found_index, end, unused)) return false;
        r.to = end.to;
    } else {
        unread_char(c);
        // A $ after the selector is text that follows the substituted words.
        if (c == '$' || star) return true;
    }
    if (r.from > r.to || r.to > last) {
        error_defer(ERR_BAD_ARG_SELECTOR);
        return false;
    }
    return true;
}

// Reads the left side of :s after its delimiter into search_text; false after an error.
bool read_left_side(int delimiter) {
    CharString left;
    for (;;) {
        int c = get_char(0);
        if (c == delimiter) break;
        if (c == '\n') {
            unread_char(c);
            break;
        }
        if (c == '\\') {
            int next = get_char(0);
            if (next == delimiter || next == '\\') {
                c = next;
            } else {
                unget_char(next);  // the backslash stays; the character is read again
            }
        }
        if (left.size() >= SEARCH_TEXT_ROOM) {
            history.search_text.clear();
            error_defer(ERR_BAD_SUBSTITUTE);
            return false;
        }
        left += static_cast<Char>(c);
    }
    if (left.empty()) {
        if (history.search_text.empty()) {
            error_defer(ERR_NO_PREVIOUS_LEFT);
            return false;
        }
    } else {
        history.search_text = std::move(left);
    }
    return true;
}

// Reads the right side of :s into right_text; false after an error.
bool read_right_side(int delimiter) {
    CharString right;
    auto store = [&](int c) {
        if (right.size() >= RIGHT_TEXT_ROOM) return false;
        right += static_cast<Char>(c);
        return true;
    };
    for (;;) {
        int c = get_char(0);
        if (c == delimiter) break;
        if (c == '\n') {
            unread_char(c);
            break;
        }
        bool ok = true;
        if (c == '\\') {
            int next = get_char(0);
            if (next == delimiter) {
                ok = store(next);
            } else if (next == '\n') {
                ok = store(c);
                unread_char(next);
                if (!ok) break;
                history.right_text = std::move(right);
                return true;
            } else {
                ok = store(c) && store(next);
            }
        } else {
            ok = store(c);
        }
        if (!ok) {
            error_defer(ERR_RIGHT_TOO_LONG);
            return false;
        }
    }
    history.right_text = std::move(right);
    return true;
}

// What one application of a modifier made of a word.
enum class Applied { No, Yes, Overflow };

// Replaces the first occurrence of left in word by right, where & in right stands for left and
// \& for a plain &.
Applied substitute_once(CharString& word, const CharString& left, const CharString& right) {
    std::size_t at = find_text(word, left);
    if (at == CharString::npos) return Applied::No;
    CharString out(word, 0, at);
    for (std::size_t i = 0; i < right.size(); ++i) {
        if (right[i] == '\\' && i + 1 < right.size() && right[i + 1] == '&') {
            out += '&';
            ++i;
        } else if (right[i] == '&') {
            out += left;
        } else {
            out += right[i];
        }
    }
    out.append(word, at + left.size());
    if (out.size() > SUBSTITUTION_ROOM) {
        word.clear();
        return Applied::Overflow;
    }
    word = std::move(out);
    return Applied::Yes;
}

Applied modify_once(CharString& word, int letter, const CharString& left) {
    if (letter == 's' || letter == '&') return substitute_once(word, left, history.right_text);
    std::optional<CharString> changed = word_modifier(word, letter);
    if (!changed) return Applied::No;
    word = std::move(*changed);
    return Applied::Yes;
}

// Applies one modifier to the selected words: to every word with g, else to the first word it
// applies to; with a, again on each word while the result changes. False after an error.
bool transform(WordVector& words, int letter, bool global, bool again, const CharString& left) {
    bool changed = false;
    for (CharString& word : words) {
        if (changed && !global) break;
        CharString result = word;
        Applied a = modify_once(result, letter, left);
        if (a == Applied::No) continue;
        while (a == Applied::Yes && again) {
            CharString next = result;
            a = modify_once(next, letter, left);
            if (a == Applied::Overflow) {
                result.clear();
            } else if (a == Applied::Yes && next != result) {
                result = std::move(next);
            } else {
                break;
            }
        }
        if (a == Applied::Overflow) {
            error_defer(ERR_SUBSTITUTION_OVERFLOW);
            return false;
        }
        word = std::move(result);
        changed = true;
    }
    if (!changed) {
        error_defer(ERR_MODIFIER_FAILED);
        return false;
    }
    return true;
}

// Reads and applies the modifiers, each introduced by a colon (the first one already read
// when colon_read is set). False after an error.
bool apply_modifiers(WordVector& words, bool colon_read) {
    for (;;) {
        if (!colon_read) {
            int c = get_char(0);
            if (c != ':') {
                unread_char(c);
                return true;
            }
        }
        colon_read = false;
        int letter = get_char(0);
        bool global = false, again = false;
        for (;;) {
            if (letter == 'g' && !global) {
                global = true;
            } else if (letter == 'a') {
                if (again) {
                    error_defer(ERR_BAD_BANG_MODIFIER, 'a');
                    return false;
                }
                again = true;
            } else {
                break;
            }
            letter = get_char(0);
        }
        switch (letter) {
            case 'h':
            case 't':
            case 'r':
            case 'e':
                break;
            case 'q':
            case 'x':
                global = true;
                break;
            case 's': {
                int delimiter = get_char(0);
                if (delimiter == '_' || delimiter == ' ' || delimiter == '\t' ||
                    delimiter == '\n' || char_is_alnum(static_cast<Char>(delimiter))) {
                    unread_char(delimiter);
                    history.search_text.clear();
                    error_defer(ERR_BAD_SUBSTITUTE);
                    return false;
                }
                if (!read_left_side(delimiter) || !read_right_side(delimiter)) return false;
                break;
            }
            case '&':
                if (history.saved_left.empty()) {
                    error_defer(ERR_NO_PREVIOUS_SUBSTITUTE);
                    return false;
                }
                break;
            case 'p':
                ++history.print_only;
                continue;
            default:
                if (letter == '\n') unread_char(letter);
                error_defer(ERR_BAD_BANG_MODIFIER, letter & 0xff);
                return false;
        }
        // The left side in force: the last one for &, else the search text (set by :s).
        CharString left = letter == '&' ? history.saved_left : history.search_text;
        history.saved_left = left;
        if (!words.empty() && !transform(words, letter, global, again, left)) return false;
    }
}

}  // namespace

void history_enter(std::int32_t number, WordList& words, bool copy) {
    auto entry = std::make_unique<HistoryEntry>();
    entry->event_number = number;
    if (copy) {
        copy_word_list(entry->words, words);
    } else {
        entry->words.splice_before(entry->words.head(), words, words.first(), words.head());
    }
    place_by_use(*entry, number);
    if (history.history_list) history.history_list->newer = entry.get();
    entry->next = std::move(history.history_list);
    history.history_list = std::move(entry);
}

void history_save_line(const WordList& line) {
    if (line.empty() || is_newline_word(line.first()->word)) return;
    // Drop every entry not used within the last limit events (current_event - reference_number
    // >= limit), least recently used first, keeping the list's order.
    const std::int64_t dropped_up_to = history.current_event - history.listings - history_limit();
    while (!history.last_used.empty() && history.last_used.begin()->first <= dropped_up_to) {
        HistoryEntry* e = history.last_used.begin()->second;
        history.last_used.erase(history.last_used.begin());
        std::unique_ptr<HistoryEntry>& link = e->newer ? e->newer->next : history.history_list;
        if (e->next) e->next->newer = e->newer;
        link = std::exchange(link->next, nullptr);
    }
    WordList words;
    copy_word_list(words, line);
    history_enter(++history.current_event, words, false);
}

void history_substitute(int c) {
    bool quick = c != 0 && c == lexer.quick_sub_char;
    bool braced = false;
    if (c == 0) {
        int next = get_char(0);
        if (next == '{') {
            braced = true;
        } else {
            unget_char(next);
        }
    }
    WordVector words;
    int found_index = -1;
    if (!select_event(quick, words, found_index)) return;
    lexer.had_history = true;
    const std::int64_t last = static_cast<std::int64_t>(words.size()) - 1;
    Range r{0, last};
    bool modifiers = true;
    bool colon_read = false;
    if (quick) {
        // ^old^new is :s^old^new on the previous event.
        unget_char('s');
        unread_char(c);
        colon_read = true;
    } else {
        int s = get_char(0);
        if (!one_of(":^$*-%", s)) {
            unread_char(s);
            modifiers = false;
        } else {
            bool selector = true;
            if (s == ':') {
                int next = get_char(0);
                if (next == '_' || next == '&' || char_is_alpha(static_cast<Char>(next))) {
                    unread_char(next);
                    colon_read = true;
                    selector = false;
                } else {
                    unget_char(next);
                }
            } else {
                unget_char(s);
            }
            if (selector && !read_selection(last, found_index, r)) return;
        }
    }
    // The selected words; indexes beyond the event select nothing.
    WordVector selected;
    for (std::int64_t i = r.from < 0 ? 0 : r.from; i <= r.to && i <= last; ++i) {
        selected.push_back(std::move(words[static_cast<std::size_t>(i)]));
    }
    if (modifiers && !apply_modifiers(selected, colon_read)) return;
    if (braced) {
        int next = get_char(0);
        if (next != '}') {
            unread_char(next);
            error_defer(ERR_BAD_BANG_FORM);
            return;
        }
    }
    lexer.history_words = std::move(selected);
    lexer.history_word = 0;
    lexer.history_pos = 0;
    lexer.history_active = !lexer.history_words.empty();
}

std::vector<const HistoryEntry*> history_newest(std::int32_t n) {
    std::vector<const HistoryEntry*> newest;
    for (HistoryEntry* e = history.history_list.get();
         e && static_cast<std::int64_t>(newest.size()) < n; e = e->next.get()) {
        newest.push_back(e);
    }
    ++history.listings;  // every event's reference number, in one step
    return newest;
}

namespace {

// A word of an event as it would be typed again to run as the event did. The words keep the
// quotes and backslashes typed, but a quoted history character lost its backslash, and a word
// quoted by a modifier (:q, :x) carries marks alone: those characters get a backslash back
// (outside quotes of the word's own, where a backslash would be taken literally).
std::string recall_text(const CharString& word) {
    std::string text;
    int open = 0;  // the quote the text is inside
    bool escaped = false;
    for (Char ch : word) {
        int c = ch & 0xff;
        if (escaped) {
            escaped = false;
        } else if (is_quoted(ch)) {
            if ((c != 0 && c == lexer.history_char) ||
                (open == 0 && char_is(static_cast<Char>(c),
                                      CC_META | CC_QUOTE | CC_GLOB | CC_ESCAPE | CC_DOLLAR))) {
                text += '\\';
            }
        } else if (open != 0) {
            if (c == open) open = 0;
        } else if (c == '\\') {
            escaped = true;
        } else if (char_is(static_cast<Char>(c), CC_QUOTE | CC_BACKQUOTE)) {
            open = c;
        }
        text += static_cast<char>(c);
    }
    return text;
}

}  // namespace

std::vector<std::string> history_lines() {
    std::vector<std::string> lines;
    for (const HistoryEntry* e = history.history_list.get(); e; e = e->next.get()) {
        std::string line;
        for (const LexWord* w = e->words.first(); w != e->words.head(); w = w->next) {
            if (is_newline_word(w->word)) break;
            if (w != e->words.first()) line += ' ';
            line += recall_text(w->word);
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

namespace {

constexpr int LINK_HOPS_MAX = 40;  // symbolic links followed to the history file, as the system

// The file that name leads to through symbolic links, the last of which may dangle; nothing
// when the links loop or cannot be read. Replacing this file, not the link, keeps a link
// pointing where it pointed.
std::optional<std::string> link_target(std::string name) {
    for (int hops = 0; hops <= LINK_HOPS_MAX; ++hops) {
        struct stat st;
        if (lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return name;
        char target[PATH_MAX];
        ssize_t n = readlink(name.c_str(), target, sizeof target);
        if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) return std::nullopt;
        std::string next(target, static_cast<std::size_t>(n));
        if (next[0] != '/') {
            std::size_t slash = name.rfind('/');
            if (slash != std::string::npos) next = name.substr(0, slash + 1) + next;
        }
        name = std::move(next);
    }
    return std::nullopt;
}

// The history file as saved: the words of the n newest events, oldest first, one event per line
// with one blank between words. The bytes are those typed, not their visible form, so that the
// file reads back as typed in any locale. Raises "Badly formed number" for a count that is not
// a number; with history 0 the file is empty.
std::string history_file_text(const CharString& count) {
    std::string text;
    if (parse_number(var_value("history")) == 0) return text;
    std::vector<const HistoryEntry*> newest = history_newest(parse_number(count));
    for (auto e = newest.rbegin(); e != newest.rend(); ++e) {
        const WordList& words = (*e)->words;
        for (const LexWord* w = words.first(); w != words.head(); w = w->next) {
            if (w != words.first() && !is_newline_word(w->word)) text += ' ';
            text += to_bytes(w->word);
        }
    }
    return text;
}

// While the file is written a file-size limit fails the write (EFBIG) instead of ending the
// shell: SIGXFSZ is ignored, and let through so that it is discarded rather than left pending.
class SizeSignalIgnored {
  public:
    SizeSignalIgnored() noexcept {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGXFSZ, &ignore, &action_);
        sigset_t size;
        sigemptyset(&size);
        sigaddset(&size, SIGXFSZ);
        mask_change(SIG_UNBLOCK, &size, &mask_);
    }
    ~SizeSignalIgnored() {
        mask_change(SIG_SETMASK, &mask_, nullptr);
        sigaction(SIGXFSZ, &action_, nullptr);
    }
    SizeSignalIgnored(const SizeSignalIgnored&) = delete;
    SizeSignalIgnored& operator=(const SizeSignalIgnored&) = delete;

  private:
    struct sigaction action_ {};
    sigset_t mask_{};
};

// A new file beside the one it is to replace; removed unless it took the old file's place.
struct TemporaryFile {
    std::string path;  ///< empty when there is nothing to remove
    int fd = -1;
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (fd >= 0) close(fd);
        if (!path.empty()) unlink(path.c_str());
    }
};

// Replaces the file name leads to by one holding text, or leaves it as it was: the text goes
// into a new file in the same directory, which takes the old one's place (rename) only once all
// of it is written and on the disk. So a full disk, a size limit or two shells ending at once
// never leave a file cut short or mixed. Only a regular file is replaced; a device, FIFO or
// directory at the name is left alone. False when nothing was replaced.
bool replace_file(const std::string& name, const std::string& text) {
    std::optional<std::string> target = link_target(name);
    if (!target || target->empty()) return false;
    struct stat old;
    bool exists = lstat(target->c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) return false;
    std::size_t slash = target->rfind('/');
    std::string path = slash == std::string::npos ? std::string() : target->substr(0, slash + 1);
    path += ".history.XXXXXX";
    SizeSignalIgnored size_signal_ignored;
    TemporaryFile temporary;
    temporary.fd = mkostemp(path.data(), O_CLOEXEC);
    if (temporary.fd < 0) return false;
    temporary.path = path;
    // The super-user saving another user's history keeps the file that user's.
    if (exists && old.st_uid != geteuid() && fchown(temporary.fd, old.st_uid, old.st_gid) != 0) {
        return false;
    }
    if (!write_fully(temporary.fd, text.data(), text.size())) return false;
    // A file system that cannot sync (EINVAL) keeps what was written as well as it can.
    if (fdatasync(temporary.fd) != 0 && errno != EINVAL) return false;
    int fd = std::exchange(temporary.fd, -1);
    if (close(fd) != 0 || rename(path.c_str(), target->c_str()) != 0) return false;
    temporary.path.clear();
    return true;
}

}  // namespace

void save_history() {
    if (shell.fast_start) return;
    const WordVector* savehist = var_lookup("savehist");
    if (!savehist) return;
    CharString count = savehist->empty() ? CharString() : (*savehist)[0];
    if (count.empty()) {
        const WordVector* limit = var_lookup("history");
        if (limit && !limit->empty()) count = (*limit)[0];
        if (count.empty()) return;
    }
    // Names of any length are held; one the system refuses is a file that cannot be made.
    std::string name;
    if (const WordVector* histfile = var_lookup("histfile")) {
        if (!histfile->empty()) name = to_bytes((*histfile)[0]);
    } else {
        name = to_bytes(var_value("home")) + "/.history";
    }
    std::string text;
    errors.error_name = "history";
    // A count that is not a number is reported, the file is left as it was, and the shell then
    // ends as it was going to.
    if (run_recovering([&] { text = history_file_text(count); })) return;
    // A file that cannot be written is given up silently.
    replace_file(name, text);
}
