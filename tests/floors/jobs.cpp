// The job floor alone: the printable form of a command.
#include <gtest/gtest.h>

#include "jobs/job_reports.h"

TEST(JobsFloor, CommandText) {
    CommandNode node;
    node.node_type = CMD_SIMPLE;
    node.words = {chars("ls"), chars("-l")};
    node.output_word = chars("out");
    EXPECT_EQ(to_bytes(format_command_tree(&node)), "ls -l > out");
}
