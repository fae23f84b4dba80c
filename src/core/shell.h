// The shell-wide flags (what kind of shell this is and how it treats its terminal) and the
// session state several floors read: the last background process, the onintr setting, and
// what kind of input the command loop is reading.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <optional>

#include "core/chars.h"

struct ShellFlags {
    bool interactive = false;         ///< input is a terminal, or -i; recomputed per sourced file
    bool forced_interactive = false;  ///< -i
    bool login_shell = false;         ///< a leading - in argv[0], or the lone argument -l
    bool handle_interrupts = false;   ///< SIGINT runs the interrupt action; commands interruptible
    bool prompting = true;            ///< a prompt is printed before reading
    bool fast_start = false;          ///< -f or no usable HOME: no start-up or history files
    bool no_execute = false;          ///< -n: commands are parsed, only scripting builtins run
    bool quit_default = false;        ///< -q or argv[0] "a.out": SIGQUIT default, no job control
    bool home_files_no_stat = false;  ///< -m: home start-up files read without a status query
    int fork_depth = 0;               ///< 0 in the shell itself; each child adds one
    bool in_shared_child = false;     ///< running in a child that borrows the shell's memory
    pid_t terminal_pgrp = -1;  ///< -1 no job control; > 0 the group given the terminal; 0 child
    pid_t shell_pgrp = 0;      ///< the shell's own process group
    pid_t startup_pgrp = -1;   ///< the group the shell was started in, restored at exit
    struct sigaction inherited_sigint {};   ///< disposition of SIGINT received from the parent
    struct sigaction inherited_sigterm {};  ///< disposition of SIGTERM received from the parent
    uid_t real_uid = 0, effective_uid = 0;
    gid_t real_gid = 0, effective_gid = 0;
    CharString pid_text;     ///< the shell's process id in decimal ($$)
    CharString script_name;  ///< the script file given as argument ($0); empty when none
    bool has_script_name = false;
};
extern ShellFlags shell;

/// What the running session remembers across commands.
struct SessionState {
    pid_t last_background_pid = 0;  ///< the last command started with & ($!); 0 before any
    /// The onintr setting: none for the default handling, "-" to ignore interrupts, else a label.
    std::optional<CharString> interrupt_label;
    bool history_loading = false;     ///< lines are entered into the history list, never run
    bool source_in_progress = false;  ///< a file is being sourced

    /// True when onintr - asked that interrupts be ignored.
    bool interrupts_ignored() const {
        return interrupt_label && interrupt_label->size() == 1 && (*interrupt_label)[0] == '-';
    }
};
extern SessionState session;
