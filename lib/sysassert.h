// sysassert.h - the system's assertion: a broken precondition reports the condition's source text, the
// module and the line, and ends the process at once.
#pragma once

// Reports "Assertion failed: COND, file MODULE, line N" and ends the process with exit code 3. A process with
// a standard error stream (a console program, or one started with its output redirected) writes the text
// there; a GUI process without one shows it in a message box captioned with the program's file name.
void SysAssertFail(const char *szCond, const char *szModule, int nLine);

// Each module defines szThisModule, its name as in the layout ("lib\\CHARSTR", "ker\\WIZARD", ...).
#define ASSERT(cond) ((cond) ? (void)0 : SysAssertFail(#cond, szThisModule, __LINE__))
