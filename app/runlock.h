// runlock.h - one installer or uninstaller at a time on the machine: the named object that the running one
// holds until it ends, however it ends.
#pragma once

#include "wizard.h"

#define LOCK_TAKEN 1 // this process holds the object: it is the only one running
#define LOCK_BUSY                                                                                            \
    2 // another installer or uninstaller holds it (or holds it so that this one may not open it)
#define LOCK_FAILED 3 // the object could not be had for another reason: whether another runs is not known

// The exit code of a program that ended because another one runs, or because that could not be told: the
// platform's "another installation is already in progress".
#define LOCK_EXIT_BUSY 1618

// The object's name, in the machine's namespace: the installers and uninstallers of every user and session.
extern const char szLockName[];

// Takes the object for this process, first of all that could change the machine. With bInheritable the
// handle goes to the processes this one starts with inherited handles (the uninstaller's copy of itself),
// which then hold the object on after this process has ended. LOCK_TAKEN, LOCK_BUSY or LOCK_FAILED.
int LockTake(int bInheritable);
// Whether the object is held by anyone, this process included: the uninstaller's copy asks whether its
// parent passed it on. 0 also when that cannot be told.
int LockHeld(void);
// Lets go of this process's handle, if it holds one (for tests: a program's end lets go of it too).
void LockRelease(void);
// Says in one message box, with the wizard's configured title, why this program does not run (nMessage:
// the text for LOCK_BUSY or for LOCK_FAILED), and returns LOCK_EXIT_BUSY for the program's exit code.
int LockRefuse(int nMessage);
