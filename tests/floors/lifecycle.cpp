// The top floor: start-up connects every hook through which a lower floor reaches a higher one.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "core/signals.h"
#include "exec/reentry.h"
#include "input/input_buffer.h"
#include "lifecycle/startup.h"

TEST(LifecycleFloor, WiringFillsEveryHook) {
    wire_shell();
    EXPECT_NE(signal_actions.interrupt, nullptr);
    EXPECT_NE(signal_actions.child, nullptr);
    EXPECT_NE(signal_actions.hangup, nullptr);
    EXPECT_NE(recovery_hooks.discard_input, nullptr);
    EXPECT_NE(recovery_hooks.set_error_status, nullptr);
    EXPECT_NE(input_hooks.end_of_input, nullptr);
    EXPECT_NE(input_hooks.read_terminal_line, nullptr);
    EXPECT_NE(reentry.command_substitute, nullptr);
    EXPECT_NE(reentry.run_brace_command, nullptr);
    EXPECT_NE(reentry.find_builtin, nullptr);
    EXPECT_NE(reentry.run_builtin, nullptr);
    EXPECT_NE(reentry.run_command_loop, nullptr);
    EXPECT_NE(reentry.source_file, nullptr);
    EXPECT_NE(reentry.logout_sequence, nullptr);
}
