/* The floor of running programs: N times posix_spawn of /bin/true and a wait, no shell. */
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

extern char** environ;

int main(int argc, char** argv) {
    int n = argc > 1 ? atoi(argv[1]) : 2000;
    char* args[] = {"/bin/true", NULL};
    for (int i = 0; i < n; ++i) {
        pid_t pid;
        if (posix_spawn(&pid, "/bin/true", NULL, NULL, args, environ) != 0) return 1;
        int status;
        waitpid(pid, &status, 0);
    }
    printf("%d\n", n);
    return 0;
}
