#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "expand/expressions.h"
#include "test_support.h"
#include "vars/variables.h"

namespace {

// The words of an expression written with one blank between words.
WordVector split(std::string_view text) {
    WordVector v;
    while (!text.empty()) {
        const std::size_t blank = text.find(' ');
        v.push_back(chars(text.substr(0, blank)));
        if (blank == std::string_view::npos) break;
        text.remove_prefix(blank + 1);
    }
    return v;
}

// A word with every character quoted.
CharString q(std::string_view s) {
    CharString r = chars(s);
    for (Char& c : r) c = quoted(c);
    return r;
}

// Runs every test as the builtin "@" would, with its messages captured and the shell's own
// variables and user put back afterwards.
class ExpressionsTest : public testing::Test {
  protected:
    // A string, not the bare literal: g++ 12 sees a false overlap there (-Wrestrict).
    void SetUp() override { errors.error_name = std::string("@"); }

    // What the diagnostic stream received since the last call.
    std::string diagnostics() { return capture_.diagnostics(); }

    // The value of the whole of words; fails the test when words are left over or it raises.
    std::int32_t value_of(const WordVector& words, const std::string& label, int flags = 0) {
        std::size_t cursor = 0;
        std::int32_t value = 0;
        try {
            value = eval_expression(words, cursor, flags);
        } catch (const ShellError&) {
            ADD_FAILURE() << label << ": raised " << diagnostics();
            return 0;
        }
        EXPECT_EQ(cursor, words.size()) << label << ": words left over";
        EXPECT_EQ(diagnostics(), "") << label;
        return value;
    }

    // The message an expression raises; "" when it raises nothing.
    std::string message_of(const WordVector& words, int flags = 0) {
        std::size_t cursor = 0;
        try {
            eval_expression(words, cursor, flags);
        } catch (const ShellError&) {
            return diagnostics();
        }
        return "";
    }

  private:
    StreamCapture capture_;
    StateGuard state_{STATE_ERRORS | STATE_SHELL_FLAGS | STATE_VARIABLES};
};

struct ValueRow {
    const char* expr;
    std::int32_t value;
};

TEST_F(ExpressionsTest, PrecedenceAndGroupingAtEveryLevel) {
    const ValueRow rows[] = {
        // || and && group from the right, && binding tighter.
        {"1 || 1 && 0", 1},
        {"0 || 0", 0},
        {"0 || 5", 1},
        {"2 && 3", 1},
        {"1 && 0", 0},
        {"1 && 1 || 0 && 0", 1},
        // | below ^ below & below the equality operators.
        {"1 | 2 ^ 3 & 6", 1},
        {"3 & 5", 1},
        {"3 | 5", 7},
        {"3 ^ 5", 6},
        {"2 & 2 == 2", 0},
        {"6 & 7 & 12", 4},
        // Relational operators group from the right: 3 > (2 > 1).
        {"3 > 2 > 1", 1},
        {"1 < 2", 1},
        {"2 < 1", 0},
        {"2 > = 2", 1},
        {"1 < = 0", 0},
        {"1 < = 01", 1},  // typed "1 <= 01": the lexer splits "<=" into two words
        {"1 < 2 == 1", 1},
        // Shifts group from the right: 1 << (2 << 3), 64 >> (2 >> 1).
        {"1 << 2 << 3", 65536},
        {"64 >> 2 >> 1", 32},
        {"1 + 1 << 2", 8},
        // Additive and multiplicative levels group from the right.
        {"2 + 3 * 4", 14},
        {"( 2 + 3 ) * 4", 20},
        {"10 - 3 - 2", 9},
        {"2 - 1 + 1", 0},
        {"16 / 4 / 2", 8},
        {"( 16 / 4 ) / 2", 2},
        {"2 * 3 % 4", 6},
        {"7 % 4 * 2", 7},
        // Unary operators and primaries.
        {"5", 5},
        {"( 5 )", 5},
        {"( )", 0},
        {"- 5", -5},
        {"-5", -5},
        {"- - 5", 5},
        {"1 - - 1", 2},
        {"! 0", 1},
        {"! 5", 0},
        {"! ! 7", 1},
        {"~ 0", -1},
        {"~ ~ 7", 7},
        {"~ 1 + 1", -1},
    };
    for (const ValueRow& row : rows) {
        EXPECT_EQ(value_of(split(row.expr), row.expr), row.value) << row.expr;
    }
}

TEST_F(ExpressionsTest, EqualityComparesWordsAndRelationsCompareNumbers) {
    const ValueRow rows[] = {
        {"1 == 01", 0},
        {"1 != 01", 1},
        {"abc == abc", 1},
        {"abc != abd", 1},
        {"1 == 1 + 0", 1},   // a computed number reads as its plain decimal form
        {"01 == 1 + 0", 0},  // so it differs from another spelling
        {"-0 == 0 * 1", 0},
        {"( 1 ) == 1", 1},
        {"== 5", 0},  // an operator word in operand place is
                      // the empty word
        {"abc =~ abc", 1},
        {"abc !~ abc", 0},
        {"1 =~ 2", 0},
    };
    for (const ValueRow& row : rows) {
        EXPECT_EQ(value_of(split(row.expr), row.expr), row.value) << row.expr;
    }

    // The empty word is 0 as a number and "" as a word.
    EXPECT_EQ(value_of({CharString(), chars("+"), chars("3")}, "'' + 3"), 3);
    EXPECT_EQ(value_of({CharString(), chars("=="), CharString()}, "'' == ''"), 1);
    EXPECT_EQ(value_of({CharString(), chars("=="), chars("0")}, "'' == 0"), 0);
}

TEST_F(ExpressionsTest, ArithmeticWrapsIn32Bits) {
    const ValueRow rows[] = {
        {"2147483647 + 1", INT32_MIN},
        {"-2147483648 - 1", 2147483647},
        {"65536 * 65536", 0},
        {"- -2147483648", INT32_MIN},
        {"-2147483648 * -1", INT32_MIN},
        // The least number divided by -1: the quotient wraps to itself, the remainder is 0.
        {"-2147483648 / -1", INT32_MIN},
        {"-2147483648 % -1", 0},
        {"-2147483648 / 1", INT32_MIN},
        {"~ 2147483647", INT32_MIN},
        // Division truncates toward zero; the remainder has the sign of the left operand.
        {"7 / -2", -3},
        {"-7 / 2", -3},
        {"-7 % 2", -1},
        {"7 % -2", 1},
        // Shift counts are taken modulo 32; >> keeps the sign.
        {"1 << 33", 2},
        {"1 << 32", 1},
        {"1 << 31", INT32_MIN},
        {"1 << -1", INT32_MIN},
        {"3 << 31", INT32_MIN},
        {"-8 >> 1", -4},
        {"-1 >> 31", -1},
        {"8 >> 33", 4},
    };
    for (const ValueRow& row : rows) {
        EXPECT_EQ(value_of(split(row.expr), row.expr), row.value) << row.expr;
    }
}

struct MessageRow {
    const char* expr;
    const char* message;
};

TEST_F(ExpressionsTest, ErrorsAndTheirNamePrefix) {
    const MessageRow rows[] = {
        {"1 / 0", "Division by 0.\n"},
        {"1 % 0", "Mod by 0.\n"},
        {"xyz / 0", "Division by 0.\n"},  // the divisor is examined first
        {"1 / ( 1 - 1 )", "Division by 0.\n"},
        {"", "@: Expression Syntax.\n"},
        {"1 +", "@: Expression Syntax.\n"},
        {"5 &", "@: Expression Syntax.\n"},
        {"abc", "@: Expression Syntax.\n"},
        {"1 < abc", "@: Expression Syntax.\n"},
        {"+5", "@: Expression Syntax.\n"},
        {"- x", "@: Expression Syntax.\n"},
        {"&& 1", "@: Expression Syntax.\n"},
        {"( 1", "@: Expression Syntax.\n"},
        {"( 1 ]", "@: Expression Syntax.\n"},
        {"5x", "@: Badly formed number.\n"},
        {"1 + 2x", "@: Badly formed number.\n"},
        {"-", "@: Expression Syntax.\n"},  // the empty word minus nothing
        {"-ex file", "@: Malformed file inquiry.\n"},
        {"-zz", "@: Malformed file inquiry.\n"},
        {"-e", "@: Missing file name.\n"},
        {"-e )", "@: Missing file name.\n"},
        {"{ true", "@: Missing }.\n"},
        {"{ true }x", "@: Missing }.\n"},
        // Skipped operands are still examined.
        {"0 && xyz", "@: Expression Syntax.\n"},
        {"1 || xyz", "@: Expression Syntax.\n"},
        {"0 && ( 1 << xyz )", "@: Expression Syntax.\n"},
        {"0 && ! xyz", "@: Expression Syntax.\n"},
        {"0 && ~ xyz", "@: Expression Syntax.\n"},
        {"0 && 5x", "@: Badly formed number.\n"},
        {"0 && -e", "@: Missing file name.\n"},
        {"0 && -ex f", "@: Malformed file inquiry.\n"},
        {"0 && { true", "@: Missing }.\n"},
        {"1 || ( 2", "@: Expression Syntax.\n"},
    };
    for (const MessageRow& row : rows) {
        EXPECT_EQ(message_of(split(row.expr)), row.message) << row.expr;
    }
}

TEST_F(ExpressionsTest, SkippedOperandsComputeNothing) {
    const ValueRow rows[] = {
        {"1 || 1 / 0", 1},     {"0 && 1 / 0", 0},      {"0 && 1 % 0", 0},
        {"1 || ( 2 / 0 )", 1}, {"0 && 1 < abc", 0},    {"0 && abc == def", 0},
        {"0 && 1 + abc", 0},   {"0 && 2 * abc", 0},    {"0 && -e /nonexistent/x", 0},
        {"0 && { true }", 0},  {"1 || 0 && 1 / 0", 1}, {"0 && 1 || 1", 1},
    };
    for (const ValueRow& row : rows) {
        EXPECT_EQ(value_of(split(row.expr), row.expr), row.value) << row.expr;
    }

    // Skipping from the start, as while does when it first reads a loop at the terminal.
    for (const char* expr : {"1 / 0", "1 % 0 + 3", "{ false } || 1 / 0", "-d /nonexistent"}) {
        value_of(split(expr), expr, EXPR_SKIP);
    }
}

TEST_F(ExpressionsTest, StopsOnTheFirstWordItCannotUse) {
    struct Row {
        const char* expr;
        std::size_t start;
        std::int32_t value;
        std::size_t cursor;
    };
    const Row rows[] = {
        {"1 == 1 == 1", 0, 1, 3},       {"1 )", 0, 1, 1},       {"2 3", 0, 2, 1},
        {"if ( 1 + 1 ) then", 1, 2, 6}, {"{ a } + 1", 0, 0, 5},  // skipped below, so nothing runs
        {"0 && { a b } c", 0, 0, 6},    {"( 1 ) ) x", 0, 1, 3},
    };
    for (const Row& row : rows) {
        const WordVector words = split(row.expr);
        std::size_t cursor = row.start;
        const int flags = row.expr[0] == '{' ? EXPR_SKIP : 0;
        EXPECT_EQ(eval_expression(words, cursor, flags), row.value) << row.expr;
        EXPECT_EQ(cursor, row.cursor) << row.expr;
    }
}

TEST_F(ExpressionsTest, QuotedCharactersAreNeverOperators) {
    std::size_t cursor = 0;
    const WordVector words = {chars("1"), q("+"), chars("2")};
    EXPECT_EQ(eval_expression(words, cursor), 1);
    EXPECT_EQ(cursor, 1u);

    // A quoted "-" before a digit does not make a number.
    EXPECT_EQ(message_of({CharString(q("-")) + chars("5")}, EXPR_NOGLOB),
              "@: Expression Syntax.\n");
    // A quoted inquiry is an ordinary word: expanded, it reads as a malformed number.
    EXPECT_EQ(message_of({q("-e"), chars("x")}), "@: Badly formed number.\n");
    EXPECT_EQ(message_of({q("(")}), "@: Expression Syntax.\n");
}

// A chain of n terms "1 op 1 op ... 1", optionally inside depth parentheses.
WordVector chain(int n, const char* op, int depth) {
    WordVector words(static_cast<std::size_t>(depth), chars("("));
    for (int i = 0; i < n; ++i) {
        if (i > 0) words.push_back(chars(op));
        words.push_back(chars("1"));
    }
    words.insert(words.end(), static_cast<std::size_t>(depth), chars(")"));
    return words;
}

TEST_F(ExpressionsTest, LongChainsWorkAndDeepNestingIsAnErrorNotACrash) {
    EXPECT_EQ(value_of(chain(1000, "+", 0), "1000 terms"), 1000);
    EXPECT_EQ(value_of(chain(1000, "-", 100), "1000 terms in 100 parentheses"), 0);
    EXPECT_EQ(message_of(chain(1, "+", 100000)), "@: Expression Syntax.\n");
    EXPECT_EQ(message_of(chain(100000, "-", 0)), "@: Expression Syntax.\n");
    EXPECT_EQ(message_of(chain(100000, "||", 0)), "@: Expression Syntax.\n");
    WordVector nots(100000, chars("!"));
    nots.push_back(chars("1"));
    EXPECT_EQ(message_of(nots), "@: Expression Syntax.\n");
}

// Inquiries on files of every kind, made afresh in a temporary directory.
class FileInquiryTest : public ExpressionsTest {
  protected:
    void SetUp() override {
        ExpressionsTest::SetUp();
        char tmpl[] = "/tmp/orv-expr-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        make_file("empty", "", 0644);
        make_file("data", "text\n", 0644);
        make_file("prog", "#!/bin/sh\n", 0755);
        ASSERT_EQ(mkdir(path("dir").c_str(), 0755), 0);
        ASSERT_EQ(symlink(path("data").c_str(), path("link").c_str()), 0);
        ASSERT_EQ(symlink(path("nowhere").c_str(), path("dangling").c_str()), 0);
        ASSERT_EQ(mkfifo(path("fifo").c_str(), 0644), 0);
        socket_fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(socket_fd_, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const std::string sock = path("sock");
        ASSERT_LT(sock.size(), sizeof addr.sun_path);
        sock.copy(addr.sun_path, sock.size());
        ASSERT_EQ(bind(socket_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    }
    void TearDown() override {
        if (socket_fd_ >= 0) close(socket_fd_);
        for (const char* name : {"empty", "data", "prog", "link", "dangling", "fifo", "sock"}) {
            unlink(path(name).c_str());
        }
        rmdir(path("dir").c_str());
        rmdir(dir_.c_str());
        ExpressionsTest::TearDown();
    }

    std::string path(const char* name) const { return dir_ + "/" + name; }
    void make_file(const char* name, const char* text, mode_t mode) {
        FILE* f = std::fopen(path(name).c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(text, f);
        std::fclose(f);
        ASSERT_EQ(chmod(path(name).c_str(), mode), 0);
    }
    // "-x name" with the name made absolute in the temporary directory.
    WordVector inquiry(const char* op, const char* name) const {
        return {chars(op), chars(path(name))};
    }

    std::string dir_;
    int socket_fd_ = -1;
};

TEST_F(FileInquiryTest, EachLetterOnEachKindOfFile) {
    shell.real_uid = getuid();
    struct Row {
        const char* op;
        const char* name;
        std::int32_t value;
    };
    const Row rows[] = {
        {"-e", "data", 1}, {"-e", "missing", 0}, {"-e", "dangling", 0}, {"-e", "dir", 1},
        {"-f", "data", 1}, {"-f", "dir", 0},     {"-f", "link", 1},     {"-f", "missing", 0},
        {"-d", "dir", 1},  {"-d", "data", 0},    {"-l", "link", 1},     {"-l", "dangling", 1},
        {"-l", "data", 0}, {"-p", "fifo", 1},    {"-p", "data", 0},     {"-s", "sock", 1},
        {"-s", "data", 0}, {"-z", "empty", 1},   {"-z", "data", 0},     {"-z", "missing", 0},
        {"-r", "data", 1}, {"-r", "missing", 0}, {"-w", "data", 1},     {"-w", "missing", 0},
        {"-x", "prog", 1}, {"-x", "missing", 0}, {"-o", "data", 1},     {"-o", "missing", 0},
    };
    for (const Row& row : rows) {
        const std::string label = std::string(row.op) + " " + row.name;
        EXPECT_EQ(value_of(inquiry(row.op, row.name), label), row.value);
    }
    if (getuid() != 0) {  // the superuser may execute a file without execute permission
        EXPECT_EQ(value_of(inquiry("-x", "data"), "-x data"), 0);
    }

    // Ownership is judged against the shell's real user, not the process's.
    shell.real_uid = getuid() + 1;
    EXPECT_EQ(value_of(inquiry("-o", "data"), "-o data as another user"), 0);
}

TEST_F(FileInquiryTest, InquiriesCombineWithOperators) {
    WordVector words = inquiry("-z", "empty");
    words.push_back(chars("&&"));
    words.push_back(chars("!"));
    words.push_back(chars("-d"));
    words.push_back(chars(path("data")));
    EXPECT_EQ(value_of(words, "-z empty && ! -d data"), 1);

    // An operator-looking name is taken when such a file exists.
    EXPECT_EQ(value_of(split("-d /"), "-d /"), 1);
    EXPECT_EQ(value_of(split("-e / == 1"), "-e / == 1"), 1);
}

TEST_F(FileInquiryTest, MatchingTakesThePatternLiterallyButExpandsTheOperand) {
    const CharString data = chars(path("data"));
    // Several files begin with d: expanded against the directory, the pattern would be
    // ambiguous.
    EXPECT_EQ(value_of({data, chars("=~"), chars(path("d*"))}, "data =~ d*"), 1);
    EXPECT_EQ(value_of({data, chars("!~"), chars(path("d*"))}, "data !~ d*"), 0);
    // Only prog begins with p, so the left operand expands to it.
    EXPECT_EQ(value_of({chars(path("p*")), chars("=="), chars(path("prog"))}, "p* == prog"), 1);
    EXPECT_EQ(message_of({chars(path("d*")), chars("=="), data}), path("d*") + ": Ambiguous.\n");

    const ValueRow rows[] = {
        {"abc =~ a*", 1},
        {"abc =~ b*", 0},
        {"abc =~ a?c", 1},
        {"abc !~ [a-c]bc", 0},
    };
    for (const ValueRow& row : rows) {
        EXPECT_EQ(value_of(split(row.expr), row.expr), row.value) << row.expr;
    }
    // A quoted pattern character matches only itself.
    EXPECT_EQ(value_of({chars("abc"), chars("=~"), chars("a") + q("*")}, "abc =~ a\\*"), 0);
    EXPECT_EQ(value_of({q("a*"), chars("=~"), chars("a") + q("*")}, "\"a*\" =~ a\\*"), 1);
}

}  // namespace
