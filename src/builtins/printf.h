// The printf formatter: a format with backslash escapes and % conversions, reused until the
// arguments are used up. It works on 8-bit strings, writes on the C library's standard output
// and reports problems as warnings (program name, ": ", text, newline) on its standard error;
// in the shell both are the shell's own streams.
#pragma once

/// Formats argv[2...] under the format argv[1] (after an optional "--"); argv[0] is the command
/// name. Returns 0 on success, 1 after a warning or the usage line.
int printf_format(int argc, const char* const argv[]);
