#include "builtins/control_flow.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "complete/line_editor.h"
#include "core/descriptors.h"
#include "core/errors.h"
#include "core/pattern.h"
#include "core/shell.h"
#include "core/signal_mask.h"
#include "core/signals.h"
#include "exec/executor.h"
#include "expand/expressions.h"
#include "expand/glob.h"
#include "expand/substitute.h"
#include "input/lexer.h"
#include "jobs/job_control.h"
#include "parse/keywords.h"
#include "vars/variables.h"

namespace {

constexpr std::size_t SEARCH_WORD_MAX = 1023;  // longer words are cut: only keywords matter

// The kind and goal of the search in progress, for the end-of-input message.
struct SearchState {
    int kind = KW_BREAK;
    CharString goal;
    int lookahead = 0;  ///< a character the word reader read ahead; 0 when none
} search;

[[noreturn]] void search_not_found() {
    const char* what = "end";
    switch (search.kind) {
        case KW_BREAKSW:
        case KW_SWITCH:
            what = "endsw";
            break;
        case KW_ELSE:
            what = "endif";
            break;
        case KW_IF:
            what = "then/endif";
            break;
        case KW_GOTO:
            what = "label";
            error_set_name(search.goal);
            break;
        default:
            break;
    }
    error_raise(ERR_NOT_FOUND | ERRF_NAME, what);
}

// The next character of the search. A character read ahead waits here instead of in the
// input's pushback: a character read again from the pushback counts as one of the file, and a
// position taken after a search in eval text would then name the file instead of the eval words.
//
// The end of eval text is the end of the input for a search in it: reading on would end the eval
// without a word, where a file reports what was not found.
int search_char() {
    if (int c = search.lookahead) {
        search.lookahead = 0;
        return c;
    }
    if (input.eval.words && input.eval.used_up && !input.read_pushback) search_not_found();
    int c = read_char(true);
    if (c < 0) search_not_found();
    return c;
}

void search_unread(int c) {
    search.lookahead = c;
}

bool is_blank(int c) {
    return c == ' ' || c == '\t';
}

// Reads one word of the current line into word (result true), or reports the end of the line
// (false, the newline left to read).
bool search_word(CharString& word) {
    word.clear();
    int c;
    do c = search_char();
    while (is_blank(c));
    if (c == '#') {
        while ((c = search_char()) != '\n') {
        }
    }
    if (c == '\n') {
        search_unread(c);
        return false;
    }
    int quote = 0;
    for (;;) {
        if (c == '\\') {
            int next = search_char();
            if (next == '\n') {
                c = ' ';
            } else {
                search_unread(next);
            }
        }
        if (quote) {
            if (c == '\n') break;
            if (c == quote) quote = 0;
        } else if (is_blank(c) || c == '\n') {
            break;
        } else if (c == '\'' || c == '"') {
            quote = c;
        }
        if (word.size() < SEARCH_WORD_MAX) word += static_cast<Char>(c);
        // A keyword that starts a line ends its word at once: if( counts as if.
        if (!quote && (equals(word, "if") || equals(word, "while") || equals(word, "switch"))) {
            return true;
        }
        c = search_char();
    }
    search_unread(c);
    return true;
}

// Consumes the rest of the current line, its newline included.
void skip_line() {
    CharString word;
    while (search_word(word)) {
    }
    search_char();
}

// The last word of the rest of the line (the line is consumed up to its newline).
CharString last_word_of_line() {
    CharString word, last;
    while (search_word(word)) last = word;
    return last;
}

// An arm of a switch at the switch's own level: a case line or a default line.
struct SwitchArm {
    bool is_default = false;
    CharString word;      ///< case: the pattern word as read, without its colon
    std::size_t end = 0;  ///< where the arm's line ends, in bytes from the switch's search start
};

// True when the case word, substituted, matches the switch string.
bool case_matches(const CharString& word, const CharString& goal) {
    std::optional<CharString> label = substitute_one_word(word);
    CharString pattern = label ? std::move(*label) : word;
    str_strip(pattern);
    return pattern_match(goal, pattern);
}

// Reads forward from the current input position and returns with the input positioned where
// execution continues: true when what was looked for was found, false when the search left its
// level (an endif, end or endsw). A switch search notes in arms, when given, every arm it reads,
// with its end counted from arms_from.
bool search_forward(int kind, const CharString& goal, std::vector<SwitchArm>* arms,
                    std::int64_t arms_from) {
    int level = 0;
    CharString word;
    for (;;) {
        // A child has no share of the shell's input (it reads as ended): nothing to prompt for.
        if (shell.interactive && input_at_buffer_end() && !input.descriptor_finished) {
            line_editor_before_prompt();
            std::fputs("? ", output_stream);
            std::fflush(output_stream);
            line_editor_note_prompt("? ");
        }
        bool found = false;
        std::optional<SwitchArm> arm;
        if (!search_word(word)) {
            search_char();  // an empty line
            continue;
        }
        int code = keyword_lookup(word);
        switch (code) {
            case KW_ELSE:
                if (kind == KW_IF && level == 0) {
                    // The rest of the line is left for the command loop.
                    unread_char(search.lookahead);
                    search.lookahead = 0;
                    return true;
                }
                break;
            case KW_IF: {
                CharString last = last_word_of_line();
                if ((kind == KW_IF || kind == KW_ELSE) && equals(last, "then")) ++level;
                break;
            }
            case KW_ENDIF:
                if (kind == KW_IF || kind == KW_ELSE) --level;
                break;
            case KW_FOREACH:
            case KW_WHILE:
                if (kind == KW_BREAK) ++level;
                break;
            case KW_END:
                if (kind == KW_BREAK) --level;
                break;
            case KW_SWITCH:
                if (kind == KW_SWITCH || kind == KW_BREAKSW) ++level;
                break;
            case KW_ENDSW:
                if (kind == KW_SWITCH || kind == KW_BREAKSW) --level;
                break;
            case KW_LABEL:
                if (kind == KW_GOTO && search_word(word) && word == goal) found = true;
                break;
            case KW_CASE:
                if (kind == KW_SWITCH && level == 0 && search_word(word)) {
                    if (str_last_char(word) == ':') word.pop_back();
                    arm = SwitchArm{false, word, 0};
                    if (case_matches(word, goal)) found = true;
                }
                break;
            case KW_DEFAULT:
                if (kind == KW_SWITCH && level == 0) {
                    found = true;
                    arm = SwitchArm{true, {}, 0};
                }
                break;
            default:
                break;
        }
        if (code < 0 || code == KW_BREAK || code == KW_BREAKSW || code == KW_EXIT ||
            code == KW_AT || code == KW_SET || code == KW_GOTO) {
            if (kind == KW_GOTO || (kind == KW_SWITCH && level == 0)) {
                if (str_last_char(word) == ':') {
                    word.pop_back();
                    if (kind == KW_GOTO && word == goal) found = true;
                    if (kind == KW_SWITCH && equals(word, "default")) {
                        found = true;
                        arm = SwitchArm{true, {}, 0};
                    }
                }
            }
        }
        skip_line();
        if (arm && arms) {
            arm->end = static_cast<std::size_t>(input.input_offset - arms_from);
            arms->push_back(std::move(*arm));
        }
        if (found || level < 0) return found;
    }
}

// Where the searches of this input ended, learnt the first time each ran from a place, so that
// the next one from there jumps. Each holds the bytes read on the way, and is taken only while
// the input still has them: a script changed meanwhile is searched again.
class SearchResults : public InputAttachment {
  public:
    // A search that ended at a fixed place (all but switch).
    struct Place {
        int kind = 0;
        CharString goal;   ///< goto: the label
        std::string text;  ///< the bytes from the search's start to its end
        int pushback = 0;  ///< the character left pushed back (an else line's rest); 0 none
    };
    // The arms of a switch, as far as its searches have read.
    struct Arms {
        std::string text;             ///< the bytes from the search's start on, as far as read
        std::vector<SwitchArm> arms;  ///< in the order of the text
        bool complete = false;        ///< the endsw has been read: text ends after its line
    };
    std::unordered_map<std::int64_t, std::vector<Place>> places;  ///< by the search's start
    std::unordered_map<std::int64_t, Arms> switches;              ///< by the search's start
};

SearchResults& search_results() {
    if (!input.search_results) input.search_results = std::make_unique<SearchResults>();
    return static_cast<SearchResults&>(*input.search_results);
}

// A switch search from a place searched before: the arms read then are tried in order, each
// once the input is past its line (the input must still hold the bytes up to it), so that a
// case word is substituted with the input where a search reading it would be. Past what is
// known to hold, the search reads on and notes more.
void search_switch(const CharString& goal) {
    const std::int64_t start = input.input_offset;
    SearchResults::Arms& known = search_results().switches[start];
    const std::string_view text = known.text;
    std::size_t done = 0;   // the bytes of text read past
    std::size_t tried = 0;  // the arms read past
    for (; tried < known.arms.size(); ++tried) {
        const SwitchArm& arm = known.arms[tried];
        if (!input_skip_text(text.substr(done, arm.end - done))) break;
        done = arm.end;
        if (arm.is_default || case_matches(arm.word, goal)) return;
    }
    if (tried == known.arms.size() && known.complete && input_skip_text(text.substr(done))) return;
    known.text.resize(done);
    known.arms.resize(tried);
    known.complete = false;
    std::vector<SwitchArm> arms;
    TextNote note;
    const bool found = search_forward(KW_SWITCH, goal, &arms, start);
    std::string more;
    if (!note.text(more)) return;
    known.text += more;
    known.complete = !found;
    for (SwitchArm& arm : arms) known.arms.push_back(std::move(arm));
}

// Reads forward from the current input position and returns with the input positioned where
// execution continues. From a place searched before, text of a file or pipe jumps to where the
// search ended then.
void search_input(int kind, const CharString& goal) {
    search.kind = kind;
    search.goal = goal;
    search.lookahead = 0;
    if (kind == KW_GOTO) {
        // A goto in eval text looks for its label in that text, from its first word.
        InputPosition start;
        if (input.eval.words) {
            start.kind = INPUT_EVAL;
            start.offset = -1;
            start.vector_pos = 0;
        } else {
            start.kind = INPUT_FILE;
            start.offset = 0;
        }
        input_seek(start);
    }
    if (shell.interactive || session.history_loading || !input_reads_plain_text()) {
        search_forward(kind, goal, nullptr, 0);
        return;
    }
    if (kind == KW_SWITCH) {
        search_switch(goal);
        return;
    }
    const std::int64_t start = input.input_offset;
    if (input.search_results) {
        for (const SearchResults::Place& p : search_results().places[start]) {
            if (p.kind != kind || p.goal != goal) continue;
            if (!input_skip_text(p.text)) break;
            unread_char(p.pushback);
            return;
        }
    }
    TextNote note;
    search_forward(kind, goal, nullptr, 0);
    SearchResults::Place found{kind, goal, {}, input.read_pushback};
    if (!note.text(found.text)) return;
    std::vector<SearchResults::Place>& places = search_results().places[start];
    for (SearchResults::Place& p : places) {
        if (p.kind == kind && p.goal == goal) {
            p = std::move(found);
            return;
        }
    }
    places.push_back(std::move(found));
}

void loop_exit();

void loop_advance() {
    LoopFrame& f = *loop_stack;
    if (f.is_foreach) {
        if (f.next_value + 1 >= f.all_words.size()) {
            loop_exit();
            return;
        }
        var_store(f.var_name, expand_value({f.all_words[f.next_value++]}), shell_variables);
    }
    input_seek(f.start);
}

// True when the loop lies in the file text while eval text is being read: a break or goto in
// eval text that leaves such a loop must search the lines of the file after the eval line.
bool file_loop_seen_from_eval(const LoopFrame& f) {
    return f.start.kind == INPUT_FILE && input.eval.words;
}

// Runs a search with the eval words set aside, so that it reads the file after the eval line;
// the eval text goes on afterwards where it stood.
template <class Search>
void search_file_text(Search&& run) {
    struct Restore {
        WordCursor eval;
        ~Restore() { input.eval = eval; }
    } restore{input.eval};
    input.eval = WordCursor{};
    run();
}

void loop_exit() {
    LoopFrame& f = *loop_stack;
    if (!end_located(f)) {
        auto locate = [&f] {
            search_input(KW_BREAK, CharString());
            record_end(f);
            // The -c text never moves the offset: an end at 0 stays "not located".
            if (f.end.offset > 0) --f.end.offset;
        };
        if (file_loop_seen_from_eval(f)) {
            search_file_text(locate);
        } else {
            locate();
        }
    } else {
        input_seek(f.end);
    }
    loop_free_exited();
}

// At a terminal the body of a new loop is read ahead to its end before the first iteration.
void read_loop_body_ahead(LoopFrame& f) {
    f.end.kind = INPUT_NONE;
    let_interrupts_through();
    search_input(KW_BREAK, CharString());
    hold_interrupts();
    record_end(f);
}

void push_frame(std::unique_ptr<LoopFrame> f) {
    f->next = std::move(loop_stack);
    loop_stack = std::move(f);
}

void require_loop() {
    if (!loop_stack) error_raise(ERR_NOT_IN_LOOP | ERRF_NAME);
}

// Runs the command of a one-line if or of repeat again, in the shell's own loop.
void run_again(CommandNode& node) {
    node.node_flags = static_cast<std::uint16_t>(
        (node.node_flags & (FLAG_NICE | FLAG_NOHUP | FLAG_TIME)) | FLAG_REPEAT);
    execute_tree(&node, job_group_of_shell(), nullptr, nullptr);
}

// Checks a loop variable's name as foreach requires.
void check_var_name(const CharString& name) {
    if (name.empty() || !(name[0] == '_' || char_is_alpha(name[0]))) {
        error_raise(ERR_VAR_BEGIN_LETTER | ERRF_NAME);
    }
    for (Char c : name) {
        if (!(c == '_' || char_is_alnum(c))) error_raise(ERR_VAR_ALPHANUMERIC | ERRF_NAME);
    }
    if (name.size() > 30) error_raise(ERR_VAR_NAME_TOO_LONG | ERRF_NAME);
}

// Where the while line being run began. In the file that is where the lexer started the line.
// In eval text the lexer's record cannot be trusted: the first line is started before its first
// character is read, and a line after an empty one begins with a character read again from the
// pushback; both report the file. The start is found instead by going back from the end of the
// line to the newline before it (not one escaped by a backslash), or to the start of the words.
InputPosition current_line_start() {
    if (!input.eval.words) return lexer.line_start;
    const WordVector& text = *input.eval.words;
    auto at = [&](std::size_t w, std::size_t c) { return static_cast<Char>(text[w][c] & TRIM); };
    InputPosition now;
    input_tell(now);
    // (word, count): the first count characters of the word have been read.
    std::size_t word = 0, count = 0;
    if (now.kind == INPUT_EVAL && now.offset > 0) {
        word = static_cast<std::size_t>(now.vector_pos - 1);
        count = static_cast<std::size_t>(now.offset) - 1;  // before the line's own newline
    } else if (!text.empty()) {
        word = text.size() - 1;  // the words are used up: the line ran to their end
        count = text[word].size();
    }
    InputPosition start;
    start.kind = INPUT_EVAL;
    for (;;) {
        if (count == 0) {
            if (word == 0) {
                start.offset = -1;
                start.vector_pos = 0;
                return start;
            }
            --word;
            count = text[word].size();
            continue;
        }
        if (at(word, count - 1) == '\n' && !(count >= 2 && at(word, count - 2) == '\\')) {
            start.offset = static_cast<std::int64_t>(count);
            start.vector_pos = static_cast<std::int64_t>(word + 1);
            return start;
        }
        --count;
    }
}

}  // namespace

void goto_label(const CharString& label) {
    // From eval text the label is searched in that text: the file, whose loop ends are located
    // on the way, goes on after the eval line as before.
    const bool from_eval = input.eval.words != nullptr;
    const std::int64_t file_offset = input.input_offset;
    for (LoopFrame* f = loop_stack.get(); f; f = f->next.get()) {
        if (!end_located(*f)) {
            auto locate = [f] {
                search_input(KW_BREAK, CharString());
                record_end(*f);
            };
            if (file_loop_seen_from_eval(*f)) {
                search_file_text(locate);
            } else {
                locate();
            }
        } else {
            input_seek(f->end);
        }
    }
    if (from_eval) input.input_offset = file_offset;
    search_input(KW_GOTO, label);
    loop_free_exited();
}

void builtin_if(WordVector& words, CommandNode& node) {
    std::size_t cursor = 1;
    std::int32_t value = eval_expression(words, cursor);
    if (cursor >= words.size()) error_raise(ERR_EMPTY_IF | ERRF_NAME);
    if (equals(words[cursor], "then")) {
        if (cursor + 1 < words.size()) error_raise(ERR_IMPROPER_THEN | ERRF_NAME);
        errors.error_name = "then";
        if (value == 0) search_input(KW_IF, CharString());
        return;
    }
    if (value == 0) return;
    vec_drop_first(words, cursor);
    run_again(node);
    close_std_fds();
}

void builtin_else(WordVector&, CommandNode&) {
    search_input(KW_ELSE, CharString());
}

void builtin_while(WordVector& words, CommandNode&) {
    const InputPosition line_start = current_line_start();
    bool again = loop_stack && loop_stack->start == line_start && !loop_stack->is_foreach;
    std::size_t cursor = 1;
    std::int32_t value =
        eval_expression(words, cursor, shell.interactive && !again ? EXPR_SKIP : 0);
    if (cursor < words.size()) error_raise(ERR_EXPRESSION_SYNTAX | ERRF_NAME);
    if (!again) {
        auto f = std::make_unique<LoopFrame>();
        f->start = line_start;
        mark_end_unknown(*f);
        push_frame(std::move(f));
        if (shell.interactive) {
            read_loop_body_ahead(*loop_stack);
            loop_advance();
            return;
        }
    }
    if (value == 0) loop_exit();
}

void builtin_foreach(WordVector& words, CommandNode&) {
    CharString name = words[1];
    str_strip(name);
    check_var_name(name);
    if (words[2].empty() || words[2][0] != '(' || words.back().empty() || words.back()[0] != ')') {
        error_raise(ERR_NOT_PARENTHESIZED | ERRF_NAME);
    }
    WordVector values(words.begin() + 3, words.end());
    if (int kind = glob_classify(values)) {
        std::optional<WordVector> expanded = glob_words(values, kind);
        if (!expanded || expanded->empty()) error_raise(ERR_NO_MATCH | ERRF_NAME);
        values = std::move(*expanded);
    } else {
        clear_quote_marks(values);
    }
    auto f = std::make_unique<LoopFrame>();
    f->is_foreach = true;
    f->all_words = std::move(values);
    f->var_name = std::move(name);
    input_tell(f->start);
    mark_end_unknown(*f);
    push_frame(std::move(f));
    if (shell.interactive) read_loop_body_ahead(*loop_stack);
    loop_advance();
}

void builtin_end(WordVector&, CommandNode&) {
    require_loop();
    record_end(*loop_stack);
    loop_advance();
}

void builtin_continue(WordVector&, CommandNode&) {
    require_loop();
    loop_advance();
}

void builtin_break(WordVector&, CommandNode&) {
    require_loop();
    loop_exit();
}

void builtin_switch(WordVector& words, CommandNode&) {
    auto starts = [&](std::size_t i, Char c) {
        return i < words.size() && !words[i].empty() && words[i][0] == c;
    };
    if (!starts(1, '(')) error_raise(ERR_SYNTAX);
    CharString string;
    std::size_t close = 2;
    if (!starts(2, ')')) {
        if (words.size() < 3) error_raise(ERR_SYNTAX);
        string = words[2];
        close = 3;
        if (!starts(3, ')')) error_raise(ERR_SYNTAX);
    }
    if (close + 1 < words.size()) error_raise(ERR_SYNTAX);
    string = glob_one(string, ONE_AMBIGUOUS);
    search_input(KW_SWITCH, string);
}

void builtin_breaksw(WordVector&, CommandNode&) {
    search_input(KW_BREAKSW, CharString());
}

void builtin_goto(WordVector& words, CommandNode&) {
    goto_label(glob_one(words[1], ONE_AMBIGUOUS));
}

void builtin_repeat(WordVector& words, CommandNode& node) {
    std::int32_t n = parse_number(words[1]);
    sigset_t m;
    mask_change(SIG_BLOCK, nullptr, &m);
    if (shell.handle_interrupts) {
        block_signal(SIGINT);
        sigdelset(&m, SIGINT);
    }
    vec_drop_first(words, 2);
    for (; n > 0; --n) {
        if (shell.handle_interrupts) {
            mask_change(SIG_SETMASK, &m, nullptr);
            act_on_signals();
        }
        run_again(node);
    }
    close_std_fds();
    mask_change(SIG_SETMASK, &m, nullptr);
}

void builtin_exit(WordVector& words, CommandNode&) {
    if (stop_warned == 0 && (shell.interactive || shell.forced_interactive) && !input.eval.words) {
        check_stopped_jobs(true);
    }
    if (words.size() > 1) {
        std::size_t cursor = 1;
        std::int32_t value = eval_expression(words, cursor);
        set_status(value);
        if (cursor < words.size()) error_raise(ERR_EXPRESSION_SYNTAX | ERRF_NAME);
    }
    input_to_eof();
    if (shell.interactive) {
        close(fds.shell_in);
    }
}
