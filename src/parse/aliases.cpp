#include "parse/aliases.h"

#include "core/errors.h"
#include "input/history.h"
#include "input/input_buffer.h"
#include "input/lexer.h"
#include "vars/variables.h"

namespace {

// Put before a command word that repeats the name of the alias it came from, so that the word
// is no longer that name and is not expanded again; the executor removes it.
constexpr Char ALIAS_MARKER = quoted(0);

Char first_char(const LexWord* w) {
    return w->word.empty() ? 0 : w->word[0];
}

// A word that separates commands: ; & or a newline (and | at the level of a command list).
bool is_separator(const LexWord* w) {
    Char c = first_char(w);
    return c == ';' || c == '&' || c == '\n';
}

// What is being read while an alias's text is lexed; cleared on every way out.
class AliasReading {
  public:
    AliasReading(const WordVector& text, const LexWord* start, const LexWord* end)
        : line_start_(lexer.line_start) {
        history.alias_event_start = start;
        history.alias_event_end = end;
        input.alias = WordCursor{};
        input.alias.words = &text;
    }
    ~AliasReading() {
        history.alias_event_start = nullptr;
        history.alias_event_end = nullptr;
        input.alias = WordCursor{};
        // The loop builtins find their line by this position; alias text is no place in the
        // input, so the line's own position stays.
        lexer.line_start = line_start_;
    }
    AliasReading(const AliasReading&) = delete;
    AliasReading& operator=(const AliasReading&) = delete;

  private:
    InputPosition line_start_;
};

// Set when history substitution took place in an alias's text while the line was expanded.
bool alias_had_history = false;

bool scan_command_list(WordList& line, LexWord* first, LexWord* end);

// Expands the command [p, e) when its word names an alias; true when the line changed.
bool expand_command(WordList& line, LexWord* p, LexWord* e) {
    if (p == e) return false;
    if (first_char(p) == '(') {
        LexWord* close = e->prev;
        while (close != p && first_char(close) != ')') close = close->prev;
        if (close == p || close == p->next) return false;
        return scan_command_list(line, p->next, close);
    }
    const WordVector* text = var_lookup(CharView(p->word), aliases);
    if (!text) return false;
    // An alias that runs eval or source of itself comes back here one input deeper each time.
    if (input_nesting_full()) error_raise(ERR_ALIAS_LOOP);
    WordList fresh;
    bool had_history;
    {
        AliasReading reading(*text, p->prev, e);
        had_history = lex_line(fresh);
    }
    alias_had_history |= had_history;
    error_raise_pending();
    if (!p->word.empty() && fresh.first() != fresh.head() && fresh.first()->word == p->word) {
        fresh.first()->word.insert(fresh.first()->word.begin(), ALIAS_MARKER);
    }
    // History references in the text have taken what they needed of the arguments.
    LexWord* after = had_history ? e : p->next;
    line.erase(p, after);
    line.splice_before(after, fresh, fresh.first(), fresh.head()->prev);
    return true;
}

// Scans [first, end) as a list of commands and expands the first alias found; true when the
// line changed (the scan must then begin again).
bool scan_command_list(WordList& line, LexWord* first, LexWord* end) {
    int depth = 0;
    LexWord* command = first;
    for (LexWord* w = first; w != end; w = w->next) {
        Char c = first_char(w);
        if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (--depth < 0) error_raise(ERR_TOO_MANY_CLOSE);
        } else if (c == '>' && w->next != end && w->next->word.size() == 1 &&
                   w->next->word[0] == '&') {
            w = w->next;
        } else if (depth == 0 && (c == '|' || is_separator(w))) {
            if (expand_command(line, command, w)) return true;
            while (w->next != end && is_separator(w->next)) w = w->next;
            command = w->next;
        }
    }
    return depth == 0 && expand_command(line, command, end);
}

}  // namespace

bool expand_aliases(WordList& line) {
    int restarts = ALIAS_RESTARTS;
    history.hash_ref_budget = HASH_REF_BUDGET;
    alias_had_history = false;
    // Each replacement begins a new scan of the whole line.
    for (;;) {
        if (--restarts == 0) error_raise(ERR_ALIAS_LOOP);
        LexWord* first = line.first();
        while (first != line.head() && is_separator(first)) first = first->next;
        if (!scan_command_list(line, first, line.head())) return alias_had_history;
    }
}
