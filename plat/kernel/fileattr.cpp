// fileattr.cpp - the attribute store of the emulated machine's files and folders, and what a resolved path's
// last name is on the host.
//
// Attributes live on the host file: read-only as missing write permission (a folder's read-only bit, which
// must not stop files being made in it, in the extended attribute below); hidden, system and archive in the
// extended attribute user.DOSATTRIB as a text such as "0x22", as Wine and the SMB server write it (a file
// without it is archive only, a folder plain). The creation time is the host's birth time of the file, or
// the time a program set, kept in user.plat.crtime (FILETIME ticks in decimal). The platform's rules on
// read-only files are enforced here, whoever runs the process: the host's permissions do not stop root.

#include "kernel/file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

// The extended-attribute calls relative to a folder descriptor (Linux 6.13, the same numbers on every
// architecture); older C libraries do not name them.
#ifndef SYS_setxattrat
#define SYS_setxattrat 463
#define SYS_getxattrat 464
#define SYS_listxattrat 465
#define SYS_removexattrat 466
#endif

namespace plat
{

static const char szDosAttrib[] = "user.DOSATTRIB";
static const char szCreationTime[] = "user.plat.crtime";

// The extended attributes, by descriptor (fd >= 0) or by place. The calls relative to a folder are used
// where the host has them (asked once: a host without them, or one that filters unknown calls, answers
// otherwise than success), else the whole path. Links are followed, as getxattr does.

struct XattrArgs { // struct xattr_args
    uint64_t nValue;
    uint32_t nSize;
    uint32_t nFlags;
};

bool XattrAtCalls()
{
    static const bool bHave = syscall(SYS_listxattrat, AT_FDCWD, "/", 0, nullptr, 0) >= 0;
    return bHave;
}

static ssize_t GetXattr(const HostAt &at, int fd, const char *pszName, char *pBuffer, size_t nSize)
{
    if (fd >= 0)
        return fgetxattr(fd, pszName, pBuffer, nSize);
    if (!XattrAtCalls())
        return getxattr(at.psHost->c_str(), pszName, pBuffer, nSize);
    XattrArgs args = {(uint64_t)(uintptr_t)pBuffer, (uint32_t)nSize, 0};
    return (ssize_t)syscall(SYS_getxattrat, at.dirfd, at.pszName, 0, pszName, &args, sizeof args);
}

static ssize_t ListXattr(const HostAt &at, char *pBuffer, size_t nSize)
{
    if (!XattrAtCalls())
        return listxattr(at.psHost->c_str(), pBuffer, nSize);
    return (ssize_t)syscall(SYS_listxattrat, at.dirfd, at.pszName, 0, pBuffer, nSize);
}

static int SetXattr(const HostAt &at, int fd, const char *pszName, const char *pszValue)
{
    size_t n = strlen(pszValue);
    if (fd >= 0)
        return fsetxattr(fd, pszName, pszValue, n, 0);
    if (!XattrAtCalls())
        return setxattr(at.psHost->c_str(), pszName, pszValue, n, 0);
    XattrArgs args = {(uint64_t)(uintptr_t)pszValue, (uint32_t)n, 0};
    return (int)syscall(SYS_setxattrat, at.dirfd, at.pszName, 0, pszName, &args, sizeof args);
}

static int RemoveXattr(const HostAt &at, int fd, const char *pszName)
{
    if (fd >= 0)
        return fremovexattr(fd, pszName);
    if (!XattrAtCalls())
        return removexattr(at.psHost->c_str(), pszName);
    return (int)syscall(SYS_removexattrat, at.dirfd, at.pszName, 0, pszName);
}

static int nXattrFailure; // FailXattrWrites

void FailXattrWrites(int nErrno)
{
    nXattrFailure = nErrno;
}

// Sets (pszValue non-null) or removes an extended attribute: 0, or the errno of the failure. Where the host
// demands write permission for it (a read-only file, as anyone but root) the permission is lent for the
// moment.
static int PutXattr(const HostAt &at, int fd, const char *pszName, const char *pszValue)
{
    auto Put = [&]() -> int {
        if (nXattrFailure != 0) {
            errno = nXattrFailure;
            return -1;
        }
        if (pszValue != nullptr)
            return SetXattr(at, fd, pszName, pszValue);
        int r = RemoveXattr(at, fd, pszName);
        return r != 0 && errno == ENODATA ? 0 : r;
    };
    if (Put() == 0)
        return 0;
    int nErrno = errno;
    if (nErrno != EACCES)
        return nErrno;
    struct stat st;
    if ((fd >= 0 ? fstat(fd, &st) : host::fstatat(at.dirfd, at.pszName, &st, 0)) != 0)
        return nErrno;
    mode_t nMode = st.st_mode & 07777;
    if ((fd >= 0 ? fchmod(fd, nMode | S_IWUSR) : fchmodat(at.dirfd, at.pszName, nMode | S_IWUSR, 0)) != 0)
        return nErrno;
    int r = Put();
    nErrno = r == 0 ? 0 : errno;
    if (fd >= 0)
        fchmod(fd, nMode);
    else
        fchmodat(at.dirfd, at.pszName, nMode, 0);
    return nErrno;
}

// Reads the DOS bits from the text of user.DOSATTRIB; false when it is not one.
static bool ParseDosBits(char *sz, ssize_t n, DWORD *pdwBits)
{
    if (n < 3)
        return false;
    sz[n] = '\0';
    if (sz[0] != '0' || (sz[1] != 'x' && sz[1] != 'X'))
        return false;
    char *pszEnd = nullptr;
    unsigned long v = strtoul(sz + 2, &pszEnd, 16);
    if (pszEnd == sz + 2)
        return false;
    *pdwBits = (DWORD)v;
    return true;
}

// Reads a creation time from the text of user.plat.crtime; false when it is not one.
static bool ParseCreationTime(char *sz, ssize_t n, int64_t *pnTicks)
{
    if (n <= 0)
        return false;
    sz[n] = '\0';
    char *pszEnd = nullptr;
    long long v = strtoll(sz, &pszEnd, 10);
    if (pszEnd == sz || *pszEnd != '\0')
        return false;
    *pnTicks = v;
    return true;
}

// The DOS bits stored for a file, or false when none are stored.
static bool ReadDosBits(const HostAt &at, int fd, DWORD *pdwBits)
{
    char sz[64];
    return ParseDosBits(sz, GetXattr(at, fd, szDosAttrib, sz, sizeof sz - 1), pdwBits);
}

void ReadStoredValues(const HostAt &at, StoredValues *pValues)
{
    char szList[512];
    bool bDos = true, bCreation = true; // without a list, both are asked for
    ssize_t nList = ListXattr(at, szList, sizeof szList);
    if (nList >= 0) {
        bDos = bCreation = false;
        for (ssize_t i = 0; i < nList; i += (ssize_t)strlen(szList + i) + 1) {
            bDos = bDos || strcmp(szList + i, szDosAttrib) == 0;
            bCreation = bCreation || strcmp(szList + i, szCreationTime) == 0;
        }
    } else if (errno != ERANGE) {
        return; // none kept here (a file system without them, or the entry is gone)
    }
    char sz[64], szTime[32];
    if (bDos)
        pValues->bDosBits =
            ParseDosBits(sz, GetXattr(at, -1, szDosAttrib, sz, sizeof sz - 1), &pValues->dwDosBits);
    if (bCreation)
        pValues->bCreationTime = ParseCreationTime(
            szTime, GetXattr(at, -1, szCreationTime, szTime, sizeof szTime - 1), &pValues->nCreationTime);
}

// Stores an entry's DOS bits: ERROR_SUCCESS, or the platform's error when they could not be stored and do not
// read back as asked anyway. An entry without stored bits reads as archive only (a file) or plain (a
// folder), so asking for exactly that needs nothing stored: it succeeds on a file system without extended
// attributes too.
DWORD WriteDosBits(const HostAt &at, int fd, bool bDir, DWORD dwBits)
{
    DWORD dwMask = bDir ? SETTABLE_BITS : DOS_BITS;
    DWORD dwDefault = bDir ? 0 : FILE_ATTRIBUTE_ARCHIVE;
    int nErrno;
    dwBits &= dwMask;
    if (dwBits == dwDefault) {
        nErrno = PutXattr(at, fd, szDosAttrib, nullptr);
    } else {
        char sz[16];
        snprintf(sz, sizeof sz, "0x%x", (unsigned)dwBits);
        nErrno = PutXattr(at, fd, szDosAttrib, sz);
    }
    if (nErrno == 0)
        return ERROR_SUCCESS;
    DWORD dwStored = 0;
    DWORD dwNow = ReadDosBits(at, fd, &dwStored) ? dwStored & dwMask : dwDefault;
    return dwNow == dwBits ? ERROR_SUCCESS : ErrorFromErrno(nErrno);
}

// The attributes of an entry that is not a link, from its host mode and its stored DOS bits (bStored false
// when none are stored).
DWORD AttributesFromBits(mode_t nMode, bool bStored, DWORD dwBits)
{
    bool bDir = S_ISDIR(nMode);
    if (!bStored)
        dwBits = bDir ? 0 : FILE_ATTRIBUTE_ARCHIVE;
    DWORD dw = dwBits & (bDir ? SETTABLE_BITS : DOS_BITS);
    if (bDir)
        dw |= FILE_ATTRIBUTE_DIRECTORY;
    else if (!(nMode & (S_IWUSR | S_IWGRP | S_IWOTH)))
        dw |= FILE_ATTRIBUTE_READONLY;
    return dw != 0 ? dw : FILE_ATTRIBUTE_NORMAL;
}

// The attributes of a link: a reparse point, a folder when it points to one.
DWORD LinkAttributes(const HostAt &at)
{
    struct stat st;
    bool bDir = host::fstatat(at.dirfd, at.pszName, &st, 0) == 0 && S_ISDIR(st.st_mode);
    return FILE_ATTRIBUTE_REPARSE_POINT | (bDir ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
}

// The attributes of a host entry from its lstat.
DWORD AttributesOf(const HostAt &at, const struct stat &lst)
{
    if (S_ISLNK(lst.st_mode))
        return LinkAttributes(at);
    DWORD dwBits = 0;
    bool bStored = ReadDosBits(at, -1, &dwBits);
    return AttributesFromBits(lst.st_mode, bStored, dwBits);
}

// Whether an entry (not a link) is read-only. A file's read-only bit is its missing write permission, so
// only a folder's needs its stored bits.
bool IsReadOnly(const HostAt &at, const struct stat &lst)
{
    DWORD dw = S_ISDIR(lst.st_mode) ? AttributesOf(at, lst) : AttributesFromBits(lst.st_mode, false, 0);
    return (dw & FILE_ATTRIBUTE_READONLY) != 0;
}

FILETIME CreationTimeOf(const HostAt &at, int fd, const struct stat &st)
{
    char sz[32];
    int64_t nTicks;
    if (ParseCreationTime(sz, GetXattr(at, fd, szCreationTime, sz, sizeof sz - 1), &nTicks))
        return FileTimeFromTicks(nTicks);
    struct statx stx;
    int r = fd >= 0 ? statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &stx)
                    : statx(at.dirfd, at.pszName, AT_SYMLINK_NOFOLLOW, STATX_BTIME, &stx);
    if (r == 0 && (stx.stx_mask & STATX_BTIME))
        return FileTimeFromStatx(stx.stx_btime);
    return FileTimeFromTimespec(st.st_mtim);
}

// Keeps a creation time a program sets: ERROR_SUCCESS, or the platform's error when it could not be stored
// and does not read back as asked anyway (the birth time may be just that).
DWORD SetCreationTime(const HostAt &at, int fd, const struct stat &st, const FILETIME &ft)
{
    char sz[32];
    snprintf(sz, sizeof sz, "%lld", (long long)TicksFromFileTime(ft));
    int nErrno = PutXattr(at, fd, szCreationTime, sz);
    if (nErrno == 0)
        return ERROR_SUCCESS;
    return TicksFromFileTime(CreationTimeOf(at, fd, st)) == TicksFromFileTime(ft) ? ERROR_SUCCESS
                                                                                  : ErrorFromErrno(nErrno);
}

// Makes a file read-only (no write permission for anyone) or writable again (write permission for the owner,
// and for the group and others where they may read, within the umask). ERROR_SUCCESS, or the platform's
// error when the host refuses. pst, when given, is the file's stat (links followed), taken just before.
DWORD SetReadOnlyMode(const HostAt &at, int fd, bool bReadOnly, const struct stat *pst)
{
    struct stat st;
    if (pst != nullptr)
        st = *pst;
    else if ((fd >= 0 ? fstat(fd, &st) : host::fstatat(at.dirfd, at.pszName, &st, 0)) != 0)
        return ErrorFromErrno(errno);
    mode_t nMode = st.st_mode & 07777, nNew;
    if (bReadOnly) {
        nNew = nMode & ~(mode_t)0222;
    } else {
        if (nMode & (S_IWUSR | S_IWGRP | S_IWOTH))
            return ERROR_SUCCESS;
        mode_t nMask = umask(0);
        umask(nMask);
        nNew = nMode | ((S_IWUSR | ((nMode & 044) >> 1)) & ~nMask);
    }
    if (nNew != nMode && (fd >= 0 ? fchmod(fd, nNew) : fchmodat(at.dirfd, at.pszName, nNew, 0)) != 0)
        return ErrorFromErrno(errno);
    return ERROR_SUCCESS;
}

// The lstat of a resolved path's last name: the one taken while it was looked up, or a new one. False when it
// is not there.
bool LstatOf(const ResolvedPath &path, struct stat *pst)
{
    if (!path.bFound)
        return false;
    if (path.bStat) {
        *pst = path.lst;
        return true;
    }
    HostAt at = At(path);
    return host::fstatat(at.dirfd, at.pszName, pst, AT_SYMLINK_NOFOLLOW) == 0;
}

// The same with a link followed to what it points to.
bool StatOf(const ResolvedPath &path, struct stat *pst)
{
    if (!path.bFound)
        return false;
    if (path.bStat && !S_ISLNK(path.lst.st_mode)) {
        *pst = path.lst;
        return true;
    }
    HostAt at = At(path);
    return host::fstatat(at.dirfd, at.pszName, pst, 0) == 0;
}

// Whether the resolved path's last name names a directory (links followed).
bool IsDirectory(const HostAt &at)
{
    struct stat st;
    return host::fstatat(at.dirfd, at.pszName, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

} // namespace plat
