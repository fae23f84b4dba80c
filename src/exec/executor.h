// The executor: walks a syntax tree, forks where needed, waits for foreground jobs.
#pragma once

#include "parse/syntax_tree.h"

/// A pipe's two descriptors: read end, write end.
struct PipeEnds {
    int fd[2] = {-1, -1};
};

/// Runs a tree. wants_terminal > 0: children take the terminal; 0: they join the job's group;
/// < 0: no process groups. pipe_in is the pipe from the left, pipe_out where a pipe to the right
/// is made; either may be null.
void execute_tree(CommandNode* node, int wants_terminal, PipeEnds* pipe_in, PipeEnds* pipe_out);
