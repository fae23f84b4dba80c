// The platform floor alone: the stand-ins for what glibc lacks.
#include <gtest/gtest.h>

#include <string>

#include "platform/system_glob.h"
#include "platform/vis.h"

TEST(PlatformFloor, MagicPatternsAndVisibleForms) {
    EXPECT_TRUE(glob_pattern_is_magic("*.c"));
    EXPECT_FALSE(glob_pattern_is_magic("\\*.c"));
    EXPECT_FALSE(glob_pattern_is_magic("["));
    std::string out;
    strvis_noslash(out, "a\x01\tb", 4);
    EXPECT_EQ(out, "a^A\tb");
}
