// test_hostcall.cpp - the host answering what it seldom does, through the table of host calls (kernel.h's
// SetHostCall): the one write path of file handles, standard streams and copies when a write takes nothing
// or fails; a move without leave to replace when the target appears between its look and its rename. Part
// of test_file.

#include "filetest.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
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
        EXPECT_EQ(&call, plat::FindHostCall(call.pszName))
            << call.pszName << " is not found by its name once";
        EXPECT_EQ(call.pDefault, call.pCurrent) << call.pszName;
    }
    EXPECT_STREQ("read", plat::aHostCall[plat::HOST_READ].pszName);
    EXPECT_STREQ("write", plat::aHostCall[plat::HOST_WRITE].pszName);
    EXPECT_STREQ("lstat", plat::aHostCall[plat::HOST_LSTAT].pszName);
    EXPECT_STREQ("fstatat", plat::aHostCall[plat::HOST_FSTATAT].pszName);
    EXPECT_STREQ("renameat", plat::aHostCall[plat::HOST_RENAMEAT].pszName);
    EXPECT_STREQ("renameat2", plat::aHostCall[plat::HOST_RENAMEAT2].pszName);
    EXPECT_STREQ("unlinkat", plat::aHostCall[plat::HOST_UNLINKAT].pszName);
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

// ---------------------------------------------------------------------------------------------------------
// A move without leave to replace, when another process makes the target between the platform's look at it
// and the rename: the target made meanwhile stays as it is, and the move fails as if the look had seen it.

static std::string sRaceTarget; // the host path of the target the other process makes
static bool bRaceMade;

// Makes the target as another process would, once.
static void MakeRaceTarget()
{
    if (bRaceMade)
        return;
    bRaceMade = true;
    int nErrno = errno;
    FILE *f = fopen(sRaceTarget.c_str(), "wx");
    if (f != nullptr) {
        fputs("theirs", f);
        fclose(f);
    }
    errno = nErrno;
}

typedef int (*Renameat2Fn)(int, const char *, int, const char *, unsigned);

static int RenameAfterTheTargetCame(int dirfdFrom, const char *pszFrom, int dirfdTo, const char *pszTo,
                                    unsigned nFlags)
{
    MakeRaceTarget();
    auto pDefault = (Renameat2Fn)plat::FindHostCall("renameat2")->pDefault;
    return pDefault(dirfdFrom, pszFrom, dirfdTo, pszTo, nFlags);
}

// Whether the host's file system under the machine refuses to replace with RENAME_NOREPLACE (where it
// cannot, the look is all the platform has, and nothing is to be proved here).
static bool HostRefusesToReplace()
{
    std::string a = Host("probe.a"), b = Host("probe.b");
    FILE *f = fopen(a.c_str(), "w");
    if (f != nullptr)
        fclose(f);
    f = fopen(b.c_str(), "w");
    if (f != nullptr)
        fclose(f);
    auto pDefault = (Renameat2Fn)plat::FindHostCall("renameat2")->pDefault;
    bool bRefuses =
        pDefault(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) != 0 && errno == EEXIST;
    unlink(a.c_str());
    unlink(b.c_str());
    return bRefuses;
}

struct RaceCase {
    const char *pszName;
    bool bFolder; // the source is a folder
    DWORD dwFlags;
    bool bMoveA; // MoveFileA rather than MoveFileExA
};
static const RaceCase kRaces[] = {
    {"MoveFileExA without flags", false, 0, false},
    {"MoveFileExA, copy allowed", false, MOVEFILE_COPY_ALLOWED, false},
    {"MoveFileExA, write through", false, MOVEFILE_WRITE_THROUGH, false},
    {"MoveFileA", false, 0, true},
    {"MoveFileExA of a folder", true, 0, false},
};

TEST_F(HostCalls, AMoveWithoutLeaveToReplaceLeavesATargetMadeAfterItsLook)
{
    if (!HostRefusesToReplace())
        GTEST_SKIP() << "the host's file system cannot refuse to replace in a rename";
    ASSERT_TRUE(CreateDirectoryA("d", NULL));
    for (const RaceCase &c : kRaces) {
        SCOPED_TRACE(c.pszName);
        for (const char *psz : {"src", "d\\Target.txt"})
            if (!DeleteFileA(psz))
                RemoveDirectoryA(psz);
        if (c.bFolder)
            ASSERT_TRUE(CreateDirectoryA("src", NULL));
        else
            Make("src", "ours");
        // The target's folder is read first, so that the look is answered from a folder kept open too.
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("d\\Target.txt"));
        sRaceTarget = Host("d/Target.txt");
        bRaceMade = false;
        ASSERT_TRUE(plat::SetHostCall("renameat2", (plat::HostCallPtr)RenameAfterTheTargetCame));
        SetLastError(0);
        BOOL b =
            c.bMoveA ? MoveFileA("src", "d\\Target.txt") : MoveFileExA("src", "d\\Target.txt", c.dwFlags);
        DWORD dwError = GetLastError();
        plat::SetHostCall("renameat2", nullptr);
        EXPECT_TRUE(bRaceMade) << "the move did not rename through the table";
        EXPECT_FALSE(b);
        EXPECT_EQ((DWORD)ERROR_ALREADY_EXISTS, dwError);
        EXPECT_EQ("theirs", ReadAll("d\\Target.txt")) << "the target made after the look was replaced";
        if (c.bFolder)
            EXPECT_EQ((DWORD)FILE_ATTRIBUTE_DIRECTORY, GetFileAttributesA("src"));
        else
            EXPECT_EQ("ours", ReadAll("src")) << "the source went";
    }
}

// The look itself goes through the table: a test can act right after it too.
static int nTargetLooks;
static int CountingLstat(const char *pszPath, struct stat *pst)
{
    if (strstr(pszPath, "Target.txt") != nullptr)
        nTargetLooks++;
    return ((int (*)(const char *, struct stat *))plat::FindHostCall("lstat")->pDefault)(pszPath, pst);
}
static int CountingFstatat(int dirfd, const char *pszName, struct stat *pst, int nFlags)
{
    if (strstr(pszName, "Target.txt") != nullptr)
        nTargetLooks++;
    return ((int (*)(int, const char *, struct stat *, int))plat::FindHostCall("fstatat")->pDefault)(
        dirfd, pszName, pst, nFlags);
}

TEST_F(HostCalls, TheMovesLookAtItsTargetGoesThroughTheTable)
{
    ASSERT_TRUE(CreateDirectoryA("d", NULL));
    for (const char *pszTarget : {"Target.txt", "d\\Target.txt"}) {
        SCOPED_TRACE(pszTarget);
        Make("src", "ours");
        Make(pszTarget, "theirs");
        nTargetLooks = 0;
        plat::SetHostCall("lstat", (plat::HostCallPtr)CountingLstat);
        plat::SetHostCall("fstatat", (plat::HostCallPtr)CountingFstatat);
        EXPECT_FALSE(MoveFileExA("src", pszTarget, 0));
        EXPECT_EQ((DWORD)ERROR_ALREADY_EXISTS, GetLastError());
        plat::SetHostCall(nullptr, nullptr);
        EXPECT_GE(nTargetLooks, 1);
        EXPECT_TRUE(DeleteFileA("src"));
        EXPECT_TRUE(DeleteFileA(pszTarget));
    }
}

} // namespace
