#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "complete/completion.h"
#include "core/descriptors.h"
#include "test_support.h"
#include "vars/variables.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

// A name followed by its type character, padded with blanks to the column width.
std::string cell(const std::string& shown, std::size_t width) {
    return shown + std::string(width > shown.size() ? width - shown.size() : 0, ' ');
}

// Runs each test in a fresh directory holding
//   abc, abd/, x.txt, x.bak, y.bak, .hidden, .hide2, run.orv (executable), sock (a socket),
//   link-dir -> abd, link-file -> abc, sub/longname1, sub/inner/
// with the two output streams captured, the variable store of its own, and no terminal.
class CompletionTest : public testing::Test {
  protected:
    void SetUp() override {
        saved_fds_ = fds;
        fds.shell_out = -1;  // the terminal width is then 80
        old_dir_ = fs::current_path();
        char tmpl[] = "/tmp/orv-complete-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        fs::current_path(dir_);
        for (const char* d : {"abd", "sub", "sub/inner"}) fs::create_directory(d);
        for (const char* f :
             {"abc", "x.txt", "x.bak", "y.bak", ".hidden", ".hide2", "run.orv", "sub/longname1"}) {
            std::ofstream(f).put('x');
        }
        fs::permissions("run.orv", fs::perms::owner_exec, fs::perm_options::add);
        fs::create_directory_symlink("abd", "link-dir");
        fs::create_symlink("abc", "link-file");
        int s = socket(AF_UNIX, SOCK_STREAM, 0);
        struct sockaddr_un addr {};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, "sock");
        ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        close(s);
    }
    void TearDown() override {
        fs::current_path(old_dir_);
        fs::remove_all(dir_);
        fds = saved_fds_;
    }

    void set_words(const char* name, const Strings& words) {
        WordVector v;
        for (const std::string& w : words) v.push_back(chars(w));
        var_store(chars(name), std::move(v), shell_variables);
    }

    struct Completed {
        int matches;
        std::string word;
    };
    // Completes a word that may grow to room characters.
    Completed complete(const std::string& word, std::size_t room = 1000) {
        std::vector<Char> buffer(std::max(room, word.size()) + 1, 0x55);
        for (std::size_t i = 0; i < word.size(); ++i)
            buffer[i] = static_cast<unsigned char>(word[i]);
        buffer[word.size()] = 0;
        int n = completion_search(buffer.data(), CompletionRequest::COMPLETE, room);
        return {n, to_bytes(CharView(buffer.data()))};
    }
    // What a listing of the word prints.
    std::string list(const std::string& word) {
        CharString w = chars(word);
        EXPECT_EQ(completion_search(w.data(), CompletionRequest::LIST, 0), 0);
        return capture_.output();
    }
    std::string diagnostics() { return capture_.diagnostics(); }

    fs::path dir_;

  private:
    StreamCapture capture_;
    StateGuard state_{STATE_VARIABLES};
    Descriptors saved_fds_;
    fs::path old_dir_;
};

TEST(CompletionWordStart, TheWordStartsAfterTheLastDelimiter) {
    struct Row {
        const char* line;
        std::size_t start;
    } rows[] = {
        {"", 0},       {"foo", 0},
        {"ls foo", 3}, {"cat /etc/pa", 4},
        {"a b ", 4},   {"a;b", 2},
        {"a&b", 2},    {"a<b", 2},
        {"a>b", 2},    {"(a)b", 3},
        {"a|b", 2},    {"a^b", 2},
        {"%1", 1},     {"a'b", 2},
        {"a\"b", 2},   {"a\tb", 2},
        {"x|y>z", 4},  {"~u/x-y.z=w:v,q", 0},  // none of these is a delimiter
    };
    for (const Row& r : rows) {
        CharString line = chars(r.line);
        EXPECT_EQ(completion_word_start(line.c_str(), line.size()), r.start) << r.line;
    }
    CharString line = chars("ls foo bar");
    EXPECT_EQ(completion_word_start(line.c_str(), 6), 3u);  // only the text before the end counts
}

TEST(CompletionKeyTail, OnlyAWholeControlOrSs3SequenceCounts) {
    struct Row {
        std::string_view after;  // what came in with the escape
        std::size_t tail;
    } rows[] = {
        {"[A", 2},         // Up
        {"[Axyz", 2},      // and typed text after it
        {"[1;5C", 5},      // parameters
        {"[200~text", 5},  // the start of a paste
        {"[ q", 3},        // an intermediate byte
        {"OA", 2},         // Up in application mode
        {"OP\x1b[A", 2},   // one sequence at a time
        {"", 0},           // escape alone
        {"[", 0},          // not whole
        {"[1;5", 0},       // not whole
        {"O", 0},          // not whole
        {"[1\n", 0},       // broken by a line end
        {"O\n", 0},        // nor is a control character a final byte
        {"x", 0},          // escape and a letter (Meta)
        {" ls\n", 0},      // typed at once after a completion
        {"\x1b[A", 0},     // two escapes: the first one alone
    };
    for (const Row& r : rows) EXPECT_EQ(completion_key_tail(r.after), r.tail) << r.after;
}

TEST_F(CompletionTest, CompletesToWhatAllMatchesShare) {
    set_words("home", {dir_.string()});
    struct Row {
        std::string word;
        Strings fignore;  // empty: fignore unset
        std::size_t room;
        std::string expected;
        int matches;
    } rows[] = {
        {"ab", {}, 1000, "ab", 2},  // abc and abd: ambiguous at what was typed
        {"abc", {}, 1000, "abc", 1},
        {"x", {}, 1000, "x.", 2},
        {".h", {}, 1000, ".hid", 2},  // a typed dot reaches hidden names
        {"q", {}, 1000, "q", 0},
        {"sub/l", {}, 1000, "sub/longname1", 1},
        {"nodir/x", {}, 1000, "nodir/x", 0},
        // fignore: ignored names are offered only when nothing else matches
        {"x", {".bak"}, 1000, "x.txt", 1},
        {"y", {".bak"}, 1000, "y.bak", 1},
        {"ab", {".bak"}, 1000, "ab", 2},
        {"x", {".txt", ".bak"}, 1000, "x.", 2},
        {"x", {""}, 1000, "x.", 2},  // the empty word is a suffix of every name
        // the directory part stays as typed
        {"~/x", {".bak"}, 1000, "~/x.txt", 1},
        {"~/sub/l", {}, 1000, "~/sub/longname1", 1},
        {"~roo", {}, 1000, "~root", 1},
        {"~nosuchuser_orv/x", {}, 1000, "~nosuchuser_orv/x", 0},
        {"~" + std::string(40, 'u') + "/x", {}, 1000, "~" + std::string(40, 'u') + "/x", 0},
        // never more than the room
        {"x", {".bak"}, 3, "x.t", 1},
        {"sub/l", {}, 2, "su", 1},
    };
    for (const Row& r : rows) {
        if (r.fignore.empty()) {
            shell_variables.erase(chars("fignore"));
        } else {
            set_words("fignore", r.fignore);
        }
        Completed c = complete(r.word, r.room);
        EXPECT_EQ(c.word, r.expected) << r.word;
        EXPECT_EQ(c.matches, r.matches) << r.word;
    }
}

TEST_F(CompletionTest, ExpandedDirectoriesPastTheLimitMatchNothing) {
    // A real directory whose name is longer than a directory part may be.
    fs::path deep = dir_;
    while (deep.string().size() <= 1024) deep /= std::string(200, 'd');
    fs::create_directories(deep);
    std::ofstream(deep / "x.txt").put('x');
    set_words("home", {deep.string()});
    EXPECT_EQ(complete("~/x").matches, 0);
    EXPECT_EQ(complete("~/x").word, "~/x");
}

TEST_F(CompletionTest, ListsSortedNamesDownTheColumnsWithTheirTypes) {
    set_words("fignore", {".bak"});  // a listing shows ignored names too
    // Ten names, the longest 9 characters: columns of 11, 7 of them in 80, so 2 rows.
    std::string expected = cell("abc ", 11) + cell("link-dir>", 11) + cell("run.orv*", 11) +
                           cell("sub/", 11) + cell("x.txt ", 11) + "\r\n" + cell("abd/", 11) +
                           cell("link-file@", 11) + cell("sock=", 11) + cell("x.bak ", 11) +
                           cell("y.bak ", 11) + "\r\n";
    EXPECT_EQ(list(""), expected);  // no hidden names for an empty name part
}

TEST_F(CompletionTest, ListingTypesComeFromTheExpandedDirectory) {
    set_words("home", {dir_.string()});
    EXPECT_EQ(list("~/ab"), "abc  abd/ \r\n");
    EXPECT_EQ(list("sub/"), cell("inner/", 11) + cell("longname1 ", 11) + "\r\n");
}

TEST_F(CompletionTest, ListingUserNamesShowsNoType) {
    EXPECT_EQ(list("~roo"), "root  \r\n");
}

TEST_F(CompletionTest, ListingStopsAtTheLimitWithAMessage) {
    fs::create_directory("many");
    for (int i = 0; i < 1030; ++i) std::ofstream("many/f" + std::to_string(1000 + i)).put('x');
    std::string out = list("many/");
    EXPECT_EQ(diagnostics(), "\nYikes!! Too many files!!\n");
    std::size_t names = 0;
    for (std::size_t at = out.find('f'); at != std::string::npos; at = out.find('f', at + 1)) {
        ++names;
    }
    EXPECT_EQ(names, COMPLETION_LIST_MAX);
}

TEST_F(CompletionTest, TypeCharacters) {
    fs::create_symlink("nowhere", "dangling");
    struct Row {
        const char* path;
        char type;
    } rows[] = {
        {"abc", ' '},      {"abd", '/'},       {"run.orv", '*'},  {"sock", '='},
        {"link-dir", '>'}, {"link-file", '@'}, {"dangling", '@'}, {"missing", ' '},
    };
    for (const Row& r : rows) EXPECT_EQ(completion_type_char(r.path), r.type) << r.path;
}

TEST(CompletionColumns, NamesRunDownColumnsTwoWiderThanTheLongest) {
    struct Row {
        Strings names;
        int width;
        std::string expected;
    } rows[] = {
        // columns of 5, 2 of them in 12, so 3 rows; no padding in the last column
        {{"a", "bb", "ccc", "d", "e"}, 12, "a    d \r\nbb   e \r\nccc  \r\n"},
        // narrower than one column: one column all the same
        {{"a", "bb", "ccc"}, 3, "a \r\nbb \r\nccc \r\n"},
        // widths are those of the names as shown
        {{"a\x01", "b"}, 80, "a^A  b    \r\n"},
        {{}, 80, ""},
    };
    for (const Row& r : rows) {
        WordVector names;
        for (const std::string& n : r.names) names.push_back(chars(n));
        FILE* out = std::tmpfile();
        completion_print_columns(out, names, "", CompletionNames::USERS, r.width);
        EXPECT_EQ(take_written(out), r.expected) << r.width;
        std::fclose(out);
    }
}

// Input that is no terminal is passed on in the pieces it is read in, never taken for requests.
TEST(CompletionReader, InputFromAPipeIsReturnedAsRead) {
    Descriptors saved = fds;
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    const char text[] = "echo a\necho b";
    ASSERT_EQ(write(p[1], text, sizeof text - 1), static_cast<ssize_t>(sizeof text - 1));
    close(p[1]);
    fds.shell_in = p[0];
    Char buffer[1024];
    ASSERT_EQ(complete_line(buffer, 4), 4);  // no more than the buffer holds
    EXPECT_EQ(to_bytes(CharView(buffer, 4)), "echo");
    ASSERT_EQ(complete_line(buffer, 1024), 9);
    EXPECT_EQ(to_bytes(CharView(buffer, 9)), " a\necho b");
    EXPECT_EQ(complete_line(buffer, 1024), 0);
    close(p[0]);
    fds = saved;
}

}  // namespace
