// The variable floor alone: the store keeps names in order and stores values as given.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vars/environment.h"
#include "vars/variables.h"

TEST(VarsFloor, StoreOrderAndNumbers) {
    VariableTree tree;
    var_store(chars("b"), {chars("*.c")}, tree);  // the store never expands
    var_store(chars("a"), {chars("1"), chars("2")}, tree);
    std::vector<std::string> names;
    for (const auto& [name, value] : tree) names.push_back(to_bytes(name));
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ((*var_lookup("b", tree))[0], chars("*.c"));
    EXPECT_EQ(parse_number(chars("-7")), -7);
    EXPECT_EQ(format_number(INT32_MIN), chars("-2147483648"));
    EXPECT_EQ(path_components(chars("/bin::/usr/bin")).size(), 3u);
}
