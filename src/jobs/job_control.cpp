#include "jobs/job_control.h"

#include <strings.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>

#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "core/signal_mask.h"
#include "core/signals.h"
#include "expand/glob.h"
#include "jobs/job_reports.h"

int stop_warned = 0;
int waiting_builtin = 0;

namespace {

constexpr int HIGHEST_SIGNAL_NAMED = 31;  // kill -l and signal names cover 1 to 31
constexpr int HIGHEST_SIGNAL_NUMBER = 32;

bool is_leader(const ProcessEntry& e) {
    return e.pid != 0 && e.pid == e.leader_pid;
}

// The number written by the unquoted digits at the start of v, saturating at the largest
// process id the system could take, so that no overflow can wrap it onto a real process.
long leading_number(CharView v) {
    long n = 0;
    for (Char c : v) {
        if (!char_is(c, CC_DIGIT)) break;
        n = std::min(n * 10 + (c - '0'), static_cast<long>(INT_MAX));
    }
    return n;
}

// Acts on a SIGCHLD that arrived since the last safe point, so the table is up to date.
void catch_up_with_children() {
    if (signal_records.child) reap_children();
}

// fg, bg and a %job word in the foreground need a terminal of their own.
void require_job_control() {
    if (shell.terminal_pgrp == -1) error_raise(ERR_NO_JOB_CONTROL | ERRF_NAME);
    if (shell.terminal_pgrp == 0) error_raise(ERR_NO_JOB_CONTROL_SUBSHELL | ERRF_NAME);
}

ProcessEntry* leader_numbered(long n) {
    for (ProcessEntry& e : jobs.process_table) {
        if (is_leader(e) && e.job_number == n) return &e;
    }
    return nullptr;
}

void list_jobs(int options) {
    for (int i = 1; i <= jobs.max_job_number; ++i) {
        ProcessEntry* leader = leader_numbered(i);
        if (!leader) continue;
        leader->status_flags &= static_cast<std::uint16_t>(~PROC_NEEDS_NOTE);
        std::uint16_t flags = report_job(leader, options);
        if (!(flags & (PROC_RUNNING | PROC_STOPPED))) forget_job(leader);
    }
}

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

bool is_stop_signal(int sig) {
    return sig == SIGSTOP || sig == SIGTSTP || sig == SIGTTIN || sig == SIGTTOU;
}

}  // namespace

ProcessEntry* find_job(const CharString* word) {
    // The first character is never examined: "fg 2" names the current job.
    CharView rest = word && word->size() > 1 ? CharView(*word).substr(1) : CharView();
    if (rest.empty() || equals(rest, "%") || equals(rest, "+")) {
        if (!jobs.current_job) error_raise(ERR_NO_CURRENT_JOB | ERRF_NAME);
        return jobs.current_job;
    }
    if (equals(rest, "-") || equals(rest, "#")) {
        if (!jobs.previous_job) error_raise(ERR_NO_PREVIOUS_JOB | ERRF_NAME);
        return jobs.previous_job;
    }
    if (char_is(rest[0], CC_DIGIT)) {
        ProcessEntry* leader = leader_numbered(leading_number(rest));
        if (!leader) error_raise(ERR_NO_SUCH_JOB | ERRF_NAME);
        return leader;
    }
    bool anywhere = rest[0] == '?';
    CharView pattern = anywhere ? rest.substr(1) : rest;
    ProcessEntry* match = nullptr;
    for (ProcessEntry& e : jobs.process_table) {
        if (!is_leader(e)) continue;
        CharView text(e.command_text);
        bool hit = anywhere ? text.find(pattern) != CharView::npos : text.starts_with(pattern);
        if (!hit) continue;
        if (match) error_raise(ERR_AMBIGUOUS | ERRF_NAME);
        match = &e;
    }
    if (!match) error_raise((anywhere ? ERR_NO_JOB_MATCHES : ERR_NO_SUCH_JOB) | ERRF_NAME);
    return match;
}

void restart_job(ProcessEntry* leader, RestartPlace place) {
    SignalsBlocked held({SIGCHLD});
    std::uint16_t flags = 0;
    ProcessEntry* q = leader;
    do {
        flags |= q->status_flags;
        if (q->status_flags & (PROC_RUNNING | PROC_STOPPED)) {
            q->status_flags |= PROC_RUNNING;
            q->status_flags &= static_cast<std::uint16_t>(~PROC_STOPPED);
            if (place == RESTART_FOREGROUND) {
                q->status_flags |= PROC_FOREGROUND;
            } else {
                q->status_flags &= static_cast<std::uint16_t>(~PROC_FOREGROUND);
            }
        }
        q = q->job_next;
    } while (q != leader);
    if (place == RESTART_BACKGROUND) {
        clear_current(leader);
        report_job(leader, SHOW_NUMBER | SHOW_COMMAND | SHOW_AMPERSAND);
    } else {
        report_job(leader, SHOW_COMMAND | SHOW_JOB_DIR);
        tcsetpgrp(TTY_FD, leader->leader_pid);
    }
    if (flags & PROC_STOPPED) killpg(leader->leader_pid, SIGCONT);
}

void signal_jobs(const WordVector& arguments, int sig) {
    bool hold_interrupts_too = shell.handle_interrupts;
    SignalsBlocked held({SIGCHLD, hold_interrupts_too ? SIGINT : SIGCHLD});

    WordVector targets;
    if (int kind = glob_classify(arguments)) {
        std::optional<WordVector> expanded = glob_words(arguments, kind);
        if (!expanded) error_raise(ERR_NO_MATCH | ERRF_NAME);
        targets = std::move(*expanded);
    } else {
        targets = arguments;
        clear_quote_marks(targets);
    }

    int failures = 0;
    for (const CharString& a : targets) {
        if (!a.empty() && a[0] == '%') {
            ProcessEntry* leader = find_job(&a);
            std::uint16_t flags = job_flags(leader);
            if (is_stop_signal(sig) && !(flags & PROC_RUNNING)) {
                std::fprintf(diagnostic_stream, "%s: Already suspended\n", to_visible(a));
                ++failures;
                continue;
            }
            if (sig == SIGCONT) {
                restart_job(leader, RESTART_BACKGROUND);
                continue;
            }
            if (killpg(leader->leader_pid, sig) < 0) {
                std::fprintf(diagnostic_stream, "%s: %s\n", to_visible(a), std::strerror(errno));
                ++failures;
            }
            // A stopped job must run to receive the signal.
            if (sig == SIGTERM || sig == SIGHUP) killpg(leader->leader_pid, SIGCONT);
            continue;
        }
        if (a.empty() || is_quoted(a[0]) || !(char_is(a[0], CC_DIGIT) || a[0] == '-')) {
            error_raise(ERR_JOBS_OR_PIDS | ERRF_NAME);
        }
        long number = a[0] == '-' ? -leading_number(CharView(a).substr(1)) : leading_number(a);
        pid_t pid = static_cast<pid_t>(number);
        if (kill(pid, sig) < 0) {
            std::fprintf(diagnostic_stream, "%d: %s\n", static_cast<int>(pid),
                         std::strerror(errno));
            ++failures;
        } else if (sig == SIGTERM || sig == SIGHUP) {
            kill(pid, SIGCONT);
        }
    }
    std::fflush(diagnostic_stream);

    // The signals held here are let through afterwards, even if they were held before.
    sigset_t after = held.before();
    sigdelset(&after, SIGCHLD);
    if (hold_interrupts_too) sigdelset(&after, SIGINT);
    held.put_back(after);
    if (failures) error_raise(ERRF_SILENT);
}

void check_stopped_jobs(bool newline) {
    stop_warned = 2;
    for (const ProcessEntry& e : jobs.process_table) {
        if (e.pid != 0 && (e.status_flags & PROC_STOPPED)) {
            error_raise(ERR_SUSPENDED_JOBS, newline ? "\n" : "");
        }
    }
}

void run_jobs_listing(bool long_form) {
    if (stop_warned != 0) stop_warned = 2;
    int options = SHOW_NUMBER | SHOW_COMMAND | SHOW_REASON;
    if (long_form) options |= SHOW_PID | SHOW_JOB_DIR;
    list_jobs(options);
}

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
