#include "core/signal_mask.h"
#include "lifecycle/interrupts.h"

#include <pwd.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "builtins/control_flow.h"
#include "core/descriptors.h"
#include "core/errors.h"
#include "core/recovery_steps.h"
#include "core/shell.h"
#include "jobs/job_control.h"
#include "lifecycle/signals.h"

std::optional<CharString> interrupt_label;

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
    if (interrupt_label && !(interrupt_label->size() == 1 && (*interrupt_label)[0] == '-')) {
        // onintr label: the command loop goes on reading after the label, without an error.
        goto_label(*interrupt_label);
        discard_expansion_vectors();
        unwind();
    }
    if (want_newline && shell.interactive) {
        std::fputs("\r\n", output_stream);
        std::fflush(output_stream);
    }
    error_raise(ERRF_SILENT);
}

void hangup_action(int sig) {
    std::fflush(output_stream);
    std::fflush(diagnostic_stream);
    _exit(sig);
}
