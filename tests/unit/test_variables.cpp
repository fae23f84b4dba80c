#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "input/lexer.h"
#include "test_support.h"
#include "vars/environment.h"
#include "vars/variables.h"

namespace {

// A string with every character quoted.
CharString q(std::string_view s) {
    CharString r = chars(s);
    for (Char& c : r) c = quoted(c);
    return r;
}

WordVector words(std::initializer_list<std::string_view> list) {
    WordVector v;
    for (std::string_view w : list) v.push_back(chars(w));
    return v;
}

std::vector<std::string> byte_words(const WordVector& v) {
    std::vector<std::string> out;
    for (const CharString& w : v) out.push_back(to_bytes(w));
    return out;
}

std::vector<std::string> environ_strings() {
    std::vector<std::string> out;
    for (char** p = environ; p && *p; ++p) out.emplace_back(*p);
    return out;
}

// Gives each test an empty variable store and environment, an ordinary user, and captured
// output; puts the process's own back afterwards.
class VarsTest : public testing::Test {
  protected:
    void SetUp() override {
        shell.real_uid = shell.effective_uid = 1000;
        shell.interactive = shell.forced_interactive = false;
        env_init(nullptr);
        saved_history_char_ = lexer.history_char;
        saved_quick_sub_char_ = lexer.quick_sub_char;
        saved_filec_ = filec_enabled;
    }
    void TearDown() override {
        lexer.history_char = saved_history_char_;
        lexer.quick_sub_char = saved_quick_sub_char_;
        filec_enabled = saved_filec_;
    }
    std::string output() { return capture_.output(); }
    std::string diagnostics() { return capture_.diagnostics(); }
    template <class F>
    bool raises(F f) {
        RecoveryPoint point;  // catches as the shell does, with the clean-up that follows
        try {
            f();
        } catch (const ShellError&) {
            point.recover();
            return true;
        }
        return false;
    }
    // environ must be the 8-bit form of env_words after every change.
    void expect_environ_in_step() { EXPECT_EQ(environ_strings(), byte_words(env_words)); }
    std::vector<std::string> value_of(std::string_view name) {
        const WordVector* v = var_lookup(name);
        return v ? byte_words(*v) : std::vector<std::string>{"<unset>"};
    }
    std::string env_value(std::string_view name) {
        auto v = env_lookup(name);
        return v ? to_bytes(*v) : "<unset>";
    }

  private:
    StreamCapture capture_;
    StateGuard state_{STATE_ERRORS | STATE_SHELL_FLAGS | STATE_VARIABLES | STATE_ALIASES |
                      STATE_ENVIRONMENT};
    int saved_history_char_ = 0, saved_quick_sub_char_ = 0;
    bool saved_filec_ = false;
};

// ---- Order and listing ------------------------------------------------------------------------

TEST(NameOrder, QuotedBelowPlainAndPrefixFirst) {
    struct Row {
        CharString smaller, greater;
    } rows[] = {
        {chars("a"), chars("b")}, {chars("a"), chars("ab")},          {chars("ab"), chars("b")},
        {chars(""), chars("a")},  {chars("Z"), chars("a")},           {q("z"), chars("!")},
        {q("z"), chars("a")},     {chars("a") + q("z"), chars("a!")},
    };
    NameLess less;
    for (const Row& r : rows) {
        EXPECT_TRUE(less(r.smaller, r.greater))
            << to_bytes(r.smaller) << " < " << to_bytes(r.greater);
        EXPECT_FALSE(less(r.greater, r.smaller)) << to_bytes(r.greater);
        EXPECT_FALSE(less(r.smaller, r.smaller));
    }
    // Byte names order like the plain Chars they spell, high bytes included.
    struct ByteRow {
        const char* name;
        std::string_view text;
        int order;  // sign of name against text
    } byte_rows[] = {
        {"a", "b", -1}, {"ab", "a", 1}, {"a", "ab", -1}, {"path", "path", 0}, {"\xe9", "z", 1},
    };
    for (const ByteRow& r : byte_rows) {
        CharString name = chars(r.name);
        EXPECT_EQ(less(name, r.text), r.order < 0) << r.name << " vs " << r.text;
        EXPECT_EQ(less(r.text, name), r.order > 0) << r.text << " vs " << r.name;
        EXPECT_EQ(equals(name, r.text), r.order == 0);
    }
    EXPECT_FALSE(equals(q("path"), "path"));
}

TEST_F(VarsTest, StoreKeepsNamesInOrderAndUnique) {
    VariableTree tree;
    for (const char* n : {"path", "b", "ab", "a", "Z", "b"}) var_store(chars(n), words({n}), tree);
    var_store(q("q"), words({"quoted"}), tree);
    std::vector<CharString> names;
    for (const auto& entry : tree) names.push_back(entry.first);
    std::vector<CharString> expected = {q("q"),      chars("Z"), chars("a"),
                                        chars("ab"), chars("b"), chars("path")};
    EXPECT_EQ(names, expected);
}

TEST_F(VarsTest, ListingShowsZeroOneAndSeveralWords) {
    VariableTree tree;
    var_store(chars("z"), words({"one", "two"}), tree);
    var_store(chars("x"), WordVector{}, tree);
    var_store(chars("y"), words({"one"}), tree);
    var_store(chars("e"), words({""}), tree);
    var_store(chars("ctl"), words({"a\x01"}), tree);
    var_store(chars("quoted"), WordVector{q("ab") + chars("c"), chars("d")}, tree);
    var_print_all(tree);
    EXPECT_EQ(output(),
              "ctl\ta^A\n"
              "e\t\n"
              "quoted\t(abc d)\n"
              "x\t()\n"
              "y\tone\n"
              "z\t(one two)\n");
}

TEST_F(VarsTest, SetReplacesAndValueReadsTheFirstWord) {
    var_set("x", chars("1"));
    var_set("x", q("2"));
    EXPECT_EQ(value_of("x"), std::vector<std::string>{"2"});
    EXPECT_EQ(var_value("x"), chars("2"));  // stored without quote marks
    EXPECT_EQ(shell_variables.size(), 1u);
    var_set_empty(chars("e"));
    EXPECT_EQ(value_of("e"), std::vector<std::string>{""});
    var_store(chars("none"), WordVector{}, shell_variables);
    EXPECT_TRUE(var_value("none").empty());
    EXPECT_TRUE(var_value("unset").empty());
    EXPECT_EQ(var_lookup("unset"), nullptr);
    EXPECT_NE(var_lookup("none"), nullptr);
}

// ---- Numbers ----------------------------------------------------------------------------------

TEST_F(VarsTest, ParseNumberAcceptsSignsAndWraps) {
    struct Row {
        CharString word;
        std::int32_t value;
    } rows[] = {
        {chars("0"), 0},
        {chars("-0"), 0},
        {chars("+7"), 7},
        {chars(""), 0},
        {chars("007"), 7},
        {chars("-12"), -12},
        {chars("+-3"), -3},
        {chars("2147483647"), INT_MAX},
        {chars("2147483648"), INT_MIN},
        {chars("-2147483648"), INT_MIN},
        {chars("4294967296"), 0},
        {chars("4294967301"), 5},
    };
    for (const Row& r : rows) {
        std::int32_t got = 0;
        EXPECT_FALSE(raises([&] { got = parse_number(r.word); })) << to_bytes(r.word);
        EXPECT_EQ(got, r.value) << to_bytes(r.word);
    }
    EXPECT_EQ(diagnostics(), "");
}

TEST_F(VarsTest, ParseNumberRefusesMalformedWords) {
    const CharString rows[] = {
        chars("7x"),         chars("-"),          chars("+"),   chars("x"),  chars("--1"),
        chars("+-"),         chars("1 "),         chars(" 1"),  chars("1-"), q("1"),
        chars("1") + q("2"), chars("-") + q("1"), chars("++1"),
    };
    errors.error_name = "@";
    std::string expected;
    for (const CharString& w : rows) {
        EXPECT_TRUE(raises([&] { parse_number(w); })) << to_bytes(w);
        expected += "@: Badly formed number.\n";
    }
    EXPECT_EQ(diagnostics(), expected);
}

TEST(Numbers, FormatNumber) {
    struct Row {
        std::int32_t n;
        const char* text;
    } rows[] = {
        {0, "0"},
        {7, "7"},
        {-7, "-7"},
        {-1, "-1"},
        {1000, "1000"},
        {-10, "-10"},
        {INT_MAX, "2147483647"},
        {INT_MIN, "-2147483648"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(to_bytes(format_number(r.n)), r.text);
        CharString reused = chars("a long word to overwrite");
        format_number_into(reused, r.n);
        EXPECT_EQ(to_bytes(reused), r.text);
        EXPECT_EQ(parse_number(format_number(r.n)), r.n);
    }
}

TEST_F(VarsTest, SetStatusWritesOneWord) {
    set_status(0);
    EXPECT_EQ(value_of("status"), std::vector<std::string>{"0"});
    set_status(-12);
    EXPECT_EQ(value_of("status"), std::vector<std::string>{"-12"});
    var_store(chars("status"), WordVector{}, shell_variables);
    set_status(3);
    EXPECT_EQ(value_of("status"), std::vector<std::string>{"3"});
    var_store(chars("status"), words({"a", "b"}), shell_variables);
    set_status(4);
    EXPECT_EQ(value_of("status"), std::vector<std::string>{"4"});
    set_status_after_error();
    EXPECT_EQ(value_of("status"), std::vector<std::string>{"1"});
}

// ---- Elements and removal -----------------------------------------------------------------

TEST_F(VarsTest, SetElementChecksNameAndRange) {
    var_store(chars("x"), words({"a", "b", "c"}), shell_variables);
    errors.error_name = "set";
    std::string expected;
    for (int index : {0, 4, -1, INT_MIN}) {
        EXPECT_TRUE(raises([&] { var_set_element(chars("x"), index, chars("new")); })) << index;
        expected += "set: Subscript out of range.\n";
    }
    EXPECT_EQ(diagnostics(), expected);
    EXPECT_EQ(value_of("x"), (std::vector<std::string>{"a", "b", "c"}));

    EXPECT_TRUE(raises([&] { var_set_element(chars("nosuch"), 1, chars("new")); }));
    EXPECT_EQ(diagnostics(), "nosuch: Undefined variable.\n");

    var_set_element(chars("x"), 2, q("B"));
    var_set_element(chars("x"), 3, chars("C"));
    EXPECT_EQ(value_of("x"), (std::vector<std::string>{"a", "B", "C"}));
    EXPECT_EQ((*var_lookup("x"))[1], chars("B"));  // quote marks cleared
}

TEST_F(VarsTest, UnsetByNameAndByPattern) {
    EXPECT_TRUE(raises([] { var_unset(chars("nosuch")); }));
    EXPECT_EQ(diagnostics(), "nosuch: Undefined variable.\n");
    for (const char* n : {"a", "b", "c", "d"}) var_set(n, chars(n));
    var_unset(chars("c"));
    EXPECT_EQ(var_lookup("c"), nullptr);

    var_unset_matching(words({"unset", "b", "nosuch", "d"}), shell_variables);
    EXPECT_EQ(diagnostics(), "");
    std::vector<std::string> left;
    for (const auto& entry : shell_variables) left.push_back(to_bytes(entry.first));
    EXPECT_EQ(left, (std::vector<std::string>{"a", "status"}));  // status from the error above

    var_store(chars("ll"), words({"ls -l"}), aliases);
    var_unset_matching(words({"unalias", "ll"}), aliases);
    EXPECT_TRUE(aliases.empty());
}

// ---- Side effects -------------------------------------------------------------------------

TEST_F(VarsTest, HistcharsAndFilecFollowSetAndUnset) {
    struct Row {
        const char* value;
        int history_char, quick_sub_char;
    } rows[] = {{"#", '#', 0}, {"xy", 'x', 'y'}, {"", 0, 0}, {"!^", '!', '^'}};
    for (const Row& r : rows) {
        var_set("histchars", chars(r.value));
        var_after_set(chars("histchars"));
        EXPECT_EQ(lexer.history_char, r.history_char) << r.value;
        EXPECT_EQ(lexer.quick_sub_char, r.quick_sub_char) << r.value;
    }
    var_set("histchars", chars("#"));
    var_after_set(chars("histchars"));
    var_set_empty(chars("filec"));
    var_after_set(chars("filec"));
    EXPECT_TRUE(filec_enabled);

    var_after_unset();  // both still set: nothing changes
    EXPECT_TRUE(filec_enabled);
    EXPECT_EQ(lexer.history_char, '#');

    var_unset(chars("histchars"));
    var_unset(chars("filec"));
    var_after_unset();
    EXPECT_FALSE(filec_enabled);
    EXPECT_EQ(lexer.history_char, '!');
    EXPECT_EQ(lexer.quick_sub_char, '^');
}

TEST_F(VarsTest, UserTermHomeAndPathReachTheEnvironment) {
    var_set("user", chars("alice"));
    var_after_set(chars("user"));
    var_set("term", chars("vt100"));
    var_after_set(chars("term"));
    var_set("home", chars("/home/alice"));
    var_after_set(chars("home"));
    var_store(chars("path"), words({"/bin", "/usr/bin"}), shell_variables);
    var_after_set(chars("path"));
    EXPECT_EQ(env_value("USER"), "alice");
    EXPECT_EQ(env_value("LOGNAME"), "alice");
    EXPECT_EQ(env_value("TERM"), "vt100");
    EXPECT_EQ(env_value("HOME"), "/home/alice");
    EXPECT_EQ(env_value("PATH"), "/bin:/usr/bin");
    expect_environ_in_step();

    // Unsetting leaves the environment alone.
    var_unset_matching(words({"unset", "user", "term", "home", "path"}), shell_variables);
    var_after_unset();
    EXPECT_EQ(env_value("USER"), "alice");
    EXPECT_EQ(env_value("PATH"), "/bin:/usr/bin");
}

// ---- Environment --------------------------------------------------------------------------

TEST_F(VarsTest, EnvSetReplacesInPlaceAndEnvironFollows) {
    set_environment({"A=1", "AB=2", "C=x=y"});
    expect_environ_in_step();
    EXPECT_EQ(env_value("C"), "x=y");
    EXPECT_EQ(env_value("nosuch"), "<unset>");

    struct Step {
        const char* op;  // "set" or "unset"
        CharString name;
        CharString value;
        std::vector<std::string> after;
    } steps[] = {
        {"set", chars("AB"), chars("two"), {"A=1", "AB=two", "C=x=y"}},
        {"set", chars("A"), chars(""), {"A=", "AB=two", "C=x=y"}},
        {"set", chars("D"), q("4"), {"A=", "AB=two", "C=x=y", "D=4"}},
        {"set", q("C"), chars("3"), {"A=", "AB=two", "C=3", "D=4"}},
        {"unset", chars("AB"), {}, {"A=", "C=3", "D=4"}},
        {"unset", chars("nosuch"), {}, {"A=", "C=3", "D=4"}},
        {"unset", chars("A"), {}, {"C=3", "D=4"}},
        {"set", chars("A"), chars("again"), {"C=3", "D=4", "A=again"}},
    };
    for (const Step& s : steps) {
        if (std::string(s.op) == "set") {
            env_set(s.name, s.value);
        } else {
            env_unset(s.name);
        }
        EXPECT_EQ(byte_words(env_words), s.after) << s.op << " " << to_bytes(s.name);
        expect_environ_in_step();
    }
    EXPECT_STREQ(getenv("A"), "again");
    EXPECT_EQ(getenv("AB"), nullptr);
    EXPECT_EQ(env_value("A"), "again");

    // Taking the shell's own environ as the start-up environment copies it first.
    env_init(environ);
    EXPECT_EQ(byte_words(env_words), (std::vector<std::string>{"C=3", "D=4", "A=again"}));
    expect_environ_in_step();
}

TEST_F(VarsTest, ImportPathSplitsAtColons) {
    struct Row {
        const char* value;
        std::vector<std::string> path;
    } rows[] = {
        {"/bin:/usr/bin", {"/bin", "/usr/bin"}},
        {"/bin::/usr/bin", {"/bin", ".", "/usr/bin"}},
        {":/bin", {".", "/bin"}},
        {"/bin:", {"/bin", "."}},
        {"", {"."}},
        {"::", {".", ".", "."}},
        {"/a", {"/a"}},
    };
    set_environment({"PATH=/orig"});
    for (const Row& r : rows) {
        var_store(chars("path"), path_components(chars(r.value)), shell_variables);
        EXPECT_EQ(value_of("path"), r.path) << r.value;
    }
    EXPECT_EQ(env_value("PATH"), "/orig");
    EXPECT_EQ(diagnostics(), "");  // relative components, but not the super-user
}

TEST_F(VarsTest, ExportPathJoinsAndStopsAtTheParenthesis) {
    struct Row {
        WordVector path;
        const char* exported;
    } rows[] = {
        {words({"/bin", "/usr/bin"}), "/bin:/usr/bin"},
        {words({"/bin", ")", "/x"}), "/bin"},
        {words({"/bin"}), "/bin"},
        {WordVector{}, ""},
        {words({"/bin", "", "."}), "/bin::."},
    };
    for (const Row& r : rows) {
        export_path(r.path);
        EXPECT_EQ(env_value("PATH"), r.exported);
    }
    EXPECT_EQ(diagnostics(), "");
    expect_environ_in_step();
}

TEST_F(VarsTest, ExportPathIsCutBefore1023Characters) {
    const std::string first = "/" + std::string(999, 'a');  // 1000 characters
    struct Row {
        std::size_t second_length;  // with the ":" the total is 1001 + this
        bool truncated;
    } rows[] = {{21, false}, {22, true}, {500, true}};
    for (const Row& r : rows) {
        std::string second = "/" + std::string(r.second_length - 1, 'b');
        export_path(words({first, second}));
        EXPECT_EQ(env_value("PATH"), r.truncated ? first : first + ":" + second);
        EXPECT_EQ(diagnostics(), r.truncated ? "Warning: ridiculously long PATH truncated\n" : "");
    }
    // A single word of 1023 characters does not fit at all; 1022 does.
    export_path(words({"/" + std::string(1022, 'c')}));
    EXPECT_EQ(env_value("PATH"), "");
    EXPECT_EQ(diagnostics(), "Warning: ridiculously long PATH truncated\n");
    export_path(words({"/" + std::string(1021, 'c')}));
    EXPECT_EQ(env_value("PATH").size(), 1022u);
}

TEST_F(VarsTest, RelativeComponentsWarnOnlyTheInteractiveSuperUser) {
    struct Row {
        uid_t real, effective;
        bool forced_interactive;
        bool warned;
    } rows[] = {
        {0, 0, true, true},        {1000, 0, true, true}, {0, 1000, true, true},
        {1000, 1000, true, false}, {0, 0, false, false},  // not interactive (and no terminal behind
                                                          // the output)
    };
    for (const Row& r : rows) {
        shell.real_uid = r.real;
        shell.effective_uid = r.effective;
        shell.forced_interactive = r.forced_interactive;
        export_path(words({"/bin", ".", "/usr/bin"}));
        EXPECT_EQ(env_value("PATH"), "/bin:.:/usr/bin");
        EXPECT_EQ(diagnostics(),
                  r.warned ? "Warning: exported path contains relative components.\n" : "");
        var_store(chars("path"), path_components(chars("/bin:bin::/usr/bin")), shell_variables);
        EXPECT_EQ(value_of("path"), (std::vector<std::string>{"/bin", "bin", ".", "/usr/bin"}));
        EXPECT_EQ(diagnostics(), r.warned ? "Warning: imported path contains relative components\n"
                                            "Warning: imported path contains relative components\n"
                                          : "");
    }
}

TEST(Environment, LocaleVariables) {
    struct Row {
        CharString name;
        bool locale;
    } rows[] = {
        {chars("LANG"), true},       {chars("LC_ALL"), true},   {chars("LC_CTYPE"), true},
        {chars("LC_COLLATE"), true}, {chars("LC_TIME"), false}, {chars("LANGUAGE"), false},
        {chars("lang"), false},      {chars("LC_"), false},     {chars(""), false},
    };
    for (const Row& r : rows) EXPECT_EQ(is_locale_variable(r.name), r.locale) << to_bytes(r.name);
}

}  // namespace
