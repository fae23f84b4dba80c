// Job control: the lookup of %job specifiers, restarting and signalling jobs, the jobs listing,
// and the check that keeps the shell from leaving stopped jobs behind.
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

/// The number written by the unquoted digits at the start of v, saturating at the largest process
/// id the system could take, so that no overflow can wrap it onto a real process.
long leading_number(CharView v);
/// Acts on a SIGCHLD that arrived since the last safe point, so the table is up to date.
void catch_up_with_children();
/// fg, bg and a %job word in the foreground need a terminal of their own ("No job control in
/// this shell", "No job control in subshells").
void require_job_control();
