// sync.cpp - named mutexes for the Linux build: CreateMutexA and OpenMutexA, one object per name across
// every process of one machine folder, gone when the last handle to it is closed, however its holders ended.
//
// A named object is a lock file in the machine folder's objects/ (one per namespace and name, the name's
// bytes in hexadecimal, so that names compare with case as the platform's do). Every handle is an open file
// description of it holding a shared lock on its byte 0 (an open-file-description lock: the host drops it
// when the last descriptor of that description closes, which a process's end does however it ends, and it
// does not go with another descriptor of the same file closed in the process). The object exists while
// anyone holds byte 0: an exclusive lock on it that can be had shows that nobody does. Byte 1 is the gate:
// held exclusively for the look and the taking, so that two processes that create one name at once agree on
// which made it. The files stay: removing one would race with a process opening it.
//
// What this layer does not do: the ownership of a mutex (a waiting thread, ReleaseMutex, WAIT_ABANDONED):
// CreateMutexA with bInitialOwner fails with ERROR_NOT_SUPPORTED, WaitForSingleObject on a mutex with
// ERROR_INVALID_HANDLE; security descriptors (every process of the machine may open every object). A
// handle made inheritable is kept open in the children that CreateProcessA starts with bInheritHandles: the
// object lives while they do, but the child's handle table does not show the handle.

#include "kernel/kernel.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace plat
{

namespace
{

// A mutex handle: the lock file's descriptor, or -1 for an object without a name (this process's alone).
struct MutexObject : KernelObject {
    int fd = -1;
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

// One lock on one byte of the lock file, taken (F_RDLCK, F_WRLCK) or let go (F_UNLCK); bWait waits for
// a lock held by another. False with errno when the lock cannot be had.
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

// The lock file of a name in the machine folder's objects/, made when bCreate. Names beginning "Global\\"
// are in the machine's namespace; "Local\\" and the other names in the one session's. ERROR_SUCCESS, or
// the platform's error for the name.
DWORD ObjectFile(const char *pszName, bool bCreate, int *pfd)
{
    *pfd = -1;
    std::string sName = pszName;
    std::string sSpace = "session";
    if (sName.size() > MAX_PATH)
        return ERROR_FILENAME_EXCED_RANGE;
    if (sName.compare(0, 7, "Global\\") == 0) {
        sSpace = "global";
        sName.erase(0, 7);
    } else if (sName.compare(0, 6, "Local\\") == 0) {
        sName.erase(0, 6);
    }
    // A further backslash names an object folder this layer does not have.
    if (sName.find('\\') != std::string::npos)
        return ERROR_PATH_NOT_FOUND;
    static const char szHex[] = "0123456789abcdef";
    std::string sFile = sSpace + "-";
    for (unsigned char c : sName) {
        sFile += szHex[c >> 4];
        sFile += szHex[c & 15];
    }
    std::string sDir = MachineRoot() + "/objects";
    if (bCreate && mkdir(sDir.c_str(), 0755) != 0 && errno != EEXIST)
        return ErrorFromErrno(errno);
    int fd = open((sDir + "/" + sFile).c_str(), O_RDWR | O_CLOEXEC | (bCreate ? O_CREAT : 0), 0644);
    if (fd < 0)
        return errno == ENOENT && !bCreate ? ERROR_FILE_NOT_FOUND : ErrorFromErrno(errno);
    *pfd = fd;
    return ERROR_SUCCESS;
}

// Takes a handle's hold on the object of an open lock file: *pbExisted tells whether anyone held it before.
// With bMustExist a name nobody holds is not taken (false, ERROR_FILE_NOT_FOUND). False with the last error.
bool HoldObject(int fd, bool bMustExist, bool *pbExisted)
{
    if (!LockByte(fd, F_WRLCK, 1, true))
        return SetLastError(ErrorFromErrno(errno)), false;
    bool bFree = LockByte(fd, F_WRLCK, 0, false);
    *pbExisted = !bFree;
    bool bHeld = false;
    DWORD nError = ERROR_FILE_NOT_FOUND;
    if (bFree && bMustExist)
        LockByte(fd, F_UNLCK, 0, false);
    else if (LockByte(fd, F_RDLCK, 0, false)) // from the exclusive lock, or beside the others' shared ones
        bHeld = true;
    else
        nError = ErrorFromErrno(errno);
    LockByte(fd, F_UNLCK, 1, false);
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
        DWORD nError = ObjectFile(pszName, bCreate, &pMutex->fd);
        if (nError != ERROR_SUCCESS || !HoldObject(pMutex->fd, !bCreate, &bExisted)) {
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
