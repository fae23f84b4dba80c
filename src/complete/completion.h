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
//
// The line editor completes through the second part of this header: the word at its cursor,
// what it may become (a command, a variable, a user or a file name), how a name is quoted, and
// the same listing in columns.
#pragma once

#include <sys/types.h>

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
    OTHER,  ///< commands or variable names: shown without a type character
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

/// One read of at most n bytes of fds.shell_in, waiting with signals acted on (which may unwind),
/// again after an interrupted read and in blocking mode when the descriptor was left
/// non-blocking: the count, 0 at the end, < 0 on an error.
ssize_t terminal_read(char* bytes, std::size_t n);

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

// ---- Completion for the line editor ------------------------------------------------------------

/// What the word at the cursor is completed as.
enum class CompletionKind {
    COMMAND,    ///< a word in the position of a command, without "/": builtins, aliases, programs
    VARIABLE,   ///< the name after "$" or "${"
    USER,       ///< the name after a leading "~", without "/"
    FILE_NAME,  ///< anything else
};

/// The word at the cursor of a line being edited, as completion sees it.
struct CompletionWord {
    CompletionKind kind = CompletionKind::FILE_NAME;
    std::size_t replace_from = 0;  ///< offset in the line of the text a completion replaces
    std::string directory;         ///< FILE: the directory part, unquoted ("" when none)
    std::string prefix;            ///< the unquoted text from replace_from to the cursor
    char quote = 0;  ///< the quote open at replace_from (' or "), or 0; VARIABLE: at the cursor
    bool braced = false;  ///< VARIABLE: the name follows "${"
};

/// Finds the word that ends at the cursor: words are split at unquoted blanks and at ; & | ( )
/// < > and `; quotes and backslashes are taken off. A word is in the position of a command at the
/// start of the line and after ; & | ( or `.
CompletionWord completion_word_at(std::string_view line, std::size_t cursor);

/// Writes name as it must be typed: with backslashes before the characters the shell would take
/// for something else, or, inside an open quote, as the quote allows (a character it cannot hold
/// is written outside it: the quote is closed, the character escaped, the quote opened again).
/// `word_start`: the name begins a word, where ~ and a leading ^ or % mean something too.
std::string completion_quote(std::string_view name, char quote, bool word_start);

/// The longest prefix all names share, cut back to whole characters with `utf8`.
std::string completion_common_prefix(const WordVector& names, bool utf8);

/// The names the word may become (fignore honoured for files: names ending in one of its words
/// are offered only when nothing else matches), each once. Never raises an error.
WordVector completion_matches(const CompletionWord& word);

/// True when a unique match is a directory (a file name, or a user's home).
bool completion_match_is_directory(const CompletionWord& word, const CharString& name);

/// Lists names (sorted by the locale) in columns on output_stream as the filec listing does, at
/// most COMPLETION_LIST_MAX of them.
void completion_list(const CompletionWord& word, WordVector names);

/// Appends the names of the builtin commands; start-up fills it in.
extern void (*completion_builtin_names)(WordVector& out);
