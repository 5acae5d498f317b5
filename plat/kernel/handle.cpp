// handle.cpp - kernel handles for the Linux build: the table of live handles, the standard streams, and
// the calls that work on any handle (read, write, close, type), and the one write path of every host
// descriptor behind a handle.

#include "kernel/kernel.h"

#include <assert.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <mutex>
#include <unordered_set>

namespace plat {

static std::mutex mxHandles;
static std::unordered_set<KernelObject *> setHandles;

BOOL KernelObject::Read(void *, DWORD, DWORD *pnRead)
{
    if (pnRead != nullptr)
        *pnRead = 0;
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

BOOL KernelObject::Write(const void *, DWORD, DWORD *pnWritten)
{
    if (pnWritten != nullptr)
        *pnWritten = 0;
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

DWORD WriteAll(int fd, const void *pBuffer, size_t nBytes, size_t *pnDone)
{
    assert(pnDone != nullptr);
    *pnDone = 0;
    while (*pnDone < nBytes) {
        ssize_t n = host::write(fd, (const char *)pBuffer + *pnDone, nBytes - *pnDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            return ERROR_DISK_FULL;
        if (n < 0)
            return errno == EPIPE ? ERROR_BROKEN_PIPE : ErrorFromErrno(errno);
        *pnDone += (size_t)n;
    }
    return ERROR_SUCCESS;
}

HANDLE RegisterHandle(KernelObject *pObject)
{
    std::lock_guard<std::mutex> lock(mxHandles);
    setHandles.insert(pObject);
    return (HANDLE)pObject;
}

KernelObject *LookupHandle(HANDLE h)
{
    std::lock_guard<std::mutex> lock(mxHandles);
    auto it = setHandles.find((KernelObject *)h);
    if (it == setHandles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return *it;
}

void UnregisterHandle(HANDLE h)
{
    std::lock_guard<std::mutex> lock(mxHandles);
    setHandles.erase((KernelObject *)h);
}

std::vector<int> InheritedFds()
{
    std::lock_guard<std::mutex> lock(mxHandles);
    std::vector<int> afd;
    for (KernelObject *p : setHandles)
        if (p->InheritedFd() >= 0)
            afd.push_back(p->InheritedFd());
    return afd;
}

// A standard stream: a file descriptor the process was started with.
struct StdStream : KernelObject {
    int fd;
    explicit StdStream(int f) : fd(f) {}
    bool IsStatic() const override { return true; }
    int HostFd() const override { return fd; }
    DWORD FileType() const override { return isatty(fd) ? FILE_TYPE_CHAR : FILE_TYPE_PIPE; }
    BOOL Read(void *pBuffer, DWORD nBytes, DWORD *pnRead) override
    {
        ssize_t n;
        do
            n = host::read(fd, pBuffer, nBytes);
        while (n < 0 && errno == EINTR);
        if (pnRead != nullptr)
            *pnRead = n > 0 ? (DWORD)n : 0;
        if (n < 0) {
            SetLastError(ERROR_READ_FAULT);
            return FALSE;
        }
        return TRUE;
    }
    BOOL Write(const void *pBuffer, DWORD nBytes, DWORD *pnWritten) override
    {
        size_t nDone;
        DWORD nError = WriteAll(fd, pBuffer, nBytes, &nDone);
        if (pnWritten != nullptr)
            *pnWritten = (DWORD)nDone;
        if (nError != ERROR_SUCCESS) {
            SetLastError(nError);
            return FALSE;
        }
        return TRUE;
    }
};

} // namespace plat

HANDLE WINAPI GetStdHandle(DWORD nStdHandle)
{
    static plat::StdStream *apStreams[3];
    int fd;

    if (nStdHandle == STD_INPUT_HANDLE)
        fd = 0;
    else if (nStdHandle == STD_OUTPUT_HANDLE)
        fd = 1;
    else if (nStdHandle == STD_ERROR_HANDLE)
        fd = 2;
    else {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    if (fcntl(fd, F_GETFD) == -1)
        return NULL; // the process was started without this stream
    if (apStreams[fd] == nullptr)
        apStreams[fd] = new plat::StdStream(fd);
    return plat::RegisterHandle(apStreams[fd]);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped)
{
    plat::TracedCall call("ReadFile");
    plat::KernelObject *pObject = plat::LookupHandle(hFile);

    if (lpNumberOfBytesRead != NULL)
        *lpNumberOfBytesRead = 0;
    if (pObject == nullptr)
        return call.Bool(FALSE);
    if (lpOverlapped != NULL) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return call.Bool(FALSE);
    }
    return call.Bool(pObject->Read(lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead));
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped)
{
    plat::TracedCall call("WriteFile");
    plat::KernelObject *pObject = plat::LookupHandle(hFile);

    if (lpNumberOfBytesWritten != NULL)
        *lpNumberOfBytesWritten = 0;
    if (pObject == nullptr)
        return call.Bool(FALSE);
    if (lpOverlapped != NULL) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return call.Bool(FALSE);
    }
    return call.Bool(pObject->Write(lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten));
}

DWORD WINAPI GetFileType(HANDLE hFile)
{
    plat::KernelObject *pObject = plat::LookupHandle(hFile);

    if (pObject == nullptr)
        return FILE_TYPE_UNKNOWN;
    SetLastError(ERROR_SUCCESS);
    return pObject->FileType();
}

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    plat::TracedCall call("CloseHandle");
    plat::KernelObject *pObject = plat::LookupHandle(hObject);

    DWORD nError = ERROR_SUCCESS;

    if (pObject == nullptr)
        return call.Bool(FALSE);
    bool bFault = pObject->CloseFault(&nError);
    if (!pObject->IsStatic()) {
        plat::UnregisterHandle(hObject);
        delete pObject;
    }
    if (bFault) {
        SetLastError(nError);
        return call.Bool(FALSE);
    }
    return call.Bool(TRUE);
}
