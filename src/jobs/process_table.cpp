#include "jobs/process_table.h"

#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <forward_list>
#include <initializer_list>
#include <limits>

#include "complete/line_editor.h"
#include "core/descriptors.h"
#include "core/errors.h"
#include "core/process_exit.h"
#include "core/shell.h"
#include "core/signal_mask.h"
#include "core/signals.h"
#include "input/input_buffer.h"
#include "jobs/job_control.h"
#include "jobs/job_reports.h"
#include "jobs/usage.h"
#include "vars/variables.h"

JobTable jobs;

namespace {

bool same_dir_as_shell(const ProcessEntry* leader) {
    return !leader->job_dir || !current_dir || leader->job_dir->name == current_dir->name;
}

// The first leader, newest first, that is neither the given one nor the current job; a stopped
// one is preferred. Leaders restarted since they stopped are dropped from the stopped ones as
// they are met, so that each costs one look.
ProcessEntry* other_job(ProcessEntry* leader) {
    auto eligible = [&](ProcessEntry* e) { return e != leader && e != jobs.current_job; };
    for (auto it = jobs.stopped_leaders.begin(); it != jobs.stopped_leaders.end();) {
        ProcessEntry* e = *it;
        if (!(e->status_flags & PROC_STOPPED)) {
            it = jobs.stopped_leaders.erase(it);
        } else if (eligible(e)) {
            return e;
        } else {
            ++it;
        }
    }
    for (ProcessEntry* e : jobs.leaders) {
        if (eligible(e)) return e;
    }
    return nullptr;
}

ProcessEntry* find_pid(pid_t pid) {
    auto it = jobs.by_pid.find(pid);
    return it == jobs.by_pid.end() ? nullptr : it->second;
}

// The child owns none of the shell's jobs. Forgetting them one by one would write into every
// entry, and so make the child copy every page of the table from the shell: with many jobs
// alive each child would cost more than the last. The table is put aside whole instead (where
// it stays reachable and is never looked at) and the child starts with an empty one, as it
// would be with every job forgotten. A job put aside by held_job is forgotten as before, so
// that taking it back gives a forgotten job.
void leave_jobs_in_child() {
    static std::forward_list<JobTable> put_aside;
    ProcessEntry* held = jobs.held_job;
    if (held && held->pid != 0) forget_job(held);
    JobTable fresh;
    fresh.held_job = held;
    fresh.notes_pending = jobs.notes_pending;
    fresh.no_children_left = jobs.no_children_left;
    put_aside.push_front(std::move(jobs));
    jobs = std::move(fresh);
}

// The CPU seconds from which a process is reported: the first word of time. Reaping never
// raises, so a word that is no number (set time[1] = x gets past the check of set) stands for
// a threshold no process reaches.
long time_threshold(const WordVector& time) {
    if (time.empty()) return 0;
    const CharString& w = time[0];
    bool plus = w.size() >= 2 && w[0] == '+';
    if (!str_is_number(plus ? w.substr(1) : w)) return std::numeric_limits<long>::max();
    return parse_number(w);
}

struct timeval now_time() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return tv;
}

// In a child: the child has no share of the shell's input. What the shell has read ahead is the
// shell's to run, and a read from its descriptor would take lines from the shell (a pipe) or
// move the shell's position (a file). A search in the child meets the end of the input at once.
void leave_shell_input() {
    input.memory.clear();
    input.window.clear();
    input.memory_start = input.buffer_start = input.buffer_end = input.input_offset = 0;
    input.input_seekable = false;
    input.descriptor_finished = true;
}

// A running process of the job that is no child of this shell can never be reaped, and no
// signal would end a wait for it: it is taken as ended, with a failure, since how it ended is
// unknown.
void settle_lost_processes(ProcessEntry* leader) {
    ProcessEntry* q = leader;
    do {
        siginfo_t info;
        if ((q->status_flags & PROC_RUNNING) &&
            waitid(P_PID, static_cast<id_t>(q->pid), &info,
                   WEXITED | WSTOPPED | WNOHANG | WNOWAIT) < 0 &&
            errno == ECHILD) {
            q->status_flags &= static_cast<std::uint16_t>(~(PROC_RUNNING | PROC_FOREGROUND));
            q->status_flags |= PROC_EXITED_NONZERO;
            q->reason = 1;
        }
        q = q->job_next;
    } while (q != leader);
}

}  // namespace

ProcessEntry* job_leader(ProcessEntry* p) {
    ProcessEntry* q = p;
    while (!(q->pid != 0 && q->pid == q->leader_pid)) {
        q = q->job_next;
        if (q == p) break;  // a forgotten job has no leader left: its first entry stands in
    }
    return q;
}

std::uint16_t job_flags(ProcessEntry* p) {
    std::uint16_t flags = 0;
    ProcessEntry* q = p;
    do {
        flags |= q->status_flags;
        q = q->job_next;
    } while (q != p);
    return flags;
}

void join_job_group(JobGroup wants_terminal, pid_t group) {
    sigset_t old;
    if (wants_terminal == JobGroup::TAKE_TERMINAL) {
        sigset_t s;
        sigemptyset(&s);
        sigaddset(&s, SIGTSTP);
        sigaddset(&s, SIGTTIN);
        sigaddset(&s, SIGTTOU);
        mask_change(SIG_BLOCK, &s, &old);
    }
    if (wants_terminal != JobGroup::NONE && setpgid(0, group) != 0) {
        std::fputs("orv: setpgid error.\n", diagnostic_stream);
        std::fflush(diagnostic_stream);
        // A failure is reported as one: the child ends with status 1.
        exit_now(1);
    }
    if (wants_terminal == JobGroup::TAKE_TERMINAL) {
        tcsetpgrp(TTY_FD, group);
        mask_change(SIG_SETMASK, &old, nullptr);
    }
    if (shell.terminal_pgrp > 0) shell.terminal_pgrp = 0;
}

pid_t fork_child(CommandNode* node, JobGroup wants_terminal) {
    bool ignore_interrupts =
        shell.handle_interrupts &&
        ((shell.terminal_pgrp == -1 && (node->node_flags & FLAG_NO_INTERRUPT)) ||
         session.interrupts_ignored());
    if (shell.fork_depth >= MAX_FORK_DEPTH) error_raise(ERR_FORK_NESTING, MAX_FORK_DEPTH);
    sigset_t hold, old;
    sigemptyset(&hold);
    sigaddset(&hold, SIGCHLD);
    mask_change(SIG_BLOCK, &hold, &old);
    std::fflush(output_stream);
    std::fflush(diagnostic_stream);
    pid_t pid;
    while ((pid = fork()) < 0) {
        if (shell.handle_interrupts) {
            mask_change(SIG_SETMASK, &old, nullptr);
            error_raise(ERR_NO_MORE_PROCESSES);
        }
        sleep(FORK_RETRY_SECONDS);
    }
    if (pid == 0) {
        record_start_usage();
        pid_t group = jobs.job_in_progress ? jobs.job_in_progress->leader_pid : getpid();
        leave_jobs_in_child();
        leave_shell_input();
        ++shell.fork_depth;
        signal_records = SignalRecords{};
        signals_init();
        if (shell.handle_interrupts) {
            shell.handle_interrupts = false;
            signal(SIGINT, ignore_interrupts ? SIG_IGN : SIG_DFL);
            signal(SIGQUIT, ignore_interrupts ? SIG_IGN : SIG_DFL);
            if (wants_terminal != JobGroup::NONE) {
                signal(SIGTSTP, SIG_DFL);
                signal(SIGTTIN, SIG_DFL);
                signal(SIGTTOU, SIG_DFL);
            }
            sigaction(SIGTERM, &shell.inherited_sigterm, nullptr);
        } else if (shell.terminal_pgrp == -1 && (node->node_flags & FLAG_NO_INTERRUPT)) {
            signal(SIGINT, SIG_IGN);
            signal(SIGQUIT, SIG_IGN);
        }
        // The child acts on interrupts by their dispositions, not by the shell's blocking.
        unblock_signal(SIGINT);
        join_job_group(wants_terminal, group);
        if (node->node_flags & FLAG_NOHUP) signal(SIGHUP, SIG_IGN);
        if (node->node_flags & FLAG_NICE) setpriority(PRIO_PROCESS, 0, node->nice_value);
        return 0;
    }
    if (wants_terminal != JobGroup::NONE) {
        setpgid(pid, jobs.job_in_progress ? jobs.job_in_progress->leader_pid : pid);
    }
    add_process(pid, node);
    mask_change(SIG_SETMASK, &old, nullptr);
    return pid;
}

void add_process(pid_t pid, CommandNode* node) {
    jobs.process_table.emplace_front();
    ProcessEntry* p = &jobs.process_table.front();
    p->pid = pid;
    p->status_flags = PROC_RUNNING;
    if (node->node_flags & FLAG_TIME) p->status_flags |= PROC_TIME_EACH;
    if (!(node->node_flags & FLAG_BACKGROUND)) p->status_flags |= PROC_FOREGROUND;
    p->command_text = format_command_tree(node);
    if (node->node_flags & FLAG_PIPE_OUT) {
        p->status_flags |= PROC_PIPED_OUT;
        if (node->node_flags & FLAG_ERR_TOO) p->status_flags |= PROC_ERR_PIPED;
    }
    if (ProcessEntry* job = jobs.job_in_progress) {
        p->job_number = job->job_number;
        p->leader_pid = job->leader_pid;
        ProcessEntry* last = job;
        while (last->job_next != job) last = last->job_next;
        last->job_next = p;
        p->job_next = job;
    } else {
        jobs.job_in_progress = p;
        p->leader_pid = pid;
        p->job_next = p;
        p->job_dir = current_dir;
        if (current_dir) ++current_dir->ref_count;
        p->job_number = jobs.job_numbers.take();
        if (!jobs.current_job) {
            jobs.current_job = p;
        } else if (!jobs.previous_job) {
            jobs.previous_job = p;
        }
    }
    p->start_time = now_time();
    index_process(p);
}

void index_process(ProcessEntry* p) {
    p->sequence = ++jobs.entries_made;
    jobs.by_pid[p->pid] = p;
    if (p->pid == p->leader_pid) {
        jobs.leaders.insert(p);
        if (p->status_flags & PROC_STOPPED) jobs.stopped_leaders.insert(p);
    }
}

int JobNumbers::take() {
    if (max_ < JOB_NUMBER_REUSE_FROM || free_.empty()) return ++max_;
    int n = *free_.begin();
    free_.erase(free_.begin());
    return n;
}

void JobNumbers::take(int n) {
    while (max_ < n) free_.insert(++max_);
    free_.erase(n);
}

void JobNumbers::give_back(int n) {
    if (n <= 0 || n > max_) return;
    if (n < max_) {
        free_.insert(n);
        return;
    }
    // The highest left in use: below n, past the free numbers.
    --max_;
    while (max_ > 0 && free_.erase(max_) == 1) --max_;
}

void reap_children() {
    int saved_errno = errno;
    signal_records.child = 0;
    int options = WNOHANG;
    if (shell.handle_interrupts && (session.source_in_progress || isatty(fds.shell_in))) {
        options |= WUNTRACED;
    }
    for (;;) {
        int status = 0;
        struct rusage usage {};
        pid_t pid = wait4(-1, &status, options, &usage);
        if (pid <= 0) {
            if (pid < 0 && errno == EINTR) continue;
            jobs.no_children_left = pid == -1;
            break;
        }
        ProcessEntry* p = find_pid(pid);
        if (!p) continue;
        if (const WordVector* child = var_lookup("child"); child && !child->empty() &&
                                                           str_is_number((*child)[0]) &&
                                                           parse_number((*child)[0]) == pid) {
            var_unset(chars("child"));
        }
        p->status_flags &=
            static_cast<std::uint16_t>(~(PROC_RUNNING | PROC_STOPPED | PROC_REPORTED));
        if (WIFSTOPPED(status)) {
            p->status_flags |= PROC_STOPPED;
            p->reason = static_cast<std::uint8_t>(WSTOPSIG(status));
            if (p->pid == p->leader_pid) jobs.stopped_leaders.insert(p);
        } else {
            if ((p->status_flags & (PROC_TIMED | PROC_TIME_EACH)) || var_lookup("time")) {
                p->end_time = now_time();
            }
            p->usage = usage;
            if (WIFSIGNALED(status)) {
                p->status_flags |= WTERMSIG(status) == SIGINT ? PROC_INTERRUPTED : PROC_SIGNALED;
                if (WCOREDUMP(status)) p->status_flags |= PROC_CORE_DUMPED;
                p->reason = static_cast<std::uint8_t>(WTERMSIG(status));
            } else {
                p->reason = static_cast<std::uint8_t>(WEXITSTATUS(status));
                p->status_flags |= p->reason ? PROC_EXITED_NONZERO : PROC_EXITED;
            }
        }
        // Processes over the time threshold are reported with their usage.
        if (const WordVector* t = var_lookup("time"); t && shell.fork_depth == 0) {
            long threshold = time_threshold(*t);
            ProcessEntry* q = p;
            do {
                if (!(q->status_flags & (PROC_TIME_EACH | PROC_RUNNING | PROC_STOPPED)) &&
                    q->usage.ru_utime.tv_sec + q->usage.ru_stime.tv_sec >= threshold) {
                    q->status_flags |= PROC_TIMED;
                }
                q = q->job_next;
            } while (q != p);
        }
        std::uint16_t flags = job_flags(p);
        p->status_flags &= static_cast<std::uint16_t>(~PROC_FOREGROUND);
        if (p->job_next == p && (p->status_flags & PROC_TIME_EACH)) {
            p->status_flags =
                static_cast<std::uint16_t>((p->status_flags & ~PROC_TIME_EACH) | PROC_TIMED);
        }
        if (flags & (PROC_RUNNING | PROC_REPORTED)) continue;
        // The whole job has stopped or ended.
        ProcessEntry* q = p;
        do {
            if (q->status_flags & PROC_STOPPED) q->status_flags |= PROC_REPORTED;
            q = q->job_next;
        } while (q != p);
        ProcessEntry* leader = job_leader(p);
        if (flags & PROC_STOPPED) {
            if (jobs.current_job && jobs.current_job != leader) {
                jobs.previous_job = jobs.current_job;
            }
            jobs.current_job = leader;
        } else {
            clear_current(leader);
        }
        if (flags & PROC_FOREGROUND) {
            if (!(flags & (PROC_SIGNALED | PROC_STOPPED | PROC_TIME_EACH)) &&
                same_dir_as_shell(leader) && (flags & PROC_INTERRUPTED)) {
                put_char_visible(quoted('\r'), output_stream);
                std::fputc('\n', output_stream);
                std::fflush(output_stream);
            }
        } else if ((flags & PROC_NOTIFY) || var_lookup("notify")) {
            // Above a line being edited, which is taken off the screen and drawn again below.
            if (!line_editor_clear()) std::fputs("\r\n", output_stream);
            report_job(p, SHOW_NUMBER | SHOW_COMMAND | SHOW_REASON);
            if (!(flags & PROC_STOPPED)) forget_job(p);
        } else {
            leader->status_flags |= PROC_NEEDS_NOTE;
            ++jobs.notes_pending;
        }
    }
    errno = saved_errno;
}

void clear_current(ProcessEntry* leader) {
    if (leader == jobs.current_job) {
        if (jobs.previous_job) {
            jobs.current_job = jobs.previous_job;
            jobs.previous_job = other_job(leader);
        } else {
            jobs.current_job = other_job(leader);
            jobs.previous_job = other_job(leader);
        }
    } else if (leader == jobs.previous_job) {
        jobs.previous_job = other_job(leader);
    }
}

void forget_job(ProcessEntry* p) {
    if (p->pid == 0) {
        std::fputs("BUG: process flushed twice", diagnostic_stream);
        return;
    }
    ProcessEntry* leader = job_leader(p);
    clear_current(leader);
    if (leader == jobs.job_in_progress) jobs.job_in_progress = nullptr;
    jobs.leaders.erase(leader);
    jobs.stopped_leaders.erase(leader);
    jobs.job_numbers.give_back(leader->job_number);
    ProcessEntry* q = leader;
    do {
        if (auto it = jobs.by_pid.find(q->pid); it != jobs.by_pid.end() && it->second == q) {
            jobs.by_pid.erase(it);
        }
        q->job_number = 0;
        q->pid = 0;
        q->status_flags &= static_cast<std::uint16_t>(~PROC_NEEDS_NOTE);
        q = q->job_next;
    } while (q != leader);
}

void wait_for_job_in_progress(JobStatus status) {
    {
        SignalsBlocked hold({SIGCHLD});
        for (auto it = jobs.process_table.begin(); it != jobs.process_table.end();) {
            if (it->pid == 0) {
                dir_release(it->job_dir);
                it = jobs.process_table.erase(it);
            } else {
                ++it;
            }
        }
    }
    if (jobs.job_in_progress) wait_for_job(jobs.job_in_progress, status);
}

void wait_for_job(ProcessEntry* p, JobStatus status) {
    ProcessEntry* leader = job_leader(p);
    ProcessEntry* q = leader;
    do {
        if ((q->status_flags & PROC_RUNNING) && !(q->status_flags & PROC_FOREGROUND)) {
            std::fputs("BUG: waiting for background job!\n", diagnostic_stream);
        }
        q = q->job_next;
    } while (q != leader);
    std::uint16_t flags;
    {
        // The hang-up signals are held with SIGCHLD while the records are looked at, and let
        // through only inside the sleep, so that none arriving just before it is slept through.
        SignalsBlocked hold({SIGCHLD, SIGHUP, SIGXCPU, SIGXFSZ});
        sigset_t open = hold.before();
        for (int sig : {SIGCHLD, SIGHUP, SIGXCPU, SIGXFSZ}) sigdelset(&open, sig);
        for (;;) {
            if (signal_records.hangup && signal_actions.hangup) {
                signal_actions.hangup(signal_records.hangup);
            }
            reap_children();
            flags = job_flags(leader);
            if (!(flags & PROC_RUNNING)) break;
            settle_lost_processes(leader);
            flags = job_flags(leader);
            if (!(flags & PROC_RUNNING)) break;
            sigsuspend(&open);
        }
    }
    if (shell.terminal_pgrp > 0) tcsetpgrp(TTY_FD, shell.terminal_pgrp);
    if ((flags & (PROC_TIMED | PROC_SIGNALED | PROC_STOPPED)) || !same_dir_as_shell(leader)) {
        if (flags & PROC_STOPPED) {
            std::fputc('\n', output_stream);
            if (const WordVector* listjobs = var_lookup("listjobs")) {
                run_jobs_listing(!listjobs->empty() && (*listjobs)[0] == chars("long"));
                report_job(leader, SHOW_SHELL_DIR);
            } else {
                report_job(leader, SHOW_ABNORMAL | SHOW_SHELL_DIR);
            }
        } else {
            report_job(leader, SHOW_ABNORMAL | SHOW_SHELL_DIR);
        }
    }
    if ((flags & (PROC_INTERRUPTED | PROC_STOPPED)) && shell.handle_interrupts &&
        !session.interrupts_ignored()) {
        if (!(flags & PROC_STOPPED)) forget_job(leader);
        if (signal_actions.interrupt) signal_actions.interrupt(false);
    }
    if (status == JobStatus::Keep) {
        forget_job(leader);
        return;
    }
    int r = 0;
    q = leader;
    do {
        if (q->reason) {
            r = q->reason;
            if (q->status_flags & (PROC_SIGNALED | PROC_INTERRUPTED)) r += 128;
        }
        q = q->job_next;
    } while (q != leader);
    if (r && var_lookup("printexitvalue")) {
        std::fprintf(output_stream, "Exit %d\n", r);
        std::fflush(output_stream);
    }
    set_status(r);
    if (r && errors.exit_on_error) exit_now(r);
    forget_job(leader);
}

void hold_job_in_progress() {
    jobs.held_job = jobs.job_in_progress;
    jobs.job_in_progress = nullptr;
}

void restore_job_in_progress() {
    jobs.job_in_progress = jobs.held_job;
    jobs.held_job = nullptr;
}
