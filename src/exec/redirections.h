// Redirections and pipes: descriptors 0, 1 and 2 of a command set from its redirections, the
// pipes to its neighbours and the shell's own descriptors.
#pragma once

#include "core/chars.h"
#include "exec/executor.h"
#include "parse/syntax_tree.h"

/// Sets up 0, 1 and 2 for the command and marks them prepared; nothing when already prepared
/// or when the node is being run again.
void setup_redirections(CommandNode& node, PipeEnds* pipe_in, PipeEnds* pipe_out);
/// The file name a redirection word names, after substitution and file-name generation.
CharString redirect_target(CommandNode& node, const CharString& word);
/// Makes a pipe whose ends are above 2 ("Can't make pipe").
void make_pipe(PipeEnds& pipe);
