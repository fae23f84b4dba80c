#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/modifiers.h"
#include "core/shell.h"
#include "expand/here_document.h"
#include "expand/substitute.h"
#include "input/input_buffer.h"
#include "input/lexer.h"
#include "test_support.h"
#include "vars/environment.h"
#include "vars/variables.h"

namespace {

// A string with every character quoted.
CharString Q(std::string_view s) {
    CharString r = chars(s);
    for (Char& c : r) c = quoted(c);
    return r;
}

// The lexer hands back # (like every character that could end a word) quoted inside a $ form.
const CharString COUNT = chars("$") + Q("#");

WordVector words(std::initializer_list<std::string_view> list) {
    WordVector v;
    for (std::string_view w : list) v.push_back(chars(w));
    return v;
}

// What a substitution gave: its words in byte form, or the message it raised.
struct Outcome {
    std::vector<std::string> words;
    std::string error;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    if (!o.error.empty()) return os << "error " << o.error;
    os << "{";
    for (const std::string& w : o.words) os << "[" << w << "]";
    return os << "}";
}

Outcome gives(std::initializer_list<std::string> list) {
    return Outcome{list, {}};
}
Outcome fails(std::string message) {
    return Outcome{{}, std::move(message)};
}

struct Row {
    WordVector input;
    Outcome expected;
};

// Gives each test an empty variable store and environment, captured messages and a clean
// lexer lookahead; puts the process's own back afterwards.
class SubstTest : public testing::Test {
  protected:
    void SetUp() override {
        shell.no_execute = false;
        shell.pid_text = chars("4321");
        shell.has_script_name = false;
        shell.script_name.clear();
        set_environment({"HOME=/home/u"});
        lex_reset();
        saved_background_ = session.last_background_pid;
        session.last_background_pid = 0;
    }
    void TearDown() override {
        lex_reset();
        session.last_background_pid = saved_background_;
    }
    void set(std::string_view name, WordVector value) {
        var_store(chars(name), std::move(value), shell_variables);
    }
    std::string diagnostics() { return capture_.diagnostics(); }
    Outcome run(const WordVector& input) {
        Outcome out;
        try {
            for (const CharString& w : substitute_words(input)) out.words.push_back(to_bytes(w));
        } catch (const ShellError&) {
            out.error = diagnostics();
        }
        return out;
    }
    void check(const std::vector<Row>& rows) {
        for (const Row& r : rows) {
            std::string shown;
            for (const CharString& w : r.input) shown += "[" + to_bytes(w) + "]";
            EXPECT_EQ(run(r.input), r.expected) << "input " << shown;
        }
    }
    // The exact words, quote marks included; an error fails the test.
    WordVector exact(const WordVector& input) {
        try {
            return substitute_words(input);
        } catch (const ShellError&) {
            ADD_FAILURE() << "raised " << diagnostics();
            return {};
        }
    }

  private:
    StreamCapture capture_;
    StateGuard state_{STATE_ERRORS | STATE_SHELL_FLAGS | STATE_VARIABLES | STATE_ENVIRONMENT};
    pid_t saved_background_ = 0;
};

// ---- word_modifier ----------------------------------------------------------------------------

TEST(WordModifier, Letters) {
    const CharString qslash = Q("/");
    struct ModRow {
        CharString word;
        int letter;
        std::optional<CharString> expected;
    } rows[] = {
        {chars("a/b/k.d"), 'h', chars("a/b")},
        {chars("/usr"), 'h', chars("")},
        {chars("abc"), 'h', std::nullopt},
        {chars("a") + qslash + chars("b"), 'h', std::nullopt},
        {chars("a/b") + qslash + chars("c"), 'h', chars("a")},
        {chars("a/b/k.d"), 't', chars("k.d")},
        {chars("abc"), 't', chars("abc")},
        {chars("dir/"), 't', chars("")},
        {chars("a") + qslash + chars("b"), 't', chars("a") + qslash + chars("b")},
        {chars("a/b/k.d"), 'r', chars("a/b/k")},
        {chars("x.tar.gz"), 'r', chars("x.tar")},
        {chars("a.b/c"), 'r', chars("a.b/c")},
        {chars("abc"), 'r', chars("abc")},
        {chars("a.b") + qslash + chars("c"), 'r', chars("a")},
        {chars("a/b/k.d"), 'e', chars("d")},
        {chars("x.tar.gz"), 'e', chars("gz")},
        {chars("a.b/c"), 'e', chars("")},
        {chars("abc"), 'e', chars("")},
        {chars("a.b") + qslash + chars("c"), 'e', chars("b") + qslash + chars("c")},
        {chars("a b*"), 'q', Q("a b*")},
        {chars("a b\tc*"), 'x', Q("a") + chars(" ") + Q("b") + chars("\t") + Q("c*")},
        {chars("a/b"), 'z', std::nullopt},
        {chars("a/b"), 's', std::nullopt},
    };
    for (const ModRow& r : rows) {
        EXPECT_EQ(word_modifier(r.word, r.letter), r.expected)
            << to_bytes(r.word) << " :" << static_cast<char>(r.letter);
    }
}

// ---- Subscripts and counts --------------------------------------------------------------------

TEST_F(SubstTest, Subscripts) {
    set("x", words({"p", "q", "r"}));
    set("i", words({"2"}));
    set("j", words({"2]"}));
    const std::string range = "x: Subscript out of range.\n";
    std::vector<Row> rows = {
        {words({"$x[2]"}), gives({"q"})},
        {words({"$x[2-]"}), gives({"q", "r"})},
        {words({"$x[-2]"}), gives({"p", "q"})},
        {words({"$x[3-1]"}), gives({})},
        {words({"$x[4]"}), fails(range)},
        {words({"$x[0]"}), gives({})},
        {{COUNT + chars("x")}, gives({"3"})},
        {words({"$x[*]"}), gives({"p", "q", "r"})},
        {words({"$x[2*]"}), gives({"q", "r"})},
        {words({"$x[-]"}), gives({"p", "q", "r"})},
        {words({"$x[0-2]"}), fails(range)},
        {words({"$x[2-4]"}), fails(range)},
        {words({"$x[5-]"}), gives({})},
        {words({"$x[2x]"}), fails("Missing -.\n")},
        {words({"$x[a]"}), fails("Missing -.\n")},
        {words({"$x[1-2x]"}), fails("Syntax Error.\n")},
        {words({"$x[]"}), fails("Syntax Error.\n")},
        {words({"$x[1"}), fails("Incomplete [] modifier.\n")},
        {words({"$x[$i]"}), gives({"q"})},
        {{chars("$x[") + COUNT + chars("x]")}, gives({"r"})},
        {words({"$x[$j]"}), fails("$ expansion must end before ].\n")},
        {words({"${x[2]}y"}), gives({"qy"})},
        {words({"$x[2]y"}), gives({"qy"})},
        {words({"$x[99999999999999]"}), fails(range)},
        // The count form reads no subscript: the brackets are text after the count.
        {{COUNT + chars("x[2]")}, gives({"3[2]"})},
    };
    check(rows);
}

TEST_F(SubstTest, SpecialFormsAndPositionalWords) {
    set("argv", words({"a1", "a2"}));
    std::vector<Row> rows = {
        {words({"$1"}), gives({"a1"})},
        {words({"${2}x"}), gives({"a2x"})},
        {words({"$3"}), gives({})},
        {words({"$*"}), gives({"a1", "a2"})},
        {words({"$?1"}), fails("$? not allowed here.\n")},
        {words({"$0"}), fails("No file for $0.\n")},
        {words({"$?0"}), gives({"0"})},
        {{COUNT + chars("1")}, fails("$#<num> is not allowed.\n")},
        {words({"$99999999999"}), fails("argv: Subscript out of range.\n")},
        {words({"$$"}), gives({"4321"})},
        {words({"$$:h"}), gives({"4321:h"})},
        {words({"${$}"}), gives({"4321"})},
        {words({"a$!b"}), gives({"ab"})},
        {words({"$"}), fails("Syntax Error.\n")},
        {words({"$", "x"}), fails("Variable name must contain alphanumeric characters.\n")},
        {words({"$-"}), fails("Variable name must contain alphanumeric characters.\n")},
        {words({"$" + std::string(31, 'v')}), fails("Variable name too long.\n")},
        {words({"${argv"}), fails("Missing }.\n")},
    };
    check(rows);
    session.last_background_pid = 77;
    EXPECT_EQ(run(words({"$!"})), gives({"77"}));
    shell.has_script_name = true;
    shell.script_name = chars("dir/script.orv");
    EXPECT_EQ(run(words({"$0:t:r", "$?0"})), gives({"script", "1"}));
}

TEST_F(SubstTest, EnvironmentStandsInForUnsetVariables) {
    std::vector<Row> rows = {
        {words({"$HOME"}), gives({"/home/u"})},
        {words({"$HOME:t"}), gives({"u"})},
        {words({"$?HOME"}), gives({"1"})},
        {words({"$?nonexistent"}), gives({"0"})},
        {{COUNT + chars("HOME")}, gives({"/home/u"})},
        {words({"$HOME[1]"}), gives({"/home/u[1]"})},
        {words({"$nosuch"}), fails("nosuch: Undefined variable.\n")},
    };
    check(rows);
    set("HOME", words({"/shell/home", "second"}));  // the shell variable wins
    EXPECT_EQ(run(words({"$HOME"})), gives({"/shell/home", "second"}));
}

// ---- Modifiers --------------------------------------------------------------------------------

TEST_F(SubstTest, ModifiersAndTheWordBudget) {
    set("x", words({"a/b/k.d", "e/f"}));
    set("y", words({"abc"}));
    set("z", words({"aa", "ba"}));
    set("w", words({"a"}));
    set("t", words({"aaab", "xabab"}));
    set("none", {});
    std::vector<Row> rows = {
        {words({"$x:h"}), gives({"a/b", "e/f"})},
        {words({"$x:gh"}), gives({"a/b", "e"})},
        {words({"$x:h:t"}), gives({"b", "e/f"})},
        {words({"$x:gh:t"}), gives({"b", "e/f"})},  // the last modifier's budget holds
        {words({"$x:ah"}), gives({"a", "e/f"})},
        {words({"${x:gt}!"}), gives({"k.d", "f!"})},
        {words({"$y:t"}), gives({"abc"})},
        {words({"$y:e"}), gives({})},
        {words({"\"$y:e\""}), gives({""})},
        {words({"$z:s/a/b/"}), gives({"ba", "ba"})},
        {words({"$z:gs/a/b/"}), gives({"ba", "bb"})},
        {words({"$z:as/a/b/"}), gives({"bb", "ba"})},
        {words({"$z:gas/a/b/"}), gives({"bb", "bb"})},
        {words({"$z:s/x/y/"}), gives({"aa", "ba"})},
        {words({"$z:s/a/b/:s/a/c/"}), gives({"bc", "ba"})},
        // A modifier that does not apply ends the list and spends no budget.
        {words({"$z:h:s/a/b/"}), gives({"aa", "ba"})},
        {words({"$y:s,b,/x y/,"}), gives({"a/x", "y/c"})},
        {words({"$z:s/a//"}), gives({"a", "ba"})},
        {words({"$z:gs/a//"}), gives({"a", "b"})},
        // A repeated s whose right text holds its left text stops at its bound.
        {words({"$w:as/a/a/"}), gives({"a"})},
        {words({"$w:as/a/aa/"}), fails("Word too long.\n")},
        {words({"$w:as//b/"}), fails("Word too long.\n")},
        {words({"$x:z"}), fails("Bad : modifier in $ (z).\n")},
        {words({"$w:gz"}), fails("Bad : modifier in $ (z).\n")},
        {words({"$w:s"}), fails("Bad substitute.\n")},
        {words({"$w:s/a/b"}), fails("Bad substitute.\n")},
        {words({"$w:s1a1b1"}), fails("Bad substitute.\n")},
        // A value of no words is delivered at once, and its construct's error with it.
        {words({"$none:s"}), fails("Bad substitute.\n")},
        // Each round of a repeated s searches the whole new word again: a match may begin
        // before the text just put in.
        {words({"$t:gas/ab/b/"}), gives({"b", "xbb"})},
        {words({"$t:gas/ab/a/"}), gives({"aaa", "xaa"})},
    };
    check(rows);
}

TEST_F(SubstTest, QuotingModifiersMarkTheValue) {
    set("v", words({"a b*"}));
    EXPECT_EQ(exact(words({"$v:q"})), WordVector{Q("a b*")});
    EXPECT_EQ(exact(words({"$v:x"})), (WordVector{Q("a"), Q("b*")}));
    EXPECT_EQ(exact(words({"$v"})), (WordVector{chars("a"), chars("b*")}));
}

// ---- The word builder -------------------------------------------------------------------------

TEST_F(SubstTest, QuotesAreRemovedAndMarkWhatTheyProtect) {
    set("x", words({"p", "q"}));
    set("v", words({"it's `x` \\"}));
    struct ExactRow {
        WordVector input;
        WordVector expected;
    } rows[] = {
        {words({"'a b'"}), {Q("a b")}},
        {words({"\"a $x b\""}), {Q("a p q b")}},
        {words({"'$x'"}), {Q("$x")}},
        {{chars("\\") + Q("$") + chars("x")}, {Q("$") + chars("x")}},
        {{chars("a\\") + Q(" ") + chars("b")}, {chars("a") + Q(" ") + chars("b")}},
        {words({"a'b'\"c\"d"}), {chars("a") + Q("bc") + chars("d")}},
        // Backquoted text is kept for command substitution, $ and all.
        {words({"`echo $x`"}), {chars("`echo $x`")}},
        {words({"\"a`b`c\""}), {Q("a") + chars("`") + Q("b") + chars("`") + Q("c")}},
        {words({"$x"}), {chars("p"), chars("q")}},
        {words({"a$x"}), {chars("ap"), chars("q")}},
        {words({"$x$x"}), {chars("p"), chars("qp"), chars("q")}},
        {words({"$x", "'c d'"}), {chars("p"), chars("q"), Q("c d")}},
        // Quote characters of a value are quoted and open nothing.
        {words({"$v"}), {chars("it") + Q("'") + chars("s"), Q("`") + chars("x") + Q("`"), Q("\\")}},
        // Inside quotes a backslash-newline leaves the newline in the backslash's place.
        {{chars("\"a\\") + Q("\n") + chars("b\"")}, {Q("a\nb")}},
        {words({"''"}), {CharString{}}},
        {words({"", "a"}), {chars("a")}},
    };
    for (const ExactRow& r : rows) {
        std::string shown;
        for (const CharString& w : r.input) shown += "[" + to_bytes(w) + "]";
        EXPECT_EQ(exact(r.input), r.expected) << "input " << shown;
    }
}

TEST_F(SubstTest, WordLimitsAndNewlines) {
    set("nl", words({"a\nb"}));
    std::vector<Row> rows = {
        {words({std::string(1019, 'a')}), gives({std::string(1019, 'a')})},
        {words({std::string(1020, 'a')}), fails("Word too long.\n")},
        {words({"$" + std::string(30, 'v')}),
         fails(std::string(30, 'v') + ": Undefined variable.\n")},
        // A newline in a value ends the word and stands as an empty word of its own.
        {words({"$nl"}), gives({"a", "", "b"})},
        {words({"\"$nl\""}), fails("Unmatched \".\n")},
    };
    check(rows);
}

TEST_F(SubstTest, OneWordAndCommandWords) {
    set("x", words({"p", "q"}));
    set("y", words({"one"}));
    EXPECT_EQ(substitute_one_word(chars("'a b'")), Q("a b"));
    EXPECT_EQ(substitute_one_word(chars("$y.c")), chars("one.c"));
    EXPECT_THROW(substitute_one_word(chars("$x")), ShellError);
    EXPECT_EQ(diagnostics(), "$x: Ambiguous.\n");
    EXPECT_THROW(substitute_one_word(chars("$y[0]")), ShellError);
    EXPECT_EQ(diagnostics(), "$y[0]: Ambiguous.\n");

    CommandNode node;
    node.node_type = CMD_SIMPLE;
    node.words = {chars("echo"), chars("a") + Q("$'")};  // nothing to substitute
    WordVector before = node.words;
    substitute_command_words(node);
    EXPECT_EQ(node.words, before);
    node.words = words({"echo", "$x", "'*'"});
    substitute_command_words(node);
    EXPECT_EQ(node.words, (WordVector{chars("echo"), chars("p"), chars("q"), Q("*")}));

    shell.no_execute = true;
    node.words = words({"echo", "$x"});
    substitute_command_words(node);
    EXPECT_EQ(node.words, words({"echo", "$x"}));
    EXPECT_EQ(substitute_one_word(chars("$x")), std::nullopt);
}

// ---- $< ---------------------------------------------------------------------------------------

TEST_F(SubstTest, DollarLessReadsOneLineOfTheSavedInput) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    std::string text = "hello world*\nnext\n" + std::string(1023, 'z') + "\n";
    ASSERT_EQ(write(p[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(p[1]);
    int saved = fds.saved_stdin;
    fds.saved_stdin = p[0];
    const CharString less = chars("$") + Q("<");
    EXPECT_EQ(exact({less}), WordVector{Q("hello world*")});
    EXPECT_EQ(exact({chars("${") + Q("<") + chars("}:h")}), WordVector{Q("next") + chars(":h")});
    EXPECT_EQ(run({less}), fails("$< line too long.\n"));
    fds.saved_stdin = saved;
    close(p[0]);
}

// ---- Here documents ---------------------------------------------------------------------------

// Runs read_here_document on the given shell input (as -c text) with descriptor 0 closed, and
// returns what the document holds, or the message raised; rest receives the unread input.
class HereDocTest : public SubstTest {
  protected:
    void SetUp() override {
        SubstTest::SetUp();
        saved_input_ = std::move(input);
        saved_zero_ = dup(0);
    }
    void TearDown() override {
        input = std::move(saved_input_);
        dup2(saved_zero_, 0);
        close(saved_zero_);
        SubstTest::TearDown();
    }
    std::string document(const std::string& shell_input, const CharString& terminator,
                         std::string* rest = nullptr) {
        text_ = chars(shell_input);
        input = InputState{};
        input.command_string = &text_;
        close(0);
        std::string out;
        try {
            read_here_document(terminator, read_here_lines(terminator));
        } catch (const ShellError&) {
            return "error " + diagnostics();
        }
        EXPECT_EQ(lseek(0, 0, SEEK_CUR), 0);
        char buf[4096];
        ssize_t n;
        while ((n = read(0, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
        if (rest) {
            rest->clear();
            for (int c; (c = read_char(true)) != -1;) *rest += static_cast<char>(c);
        }
        return out;
    }

  private:
    InputState saved_input_;
    CharString text_;
    int saved_zero_ = -1;
};

TEST_F(HereDocTest, LinesAreSubstitutedUpToTheTerminator) {
    set("x", words({"p", "q"}));
    std::string rest;
    EXPECT_EQ(document("a $x\n\\$x \\\\ \\` \\y\n'$x'\"\nEOF\nafter", chars("EOF"), &rest),
              "a p q\n$x \\ ` \\y\n'p q'\"\n");
    EXPECT_EQ(rest, "after\n");
    EXPECT_EQ(document("a\nEOF", chars("EOF")), "a\n");
    EXPECT_EQ(document("a $nosuch\nEOF\n", chars("EOF")), "error nosuch: Undefined variable.\n");
    // A line may hold 1020 characters as read and 1019 after substitution.
    EXPECT_EQ(document(std::string(1019, 'l') + "\nEOF\n", chars("EOF")),
              std::string(1019, 'l') + "\n");
    EXPECT_EQ(document(std::string(1020, 'l') + "\nEOF\n", chars("EOF")),
              "error <<: Line overflow.\n");
    EXPECT_EQ(document(std::string(1020, 'l') + "\n'EOF'\n", chars("'EOF'")),
              std::string(1020, 'l') + "\n");
    EXPECT_EQ(document(std::string(1021, 'l') + "\n'EOF'\n", chars("'EOF'")),
              "error <<: Line overflow.\n");
    set("long", words({std::string(1000, 'v')}));
    EXPECT_EQ(document(std::string(19, 'l') + "$long\nEOF\n", chars("EOF")),
              std::string(19, 'l') + std::string(1000, 'v') + "\n");
    EXPECT_EQ(document(std::string(20, 'l') + "$long\nEOF\n", chars("EOF")),
              "error <<: Line overflow.\n");
}

TEST_F(HereDocTest, QuotedTerminatorsPassLinesUnchanged) {
    set("x", words({"p"}));
    // Only the line with the quotes ends the document.
    EXPECT_EQ(document("$x \\$x\nEOF\n'EOF'\nafter\n", chars("'EOF'")), "$x \\$x\nEOF\n");
    EXPECT_EQ(document("$x\n\\EOF\n", chars("\\") + Q("E") + chars("OF")), "$x\n");
    shell.no_execute = true;
    EXPECT_EQ(document("$nosuch\nEOF\n", chars("EOF")), "$nosuch\n");
}

TEST_F(HereDocTest, LongDocumentsInAFileWithoutAName) {
    std::string body;
    for (int i = 0; i < 500; ++i) body += "line " + std::to_string(i) + "\n";
    EXPECT_EQ(document(body + "EOF\n", chars("EOF")), body);
    struct stat st;
    ASSERT_EQ(fstat(0, &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_nlink, 0u);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

}  // namespace
