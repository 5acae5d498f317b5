// fileops.cpp - files and folders of the emulated machine by name: attributes, deleting, making and removing
// folders, copying, and moving (also a move left for the machine's next start, recorded by pending.cpp).
//
// The parts of this file, in order:
//   helpers     the current directory's identity (a folder in use), copying bytes (through handle.cpp's
//               WriteAll)
//   by name     GetFileAttributesA, SetFileAttributesA, DeleteFileA, CreateDirectoryA, RemoveDirectoryA
//               (the bodies, ...Impl)
//   copy        CopyFileA: the executable bits, the target made or replaced
//   move        a move left for the next start (MoveFileDelayed); MoveFileImpl: the look at the target,
//               then a rename that refuses to replace unless leave is given, or a copy and delete across
//               file systems
//   Win32       the calls themselves, each a traced call of the fault switch
// What a name is on the host (attributes, the read-only rules) is fileattr.cpp's; open files and the
// sharing rules filehandle.cpp's.

#include "kernel/file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace plat
{

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
        ssize_t n = host::read(fdFrom, aBuffer, nBuffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *pnError = ErrorFromErrno(errno);
            return false;
        }
        if (n == 0)
            return true;
        nTotal += n;
        size_t nDone;
        *pnError = WriteAll(fdTo, aBuffer, (size_t)n, &nDone);
        if (*pnError != ERROR_SUCCESS)
            return false;
        if ((size_t)n < nBuffer && nTotal == nSize)
            return true;
    }
}

} // namespace plat

using namespace plat;

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
    if (host::unlinkat(At(path).dirfd, At(path).pszName, 0) != 0)
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
        if (host::unlinkat(At(path).dirfd, At(path).pszName, 0) != 0)
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
    if (host::unlinkat(At(path).dirfd, At(path).pszName, AT_REMOVEDIR) != 0)
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
        host::unlinkat(At(dest).dirfd, At(dest).pszName, 0);
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
            atTarget =
                dest.pDir != nullptr ? HostAt{dest.pDir->fd, sTargetName.c_str(), &sTarget} : AtPath(sTarget);
        } else if (!(dwFlags & MOVEFILE_REPLACE_EXISTING)) {
            return Fail(ERROR_ALREADY_EXISTS, FALSE);
        } else {
            if (S_ISDIR(lstSrc.st_mode) || S_ISDIR(lstDest.st_mode) || IsDirectory(At(dest)) ||
                IsReadOnly(At(dest), lstDest))
                return Fail(ERROR_ACCESS_DENIED, FALSE);
            if (ShareConflict(IdOf(lstDest), ACC_DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
                return Fail(ERROR_SHARING_VIOLATION, FALSE);
            bReplace = true;
        }
    }
    if (ShareConflict(IdOf(lstSrc), ACC_DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return Fail(ERROR_SHARING_VIOLATION, FALSE);
    // Without leave to replace, a target that another process made since the look above still stays: the
    // host refuses to replace it (where its file system can; else the look above is all there is).
    if (!bReplace && sTargetName.empty()) {
        int r =
            host::renameat2(atSrc.dirfd, atSrc.pszName, atTarget.dirfd, atTarget.pszName, RENAME_NOREPLACE);
        if (r == 0)
            return TRUE;
        if (errno == EEXIST)
            return Fail(ERROR_ALREADY_EXISTS, FALSE);
        if (errno != EINVAL && errno != ENOSYS && errno != EXDEV)
            return Fail(ErrorFromErrno(errno), FALSE);
    }
    if (host::renameat(atSrc.dirfd, atSrc.pszName, atTarget.dirfd, atTarget.pszName) == 0)
        return TRUE;
    if (errno != EXDEV || !S_ISREG(lstSrc.st_mode) || !(dwFlags & MOVEFILE_COPY_ALLOWED))
        return Fail(errno == EXDEV ? ERROR_NOT_SAME_DEVICE : ErrorFromErrno(errno), FALSE);
    // To another host file system: a file is copied, then the original deleted.
    if (!CopyFileA(lpExistingFileName, lpNewFileName, bReplace ? FALSE : TRUE))
        return FALSE;
    if (host::unlinkat(atSrc.dirfd, atSrc.pszName, 0) != 0) {
        DWORD nError = ErrorFromErrno(errno);
        host::unlinkat(At(dest).dirfd, At(dest).pszName, 0);
        return Fail(nError, FALSE);
    }
    return TRUE;
}

// The calls themselves: each one run as a traced call of the fault switch.

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
