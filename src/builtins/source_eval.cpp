#include "builtins/source_eval.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/descriptors.h"
#include "core/errors.h"
#include "exec/reentry.h"
#include "expand/glob.h"
#include "input/input_frame.h"

namespace {

// Opens a saved history for reading; -1 unless it is a regular file. A FIFO would block the open
// and a device such as /dev/zero never ends, so anything else is passed over as a missing file is.
int open_history_file(const char* path) {
    int fd = open(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

}  // namespace

void builtin_source(WordVector& words, CommandNode&) {
    bool load_history = false;
    std::size_t name_index = 1;
    if (words[1] == chars("-h")) {
        load_history = true;
        name_index = 2;
        if (words.size() < 3) error_raise(ERR_NO_H_OPERAND | ERRF_NAME);
    }
    CharString name = glob_one(words[name_index], ONE_AMBIGUOUS);
    const char* path = to_byte_string(name);
    if (input_nesting_full()) error_raise(ERR_NAME_TEXT, path, std::strerror(EMFILE));
    int fd = load_history ? open_history_file(path) : open(path, O_RDONLY);
    if (fd >= 0) fd = fd_move(fd, -1);
    if (fd < 0) {
        if (load_history) return;
        error_raise(ERR_NAME_TEXT, path, std::strerror(errno));
    }
    set_cloexec(fd);
    reentry.source_file(fd, false, load_history);
}

void builtin_eval(WordVector& words, CommandNode&) {
    if (words.size() == 1) return;
    if (input_nesting_full()) error_raise(ERR_TEXT | ERRF_NAME, std::strerror(EMFILE));
    WordVector text = glob_arguments(words, ERR_NO_MATCH);
    bool prepared = fds.fds_prepared;
    int saved_in = fds.shell_in, saved_out = fds.shell_out, saved_diag = fds.shell_diag;
    // The eval's commands take 0, 1 and 2 of the eval command as the shell's own descriptors;
    // when those were not set up they are the shell's descriptors already, and stay. A closed
    // one stays closed; one that cannot be copied fails the eval, which would otherwise write
    // to nowhere.
    int copies[3] = {saved_in, saved_out, saved_diag};
    if (prepared) {
        for (int i = 0; i < 3; ++i) {
            copies[i] = fd_copy(i, -1);
            if (copies[i] < 0 && errno != EBADF) {
                const int err = errno;
                for (int k = 0; k < i; ++k) {
                    if (copies[k] > 2) close(copies[k]);
                }
                error_raise(ERR_TEXT | ERRF_NAME, std::strerror(err));
            }
            if (copies[i] > 2) set_cloexec(copies[i]);
        }
    }
    int kept_in = prepared ? fd_copy(saved_in, -1) : saved_in;
    int kept_out = prepared ? fd_copy(saved_out, -1) : saved_out;
    int kept_diag = prepared ? fd_copy(saved_diag, -1) : saved_diag;
    bool failed;
    {
        InputFrame frame(text);
        failed = run_recovering([&] {
            fds.shell_in = copies[0];
            fds.shell_out = copies[1];
            fds.shell_diag = copies[2];
            fds.fds_prepared = false;
            reentry.run_command_loop(false);
        });
    }
    fds.fds_prepared = prepared;
    if (prepared) {
        for (int fd : {fds.shell_in, fds.shell_out, fds.shell_diag}) {
            if (fd > 2) close(fd);
        }
        fds.shell_in = fd_move(kept_in, saved_in);
        fds.shell_out = fd_move(kept_out, saved_out);
        fds.shell_diag = fd_move(kept_diag, saved_diag);
    } else {
        fds.shell_in = kept_in;
        fds.shell_out = kept_out;
        fds.shell_diag = kept_diag;
    }
    if (failed) error_raise(ERRF_SILENT);
}
