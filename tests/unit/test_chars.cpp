#include <gtest/gtest.h>

#include "core/chars.h"

namespace {

CharString q(std::string_view s) {
    CharString r = chars(s);
    for (Char& c : r) c = quoted(c);
    return r;
}

int sign(int v) {
    return (v > 0) - (v < 0);
}

TEST(Chars, StrCmpOrdersQuotedBelowPlain) {
    struct Row {
        CharString a, b;
        int expected_sign;
    } rows[] = {
        {q("a"), chars("a"), -1},        {chars("a"), q("a"), 1},     {chars(""), chars(""), 0},
        {chars(""), chars("x"), -1},     {chars("x"), chars(""), 1},  {chars("ab"), chars("ab"), 0},
        {chars("ab"), chars("abc"), -1}, {chars("b"), chars("a"), 1}, {q("z"), chars("!"), -1},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(sign(str_cmp(r.a, r.b)), r.expected_sign)
            << to_byte_string(r.a) << " vs " << to_byte_string(r.b);
    }
    // Ends are -1 and 1 exactly; otherwise the signed difference.
    EXPECT_EQ(str_cmp(chars(""), chars("x")), -1);
    EXPECT_EQ(str_cmp(chars("x"), chars("")), 1);
    EXPECT_EQ(str_cmp(chars("c"), chars("a")), 2);
    EXPECT_EQ(str_ncmp(chars("abc").c_str(), chars("abd").c_str(), 2), 0);
    EXPECT_EQ(str_ncmp(chars("ab").c_str(), chars("ab").c_str(), 5), 0);
    EXPECT_EQ(str_ncmp(chars("a").c_str(), chars("ab").c_str(), 5), -1);
    // The standard ordering of CharString agrees: quoted characters are negative.
    EXPECT_LT(q("a"), chars("a"));
}

TEST(Chars, StrIsNumber) {
    struct Row {
        CharString s;
        bool number;
    } rows[] = {
        {chars(""), true},     {chars("-"), false},  {chars("-0"), true},  {chars("-5"), true},
        {chars("007"), true},  {chars("5-"), false}, {chars("1a"), false}, {q("5"), false},
        {chars("--1"), false}, {chars("+1"), false},
    };
    for (const Row& r : rows) EXPECT_EQ(str_is_number(r.s), r.number) << to_byte_string(r.s);
}

TEST(Chars, StrCopyNPadsOrLeavesUnterminated) {
    Char buf[6];
    for (Char& c : buf) c = 'X';
    CharString two = chars("ab");
    str_copy_n(buf, two.c_str(), 5);
    EXPECT_EQ(buf[0], 'a');
    EXPECT_EQ(buf[1], 'b');
    EXPECT_EQ(buf[2], 0);
    EXPECT_EQ(buf[3], 0);
    EXPECT_EQ(buf[4], 0);
    EXPECT_EQ(buf[5], 'X');

    for (Char& c : buf) c = 'X';
    CharString six = chars("abcdef");
    str_copy_n(buf, six.c_str(), 3);
    EXPECT_EQ(buf[2], 'c');
    EXPECT_EQ(buf[3], 'X');  // no terminator added
}

TEST(Chars, CharIsQuotedBelongsToNoClass) {
    EXPECT_TRUE(char_is('|', CC_META));
    EXPECT_FALSE(char_is(quoted('|'), CC_META));
    EXPECT_TRUE(char_is(Char(0xA0), CC_BLANK));
    EXPECT_FALSE(char_is(Char(0xA0), CC_META));
    EXPECT_TRUE(char_is('`', CC_BACKQUOTE | CC_QUOTE));
    EXPECT_TRUE(char_is('`', CC_GLOB));
    EXPECT_FALSE(char_is('!', CC_META | CC_GLOB | CC_QUOTE | CC_ESCAPE | CC_DOLLAR));
    EXPECT_EQ(CharClass[0x09], 0x4014);
    EXPECT_EQ(CharClass[0x26], 0x2010);
    EXPECT_EQ(CharClass[0xd7], 0);
    EXPECT_EQ(CharClass[0xdf], 0x0a00);
}

TEST(Chars, ByteAndEscapedForms) {
    CharString s = chars("a");
    s += quoted('*');
    s += 'b';
    EXPECT_STREQ(to_byte_string(s), "a*b");
    EXPECT_STREQ(to_escaped_bytes(s), "a\\*b");
}

TEST(Chars, VisibleForm) {
    struct Row {
        std::string in, out;
    } rows[] = {
        {"plain text", "plain text"},
        {"tab\tnl\n", "tab\tnl\n"},
        {std::string("\x01", 1), "^A"},
        {"\x7f", "^?"},
        {"\xe9", "M-i"},
        {"\x81", "M^A"},
        {"\xff", "M^?"},
        {"\xa0", "\\240"},
        {"back\\slash", "back\\slash"},
        {std::string("a\0b", 3), "a^@b"},
    };
    for (const Row& r : rows) EXPECT_STREQ(to_visible(to_char_string(r.in)), r.out.c_str());
}

TEST(Chars, VecDropFirst) {
    WordVector v{chars("a"), chars("b"), chars("c")};
    vec_drop_first(v, 1);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0], chars("b"));
    vec_drop_first(v, 5);
    EXPECT_TRUE(v.empty());
}

TEST(Chars, StrIsPrefixComparesQuoteMarks) {
    EXPECT_TRUE(str_is_prefix(chars(""), chars("x")));
    EXPECT_TRUE(str_is_prefix(chars("ab"), chars("abc")));
    EXPECT_FALSE(str_is_prefix(q("a"), chars("abc")));
    EXPECT_FALSE(str_is_prefix(chars("abcd"), chars("abc")));
}

}  // namespace
