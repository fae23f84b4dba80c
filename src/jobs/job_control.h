// The job-control builtins, the lookup of %job specifiers, and the check that keeps the shell
// from leaving stopped jobs behind.
#pragma once

#include "core/chars.h"
#include "jobs/process_table.h"
#include "parse/syntax_tree.h"

/// 0, or 2 after the stopped-jobs warning; lowered by one before each line.
extern int stop_warned;
/// 1 while the wait builtin sleeps: an interrupt then lists the jobs and reports "Interrupted".
extern int waiting_builtin;

/// Where restart_job puts a job.
enum RestartPlace : int {
    RESTART_BACKGROUND = 0,
    RESTART_FOREGROUND = 1,
};

/// The leader named by a job specifier (%, %%, %+, %-, %#, %n, %prefix, %?text); null means
/// the current job. Does not return when there is no such job.
ProcessEntry* find_job(const CharString* word);
/// Sets a job running again in the foreground (giving it the terminal) or in the background,
/// reports it, and continues it when it was stopped.
void restart_job(ProcessEntry* leader, RestartPlace place);
/// Sends a signal to each %job or process id of the arguments; a refused signal is reported
/// and makes the command fail silently at the end.
void signal_jobs(const WordVector& arguments, int sig);

/// Raises "There are suspended jobs" when a job is stopped; sets stop_warned to 2.
void check_stopped_jobs(bool newline);
/// The jobs listing (the jobs builtin with or without -l), used after a stop under listjobs.
void run_jobs_listing(bool long_form);

/// jobs [-l]: lists the jobs; a finished job is listed once and forgotten.
void builtin_jobs(WordVector& words, CommandNode& node);
/// fg [job ...]: brings each job to the foreground in turn and waits for it.
void builtin_fg(WordVector& words, CommandNode& node);
/// bg [job ...]: continues each job in the background.
void builtin_bg(WordVector& words, CommandNode& node);
/// stop job ...: sends SIGSTOP.
void builtin_stop(WordVector& words, CommandNode& node);
/// kill [-sig] job|pid ..., kill -l: sends a signal (SIGTERM by default) or lists the names.
void builtin_kill(WordVector& words, CommandNode& node);
/// wait: sleeps until no child is running; an interrupt ends it with a jobs listing.
void builtin_wait(WordVector& words, CommandNode& node);
/// notify [job]: reports the job as soon as its state changes.
void builtin_notify(WordVector& words, CommandNode& node);
/// A command word %job alone: brings the job to the foreground and waits for it.
void builtin_job_fg(WordVector& words, CommandNode& node);
/// A command word %job followed by &: continues the job in the background.
void builtin_job_bg(WordVector& words, CommandNode& node);
