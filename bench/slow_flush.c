// A disk made slow for the benchmark: every flush of file data waits 10 ms before it happens, as
// on a laptop busy syncing or a network share. Loaded with LD_PRELOAD; nothing else changes.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

static void wait_10ms(void)
{
    struct timespec t = {0, 10 * 1000 * 1000};
    while (nanosleep(&t, &t) != 0) {
    }
}

int fsync(int fd)
{
    static int (*real)(int);
    if (!real)
        real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    wait_10ms();
    return real(fd);
}

int fdatasync(int fd)
{
    static int (*real)(int);
    if (!real)
        real = (int (*)(int))dlsym(RTLD_NEXT, "fdatasync");
    wait_10ms();
    return real(fd);
}
