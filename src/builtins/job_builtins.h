// The job-control commands.
#pragma once

#include "core/chars.h"
#include "parse/syntax_tree.h"

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
