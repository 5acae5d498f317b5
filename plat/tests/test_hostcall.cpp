// test_hostcall.cpp - the host answering what it seldom does, through the table of host calls (kernel.h's
// SetHostCall): the one write path of file handles, standard streams and copies when a write takes nothing
// or fails. Part of test_file.

#include "filetest.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>

namespace
{

// The table's defaults come back after every test.
class HostCalls : public Files
{
  protected:
    void TearDown() override
    {
        plat::SetHostCall(nullptr, nullptr);
        Files::TearDown();
    }
};

static ssize_t WriteAllOfIt(int, const void *, size_t nBytes)
{
    return (ssize_t)nBytes;
}

TEST_F(HostCalls, TheTableNamesEachCallOnceAndPutsItsDefaultBack)
{
    for (int i = 0; i < plat::HOST_CALL_COUNT; i++) {
        const plat::HostCall &call = plat::aHostCall[i];
        EXPECT_EQ(&call, plat::FindHostCall(call.pszName)) << call.pszName << " is not found by its name once";
        EXPECT_EQ(call.pDefault, call.pCurrent) << call.pszName;
    }
    EXPECT_STREQ("read", plat::aHostCall[plat::HOST_READ].pszName);
    EXPECT_STREQ("write", plat::aHostCall[plat::HOST_WRITE].pszName);
    EXPECT_EQ(nullptr, plat::FindHostCall("no such call"));
    EXPECT_FALSE(plat::SetHostCall("no such call", nullptr));

    auto pOwn = (plat::HostCallPtr)WriteAllOfIt;
    ASSERT_TRUE(plat::SetHostCall("write", pOwn));
    EXPECT_EQ(pOwn, plat::FindHostCall("write")->pCurrent);
    ASSERT_TRUE(plat::SetHostCall("write", nullptr));
    EXPECT_EQ(plat::FindHostCall("write")->pDefault, plat::FindHostCall("write")->pCurrent);
}

// How the host's write answers: the first call takes nFirst bytes (all when negative) without writing
// them, every later one ends as nResult with nErrno. A write that takes nothing sets no errno: what errno
// holds then is whatever an earlier call left there (EPIPE here, as a closed pipe would leave it).
struct WriteAnswer {
    const char *pszName;
    ssize_t nFirst;
    ssize_t nResult;
    int nErrno;
    DWORD dwError; // the platform's error the write must fail with
};
static const WriteAnswer kAnswers[] = {
    {"takes nothing, EPIPE left from before", 0, 0, EPIPE, ERROR_DISK_FULL},
    {"takes nothing, ENOENT left from before", 0, 0, ENOENT, ERROR_DISK_FULL},
    {"takes 3 bytes, then nothing", 3, 0, EPIPE, ERROR_DISK_FULL},
    {"a full disk", 0, -1, ENOSPC, ERROR_DISK_FULL},
    {"a quota reached after 3 bytes", 3, -1, EDQUOT, ERROR_DISK_FULL},
    {"a pipe without its reader", 0, -1, EPIPE, ERROR_BROKEN_PIPE},
    {"a read-only file system", 0, -1, EROFS, ERROR_WRITE_PROTECT},
};

static const WriteAnswer *pAnswer;
static int nWrites;

static ssize_t AnsweringWrite(int fd, const void *pBuffer, size_t nBytes)
{
    (void)fd;
    (void)pBuffer;
    if (nWrites++ == 0 && pAnswer->nFirst != 0)
        return pAnswer->nFirst < 0 ? (ssize_t)nBytes : std::min(pAnswer->nFirst, (ssize_t)nBytes);
    errno = pAnswer->nErrno;
    return pAnswer->nResult;
}

// The three writers that share the write path. Each writes the 10 bytes "0123456789" and tells the bytes
// written (or -1 where the call does not say) and the error.
struct Writer {
    const char *pszName;
    bool (*pWrite)(DWORD *pnWritten);
};

static bool WriteToFile(DWORD *pnWritten)
{
    HANDLE h = Open("w.txt", GENERIC_WRITE, 0, CREATE_ALWAYS);
    EXPECT_NE(INVALID_HANDLE_VALUE, h);
    plat::SetHostCall("write", (plat::HostCallPtr)AnsweringWrite);
    BOOL b = WriteFile(h, "0123456789", 10, pnWritten, NULL);
    DWORD dwError = GetLastError();
    plat::SetHostCall("write", nullptr);
    CloseHandle(h);
    SetLastError(dwError);
    return b != FALSE;
}

static bool WriteToStream(DWORD *pnWritten)
{
    HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
    EXPECT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_NE((HANDLE)NULL, h);
    plat::SetHostCall("write", (plat::HostCallPtr)AnsweringWrite);
    BOOL b = WriteFile(h, "0123456789", 10, pnWritten, NULL);
    DWORD dwError = GetLastError();
    plat::SetHostCall("write", nullptr);
    SetLastError(dwError);
    return b != FALSE;
}

static bool CopyAFile(DWORD *pnWritten)
{
    Make("from.txt", "0123456789");
    *pnWritten = (DWORD)-1;
    plat::SetHostCall("write", (plat::HostCallPtr)AnsweringWrite);
    BOOL b = CopyFileA("from.txt", "to.txt", TRUE);
    DWORD dwError = GetLastError();
    plat::SetHostCall("write", nullptr);
    // A copy that failed leaves no target behind.
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("to.txt"));
    SetLastError(dwError);
    return b != FALSE;
}

static const Writer kWriters[] = {
    {"WriteFile on a file", WriteToFile},
    {"WriteFile on a standard stream", WriteToStream},
    {"CopyFileA", CopyAFile},
};

TEST_F(HostCalls, AWriteThatFailsOrTakesNothingFailsAlikeForFilesStreamsAndCopies)
{
    for (const Writer &w : kWriters)
        for (const WriteAnswer &a : kAnswers) {
            SCOPED_TRACE(std::string(w.pszName) + ", the host's write " + a.pszName);
            DeleteFileA("w.txt");
            DeleteFileA("from.txt");
            DeleteFileA("to.txt");
            pAnswer = &a;
            nWrites = 0;
            DWORD nWritten = 12345;
            SetLastError(0);
            EXPECT_FALSE(w.pWrite(&nWritten));
            EXPECT_EQ(a.dwError, GetLastError());
            if (nWritten != (DWORD)-1) {
                EXPECT_EQ((DWORD)std::max<ssize_t>(a.nFirst, 0), nWritten) << "the bytes the host took";
            }
        }
}

// A write that takes two bytes at a time, each after an interruption.
static std::string sTaken;
static bool bInterrupted;
static ssize_t WriteTwoBytes(int, const void *pBuffer, size_t nBytes)
{
    bInterrupted = !bInterrupted;
    if (bInterrupted) {
        errno = EINTR;
        return -1;
    }
    size_t nTaken = std::min<size_t>(nBytes, 2);
    sTaken.append((const char *)pBuffer, nTaken);
    return (ssize_t)nTaken;
}

TEST_F(HostCalls, AWriteCutShortGoesOnWithTheRest)
{
    auto pShort = (plat::HostCallPtr)WriteTwoBytes;
    for (const Writer &w : kWriters) {
        SCOPED_TRACE(w.pszName);
        DeleteFileA("w.txt");
        DeleteFileA("from.txt");
        DeleteFileA("to.txt");
        sTaken.clear();
        bInterrupted = false;
        HANDLE h = INVALID_HANDLE_VALUE;
        DWORD nWritten = 0;
        if (w.pWrite == WriteToFile)
            h = Open("w.txt", GENERIC_WRITE, 0, CREATE_ALWAYS);
        else if (w.pWrite == WriteToStream)
            h = GetStdHandle(STD_OUTPUT_HANDLE);
        else
            Make("from.txt", "0123456789");
        plat::SetHostCall("write", pShort);
        BOOL b = h != INVALID_HANDLE_VALUE ? WriteFile(h, "0123456789", 10, &nWritten, NULL)
                                           : CopyFileA("from.txt", "to.txt", TRUE);
        plat::SetHostCall("write", nullptr);
        EXPECT_TRUE(b) << GetLastError();
        EXPECT_EQ("0123456789", sTaken);
        if (h != INVALID_HANDLE_VALUE) {
            EXPECT_EQ(10u, nWritten);
            if (w.pWrite == WriteToFile)
                CloseHandle(h);
        }
    }
}

} // namespace
