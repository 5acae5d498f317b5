// test_runlock.cpp - the rule of one installer or uninstaller at a time as the programs take it: the object
// taken when nobody holds it, refused while another handle to it is open (another program's, here one this
// test opens itself), taken again once that is closed, passed on to a child only when asked; the refusal's
// exit code. The two programs at once are covered by tests/single-run.sh and tests/wine-single-run.sh.

#include "resource.h"
#include "runlock.h"

#include <gtest/gtest.h>

#include <string.h>

TEST(RunLock, TakenOnlyWhileNobodyHoldsIt)
{
    EXPECT_EQ(LockHeld(), 0);
    ASSERT_EQ(LockTake(0), LOCK_TAKEN);
    EXPECT_EQ(LockHeld(), 1);
    LockRelease();
    EXPECT_EQ(LockHeld(), 0);

    // Another program's handle: the rule's object exists.
    HANDLE hOther = CreateMutexA(NULL, FALSE, szLockName);
    ASSERT_NE(hOther, (HANDLE)NULL);
    EXPECT_EQ(LockTake(1), LOCK_BUSY);
    EXPECT_EQ(LockHeld(), 1);
    // The refused take keeps no handle: closing the other's frees the name.
    CloseHandle(hOther);
    EXPECT_EQ(LockHeld(), 0);
    ASSERT_EQ(LockTake(1), LOCK_TAKEN);
    LockRelease();
    LockRelease(); // nothing held: nothing happens
    EXPECT_EQ(LockHeld(), 0);
}

// In the machine's namespace: another session's program (a name without the prefix is the session's) does
// not share the object.
TEST(RunLock, MachineWideName)
{
    EXPECT_EQ(strncmp(szLockName, "Global\\", 7), 0);
    HANDLE hSession = CreateMutexA(NULL, FALSE, szLockName + 7);
    ASSERT_NE(hSession, (HANDLE)NULL);
    EXPECT_EQ(LockTake(0), LOCK_TAKEN);
    LockRelease();
    CloseHandle(hSession);
}

TEST(RunLock, RefusalExitCode)
{
    EXPECT_EQ(LOCK_EXIT_BUSY, 1618);
    EXPECT_NE(IDS_BUSY, IDS_LOCK_FAILED);
    EXPECT_NE(IDS_UN_BUSY, IDS_UN_LOCK_FAILED);
}
