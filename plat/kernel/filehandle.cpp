// filehandle.cpp - open files of the emulated machine: CreateFileA with the platform's access, sharing and
// dispositions (the reserved device names included), the sharing rules between the handles of this
// process, reading and writing through the handle (handle.cpp's ReadFile and WriteFile), the file's size,
// position and end, and its times.
//
// The parts of this file, in order: access bits and times an argument leaves alone; open files (the
// sharing table, FileObject, reads and writes); devices (NUL and the other reserved names); CreateFileA;
// size, position and end; times; the traced calls.

#include "kernel/file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <mutex>

namespace plat
{

// What a handle may do, from its access mask.
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

// A time argument that leaves the file's time as it is: none, zero, or all bits set.
static bool KeepsTime(const FILETIME *pft)
{
    return pft == nullptr || (pft->dwLowDateTime == 0 && pft->dwHighDateTime == 0) ||
           (pft->dwLowDateTime == 0xFFFFFFFFu && pft->dwHighDateTime == 0xFFFFFFFFu);
}

// Whether a time the host keeps is the one that was set, within nSlack nanoseconds (the host file system's
// resolution): a file system clamps times it cannot hold (before 1901 or after 2446 on ext4, for one).
static bool TimeKept(const struct timespec &tsKept, const struct timespec &tsSet, int64_t nSlack)
{
    __int128 n = ((__int128)tsKept.tv_sec - tsSet.tv_sec) * 1000000000 + (tsKept.tv_nsec - tsSet.tv_nsec);
    return n <= nSlack && n >= -nSlack;
}

// Open files, by host identity, for the sharing rules between the handles of this process.

struct FileObject;
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
bool ShareConflict(const FileId &id, unsigned nAccess, DWORD dwShare)
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
        if (host::lstat(sToDelete.c_str(), &st) == 0 && IdOf(st) == id) {
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
        ssize_t n = host::read(fd, (char *)pBuffer + nDone, nBytes - nDone);
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
    size_t nDone;
    nError = WriteAll(fd, pBuffer, nBytes, &nDone);
    if (pnWritten != nullptr)
        *pnWritten = (DWORD)nDone;
    if (nError != ERROR_SUCCESS) {
        SetLastError(nError);
        return FALSE;
    }
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
    if (sPath.size() > 4 && sPath.compare(0, 4, "\\\\.\\") == 0 &&
        sPath.find_first_of("\\/", 4) == std::string::npos) {
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
            host::unlinkat(at.dirfd, at.pszName, 0);
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
