// Job reports: every line the shell prints about jobs, and the printable form of a command.
#pragma once

#include <cstdint>

#include "core/chars.h"
#include "jobs/process_table.h"
#include "parse/syntax_tree.h"

/// Options of report_job.
enum ReportOption : int {
    SHOW_NUMBER = 0x01,     ///< job number and current/previous mark
    SHOW_COMMAND = 0x02,    ///< command text; the state column padded to 23
    SHOW_REASON = 0x04,     ///< a state column for every state
    SHOW_AMPERSAND = 0x08,  ///< " &" after the job
    SHOW_PID = 0x10,        ///< process ids, one line per process
    SHOW_SHELL_DIR = 0x20,  ///< "(wd now: ...)" when the shell's directory differs
    SHOW_JOB_DIR = 0x40,    ///< " (wd: ...)" when the job's directory differs
    SHOW_ABNORMAL = 0x80,   ///< a state column only for stops and signal deaths
};

inline constexpr int COMMAND_TEXT_MAX = 80;

/// Reports a job on the output stream; returns the union of its processes' flags.
std::uint16_t report_job(ProcessEntry* p, int options);
/// The printable form of a command, at most 80 characters plus " ...".
CharString format_command_tree(const CommandNode* node);
/// Announces the job just started in the background ("[1] 1234"); forgets the job in progress.
void announce_background_job();
/// Reports the jobs marked for a note; forgets those that ended.
void report_pending_jobs();
