#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/pattern.h"
#include "expand/glob.h"
#include "platform/system_glob.h"
#include "test_support.h"
#include "vars/variables.h"

namespace {

// A string with every character quoted.
CharString q(std::string_view s) {
    CharString r = chars(s);
    for (Char& c : r) c = quoted(c);
    return r;
}

WordVector words(std::initializer_list<CharString> list) {
    return WordVector(list);
}

std::vector<std::string> bytes_of(const WordVector& v) {
    std::vector<std::string> out;
    for (const CharString& w : v) out.push_back(to_bytes(w));
    return out;
}

using Strings = std::vector<std::string>;

// Captures the diagnostic stream, keeps the variable store apart and runs each test in a fresh
// directory holding p.o, q.o, "my dir/f1", a file named t and a backslash, and s/ with four
// files whose names order differently by case.
class GlobTest : public testing::Test {
  protected:
    void SetUp() override {
        old_dir_ = std::filesystem::current_path();
        char tmpl[] = "/tmp/orv-glob-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        std::filesystem::current_path(dir_);
        std::filesystem::create_directory("my dir");
        std::filesystem::create_directory("s");
        for (const char* name : {"p.o", "q.o", "my dir/f1", "t\\", "s/B", "s/a", "s/_", "s/1"}) {
            std::ofstream(name).put('x');
        }
    }
    void TearDown() override {
        std::filesystem::current_path(old_dir_);
        std::filesystem::remove_all(dir_);
    }
    std::string diagnostics() { return capture_.diagnostics(); }
    // The message raised by f, or "" when it returned.
    template <class F>
    std::string raised(F f) {
        try {
            f();
        } catch (const ShellError&) {
            return diagnostics();
        }
        return "";
    }
    // glob_words after glob_classify, as the builtins call it; {"<null>"} for no match.
    Strings expand(const WordVector& v) {
        std::optional<WordVector> out = glob_words(v, glob_classify(v));
        return out ? bytes_of(*out) : Strings{"<null>"};
    }

  private:
    StreamCapture capture_;
    StateGuard state_{STATE_ERRORS | STATE_VARIABLES};
    std::filesystem::path old_dir_, dir_;
};

// ---- pattern_match ------------------------------------------------------------------------------

TEST_F(GlobTest, PatternMatchTable) {
    struct Row {
        CharString string, pattern;
        bool expected;
    } rows[] = {
        {chars("abd"), chars("a*"), true},
        {chars("abd"), chars("{x,a}bd"), true},
        {chars("xbd"), chars("{x,a}bd"), true},
        {chars("ybd"), chars("{x,a}bd"), false},
        {chars("abd"), chars("^a*"), false},
        {chars("xbd"), chars("^a*"), true},
        {chars("b"), chars("[a-e]"), true},
        {chars("f"), chars("[a-e]"), false},
        {chars("f"), chars("[^a-e]"), true},
        {chars("c"), chars("[^a-e]"), false},
        {chars("-"), chars("[a-]"), true},  // a - that is last or first is itself
        {chars("-"), chars("[-a]"), true},
        {chars("b"), chars("[a-]"), false},
        {chars("x"), chars("[a-cx]"), true},
        {chars("abc"), chars("a?c"), true},
        {chars("ac"), chars("a?c"), false},
        {chars(""), chars("*"), true},
        {chars(""), chars(""), true},
        {chars("a"), chars(""), false},
        {chars("abcabd"), chars("*ab?"), true},
        {chars("abcabd"), chars("*ab"), false},
        {chars("ab"), chars("a**"), true},
        // the rest after * is never tried on the empty remainder
        {chars("a"), chars("a**"), false},
        {chars("a"), chars("a*?"), false},
        // the rest after * is a whole pattern again: its leading ^ negates
        {chars("ax"), chars("a*^b"), true},
        {chars("ab"), chars("a*^b"), false},
        {chars("x.c"), chars("*.{c,h}"), true},
        {chars("x.o"), chars("*.{c,h}"), false},
        // quoted characters are never pattern characters; string marks are ignored
        {chars("*b"), q("*") + chars("b"), true},
        {chars("ab"), q("*") + chars("b"), false},
        {chars("[a]"), q("[") + chars("a]"), true},
        {chars("a"), q("[") + chars("a]"), false},
        {chars("^a"), q("^") + chars("a"), true},
        {chars("ab"), q("{a,b}"), false},
        {chars("{a,b}"), q("{a,b}"), true},
        {chars("?"), q("?"), true},
        {chars("x"), q("?"), false},
        {q("ab"), chars("a?"), true},
        {chars("b"), q("[") + chars("^a]"), false},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(pattern_match(r.string, r.pattern), r.expected)
            << to_bytes(r.string) << " vs " << to_escaped_bytes(r.pattern);
    }
    EXPECT_EQ(diagnostics(), "");
}

TEST_F(GlobTest, PatternMatchMissingBracketRaisesWhenReached) {
    errors.error_name = "case";
    struct Row {
        const char *string, *pattern, *message;
    } rows[] = {
        {"ab", "a[bc", "case: Missing ].\n"},
        {"abc", "*[", "case: Missing ].\n"},
        {"xb", "a[bc", ""},  // the match fails before it reaches the list
        {"a", "{a", "Missing }.\n"},
        {"a", "{a,[}", "Missing ].\n"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(raised([&] { pattern_match(chars(r.string), chars(r.pattern)); }), r.message)
            << r.string << " vs " << r.pattern;
    }
}

TEST_F(GlobTest, PatternMatchManyStarsStaysPolynomial) {
    // Naive re-application of the matcher at every * would take about 300^40 steps here.
    const CharString string = chars(std::string(300, 'a'));
    std::string pattern;
    for (int i = 0; i < 40; ++i) pattern += "*a";
    EXPECT_TRUE(pattern_match(string, chars(pattern)));
    EXPECT_FALSE(pattern_match(string, chars(pattern + "*b")));
    EXPECT_TRUE(pattern_match(string, chars(pattern + "*^b")));
}

TEST_F(GlobTest, PatternMatchRangesFollowCollation) {
    // In the C locale collation is byte order: B lies outside a-c.
    EXPECT_FALSE(pattern_match(chars("B"), chars("[a-c]")));
    if (!std::setlocale(LC_COLLATE, "en_US.UTF-8")) GTEST_SKIP() << "no en_US.UTF-8 locale";
    // There a < A < b < B < c.
    const bool upper_b = pattern_match(chars("B"), chars("[a-c]"));
    const bool upper_c = pattern_match(chars("C"), chars("[a-c]"));
    std::setlocale(LC_COLLATE, "C");
    EXPECT_TRUE(upper_b);
    EXPECT_FALSE(upper_c);
}

// Sets the whole locale for a scope and puts the C locale back.
class LocaleScope {
  public:
    explicit LocaleScope(const char* name) : ok_(std::setlocale(LC_ALL, name) != nullptr) {}
    ~LocaleScope() { std::setlocale(LC_ALL, "C"); }
    LocaleScope(const LocaleScope&) = delete;
    LocaleScope& operator=(const LocaleScope&) = delete;
    bool ok() const { return ok_; }

  private:
    bool ok_;
};

TEST_F(GlobTest, PatternMatchTakesCharactersOfTheLocale) {
    struct Row {
        CharString string, pattern;
        bool in_c, in_utf8;  // C: one byte a character
    } rows[] = {
        {chars("é"), chars("?"), false, true},
        {chars("é"), chars("??"), true, false},
        {chars("€"), chars("?"), false, true},  // three bytes
        {chars("😀"), chars("?"), false, true},  // four bytes
        {chars("café"), chars("caf?"), false, true},
        {chars("é"), chars("*??"), true, false},  // * moves by whole characters
        {chars("naïve"), chars("n*?ve"), true, true},
        {chars("é"), chars("[à-ü]"), false, true},
        {chars("ö"), chars("[à-ü]"), false, true},
        {chars("ÿ"), chars("[à-ü]"), false, false},  // after ü
        {chars("a"), chars("[à-ü]"), false, false},
        {chars("a"), chars("[^à-ü]"), true, true},
        {chars("é"), chars("[^à-ü]"), false, false},
        {chars("é"), chars("[^a]"), false, true},
        {chars("é"), chars("[é]"), false, true},
        {chars("e"), chars("[é]"), false, false},
        {chars("-"), chars("[é-]"), true, true},
        {chars("xé"), chars("*[à-ü]"), true, true},
        {chars("é"), chars("{?,x}"), false, true},
        {chars("éé"), chars("^?"), true, true},
        // quoted characters stay literal; a character is quoted as its first byte is
        {chars("é"), q("?"), false, false},
        {chars("é"), q("é"), true, true},
        {chars("é"), q("é").substr(0, 1) + chars("é").substr(1), true, true},
        // a byte that begins no character is one of its own, and only equal to itself
        {chars("\xff"), chars("?"), true, true},
        {chars("\xff\xfe"), chars("??"), true, true},
        {chars("\xc3"), chars("?"), true, true},  // cut short
        {chars("\303a"), chars("??"), true, true},
        {chars("é\xff"), chars("??"), false, true},
        {chars("é\xff"), chars("?\xff"), false, true},
        {chars("\xff"), chars("\xfe"), false, false},
        {chars("ÿ"), chars("\xff"), false, false},  // U+00FF is not the byte 0xff
        {chars("\xff"), chars("[à-ü]"), false, false},
        {chars("\xff"), chars("[^à-ü]"), true, true},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(pattern_match(r.string, r.pattern), r.in_c)
            << "C: " << to_bytes(r.string) << " vs " << to_escaped_bytes(r.pattern);
    }
    LocaleScope utf8("C.UTF-8");
    ASSERT_TRUE(utf8.ok());
    for (const Row& r : rows) {
        EXPECT_EQ(pattern_match(r.string, r.pattern), r.in_utf8)
            << "C.UTF-8: " << to_bytes(r.string) << " vs " << to_escaped_bytes(r.pattern);
    }
    EXPECT_EQ(diagnostics(), "");
}

TEST_F(GlobTest, PatternMatchInUtf8RaisesAndStaysPolynomial) {
    LocaleScope utf8("C.UTF-8");
    ASSERT_TRUE(utf8.ok());
    errors.error_name = "case";
    EXPECT_EQ(raised([] { pattern_match(chars("éb"), chars("é[bc")); }), "case: Missing ].\n");
    EXPECT_EQ(raised([] { pattern_match(chars("éb"), chars("*é[")); }), "case: Missing ].\n");
    std::string string, pattern;
    for (int i = 0; i < 300; ++i) string += "é";
    for (int i = 0; i < 40; ++i) pattern += "*é";
    EXPECT_TRUE(pattern_match(chars(string), chars(pattern)));
    EXPECT_FALSE(pattern_match(chars(string), chars(pattern + "*?b")));
}

// ---- brace_expand -------------------------------------------------------------------------------

TEST_F(GlobTest, BraceExpandTable) {
    struct Row {
        WordVector in;
        Strings expected;
        const char* message;
    } rows[] = {
        {words({chars("x{p,q{r,s}}y")}), {"xpy", "xqry", "xqsy"}, ""},
        {words({chars("{}")}), {"{}"}, ""},
        {words({chars("{")}), {"{"}, ""},
        {words({chars("a{b}c")}), {"abc"}, ""},
        {words({chars("a{}c")}), {"ac"}, ""},
        {words({chars("{a,b}{c,d}")}), {"ac", "ad", "bc", "bd"}, ""},
        {words({chars("u"), chars("{a,}"), chars("v")}), {"u", "a", "", "v"}, ""},
        // a comma or brace inside brackets neither splits nor closes
        {words({chars("{[,]x,y}")}), {"[,]x", "y"}, ""},
        {words({chars("{[}]x,y}")}), {"[}]x", "y"}, ""},
        {words({q("{") + chars("a,b}")}), {"{a,b}"}, ""},
        {words({chars("{p,q")}), {"{p,q"}, "Missing }.\n"},
        {words({chars("a}{b")}), {"a}{b"}, "Missing }.\n"},
        {words({chars("{a,[b}")}), {"{a,[b}"}, "Missing ].\n"},
    };
    for (Row& r : rows) {
        WordVector v = r.in;
        EXPECT_EQ(raised([&] { brace_expand(v); }), r.message) << to_bytes(r.in[0]);
        EXPECT_EQ(bytes_of(v), r.expected) << to_bytes(r.in[0]);
    }
}

// ---- tilde_expand -------------------------------------------------------------------------------

TEST_F(GlobTest, TildeExpandTable) {
    var_set("home", chars("/u"));
    const passwd* root = getpwnam("root");
    ASSERT_NE(root, nullptr);
    const std::string root_home = root->pw_dir;
    struct Row {
        CharString word;
        std::string expected, message;
    } rows[] = {
        {chars("~"), "/u", ""},
        {chars("~/x"), "/u/x", ""},
        {chars("~:y"), "/u:y", ""},
        {chars("~root/x"), root_home + "/x", ""},
        {chars("~root"), root_home, ""},
        {chars("~no_such_user_zq/x"), "", "Unknown user: no_such_user_zq.\n"},
    };
    for (const Row& r : rows) {
        CharString got;
        EXPECT_EQ(raised([&] { got = tilde_expand(r.word); }), r.message) << to_bytes(r.word);
        EXPECT_EQ(to_bytes(got), r.expected) << to_bytes(r.word);
    }
    // The rest of the word keeps its quote marks.
    EXPECT_EQ(tilde_expand(chars("~") + q("/*")), chars("/u") + q("/*"));
    var_set("home", CharString());
    EXPECT_EQ(raised([] { tilde_expand(chars("~/x")); }), "No $home variable set.\n");
    shell_variables.erase(chars("home"));
    EXPECT_EQ(raised([] { tilde_expand(chars("~")); }), "No $home variable set.\n");
}

// ---- glob_classify, glob_words, glob_one ------------------------------------------------------

TEST_F(GlobTest, ClassifyTable) {
    struct Row {
        WordVector in;
        int expected;
    } rows[] = {
        {words({chars("plain")}), 0},
        {words({chars("*.c")}), EXP_WILDCARD},
        {words({chars("a?"), chars("[x")}), EXP_WILDCARD},
        {words({q("*.c")}), 0},
        {words({chars("~/x")}), EXP_SPECIAL},
        {words({chars("=1")}), EXP_SPECIAL},
        {words({q("~")}), 0},
        {words({chars("{")}), 0},
        {words({chars("{}")}), 0},
        {words({chars("a{b,c}")}), EXP_SPECIAL},
        {words({chars("a`ls *`b")}), EXP_SPECIAL},  // what the command holds is its own
        {words({chars("`echo \\`*`")}), EXP_SPECIAL},
        {words({chars("`x`*")}), EXP_SPECIAL | EXP_WILDCARD},
        {words({chars("~"), chars("*")}), EXP_SPECIAL | EXP_WILDCARD},
        {words({}), 0},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(glob_classify(r.in), r.expected) << (r.in.empty() ? "" : to_bytes(r.in[0]));
    }
}

TEST_F(GlobTest, GlobWordsWithVariables) {
    var_set("home", chars("/u"));
    struct Row {
        const char* noglob_nonomatch;  // which of the two are set
        WordVector in;
        Strings expected;
    } rows[] = {
        {"", words({chars("*.o"), chars("*.h")}), {"p.o", "q.o"}},
        {"", words({chars("*.h")}), {"<null>"}},
        {"", words({chars("a"), chars("*.h")}), {"<null>"}},
        {"", words({chars("*.h"), chars("*.o"), chars("a")}), {"p.o", "q.o", "a"}},
        {"", words({chars("{p,q}.*")}), {"p.o", "q.o"}},
        {"", words({chars("~/*.o")}), {"<null>"}},
        {"", words({chars("~/x"), chars("{a,b}")}), {"/u/x", "a", "b"}},
        {"", words({q("*"), chars("p.*")}), {"*", "p.o"}},
        {"", words({q("my dir/") + chars("*")}), {"my dir/f1"}},
        {"", words({q("*.h")}), {"*.h"}},
        {"", words({}), {}},
        {"nonomatch", words({chars("*.h")}), {"*.h"}},
        {"nonomatch", words({q("*") + chars(".h*")}), {"*.h*"}},
        {"nonomatch", words({chars("*.h"), chars("*.o")}), {"*.h", "p.o", "q.o"}},
        {"noglob", words({chars("*.o"), chars("{a,b}"), chars("~")}), {"*.o", "{a,b}", "~"}},
    };
    for (const Row& r : rows) {
        shell_variables.erase(chars("noglob"));
        shell_variables.erase(chars("nonomatch"));
        if (*r.noglob_nonomatch) var_set(r.noglob_nonomatch, CharString());
        EXPECT_EQ(expand(r.in), r.expected)
            << r.noglob_nonomatch << " " << (r.in.empty() ? "" : to_escaped_bytes(r.in[0]));
    }
    EXPECT_EQ(diagnostics(), "");
}

TEST_F(GlobTest, GlobWordsSortsEachWordsMatches) {
    // Byte order in the C locale; each word's names stay after the previous word's.
    EXPECT_EQ(expand(words({chars("s/*"), chars("*.o")})),
              (Strings{"s/1", "s/B", "s/_", "s/a", "p.o", "q.o"}));
    if (!std::setlocale(LC_COLLATE, "en_US.UTF-8")) GTEST_SKIP() << "no en_US.UTF-8 locale";
    Strings got = expand(words({chars("s/*")}));
    Strings expected{"s/1", "s/B", "s/_", "s/a"};
    std::sort(expected.begin(), expected.end(), [](const std::string& a, const std::string& b) {
        return std::strcoll(a.c_str(), b.c_str()) < 0;
    });
    std::setlocale(LC_COLLATE, "C");
    EXPECT_NE(expected, (Strings{"s/1", "s/B", "s/_", "s/a"}));  // the locale orders differently
    EXPECT_EQ(got, expected);
}

TEST_F(GlobTest, GlobOneModes) {
    struct Row {
        CharString word;
        int mode;
        std::string expected, message;
    } rows[] = {
        {chars("p.*"), ONE_AMBIGUOUS, "p.o", ""},
        {chars("*.o"), ONE_AMBIGUOUS, "", "*.o: Ambiguous.\n"},
        {chars("*.o"), ONE_FIRST, "p.o", ""},
        {chars("*.o"), ONE_JOIN, "p.o q.o", ""},
        {chars("*.h"), ONE_JOIN, "", "*.h: No match.\n"},
        {chars("{x,y}z"), ONE_JOIN, "xz yz", ""},
        {chars("{x,y}z"), ONE_AMBIGUOUS, "", "{x,y}z: Ambiguous.\n"},
        {q("*.o"), ONE_AMBIGUOUS, "*.o", ""},
        {chars("nofile"), ONE_AMBIGUOUS, "nofile", ""},
        {chars("[ab"), ONE_AMBIGUOUS, "[ab", ""},
    };
    for (const Row& r : rows) {
        std::string got;
        EXPECT_EQ(raised([&] { got = to_bytes(glob_one(r.word, r.mode)); }), r.message)
            << to_escaped_bytes(r.word) << " mode " << r.mode;
        EXPECT_EQ(got, r.expected) << to_escaped_bytes(r.word) << " mode " << r.mode;
    }
    var_set("noglob", CharString());
    EXPECT_EQ(to_bytes(glob_one(chars("*.o"), ONE_AMBIGUOUS)), "*.o");
    EXPECT_EQ(to_bytes(glob_one(chars("{x,y}"), ONE_AMBIGUOUS)), "{x,y}");
}

// ---- The glob(3) wrapper ------------------------------------------------------------------------

TEST_F(GlobTest, GlobQuotedTable) {
    struct Row {
        const char* pattern;
        bool nocheck;
        Strings expected;
        bool magic, matched;
    } rows[] = {
        {"*.o", false, {"p.o", "q.o"}, true, true},
        {"*.h", false, {}, true, false},
        {"*.h", true, {"*.h"}, true, false},
        {"\\*.h*", true, {"*.h*"}, true, false},
        // without a wildcard a pattern comes back as itself, existing or not, unescaped
        {"nofile", false, {"nofile"}, false, false},
        {"\\*", false, {"*"}, false, false},
        {"no\\file", false, {"nofile"}, false, false},
        {"p\\.o", false, {"p.o"}, false, false},
        {"\\m\\y\\ \\d\\i\\r\\/f1", false, {"my dir/f1"}, false, false},
        {"x\\", false, {"x\\"}, false, false},
        {"[ab", false, {"[ab"}, false, false},
        {"[]", false, {"[]"}, false, false},
        {"[!]", false, {"[!]"}, false, false},
        {"[a\\]", false, {"[a]"}, false, false},
        {"\\[p].o", false, {"[p].o"}, false, false},
        // quoted parts of a magic pattern match literally, directories included
        {"\\m\\y\\ \\d\\i\\r\\/*", false, {"my dir/f1"}, true, true},
        {"[pq].o", false, {"p.o", "q.o"}, true, true},
        {"[\\]p].o", false, {"p.o"}, true, true},
        {"\\p*", false, {"p.o"}, true, true},
        {"\\**", false, {}, true, false},
        // a trailing backslash stands for itself
        {"t*\\", false, {"t\\"}, true, true},
    };
    for (const Row& r : rows) {
        Strings paths;
        GlobReport report;
        EXPECT_EQ(glob_quoted(r.pattern, r.nocheck, paths, report), GLOB_STATUS_OK) << r.pattern;
        EXPECT_EQ(paths, r.expected) << r.pattern;
        EXPECT_EQ(report.magic, r.magic) << r.pattern;
        EXPECT_EQ(report.matched, r.matched) << r.pattern;
    }
}

TEST_F(GlobTest, GlobQuotedAppends) {
    Strings paths{"first"};
    GlobReport report;
    glob_quoted("*.o", false, paths, report);
    glob_quoted("s/[ab]", false, paths, report);
    EXPECT_EQ(paths, (Strings{"first", "p.o", "q.o", "s/a"}));
}

}  // namespace
