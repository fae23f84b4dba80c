// The builtin floor alone: the table finds builtins by their command word.
#include <gtest/gtest.h>

#include <string>

#include "builtins/table.h"

TEST(BuiltinsFloor, TableLookup) {
    EXPECT_EQ(builtin_count, 59);
    CommandNode node;
    node.words = {chars("foreach"), chars("i")};
    const BuiltinEntry* entry = find_builtin(node);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(std::string(entry->name), "foreach");
    EXPECT_TRUE(entry->has(BUILTIN_SCRIPTING));
    node.words = {chars("ls")};
    EXPECT_EQ(find_builtin(node), nullptr);
}
