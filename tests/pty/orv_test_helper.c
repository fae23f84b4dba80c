/* orv_test_helper: reports what a child got from the shell that started it.

   One key=value line each: pid, ppid, pgrp, sid, tpgrp, foreground, blocked, ignored, fds,
   cloexec, isatty0, isatty1, isatty2.

   Options: -w SECONDS  sleep after reporting (job-control tests)
            -k SIGNAME  then kill itself with that signal (INT, TERM, ...)
            -x STATUS   then exit with STATUS
            -o FILE     write the report to FILE instead of stdout

   Deliberately standalone: it shares no code with the shell it checks. */

#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

enum { MAX_FD = 1024, REPORT_SIZE = 16384 };

static char report[REPORT_SIZE];
static size_t report_len;

/* Appends to the report; everything is gathered before any descriptor is opened for output. */
static void add(const char* format, ...) __attribute__((format(printf, 1, 2)));
static void add(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(report + report_len, sizeof report - report_len, format, ap);
    va_end(ap);
    if (n > 0) report_len += (size_t)n;
    if (report_len >= sizeof report) report_len = sizeof report - 1; /* truncated, never overrun */
}

/* Ends a comma list of `count` items: an empty list reads "none". */
static void add_list_end(int count) {
    add("%s\n", count ? "" : "none");
}

static void add_signal_name(int sig) {
    const char* name = sigabbrev_np(sig);
    if (name)
        add("%s", name);
    else if (sig >= SIGRTMIN && sig <= SIGRTMAX)
        add("RTMIN+%d", sig - SIGRTMIN);
    else
        add("%d", sig);
}

static void add_signals(const char* key, int (*has)(int, const sigset_t*), const sigset_t* set) {
    int count = 0;
    add("%s=", key);
    for (int sig = 1; sig < NSIG; sig++) {
        if (!has(sig, set)) continue;
        if (count++) add(",");
        add_signal_name(sig);
    }
    add_list_end(count);
}

static int is_blocked(int sig, const sigset_t* mask) {
    return sigismember(mask, sig) == 1;
}

static int is_ignored(int sig, const sigset_t* unused) {
    (void)unused;
    struct sigaction sa;
    return sigaction(sig, NULL, &sa) == 0 && !(sa.sa_flags & SA_SIGINFO) &&
           sa.sa_handler == SIG_IGN;
}

/* Lists open descriptors; with only_cloexec, those marked close-on-exec. */
static void add_fds(const char* key, int only_cloexec) {
    int count = 0;
    add("%s=", key);
    for (int fd = 0; fd < MAX_FD; fd++) {
        int flags = fcntl(fd, F_GETFD);
        if (flags == -1 || (only_cloexec && !(flags & FD_CLOEXEC))) continue;
        add("%s%d", count++ ? "," : "", fd);
    }
    add_list_end(count);
}

static void gather(void) {
    pid_t pgrp = getpgrp();
    pid_t tpgrp = isatty(0) ? tcgetpgrp(0) : -1;
    sigset_t mask;
    sigprocmask(SIG_BLOCK, NULL, &mask);

    add("pid=%ld\nppid=%ld\npgrp=%ld\nsid=%ld\n", (long)getpid(), (long)getppid(), (long)pgrp,
        (long)getsid(0));
    add("tpgrp=%ld\nforeground=%s\n", (long)tpgrp, tpgrp == pgrp ? "yes" : "no");
    add_signals("blocked", is_blocked, &mask);
    add_signals("ignored", is_ignored, NULL);
    add_fds("fds", 0);
    add_fds("cloexec", 1);
    for (int fd = 0; fd <= 2; fd++) add("isatty%d=%s\n", fd, isatty(fd) ? "yes" : "no");
}

static int signal_by_name(const char* name) {
    if (strncmp(name, "SIG", 3) == 0) name += 3;
    for (int sig = 1; sig < NSIG; sig++) {
        const char* abbrev = sigabbrev_np(sig);
        if (abbrev && strcmp(abbrev, name) == 0) return sig;
    }
    char* end;
    long number = strtol(name, &end, 10);
    return *name && !*end && number > 0 && number < NSIG ? (int)number : 0;
}

/* Sleeps the whole time even when a stop and continue interrupt it. */
static void sleep_for(double seconds) {
    struct timespec left = {(time_t)seconds, (long)((seconds - (double)(time_t)seconds) * 1e9)};
    while (nanosleep(&left, &left) == -1 && errno == EINTR) {
    }
}

static int usage(void) {
    fputs("usage: orv_test_helper [-w SECONDS] [-k SIGNAME] [-x STATUS] [-o FILE]\n", stderr);
    return 2;
}

int main(int argc, char** argv) {
    double wait_seconds = 0;
    int kill_signal = 0, exit_status = 0;
    const char* output = NULL;
    int opt;
    while ((opt = getopt(argc, argv, "w:k:x:o:")) != -1) {
        switch (opt) {
            case 'w':
                wait_seconds = atof(optarg);
                break;
            case 'k':
                kill_signal = signal_by_name(optarg);
                if (!kill_signal) return usage();
                break;
            case 'x':
                exit_status = atoi(optarg);
                break;
            case 'o':
                output = optarg;
                break;
            default:
                return usage();
        }
    }
    if (optind != argc) return usage();

    gather(); /* before -o opens a descriptor of its own */

    int fd = 1;
    if (output) {
        fd = open(output, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd == -1) {
            perror(output);
            return 2;
        }
    }
    for (size_t done = 0; done < report_len;) {
        ssize_t n = write(fd, report + done, report_len - done);
        if (n == -1 && errno == EINTR) continue;
        if (n <= 0) {
            perror("orv_test_helper: write");
            return 2;
        }
        done += (size_t)n;
    }
    if (output) close(fd);

    if (wait_seconds > 0) sleep_for(wait_seconds);
    if (kill_signal) {
        /* Default action and unblocked, so the signal does what its name says. */
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, kill_signal);
        signal(kill_signal, SIG_DFL);
        sigprocmask(SIG_UNBLOCK, &set, NULL);
        raise(kill_signal);
    }
    return exit_status;
}
