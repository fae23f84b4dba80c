#include "builtins/other_builtins.h"

#include <unistd.h>

#include <cstdio>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "expand/glob.h"
#include "input/input_buffer.h"
#include "lifecycle/command_loop.h"
#include "lifecycle/signals.h"

namespace {

// The arguments after file-name generation when they need it, else copied without quote marks.
WordVector expanded_arguments(const WordVector& words, ErrorCode no_match) {
    WordVector args(words.begin() + 1, words.end());
    if (int kind = glob_classify(args)) {
        std::optional<WordVector> out = glob_words(args, kind);
        if (!out) error_raise(no_match);
        return std::move(*out);
    }
    strip_quotes(args);
    return args;
}

// echo, linedit and glob: one function with a separator.
void write_words(const WordVector& words, char separator) {
    let_interrupts_through();
    if (words.size() > 1) {
        WordVector args = expanded_arguments(words, ERR_NO_MATCH | ERRF_NAME);
        bool newline = separator == ' ';
        std::size_t first = 0;
        if (separator == ' ' && !args.empty() && args[0] == chars("-n")) {
            newline = false;
            first = 1;
        }
        for (std::size_t i = first; i < args.size(); ++i) {
            act_on_signals();
            if (i > first) std::fputc(separator, output_stream);
            for (Char c : args[i]) std::fputc(c & 0xff, output_stream);
        }
        if (newline) {
            std::fputc('\n', output_stream);
        } else {
            std::fflush(output_stream);
        }
    }
    hold_interrupts();
}

}  // namespace

void builtin_echo(WordVector& words, CommandNode&) { write_words(words, ' '); }

void builtin_glob(WordVector& words, CommandNode&) { write_words(words, '\0'); }

void builtin_eval(WordVector& words, CommandNode&) {
    if (words.size() == 1) return;
    WordVector text = expanded_arguments(words, ERR_NO_MATCH);
    WordCursor saved_eval = input.eval;
    bool prepared = fds.fds_prepared;
    int saved_in = fds.shell_in, saved_out = fds.shell_out, saved_diag = fds.shell_diag;
    int kept_in = fd_copy(saved_in, -1);
    int kept_out = fd_copy(saved_out, -1);
    int kept_diag = fd_copy(saved_diag, -1);
    bool failed = run_recovering([&] {
        input.eval = WordCursor{};
        input.eval.words = &text;
        fds.shell_in = fd_copy(0, -1);
        fds.shell_out = fd_copy(1, -1);
        fds.shell_diag = fd_copy(2, -1);
        fds.fds_prepared = false;
        run_command_loop(false);
    });
    input.eval = saved_eval;
    input_done = false;
    fds.fds_prepared = prepared;
    for (int fd : {fds.shell_in, fds.shell_out, fds.shell_diag}) {
        if (fd > 2) close(fd);
    }
    fds.shell_in = fd_move(kept_in, saved_in);
    fds.shell_out = fd_move(kept_out, saved_out);
    fds.shell_diag = fd_move(kept_diag, saved_diag);
    for (int fd : {fds.shell_in, fds.shell_out, fds.shell_diag}) {
        if (fd > 2) set_cloexec(fd);
    }
    if (failed) error_raise(ERRF_SILENT);
}
