// The execution floor alone: the command hash, which the search consults.
#include <gtest/gtest.h>

#include "exec/command_hash.h"
#include "exec/command_search.h"

TEST(ExecFloor, HashOfANameIgnoresQuoteMarks) {
    CharString quoted_name = chars("ls");
    quoted_name[0] = quoted(quoted_name[0]);
    EXPECT_EQ(hash_name(CharView(quoted_name)), hash_name("ls"));
    EXPECT_TRUE(is_dot_or_empty(chars(".")));
    EXPECT_FALSE(is_dot_or_empty(chars("/bin")));
}
