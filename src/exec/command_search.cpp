#include "exec/command_search.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "core/build_info.h"
#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "core/signal_mask.h"
#include "exec/command_hash.h"
#include "expand/glob.h"
#include "input/input_buffer.h"
#include "vars/variables.h"

namespace {

constexpr const char* BOURNE_SHELL = "/bin/sh";

// The first error of the current search that was not a missing file, and where it happened.
struct SearchState {
    const char* exec_error = nullptr;
};

// File-name generation of some words; a pattern that matches nothing is reported under name.
WordVector expand_words(WordVector words, const CharString& name) {
    if (int kind = glob_classify(words)) {
        std::optional<WordVector> out = glob_words(words, kind);
        if (!out) {
            error_set_name(name);
            error_raise(ERR_NO_MATCH | ERRF_NAME);
        }
        words = std::move(*out);
    }
    clear_quote_marks(words);
    return words;
}

[[noreturn]] void command_not_found(ChildScratch& scratch, const SearchState& search) {
    errors.error_name = to_visible(scratch.exec_path);
    if (search.exec_error) error_raise(ERR_TEXT | ERRF_NAME, search.exec_error);
    error_raise(ERR_COMMAND_NOT_FOUND | ERRF_NAME);
}

// The words that run a script: the interpreter, the script's path, its arguments. A temporary,
// gone before the execution (see expand_command_words).
WordVector interpreter_words(const char* candidate, const WordVector& words, bool not_ours) {
    WordVector argv;
    if (const WordVector* alias = var_lookup("shell", aliases)) {
        argv = *alias;
    } else if (not_ours) {
        argv.push_back(chars(BOURNE_SHELL));
    } else if (const WordVector* sh = var_lookup("shell"); sh && !sh->empty()) {
        argv.push_back((*sh)[0]);
    } else {
        argv.push_back(chars(DEFAULT_SHELL));
    }
    argv.push_back(to_char_string(candidate));
    argv.insert(argv.end(), words.begin() + 1, words.end());
    return argv;
}

// Hands a file the system refuses as not executable to a shell.
[[noreturn]] void run_script(const char* candidate, const WordVector& words,
                             ChildScratch& scratch) {
    int saved_errno = errno;
    int fd = open(candidate, O_RDONLY);
    unsigned char first = '#';
    if (fd >= 0) {
        unsigned char c;
        if (read(fd, &c, 1) == 1) {
            first = c;
            if (!byte_is_print(c) && c != '\t' && c != '\n') {
                close(fd);
                error_raise(ERR_WRONG_ARCH, candidate, std::strerror(saved_errno));
            }
        }
        close(fd);
    }
    scratch.argv.emplace(interpreter_words(candidate, words, fd >= 0 && first != '#'));
    scratch.interpreter = scratch.argv->strings.empty() ? std::string() : scratch.argv->strings[0];
    execv(scratch.interpreter.c_str(), scratch.argv->data());
    error_raise(ERR_NAME_TEXT, scratch.interpreter.c_str(), std::strerror(errno));
}

// Tries one candidate; returns when the search should go on.
void try_exec(const char* candidate, const WordVector& words, ChildScratch& scratch,
              SearchState& search) {
    scratch.argv.emplace(words);
    errno = 0;
    execv(candidate, scratch.argv->data());
    int e = errno;
    scratch.argv.reset();
    switch (e) {
        case ENOENT:
            return;
        case ENOMEM:
            error_raise(ERR_NAME_TEXT, candidate, std::strerror(e));
        case ENOEXEC:
            run_script(candidate, words, scratch);
        default:
            if (!search.exec_error) {
                search.exec_error = std::strerror(e);
                scratch.exec_path = to_char_string(candidate);
            }
    }
}

// File-name generation of the command name, then of the arguments; the node's words become the
// result. Returns whether the name holds a slash. What it allocates is released on return or
// lives in the node: a shared-memory child executes its program without unwinding, so a vector
// still alive in one of its frames then would be lost to the shell for good.
bool expand_command_words(CommandNode& node, ChildScratch& scratch, const SearchState& search) {
    WordVector first = expand_words(WordVector{node.words[0]}, node.words[0]);
    scratch.exec_path = first.empty() ? CharString() : first[0];
    if (!var_lookup("path") && !(scratch.exec_path.size() && scratch.exec_path[0] == '/')) {
        command_not_found(scratch, search);
    }
    bool has_slash = scratch.exec_path.find('/') != CharString::npos;
    WordVector rest =
        expand_words(WordVector(node.words.begin() + 1, node.words.end()), scratch.exec_path);
    first.insert(first.end(), std::make_move_iterator(rest.begin()),
                 std::make_move_iterator(rest.end()));
    node.words = std::move(first);
    return has_slash;
}

}  // namespace

bool is_dot_or_empty(const CharString& d) {
    return d.empty() || (d.size() == 1 && d[0] == '.');
}

const WordVector& search_list(bool has_slash) {
    static const WordVector just_the_name{CharString()};
    const WordVector* path = var_lookup("path");
    if (path && !path->empty() && !has_slash) return *path;
    return just_the_name;
}

void echo_command(const WordVector& words) {
    if (!var_lookup("echo")) return;
    std::fflush(diagnostic_stream);
    vec_print(diagnostic_stream, words);
    std::fputc('\n', diagnostic_stream);
    std::fflush(diagnostic_stream);
}

void run_program(CommandNode& node, ChildScratch& scratch) {
    SearchState search;
    bool has_slash = expand_command_words(node, scratch, search);
    if (node.words.empty() || node.words[0].empty()) command_not_found(scratch, search);
    echo_command(node.words);

    // From here the shell's descriptors are 0, 1 and 2 (its own are close-on-exec).
    fds.shell_in = 0;
    fds.shell_out = 1;
    fds.shell_diag = 2;
    fds.saved_stdin = 0;
    sigset_t none;
    sigemptyset(&none);
    mask_change(SIG_SETMASK, &none, nullptr);

    const WordVector& dirs = search_list(has_slash);
    const CharString& name = node.words[0];
    scratch.suffix = "/";
    scratch.suffix += to_byte_string(name);
    unsigned start = command_hash.hash_enabled ? hash_name(name) * HASH_MULTIPLIER : 0;
    ++command_hash.hash_hits;
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        const CharString& d = dirs[i];
        if (!has_slash && !d.empty() && d[0] == '/' && command_hash.hash_enabled &&
            !hash_may_contain(start, i)) {
            continue;
        }
        if (is_dot_or_empty(d)) {
            scratch.candidate = to_byte_string(name);
        } else {
            scratch.candidate = to_byte_string(d);
            scratch.candidate += scratch.suffix;
        }
        try_exec(scratch.candidate.c_str(), node.words, scratch, search);
        ++command_hash.hash_misses;
    }
    --command_hash.hash_hits;
    command_not_found(scratch, search);
}
