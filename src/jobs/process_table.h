// The process table: every child of the shell, grouped into jobs. A job is the processes
// started for one command line (a pipeline, a subshell); its processes form a ring in the order
// they were started, and its first process (the leader) gives the job its process group.
//
// SIGCHLD only records that something happened; reap_children runs in ordinary code at safe
// points (in every wait, before the prompt, in the job builtins, while waiting for input), so
// the table is never changed under the feet of the code that reads it.
#pragma once

#include <sys/resource.h>
#include <sys/time.h>
#include <sys/types.h>

#include <cstdint>
#include <list>

#include "core/chars.h"
#include "core/shell.h"
#include "dirs/directory_stack.h"
#include "parse/syntax_tree.h"

enum ProcessFlag : std::uint16_t {
    PROC_RUNNING = 0x0001,
    PROC_STOPPED = 0x0002,
    PROC_EXITED = 0x0004,          ///< exited with status 0
    PROC_EXITED_NONZERO = 0x0008,  ///< exited with another status
    PROC_SIGNALED = 0x0010,        ///< killed by a signal other than SIGINT
    PROC_NOTIFY = 0x0020,          ///< report as soon as the state changes (notify)
    PROC_TIMED = 0x0040,           ///< print the job's resource usage when it is reported
    PROC_FOREGROUND = 0x0100,      ///< started in the foreground or brought there
    PROC_CORE_DUMPED = 0x0200,
    PROC_ERR_PIPED = 0x0400,    ///< standard error piped too (shown as "&")
    PROC_PIPED_OUT = 0x0800,    ///< standard output piped to the next process (" |")
    PROC_REPORTED = 0x1000,     ///< this stop has been handled
    PROC_INTERRUPTED = 0x2000,  ///< killed by SIGINT
    PROC_TIME_EACH = 0x4000,    ///< prefixed by time
    PROC_NEEDS_NOTE = 0x8000,   ///< report before the next prompt (set in the leader)
};
inline constexpr std::uint16_t PROC_STATE_MASK = 0x201f;

/// One child process.
struct ProcessEntry {
    ProcessEntry* job_next = nullptr;  ///< the next process of the job (a ring)
    DirEntry* job_dir = nullptr;       ///< leader only: the directory the job started in
    std::uint16_t status_flags = 0;
    std::uint8_t reason = 0;  ///< exit status, or the signal that stopped or killed it
    int job_number = 0;       ///< [n]; 0 once the job is forgotten
    pid_t pid = 0;            ///< 0 once the job is forgotten (the entry is then free)
    pid_t leader_pid = 0;     ///< pid of the job's first process: the job's process group
    struct timeval start_time {};
    struct timeval end_time {};
    struct rusage usage {};
    CharString command_text;  ///< printable form of the command
};

inline constexpr int JOB_NUMBER_REUSE_FROM = 9;
inline constexpr int MAX_FORK_DEPTH = 16;
inline constexpr int FORK_RETRY_SECONDS = 10;

struct JobTable {
    std::list<ProcessEntry> process_table;    ///< newest first; entries never move
    ProcessEntry* current_job = nullptr;      ///< %+
    ProcessEntry* previous_job = nullptr;     ///< %-
    ProcessEntry* job_in_progress = nullptr;  ///< the job whose processes are being started
    ProcessEntry* held_job = nullptr;         ///< job_in_progress put aside
    int max_job_number = 0;
    int notes_pending = 0;          ///< jobs marked PROC_NEEDS_NOTE since the last report
    bool no_children_left = false;  ///< the last wait found no child at all
};
extern JobTable jobs;

/// The leader of the job of any of its processes.
ProcessEntry* job_leader(ProcessEntry* p);
/// The union of the flags of the job's processes.
std::uint16_t job_flags(ProcessEntry* p);

/// What a child does about process groups and the terminal.
enum class JobGroup : int {
    NONE = -1,          ///< no process groups (no job control, or a command substitution)
    JOIN = 0,           ///< joins the group of the job being started
    TAKE_TERMINAL = 1,  ///< joins the job's group and makes it the terminal's foreground group
};
/// The group a command line of the shell runs under: its jobs take the terminal under job
/// control.
inline JobGroup job_group_of_shell() {
    return shell.terminal_pgrp > 0 ? JobGroup::TAKE_TERMINAL : JobGroup::NONE;
}

/// Forks a full child entered in the table; 0 in the child.
pid_t fork_child(CommandNode* node, JobGroup wants_terminal);
/// In a child: joins the job's process group and takes the terminal as asked.
void join_job_group(JobGroup wants_terminal, pid_t group);
/// Enters a child just started.
void add_process(pid_t pid, CommandNode* node);
/// Collects the status of every child that changed state.
void reap_children();
/// Gives up the current or previous role of a job.
void clear_current(ProcessEntry* leader);
/// Marks a job's entries free.
void forget_job(ProcessEntry* p);
/// What a wait does with status: sets it from the job, or keeps the value a command run in the
/// shell at the end of the pipeline left (the job is then not a failure of the line either).
enum class JobStatus { Set, Keep };
/// Releases the free entries, then waits for the job in progress.
void wait_for_job_in_progress(JobStatus status = JobStatus::Set);
/// Waits for a foreground job, reports it and, unless told to keep it, sets status.
void wait_for_job(ProcessEntry* p, JobStatus status = JobStatus::Set);
/// Puts the job in progress aside, and back.
void hold_job_in_progress();
void restore_job_in_progress();
