// file.cpp - files and folders of the emulated machine for the Linux build: opening with the platform's
// access, sharing and dispositions, reading and writing, attributes and times, copying, moving and deleting,
// folders, the file search, and the conversions between file times and calendar times.
//
// Attributes live on the host file: read-only as missing write permission (a folder's read-only bit, which
// must not stop files being made in it, in the extended attribute below); hidden, system and archive in the
// extended attribute user.DOSATTRIB as a text such as "0x22", as Wine and the SMB server write it (a file
// without it is archive only, a folder plain). The creation time is the host's birth time of the file, or
// the time a program set, kept in user.plat.crtime (FILETIME ticks in decimal). The platform's rules on
// read-only files are enforced here, whoever runs the process: the host's permissions do not stop root.

#include "kernel/kernel.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <mutex>

// The extended-attribute calls relative to a folder descriptor (Linux 6.13, the same numbers on every
// architecture); older C libraries do not name them.
#ifndef SYS_setxattrat
#define SYS_setxattrat 463
#define SYS_getxattrat 464
#define SYS_listxattrat 465
#define SYS_removexattrat 466
#endif

namespace plat {

static const char szDosAttrib[] = "user.DOSATTRIB";
static const char szCreationTime[] = "user.plat.crtime";

// The attribute bits kept in user.DOSATTRIB: hidden, system, archive, and for folders read-only.
static const DWORD DOS_BITS = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
static const DWORD SETTABLE_BITS = FILE_ATTRIBUTE_READONLY | DOS_BITS;

// Ticks (100 ns) from 1601-01-01 to 1970-01-01.
static const int64_t EPOCH_DIFF = 116444736000000000LL;

// What a handle may do, from its access mask.
enum { ACC_READ = 1, ACC_WRITE = 2, ACC_DELETE = 4, ACC_ATTRIBUTES = 8 };

static unsigned AccessBits(DWORD dwAccess)
{
    unsigned n = 0;
    if (dwAccess & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA | FILE_EXECUTE | GENERIC_EXECUTE))
        n |= ACC_READ;
    if (dwAccess & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA))
        n |= ACC_WRITE;
    if (dwAccess & (DELETE | GENERIC_ALL))
        n |= ACC_DELETE;
    if (dwAccess & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_ATTRIBUTES))
        n |= ACC_ATTRIBUTES;
    return n;
}

// Times.

static FILETIME FileTimeFromTicks(int64_t n)
{
    FILETIME ft;
    ft.dwLowDateTime = (DWORD)((uint64_t)n & 0xFFFFFFFFu);
    ft.dwHighDateTime = (DWORD)((uint64_t)n >> 32);
    return ft;
}

static int64_t TicksFromFileTime(const FILETIME &ft)
{
    return (int64_t)(((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime);
}

static FILETIME FileTimeFromTimespec(const struct timespec &ts)
{
    return FileTimeFromTicks((int64_t)ts.tv_sec * 10000000 + ts.tv_nsec / 100 + EPOCH_DIFF);
}

static FILETIME FileTimeFromStatx(const struct statx_timestamp &t)
{
    struct timespec ts = {(time_t)t.tv_sec, (long)t.tv_nsec};
    return FileTimeFromTimespec(ts);
}

// From the unsigned count, so that every time (up to all bits set) converts without an overflow; the epoch
// difference is a whole number of seconds.
static struct timespec TimespecFromFileTime(const FILETIME &ft)
{
    uint64_t n = ((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
    struct timespec ts;
    ts.tv_sec = (time_t)((int64_t)(n / 10000000) - EPOCH_DIFF / 10000000);
    ts.tv_nsec = (long)(n % 10000000 * 100);
    return ts;
}

// A time argument that leaves the file's time as it is: none, zero, or all bits set.
static bool KeepsTime(const FILETIME *pft)
{
    return pft == nullptr || (pft->dwLowDateTime == 0 && pft->dwHighDateTime == 0) ||
           (pft->dwLowDateTime == 0xFFFFFFFFu && pft->dwHighDateTime == 0xFFFFFFFFu);
}

// Where a host entry is, for the calls made on it: a name in an open folder (dirfd), or, with dirfd
// AT_FDCWD, the whole host path. psHost is the whole host path either way.
struct HostAt {
    int dirfd;
    const char *pszName;
    const std::string *psHost;
};

static HostAt AtPath(const std::string &sHost)
{
    return HostAt{AT_FDCWD, sHost.c_str(), &sHost};
}

// A resolved path's last name: in its folder when that is held open, else by the whole host path.
static HostAt At(const ResolvedPath &path)
{
    if (path.pDir != nullptr)
        return HostAt{path.pDir->fd, path.sLeaf.c_str(), &path.sHost};
    return AtPath(path.sHost);
}

// The extended attributes, by descriptor (fd >= 0) or by place. The calls relative to a folder are used
// where the host has them (asked once: a host without them, or one that filters unknown calls, answers
// otherwise than success), else the whole path. Links are followed, as getxattr does.

struct XattrArgs { // struct xattr_args
    uint64_t nValue;
    uint32_t nSize;
    uint32_t nFlags;
};

static bool XattrAtCalls()
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
    if ((fd >= 0 ? fstat(fd, &st) : fstatat(at.dirfd, at.pszName, &st, 0)) != 0)
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

// What an entry keeps in extended attributes: its DOS bits and the creation time a program set, each when
// stored. One listxattr tells which are there, so that an entry with none, the usual case, costs one call.
struct StoredValues {
    bool bDosBits = false;
    DWORD dwDosBits = 0;
    bool bCreationTime = false;
    int64_t nCreationTime = 0;
};

static void ReadStoredValues(const HostAt &at, StoredValues *pValues)
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
        pValues->bCreationTime =
            ParseCreationTime(szTime, GetXattr(at, -1, szCreationTime, szTime, sizeof szTime - 1),
                              &pValues->nCreationTime);
}

// Stores an entry's DOS bits: ERROR_SUCCESS, or the platform's error when they could not be stored and do not
// read back as asked anyway. An entry without stored bits reads as archive only (a file) or plain (a
// folder), so asking for exactly that needs nothing stored: it succeeds on a file system without extended
// attributes too.
static DWORD WriteDosBits(const HostAt &at, int fd, bool bDir, DWORD dwBits)
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
static DWORD AttributesFromBits(mode_t nMode, bool bStored, DWORD dwBits)
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
static DWORD LinkAttributes(const HostAt &at)
{
    struct stat st;
    bool bDir = fstatat(at.dirfd, at.pszName, &st, 0) == 0 && S_ISDIR(st.st_mode);
    return FILE_ATTRIBUTE_REPARSE_POINT | (bDir ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
}

// The attributes of a host entry from its lstat.
static DWORD AttributesOf(const HostAt &at, const struct stat &lst)
{
    if (S_ISLNK(lst.st_mode))
        return LinkAttributes(at);
    DWORD dwBits = 0;
    bool bStored = ReadDosBits(at, -1, &dwBits);
    return AttributesFromBits(lst.st_mode, bStored, dwBits);
}

// Whether an entry (not a link) is read-only. A file's read-only bit is its missing write permission, so
// only a folder's needs its stored bits.
static bool IsReadOnly(const HostAt &at, const struct stat &lst)
{
    DWORD dw = S_ISDIR(lst.st_mode) ? AttributesOf(at, lst) : AttributesFromBits(lst.st_mode, false, 0);
    return (dw & FILE_ATTRIBUTE_READONLY) != 0;
}

static FILETIME CreationTimeOf(const HostAt &at, int fd, const struct stat &st)
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
static DWORD SetCreationTime(const HostAt &at, int fd, const struct stat &st, const FILETIME &ft)
{
    char sz[32];
    snprintf(sz, sizeof sz, "%lld", (long long)TicksFromFileTime(ft));
    int nErrno = PutXattr(at, fd, szCreationTime, sz);
    if (nErrno == 0)
        return ERROR_SUCCESS;
    return TicksFromFileTime(CreationTimeOf(at, fd, st)) == TicksFromFileTime(ft) ? ERROR_SUCCESS
                                                                                     : ErrorFromErrno(nErrno);
}

// Whether a time the host keeps is the one that was set, within nSlack nanoseconds (the host file system's
// resolution): a file system clamps times it cannot hold (before 1901 or after 2446 on ext4, for one).
static bool TimeKept(const struct timespec &tsKept, const struct timespec &tsSet, int64_t nSlack)
{
    __int128 n = ((__int128)tsKept.tv_sec - tsSet.tv_sec) * 1000000000 + (tsKept.tv_nsec - tsSet.tv_nsec);
    return n <= nSlack && n >= -nSlack;
}

// Makes a file read-only (no write permission for anyone) or writable again (write permission for the owner,
// and for the group and others where they may read, within the umask). ERROR_SUCCESS, or the platform's
// error when the host refuses. pst, when given, is the file's stat (links followed), taken just before.
static DWORD SetReadOnlyMode(const HostAt &at, int fd, bool bReadOnly, const struct stat *pst = nullptr)
{
    struct stat st;
    if (pst != nullptr)
        st = *pst;
    else if ((fd >= 0 ? fstat(fd, &st) : fstatat(at.dirfd, at.pszName, &st, 0)) != 0)
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

// Open files, by host identity, for the sharing rules between the handles of this process.

struct FileObject;
typedef std::pair<dev_t, ino_t> FileId;

static std::mutex mxOpen;
static std::multimap<FileId, FileObject *> mapOpen;
static std::map<FileId, std::string> mapDeletePending; // to delete when its last handle closes

struct FileObject : KernelObject {
    int fd = -1;
    DWORD dwType = FILE_TYPE_DISK;
    bool bDir = false;
    bool bDeleteOnClose = false;
    unsigned nAccess = 0;
    DWORD dwShare = 0;
    FileId id;
    std::string sHost, sWin;

    DWORD FileType() const override
    {
        return dwType;
    }
    bool CloseFault(DWORD *pnError) const override
    {
        return InjectedFault("CloseHandle", sWin, pnError);
    }
    std::string WindowsPath() const override
    {
        return sWin;
    }
    int HostFd() const override
    {
        return bDir ? -1 : fd;
    }
    BOOL Read(void *pBuffer, DWORD nBytes, DWORD *pnRead) override;
    BOOL Write(const void *pBuffer, DWORD nBytes, DWORD *pnWritten) override;
    ~FileObject() override;
};

// Whether a new use of a file (access bits and share mode) conflicts with the handles open on it. Handles
// without read, write or delete access (attributes only) take no part.
static bool ShareConflict(const FileId &id, unsigned nAccess, DWORD dwShare)
{
    if (!(nAccess & (ACC_READ | ACC_WRITE | ACC_DELETE)))
        return false;
    std::lock_guard<std::mutex> lock(mxOpen);
    auto range = mapOpen.equal_range(id);
    for (auto it = range.first; it != range.second; ++it) {
        const FileObject *p = it->second;
        unsigned nOld = p->nAccess & (ACC_READ | ACC_WRITE | ACC_DELETE);
        if (nOld == 0)
            continue;
        if (((nAccess & ACC_READ) && !(p->dwShare & FILE_SHARE_READ)) ||
            ((nAccess & ACC_WRITE) && !(p->dwShare & FILE_SHARE_WRITE)) ||
            ((nAccess & ACC_DELETE) && !(p->dwShare & FILE_SHARE_DELETE)) ||
            ((nOld & ACC_READ) && !(dwShare & FILE_SHARE_READ)) ||
            ((nOld & ACC_WRITE) && !(dwShare & FILE_SHARE_WRITE)) ||
            ((nOld & ACC_DELETE) && !(dwShare & FILE_SHARE_DELETE)))
            return true;
    }
    return false;
}

static FileId IdOf(const struct stat &st)
{
    return FileId(st.st_dev, st.st_ino);
}

// The platform's type of an open file, by what it is on the host (as Wine answers): a character device
// (Z:\dev\null) is FILE_TYPE_CHAR, a FIFO or a socket FILE_TYPE_PIPE, anything else, a folder and a block
// device included, FILE_TYPE_DISK.
static DWORD FileTypeOf(const struct stat &st)
{
    if (S_ISCHR(st.st_mode))
        return FILE_TYPE_CHAR;
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
        return FILE_TYPE_PIPE;
    return FILE_TYPE_DISK;
}

FileObject::~FileObject()
{
    std::string sToDelete;
    {
        std::lock_guard<std::mutex> lock(mxOpen);
        auto range = mapOpen.equal_range(id);
        for (auto it = range.first; it != range.second; ++it)
            if (it->second == this) {
                mapOpen.erase(it);
                break;
            }
        if (bDeleteOnClose)
            mapDeletePending[id] = sHost;
        if (mapOpen.count(id) == 0) {
            auto it = mapDeletePending.find(id);
            if (it != mapDeletePending.end()) {
                sToDelete = it->second;
                mapDeletePending.erase(it);
            }
        }
    }
    if (fd >= 0)
        close(fd);
    if (!sToDelete.empty()) {
        // Only while the name still holds the same file.
        struct stat st;
        if (lstat(sToDelete.c_str(), &st) == 0 && IdOf(st) == id) {
            if (S_ISDIR(st.st_mode))
                rmdir(sToDelete.c_str());
            else
                unlink(sToDelete.c_str());
        }
    }
}

static void RegisterOpen(FileObject *p)
{
    std::lock_guard<std::mutex> lock(mxOpen);
    mapOpen.insert(std::make_pair(p->id, p));
}

BOOL FileObject::Read(void *pBuffer, DWORD nBytes, DWORD *pnRead)
{
    DWORD nError;
    if (pnRead != nullptr)
        *pnRead = 0;
    if (bDir) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (!(nAccess & ACC_READ)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (InjectedFault("ReadFile", sWin, &nError)) {
        SetLastError(nError);
        return FALSE;
    }
    DWORD nDone = 0;
    while (nDone < nBytes) {
        ssize_t n = read(fd, (char *)pBuffer + nDone, nBytes - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (pnRead != nullptr)
                *pnRead = nDone;
            SetLastError(ErrorFromErrno(errno));
            return FALSE;
        }
        if (n == 0)
            break;
        nDone += (DWORD)n;
    }
    if (pnRead != nullptr)
        *pnRead = nDone;
    return TRUE;
}

BOOL FileObject::Write(const void *pBuffer, DWORD nBytes, DWORD *pnWritten)
{
    DWORD nError;
    if (pnWritten != nullptr)
        *pnWritten = 0;
    if (bDir) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    if (!(nAccess & ACC_WRITE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (InjectedFault("WriteFile", sWin, &nError)) {
        SetLastError(nError);
        return FALSE;
    }
    DWORD nDone = 0;
    while (nDone < nBytes) {
        ssize_t n = write(fd, (const char *)pBuffer + nDone, nBytes - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (pnWritten != nullptr)
                *pnWritten = nDone;
            SetLastError(n == 0 ? ERROR_DISK_FULL : ErrorFromErrno(errno));
            return FALSE;
        }
        nDone += (DWORD)n;
    }
    if (pnWritten != nullptr)
        *pnWritten = nDone;
    return TRUE;
}

static FileObject *FileFromHandle(HANDLE h)
{
    KernelObject *p = LookupHandle(h);
    if (p == nullptr)
        return nullptr;
    FileObject *pFile = dynamic_cast<FileObject *>(p);
    if (pFile == nullptr)
        SetLastError(ERROR_INVALID_HANDLE);
    return pFile;
}

// Fails a call: sets the error and returns the call's failure value.
template <typename T> static T Fail(DWORD nError, T result)
{
    SetLastError(nError);
    return result;
}

// Resolves a call's path argument and checks the fault switch for it. The switch is checked for a path that
// does not resolve too (with its full form, or as given), so that every call is one checked call.
static bool ResolveArg(const char *pszCall, const char *pszPath, ResolvedPath *pPath, unsigned nFlags = 0)
{
    DWORD nError;
    if (!ResolvePath(pszPath, pPath, &nError, nFlags)) {
        DWORD nInjected;
        std::string sFull;
        if (pszPath != nullptr && !FullPathName(pszPath, &sFull))
            sFull = pszPath;
        if (InjectedFault(pszCall, sFull, &nInjected))
            nError = nInjected;
        SetLastError(nError);
        return false;
    }
    if (InjectedFault(pszCall, pPath->sWin, &nError)) {
        SetLastError(nError);
        return false;
    }
    return true;
}

// The lstat of a resolved path's last name: the one taken while it was looked up, or a new one. False when it
// is not there.
static bool LstatOf(const ResolvedPath &path, struct stat *pst)
{
    if (!path.bFound)
        return false;
    if (path.bStat) {
        *pst = path.lst;
        return true;
    }
    HostAt at = At(path);
    return fstatat(at.dirfd, at.pszName, pst, AT_SYMLINK_NOFOLLOW) == 0;
}

// The same with a link followed to what it points to.
static bool StatOf(const ResolvedPath &path, struct stat *pst)
{
    if (!path.bFound)
        return false;
    if (path.bStat && !S_ISLNK(path.lst.st_mode)) {
        *pst = path.lst;
        return true;
    }
    HostAt at = At(path);
    return fstatat(at.dirfd, at.pszName, pst, 0) == 0;
}

// Whether the resolved path's last name names a directory (links followed).
static bool IsDirectory(const HostAt &at)
{
    struct stat st;
    return fstatat(at.dirfd, at.pszName, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

// The process's current directory, as a host file identity (none when it is gone).
static bool CurrentDirectoryId(FileId *pId)
{
    ResolvedPath path;
    DWORD nError;
    struct stat st;
    if (!ResolvePath(CurrentDirectory().c_str(), &path, &nError) || !StatOf(path, &st))
        return false;
    *pId = IdOf(st);
    return true;
}

static std::string HostParent(const std::string &sHost)
{
    size_t n = sHost.rfind('/');
    return n == 0 ? std::string("/") : sHost.substr(0, n);
}

// Copies the bytes of one open file to another. False with the platform's error. nSize is the source's size
// as a stat gave it just before: a read that comes short exactly there has met the end, and no further read
// is needed to learn it (a file that grew meanwhile fills the read instead).
static bool CopyBytes(int fdFrom, int fdTo, off_t nSize, DWORD *pnError)
{
    const size_t nBuffer = 0x10000;
    static thread_local std::unique_ptr<char[]> pBuffer;
    if (pBuffer == nullptr)
        pBuffer.reset(new char[nBuffer]);
    char *aBuffer = pBuffer.get();
    off_t nTotal = 0;
    for (;;) {
        ssize_t n = read(fdFrom, aBuffer, nBuffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *pnError = ErrorFromErrno(errno);
            return false;
        }
        if (n == 0)
            return true;
        nTotal += n;
        ssize_t nDone = 0;
        while (nDone < n) {
            ssize_t w = write(fdTo, aBuffer + nDone, (size_t)(n - nDone));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                *pnError = w == 0 ? ERROR_DISK_FULL : ErrorFromErrno(errno);
                return false;
            }
            nDone += w;
        }
        if ((size_t)n < nBuffer && nTotal == nSize)
            return true;
    }
}

// The file search.

// The short name the platform would give a name that is not a valid 8.3 name ("LONGNA~1.TEX"), or "" for one
// that is. Collisions are not numbered: every short name ends in ~1.
static std::string ShortName(const std::string &sName)
{
    static const char szInvalid[] = "\"*+,/:;<=>?[\\]| ";
    auto Valid = [](unsigned char c) { return c >= 32 && strchr(szInvalid, c) == nullptr; };

    if (sName == "." || sName == "..")
        return std::string();
    size_t nDot = sName.rfind('.');
    std::string sBase = nDot == std::string::npos || nDot == 0 ? sName : sName.substr(0, nDot);
    std::string sExt = nDot == std::string::npos || nDot == 0 ? std::string() : sName.substr(nDot + 1);
    bool bValid = !sBase.empty() && sBase.size() <= 8 && sExt.size() <= 3 && sName[0] != '.' &&
                  sBase.find('.') == std::string::npos && (nDot == std::string::npos || !sExt.empty());
    for (unsigned char c : sName)
        if (c != '.' && !Valid(c))
            bValid = false;
    if (bValid)
        return std::string();

    auto Clean = [&](const std::string &s, size_t nMax) {
        std::string r;
        for (unsigned char c : s) {
            if (c == ' ' || c == '.')
                continue;
            if (r.size() == nMax)
                break;
            r += Valid(c) ? (char)c : '_';
        }
        return UpperName(r);
    };
    std::string sShort = Clean(sBase, 6);
    if (sShort.empty())
        sShort = "_";
    sShort += "~1";
    std::string sShortExt = Clean(sExt, 3);
    if (!sShortExt.empty())
        sShort += "." + sShortExt;
    return sShort;
}

// Whether a host entry's name (in code page 1251) can be a name on the platform. A host name may hold
// characters the platform forbids in names ("..\victim.txt", "C:\", "a:b", "x*y", control characters);
// handed out, a caller would join it to a path that names something else (the folder's parent, a drive's
// root). Searches skip such entries, and names with characters outside the code page (they would read back
// with '?'): the caller never sees them, and they stay where they are.
static bool IsWindowsName(const std::string &sName)
{
    for (unsigned char c : sName)
        if (c < 32 || strchr("\\/:*?\"<>|", c) != nullptr)
            return false;
    return !sName.empty();
}

// A search: the names that matched, taken when it started; each entry's attributes, times and size are read
// when the entry is handed out, in the folder the search opened (as the platform's search handle holds its
// folder), so that each costs a call on one name, not on a whole path.
struct FindObject : KernelObject {
    struct Entry {
        std::string sName;  // as handed out (ANSI)
        std::string sShort; // its short name, or "" for a valid 8.3 name
        std::string sLeaf;  // the host name in the folder
    };
    std::vector<Entry> aEntries;
    size_t nNext = 0;
    std::string sWin;  // the full Windows path of the pattern
    std::string sDir;  // the folder's host path
    DIR *pDir = nullptr;
    ~FindObject() override
    {
        if (pDir != nullptr)
            closedir(pDir);
    }
};

static void CopyName(char *pszDest, size_t nSize, const std::string &s)
{
    size_t n = std::min(s.size(), nSize - 1);
    memcpy(pszDest, s.data(), n);
    pszDest[n] = '\0';
}

// Fills a search entry from a host entry of its folder: one statx and one listxattr (more only for the
// values an entry keeps). False when the entry is gone.
static bool FillFindData(WIN32_FIND_DATAA *pData, const FindObject &find, const FindObject::Entry &e)
{
    const std::string &sName = e.sName;
    int fdDir = dirfd(find.pDir);
    struct statx stx;
    memset(pData, 0, sizeof *pData);
    if (statx(fdDir, e.sLeaf.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0)
        return false;
    // The whole path only for a host without the attribute calls relative to a folder.
    std::string sHost = XattrAtCalls() ? std::string() : find.sDir + "/" + e.sLeaf;
    HostAt at = {fdDir, e.sLeaf.c_str(), &sHost};
    // Read through a link, as GetFileTime does: the creation time a program set on what it points to.
    StoredValues values;
    ReadStoredValues(at, &values);
    if (S_ISLNK(stx.stx_mode)) {
        pData->dwFileAttributes = LinkAttributes(at);
        pData->dwReserved0 = IO_REPARSE_TAG_SYMLINK;
    } else {
        pData->dwFileAttributes = AttributesFromBits(stx.stx_mode, values.bDosBits, values.dwDosBits);
    }
    if (values.bCreationTime)
        pData->ftCreationTime = FileTimeFromTicks(values.nCreationTime);
    else
        pData->ftCreationTime =
            FileTimeFromStatx((stx.stx_mask & STATX_BTIME) ? stx.stx_btime : stx.stx_mtime);
    pData->ftLastAccessTime = FileTimeFromStatx(stx.stx_atime);
    pData->ftLastWriteTime = FileTimeFromStatx(stx.stx_mtime);
    if (S_ISREG(stx.stx_mode)) {
        pData->nFileSizeHigh = (DWORD)(stx.stx_size >> 32);
        pData->nFileSizeLow = (DWORD)(stx.stx_size & 0xFFFFFFFFu);
    }
    CopyName(pData->cFileName, sizeof pData->cFileName, sName);
    CopyName(pData->cAlternateFileName, sizeof pData->cAlternateFileName, e.sShort);
    return true;
}

// Hands out the search's next entry that is still there; false at the end.
static bool NextFindData(FindObject *pFind, WIN32_FIND_DATAA *pData)
{
    while (pFind->nNext < pFind->aEntries.size()) {
        const FindObject::Entry &e = pFind->aEntries[pFind->nNext++];
        if (FillFindData(pData, *pFind, e))
            return true;
    }
    return false;
}

static FindObject *FindFromHandle(HANDLE h)
{
    KernelObject *p = LookupHandle(h);
    if (p == nullptr)
        return nullptr;
    FindObject *pFind = dynamic_cast<FindObject *>(p);
    if (pFind == nullptr)
        SetLastError(ERROR_INVALID_HANDLE);
    return pFind;
}

} // namespace plat

using namespace plat;

// The device a path names: a reserved name as its last name (C:\x\nul.txt) or the device path itself
// (\\.\NUL); false for any other path. *psWin is the device path, \\.\ and the name as spelt.
static bool DevicePath(const char *pszPath, std::string *psWin, std::string *psUpper)
{
    std::string sDevice;
    if (pszPath == nullptr)
        return false;
    std::string sPath = pszPath;
    if (sPath.size() > 4 && sPath.compare(0, 4, "\\\\.\\") == 0 && sPath.find_first_of("\\/", 4) == std::string::npos) {
        std::string sFound;
        if (!DosDeviceName(sPath.substr(4), &sFound) || sFound.size() != sPath.size() - 4)
            return false;
        sDevice = sFound;
    } else if (!DosDeviceName(sPath, &sDevice)) {
        return false;
    }
    *psWin = "\\\\.\\" + sDevice;
    *psUpper = UpperName(sDevice);
    return true;
}

// Opens a device as the platform does on a machine with no console, serial or parallel ports: NUL takes
// every write and reads as empty, whatever the disposition; the others are not found.
static HANDLE OpenDevice(const std::string &sWin, const std::string &sUpper, DWORD dwDesiredAccess)
{
    DWORD nError;
    if (InjectedFault("CreateFileA", sWin, &nError))
        return Fail(nError, INVALID_HANDLE_VALUE);
    if (sUpper != "NUL")
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    FileObject *pFile = new FileObject;
    pFile->nAccess = AccessBits(dwDesiredAccess);
    pFile->dwType = FILE_TYPE_CHAR;
    pFile->sWin = sWin;
    pFile->sHost = "/dev/null";
    pFile->fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (pFile->fd < 0) {
        nError = ErrorFromErrno(errno);
        delete pFile;
        return Fail(nError, INVALID_HANDLE_VALUE);
    }
    // Not registered as an open file: the sharing rules do not apply to a device.
    SetLastError(ERROR_SUCCESS);
    return RegisterHandle(pFile);
}

static HANDLE CreateFileAImpl(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                              LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                              DWORD dwFlagsAndAttributes, HANDLE hTemplateFile)
{
    ResolvedPath path;
    struct stat st;

    (void)lpSecurityAttributes;
    (void)hTemplateFile;
    if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING)
        return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    std::string sDeviceWin, sDevice;
    if (DevicePath(lpFileName, &sDeviceWin, &sDevice))
        return OpenDevice(sDeviceWin, sDevice, dwDesiredAccess);
    if (!ResolveArg("CreateFileA", lpFileName, &path))
        return INVALID_HANDLE_VALUE;

    bool bDeleteOnClose = (dwFlagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0;
    unsigned nAccess = AccessBits(dwDesiredAccess) | (bDeleteOnClose ? ACC_DELETE : 0);
    DWORD dwShare = dwShareMode & (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    DWORD dwNewAttributes = dwFlagsAndAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    HostAt at = At(path);
    bool bExists = StatOf(path, &st);
    bool bTruncate = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING;
    int nOpenFlags = (nAccess & ACC_WRITE) ? ((nAccess & ACC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    DWORD nResultError = ERROR_SUCCESS;

    FileObject *pFile = new FileObject;
    pFile->nAccess = nAccess;
    pFile->dwShare = dwShare;
    pFile->bDeleteOnClose = bDeleteOnClose;
    pFile->sWin = path.sWin;

    auto Failed = [&](DWORD nError) {
        delete pFile;
        SetLastError(nError);
        return INVALID_HANDLE_VALUE;
    };

    if (bExists && S_ISDIR(st.st_mode)) {
        // A folder opens only as itself, with backup semantics; it cannot be made or replaced as a file.
        if (dwCreationDisposition == CREATE_NEW)
            return Failed(ERROR_FILE_EXISTS);
        if (!(dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) || bTruncate)
            return Failed(ERROR_ACCESS_DENIED);
        if (ShareConflict(IdOf(st), nAccess, dwShare))
            return Failed(ERROR_SHARING_VIOLATION);
        pFile->fd = openat(at.dirfd, at.pszName, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (pFile->fd < 0)
            return Failed(ErrorFromErrno(errno));
        pFile->bDir = true;
        pFile->id = IdOf(st);
        pFile->sHost = path.sHost;
        RegisterOpen(pFile);
        SetLastError(dwCreationDisposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
        return RegisterHandle(pFile);
    }
    if (path.bTrailingSep) {
        bool bOpening = dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == TRUNCATE_EXISTING;
        return Failed(!bExists && bOpening ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_NAME);
    }

    if (bExists) {
        if (dwCreationDisposition == CREATE_NEW)
            return Failed(ERROR_FILE_EXISTS);
        // Of the file itself, also through a link; only replacing it needs more than the read-only bit.
        DWORD dwOld = dwCreationDisposition == CREATE_ALWAYS ? AttributesOf(at, st)
                      : IsReadOnly(at, st)                   ? (DWORD)FILE_ATTRIBUTE_READONLY
                                                             : 0;
        // The read-only rules, kept here whoever runs the process.
        if ((dwOld & FILE_ATTRIBUTE_READONLY) && ((nAccess & ACC_WRITE) || bTruncate || bDeleteOnClose))
            return Failed(ERROR_ACCESS_DENIED);
        // Replacing a hidden or system file must say so.
        if (dwCreationDisposition == CREATE_ALWAYS &&
            (((dwOld & FILE_ATTRIBUTE_HIDDEN) && !(dwNewAttributes & FILE_ATTRIBUTE_HIDDEN)) ||
             ((dwOld & FILE_ATTRIBUTE_SYSTEM) && !(dwNewAttributes & FILE_ATTRIBUTE_SYSTEM))))
            return Failed(ERROR_ACCESS_DENIED);
        if (ShareConflict(IdOf(st), nAccess, dwShare))
            return Failed(ERROR_SHARING_VIOLATION);
        // A FIFO opens without waiting for the other end, as on the platform; its reads then wait for data.
        bool bFifo = S_ISFIFO(st.st_mode);
        pFile->fd = openat(at.dirfd, at.pszName, nOpenFlags | O_CLOEXEC | (bFifo ? O_NONBLOCK : 0));
        if (pFile->fd >= 0 && bFifo)
            fcntl(pFile->fd, F_SETFL, fcntl(pFile->fd, F_GETFL) & ~O_NONBLOCK);
        if (pFile->fd < 0 && errno == EACCES && (nAccess & (ACC_READ | ACC_WRITE)) == 0)
            pFile->fd = openat(at.dirfd, at.pszName, O_PATH | O_CLOEXEC); // attributes only
        if (pFile->fd < 0)
            return Failed(ErrorFromErrno(errno));
        if (bTruncate) {
            int r = (nAccess & ACC_WRITE) ? ftruncate(pFile->fd, 0) : truncate(path.sHost.c_str(), 0);
            if (r != 0)
                return Failed(ErrorFromErrno(errno));
        }
        if (dwCreationDisposition == CREATE_ALWAYS) {
            // The file takes the new attributes, with the archive bit.
            DWORD nError = WriteDosBits(at, -1, false, dwNewAttributes | FILE_ATTRIBUTE_ARCHIVE);
            if (nError == ERROR_SUCCESS && (dwNewAttributes & FILE_ATTRIBUTE_READONLY))
                nError = SetReadOnlyMode(at, -1, true);
            if (nError != ERROR_SUCCESS)
                return Failed(nError);
        }
        if (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS)
            nResultError = ERROR_ALREADY_EXISTS;
    } else {
        if (dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == TRUNCATE_EXISTING)
            return Failed(ERROR_FILE_NOT_FOUND);
        pFile->fd = openat(at.dirfd, at.pszName, nOpenFlags | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (pFile->fd < 0)
            return Failed(errno == EEXIST ? ERROR_FILE_EXISTS : ErrorFromErrno(errno));
        // A new file carries the attributes asked for, with the archive bit; read-only goes last, so that
        // the handle still writes. A file that cannot carry them is not made.
        DWORD nError = ERROR_SUCCESS;
        if (dwNewAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
            nError = WriteDosBits(at, pFile->fd, false, dwNewAttributes | FILE_ATTRIBUTE_ARCHIVE);
        if (nError == ERROR_SUCCESS && (dwNewAttributes & FILE_ATTRIBUTE_READONLY))
            nError = SetReadOnlyMode(at, pFile->fd, true);
        if (nError != ERROR_SUCCESS) {
            unlinkat(at.dirfd, at.pszName, 0);
            return Failed(nError);
        }
    }
    if (fstat(pFile->fd, &st) != 0)
        return Failed(ErrorFromErrno(errno));
    pFile->dwType = FileTypeOf(st);
    pFile->id = IdOf(st);
    pFile->sHost = path.sHost;
    RegisterOpen(pFile);
    SetLastError(nResultError);
    return RegisterHandle(pFile);
}

static DWORD GetFileSizeImpl(HANDLE hFile, LPDWORD lpFileSizeHigh)
{
    FileObject *pFile = FileFromHandle(hFile);
    struct stat st;
    DWORD nError;

    if (pFile == nullptr)
        return INVALID_FILE_SIZE;
    if (InjectedFault("GetFileSize", pFile->sWin, &nError))
        return Fail(nError, INVALID_FILE_SIZE);
    if (fstat(pFile->fd, &st) != 0)
        return Fail(ErrorFromErrno(errno), INVALID_FILE_SIZE);
    uint64_t n = pFile->bDir ? 0 : (uint64_t)st.st_size;
    if (lpFileSizeHigh != NULL)
        *lpFileSizeHigh = (DWORD)(n >> 32);
    SetLastError(ERROR_SUCCESS);
    return (DWORD)(n & 0xFFFFFFFFu);
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod)
{
    FileObject *pFile = FileFromHandle(hFile);

    if (pFile == nullptr)
        return INVALID_SET_FILE_POINTER;
    int64_t nMove =
        lpDistanceToMoveHigh != NULL
            ? (int64_t)(((uint64_t)(uint32_t)*lpDistanceToMoveHigh << 32) | (uint32_t)lDistanceToMove)
            : (int64_t)lDistanceToMove;
    int64_t nBase;
    if (dwMoveMethod == FILE_BEGIN) {
        nBase = 0;
    } else if (dwMoveMethod == FILE_CURRENT) {
        nBase = lseek(pFile->fd, 0, SEEK_CUR);
    } else if (dwMoveMethod == FILE_END) {
        struct stat st;
        nBase = fstat(pFile->fd, &st) == 0 ? (int64_t)st.st_size : -1;
    } else {
        return Fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
    }
    if (nBase < 0)
        return Fail(ErrorFromErrno(errno), INVALID_SET_FILE_POINTER);
    int64_t nPos = nBase + nMove;
    if (nPos < 0)
        return Fail(ERROR_NEGATIVE_SEEK, INVALID_SET_FILE_POINTER);
    // Without a high part the result must fit the low part.
    if (lpDistanceToMoveHigh == NULL && nPos > 0xFFFFFFFELL)
        return Fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
    if (lseek(pFile->fd, (off_t)nPos, SEEK_SET) < 0)
        return Fail(ErrorFromErrno(errno), INVALID_SET_FILE_POINTER);
    if (lpDistanceToMoveHigh != NULL)
        *lpDistanceToMoveHigh = (LONG)(nPos >> 32);
    SetLastError(ERROR_SUCCESS);
    return (DWORD)(nPos & 0xFFFFFFFF);
}

BOOL WINAPI SetEndOfFile(HANDLE hFile)
{
    FileObject *pFile = FileFromHandle(hFile);

    if (pFile == nullptr)
        return FALSE;
    if (!(pFile->nAccess & ACC_WRITE) || pFile->bDir)
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    off_t nPos = lseek(pFile->fd, 0, SEEK_CUR);
    if (nPos < 0 || ftruncate(pFile->fd, nPos) != 0)
        return Fail(ErrorFromErrno(errno), FALSE);
    return TRUE;
}

static BOOL GetFileTimeImpl(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                            LPFILETIME lpLastWriteTime)
{
    FileObject *pFile = FileFromHandle(hFile);
    struct stat st;
    DWORD nError;

    if (pFile == nullptr)
        return FALSE;
    if (InjectedFault("GetFileTime", pFile->sWin, &nError))
        return Fail(nError, FALSE);
    if (fstat(pFile->fd, &st) != 0)
        return Fail(ErrorFromErrno(errno), FALSE);
    if (lpCreationTime != NULL)
        *lpCreationTime = CreationTimeOf(AtPath(pFile->sHost), pFile->fd, st);
    if (lpLastAccessTime != NULL)
        *lpLastAccessTime = FileTimeFromTimespec(st.st_atim);
    if (lpLastWriteTime != NULL)
        *lpLastWriteTime = FileTimeFromTimespec(st.st_mtim);
    return TRUE;
}

static BOOL SetFileTimeImpl(HANDLE hFile, const FILETIME *lpCreationTime, const FILETIME *lpLastAccessTime,
                            const FILETIME *lpLastWriteTime)
{
    FileObject *pFile = FileFromHandle(hFile);
    DWORD nError;

    if (pFile == nullptr)
        return FALSE;
    if (!(pFile->nAccess & ACC_ATTRIBUTES))
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (InjectedFault("SetFileTime", pFile->sWin, &nError))
        return Fail(nError, FALSE);
    struct timespec ts[2];
    ts[0].tv_nsec = ts[1].tv_nsec = UTIME_OMIT;
    ts[0].tv_sec = ts[1].tv_sec = 0;
    if (!KeepsTime(lpLastAccessTime))
        ts[0] = TimespecFromFileTime(*lpLastAccessTime);
    if (!KeepsTime(lpLastWriteTime))
        ts[1] = TimespecFromFileTime(*lpLastWriteTime);
    struct stat stOld, st;
    if (fstat(pFile->fd, &stOld) != 0)
        return Fail(ErrorFromErrno(errno), FALSE);
    if (futimens(pFile->fd, ts) != 0)
        return Fail(ErrorFromErrno(errno), FALSE);
    // The host may clamp a time it cannot hold: what it kept must be what was asked, to its resolution
    // (2 s for the write time, a day for the last access: the coarsest, FAT's). Else the file gets its
    // times back and the call fails.
    if (fstat(pFile->fd, &st) != 0)
        return Fail(ErrorFromErrno(errno), FALSE);
    if ((ts[1].tv_nsec != UTIME_OMIT && !TimeKept(st.st_mtim, ts[1], 2000000000LL)) ||
        (ts[0].tv_nsec != UTIME_OMIT && !TimeKept(st.st_atim, ts[0], 86402000000000LL))) {
        struct timespec tsOld[2] = {stOld.st_atim, stOld.st_mtim};
        futimens(pFile->fd, tsOld);
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    if (!KeepsTime(lpCreationTime)) {
        DWORD nError = SetCreationTime(AtPath(pFile->sHost), pFile->fd, st, *lpCreationTime);
        if (nError != ERROR_SUCCESS)
            return Fail(nError, FALSE);
    }
    return TRUE;
}

static DWORD GetFileAttributesAImpl(LPCSTR lpFileName)
{
    ResolvedPath path;
    struct stat lst;

    if (!ResolveArg("GetFileAttributesA", lpFileName, &path))
        return INVALID_FILE_ATTRIBUTES;
    if (!LstatOf(path, &lst))
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
    if (path.bTrailingSep && !IsDirectory(At(path)))
        return Fail(ERROR_PATH_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
    return AttributesOf(At(path), lst);
}

static BOOL SetFileAttributesAImpl(LPCSTR lpFileName, DWORD dwFileAttributes)
{
    ResolvedPath path;
    struct stat st;

    if (!ResolveArg("SetFileAttributesA", lpFileName, &path))
        return FALSE;
    // A link passes the attributes to what it points to: the host keeps none on a link.
    if (!StatOf(path, &st))
        return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    if (path.bTrailingSep && !S_ISDIR(st.st_mode))
        return Fail(ERROR_PATH_NOT_FOUND, FALSE);
    bool bDir = S_ISDIR(st.st_mode);
    // The read-only bit is set or cleared even when the other bits cannot be kept; the call fails then.
    DWORD nError = WriteDosBits(At(path), -1, bDir, dwFileAttributes);
    DWORD nModeError =
        bDir ? ERROR_SUCCESS
             : SetReadOnlyMode(At(path), -1, (dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0, &st);
    if (nError == ERROR_SUCCESS)
        nError = nModeError;
    return nError == ERROR_SUCCESS ? TRUE : Fail(nError, FALSE);
}

static BOOL DeleteFileAImpl(LPCSTR lpFileName)
{
    ResolvedPath path;
    struct stat lst;

    if (!ResolveArg("DeleteFileA", lpFileName, &path))
        return FALSE;
    if (!LstatOf(path, &lst))
        return Fail(path.bTrailingSep ? ERROR_INVALID_NAME : ERROR_FILE_NOT_FOUND, FALSE);
    if (path.bTrailingSep)
        return Fail(ERROR_INVALID_NAME, FALSE);
    if (S_ISLNK(lst.st_mode)) {
        // A link goes, never what it points to; a link to a folder is removed as a folder.
        if (IsDirectory(At(path)))
            return Fail(ERROR_ACCESS_DENIED, FALSE);
    } else {
        if (S_ISDIR(lst.st_mode) || IsReadOnly(At(path), lst))
            return Fail(ERROR_ACCESS_DENIED, FALSE);
        if (ShareConflict(IdOf(lst), ACC_DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
            return Fail(ERROR_SHARING_VIOLATION, FALSE);
    }
    if (unlinkat(At(path).dirfd, At(path).pszName, 0) != 0)
        return Fail(ErrorFromErrno(errno), FALSE);
    return TRUE;
}

static BOOL CreateDirectoryAImpl(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes)
{
    ResolvedPath path;

    (void)lpSecurityAttributes;
    if (!ResolveArg("CreateDirectoryA", lpPathName, &path))
        return FALSE;
    if (path.bFound)
        return Fail(ERROR_ALREADY_EXISTS, FALSE);
    if (mkdirat(At(path).dirfd, At(path).pszName, 0777) != 0)
        return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno), FALSE);
    return TRUE;
}

static BOOL RemoveDirectoryAImpl(LPCSTR lpPathName)
{
    ResolvedPath path;
    struct stat lst;

    if (!ResolveArg("RemoveDirectoryA", lpPathName, &path))
        return FALSE;
    if (path.bRoot)
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (!LstatOf(path, &lst))
        return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    if (S_ISLNK(lst.st_mode)) {
        // A link to a folder goes as a folder would, and only the link goes.
        if (!IsDirectory(At(path)))
            return Fail(ERROR_DIRECTORY, FALSE);
        if (unlinkat(At(path).dirfd, At(path).pszName, 0) != 0)
            return Fail(ErrorFromErrno(errno), FALSE);
        return TRUE;
    }
    if (!S_ISDIR(lst.st_mode))
        return Fail(ERROR_DIRECTORY, FALSE);
    if (IsReadOnly(At(path), lst))
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    FileId idCur;
    if ((CurrentDirectoryId(&idCur) && idCur == IdOf(lst)) ||
        ShareConflict(IdOf(lst), ACC_DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return Fail(ERROR_SHARING_VIOLATION, FALSE);
    if (unlinkat(At(path).dirfd, At(path).pszName, AT_REMOVEDIR) != 0)
        return Fail(errno == EEXIST ? ERROR_DIR_NOT_EMPTY : ErrorFromErrno(errno), FALSE);
    return TRUE;
}

// Gives a copy the host's executable bits of its source, as far as the umask lets a new file have them, so
// that a program copied on the machine still runs on the host. The platform has no such bit and nothing
// else shows it, so a host that refuses the change (another owner's file) does not fail the copy.
static void CopyExecutableBits(int fdDest, mode_t nSourceMode)
{
    struct stat st;
    if (fstat(fdDest, &st) != 0)
        return;
    mode_t nMask = umask(0);
    umask(nMask);
    mode_t nMode = st.st_mode & 07777;
    mode_t nNew = (nMode & ~(mode_t)0111) | (nSourceMode & 0111 & ~nMask);
    if (nNew != nMode && fchmod(fdDest, nNew) != 0)
        return;
}

static BOOL CopyFileAImpl(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists)
{
    ResolvedPath src, dest;
    struct stat stSrc, stDest;
    DWORD nError;

    if (!ResolveArg("CopyFileA", lpExistingFileName, &src) ||
        !ResolveArg("CopyFileA", lpNewFileName, &dest, RESOLVE_EVENTS_READ))
        return FALSE;
    if (!StatOf(src, &stSrc))
        return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    if (S_ISDIR(stSrc.st_mode) || src.bTrailingSep)
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    // The source is read with others allowed to read and delete it; the destination is written alone.
    if (ShareConflict(IdOf(stSrc), ACC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE))
        return Fail(ERROR_SHARING_VIOLATION, FALSE);
    if (dest.bTrailingSep)
        return Fail(ERROR_INVALID_NAME, FALSE);
    bool bDestExists = StatOf(dest, &stDest);
    if (bDestExists) {
        if (bFailIfExists)
            return Fail(ERROR_FILE_EXISTS, FALSE);
        if (S_ISDIR(stDest.st_mode))
            return Fail(ERROR_ACCESS_DENIED, FALSE);
        if (IdOf(stDest) == IdOf(stSrc))
            return Fail(ERROR_SHARING_VIOLATION, FALSE);
        // A read-only or hidden file is not copied over.
        DWORD dwOld = AttributesOf(At(dest), stDest);
        if (dwOld & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN))
            return Fail(ERROR_ACCESS_DENIED, FALSE);
        if (ShareConflict(IdOf(stDest), ACC_WRITE, 0))
            return Fail(ERROR_SHARING_VIOLATION, FALSE);
    }

    int fdSrc = openat(At(src).dirfd, At(src).pszName, O_RDONLY | O_CLOEXEC);
    if (fdSrc < 0)
        return Fail(ErrorFromErrno(errno), FALSE);
    int fdDest = openat(At(dest).dirfd, At(dest).pszName,
                        O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (bDestExists ? 0 : O_EXCL), 0666);
    if (fdDest < 0) {
        nError = errno == EEXIST ? ERROR_FILE_EXISTS : ErrorFromErrno(errno);
        close(fdSrc);
        return Fail(nError, FALSE);
    }
    bool bDone = CopyBytes(fdSrc, fdDest, S_ISREG(stSrc.st_mode) ? stSrc.st_size : -1, &nError);
    if (bDone) {
        // The copy has the source's attributes with the archive bit, its last write time, and is new
        // otherwise. A copy that cannot carry them fails. A file made new here has no stored bits: archive
        // only, the usual case, needs nothing written.
        DWORD dwAttributes = AttributesOf(At(src), stSrc);
        nError = ERROR_SUCCESS;
        if (bDestExists || (dwAttributes & DOS_BITS & ~(DWORD)FILE_ATTRIBUTE_ARCHIVE) != 0)
            nError = WriteDosBits(At(dest), fdDest, false, dwAttributes | FILE_ATTRIBUTE_ARCHIVE);
        struct timespec ts[2];
        ts[0].tv_sec = 0;
        ts[0].tv_nsec = UTIME_NOW;
        ts[1] = stSrc.st_mtim;
        if (nError == ERROR_SUCCESS && futimens(fdDest, ts) != 0)
            nError = ErrorFromErrno(errno);
        // A copy made new here has no executable bit (it was made 0666): from a source without one, it
        // needs nothing.
        if (nError == ERROR_SUCCESS && (bDestExists || (stSrc.st_mode & 0111) != 0))
            CopyExecutableBits(fdDest, stSrc.st_mode);
        if (nError == ERROR_SUCCESS && (dwAttributes & FILE_ATTRIBUTE_READONLY))
            nError = SetReadOnlyMode(At(dest), fdDest, true);
        bDone = nError == ERROR_SUCCESS;
    }
    close(fdSrc);
    if (close(fdDest) != 0 && bDone) {
        bDone = false;
        nError = ErrorFromErrno(errno);
    }
    if (!bDone) {
        unlinkat(At(dest).dirfd, At(dest).pszName, 0);
        return Fail(nError, FALSE);
    }
    return TRUE;
}

// MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT: nothing moves now; the operation is recorded for the
// machine's next start (boot.cpp) with the source's full path and the target's ("" for a deletion, when
// lpNewFileName is null), and fails only when the registry cannot take it (with the registry's error). The
// source must exist, a file or a folder (2 else): the platform's documentation does not say whether it
// checks, this layer does, so that a wrong name fails where it was made. A copy cannot be delayed
// (MOVEFILE_COPY_ALLOWED: 87); MOVEFILE_WRITE_THROUGH is of no account.
static BOOL MoveFileDelayed(const char *pszCall, LPCSTR lpExistingFileName, LPCSTR lpNewFileName,
                            DWORD dwFlags)
{
    ResolvedPath src;
    struct stat lst;
    std::string sTarget;
    DWORD nError;

    if (!ResolveArg(pszCall, lpExistingFileName, &src))
        return FALSE;
    if (lpNewFileName != NULL) {
        bool bFull = FullPathName(lpNewFileName, &sTarget);
        if (InjectedFault(pszCall, bFull ? sTarget : std::string(lpNewFileName), &nError))
            return Fail(nError, FALSE);
        if (!bFull)
            return Fail(ERROR_PATH_NOT_FOUND, FALSE);
    }
    if (dwFlags & ~(DWORD)(MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_WRITE_THROUGH))
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (src.bRoot)
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (!LstatOf(src, &lst))
        return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    if (!RecordPendingFileOperation(src.sWin, lpNewFileName != NULL ? &sTarget : nullptr,
                                    (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0, &nError))
        return Fail(nError, FALSE);
    return TRUE;
}

// MoveFileA and MoveFileExA: a rename within the host's file system, a copy and delete of a file across file
// systems when the flags allow it. With MOVEFILE_REPLACE_EXISTING a file in the way is replaced in one step
// (the host's rename), unless it is read-only or a folder (5) or open without delete sharing (32).
static BOOL MoveFileImpl(const char *pszCall, LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags)
{
    ResolvedPath src, dest;
    struct stat lstSrc, lstDest;

    if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT)
        return MoveFileDelayed(pszCall, lpExistingFileName, lpNewFileName, dwFlags);
    if (!ResolveArg(pszCall, lpExistingFileName, &src) ||
        !ResolveArg(pszCall, lpNewFileName, &dest, RESOLVE_EVENTS_READ))
        return FALSE;
    if (dwFlags & ~(DWORD)(MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (src.bRoot || dest.bRoot)
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (!LstatOf(src, &lstSrc))
        return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    HostAt atSrc = At(src), atTarget = At(dest);
    std::string sTarget, sTargetName; // for a change of case: the new name as the caller spelt it
    bool bReplace = false;
    if (LstatOf(dest, &lstDest)) {
        if (IdOf(lstDest) == IdOf(lstSrc) && HostParent(dest.sHost) == HostParent(src.sHost)) {
            // Only a change of case in the name of the same entry.
            sTargetName = AnsiToUtf8(dest.sName);
            sTarget = HostParent(dest.sHost) + "/" + sTargetName;
            atTarget = dest.pDir != nullptr ? HostAt{dest.pDir->fd, sTargetName.c_str(), &sTarget} : AtPath(sTarget);
        } else if (!(dwFlags & MOVEFILE_REPLACE_EXISTING)) {
            return Fail(ERROR_ALREADY_EXISTS, FALSE);
        } else {
            if (S_ISDIR(lstSrc.st_mode) || S_ISDIR(lstDest.st_mode) || IsDirectory(At(dest)) ||
                IsReadOnly(At(dest), lstDest))
                return Fail(ERROR_ACCESS_DENIED, FALSE);
            if (ShareConflict(IdOf(lstDest), ACC_DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
                return Fail(ERROR_SHARING_VIOLATION, FALSE);
            bReplace = true;
        }
    }
    if (ShareConflict(IdOf(lstSrc), ACC_DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return Fail(ERROR_SHARING_VIOLATION, FALSE);
    // Without leave to replace, a target that another process made since the look above still stays: the
    // host refuses to replace it (where its file system can; else the look above is all there is).
    if (!bReplace && sTargetName.empty()) {
        int r = (int)syscall(SYS_renameat2, atSrc.dirfd, atSrc.pszName, atTarget.dirfd, atTarget.pszName,
                             RENAME_NOREPLACE);
        if (r == 0)
            return TRUE;
        if (errno == EEXIST)
            return Fail(ERROR_ALREADY_EXISTS, FALSE);
        if (errno != EINVAL && errno != ENOSYS && errno != EXDEV)
            return Fail(ErrorFromErrno(errno), FALSE);
    }
    if (renameat(atSrc.dirfd, atSrc.pszName, atTarget.dirfd, atTarget.pszName) == 0)
        return TRUE;
    if (errno != EXDEV || !S_ISREG(lstSrc.st_mode) || !(dwFlags & MOVEFILE_COPY_ALLOWED))
        return Fail(errno == EXDEV ? ERROR_NOT_SAME_DEVICE : ErrorFromErrno(errno), FALSE);
    // To another host file system: a file is copied, then the original deleted.
    if (!CopyFileA(lpExistingFileName, lpNewFileName, bReplace ? FALSE : TRUE))
        return FALSE;
    if (unlinkat(atSrc.dirfd, atSrc.pszName, 0) != 0) {
        DWORD nError = ErrorFromErrno(errno);
        unlinkat(At(dest).dirfd, At(dest).pszName, 0);
        return Fail(nError, FALSE);
    }
    return TRUE;
}

static HANDLE FindFirstFileAImpl(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData)
{
    ResolvedPath path;

    if (lpFindFileData == NULL)
        return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    if (!ResolveArg("FindFirstFileA", lpFileName, &path, RESOLVE_WILDCARDS))
        return INVALID_HANDLE_VALUE;
    if (path.bTrailingSep || path.bRoot)
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    std::string sDir = HostParent(path.sHost);
    const std::string &sMask = path.sName;
    bool bDriveRoot = path.sWin.rfind('\\') == 2;

    DIR *d = nullptr;
    if (path.pDir != nullptr) {
        int fd = openat(path.pDir->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        d = fd >= 0 ? fdopendir(fd) : nullptr;
        if (fd >= 0 && d == nullptr)
            close(fd);
    } else {
        d = opendir(sDir.c_str());
    }
    if (d == nullptr)
        return Fail(errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno), INVALID_HANDLE_VALUE);
    FindObject *pFind = new FindObject;
    pFind->sWin = path.sWin;
    pFind->sDir = sDir;
    pFind->pDir = d;
    struct Entry {
        std::string sName, sShort, sUpper, sLeaf;
        int nOrder;
    };
    std::vector<Entry> aMatches;
    auto Consider = [&](const std::string &sName, const char *pszLeaf, int nOrder) {
        std::string sShort = ShortName(sName);
        if (MatchWildcards(sMask, sName, true) || (!sShort.empty() && MatchWildcards(sMask, sShort, true)))
            aMatches.push_back(Entry{sName, std::move(sShort), UpperName(sName), pszLeaf, nOrder});
    };
    if (!bDriveRoot) {
        Consider(".", ".", 0);
        Consider("..", "..", 1);
    }
    while (struct dirent *e = readdir(d)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0)
            continue;
        bool bLossy = false;
        std::string sName = Utf8ToAnsi(e->d_name, &bLossy);
        if (bLossy || !IsWindowsName(sName))
            continue;
        Consider(sName, e->d_name, 2);
    }
    if (aMatches.empty()) {
        delete pFind;
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    // In the order the platform's file system keeps a folder: by name without case.
    std::sort(aMatches.begin(), aMatches.end(), [](const Entry &a, const Entry &b) {
        if (a.nOrder != b.nOrder)
            return a.nOrder < b.nOrder;
        return a.sUpper != b.sUpper ? a.sUpper < b.sUpper : a.sName < b.sName;
    });
    pFind->aEntries.reserve(aMatches.size());
    for (Entry &e : aMatches)
        pFind->aEntries.push_back(FindObject::Entry{std::move(e.sName), std::move(e.sShort), std::move(e.sLeaf)});
    WIN32_FIND_DATAA data;
    if (!NextFindData(pFind, &data)) {
        delete pFind;
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    *lpFindFileData = data;
    SetLastError(ERROR_SUCCESS);
    return RegisterHandle(pFind);
}

static BOOL FindNextFileAImpl(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData)
{
    FindObject *pFind = FindFromHandle(hFindFile);
    WIN32_FIND_DATAA data;
    DWORD nError;

    if (pFind == nullptr)
        return FALSE;
    if (InjectedFault("FindNextFileA", pFind->sWin, &nError))
        return Fail(nError, FALSE);
    if (!NextFindData(pFind, &data))
        return Fail(ERROR_NO_MORE_FILES, FALSE);
    *lpFindFileData = data;
    return TRUE;
}

// The fault switch makes it report an error; the search is closed all the same, as CloseHandle does.
static BOOL FindCloseImpl(HANDLE hFindFile)
{
    FindObject *pFind = FindFromHandle(hFindFile);
    DWORD nError;

    if (pFind == nullptr)
        return FALSE;
    bool bFault = InjectedFault("FindClose", pFind->sWin, &nError);
    UnregisterHandle(hFindFile);
    delete pFind;
    return bFault ? Fail(nError, FALSE) : TRUE;
}

// The calls themselves: each one run as a traced call of the fault switch.

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile)
{
    TracedCall call("CreateFileA");
    return call.Handle(CreateFileAImpl(lpFileName, dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                                       dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile));
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh)
{
    TracedCall call("GetFileSize");
    DWORD n = GetFileSizeImpl(hFile, lpFileSizeHigh);
    return call.Value(n, n != INVALID_FILE_SIZE || GetLastError() == ERROR_SUCCESS);
}

BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                        LPFILETIME lpLastWriteTime)
{
    TracedCall call("GetFileTime");
    return call.Bool(GetFileTimeImpl(hFile, lpCreationTime, lpLastAccessTime, lpLastWriteTime));
}

BOOL WINAPI SetFileTime(HANDLE hFile, const FILETIME *lpCreationTime, const FILETIME *lpLastAccessTime,
                        const FILETIME *lpLastWriteTime)
{
    TracedCall call("SetFileTime");
    return call.Bool(SetFileTimeImpl(hFile, lpCreationTime, lpLastAccessTime, lpLastWriteTime));
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName)
{
    TracedCall call("GetFileAttributesA");
    DWORD dw = GetFileAttributesAImpl(lpFileName);
    return call.Value(dw, dw != INVALID_FILE_ATTRIBUTES);
}

BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes)
{
    TracedCall call("SetFileAttributesA");
    return call.Bool(SetFileAttributesAImpl(lpFileName, dwFileAttributes));
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName)
{
    TracedCall call("DeleteFileA");
    return call.Bool(DeleteFileAImpl(lpFileName));
}

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes)
{
    TracedCall call("CreateDirectoryA");
    return call.Bool(CreateDirectoryAImpl(lpPathName, lpSecurityAttributes));
}

BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName)
{
    TracedCall call("RemoveDirectoryA");
    return call.Bool(RemoveDirectoryAImpl(lpPathName));
}

BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists)
{
    TracedCall call("CopyFileA");
    return call.Bool(CopyFileAImpl(lpExistingFileName, lpNewFileName, bFailIfExists));
}

BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName)
{
    TracedCall call("MoveFileA");
    return call.Bool(MoveFileImpl("MoveFileA", lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED));
}

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags)
{
    TracedCall call("MoveFileExA");
    return call.Bool(MoveFileImpl("MoveFileExA", lpExistingFileName, lpNewFileName, dwFlags));
}

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData)
{
    TracedCall call("FindFirstFileA");
    return call.Handle(FindFirstFileAImpl(lpFileName, lpFindFileData));
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData)
{
    TracedCall call("FindNextFileA");
    return call.Bool(FindNextFileAImpl(hFindFile, lpFindFileData));
}

BOOL WINAPI FindClose(HANDLE hFindFile)
{
    TracedCall call("FindClose");
    return call.Bool(FindCloseImpl(hFindFile));
}

// Calendar times (proleptic Gregorian, UTC).

static const int aMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

static bool IsLeapYear(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// Days from 1601-01-01 to a date, and back.
static int64_t DaysFromDate(int y, int m, int d)
{
    int64_t nYears = y - 1601;
    int64_t n = nYears * 365 + nYears / 4 - nYears / 100 + nYears / 400;
    for (int i = 0; i < m - 1; i++)
        n += aMonthDays[i] + (i == 1 && IsLeapYear(y));
    return n + d - 1;
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME *lpFileTime, LPSYSTEMTIME lpSystemTime)
{
    if (lpFileTime == NULL || lpSystemTime == NULL || (lpFileTime->dwHighDateTime & 0x80000000u))
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    int64_t n = TicksFromFileTime(*lpFileTime);
    int64_t nDays = n / 864000000000LL;
    int64_t nRest = n % 864000000000LL;
    lpSystemTime->wDayOfWeek = (WORD)((nDays + 1) % 7); // 1601-01-01 was a Monday
    lpSystemTime->wMilliseconds = (WORD)(nRest / 10000 % 1000);
    lpSystemTime->wSecond = (WORD)(nRest / 10000000 % 60);
    lpSystemTime->wMinute = (WORD)(nRest / 600000000 % 60);
    lpSystemTime->wHour = (WORD)(nRest / 36000000000LL);
    // Whole 400-year cycles first, then years.
    int y = 1601 + (int)(nDays / 146097) * 400;
    nDays %= 146097;
    for (;;) {
        int nYearDays = IsLeapYear(y) ? 366 : 365;
        if (nDays < nYearDays)
            break;
        nDays -= nYearDays;
        y++;
    }
    int m = 0;
    for (;; m++) {
        int nMonthDays = aMonthDays[m] + (m == 1 && IsLeapYear(y));
        if (nDays < nMonthDays)
            break;
        nDays -= nMonthDays;
    }
    lpSystemTime->wYear = (WORD)y;
    lpSystemTime->wMonth = (WORD)(m + 1);
    lpSystemTime->wDay = (WORD)(nDays + 1);
    return TRUE;
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME *lpSystemTime, LPFILETIME lpFileTime)
{
    if (lpSystemTime == NULL || lpFileTime == NULL)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const SYSTEMTIME &t = *lpSystemTime;
    if (t.wYear < 1601 || t.wYear > 30828 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 ||
        t.wDay > aMonthDays[t.wMonth - 1] + (t.wMonth == 2 && IsLeapYear(t.wYear)) || t.wHour > 23 ||
        t.wMinute > 59 || t.wSecond > 59 || t.wMilliseconds > 999)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    uint64_t n = (uint64_t)DaysFromDate(t.wYear, t.wMonth, t.wDay);
    n = ((n * 24 + t.wHour) * 60 + t.wMinute) * 60 + t.wSecond;
    n = n * 10000000 + (uint64_t)t.wMilliseconds * 10000;
    if (n > (uint64_t)INT64_MAX) // beyond the last time a FILETIME holds (30828-09-14 02:48:05.477)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    *lpFileTime = FileTimeFromTicks((int64_t)n);
    return TRUE;
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime)
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    *lpSystemTimeAsFileTime = FileTimeFromTimespec(ts);
}
