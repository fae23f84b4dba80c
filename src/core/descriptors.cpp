#include "core/descriptors.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "core/errors.h"

Descriptors fds;
FILE* output_stream = nullptr;
FILE* diagnostic_stream = nullptr;

namespace {

// Finds a number above 2: duplicate until the duplicate is above 2, closing the ones below.
int dup_above_two(int fd) {
    int d = dup(fd);
    if (d < 0 || d > 2) return d;
    int r = dup_above_two(d);
    close(d);
    return r;
}

ssize_t stream_read(void* cookie, char* buf, size_t n) {
    return read(effective_fd(*static_cast<int*>(cookie)), buf, n);
}

// A write interrupted by a signal is retried, so that a signal never loses output.
ssize_t stream_write(void* cookie, const char* buf, size_t n) {
    size_t done = 0;
    while (done < n) {
        ssize_t w = write(effective_fd(*static_cast<int*>(cookie)), buf + done, n - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            return done ? static_cast<ssize_t>(done) : -1;
        }
        done += static_cast<size_t>(w);
    }
    return static_cast<ssize_t>(n);
}

int stream_seek(void* cookie, off64_t* pos, int whence) {
    off64_t r = lseek64(effective_fd(*static_cast<int*>(cookie)), *pos, whence);
    if (r < 0) return -1;
    *pos = r;
    return 0;
}

int stream_close(void* cookie) {
    return close(effective_fd(*static_cast<int*>(cookie)));
}

bool is_open(int fd) {
    return fcntl(fd, F_GETFD) >= 0;
}

// The error of a failed copy of an open descriptor onto a fixed number. A number the table
// cannot hold is refused as a bad descriptor; what the user must hear is that the table is full.
int copy_error(int err) {
    return err == EBADF ? EMFILE : err;
}

// Duplicates from onto to; false when from is open and still cannot be copied there (errno
// says why). A closed from is no failure: 0, 1 or 2 may be closed when the shell starts, and
// the copy is then closed too.
bool dup_onto(int from, int to, int flags) {
    if (dup3(from, to, flags) >= 0 || !is_open(from)) return true;
    errno = copy_error(errno);
    return false;
}

}  // namespace

FILE* open_descriptor_stream(int* variable, const char* mode) {
    cookie_io_functions_t io{stream_read, stream_write, stream_seek, stream_close};
    FILE* f = fopencookie(variable, mode, io);
    if (f) setvbuf(f, nullptr, _IOLBF, BUFSIZ);
    return f;
}

int effective_fd(int value) {
    return fds.fds_prepared && value >= 16 ? value - 16 : value;
}

void set_cloexec(int fd) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

void clear_cloexec(int fd) {
    fcntl(fd, F_SETFD, 0);
}

void fd_copy_failed(int err) {
    error_raise(ERR_TEXT, std::strerror(copy_error(err)));
}

int fd_copy(int from, int to) {
    if (from == to || from < 0) return from;
    if (to >= 0) {
        if (!dup_onto(from, to, 0)) fd_copy_failed(errno);
        return to;
    }
    if (from > 2) return from;
    return dup_above_two(from);
}

int fd_move(int from, int to) {
    if (from == to || from < 0) return from;
    if (to >= 0) {
        bool copied = dup_onto(from, to, 0);
        int err = errno;
        close(from);
        if (!copied) fd_copy_failed(err);
        return to;
    }
    if (from > 2) return from;
    int d = dup_above_two(from);
    close(from);
    return d;
}

// Copies from onto to, marked close-on-exec in the same call. A copy that cannot be made
// leaves the descriptor where it was, so that a message still reaches it, and records the error
// in *failure (the first one only).
static int copy_cloexec(int from, int to, int* failure) {
    if (from == to) {
        set_cloexec(to);
        return to;
    }
    if (dup_onto(from, to, O_CLOEXEC)) return to;
    if (*failure == 0) *failure = errno;
    return from;
}

int init_descriptors() {
    fds.fds_prepared = false;
    // 15 is kept by every later cleanup as the terminal's number; one inherited there is not
    // the shell's and must not reach its children.
    close(TTY_FD);
    int failure = 0;
    fds.shell_in = copy_cloexec(0, SHELL_IN_FD, &failure);
    fds.shell_out = copy_cloexec(1, SHELL_OUT_FD, &failure);
    fds.shell_diag = copy_cloexec(2, SHELL_DIAG_FD, &failure);
    fds.saved_stdin = copy_cloexec(fds.shell_in, SAVED_STDIN_FD, &failure);
    close_other_fds();
    return failure;
}

void fds_check_fixed_numbers() {
    if (getdtablesize() <= SAVED_STDIN_FD) fd_copy_failed(EMFILE);
}

bool init_streams() {
    FILE* in = open_descriptor_stream(&fds.shell_in, "r");
    output_stream = open_descriptor_stream(&fds.shell_out, "w");
    diagnostic_stream = open_descriptor_stream(&fds.shell_diag, "w");
    if (!in || !output_stream || !diagnostic_stream) return false;
    // The library's own streams are on 0, 1 and 2, which init_descriptors has closed already;
    // they are set aside unused (closing them would only close those numbers again).
    stdin = in;
    stdout = output_stream;
    stderr = diagnostic_stream;
    return true;
}

void close_other_fds() {
    int keep[] = {TTY_FD, fds.shell_in, fds.shell_out, fds.shell_diag, fds.saved_stdin};
    std::sort(std::begin(keep), std::end(keep));
    unsigned from = 0;
    for (int k : keep) {
        if (k < 0) continue;
        if (static_cast<unsigned>(k) > from) close_range(from, static_cast<unsigned>(k) - 1, 0);
        if (static_cast<unsigned>(k) + 1 > from) from = static_cast<unsigned>(k) + 1;
    }
    close_range(from, ~0U, 0);
}

void close_std_fds() {
    close(0);
    close(1);
    close(2);
    fds.fds_prepared = false;
}

bool write_fully(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}
