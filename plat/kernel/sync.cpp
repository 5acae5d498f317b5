// sync.cpp - named mutexes for the Linux build: CreateMutexA and OpenMutexA, one object per name across
// every process of one machine folder, gone when the last handle to it is closed, however its holders ended.
//
// Every named object is a pair of bytes of the machine folder's objects.lock, at an offset given by a 64-bit
// hash of its namespace and name (two names share a pair only by a hash collision, one in 2^61 for any
// two). Each handle is an open file description of the file holding a shared lock on the pair's first byte
// (an open-file-description lock: the host drops it when the last descriptor of that description closes,
// which a process's end does however it ends, and it does not go with another descriptor of the same file
// closed in the process, as a process-wide lock would). The object exists while anyone holds that byte: an
// exclusive lock on it that can be had shows that nobody does. The second byte is the gate: held
// exclusively for the look and the taking, so that two processes that create one name at once agree on
// which made it. The file itself never changes: locks are no writes.
//
// What this layer does not do: the ownership of a mutex (a waiting thread, ReleaseMutex, WAIT_ABANDONED):
// CreateMutexA with bInitialOwner fails with ERROR_NOT_SUPPORTED, WaitForSingleObject on a mutex with
// ERROR_INVALID_HANDLE; security descriptors (every process of the machine may open every object). A
// handle made inheritable is kept open in the children that CreateProcessA starts with bInheritHandles: the
// object lives while they do, but the child's handle table does not show the handle.

#include "kernel/kernel.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <unistd.h>

#include <string>

namespace plat
{

namespace
{

// A mutex handle: a descriptor of objects.lock and the offset of its name's pair of bytes, or -1 for an
// object without a name (this process's alone).
struct MutexObject : KernelObject {
    int fd = -1;
    off_t nAt = 0;
    bool bInherit = false;
    ~MutexObject() override
    {
        if (fd >= 0)
            close(fd);
    }
    int InheritedFd() const override
    {
        return bInherit ? fd : -1;
    }
};

// One lock on one byte of objects.lock, taken (F_RDLCK, F_WRLCK) or let go (F_UNLCK); bWait waits for a
// lock held by another. False with errno when the lock cannot be had.
bool LockByte(int fd, short nType, off_t nByte, bool bWait)
{
    struct flock fl;
    memset(&fl, 0, sizeof fl);
    fl.l_type = nType;
    fl.l_whence = SEEK_SET;
    fl.l_start = nByte;
    fl.l_len = 1;
    int rc;
    do
        rc = fcntl(fd, bWait ? F_OFD_SETLKW : F_OFD_SETLK, &fl);
    while (rc != 0 && errno == EINTR);
    return rc == 0;
}

// A new descriptor of objects.lock and the offset of a name's pair of bytes in it. Names beginning
// "Global\\" are in the machine's namespace; "Local\\" and the other names in the one session's.
// ERROR_SUCCESS, or the platform's error for the name.
DWORD ObjectBytes(const char *pszName, int *pfd, off_t *pnAt)
{
    *pfd = -1;
    std::string sName = pszName;
    std::string sKey = "session:";
    if (sName.size() > MAX_PATH)
        return ERROR_FILENAME_EXCED_RANGE;
    if (sName.compare(0, 7, "Global\\") == 0) {
        sKey = "global:";
        sName.erase(0, 7);
    } else if (sName.compare(0, 6, "Local\\") == 0) {
        sName.erase(0, 6);
    }
    // A further backslash names an object folder this layer does not have.
    if (sName.find('\\') != std::string::npos)
        return ERROR_PATH_NOT_FOUND;
    uint64_t nHash = 14695981039346656037ull; // FNV-1a, 64 bits
    for (unsigned char c : sKey + sName) {
        nHash ^= c;
        nHash *= 1099511628211ull;
    }
    *pnAt = (off_t)((nHash >> 3) * 2); // below 2^62: within what a lock's offset may be
    MachineRoot();                     // made with the machine
    int fd = open(ObjectLockPath().c_str(), O_RDWR | O_CLOEXEC | O_CREAT, 0644);
    if (fd < 0)
        return ErrorFromErrno(errno);
    *pfd = fd;
    return ERROR_SUCCESS;
}

// Takes a handle's hold on the object at nAt: *pbExisted tells whether anyone held it before. With
// bMustExist a name nobody holds is not taken (false, ERROR_FILE_NOT_FOUND). False with the last error.
bool HoldObject(int fd, off_t nAt, bool bMustExist, bool *pbExisted)
{
    if (!LockByte(fd, F_WRLCK, nAt + 1, true))
        return SetLastError(ErrorFromErrno(errno)), false;
    bool bFree = LockByte(fd, F_WRLCK, nAt, false);
    *pbExisted = !bFree;
    bool bHeld = false;
    DWORD nError = ERROR_FILE_NOT_FOUND;
    if (bFree && bMustExist)
        LockByte(fd, F_UNLCK, nAt, false);
    else if (LockByte(fd, F_RDLCK, nAt, false)) // from the exclusive lock, or beside the others' shared ones
        bHeld = true;
    else
        nError = ErrorFromErrno(errno);
    LockByte(fd, F_UNLCK, nAt + 1, false);
    if (!bHeld)
        SetLastError(nError);
    return bHeld;
}

HANDLE MutexImpl(const char *pszName, bool bCreate, bool bInherit)
{
    MutexObject *pMutex = new MutexObject;
    pMutex->bInherit = bInherit;
    bool bExisted = false;
    if (pszName != nullptr && *pszName != '\0') {
        DWORD nError = ObjectBytes(pszName, &pMutex->fd, &pMutex->nAt);
        if (nError != ERROR_SUCCESS || !HoldObject(pMutex->fd, pMutex->nAt, !bCreate, &bExisted)) {
            if (nError != ERROR_SUCCESS)
                SetLastError(nError);
            nError = GetLastError();
            delete pMutex;
            SetLastError(nError);
            return NULL;
        }
    } else if (!bCreate) {
        delete pMutex;
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    HANDLE h = RegisterHandle(pMutex);
    SetLastError(bCreate && bExisted ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

} // namespace

} // namespace plat

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName)
{
    if (bInitialOwner) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return NULL;
    }
    return plat::MutexImpl(lpName, true, lpMutexAttributes != NULL && lpMutexAttributes->bInheritHandle);
}

HANDLE WINAPI OpenMutexA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName)
{
    (void)dwDesiredAccess; // every process may open every object here
    return plat::MutexImpl(lpName, false, bInheritHandle != FALSE);
}
