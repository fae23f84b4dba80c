#include "lifecycle/interrupts.h"

#include <pwd.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "builtins/control_flow.h"
#include "core/descriptors.h"
#include "core/errors.h"
#include "core/shell.h"
#include "core/signal_mask.h"
#include "core/signals.h"
#include "input/history.h"
#include "jobs/job_control.h"
#include "jobs/process_table.h"

void interrupt_action(bool want_newline) {
    sigset_t mask;
    mask_change(SIG_BLOCK, nullptr, &mask);
    if (shell.handle_interrupts) unblock_signal(SIGINT);
    if (waiting_builtin) {
        waiting_builtin = 0;
        std::fputc('\n', output_stream);
        run_jobs_listing(false);
        errors.error_name = "wait";
        error_raise(ERR_INTERRUPTED | ERRF_NAME);
    }
    sigdelset(&mask, SIGCHLD);
    mask_change(SIG_SETMASK, &mask, nullptr);
    __fpurge(output_stream);
    endpwent();
    if (session.interrupt_label && !session.interrupts_ignored()) {
        // onintr label: the command loop goes on reading after the label, without an error.
        goto_label(*session.interrupt_label);
        unwind();
    }
    if (want_newline && shell.interactive) {
        std::fputs("\r\n", output_stream);
        std::fflush(output_stream);
    }
    error_raise(ERRF_SILENT);
}

void hangup_action(int sig) {
    // The hang-up signals are held and their record cleared while the history is saved, so
    // that none brings the shell back here.
    sigset_t hangups;
    sigemptyset(&hangups);
    for (int s : {SIGHUP, SIGXCPU, SIGXFSZ}) sigaddset(&hangups, s);
    mask_change(SIG_BLOCK, &hangups, nullptr);
    signal_records.hangup = 0;
    // Whatever unwinds out of the save, the hang-up goes on to its end.
    try {
        save_history();
    } catch (...) {
    }
    // Each job running in the foreground outside the shell's own group gets the hang-up, and
    // a SIGCONT so that it acts on it. A forgotten entry (pid 0) is skipped: its group may
    // belong to another process by now.
    for (ProcessEntry& e : jobs.process_table) {
        ProcessEntry* q = &e;
        do {
            if (q->pid != 0 && (q->status_flags & PROC_FOREGROUND) &&
                q->leader_pid != shell.shell_pgrp && killpg(q->leader_pid, SIGHUP) == 0) {
                killpg(q->leader_pid, SIGCONT);
                break;
            }
            q = q->job_next;
        } while (q != &e);
    }
    // Nothing more is written or flushed, and the terminal is not handed back.
    _exit(sig);
}
