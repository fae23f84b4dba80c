#include "builtins/job_builtins.h"

#include <strings.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "core/signal_mask.h"
#include "core/signals.h"
#include "jobs/job_control.h"
#include "jobs/process_table.h"

namespace {

constexpr int HIGHEST_SIGNAL_NAMED = 31;  // kill -l and signal names cover 1 to 31
constexpr int HIGHEST_SIGNAL_NUMBER = 32;

bool some_child_running() {
    for (const ProcessEntry& e : jobs.process_table) {
        if (e.pid != 0 && (e.status_flags & PROC_RUNNING)) return true;
    }
    return false;
}

// The signal named by text (a leading "sig" and the letter case do not matter); 0 when none.
int signal_named(const char* text) {
    if (strncasecmp(text, "sig", 3) == 0) text += 3;
    for (int sig = 1; sig <= HIGHEST_SIGNAL_NAMED; ++sig) {
        const char* name = sigabbrev_np(sig);
        if (name && strcasecmp(text, name) == 0) return sig;
    }
    return 0;
}

void list_signal_names() {
    for (int sig = 1; sig <= HIGHEST_SIGNAL_NAMED; ++sig) {
        const char* name = sigabbrev_np(sig);
        if (name) {
            std::fputs(name, output_stream);
        } else {
            std::fprintf(output_stream, "%d", sig);
        }
        std::fputc(' ', output_stream);
        if (sig == 16) std::fputc('\n', output_stream);
    }
    std::fputc('\n', output_stream);
    std::fflush(output_stream);
}

}  // namespace

void builtin_jobs(WordVector& words, CommandNode&) {
    if (stop_warned != 0) stop_warned = 2;
    bool long_form = false;
    if (words.size() > 1) {
        if (words.size() != 2 || !equals(words[1], "-l")) error_raise(ERR_JOBS_USAGE | ERRF_NAME);
        long_form = true;
    }
    catch_up_with_children();
    run_jobs_listing(long_form);
}

void builtin_fg(WordVector& words, CommandNode&) {
    require_job_control();
    catch_up_with_children();
    if (words.size() == 1) {
        ProcessEntry* leader = find_job(nullptr);
        restart_job(leader, RESTART_FOREGROUND);
        wait_for_job(leader);
        return;
    }
    for (std::size_t i = 1; i < words.size(); ++i) {
        ProcessEntry* leader = find_job(&words[i]);
        restart_job(leader, RESTART_FOREGROUND);
        wait_for_job(leader);
    }
}

void builtin_bg(WordVector& words, CommandNode&) {
    require_job_control();
    catch_up_with_children();
    if (words.size() == 1) {
        restart_job(find_job(nullptr), RESTART_BACKGROUND);
        return;
    }
    for (std::size_t i = 1; i < words.size(); ++i) {
        restart_job(find_job(&words[i]), RESTART_BACKGROUND);
    }
}

void builtin_job_fg(WordVector& words, CommandNode&) {
    require_job_control();
    catch_up_with_children();
    ProcessEntry* leader = find_job(&words[0]);
    restart_job(leader, RESTART_FOREGROUND);
    wait_for_job(leader);
}

void builtin_job_bg(WordVector& words, CommandNode&) {
    catch_up_with_children();
    restart_job(find_job(&words[0]), RESTART_BACKGROUND);
}

void builtin_stop(WordVector& words, CommandNode&) {
    catch_up_with_children();
    signal_jobs(WordVector(words.begin() + 1, words.end()), SIGSTOP);
}

void builtin_kill(WordVector& words, CommandNode&) {
    const CharString& first = words[1];
    int sig = SIGTERM;
    std::size_t targets_from = 1;
    if (!first.empty() && first[0] == '-') {
        Char second = first.size() > 1 ? first[1] : 0;
        CharView after_dash = CharView(first).substr(1);
        if (second == 'l') {
            list_signal_names();
            return;
        }
        if (char_is(second, CC_DIGIT)) {
            long n = leading_number(after_dash);
            if (n > HIGHEST_SIGNAL_NUMBER) error_raise(ERR_BAD_SIGNAL_NUMBER | ERRF_NAME);
            sig = static_cast<int>(n);
        } else {
            sig = signal_named(to_byte_string(after_dash));
            if (sig == 0) {
                errors.error_name = to_visible(after_dash);
                error_raise(ERR_UNKNOWN_SIGNAL | ERRF_NAME);
            }
        }
        targets_from = 2;
    }
    catch_up_with_children();
    signal_jobs(WordVector(words.begin() + static_cast<std::ptrdiff_t>(targets_from), words.end()),
                sig);
}

void builtin_wait(WordVector&, CommandNode&) {
    // Every signal this wait acts on is held while the records are looked at and let through
    // only inside sigsuspend, so that none arriving in between is slept through: a hang-up
    // too, which would otherwise wait for the next child to change state.
    struct Waiting {
        Waiting() noexcept { waiting_builtin = 1; }
        ~Waiting() { waiting_builtin = 0; }
    } waiting;
    SignalsBlocked held({SIGCHLD, SIGINT, SIGHUP, SIGXCPU, SIGXFSZ});
    const sigset_t hold = mask_now();
    sigset_t open = held.before();
    sigdelset(&open, SIGCHLD);
    if (shell.handle_interrupts) sigdelset(&open, SIGINT);
    // An interrupt acted on here unwinds through the interrupt action, which lists the jobs.
    reap_children();
    for (;;) {
        if (signal_records.child || signal_records.hangup ||
            (signal_records.interrupt && !sigismember(&open, SIGINT))) {
            mask_change(SIG_SETMASK, &open, nullptr);
            act_on_signals();
            mask_change(SIG_BLOCK, &hold, nullptr);
        }
        // A running entry with no child left to wait for would sleep for ever.
        if (!some_child_running() || jobs.no_children_left) break;
        sigsuspend(&open);
    }
}

void builtin_notify(WordVector& words, CommandNode&) {
    catch_up_with_children();
    ProcessEntry* leader = find_job(words.size() > 1 ? &words[1] : nullptr);
    leader->status_flags |= PROC_NOTIFY;
}
