// The core floor alone: characters, patterns, modifiers and errors need nothing above them.
#include <gtest/gtest.h>

#include "core/chars.h"
#include "core/descriptors.h"
#include "core/errors.h"
#include "core/modifiers.h"
#include "core/pattern.h"

TEST(CoreFloor, PatternsModifiersAndNumbers) {
    EXPECT_TRUE(pattern_match(chars("main.c"), chars("*.{c,h}")));
    EXPECT_FALSE(pattern_match(chars("main.o"), chars("*.{c,h}")));
    EXPECT_TRUE(pattern_match(chars("b"), chars("^a")));
    EXPECT_EQ(word_modifier(chars("/a/b.c"), 'r'), chars("/a/b"));
    EXPECT_EQ(word_modifier(chars("/a/b.c"), 't'), chars("b.c"));
    EXPECT_TRUE(str_is_number(chars("-12")));
    EXPECT_FALSE(str_is_number(chars("1x")));
}

TEST(CoreFloor, AnErrorUnwindsToItsRecoveryPoint) {
    errors = ErrorState{};
    FILE* saved = diagnostic_stream;
    diagnostic_stream = std::tmpfile();
    // Without the hooks of the floors above, the recovery point only restores the mask.
    EXPECT_TRUE(run_recovering([] { error_raise(ERR_SYNTAX); }));
    EXPECT_TRUE(errors.error_seen);
    EXPECT_FALSE(errors.cleanup_pending);
    std::fclose(diagnostic_stream);
    diagnostic_stream = saved;
    errors = ErrorState{};
}
