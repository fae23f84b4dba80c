// File-name completion while a line is typed at the terminal.
//
// The terminal driver does all the line editing in canonical mode; escape is added as a second
// end-of-line character. A line ending in escape completes its last word (a file name, or a user
// name after "~"); a line ending in the end-of-file character without a newline lists what the
// word could become. Either way the edited line goes back into the terminal's input queue and the
// user goes on typing; a line ending in a newline goes to the input layer. Where the system
// refuses to push characters back, the shell holds the line itself and reads it before the
// terminal: the user can add to it, but not erase into it. An escape that comes in with the rest
// of a key's sequence asks for nothing: the sequence is dropped whole.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "core/chars.h"

/// What the end of a line asks for.
enum class CompletionRequest {
    COMPLETE,  ///< the line ended with escape
    LIST,      ///< the line ended with the end-of-file character
};

/// What the names of a listing are.
enum class CompletionNames {
    FILES,  ///< entries of a directory
    USERS,  ///< user names of the password database
};

/// The characters that end the word to complete.
inline constexpr char COMPLETION_DELIMITERS[] = " '\"\t;&<>()|^%";
/// At most this many names are listed.
inline constexpr std::size_t COMPLETION_LIST_MAX = 1024;

/// Prints the prompt again after a listing; start-up fills it in.
extern void (*completion_prompt)();

/// Reads one line from fds.shell_in into buffer (size Chars, one Char per byte typed, 0 to 255;
/// at most 1024 are read at a time), completing and listing on request. Returns the number of
/// Chars of the line (the last one a newline, unless the line filled the buffer), or the result
/// of the last read: 0 at end of input, negative on an error (errno tells). Input that is no
/// terminal is returned as it is read. An interrupt unwinds, with the terminal set back, as any
/// read of the shell's input does.
int complete_line(Char* buffer, int size);

/// The length of the rest of a key's sequence at the start of what came in with an escape: "["
/// with parameter bytes (0x30-0x3f), intermediate bytes (0x20-0x2f) and a final byte (0x40-0x7e),
/// or "O" and a final byte. 0 when `after` does not start with a whole one.
std::size_t completion_key_tail(std::string_view after);

/// Offset in line[0, end) of the first character after the last delimiter (0 when there is none).
std::size_t completion_word_start(const Char* line, std::size_t end);

/// Searches for what the terminated word at `word` may become. COMPLETE: rewrites the word
/// (never more than room Chars, then a 0) and returns the number of matches. LIST: prints the
/// candidates sorted in columns on output_stream and returns 0. Never raises an error.
int completion_search(Char* word, CompletionRequest request, std::size_t room);

/// The character shown after a listed file: "/" directory, "=" socket, ">" link to a directory,
/// "@" other link, "*" executable, else a blank (also when the status cannot be read).
char completion_type_char(const std::string& path);

/// Writes names in columns for a terminal of `width` columns, running down the columns. A name is
/// shown in its visible form and followed by its type character (a blank for user names, else
/// the type of directory + name); columns are the longest shown name plus 2 wide, blanks fill
/// every column but the last, and each row ends with "\r\n".
void completion_print_columns(FILE* out, const WordVector& names, const std::string& directory,
                              CompletionNames kind, int width);
