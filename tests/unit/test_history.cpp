#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "builtins/alias_builtins.h"
#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "input/history.h"
#include "input/input_buffer.h"
#include "input/lexer.h"
#include "input/word_list.h"
#include "parse/syntax_tree.h"
#include "test_support.h"
#include "vars/variables.h"

namespace {

// A word in a readable form: a quoted character is written with a backslash before it.
std::string show(const CharString& w) {
    std::string out;
    for (Char c : w) {
        if (is_quoted(c)) out += '\\';
        int b = c & 0xff;
        out += b == '\n' ? std::string("NL") : std::string(1, static_cast<char>(b));
    }
    return out;
}

// The words of a list joined by " | ".
std::string show(const WordList& line) {
    std::string out;
    for (const LexWord* w = line.first(); w != line.head(); w = w->next) {
        if (!out.empty()) out += " | ";
        out += show(w->word);
    }
    return out;
}

// Enters an event whose words are the blank-separated words of text.
void add_event(std::int32_t number, const std::string& text) {
    WordList words;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        words.append(chars(text.substr(start, end - start)));
        start = end + 1;
    }
    words.append(chars("\n"));
    history_enter(number, words, false);
    history.current_event = number;
}

struct Row {
    const char* text;
    const char* words;  // the words of the line, or null when only the error matters
    const char* error;  // the deferred error, or null
};

class HistoryTest : public testing::Test {
  protected:
    void SetUp() override {
        reset();
        shell.interactive = true;  // the quick form is recognised on interactive lines only
    }
    void TearDown() override {
        reset();
        shell.interactive = false;
    }
    // Empty input, history list and history state; no error; the variable history unset.
    static void reset() {
        errors = ErrorState{};
        lex_reset();
        input = InputState{};
        history = HistoryState{};
        shell_variables.erase(chars("history"));
    }
    // Three events, the newest being ls -l /tmp.
    void add_standard_events() {
        add_event(1, "echo a/b/c.d x/y.z");
        add_event(2, "cat lol bar");
        add_event(3, "ls -l /tmp");
    }
    // The words of the first line of text, joined by " | ".
    std::string lex(const std::string& text) {
        text_ = to_char_string(text);
        input.command_string = &text_;
        WordList line;
        lex_line(line);
        return show(line);
    }
    // Lexes each row's text on the standard events and checks its words and error.
    void check_rows(std::initializer_list<Row> rows) {
        for (const Row& r : rows) {
            reset();
            add_standard_events();
            std::string words = lex(r.text);
            if (r.words) {
                EXPECT_EQ(words, r.words) << "text: " << r.text;
            }
            if (r.error) {
                EXPECT_EQ(errors.pending_error.value_or("none"), r.error) << "text: " << r.text;
            } else {
                EXPECT_EQ(errors.pending_error.value_or("none"), "none") << "text: " << r.text;
            }
        }
    }
    // What the history builtin writes with the given arguments.
    std::string list(std::initializer_list<const char*> args) {
        WordVector words{chars("history")};
        for (const char* a : args) words.push_back(chars(a));
        CommandNode node;
        capture_.output();  // drops what was written before
        builtin_history(words, node);
        return capture_.output();
    }
    // Each event of the list as number:reference, newest first.
    static std::string events_and_references() {
        std::string out;
        for (HistoryEntry* e = history.history_list.get(); e; e = e->next.get()) {
            out +=
                std::to_string(e->event_number) + ":" + std::to_string(e->reference_number()) + " ";
        }
        return out;
    }
    // The event numbers of the list, newest first.
    static std::string numbers() {
        std::string out;
        for (HistoryEntry* e = history.history_list.get(); e; e = e->next.get()) {
            out += std::to_string(e->event_number) + " ";
        }
        return out;
    }

  private:
    CharString text_;
    StreamCapture capture_;
};

TEST_F(HistoryTest, EventsAndWordSelection) {
    check_rows({
        {"!!", "ls | -l | /tmp | NL", nullptr},
        {"echo !$", "echo | /tmp | NL", nullptr},
        {"echo !^", "echo | -l | NL", nullptr},
        {"echo !*", "echo | -l | /tmp | NL", nullptr},
        {"echo !:0", "echo | ls | NL", nullptr},
        {"echo !:1-2", "echo | -l | /tmp | NL", nullptr},
        {"echo !:1-", "echo | -l | NL", nullptr},
        {"echo !:-1", "echo | ls | -l | NL", nullptr},
        {"echo !:-", "echo | ls | -l | NL", nullptr},
        {"echo !:1*", "echo | -l | /tmp | NL", nullptr},
        {"echo !:2$x", "echo | /tmp$x | NL", nullptr},
        {"!-1", "ls | -l | /tmp | NL", nullptr},
        {"!-3", "echo | a/b/c.d | x/y.z | NL", nullptr},
        {"!2:2", "bar | NL", nullptr},
        {"!c", "cat | lol | bar | NL", nullptr},
        {"!ec:$", "x/y.z | NL", nullptr},
        {"echo !?tm?%", "echo | /tmp | NL", nullptr},
        {"echo !?lo?%", "echo | lol | NL", nullptr},
        {"echo !?lo?", "echo | cat | lol | bar | NL", nullptr},
        {"!{!}x", "ls | -l | /tmpx | NL", nullptr},
        {"!{c:1}x", "lolx | NL", nullptr},
        {"echo x !#", "echo | x | echo | x | NL", nullptr},
        {"echo !#:0", "echo | echo | NL", nullptr},
        {"!x", nullptr, "x: Event not found"},
        {"!9", nullptr, "9: Event not found"},
        {"!-5", nullptr, "-1: Event not found"},
        {"!?nowhere?", nullptr, "nowhere: Event not found"},
        {"!??", nullptr, "No prev search"},
        {"!!:2-1", nullptr, "Bad ! arg selector"},
        {"!!:5", nullptr, "Bad ! arg selector"},
        {"!%", nullptr, "Bad ! arg selector"},
        {"!{!", nullptr, "Bad ! form"},
    });
}

TEST_F(HistoryTest, Modifiers) {
    check_rows({
        {"!!:s/l/L/", "Ls | -l | /tmp | NL", nullptr},
        {"!!:gs/l/L/", "Ls | -L | /tmp | NL", nullptr},
        {"!c:as/l/L/", "cat | LoL | bar | NL", nullptr},
        {"!c:gas/l/L/", "cat | LoL | bar | NL", nullptr},
        {"!c:s/l/[&]/", "cat | [l]ol | bar | NL", nullptr},
        {"!c:s/l/[\\&]/", "cat | [ | & | ]ol | bar | NL", nullptr},
        {"!c:s/o\\/x/y", nullptr, "Modifier failed"},
        {"!c:s/ol/", "cat | l | bar | NL", nullptr},
        {"!c:s/l/L/:s/l/M/", "cat | LoM | bar | NL", nullptr},
        {"!1:2:h", "x | NL", nullptr},
        {"!1:*:t", "c.d | x/y.z | NL", nullptr},
        {"!1:*:gt", "c.d | y.z | NL", nullptr},
        {"!1:1:r !1:1:e", "a/b/c | d | NL", nullptr},
        {"!1:1:ah", "a | NL", nullptr},
        {"!1:1:s/b/B/ !1:1:&", "a/B/c.d | a/B/c.d | NL", nullptr},
        {"!1:1:s/b/B/ !1:2:&", nullptr, "Modifier failed"},
        {"^tmp^usr", "ls | -l | /usr | NL", nullptr},
        {"^tmp^usr^ x", "ls | -l | /usr | x | NL", nullptr},
        {"^l^L^:s/l/M/", "Ls | -M | /tmp | NL", nullptr},
        {"!c:h", nullptr, "Modifier failed"},
        {"!!:s/x/y/", nullptr, "Modifier failed"},
        {"!!:z", nullptr, "Bad ! modifier: z"},
        {"!!:aas/l/L/", nullptr, "Bad ! modifier: a"},
        {"!!:ggs/l/L/", nullptr, "Bad ! modifier: g"},
        {"!!:&", nullptr, "No previous substitute"},
        {"!!:s//x/", nullptr, "No previous left hand side"},
        {"!!:s", nullptr, "Bad substitute"},
        {"!!:sxaxbx", nullptr, "Bad substitute"},
        {"!!:s/0123456789012345678901234567890123/x/", nullptr, "Bad substitute"},
        {"!!:s/l/0123456789012345678901234567890123456789012345678901234567890123/", nullptr,
         "Right hand side too long"},
        {"!!:as/l/ll/", nullptr, "Substitution buffer overflow"},
        {"x !#:*:h", "x | NL", nullptr},
    });
}

TEST_F(HistoryTest, LiteralHistoryCharacter) {
    const Row rows[] = {
        {"echo a ! b", "echo | a | ! | b | NL", nullptr},
        {"echo a!", "echo | a! | NL", nullptr},
        {"echo x!=y a!~", "echo | x!=y | a!~ | NL", nullptr},
        {"echo !(", "echo | ! | ( | NL", nullptr},
        {"echo \\!!", "echo | \\!! | NL", nullptr},
        {"echo '!'", "echo | '!' | NL", nullptr},
        {"echo !-", "echo | !- | NL", nullptr},
    };
    for (const Row& r : rows) {
        reset();
        add_standard_events();
        EXPECT_EQ(lex(r.text), r.words) << "text: " << r.text;
        EXPECT_FALSE(errors.pending_error.has_value()) << "text: " << r.text;
        EXPECT_FALSE(lexer.had_history) << "text: " << r.text;
    }
}

TEST_F(HistoryTest, SearchTextIsRemembered) {
    add_standard_events();
    EXPECT_EQ(lex("echo !?lo?"), "echo | cat | lol | bar | NL");
    input = InputState{};
    EXPECT_EQ(lex("echo !??:1"), "echo | lol | NL");
    input = InputState{};
    // The last search text is the default left side of :s.
    EXPECT_EQ(lex("!!:s//LO/"), "NL") << "no lo in ls -l /tmp";
    EXPECT_EQ(*errors.pending_error, "Modifier failed");
    errors = ErrorState{};
    input = InputState{};
    EXPECT_EQ(lex("!?lo?:s//LO/"), "cat | LOl | bar | NL");
}

TEST_F(HistoryTest, PrintOnlyAndReferences) {
    add_standard_events();
    EXPECT_EQ(lex("!1:p"), "echo | a/b/c.d | x/y.z | NL");
    EXPECT_EQ(history.print_only, 1);
    // Selecting an event by number counts as using it now.
    EXPECT_EQ(history.history_list->next->next->reference_number(), 3);
}

TEST_F(HistoryTest, HashReferencesAreLimited) {
    std::string line = "x";
    for (int i = 0; i < 10; ++i) line += " !#:0";
    EXPECT_EQ(lex(line).size(), std::string("x | NL").size() + 10 * std::string(" | x").size());
    EXPECT_FALSE(errors.pending_error.has_value());
    reset();
    lex(line + " !#:0");
    ASSERT_TRUE(errors.pending_error.has_value());
    EXPECT_EQ(*errors.pending_error, "!# History loop");
}

TEST_F(HistoryTest, WithoutTheVariableOnlyTheLastLineIsKept) {
    WordList line;
    for (const char* w : {"echo", "a", "\n"}) line.append(chars(w));
    history_save_line(line);
    history_save_line(line);
    history_save_line(line);
    EXPECT_EQ(numbers(), "3 ");
    WordList empty;
    empty.append(chars("\n"));
    history_save_line(empty);
    EXPECT_EQ(numbers(), "3 ");
}

TEST_F(HistoryTest, PruningFollowsUse) {
    var_set("history", chars("2"));
    WordList line;
    for (const char* w : {"echo", "a", "\n"}) line.append(chars(w));
    for (int i = 0; i < 3; ++i) history_save_line(line);
    EXPECT_EQ(numbers(), "3 2 1 ");
    history_save_line(line);
    EXPECT_EQ(numbers(), "4 3 2 ");
    // A listing counts as a use of every event, so the next line prunes nothing.
    list({"-h", "0"});
    history_save_line(line);
    EXPECT_EQ(numbers(), "5 4 3 2 ");
    // Event 2, used by number, outlives event 3.
    lex("!2");
    history_save_line(line);
    history_save_line(line);
    EXPECT_EQ(numbers(), "7 6 5 4 2 ");
}

TEST_F(HistoryTest, Listing) {
    add_standard_events();
    EXPECT_EQ(list({}), "") << "history unset: nothing";
    var_set("history", chars("2"));
    EXPECT_EQ(list({}), "     2\tcat lol bar\n     3\tls -l /tmp\n");
    EXPECT_EQ(list({"-r"}), "     3\tls -l /tmp\n     2\tcat lol bar\n");
    EXPECT_EQ(list({"-h", "1"}), "ls -l /tmp\n");
    EXPECT_EQ(list({"-hr", "5"}), "ls -l /tmp\ncat lol bar\necho a/b/c.d x/y.z\n");
    EXPECT_EQ(list({"--h-", "1"}), "ls -l /tmp\n");
    // Every listing raised every reference number by one.
    EXPECT_EQ(history.history_list->reference_number(), 3 + 5);
    EXPECT_THROW(list({"-x"}), ShellError);
}

// The list as the documented rule keeps it, the slow and obvious way: every line walks every
// event, every listing raises every reference number.
struct HistoryModel {
    struct Event {
        std::int32_t number, reference;
    };
    std::vector<Event> events;  // newest first
    std::int32_t current = 0;

    void save(std::int64_t limit) {
        std::erase_if(events, [&](const Event& e) { return current - e.reference >= limit; });
        ++current;
        events.insert(events.begin(), Event{current, current});
    }
    void use(std::int32_t number) {
        for (Event& e : events) {
            if (e.number == number) {
                e.reference = current;
                return;
            }
        }
    }
    void list() {
        for (Event& e : events) ++e.reference;
    }
    std::string shown() const {
        std::string out;
        for (const Event& e : events) {
            out += std::to_string(e.number) + ":" + std::to_string(e.reference) + " ";
        }
        return out;
    }
};

// Runs the steps of a history script on the list (and on a model, when given): s enters a
// line, l lists (history_newest, as the builtin and the history file do), u<n> selects event n
// with !n, h<n> sets the variable history to n.
class HistorySteps {
  public:
    explicit HistorySteps(HistoryModel* model) : model_(model) {
        for (const char* w : {"echo", "a", "\n"}) line_.append(chars(w));
    }
    void run(const std::string& steps) {
        std::size_t at = 0;
        while (at < steps.size()) {
            std::size_t end = steps.find(' ', at);
            if (end == std::string::npos) end = steps.size();
            if (end > at) step(steps.substr(at, end - at));
            at = end + 1;
        }
    }

  private:
    void step(const std::string& s) {
        if (s == "s") {
            history_save_line(line_);
            if (model_) model_->save(limit_);
        } else if (s == "l") {
            history_newest(0);
            if (model_) model_->list();
        } else if (s[0] == 'h') {
            limit_ = std::stoi(s.substr(1));
            var_set("history", chars(s.substr(1)));
        } else if (s[0] == 'u') {
            CharString text = chars("!" + s.substr(1));
            input = InputState{};
            input.command_string = &text;
            WordList words;
            lex_line(words);
            errors = ErrorState{};  // an event pruned already is not found: no matter here
            if (model_) model_->use(std::stoi(s.substr(1)));
        }
    }
    HistoryModel* model_;
    WordList line_;
    std::int64_t limit_ = 0;
};

TEST_F(HistoryTest, PruningKeepsTheEventsUsedWithinTheLimit) {
    struct Case {
        const char* steps;
        const char* kept;  // number:reference, newest first
    } cases[] = {
        {"h3 s s s s s", "5:5 4:4 3:3 2:2 "},
        {"h0 s s s", "3:3 "},
        // A use keeps an old event; it then ages from the line that used it.
        {"h2 s s s u1 s", "4:4 3:3 2:2 1:3 "},
        {"h3 s s s u1 s s s", "6:6 5:5 4:4 3:3 1:3 "},
        {"h3 s s s u1 s s s s", "7:7 6:6 5:5 4:4 "},
        // A listing raises every reference number: nothing goes at the next line.
        {"h2 s s l s", "3:3 2:3 1:2 "},
        // An event used after listings can be older by its reference number than events used
        // before it: 2 and 1 go, 3 stays.
        {"h2 s s s l l u2 s s s", "6:6 5:5 4:4 3:5 "},
        // The limit is read at each line.
        {"h5 s s s s s h1 s", "6:6 5:5 "},
        {"h1 s s h5 s s", "4:4 3:3 2:2 1:1 "},
    };
    for (const Case& c : cases) {
        reset();
        HistorySteps(nullptr).run(c.steps);
        EXPECT_EQ(events_and_references(), c.kept) << "steps: " << c.steps;
    }
}

TEST_F(HistoryTest, PruningAgreesWithTheRuleOverLongRuns) {
    std::mt19937 random(13);
    for (int run = 0; run < 20; ++run) {
        reset();
        HistoryModel model;
        HistorySteps steps(&model);
        std::string done;
        for (int i = 0; i < 300; ++i) {
            std::uint32_t r = random() % 100;
            std::string step = r < 5    ? "h" + std::to_string(random() % 12)
                               : r < 55 ? "s"
                               : r < 70 ? "l"
                                        : "u" + std::to_string(1 + random() % (model.current + 1));
            steps.run(step);
            done += step + " ";
            ASSERT_EQ(events_and_references(), model.shown()) << "steps: " << done;
        }
    }
}

}  // namespace
