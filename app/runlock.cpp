// runlock.cpp - one installer or uninstaller at a time on the machine: a named mutex that the running one
// holds. The object's existence is the rule, not its ownership: the platform drops the object when its last
// handle closes, which a process's end does however it ends, so a killed installer never blocks the next.

#include "runlock.h"
#include "sysassert.h"

static const char szThisModule[] = "app\\RUNLOCK";

// Machine-wide: two users' installers (fast user switching, remote sessions) would write the same folder
// under Program Files and the same entry under HKLM. Named for the product, not its version: an older or a
// newer one of its installers that knows the rule keeps it too.
const char szLockName[] = "Global\\Kalmorist.Setup.Running";

// This process's handle to the object; null while it holds none.
static HANDLE hLock;

int LockTake(int bInheritable)
{
    SECURITY_ATTRIBUTES sa;
    DWORD nError;

    ASSERT(hLock == NULL);
    sa.nLength = sizeof sa;
    sa.lpSecurityDescriptor = NULL;
    sa.bInheritHandle = bInheritable ? TRUE : FALSE;
    hLock = CreateMutexA(&sa, FALSE, szLockName);
    nError = GetLastError();
    if (hLock != NULL && nError != ERROR_ALREADY_EXISTS)
        return LOCK_TAKEN;
    if (hLock != NULL) {
        CloseHandle(hLock);
        hLock = NULL;
        return LOCK_BUSY;
    }
    // Another user's elevated installer made it with a security descriptor that keeps this user out.
    if (nError == ERROR_ACCESS_DENIED)
        return LOCK_BUSY;
    return LOCK_FAILED;
}

int LockHeld(void)
{
    HANDLE h = OpenMutexA(SYNCHRONIZE, FALSE, szLockName);

    if (h == NULL)
        return GetLastError() == ERROR_ACCESS_DENIED;
    CloseHandle(h);
    return 1;
}

void LockRelease(void)
{
    if (hLock != NULL)
        CloseHandle(hLock);
    hLock = NULL;
}

int LockRefuse(int nMessage)
{
    ASSERT(nMessage > 0);
    WizMessageBox(ResLoadString(nMessage), MB_OK | MB_ICONWARNING);
    return LOCK_EXIT_BUSY;
}
