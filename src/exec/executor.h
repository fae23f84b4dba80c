// The executor: walks a syntax tree, forks where needed, waits for foreground jobs.
#pragma once

#include "jobs/process_table.h"
#include "parse/syntax_tree.h"

/// A pipe's two descriptors: read end, write end.
struct PipeEnds {
    int fd[2] = {-1, -1};
};

/// Runs a tree, its children in process groups as wants_terminal says. pipe_in is the pipe from
/// the left, pipe_out where a pipe to the right is made; either may be null. The tree is left
/// as it is: it may be run again.
void execute_tree(const CommandNode* node, JobGroup wants_terminal, PipeEnds* pipe_in,
                  PipeEnds* pipe_out);
