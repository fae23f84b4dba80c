// The parsing floor alone: the words of a line become a tree.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "parse/keywords.h"
#include "parse/parser.h"

TEST(ParseFloor, TreeOfAPipeline) {
    errors = ErrorState{};
    WordList line;
    for (const char* w : {"ls", "|", "wc", ";", "echo", "x"}) line.append(chars(w));
    line.append(chars("\n"));
    CommandTree tree = parse_commands(line.first(), line.head(), 0);
    // The final newline word is a separator like ;.
    EXPECT_EQ(debug_tree(tree.get()),
              "(list (pipe (simple ls) (simple wc)) (list - (simple echo x)))");
    EXPECT_FALSE(errors.pending_error);
    EXPECT_GE(keyword_lookup(chars("foreach")), 0);
}
