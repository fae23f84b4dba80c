// The completion floor alone: where the word to complete begins.
#include <gtest/gtest.h>

#include "complete/completion.h"

TEST(CompleteFloor, WordStart) {
    CharString line = chars("ls a;cat \"b");
    EXPECT_EQ(completion_word_start(line.c_str(), line.size()), 10u);
    EXPECT_EQ(completion_word_start(line.c_str(), 2), 0u);
}
