#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "builtins/printf.h"
#include "test_support.h"

namespace {

struct Outcome {
    std::string out, err;
    int result;
};

// Runs the formatter with "printf" as word 0, capturing the C library's standard streams, which
// are put back before any expectation is checked.
Outcome run_printf(const std::vector<const char*>& args) {
    std::vector<const char*> argv{"printf"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(nullptr);
    StreamCapture capture(stdout, stderr);
    int result = printf_format(static_cast<int>(argv.size() - 1), argv.data());
    return {capture.output(), capture.diagnostics(), result};
}

// Warnings carry the program name: "P:" in an expectation stands for it; "RANGE" stands for the
// system's text for a result out of range.
std::string warning(std::string text) {
    std::string prefix = std::string(program_invocation_short_name) + ":";
    for (std::size_t at; (at = text.find("P:")) != std::string::npos;) text.replace(at, 2, prefix);
    for (std::size_t at; (at = text.find("RANGE")) != std::string::npos;) {
        text.replace(at, 5, std::strerror(ERANGE));
    }
    return text;
}

struct Row {
    std::vector<const char*> args;
    const char* out;
    const char* err;
    int result;
};

void check(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        Outcome o = run_printf(row.args);
        std::string name = row.args.empty() ? "(none)" : row.args[0];
        EXPECT_EQ(o.out, row.out) << name;
        EXPECT_EQ(o.err, warning(row.err)) << name;
        EXPECT_EQ(o.result, row.result) << name;
    }
}

TEST(Printf, FormatIsReusedUntilTheArgumentsAreUsedUp) {
    check({
        {{"%s\n", "a", "b", "c"}, "a\nb\nc\n", "", 0},
        {{"%s\n"}, "\n", "", 0},
        {{"%d %d\n", "1", "2", "3"}, "1 2\n3 0\n", "", 0},
        {{"%s %s|\n", "a"}, "a |\n", "", 0},
        {{"abc", "x", "y"}, "abc", "P: missing format character\n", 1},
        {{"", "a"}, "", "P: missing format character\n", 1},
        {{"x%%y", "1"}, "x%yx%", "P: missing format character\n", 1},
        {{"a%%b\n"}, "a%b\n", "", 0},
    });
}

TEST(Printf, BackslashEscapesInTheFormat) {
    check({
        {{"\\101\\q\\n"}, "Aq\n", "", 0},
        {{"\\a\\b\\f\\r\\t\\v\\\\"}, "\a\b\f\r\t\v\\", "", 0},
        {{"\\0101"}, "\b1", "", 0},
        {{"\\501"}, "A", "", 0},  // 0501 is 321, taken modulo 256
        {{"x\\"}, "x\\", "", 0},
        {{"%s\\n", "a\\n"}, "a\\n\n", "", 0},  // arguments are not escaped
    });
}

TEST(Printf, Conversions) {
    check({
        {{"%5.3d|%-+5d|% d|%05d\n", "7", "7", "7", "42"}, "  007|+7   | 7|00042\n", "", 0},
        {{"%x %X %o %u %i\n", "255", "255", "8", "-1", "-3"},
         "ff FF 10 18446744073709551615 -3\n",
         "",
         0},
        {{"%e|%G|%.2f\n", "12345.678", "0.00001", "2.5e1"}, "1.234568e+04|1E-05|25.00\n", "", 0},
        {{"%c|%-3s|%.2s\n", "hello", "a", "xyz"}, "h|a  |xy\n", "", 0},
        {{"%-3c|\n", ""}, "|\n", "", 0},  // the NUL byte ends the piece before its padding
        {{"%*d|%.*f|%*.*s|\n", "5", "42", "2", "3.14159", "6", "2", "abcdef"},
         "   42|3.14|    ab|\n",
         "",
         0},
        {{"%*d|\n", "-4", "1"}, "1   |\n", "", 0},
        {{"%5%\n"}, "", "P: illegal format character %\n", 1},
        {{"%ld\n", "1"}, "", "P: illegal format character l\n", 1},
        {{"%*5d\n", "3", "4"}, "", "P: illegal format character 5\n", 1},
        {{"%q"}, "", "P: illegal format character q\n", 1},
        {{"abc%"}, "", "P: missing format character\n", 1},
        {{"%.5"}, "", "P: missing format character\n", 1},
        {{"%-#"}, "", "P: missing format character\n", 1},
    });
}

TEST(Printf, NumericArguments) {
    check({
        {{"%d %d %d %d %d\n", "'A", "abc", "0x10", "010", "\"B"}, "65 97 16 8 66\n", "", 0},
        {{"%d|%d\n", "", "-0"}, "0|0\n", "", 0},
        {{"%d\n", "12abc"}, "", "P: 12abc: illegal number\n", 1},
        {{"%d\n", "+"}, "", "P: +: illegal number\n", 1},
        {{"%d\n", "08"}, "", "P: 08: illegal number\n", 1},
        {{"%d\n", "99999999999999999999"}, "", "P: 99999999999999999999: RANGE\n", 1},
        {{"%*d\n", "2147483648", "1"}, "", "P: 2147483648: RANGE\n", 1},
        {{"%.*d\n", "2147483647x", "1"}, "", "P: 2147483647x: illegal number\n", 1},
        {{"%f %.1f %.2f\n", "'A", "abc", ".5x"}, "65.000000 97.0 0.50\n", "", 0},
        {{"x%d|%c|%f\n"}, "x0||0.000000\n", "", 0},
    });
}

TEST(Printf, OptionsAndUsage) {
    const char* usage = "usage: printf format [arg ...]\n";
    check({
        {{}, "", usage, 1},
        {{"--"}, "", usage, 1},
        {{"--", "%s-", "x"}, "x-", "", 0},
        {{"-", "x"}, "-", "P: missing format character\n", 1},
        {{"-x", "y"}, "", (std::string("P: illegal option -- x\n") + usage).c_str(), 1},
    });
}

}  // namespace
