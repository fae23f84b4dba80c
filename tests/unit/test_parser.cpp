#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "core/errors.h"
#include "input/word_list.h"
#include "parse/keywords.h"
#include "parse/parser.h"
#include "parse/syntax_tree.h"
#include "test_support.h"

namespace {

// Builds the words of a line by splitting text at blanks, and ends them with the newline word,
// as the lexer delivers a line: operators are words of their own, so |& is written | & and >! is
// written > !. The token \n is a newline word inside the line; elsewhere a backslash marks the
// next character as quoted (the backslash itself is not kept).
void split_words(WordList& list, std::string_view line) {
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ') {
            ++i;
            continue;
        }
        std::size_t j = line.find(' ', i);
        if (j == std::string_view::npos) j = line.size();
        std::string_view token = line.substr(i, j - i);
        CharString word;
        if (token == "\\n") {
            word.push_back('\n');
        } else {
            for (std::size_t k = 0; k < token.size(); ++k) {
                if (token[k] == '\\' && k + 1 < token.size()) {
                    word.push_back(quoted(static_cast<unsigned char>(token[++k])));
                } else {
                    word.push_back(static_cast<unsigned char>(token[k]));
                }
            }
        }
        list.append(std::move(word));
        i = j;
    }
    list.append(chars("\n"));
}

class ParserTest : public testing::Test {
  private:
    StateGuard state_{STATE_ERRORS};
};

struct ParseRow {
    const char* line;
    const char* tree;   // debug_tree of the result
    const char* error;  // the deferred message, or "" for none
};

// Each row is parsed as a whole line with context 0, as the command loop does. Once an error is
// recorded, later words are no longer copied, which the trees of failing rows show.
const ParseRow parse_rows[] = {
    // Empty lines and separators alone.
    {"", "-", ""},
    {"; ;", "-", ""},
    {"; \\n &", "-", ""},
    // The final newline word is a separator like ;.
    {"ls", "(list - (simple ls))", ""},
    {"ls ;", "(list - (simple ls))", ""},
    {"ls -l ;", "(list - (simple ls -l))", ""},
    {"ls ; date", "(list (simple ls) (list - (simple date)))", ""},
    {"ls \\n date", "(list (simple ls) (list - (simple date)))", ""},
    {"a ; ; b", "(list (simple a) (list - (simple b)))", ""},
    {"& ls", "(list - (simple ls))", ""},
    {"&& ls", "(list - (simple ls))", ""},
    // & binds more loosely than ;: a list before & runs as one background subshell.
    {"who ; date &", "(list (subshell [bg,noint] (list (simple who) (simple date))) -)", ""},
    {"ls &", "(list (simple [bg,noint] ls) -)", ""},
    {"a & b ; c", "(list (simple [bg,noint] a) (list (simple b) (list - (simple c))))", ""},
    {"ls & & date", "(list (simple [bg,noint] ls) (list - (simple date)))", ""},
    {"ls | wc &", "(list (pipe [bg,noint] (simple ls) (simple wc)) -)", ""},
    {"ls | & wc &", "(list (pipe [bg,noint,errtoo] (simple ls) (simple wc)) -)", ""},
    {"ls && sort &", "(list (subshell [bg,noint] (and (simple ls) (simple sort))) -)", ""},
    {"ls || sort &", "(list (subshell [bg,noint] (or (simple ls) (simple sort))) -)", ""},
    {"( a ; b ) &", "(list (subshell [bg,noint] (list (simple a) (simple [nofork] b))) -)", ""},
    // Pipes, || and &&.
    {"ls | sort | & wc", "(list - (pipe (simple ls) (pipe [errtoo] (simple sort) (simple wc))))",
     ""},
    {"ls && sort || wc", "(list - (or (and (simple ls) (simple sort)) (simple wc)))", ""},
    {"ls || sort && wc", "(list - (or (simple ls) (and (simple sort) (simple wc))))", ""},
    {"a || b || c", "(list - (or (simple a) (or (simple b) (simple c))))", ""},
    {"a && b | c && d", "(list - (and (simple a) (and (pipe (simple b) (simple c)) (simple d))))",
     ""},
    {"ls || & date", "(list (subshell [bg,noint] (or (simple ls) (simple))) (list - (simple)))",
     "Invalid null command"},
    {"| ls", "(list - (pipe (simple) (simple)))", "Invalid null command"},
    {"ls |", "(list - (pipe (simple ls) (simple)))", "Invalid null command"},
    {"ls && ; date", "(list (and (simple ls) (simple)) (list - (simple)))", "Invalid null command"},
    // Groups.
    {"( ls ; date ) > f", "(list - (subshell >f (list (simple ls) (simple [nofork] date))))", ""},
    {"( ls ) | wc", "(list - (pipe (subshell (simple [nofork] ls)) (simple wc)))", ""},
    {"( ( ls ) )", "(list - (subshell (subshell [nofork] (simple [nofork] ls))))", ""},
    {"( ls & )", "(list - (subshell (list (simple [bg,noint] ls) -)))", ""},
    {"( cat < f )", "(list - (subshell (simple [nofork] <f cat)))", ""},
    {"( ls | wc )", "(list - (subshell (pipe (simple ls) (simple [nofork] wc))))", ""},
    {"( )", "(list - (subshell (simple [nofork])))", "Invalid null command"},
    {"( ; ls )", "(list - (subshell (list (simple) (simple [nofork]))))", "Invalid null command"},
    {"( ls ) date", "(list - (subshell date (simple [nofork])))", "Badly placed ()'s"},
    {"echo ( a )", "(list - (subshell echo (simple [nofork])))", "Badly placed ()'s"},
    {"ls ( date ) ( who )", "(list - (subshell ls (simple [nofork])))", "Badly placed ("},
    {")", "-", "Too many )'s"},
    {"(", "-", "Too many ('s"},
    {"( ( ls )", "-", "Too many ('s"},
    {"ls ) ( date", "(list - (simple))", "Too many )'s"},
    {"ls & ( date", "(list (simple [bg,noint] ls) -)", "Too many ('s"},
    // Redirections.
    {"ls > f > g", "(list - (simple >g ls))", ""},
    {"ls > f -l", "(list - (simple >f ls -l))", ""},
    {"echo > & f", "(list - (simple [errtoo] >f echo))", ""},
    {"echo > & ! f", "(list - (simple [errtoo,clobber] >f echo))", ""},
    {"cat >> f", "(list - (simple [append] >f cat))", ""},
    {"cat >> ! f", "(list - (simple [append,clobber] >f cat))", ""},
    {"cat >> & f &", "(list (simple [bg,append,noint,errtoo] >f cat) -)", ""},
    {"cat << e", "(list - (simple [heredoc] <e cat))", ""},
    {"cat < a > b", "(list - (simple <a >b cat))", ""},
    {"echo >", "(list - (simple echo))", "Missing name for redirect"},
    {"echo > ;", "(list - (simple echo))", "Missing name for redirect"},
    {"cat < a < b", "(list - (simple <a cat))", "Ambiguous input redirect"},
    {"( cat << e )", "(list - (subshell (simple [nofork,heredoc] cat)))", "Can't << within ()'s"},
    {"ls | sort < f", "(list - (pipe (simple ls) (simple sort)))", "Ambiguous input redirect"},
    {"ls | & sort < f", "(list - (pipe [errtoo] (simple ls) (simple sort)))",
     "Ambiguous input redirect"},
    {"ls > f | sort", "(list - (pipe (simple ls) (simple)))", "Ambiguous output redirect"},
    {"( ls ) > f | sort", "(list - (pipe (subshell (simple [nofork])) (simple)))",
     "Ambiguous output redirect"},
    // Left of |& a command may still send its output to a file, once; >& is refused there.
    {"ls > f | & wc", "(list - (pipe [errtoo] (simple >f ls) (simple wc)))", ""},
    {"ls > f > g | & wc", "(list - (pipe [errtoo] (simple >f ls) (simple)))",
     "Ambiguous output redirect"},
    {"ls > & f | & wc", "(list - (pipe [errtoo] (simple [errtoo] ls) (simple)))",
     "Ambiguous output redirect"},
    {"a | b | c > f", "(list - (pipe (simple a) (pipe (simple b) (simple >f c))))", ""},
    {"echo a < b < c d e", "(list - (simple <b echo a))", "Ambiguous input redirect"},
    // Keyword form: parentheses and what they hold stay words.
    {"if ( $x == 1 ) echo y", "(list - (simple if ( $x == 1 ) echo y))", ""},
    {"if ( ( a ) < b ) then", "(list - (simple if ( ( a ) < b ) then))", ""},
    {"if ( a > b ) echo y > f", "(list - (simple >f if ( a > b ) echo y))", ""},
    {"else if ( x ) then", "(list - (simple else if ( x ) then))", ""},
    {"else else while ( x )", "(list - (simple else else while ( x )))", ""},
    {"while ( $i < 3 )", "(list - (simple while ( $i < 3 )))", ""},
    {"if ( a \\n b )", "(list - (simple if ( a \\{a} b )))", ""},
    {"foreach i ( a b ) ( c )", "(list - (simple foreach i ( a b ) ( c )))", ""},
    {"set x = ( a b )", "(list - (simple set x = ( a b )))", ""},
    {"@ x = ( 1 + 2 )", "(list - (simple @ x = ( 1 + 2 )))", ""},
    {"switch ( $x )", "(list - (simple switch ( $x )))", ""},
    {"exit ( 1 )", "(list - (simple exit ( 1 )))", ""},
    {"if ( a ) | wc", "(list - (pipe (simple if ( a )) (simple wc)))", ""},
    {"else ( ls )", "(list - (subshell else (simple [nofork])))", "Badly placed ()'s"},
    {"echo if ( x )", "(list - (subshell echo if (simple [nofork])))", "Badly placed ()'s"},
    {"\\if ( x )", "(list - (subshell \\if (simple [nofork])))", "Badly placed ()'s"},
    // Quoted characters are never operators.
    {"echo \\; \\| \\& \\( \\>", "(list - (simple echo \\; \\| \\& \\( \\>))", ""},
};

TEST_F(ParserTest, TreesAndErrors) {
    for (const ParseRow& row : parse_rows) {
        errors = ErrorState{};
        WordList list;
        split_words(list, row.line);
        CommandTree tree = parse_commands(list.first(), list.head(), 0);
        EXPECT_EQ(debug_tree(tree.get()), row.tree) << "line: " << row.line;
        EXPECT_EQ(errors.pending_error.value_or(""), row.error) << "line: " << row.line;
    }
}

// A sub-range ending before a ) gives its last command FLAG_NO_FORK, as inside a group.
TEST_F(ParserTest, RangeEndingAtCloseParenthesis) {
    WordList list;
    split_words(list, "; a ; b ) c");
    LexWord* close = list.first();
    while (close->word != chars(")")) close = close->next;
    CommandTree tree = parse_commands(list.first(), close, 0);
    EXPECT_EQ(debug_tree(tree.get()), "(list (simple a) (simple [nofork] b))");
    EXPECT_FALSE(errors.pending_error);
}

// The context reaches the simple commands: inside parentheses << is refused, right of a pipe
// input redirection is.
TEST_F(ParserTest, ContextBitsFromCaller) {
    {
        WordList list;
        split_words(list, "cat << e");
        parse_commands(list.first(), list.head(), PARSE_IN_PARENS);
        EXPECT_EQ(errors.pending_error.value_or(""), "Can't << within ()'s");
    }
    errors = ErrorState{};
    {
        WordList list;
        split_words(list, "cat < f");
        parse_commands(list.first(), list.head(), PARSE_PIPE_IN);
        EXPECT_EQ(errors.pending_error.value_or(""), "Ambiguous input redirect");
    }
}

// An error recorded before the parse (by the lexer, say) keeps every word out of the tree, and
// is the one reported.
TEST_F(ParserTest, PendingErrorKeepsWordsOut) {
    errors.pending_error = "Word too long";
    WordList list;
    split_words(list, "ls -l > f ; ( date )");
    CommandTree tree = parse_commands(list.first(), list.head(), 0);
    EXPECT_EQ(debug_tree(tree.get()), "(list (simple >f) (list - (subshell (simple [nofork]))))");
    EXPECT_EQ(errors.pending_error.value_or(""), "Word too long");
}

std::string nested_groups(int depth) {
    std::string line;
    for (int i = 0; i < depth; ++i) line += "( ";
    line += "ls";
    for (int i = 0; i < depth; ++i) line += " )";
    return line;
}

TEST_F(ParserTest, GroupNestingIsBounded) {
    {
        WordList list;
        split_words(list, nested_groups(MAX_GROUP_NESTING));
        CommandTree tree = parse_commands(list.first(), list.head(), 0);
        EXPECT_FALSE(errors.pending_error);
        const CommandNode* node = tree->right.get();
        int depth = 0;
        while (node->node_type == CMD_SUBSHELL) node = node->body.get(), ++depth;
        EXPECT_EQ(depth, MAX_GROUP_NESTING);
        EXPECT_EQ(node->words, WordVector{chars("ls")});
    }
    errors = ErrorState{};
    {
        WordList list;
        split_words(list, nested_groups(MAX_GROUP_NESTING + 1));
        parse_commands(list.first(), list.head(), 0);
        EXPECT_EQ(errors.pending_error.value_or(""), "Too many ('s");
    }
}

// Long chains of operators are built without deep recursion in the parser.
TEST_F(ParserTest, LongChains) {
    constexpr int count = 5000;
    for (const char* op : {";", "|", "&&", "||", "&"}) {
        std::string line = "a";
        for (int i = 1; i < count; ++i) line += std::string(" ") + op + " a";
        errors = ErrorState{};
        WordList list;
        split_words(list, line);
        CommandTree tree = parse_commands(list.first(), list.head(), 0);
        ASSERT_TRUE(tree) << op;
        EXPECT_FALSE(errors.pending_error) << op;
        int commands = 0;
        for (const CommandNode* node = tree.get(); node; node = node->right.get()) {
            const CommandNode* command = node->node_type == CMD_SIMPLE ? node : node->left.get();
            if (command) ++commands;
            if (node->node_type == CMD_SIMPLE) break;
        }
        EXPECT_EQ(commands, count) << op;
    }
}

struct KeywordRow {
    const char* word;
    int code;
};

TEST(KeywordLookup, FindsEveryKeyword) {
    const KeywordRow rows[] = {
        {"@", 13},  {"break", 0},  {"breaksw", 1}, {"case", 2},    {"default", 3}, {"else", 4},
        {"end", 5}, {"endif", 6},  {"endsw", 7},   {"exit", 8},    {"foreach", 9}, {"goto", 10},
        {"if", 11}, {"label", 12}, {"set", 14},    {"switch", 15}, {"while", 18},
    };
    for (const KeywordRow& row : rows) {
        EXPECT_EQ(keyword_lookup(chars(row.word)), row.code) << row.word;
    }
}

TEST(KeywordLookup, RefusesOtherWords) {
    for (const char* word : {"", "e", "en", "endi", "endifs", "iff", "i", "@@", "Set", "zz", "a",
                             "breakswx", "continue", "then"}) {
        EXPECT_EQ(keyword_lookup(chars(word)), -1) << word;
    }
    // A quoted character matches no keyword character, first or later.
    CharString quoted_first = chars("if");
    quoted_first[0] = quoted('i');
    EXPECT_EQ(keyword_lookup(quoted_first), -1);
    CharString quoted_last = chars("while");
    quoted_last[4] = quoted('e');
    EXPECT_EQ(keyword_lookup(quoted_last), -1);
    // The view is the word: a longer string cut to a keyword finds it.
    CharString longer = chars("ifx");
    EXPECT_EQ(keyword_lookup(CharView(longer).substr(0, 2)), KW_IF);
}

}  // namespace
