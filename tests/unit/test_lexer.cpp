#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "input/input_buffer.h"
#include "input/lexer.h"
#include "input/word_list.h"
#include "test_support.h"

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

class LexerTest : public testing::Test {
  protected:
    void SetUp() override {
        errors = ErrorState{};
        lex_reset();
        input = InputState{};
        shell.interactive = false;
    }
    void TearDown() override {
        input = InputState{};
        errors = ErrorState{};
        shell.interactive = false;
        lex_reset();
    }
    // The words of the first line of text, joined by " | ".
    std::string lex(const std::string& text) {
        text_ = to_char_string(text);
        input.command_string = &text_;
        WordList line;
        lex_line(line);
        std::string out;
        for (LexWord* w = line.first(); w != line.head(); w = w->next) {
            if (!out.empty()) out += " | ";
            out += show(w->word);
        }
        return out;
    }

  private:
    CharString text_;
    StreamCapture capture_;
};

TEST_F(LexerTest, WordLists) {
    struct Row {
        const char* text;
        const char* words;  // null: not checked
        const char* error;  // the deferred error, or null
    } rows[] = {
        {"a&&b||x>>f<<e", "a | && | b | || | x | >> | f | << | e | NL", nullptr},
        {"a|&b", "a | | | & | b | NL", nullptr},
        {"a >& f >! g", "a | > | & | f | > | ! | g | NL", nullptr},
        {"a;b(c)d", "a | ; | b | ( | c | ) | d | NL", nullptr},
        {"'a b'", "'a b' | NL", nullptr},
        {"\"x\"y'z'", "\"x\"y'z' | NL", nullptr},
        {"echo a#b c", "echo | a | NL", nullptr},
        {"echo \\x \\!", "echo | \\\\x | \\! | NL", nullptr},
        {"\\\necho a", "echo | a | NL", nullptr},
        {"ab\\\ncd", "ab | cd | NL", nullptr},
        {"a \"b\\\"c\"", "a | \"b\\\"c\" | NL", "Unmatched \""},
        {"$ x", "\\$ | x | NL", nullptr},
        {"${x}y $x[1]:h", "${x}y | $x[1]:h | NL", nullptr},
        {"echo $a[$b[$c[1]]]x", "echo | $a[$b[$c[1]]]x | NL", nullptr},
        // A subscript holds 67 characters after its [, the ] counted.
        {"$a[123456789012345678901234567890123456789012345678901234567890123456]",
         "$a[123456789012345678901234567890123456789012345678901234567890123456] | NL", nullptr},
        {"$a[1234567890123456789012345678901234567890123456789012345678901234567]", nullptr,
         "Selector overflow"},
        {"echo \"abc", "echo | \"abc | NL", "Unmatched \""},
        {"echo 'abc", "echo | 'abc | NL", "Unmatched '"},
        {"echo \"a$\"", "echo | \"a$\" | NL", "Illegal variable name"},
        {"echo ${x y", "echo | ${x | y | NL", "Missing }"},
        {"echo $#<", "echo | $\\#\\< | NL", "$, ! or < not allowed with $# or $?"},
        {"echo $?*", "echo | $?* | NL", "* not allowed with $# or $?"},
        {"echo $x:z", "echo | $x:z | NL", "Unknown variable modifier"},
        {"echo $x:s/a/b/", "echo | $x:s/a/b/ | NL", nullptr},
        {"echo $x:s1a1b1", "echo | $x:s1a1b1 | NL", "Bad substitute"},
        {"echo \"x\" )y(", "echo | \"x\" | ) | y | ( | NL", nullptr},
    };
    for (const Row& r : rows) {
        SetUp();
        std::string words = lex(r.text);
        if (r.words) {
            EXPECT_EQ(words, r.words) << "text: " << r.text;
        }
        if (r.error) {
            ASSERT_TRUE(errors.pending_error.has_value()) << "text: " << r.text;
            EXPECT_EQ(*errors.pending_error, r.error) << "text: " << r.text;
        } else {
            EXPECT_FALSE(errors.pending_error.has_value())
                << "text: " << r.text << " error: " << *errors.pending_error;
        }
        TearDown();
    }
}

TEST_F(LexerTest, CommentsOnlyWhenNotInteractive) {
    EXPECT_EQ(lex("echo a#b"), "echo | a | NL");
    TearDown();
    SetUp();
    shell.interactive = true;
    EXPECT_EQ(lex("echo a#b"), "echo | a#b | NL");
}

TEST_F(LexerTest, WordLengthLimit) {
    EXPECT_EQ(lex(std::string(1019, 'w')), std::string(1019, 'w') + " | NL");
    EXPECT_FALSE(errors.pending_error.has_value());
    TearDown();
    SetUp();
    lex(std::string(1020, 'w'));
    ASSERT_TRUE(errors.pending_error.has_value());
    EXPECT_EQ(*errors.pending_error, "Word too long");
}

// Reads n characters from the input.
std::string take(int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += static_cast<char>(read_char(true));
    return out;
}

// Positions taken while reading come back to the same text, from a file window or from memory.
void check_round_trip(bool seekable) {
    char path[] = "/tmp/orv-input-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    // More than one block, so that going back crosses a block boundary.
    std::string text;
    for (int i = 0; i < 300; ++i) text += "line " + std::to_string(i) + "\n";
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    lseek(fd, 0, SEEK_SET);
    int saved_in = fds.shell_in;
    input = InputState{};
    fds.shell_in = fd;
    input_check_seekable();
    if (!seekable) input.input_seekable = false;  // as for a pipe: text kept in memory
    EXPECT_EQ(input.input_seekable, seekable);
    take(10);
    InputPosition early;
    input_tell(early);
    EXPECT_EQ(early.kind, INPUT_FILE);
    std::string after_early = take(1500);
    InputPosition late;
    input_tell(late);
    std::string after_late = take(20);
    input_seek(early);
    EXPECT_EQ(take(1500), after_early);
    input_seek(late);
    EXPECT_EQ(take(20), after_late);
    EXPECT_EQ(after_early, text.substr(10, 1500));
    close(fd);
    unlink(path);
    fds.shell_in = saved_in;
    input = InputState{};
}

TEST(InputPositions, RoundTripInASeekableFile) {
    check_round_trip(true);
}
TEST(InputPositions, RoundTripInMemory) {
    check_round_trip(false);
}

TEST(InputPositions, RoundTripInEvalWords) {
    WordVector words{chars("echo"), chars("one"), chars("two")};
    input = InputState{};
    input.eval.words = &words;
    EXPECT_EQ(take(5), "echo ");
    InputPosition pos;
    input_tell(pos);
    EXPECT_EQ(pos.kind, INPUT_EVAL);
    EXPECT_EQ(take(7), "one two");
    EXPECT_EQ(read_char(true), '\n');
    input_seek(pos);
    EXPECT_EQ(take(7), "one two");
    input = InputState{};
}

TEST(InputPositions, AliasWordsEndWithNewlinesUntilCleared) {
    WordVector words{chars("ls"), chars("-l")};
    input = InputState{};
    input.alias.words = &words;
    EXPECT_EQ(take(5), "ls -l");
    EXPECT_EQ(read_char(true), '\n');
    EXPECT_EQ(read_char(true), '\n');
    input = InputState{};
}

}  // namespace
