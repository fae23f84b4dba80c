// The directory floor alone: canonical names of directories.
#include <gtest/gtest.h>

#include "dirs/directory_stack.h"

TEST(DirsFloor, CanonicalNames) {
    EXPECT_EQ(canonical_dir(chars("/usr//bin/../lib/."), 0, NO_HOME_REWRITE), chars("/usr/lib"));
    EXPECT_EQ(canonical_dir(chars("/.."), 0, NO_HOME_REWRITE), chars("/"));
}
