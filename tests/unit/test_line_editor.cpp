// The line editor's pieces apart from a terminal: key decoding, the editing commands, the width
// of text, where text lands once it wraps, and the text side of completion.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "complete/completion.h"
#include "complete/edit_line.h"
#include "complete/keys.h"
#include "complete/text_display.h"
#include "core/chars.h"

namespace {

// Runs a test body in a locale, and puts C back.
class InLocale {
  public:
    explicit InLocale(const char* name) {
        ok_ = std::setlocale(LC_ALL, name) != nullptr;
        locale_changed();
    }
    ~InLocale() {
        std::setlocale(LC_ALL, "C");
        locale_changed();
    }
    bool ok() const { return ok_; }

  private:
    bool ok_;
};

TEST(LineEditorKeys, DecodesTheKeysOfCommonTerminals) {
    struct Row {
        std::string bytes;
        bool final;
        Key key;
        unsigned char byte;
        std::size_t length;
    };
    const Row rows[] = {
        {"a", false, Key::CHAR, 0, 1},
        {"\x01x", false, Key::CONTROL, 1, 1},
        {"\x7f", false, Key::CONTROL, 0x7f, 1},
        {"\x1b[A", false, Key::UP, 0, 3},    // xterm
        {"\x1bOB", false, Key::DOWN, 0, 3},  // application mode
        {"\x1b[D", false, Key::LEFT, 0, 3},
        {"\x1b[1;5C", false, Key::WORD_RIGHT, 0, 6},  // Control-Right
        {"\x1b[1;3D", false, Key::WORD_LEFT, 0, 6},   // Alt-Left
        {"\x1bOd", false, Key::WORD_LEFT, 0, 3},      // rxvt Control-Left
        {"\x1b[H", false, Key::HOME, 0, 3},
        {"\x1b[1~", false, Key::HOME, 0, 4},  // VT220, Linux console, screen
        {"\x1b[7~", false, Key::HOME, 0, 4},  // rxvt
        {"\x1b[4~xyz", false, Key::END, 0, 4},
        {"\x1bOF", false, Key::END, 0, 3},
        {"\x1b[3~", false, Key::DELETE, 0, 4},
        {"\x1b[2~", false, Key::NONE, 0, 4},  // Insert: used for nothing, taken whole
        {"\x1b[[A", false, Key::NONE, 0, 4},  // a Linux console function key
        {"\x1b[15;2~", false, Key::NONE, 0, 7},
        {"\x1b\x1b[A", false, Key::UP, 0, 4},  // Alt-Up of some terminals
        {"\x1b"
         "b",
         false, Key::ALT, 'b', 2},
        {"\x1b\x7f", false, Key::ALT, 0x7f, 2},
        {"\x1b\x1bx", false, Key::ALT, 0x1b, 2},  // Escape Escape
        // What is only the start of a key waits for more, unless no more is coming.
        {"\x1b", false, Key::NONE, 0, 0},
        {"\x1b[1;", false, Key::NONE, 0, 0},
        {"\x1b\x1b", false, Key::NONE, 0, 0},
        {"\x1b", true, Key::ESCAPE, 0x1b, 1},
        {"\x1b[1;", true, Key::NONE, 0, 4},
        {"\x1b\x1b", true, Key::ALT, 0x1b, 2},
        {"\x1bO", true, Key::NONE, 0, 2},
    };
    for (const Row& r : rows) {
        KeyPress k = decode_key(r.bytes, false, r.final);
        EXPECT_EQ(k.length, r.length) << testing::PrintToString(r.bytes);
        if (k.length == 0) continue;
        EXPECT_EQ(k.key, r.key) << testing::PrintToString(r.bytes);
        if (r.key == Key::CONTROL || r.key == Key::ALT) {
            EXPECT_EQ(k.byte, r.byte) << testing::PrintToString(r.bytes);
        }
    }
}

TEST(LineEditorKeys, AUtf8CharacterIsOneKeyOnlyInUtf8) {
    struct Row {
        std::string bytes;
        bool utf8, final;
        std::size_t length;  // 0: waits for more
    };
    const Row rows[] = {
        {"\xc3\xa9x", true, false, 2},         // é
        {"\xe6\x97\xa5", true, false, 3},      // a wide character
        {"\xf0\x9f\x98\x80", true, false, 4},  // beyond the first plane
        {"\xe6\x97", true, false, 0},          // the rest is still coming
        {"\xe6\x97", true, true, 1},           // it is not: the first byte alone
        {"\xe6x", true, false, 1},             // no character: the byte alone
        {"\xc0\x80", true, false, 1},          // an overlong form is no character
        {"\xed\xa0\x80", true, false, 1},      // nor is a surrogate
        {"\xc3\xa9", false, false, 1},         // in C every byte is a character
    };
    for (const Row& r : rows) {
        KeyPress k = decode_key(r.bytes, r.utf8, r.final);
        EXPECT_EQ(k.length, r.length) << testing::PrintToString(r.bytes);
        if (k.length) {
            EXPECT_EQ(k.key, Key::CHAR);
        }
    }
}

// A line written with "|" at the cursor.
EditLine line_of(const std::string& marked, bool utf8 = false) {
    EditLine l;
    l.utf8 = utf8;
    std::size_t bar = marked.find('|');
    l.text = marked.substr(0, bar) + marked.substr(bar + 1);
    l.cursor = bar;
    return l;
}

std::string marked(const EditLine& l) {
    return l.text.substr(0, l.cursor) + "|" + l.text.substr(l.cursor);
}

TEST(LineEditorEdits, EachCommandOnALine) {
    struct Row {
        std::string before;
        EditOp op;
        std::string after;
        bool done;
        std::string killed;
    };
    const Row rows[] = {
        {"ab|c", EditOp::LEFT, "a|bc", true, ""},
        {"|abc", EditOp::LEFT, "|abc", false, ""},
        {"abc|", EditOp::RIGHT, "abc|", false, ""},
        {"echo foo-bar| x", EditOp::WORD_LEFT, "echo foo-|bar x", true, ""},
        {"echo foo|-bar x", EditOp::WORD_LEFT, "echo |foo-bar x", true, ""},
        {"echo| foo-bar", EditOp::WORD_RIGHT, "echo foo|-bar", true, ""},
        {"ab|c", EditOp::HOME, "|abc", true, ""},
        {"a|bc", EditOp::END, "abc|", true, ""},
        {"ab|c", EditOp::BACKSPACE, "a|c", true, ""},
        {"|abc", EditOp::BACKSPACE, "|abc", false, ""},
        {"ab|c", EditOp::DELETE, "ab|", true, ""},
        {"abc|", EditOp::DELETE, "abc|", false, ""},
        {"echo a|bc", EditOp::KILL_TO_END, "echo a|", true, "bc"},
        {"echo a|bc", EditOp::KILL_LINE, "|", true, "echo abc"},
        {"ls -l /usr/b|in", EditOp::KILL_TO_BLANK, "ls -l |in", true, "/usr/b"},
        {"ls -l  |x", EditOp::KILL_TO_BLANK, "ls |x", true, "-l  "},
        {"ls /usr/bin|", EditOp::KILL_WORD_BACK, "ls /usr/|", true, "bin"},
        {"ls |/usr/bin", EditOp::KILL_WORD_FORWARD, "ls |/bin", true, "/usr"},
        {"ls| /usr/bin", EditOp::KILL_WORD_FORWARD, "ls|/bin", true, " /usr"},
        {"|", EditOp::KILL_TO_END, "|", false, ""},
        {"ab|cd", EditOp::TRANSPOSE, "acb|d", true, ""},
        {"abcd|", EditOp::TRANSPOSE, "abdc|", true, ""},  // at the end: the two before
        {"|abcd", EditOp::TRANSPOSE, "|abcd", false, ""},
        {"a|", EditOp::TRANSPOSE, "a|", false, ""},
        {"ab|", EditOp::YANK, "ab|", false, ""},  // nothing killed yet
    };
    for (const Row& r : rows) {
        EditLine l = line_of(r.before);
        bool done = edit_apply(l, r.op);
        EXPECT_EQ(marked(l), r.after) << r.before;
        EXPECT_EQ(done, r.done) << r.before;
        EXPECT_EQ(l.killed, r.killed) << r.before;
    }
}

TEST(LineEditorEdits, KillsInARowAddUpAndYankGivesThemBack) {
    EditLine l = line_of("one two three|");
    ASSERT_TRUE(edit_apply(l, EditOp::KILL_WORD_BACK));
    ASSERT_TRUE(edit_apply(l, EditOp::KILL_WORD_BACK));
    EXPECT_EQ(l.killed, "two three");  // in the order of the text
    ASSERT_TRUE(edit_apply(l, EditOp::HOME));
    ASSERT_TRUE(edit_apply(l, EditOp::YANK));
    EXPECT_EQ(marked(l), "two three|one ");
    // A command between two kills starts a new kill.
    ASSERT_TRUE(edit_apply(l, EditOp::KILL_TO_END));
    ASSERT_TRUE(edit_apply(l, EditOp::LEFT));
    ASSERT_TRUE(edit_apply(l, EditOp::KILL_TO_END));
    EXPECT_EQ(l.killed, "e");
    EXPECT_EQ(marked(l), "two thre|");
}

TEST(LineEditorEdits, AMultibyteCharacterMovesAndGoesAsOne) {
    InLocale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.ok());
    const std::string e_acute = "\xc3\xa9", wide = "\xe6\x97\xa5", combined = "e\xcc\x81";
    struct Row {
        std::string before;
        EditOp op;
        std::string after;
    };
    const Row rows[] = {
        {"a" + e_acute + "|", EditOp::BACKSPACE, "a|"},
        {"a|" + wide + "b", EditOp::DELETE, "a|b"},
        {"a" + wide + "|b", EditOp::LEFT, "a|" + wide + "b"},
        {"a|" + combined + "b", EditOp::RIGHT, "a" + combined + "|b"},  // with its mark
        {"a" + combined + "|", EditOp::BACKSPACE, "a|"},
        {"x" + e_acute + wide + "|", EditOp::TRANSPOSE, "x" + wide + e_acute + "|"},
        {"ab " + e_acute + "t" + e_acute + "|", EditOp::KILL_WORD_BACK, "ab |"},
    };
    for (const Row& r : rows) {
        EditLine l = line_of(r.before, true);
        EXPECT_TRUE(edit_apply(l, r.op)) << r.before;
        EXPECT_EQ(marked(l), r.after) << r.before;
    }
}

TEST(LineEditorDisplay, WidthOfText) {
    struct Row {
        std::string text;
        bool utf8;
        int width;
    };
    const Row rows[] = {
        {"abc", false, 3},
        {"a\tb", false, 4},                     // a tab is shown as ^I
        {"\x7f", false, 2},                     // ^?
        {"\xc3\xa9", false, 6},                 // two bytes beyond ASCII in C: M-C M-)
        {"\xc3\xa9", true, 1},                  // é
        {"\xe6\x97\xa5\xe6\x9c\xac", true, 4},  // two wide characters
        {"e\xcc\x81", true, 1},                 // a combining mark takes no column
        {"\xff", true, 4},                      // no character: shown as M-^?
    };
    InLocale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.ok());
    for (const Row& r : rows) {
        EXPECT_EQ(text_width(r.text, r.utf8), r.width) << testing::PrintToString(r.text);
    }
    EXPECT_EQ(text_cell("\xff", 0, true).shown, "M-^?");
    EXPECT_EQ(prompt_width("\x1b[1;32m<1>\x1b[0m ", true), 4);  // colours take no room
}

TEST(LineEditorDisplay, WrappingOnANarrowTerminal) {
    struct Row {
        ScreenPos start;
        std::string text;
        bool utf8;
        int columns;
        ScreenPos end;
    };
    const std::string wide = "\xe6\x97\xa5";
    const Row rows[] = {
        {{0, 2}, "abc", false, 10, {0, 5}},
        {{0, 2}, "abcdefgh", false, 10, {1, 0}},  // the row filled: the next begins
        {{0, 2}, "abcdefghi", false, 10, {1, 1}},
        {{0, 0}, std::string(25, 'x'), false, 10, {2, 5}},
        {{0, 8}, wide, true, 10, {1, 0}},     // fits exactly
        {{0, 9}, wide, true, 10, {1, 2}},     // does not fit: goes whole to the next row
        {{0, 9}, "\x01", false, 10, {1, 1}},  // a visible form wraps between its columns
        {{0, 0}, "e\xcc\x81", true, 10, {0, 1}},
    };
    InLocale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.ok());
    for (const Row& r : rows) {
        ScreenPos end = screen_end(r.start, r.text, r.text.size(), r.utf8, r.columns);
        EXPECT_EQ(end.row, r.end.row) << testing::PrintToString(r.text);
        EXPECT_EQ(end.col, r.end.col) << testing::PrintToString(r.text);
    }
}

TEST(LineEditorCompletion, TheWordAtTheCursor) {
    struct Row {
        std::string line;  // "#" marks the cursor
        CompletionKind kind;
        std::string directory, prefix;
        std::size_t replace_from;
        char quote;
    };
    const Row rows[] = {
        {"ec#", CompletionKind::COMMAND, "", "ec", 0, 0},
        {"ls; ca#", CompletionKind::COMMAND, "", "ca", 4, 0},
        {"ls | gr#", CompletionKind::COMMAND, "", "gr", 5, 0},
        {"echo `wh#", CompletionKind::COMMAND, "", "wh", 6, 0},
        {"cat fi#", CompletionKind::FILE_NAME, "", "fi", 4, 0},
        {"cat #", CompletionKind::FILE_NAME, "", "", 4, 0},
        {"cat /usr/li#", CompletionKind::FILE_NAME, "/usr/", "li", 9, 0},
        {"./bi#", CompletionKind::FILE_NAME, "./", "bi", 2, 0},
        {"cat my\\ fi#", CompletionKind::FILE_NAME, "", "my fi", 4, 0},
        {"cat \"my fi#", CompletionKind::FILE_NAME, "", "my fi", 5, '"'},
        {"cat 'a b'/c#", CompletionKind::FILE_NAME, "a b/", "c", 10, 0},
        {"cat \"a b/c#", CompletionKind::FILE_NAME, "a b/", "c", 9, '"'},
        {"cat > ou#", CompletionKind::FILE_NAME, "", "ou", 6, 0},
        {"echo $HO#", CompletionKind::VARIABLE, "", "HO", 6, 0},
        {"echo x${pa#", CompletionKind::VARIABLE, "", "pa", 8, 0},
        {"echo \"$HO#", CompletionKind::VARIABLE, "", "HO", 7, '"'},
        {"echo '$HO#", CompletionKind::FILE_NAME, "", "$HO", 6, '\''},
        {"echo \\$HO#", CompletionKind::FILE_NAME, "", "$HO", 5, 0},
        {"ls ~ro#", CompletionKind::USER, "", "ro", 4, 0},
        {"ls ~root/.pro#", CompletionKind::FILE_NAME, "~root/", ".pro", 9, 0},
        {"ls a#bc", CompletionKind::FILE_NAME, "", "a", 3, 0},  // up to the cursor only
        // Parentheses and redirections: where a command is, and where it is not.
        {"(ca#", CompletionKind::COMMAND, "", "ca", 1, 0},
        {"ls; (cd /; ca#", CompletionKind::COMMAND, "", "ca", 11, 0},
        {"foreach f (zz#", CompletionKind::FILE_NAME, "", "zz", 11, 0},
        {"if ( -e (x) ) wh#", CompletionKind::COMMAND, "", "wh", 14, 0},
        {"while ( 1 ) zz#", CompletionKind::FILE_NAME, "", "zz", 12, 0},
        {"> zz#", CompletionKind::FILE_NAME, "", "zz", 2, 0},
        {"> out ca#", CompletionKind::COMMAND, "", "ca", 6, 0},
        {"ls >& ou#", CompletionKind::FILE_NAME, "", "ou", 6, 0},
        {"ls >>& ou t#", CompletionKind::FILE_NAME, "", "t", 10, 0},
        {"ls |& gr#", CompletionKind::COMMAND, "", "gr", 6, 0},
    };
    for (const Row& r : rows) {
        std::size_t cursor = r.line.find('#');
        std::string line = r.line.substr(0, cursor) + r.line.substr(cursor + 1);
        CompletionWord w = completion_word_at(line, cursor);
        EXPECT_EQ(w.kind, r.kind) << r.line;
        EXPECT_EQ(w.directory, r.directory) << r.line;
        EXPECT_EQ(w.prefix, r.prefix) << r.line;
        EXPECT_EQ(w.replace_from, r.replace_from) << r.line;
        EXPECT_EQ(w.quote, r.quote) << r.line;
    }
}

TEST(LineEditorCompletion, NamesAreQuotedAsTheyMustBeTyped) {
    struct Row {
        std::string name;
        char quote;
        bool word_start;
        std::string typed;
    };
    const Row rows[] = {
        {"plain.txt", 0, true, "plain.txt"},
        {"my file", 0, true, "my\\ file"},
        {"a*b?[c]", 0, false, "a\\*b\\?\\[c\\]"},
        {"it's", 0, false, "it\\'s"},
        {"x;y&z|w", 0, false, "x\\;y\\&z\\|w"},
        {"$HOME!", 0, false, "\\$HOME\\!"},
        {"~tilde", 0, true, "\\~tilde"},
        {"a~b", 0, true, "a~b"},  // only at the start of a word
        {"~tilde", 0, false, "~tilde"},
        {"my file", '"', false, "my file"},
        {"a$b", '"', false, "a\"\\$\"b"},
        {"say \"hi\"", '"', false, "say \"\\\"\"hi\"\\\"\""},
        {"it's", '\'', false, "it'\\''s"},
        {"wow!", '\'', false, "wow'\\!'"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(completion_quote(r.name, r.quote, r.word_start), r.typed) << r.name;
    }
}

TEST(LineEditorCompletion, TheCommonPrefixEndsWithAWholeCharacter) {
    InLocale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.ok());
    struct Row {
        std::vector<std::string> names;
        bool utf8;
        std::string prefix;
    };
    const Row rows[] = {
        {{"abc", "abd", "abx"}, false, "ab"},
        {{"abc"}, false, "abc"},
        {{"abc", "xyz"}, false, ""},
        {{"ab\xc3\xa9", "ab\xc3\xa8"}, true, "ab"},       // é and è share their first byte
        {{"ab\xc3\xa9", "ab\xc3\xa8"}, false, "ab\xc3"},  // in C the byte is a character
        {{"e\xcc\x81x", "e\xcc\x81y"}, true, "e\xcc\x81"},
        {{"e\xcc\x81x", "e"}, true, ""},  // the mark goes with its e
    };
    for (const Row& r : rows) {
        WordVector names;
        for (const std::string& n : r.names) names.push_back(chars(n));
        EXPECT_EQ(completion_common_prefix(names, r.utf8), r.prefix)
            << testing::PrintToString(r.names);
    }
}

}  // namespace
