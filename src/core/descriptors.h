// The shell's fixed descriptors and its two output streams.
//
// The shell keeps its input, output, diagnostics and terminal at 15 to 19, so that 0, 1 and 2
// are free to be set up for each command. Its two streams hold a reference to the variable that
// holds their descriptor, not the number itself, and while a command's 0, 1 and 2 are prepared
// they write there instead: a builtin's output follows the command's redirections.
#pragma once

#include <cstdio>

inline constexpr int TTY_FD = 15;          ///< the controlling terminal, under job control
inline constexpr int SHELL_IN_FD = 16;     ///< the shell input
inline constexpr int SHELL_OUT_FD = 17;    ///< copy of the standard output at start
inline constexpr int SHELL_DIAG_FD = 18;   ///< copy of the standard error at start
inline constexpr int SAVED_STDIN_FD = 19;  ///< copy of the standard input at start ($<)

struct Descriptors {
    int shell_in = SHELL_IN_FD;        ///< read by the input buffer; a sourced file's while read
    int shell_out = SHELL_OUT_FD;      ///< behind output_stream
    int shell_diag = SHELL_DIAG_FD;    ///< behind diagnostic_stream
    int saved_stdin = SAVED_STDIN_FD;  ///< given to commands that read the shell's input
    bool fds_prepared = false;         ///< 0, 1 and 2 are set up for the command now running
};
extern Descriptors fds;

/// Prompts, listings and builtin output.
extern FILE* output_stream;
/// Error messages, warnings and echoed command lines.
extern FILE* diagnostic_stream;

/// Copies 0, 1, 2 and the input to 16..19 (close-on-exec) and closes every other descriptor.
/// Returns 0, or the error of the first copy that could not be made: that descriptor variable
/// then keeps the number it was to be copied from (the caller reports and gives up).
[[nodiscard]] int init_descriptors();
/// Raises "Too many open files" when the descriptor table cannot hold the numbers 15 to 19
/// (the limit was lowered after start-up): a child that must copy to them would fail.
void fds_check_fixed_numbers();
/// Raises the system's text for a descriptor copy that failed with err ("Too many open files"
/// for a number beyond the table).
[[noreturn]] void fd_copy_failed(int err);
/// Replaces the C library's three standard streams by the shell's; false when one cannot be made.
bool init_streams();
/// Closes every descriptor but the shell's own and 15.
void close_other_fds();
/// Closes 0, 1 and 2 and clears fds_prepared.
void close_std_fds();
/// Moves from to to (any number above 2 when to is negative); see fd_copy. from is closed on
/// every way out.
int fd_move(int from, int to);
/// Duplicates from onto to, or onto the lowest free number above 2 when to is negative (a from
/// above 2 is then returned as it is); -1 when no duplicate above 2 can be made. A copy of an
/// open from onto a given number that fails raises the system's error ("Too many open files");
/// a closed from is copied as closed, silently.
int fd_copy(int from, int to);
/// A line-buffered stream whose descriptor is the current value of *variable (mapped as above).
FILE* open_descriptor_stream(int* variable, const char* mode);
/// Marks a descriptor close-on-exec.
void set_cloexec(int fd);
/// Clears the close-on-exec mark.
void clear_cloexec(int fd);
/// The descriptor a stream on this variable uses now (16..18 become 0..2 while prepared).
int effective_fd(int value);
/// Writes all size bytes, again after an interrupted or partial write; false on a failure.
bool write_fully(int fd, const char* data, std::size_t size);
