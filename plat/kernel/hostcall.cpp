// hostcall.cpp - the table of the host calls the file units make through it (kernel.h's host:: functions):
// each one's name, the function the platform uses by default and the one in use, so that a test can put its
// own function in one place and act where the host answers (a write that takes nothing, a target made between
// a look and the rename after it).

#include "kernel/kernel.h"

#include <assert.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace plat
{

// The defaults: the C library's calls as they stand.
static ssize_t DefaultRead(int fd, void *pBuffer, size_t nBytes)
{
    return ::read(fd, pBuffer, nBytes);
}

static ssize_t DefaultWrite(int fd, const void *pBuffer, size_t nBytes)
{
    return ::write(fd, pBuffer, nBytes);
}

static int DefaultLstat(const char *pszPath, struct stat *pst)
{
    return ::lstat(pszPath, pst);
}

static int DefaultFstatat(int dirfd, const char *pszName, struct stat *pst, int nFlags)
{
    return ::fstatat(dirfd, pszName, pst, nFlags);
}

static int DefaultRenameat(int dirfdFrom, const char *pszFrom, int dirfdTo, const char *pszTo)
{
    return ::renameat(dirfdFrom, pszFrom, dirfdTo, pszTo);
}

// By its number: older C libraries do not name it.
static int DefaultRenameat2(int dirfdFrom, const char *pszFrom, int dirfdTo, const char *pszTo,
                            unsigned nFlags)
{
    return (int)syscall(SYS_renameat2, dirfdFrom, pszFrom, dirfdTo, pszTo, nFlags);
}

static int DefaultUnlinkat(int dirfd, const char *pszName, int nFlags)
{
    return ::unlinkat(dirfd, pszName, nFlags);
}

#define HOST_DEFAULT(f) ((HostCallPtr)(f))

HostCall aHostCall[HOST_CALL_COUNT] = {
    {"read", HOST_DEFAULT(DefaultRead), HOST_DEFAULT(DefaultRead)},
    {"write", HOST_DEFAULT(DefaultWrite), HOST_DEFAULT(DefaultWrite)},
    {"lstat", HOST_DEFAULT(DefaultLstat), HOST_DEFAULT(DefaultLstat)},
    {"fstatat", HOST_DEFAULT(DefaultFstatat), HOST_DEFAULT(DefaultFstatat)},
    {"renameat", HOST_DEFAULT(DefaultRenameat), HOST_DEFAULT(DefaultRenameat)},
    {"renameat2", HOST_DEFAULT(DefaultRenameat2), HOST_DEFAULT(DefaultRenameat2)},
    {"unlinkat", HOST_DEFAULT(DefaultUnlinkat), HOST_DEFAULT(DefaultUnlinkat)},
};

const HostCall *FindHostCall(const char *pszName)
{
    assert(pszName != nullptr);
    for (const HostCall &call : aHostCall)
        if (strcmp(call.pszName, pszName) == 0)
            return &call;
    return nullptr;
}

bool SetHostCall(const char *pszName, HostCallPtr pNew)
{
    if (pszName == nullptr) {
        for (HostCall &call : aHostCall)
            call.pCurrent = call.pDefault;
        return true;
    }
    HostCall *pCall = const_cast<HostCall *>(FindHostCall(pszName));
    if (pCall == nullptr)
        return false;
    pCall->pCurrent = pNew != nullptr ? pNew : pCall->pDefault;
    return true;
}

} // namespace plat
