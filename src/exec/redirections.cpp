#include "exec/redirections.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "expand/glob.h"
#include "expand/substitute.h"
#include "vars/variables.h"

namespace {

[[noreturn]] void open_failed(const char* name) {
    error_raise(ERR_NAME_TEXT, name, std::strerror(errno));
}

// Opens the output file as the redirection asks. Under noclobber a file that does not exist is
// created exclusively, so that one appearing meanwhile is not overwritten.
int open_output(CommandNode& node, const char* name) {
    bool append = node.node_flags & FLAG_APPEND;
    if (append) {
        int fd = open(name, O_WRONLY | O_APPEND);
        if (fd >= 0) return fd;
    }
    int append_errno = errno;
    bool guard = !(node.node_flags & FLAG_CLOBBER) && var_lookup("noclobber");
    if (guard) {
        if (append) {
            errno = append_errno;
            open_failed(name);
        }
        struct stat st;
        if (stat(name, &st) == 0) {
            if (!S_ISCHR(st.st_mode)) error_raise(ERR_FILE_EXISTS, name);
        } else {
            int fd = open(name, O_WRONLY | O_CREAT | O_EXCL, 0666);
            if (fd >= 0) return fd;
            if (errno != EEXIST) open_failed(name);
            // O_EXCL refuses a symbolic link to a file that does not exist, which is no file to
            // protect: create its target, but never write into one that appeared meanwhile.
            struct stat link;
            if (lstat(name, &link) != 0 || !S_ISLNK(link.st_mode)) {
                error_raise(ERR_FILE_EXISTS, name);
            }
            fd = open(name, O_WRONLY | O_CREAT, 0666);
            if (fd < 0) open_failed(name);
            if (fstat(fd, &st) != 0 || (!S_ISCHR(st.st_mode) && st.st_size != 0)) {
                close(fd);
                error_raise(ERR_FILE_EXISTS, name);
            }
            return fd;
        }
    }
    int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) open_failed(name);
    return fd;
}

}  // namespace

void make_pipe(PipeEnds& p) {
    if (pipe(p.fd) != 0) error_raise(ERR_CANT_MAKE_PIPE);
    p.fd[0] = fd_move(p.fd[0], -1);
    p.fd[1] = fd_move(p.fd[1], -1);
    if (p.fd[0] < 0 || p.fd[1] < 0) {
        if (p.fd[0] >= 0) close(p.fd[0]);
        if (p.fd[1] >= 0) close(p.fd[1]);
        error_raise(ERR_CANT_MAKE_PIPE);
    }
}

CharString redirect_target(CommandNode& node, const CharString& word) {
    std::optional<CharString> one = substitute_one_word(word);
    CharString w = one ? std::move(*one) : word;
    if (!var_lookup("noambiguous")) return glob_one(w, ONE_AMBIGUOUS);
    WordVector v{w};
    int kind = glob_classify(v);
    if (!kind) {
        str_strip(w);
        return w;
    }
    std::optional<WordVector> names = glob_words(v, kind);
    if (!names || names->empty()) {
        error_set_name(w);
        error_raise(ERR_NO_MATCH | ERRF_NAME);
    }
    node.words.insert(node.words.end(), names->begin() + 1, names->end());
    return (*names)[0];
}

void setup_redirections(CommandNode& node, PipeEnds* pipe_in, PipeEnds* pipe_out) {
    if ((node.node_flags & FLAG_REPEAT) || fds.fds_prepared) return;
    // Standard input.
    if (node.node_flags & FLAG_HERE_DOC) {
        // The document is on 0 already.
    } else if (node.input_word) {
        fd_copy(fds.shell_in, 0);
        fd_copy(fds.shell_out, 1);
        fd_copy(fds.shell_diag, 2);
        CharString name = redirect_target(node, *node.input_word);
        const char* path = to_byte_string(name);
        int fd = open(path, O_RDONLY);
        if (fd < 0) open_failed(path);
        fd_move(fd, 0);
    } else if (node.node_flags & FLAG_PIPE_IN) {
        dup2(pipe_in->fd[0], 0);
        close(pipe_in->fd[0]);
        close(pipe_in->fd[1]);
    } else if ((node.node_flags & FLAG_NO_INTERRUPT) && shell.terminal_pgrp == -1) {
        close(0);
        fd_move(open("/dev/null", O_RDONLY), 0);
    } else {
        if (dup2(fds.saved_stdin, 0) < 0) close(0);
    }
    // Standard output.
    if (node.output_word) {
        CharString name = redirect_target(node, *node.output_word);
        std::string path = to_bytes(name);
        // The file goes on 1. Copies of the shell's output and error put there first would be
        // replaced before anything could write to them (messages go to the shell's own error
        // descriptor), so none is made; and with 1 free, as it is between commands, the file
        // is opened right onto it.
        int fd = open_output(node, path.c_str());
        if (fd != 1) fd_move(fd, 1);
    } else {
        int from = (node.node_flags & FLAG_PIPE_OUT) ? pipe_out->fd[1] : fds.shell_out;
        if (dup2(from, 1) < 0) close(1);
    }
    // Standard error.
    if (dup2((node.node_flags & FLAG_ERR_TOO) ? 1 : fds.shell_diag, 2) < 0) close(2);
    fds.fds_prepared = true;
}
