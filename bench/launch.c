/* Runs a command RUNS times, one after another, and reports each run on its own output as
   "wall-seconds cpu-seconds peak-KiB status". The command's output goes to OUT (truncated for
   each run), its diagnostics to /dev/null, its input comes from IN (-i) or /dev/null. Forking from this small program, rather
   than from the driver, keeps the driver's memory out of the children's peak. */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
    const char* input = "/dev/null";
    if (argc > 2 && strcmp(argv[1], "-i") == 0) {
        input = argv[2];
        argv += 2;
        argc -= 2;
    }
    if (argc < 4) {
        fprintf(stderr, "usage: launch [-i IN] RUNS OUT command...\n");
        return 2;
    }
    int runs = atoi(argv[1]);
    for (int i = 0; i < runs; ++i) {
        struct timespec a, b;
        clock_gettime(CLOCK_MONOTONIC, &a);
        pid_t pid = fork();
        if (pid == 0) {
            int in = open(input, O_RDONLY);
            int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = open("/dev/null", O_WRONLY);
            dup2(in, 0);
            dup2(out, 1);
            dup2(err, 2);
            execv(argv[3], argv + 3);
            _exit(127);
        }
        int status;
        struct rusage ru;
        wait4(pid, &status, 0, &ru);
        clock_gettime(CLOCK_MONOTONIC, &b);
        double wall = (b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) / 1e9;
        double cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
                     ru.ru_stime.tv_usec / 1e6;
        printf("%.6f %.6f %ld %d\n", wall, cpu, ru.ru_maxrss,
               WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    }
    return 0;
}
