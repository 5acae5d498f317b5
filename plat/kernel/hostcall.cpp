// hostcall.cpp - the table of the host calls the file units make through it (kernel.h's host:: functions):
// each one's name, the function the platform uses by default and the one in use, so that a test can put its
// own function in one place and act where the host answers (a write that takes nothing, a target made between
// a look and the rename after it).

#include "kernel/kernel.h"

#include <assert.h>
#include <string.h>
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

#define HOST_DEFAULT(f) ((HostCallPtr)(f))

HostCall aHostCall[HOST_CALL_COUNT] = {
    {"read", HOST_DEFAULT(DefaultRead), HOST_DEFAULT(DefaultRead)},
    {"write", HOST_DEFAULT(DefaultWrite), HOST_DEFAULT(DefaultWrite)},
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
