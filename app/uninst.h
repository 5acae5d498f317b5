// uninst.h - the uninstaller application: how it starts (from a copy of itself in the temporary folder, so
// that its own file can go), its pages, and the removal of what the installer made.
#pragma once

#include "wizard.h"
#include "wizutl.h"

#define UNINST_READY 1         // this version is installed in the folder the uninstaller works on
#define UNINST_NOT_INSTALLED 2 // no uninstall entry of this version
#define UNINST_OTHER_DIR 3     // the entry, or the folder the copy was given, names no folder of this version
#define UNINST_NO_REGISTRY 4   // the registry failed on the entry (damaged, unreadable): nothing is known

// The uninstaller's run: its start from a copy, the wizard over its pages, then the removal and its report.
// Called by Uninst.exe's entry (uninst_main.cpp).
int UninstRun(void);
// The application folder named by this version's uninstall entry: the folder of its UninstallString,
// which must name the uninstaller in a folder called as the installer calls it. UNINST_READY with the
// folder in szAppDir; else UNINST_NOT_INSTALLED, UNINST_NO_REGISTRY or UNINST_OTHER_DIR, szAppDir holding
// what the entry named.
int UninstFindApp(char *szAppDir, int nSize);
// Reads the arguments the uninstaller gives its copy: "/copy PID "FOLDER"" after the program's name. Returns
// 1 with the starting process's id and the application folder; 0 for any other command line.
int UninstParseCopyArgs(const char *szCmdLine, DWORD *pdwParent, char *szAppDir, int nSize);
// Copies the running program to the temporary folder and starts the copy for szAppDir. 1 when the copy
// runs; this process should then end.
int UninstStartCopy(const char *szAppDir);
// Removes from szAppDir the installer's files and the uninstaller, the user's data files too when
// bDeleteData, then the folders left empty, the two shortcuts, and last the uninstall entry, unless
// something of this version could not be removed. Reports into pResult (started with IDS_UN_DONE).
void UninstRemove(const char *szAppDir, int bDeleteData, WizResult *pResult);
