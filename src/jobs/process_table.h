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
#include <set>
#include <unordered_map>

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
    CharString command_text;     ///< printable form of the command
    std::uint64_t sequence = 0;  ///< the order of the entries: a newer one has a larger number
};

inline constexpr int JOB_NUMBER_REUSE_FROM = 9;
inline constexpr int MAX_FORK_DEPTH = 16;
inline constexpr int FORK_RETRY_SECONDS = 10;

/// The job numbers in use. A new job gets the number after the highest while the highest is
/// below JOB_NUMBER_REUSE_FROM, and the smallest number no job has from then on; the highest
/// falls when its job is forgotten.
class JobNumbers {
  public:
    /// The highest number in use; 0 when none.
    int max_job_number() const { return max_; }
    /// Takes the number for a new job.
    int take();
    /// Takes a number no job has.
    void take(int n);
    /// Gives back the number of a job forgotten.
    void give_back(int n);

  private:
    int max_ = 0;
    std::set<int> free_;  ///< the numbers below max_ that no job has
};

/// Orders entries newest first.
struct NewerFirst {
    bool operator()(const ProcessEntry* a, const ProcessEntry* b) const noexcept {
        return a->sequence > b->sequence;
    }
};

struct JobTable {
    std::list<ProcessEntry> process_table;    ///< newest first; entries never move
    ProcessEntry* current_job = nullptr;      ///< %+
    ProcessEntry* previous_job = nullptr;     ///< %-
    ProcessEntry* job_in_progress = nullptr;  ///< the job whose processes are being started
    ProcessEntry* held_job = nullptr;         ///< job_in_progress put aside
    JobNumbers job_numbers;                   ///< the numbers of the jobs not forgotten
    int notes_pending = 0;                    ///< jobs marked PROC_NEEDS_NOTE since the last report
    bool no_children_left = false;            ///< the last wait found no child at all
    // Indexes, so that no step of a job's life walks the table, which keeps the entries of
    // forgotten jobs until the next foreground command.
    std::uint64_t entries_made = 0;                   ///< the sequence of the last entry made
    std::unordered_map<pid_t, ProcessEntry*> by_pid;  ///< the entries not forgotten
    std::set<ProcessEntry*, NewerFirst> leaders;      ///< the leaders of the jobs not forgotten
    /// Every stopped leader of a job not forgotten, and leaders restarted since they stopped,
    /// which the search for a stopped job drops as it meets them.
    std::set<ProcessEntry*, NewerFirst> stopped_leaders;
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
/// Enters in the table's indexes the entry just put at the front of the table, with its pid,
/// leader_pid and flags set (add_process does it; the job number is taken apart).
void index_process(ProcessEntry* p);
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
