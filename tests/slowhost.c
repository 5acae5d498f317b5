/* slowhost.c - a shim for the host's C library, loaded into Wine by LD_PRELOAD (responsive-wine.sh), that
 * makes a medium slow without changing what it gives:
 *   SLOWHOST_READ=NAME:MS  each read of a file whose path ends with NAME (case ignored) first waits MS ms;
 *   SLOWHOST_STAT=PART:MS  each look at a path that contains PART (stat and its kin) first waits MS ms.
 * Built by the test for the host: cc -shared -fPIC -o slowhost.so slowhost.c -ldl */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

/* The part of the variable before the last ':' into szPart; the milliseconds after it; 0 when not set. */
static long Setting(const char *pszName, char *szPart, size_t nSize)
{
    const char *psz = getenv(pszName);
    const char *pszColon = psz != NULL ? strrchr(psz, ':') : NULL;
    if (pszColon == NULL || (size_t)(pszColon - psz) >= nSize)
        return 0;
    memcpy(szPart, psz, (size_t)(pszColon - psz));
    szPart[pszColon - psz] = '\0';
    return atol(pszColon + 1);
}

static void Wait(long nMs)
{
    struct timespec ts = {nMs / 1000, (nMs % 1000) * 1000000L};
    nanosleep(&ts, NULL);
}

static void SlowRead(int fd)
{
    char szName[256], szLink[64], szPath[4096];
    long nMs = Setting("SLOWHOST_READ", szName, sizeof szName);
    if (nMs <= 0)
        return;
    snprintf(szLink, sizeof szLink, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(szLink, szPath, sizeof szPath - 1);
    size_t nName = strlen(szName);
    if (n <= 0 || (size_t)n < nName)
        return;
    szPath[n] = '\0';
    if (strcasecmp(szPath + n - nName, szName) == 0)
        Wait(nMs);
}

static void SlowStat(const char *pszPath)
{
    char szPart[256];
    long nMs = Setting("SLOWHOST_STAT", szPart, sizeof szPart);
    if (nMs > 0 && pszPath != NULL && strstr(pszPath, szPart) != NULL)
        Wait(nMs);
}

/* The library's own function of that name, found once. */
#define REAL(name)                                                                                         \
    static __typeof__(&name) pReal_##name;                                                                 \
    if (pReal_##name == NULL)                                                                              \
    pReal_##name = (__typeof__(&name))dlsym(RTLD_NEXT, #name)

ssize_t read(int fd, void *p, size_t n)
{
    REAL(read);
    SlowRead(fd);
    return pReal_read(fd, p, n);
}

ssize_t pread(int fd, void *p, size_t n, off_t o)
{
    REAL(pread);
    SlowRead(fd);
    return pReal_pread(fd, p, n, o);
}

ssize_t pread64(int fd, void *p, size_t n, off64_t o)
{
    REAL(pread64);
    SlowRead(fd);
    return pReal_pread64(fd, p, n, o);
}

int stat(const char *psz, struct stat *p)
{
    REAL(stat);
    SlowStat(psz);
    return pReal_stat(psz, p);
}

int lstat(const char *psz, struct stat *p)
{
    REAL(lstat);
    SlowStat(psz);
    return pReal_lstat(psz, p);
}

int stat64(const char *psz, struct stat64 *p)
{
    REAL(stat64);
    SlowStat(psz);
    return pReal_stat64(psz, p);
}

int lstat64(const char *psz, struct stat64 *p)
{
    REAL(lstat64);
    SlowStat(psz);
    return pReal_lstat64(psz, p);
}

int fstatat(int fd, const char *psz, struct stat *p, int n)
{
    REAL(fstatat);
    SlowStat(psz);
    return pReal_fstatat(fd, psz, p, n);
}

int fstatat64(int fd, const char *psz, struct stat64 *p, int n)
{
    REAL(fstatat64);
    SlowStat(psz);
    return pReal_fstatat64(fd, psz, p, n);
}
