/* Preloaded into the lock test's helper processes: every look-up of the firmware tool lock's file
 * by name (stat and friends, access) answers only 300 ms later, so the answer is stale by then. A lock that first looks whether the file exists
 * and then creates it would let every process through in that gap; a lock taken in one
 * create-if-absent step is not affected. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static const char lockPath[] = "/var/lock/BiosHandler.lck";

static void slow(const char *path)
{
    if (path && strcmp(path, lockPath) == 0) {
        struct timespec t = {0, 300 * 1000 * 1000};
        nanosleep(&t, NULL);
    }
}

#define FORWARD(ret, name, params, args, path)                    \
    ret name params                                               \
    {                                                             \
        static ret(*real) params;                                 \
        if (!real)                                                \
            real = (ret(*) params)dlsym(RTLD_NEXT, #name);        \
        ret result = real args;                                   \
        slow(path);                                               \
        return result;                                            \
    }

struct statx;
FORWARD(int, stat, (const char *p, struct stat *b), (p, b), p)
FORWARD(int, stat64, (const char *p, struct stat64 *b), (p, b), p)
FORWARD(int, lstat, (const char *p, struct stat *b), (p, b), p)
FORWARD(int, lstat64, (const char *p, struct stat64 *b), (p, b), p)
FORWARD(int, fstatat, (int d, const char *p, struct stat *b, int f), (d, p, b, f), p)
FORWARD(int, fstatat64, (int d, const char *p, struct stat64 *b, int f), (d, p, b, f), p)
FORWARD(int, statx, (int d, const char *p, int f, unsigned m, struct statx *b), (d, p, f, m, b), p)
FORWARD(int, access, (const char *p, int m), (p, m), p)
FORWARD(int, faccessat, (int d, const char *p, int m, int f), (d, p, m, f), p)
