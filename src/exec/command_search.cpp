#include "core/signal_mask.h"
#include "input/history.h"
#include "exec/command_search.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "builtins/table.h"
#include "exec/command_hash.h"
#include "expand/glob.h"
#include "input/input_buffer.h"
#include "jobs/job_control.h"
#include "vars/variables.h"

namespace {

constexpr const char* DEFAULT_SHELL = "/bin/orv";
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

bool is_dot_or_empty(const CharString& d) { return d.empty() || (d.size() == 1 && d[0] == '.'); }

// The directories to try: path, unless the name has a slash or path has no words.
const WordVector& search_list(bool has_slash) {
    static const WordVector just_the_name{CharString()};
    const WordVector* path = var_lookup("path");
    if (path && !path->empty() && !has_slash) return *path;
    return just_the_name;
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

void builtin_rehash(WordVector&, CommandNode&) { rehash_path(); }

void builtin_unhash(WordVector&, CommandNode&) { command_hash.hash_enabled = false; }

void builtin_hashstat(WordVector&, CommandNode&) {
    long hits = command_hash.hash_hits, misses = command_hash.hash_misses;
    if (hits + misses == 0) return;
    std::fprintf(output_stream, "%ld hits, %ld misses, %ld%%\n", hits, misses,
                 hits * 100 / (hits + misses));
}

void builtin_exec(WordVector&, CommandNode& node) {
    if (stop_warned == 0 && shell.handle_interrupts) check_stopped_jobs(false);
    save_history();
    struct sigaction old_int, old_quit, old_term;
    sigaction(SIGINT, &shell.inherited_sigint, &old_int);
    sigaction(SIGQUIT, &shell.inherited_sigint, &old_quit);
    sigaction(SIGTERM, &shell.inherited_sigterm, &old_term);
    // Keep the shell's own descriptors aside; one on 0, 1 or 2 is first copied above 2.
    bool prepared = fds.fds_prepared;
    int* const vars[] = {&fds.shell_in, &fds.shell_out, &fds.shell_diag, &fds.saved_stdin};
    int numbers[4], kept[4];
    for (int i = 0; i < 4; ++i) {
        numbers[i] = *vars[i];
        kept[i] = *vars[i];
        if (kept[i] >= 0 && kept[i] <= 2) set_cloexec(kept[i] = fd_copy(kept[i], -1));
    }
    node.words.erase(node.words.begin());
    ChildScratch scratch;
    int copies[3] = {-1, -1, -1};
    bool failed = run_recovering([&] {
        // Like every descriptor the shell holds, the copies are not handed to the program.
        for (int i = 0; i < 3; ++i) set_cloexec(copies[i] = fd_copy(i, -1));
        fds.shell_in = copies[0];
        fds.shell_out = copies[1];
        fds.shell_diag = copies[2];
        fds.fds_prepared = false;
        run_program(node, scratch);
    });
    if (!failed) return;
    sigaction(SIGINT, &old_int, nullptr);
    sigaction(SIGQUIT, &old_quit, nullptr);
    sigaction(SIGTERM, &old_term, nullptr);
    input_done = false;
    fds.fds_prepared = prepared;
    for (int c : copies) {
        if (c > 2) close(c);
    }
    for (int i = 0; i < 4; ++i) *vars[i] = fd_move(kept[i], numbers[i]);
    error_raise(ERRF_SILENT);
}

void builtin_which(WordVector& words, CommandNode&) {
    for (std::size_t a = 1; a < words.size(); ++a) {
        CharString word = words[a];
        if (const WordVector* alias = var_lookup(CharView(word), aliases)) {
            std::fprintf(output_stream, "%s: \t aliased to ", to_visible(word));
            vec_print(output_stream, *alias);
            std::fputc('\n', output_stream);
            continue;
        }
        if (!word.empty() && word[0] == quoted(0)) word.erase(0, 1);
        // Interpret quoting in place: the quoted characters get the mark.
        CharString interpreted;
        for (std::size_t i = 0; i < word.size(); ++i) {
            Char c = word[i];
            if (c == '\'' || c == '"') {
                for (++i; i < word.size() && word[i] != c; ++i) interpreted += quoted(word[i]);
            } else if (c == '\\') {
                if (++i < word.size()) interpreted += quoted(word[i]);
            } else {
                interpreted += c;
            }
        }
        word = std::move(interpreted);
        bool builtin = false;
        for (int i = 0; i < builtin_count; ++i) {
            if (word == to_char_string(builtin_table[i].name)) builtin = true;
        }
        if (builtin) {
            std::fprintf(output_stream, "%s: shell built-in command.\n", to_visible(word));
            continue;
        }
        CharString name = glob_one(word, ONE_FIRST);
        str_strip(name);
        bool has_slash = name.find('/') != CharString::npos;
        const WordVector& dirs = search_list(has_slash);
        unsigned start = command_hash.hash_enabled ? hash_name(name) * HASH_MULTIPLIER : 0;
        bool found = false;
        for (std::size_t i = 0; i < dirs.size() && !found; ++i) {
            const CharString& d = dirs[i];
            if (!has_slash && !d.empty() && d[0] == '/' && command_hash.hash_enabled &&
                !hash_may_contain(start, i)) {
                continue;
            }
            std::string candidate = is_dot_or_empty(d) ? to_bytes(name)
                                                       : to_bytes(d) + "/" + to_bytes(name);
            if (candidate.size() > 1023) candidate.resize(1023);
            struct stat st;
            if (stat(candidate.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
                !(st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) ||
                access(candidate.c_str(), X_OK) != 0) {
                continue;
            }
            found = true;
            if (is_dot_or_empty(d)) {
                std::fprintf(output_stream, "%s%s\n", has_slash ? "" : "./", to_visible(name));
            } else {
                std::fprintf(output_stream, "%s\n", candidate.c_str());
            }
        }
        if (!found) std::fprintf(diagnostic_stream, "%s: Command not found.\n", to_visible(name));
    }
}
