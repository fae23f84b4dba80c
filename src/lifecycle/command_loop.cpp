#include "lifecycle/command_loop.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "core/signal_mask.h"
#include "core/signals.h"
#include "exec/executor.h"
#include "expand/glob.h"
#include "input/history.h"
#include "input/input_buffer.h"
#include "input/input_frame.h"
#include "input/lexer.h"
#include "input/loop_stack.h"
#include "jobs/job_control.h"
#include "jobs/job_reports.h"
#include "jobs/process_table.h"
#include "lifecycle/interrupts.h"
#include "lifecycle/prompt.h"
#include "parse/aliases.h"
#include "parse/line_cache.h"
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
        std::fputs(
            shell.login_shell ? "\nUse \"logout\" to logout.\n" : "\nUse \"exit\" to leave orv.\n",
            diagnostic_stream);
        std::fflush(diagnostic_stream);
        unwind();
    }
    if (stop_warned == 0) check_stopped_jobs(true);
    input_finish();
}

namespace {

// Whether the line about to be read may be taken from the cache of parsed lines, or kept in it:
// text of a file or pipe read plainly (see input_reads_plain_text) with nothing left in the
// lexer, not a terminal's, not history being loaded, and not under verbose, which prints each
// line as it is read.
bool line_may_be_cached(bool verbose) {
    return !verbose && !shell.interactive && !session.history_loading && input_reads_plain_text() &&
           lex_idle();
}

// Runs the line at the current position as it was parsed before, when the cache holds it and
// the input goes on with its bytes; false (nothing read) otherwise. The position and the line
// start are left as reading the line would leave them.
bool run_cached_line(std::shared_ptr<const CommandNode>& kept) {
    const std::int64_t start = input.input_offset;
    const ParsedLine* cached = cached_line(start);
    if (!cached || !input_skip_text(cached->text)) return false;
    lexer.line_start = InputPosition{INPUT_FILE, start, -1};
    lexer.had_history = false;
    kept = cached->tree;
    hold_interrupts();
    execute_tree(kept.get(), job_group_of_shell(), nullptr, nullptr);
    return true;
}

// One pass over one line: read it, enter it in the history, expand, parse, run. A line that
// may be read again is kept parsed (in kept) unless its reading depended on more than its bytes,
// the aliases and the history characters: history substitution took place in it.
void read_and_run_line(bool catch_errors, WordList& line, CommandTree& tree,
                       std::shared_ptr<const CommandNode>& kept) {
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
    const bool verbose = var_lookup("verbose") != nullptr;
    const bool cacheable = line_may_be_cached(verbose);
    if (cacheable && run_cached_line(kept)) return;
    // Only a line read a second time is kept (a loop's body, lines a goto returned to): a line
    // read once, even in a loop that runs once, is not worth its memory.
    const bool keep = cacheable && input.input_offset < input.lines_read_upto;
    const std::int64_t line_offset = input.input_offset;
    std::string text;
    bool had_history, noted = false;
    {
        std::optional<TextNote> note;
        if (keep) note.emplace();
        had_history = lex_line(line);
        noted = note && lex_idle() && input_reads_plain_text() && note->text(text);
    }
    input.lines_read_upto = std::max(input.lines_read_upto, input.input_offset);
    if ((had_history && !errors.pending_error && shell.interactive) || verbose) {
        print_word_list(diagnostic_stream, line);
        std::fflush(diagnostic_stream);
    }
    hold_interrupts();
    if (session.history_loading || (catch_errors && shell.interactive && !loop_active())) {
        history_save_line(line);
    }
    if (!session.history_loading) error_raise_pending();
    if (history.print_only) throw LoopReturn{};
    const bool alias_history = expand_aliases(line);
    tree = parse_commands(line.first(), line.head(), 0);
    error_raise_pending();
    if (noted && !had_history && !alias_history) {
        kept = std::move(tree);
        cache_line(line_offset, ParsedLine{std::move(text), kept, aliases_generation,
                                           lexer.history_char, lexer.quick_sub_char});
        execute_tree(kept.get(), job_group_of_shell(), nullptr, nullptr);
        return;
    }
    execute_tree(tree.get(), job_group_of_shell(), nullptr, nullptr);
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
                std::shared_ptr<const CommandNode> kept;
                read_and_run_line(catch_errors, line, tree, kept);
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
    bool abandoned;
    {
        InputFrame frame(fd, load_history ? SourceReading::HISTORY_LINES : SourceReading::COMMANDS);
        input_check_seekable();
        abandoned = run_recovering([] { run_command_loop(false); });
    }
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
