/* A slow disk for one folder, for the benchmarks only: preloaded into a program
 * (LD_PRELOAD=libslow_fsync.so), it makes fsync and fdatasync of every file or folder inside
 * $DPX20_BENCH_SLOW_FOLDER (an absolute path without links, as /proc/self/fd shows it) take
 * 10 ms longer; every other file syncs at its own pace. The program itself is not changed. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static int InSlowFolder(int fd) {
    const char* folder = getenv("DPX20_BENCH_SLOW_FOLDER");
    if (!folder || !*folder) return 0;
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n < 0) return 0;
    path[n] = '\0';
    const size_t length = strlen(folder);
    return strncmp(path, folder, length) == 0 &&
           (folder[length - 1] == '/' || path[length] == '\0' || path[length] == '/');
}

static void SlowDown(int fd) {
    if (!InSlowFolder(fd)) return;
    const struct timespec pause = {0, 10 * 1000 * 1000};
    nanosleep(&pause, NULL);
}

int fsync(int fd) {
    static int (*real)(int);
    if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    SlowDown(fd);
    return real(fd);
}

int fdatasync(int fd) {
    static int (*real)(int);
    if (!real) real = (int (*)(int))dlsym(RTLD_NEXT, "fdatasync");
    SlowDown(fd);
    return real(fd);
}
