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

bool is_leader(const ProcessEntry& e) {
    return e.pid != 0 && e.pid == e.leader_pid;
}

ProcessEntry* leader_numbered(long n) {
    for (ProcessEntry& e : jobs.process_table) {
        if (is_leader(e) && e.job_number == n) return &e;
    }
    return nullptr;
}

void list_jobs(int options) {
    for (int i = 1; i <= jobs.job_numbers.max_job_number(); ++i) {
        ProcessEntry* leader = leader_numbered(i);
        if (!leader) continue;
        leader->status_flags &= static_cast<std::uint16_t>(~PROC_NEEDS_NOTE);
        std::uint16_t flags = report_job(leader, options);
        if (!(flags & (PROC_RUNNING | PROC_STOPPED))) forget_job(leader);
    }
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
