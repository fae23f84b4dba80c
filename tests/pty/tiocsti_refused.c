/* tiocsti_refused: preloaded into a program, makes the terminal refuse to take characters back
   (ioctl TIOCSTI fails with EIO), as a kernel without legacy TIOCSTI does for a user without
   CAP_SYS_ADMIN. The tests run as root, which such a kernel still lets through. Every other
   request goes to the C library. */

#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>

int ioctl(int fd, unsigned long request, ...) {
    static int (*next_ioctl)(int, unsigned long, ...);
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    if (request == TIOCSTI) {
        errno = EIO;
        return -1;
    }
    if (!next_ioctl) next_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    return next_ioctl(fd, request, arg);
}
