#include "core/signal_mask.h"
#include "lifecycle/command_loop.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <utility>

#include "input/loop_stack.h"
#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "exec/executor.h"
#include "expand/glob.h"
#include "input/history.h"
#include "input/input_buffer.h"
#include "input/lexer.h"
#include "jobs/job_control.h"
#include "jobs/job_reports.h"
#include "jobs/process_table.h"
#include "lifecycle/interrupts.h"
#include "lifecycle/prompt.h"
#include "core/signals.h"
#include "parse/aliases.h"
#include "parse/parser.h"
#include "vars/variables.h"

namespace {

bool terminal_in_canonical_mode(int fd) {
    struct termios t;
    return tcgetattr(fd, &t) == 0 && (t.c_lflag & ICANON);
}

}  // namespace

// End of file from the descriptor: at a terminal the user may have meant otherwise (ignoreeof,
// stopped jobs, a terminal left to another group). Returns only to read again.
void end_of_input() {
    if (!terminal_in_canonical_mode(fds.shell_in)) input_finish();
    if (input.eof_retries++ > 24) input_finish();
    if (shell.terminal_pgrp > 0) {
        pid_t owner = tcgetpgrp(TTY_FD);
        if (owner != -1 && owner != shell.terminal_pgrp) {
            tcsetpgrp(TTY_FD, shell.terminal_pgrp);
            killpg(owner, SIGHUP);
            std::fprintf(diagnostic_stream, "Reset tty pgrp from %d to %d\n", owner,
                         shell.terminal_pgrp);
            std::fflush(diagnostic_stream);
            return;
        }
    }
    if (var_lookup("ignoreeof")) {
        std::fputs(shell.login_shell ? "\nUse \"logout\" to logout.\n"
                                     : "\nUse \"exit\" to leave orv.\n",
                   diagnostic_stream);
        std::fflush(diagnostic_stream);
        unwind();
    }
    if (stop_warned == 0) check_stopped_jobs(true);
    input_finish();
}


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

// One pass over one line: read it, enter it in the history, expand, parse, run.
void read_and_run_line(bool catch_errors, WordList& line, CommandTree& tree) {
    history.print_only = session.history_loading;
    let_interrupts_through();
    if (stop_warned > 0) --stop_warned;
    if (jobs.notes_pending) report_pending_jobs();
    if (shell.interactive && shell.prompting && !input.eval.words) {
        check_mail();
        if (input_at_buffer_end()) print_prompt();
        std::fflush(output_stream);
    }
    errors.pending_error.reset();
    // The end of eval text finishes the eval's loop. Reading on would find it too and unwind;
    // seen here, before the line, the loop ends the same way without the unwind.
    if (input.eval.words && input.eval.used_up && !input.read_pushback && !input.alias.words) {
        input_done = true;
        return;
    }
    bool had_history = lex_line(line);
    if ((had_history && !errors.pending_error && shell.interactive) || var_lookup("verbose")) {
        print_word_list(diagnostic_stream, line);
        std::fflush(diagnostic_stream);
    }
    hold_interrupts();
    if (session.history_loading || (catch_errors && shell.interactive && !loop_active())) {
        history_save_line(line);
    }
    if (!session.history_loading) error_raise_pending();
    if (history.print_only) throw LoopReturn{};
    expand_aliases(line);
    tree = parse_commands(line.first(), line.head(), 0);
    error_raise_pending();
    execute_tree(tree.get(), shell.terminal_pgrp > 0 ? shell.terminal_pgrp : -1, nullptr,
                 nullptr);
}

}  // namespace

void run_command_loop(bool catch_errors) {
    for (;;) {
        announce_background_job();
        for (;;) {
            RecoveryPoint point;
            try {
                WordList line;
                CommandTree tree;
                read_and_run_line(catch_errors, line, tree);
                if (input_done) {
                    input_done = false;
                    return;
                }
                break;
            } catch (const ShellError&) {
                point.recover();
            } catch (const LoopReturn&) {
                point.restore_mask();
            } catch (const std::bad_alloc&) {
                point.restore_mask();
                run_recovering([] { error_raise(ERR_NO_MEMORY); });
            }
            // Back at this loop's recovery point.
            lex_reset();
            if (errors.error_seen) {
                if (!catch_errors) {
                    input_done = false;
                    unwind();
                }
                errors.error_seen = false;
                close_other_fds();
                break;
            }
            if (input_done) {
                input_done = false;
                return;
            }
        }
    }
}

void source_file(int fd, bool check_status, bool load_history) {
    if (fd < 0) return;
    if (fds.fds_prepared) close_std_fds();
    struct stat st;
    if (check_status && fstat(fd, &st) != 0) {
        close(fd);
        return;
    }
    // Everything the nested input replaces, restored on every way out.
    struct SourceFrame {
        InputState input_state;
        int shell_in;
        bool interactive;
        std::optional<CharString> label;
        std::unique_ptr<LoopFrame> loops;
        bool history_loading;
        int history_char;
        bool source_in_progress;
    } saved{std::move(input), fds.shell_in,
            shell.interactive, std::move(session.interrupt_label),
            std::move(loop_stack), session.history_loading,
            lexer.history_char, session.source_in_progress};
    session.source_in_progress = true;
    {
        sigset_t before;
        mask_change(SIG_BLOCK, nullptr, &before);
        hold_interrupts();
        input = InputState{};
        fds.shell_in = fd;
        shell.interactive = isatty(fd);
        session.interrupt_label.reset();
        loop_stack.reset();
        session.history_loading = load_history;
        if (load_history) lexer.history_char = 0;
        mask_change(SIG_SETMASK, &before, nullptr);
    }
    input_check_seekable();
    bool abandoned = run_recovering([] {
        NestedInput nested;
        run_command_loop(false);
    });
    input = std::move(saved.input_state);
    close(fd);
    fds.shell_in = saved.shell_in;
    shell.interactive = saved.interactive;
    session.interrupt_label = std::move(saved.label);
    loop_stack = std::move(saved.loops);
    if (session.history_loading) lexer.history_char = saved.history_char;
    session.history_loading = saved.history_loading;
    session.source_in_progress = saved.source_in_progress;
    if (abandoned) error_raise(ERRF_SILENT);
}

void source_home_file(const CharString& dir, const char* name) {
    std::string path = to_bytes(dir);
    path += name;
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return;
    fd = fd_move(fd, -1);
    set_cloexec(fd);
    source_file(fd, !shell.home_files_no_stat, false);
}

void source_system_file(const char* path) {
    int fd = open(path, O_RDONLY);
    if (fd < 0) return;
    fd = fd_move(fd, -1);
    set_cloexec(fd);
    source_file(fd, false, false);
}

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
    source_file(fd, false, load_history);
}
