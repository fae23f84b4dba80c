// The expansion floor alone: expressions and variable substitution.
#include <gtest/gtest.h>

#include "expand/expressions.h"
#include "expand/substitute.h"
#include "vars/variables.h"

TEST(ExpandFloor, ExpressionsAndSubstitution) {
    WordVector words{chars("10"), chars("-"), chars("3"), chars("-"), chars("2")};
    std::size_t cursor = 0;
    EXPECT_EQ(eval_expression(words, cursor), 9);  // additive operators group from the right
    var_store(chars("x"), {chars("a"), chars("b")}, shell_variables);
    WordVector out = substitute_words({chars("$x[2]"), chars("'$x'")});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], chars("b"));
    EXPECT_EQ(to_bytes(out[1]), "$x");
    shell_variables.clear();
}
