// file.h - what the file units share: where a host entry is (HostAt), the attribute store (fileattr.cpp),
// file times (filetime.cpp), the sharing rules of open files (filehandle.cpp). The file calls themselves
// are the Win32 names:
//   filehandle.cpp  CreateFileA, GetFileSize, SetFilePointer, SetEndOfFile, GetFileTime, SetFileTime; the
//                   reads, writes and closing of a file handle are in handle.cpp
//   fileops.cpp     GetFileAttributesA, SetFileAttributesA, DeleteFileA, CreateDirectoryA, RemoveDirectoryA,
//                   CopyFileA, MoveFileA, MoveFileExA
//   filefind.cpp    FindFirstFileA, FindNextFileA, FindClose
//   filetime.cpp    FileTimeToSystemTime, SystemTimeToFileTime, GetSystemTimeAsFileTime
#pragma once

#include "kernel/kernel.h"

#include <fcntl.h>
#include <stdint.h>
#include <sys/stat.h>
#include <time.h>

#include <string>
#include <utility>

namespace plat
{

// Fails a call: sets the error and returns the call's failure value.
template <typename T> T Fail(DWORD nError, T result)
{
    SetLastError(nError);
    return result;
}

// The host folder of a host path ("/" for an entry of the root).
inline std::string HostParent(const std::string &sHost)
{
    size_t n = sHost.rfind('/');
    return n == 0 ? std::string("/") : sHost.substr(0, n);
}

// Where a host entry is, for the calls made on it: a name in an open folder (dirfd), or, with dirfd
// AT_FDCWD, the whole host path. psHost is the whole host path either way.
struct HostAt {
    int dirfd;
    const char *pszName;
    const std::string *psHost;
};

inline HostAt AtPath(const std::string &sHost)
{
    return HostAt{AT_FDCWD, sHost.c_str(), &sHost};
}

// A resolved path's last name: in its folder when that is held open, else by the whole host path.
inline HostAt At(const ResolvedPath &path)
{
    if (path.pDir != nullptr)
        return HostAt{path.pDir->fd, path.sLeaf.c_str(), &path.sHost};
    return AtPath(path.sHost);
}

// filetime.cpp: FILETIME counts (100 ns ticks from 1601-01-01, UTC) and host times.
FILETIME FileTimeFromTicks(int64_t n);
int64_t TicksFromFileTime(const FILETIME &ft);
FILETIME FileTimeFromTimespec(const struct timespec &ts);
FILETIME FileTimeFromStatx(const struct statx_timestamp &t);
// From the unsigned count, so that every time (up to all bits set) converts without an overflow.
struct timespec TimespecFromFileTime(const FILETIME &ft);

// fileattr.cpp: the attribute store.

// The attribute bits kept in user.DOSATTRIB: hidden, system, archive, and for folders read-only.
const DWORD DOS_BITS = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
const DWORD SETTABLE_BITS = FILE_ATTRIBUTE_READONLY | DOS_BITS;

// Whether the host has the extended-attribute calls relative to a folder (asked once).
bool XattrAtCalls();
// What an entry keeps in extended attributes: its DOS bits and the creation time a program set, each when
// stored. One listxattr tells which are there, so that an entry with none, the usual case, costs one call.
struct StoredValues {
    bool bDosBits = false;
    DWORD dwDosBits = 0;
    bool bCreationTime = false;
    int64_t nCreationTime = 0;
};
void ReadStoredValues(const HostAt &at, StoredValues *pValues);
// Stores an entry's DOS bits: ERROR_SUCCESS, or the platform's error when they could not be stored and do not
// read back as asked anyway. An entry without stored bits reads as archive only (a file) or plain (a
// folder), so asking for exactly that needs nothing stored: it succeeds on a file system without extended
// attributes too.
DWORD WriteDosBits(const HostAt &at, int fd, bool bDir, DWORD dwBits);
// The attributes of an entry that is not a link, from its host mode and its stored DOS bits (bStored false
// when none are stored).
DWORD AttributesFromBits(mode_t nMode, bool bStored, DWORD dwBits);
// The attributes of a link: a reparse point, a folder when it points to one.
DWORD LinkAttributes(const HostAt &at);
// The attributes of a host entry from its lstat.
DWORD AttributesOf(const HostAt &at, const struct stat &lst);
// Whether an entry (not a link) is read-only. A file's read-only bit is its missing write permission, so
// only a folder's needs its stored bits.
bool IsReadOnly(const HostAt &at, const struct stat &lst);
// The creation time: the one a program set, else the host's birth time, else the last write time.
FILETIME CreationTimeOf(const HostAt &at, int fd, const struct stat &st);
// Keeps a creation time a program sets: ERROR_SUCCESS, or the platform's error when it could not be stored
// and does not read back as asked anyway (the birth time may be just that).
DWORD SetCreationTime(const HostAt &at, int fd, const struct stat &st, const FILETIME &ft);
// Makes a file read-only (no write permission for anyone) or writable again (write permission for the owner,
// and for the group and others where they may read, within the umask). ERROR_SUCCESS, or the platform's
// error when the host refuses. pst, when given, is the file's stat (links followed), taken just before.
DWORD SetReadOnlyMode(const HostAt &at, int fd, bool bReadOnly, const struct stat *pst = nullptr);
// The lstat of a resolved path's last name: the one taken while it was looked up, or a new one. False when it
// is not there.
bool LstatOf(const ResolvedPath &path, struct stat *pst);
// The same with a link followed to what it points to.
bool StatOf(const ResolvedPath &path, struct stat *pst);
// Whether the resolved path's last name names a directory (links followed).
bool IsDirectory(const HostAt &at);

// filehandle.cpp: open files, by host identity, for the sharing rules between the handles of this process.
// What a handle may do, from its access mask.
enum { ACC_READ = 1, ACC_WRITE = 2, ACC_DELETE = 4, ACC_ATTRIBUTES = 8 };
typedef std::pair<dev_t, ino_t> FileId;
inline FileId IdOf(const struct stat &st)
{
    return FileId(st.st_dev, st.st_ino);
}
// Whether a new use of a file (access bits and share mode) conflicts with the handles open on it. Handles
// without read, write or delete access (attributes only) take no part.
bool ShareConflict(const FileId &id, unsigned nAccess, DWORD dwShare);

} // namespace plat
