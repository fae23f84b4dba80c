#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/signal_mask.h"
#include "test_support.h"

namespace {

// Captures what error reporting writes on the diagnostic stream.
class ErrorsTest : public testing::Test {
  protected:
    std::string diagnostics() { return capture_.diagnostics(); }
    template <class F>
    bool raises(F f) {
        try {
            f();
        } catch (const ShellError&) {
            return true;
        }
        return false;
    }

  private:
    StreamCapture capture_;
    StateGuard state_{STATE_ERRORS};
};

TEST_F(ErrorsTest, FormatsWithAndWithoutNamePrefix) {
    EXPECT_TRUE(raises([] { error_raise(ERR_SYNTAX); }));
    errors.error_name = "cd";
    EXPECT_TRUE(raises([] { error_raise(ERR_NO_HOME | ERRF_NAME); }));
    EXPECT_TRUE(raises([] { error_raise(ERR_NAME_TEXT, "nofile", "No such file or directory"); }));
    EXPECT_TRUE(raises([] { error_raise(ERR_SUSPENDED_JOBS, ""); }));
    EXPECT_TRUE(raises([] { error_raise(ERR_MISSING, '}'); }));
    EXPECT_TRUE(raises([] { error_raise(ERR_FORK_NESTING, 16); }));
    EXPECT_TRUE(raises([] { error_raise(200); }));
    EXPECT_EQ(diagnostics(),
              "Syntax Error.\n"
              "cd: No home directory.\n"
              "nofile: No such file or directory.\n"
              "There are suspended jobs.\n"
              "Missing }.\n"
              "Fork nesting > 16; maybe `...` loop.\n"
              "Invalid Error.\n");
    EXPECT_TRUE(errors.error_seen);
}

TEST_F(ErrorsTest, SilentErrorPrintsNothingButUnwinds) {
    EXPECT_TRUE(raises([] { error_raise(ERR_INTERRUPTED | ERRF_SILENT); }));
    EXPECT_EQ(diagnostics(), "");
    EXPECT_TRUE(errors.error_seen);
}

TEST_F(ErrorsTest, DeferredKeepsOnlyTheFirst) {
    error_defer(ERR_UNMATCHED, '"');
    error_defer(ERR_WORD_TOO_LONG);
    ASSERT_TRUE(errors.pending_error.has_value());
    EXPECT_EQ(*errors.pending_error, "Unmatched \"");
    EXPECT_EQ(diagnostics(), "");
    EXPECT_TRUE(raises([] { error_raise_pending(); }));
    EXPECT_EQ(diagnostics(), "Unmatched \".\n");
    EXPECT_FALSE(errors.pending_error.has_value());
}

TEST_F(ErrorsTest, PendingWithNothingPendingReturns) {
    EXPECT_FALSE(raises([] { error_raise_pending(); }));
    EXPECT_EQ(diagnostics(), "");
    EXPECT_FALSE(errors.error_seen);
}

TEST_F(ErrorsTest, DeferredMessageIsCutLongImmediateIsNot) {
    std::string longname(3000, 'n');
    error_defer(ERR_EVENT_NOT_FOUND, longname.c_str());
    EXPECT_EQ(errors.pending_error->size(), 1023u);
    errors.pending_error.reset();
    EXPECT_TRUE(raises([&] { error_raise(ERR_NAME_TEXT, longname.c_str(), "x"); }));
    EXPECT_EQ(diagnostics(), longname + ": x.\n");
}

TEST_F(ErrorsTest, UndefinedVariableShowsTheVisibleName) {
    CharString name = chars("a");
    name += Char(1);
    EXPECT_TRUE(raises([&] { error_undefined_variable(name); }));
    EXPECT_EQ(diagnostics(), "a^A: Undefined variable.\n");
}

TEST_F(ErrorsTest, RecoveryRestoresTheSignalMask) {
    // The shell changes its mask only through mask_change, which keeps a copy of it.
    sigset_t before, blocked, after;
    mask_change(SIG_BLOCK, nullptr, &before);
    bool abandoned = run_recovering([&] {
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGUSR1);
        mask_change(SIG_BLOCK, &blocked, nullptr);
        error_raise(ERR_SYNTAX | ERRF_SILENT);
    });
    sigprocmask(SIG_BLOCK, nullptr, &after);  // the system's own view
    EXPECT_TRUE(abandoned);
    EXPECT_EQ(sigismember(&after, SIGUSR1), sigismember(&before, SIGUSR1));
    EXPECT_FALSE(run_recovering([] {}));
}

TEST(Descriptors, MoveAndCopyWithNegativeTargets) {
    int saved0 = dup(0);
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    dup2(p[0], 0);
    int moved = fd_move(0, -1);
    EXPECT_GT(moved, 2);
    EXPECT_EQ(fcntl(0, F_GETFD), -1);  // 0 is closed
    close(moved);

    int five = dup2(p[1], 50);
    EXPECT_EQ(fd_copy(five, -1), five);
    EXPECT_EQ(fd_move(five, five), five);
    EXPECT_EQ(fd_copy(-1, 3), -1);
    close(five);
    close(p[0]);
    close(p[1]);
    dup2(saved0, 0);
    close(saved0);
}

TEST(Descriptors, StreamFollowsPreparedDescriptors) {
    int saved1 = dup(1);
    int to_one[2], to_17[2];
    ASSERT_EQ(pipe(to_one), 0);
    ASSERT_EQ(pipe(to_17), 0);
    int saved17 = dup(17);  // -1 when 17 is not open
    dup2(to_17[1], 17);
    std::fflush(stdout);
    dup2(to_one[1], 1);

    int variable = 17;
    FILE* f = open_descriptor_stream(&variable, "w");
    ASSERT_NE(f, nullptr);
    fds.fds_prepared = true;
    std::fputs("to one\n", f);
    fds.fds_prepared = false;
    std::fputs("to seventeen\n", f);
    std::fflush(f);

    dup2(saved1, 1);
    close(saved1);
    if (saved17 >= 0) {
        dup2(saved17, 17);
        close(saved17);
    } else {
        close(17);
    }
    close(to_one[1]);
    close(to_17[1]);
    char buf[64] = {};
    EXPECT_EQ(read(to_one[0], buf, sizeof buf - 1), 7);
    EXPECT_STREQ(buf, "to one\n");
    char buf2[64] = {};
    EXPECT_EQ(read(to_17[0], buf2, sizeof buf2 - 1), 13);
    EXPECT_STREQ(buf2, "to seventeen\n");
    close(to_one[0]);
    close(to_17[0]);
}

}  // namespace
