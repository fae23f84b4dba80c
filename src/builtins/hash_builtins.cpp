#include "builtins/hash_builtins.h"

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "builtins/table.h"
#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "exec/command_hash.h"
#include "exec/command_search.h"
#include "expand/glob.h"
#include "input/history.h"
#include "input/input_buffer.h"
#include "jobs/job_control.h"
#include "vars/variables.h"

void builtin_rehash(WordVector&, CommandNode&) {
    rehash_path();
}

void builtin_unhash(WordVector&, CommandNode&) {
    command_hash.hash_enabled = false;
}

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
            std::string candidate =
                is_dot_or_empty(d) ? to_bytes(name) : to_bytes(d) + "/" + to_bytes(name);
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
