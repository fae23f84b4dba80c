// Here documents: the lines of the shell's own input up to a terminator line, substituted
// unless the terminator is quoted, become a command's standard input through a temporary file
// that has no name.
#pragma once

#include "core/chars.h"

/// Reads the lines of a document from the shell input, up to the terminator line (the word as
/// lexed) or the end of input, as they are: substitution comes when the document is written.
WordVector read_here_lines(const CharString& terminator);
/// Writes the document's lines (substituted unless the terminator is quoted) into a temporary
/// file without a name (mode 0600, in /tmp) left on descriptor 0 at offset 0. Called with
/// descriptor 0 closed.
void read_here_document(const CharString& terminator, const WordVector& lines);
