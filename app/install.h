// install.h - the installer application: its main operation, the pages it offers from what it finds
// installed, and the installation steps in their fixed order.
#pragma once

#include "wizard.h"
#include "wizutl.h"

// The user's choices, read by InstallPerform: pointers into the page list's check-box states.
struct InstallParams {
    int *pInstall;     // install the application files: the reinstall page's state, or nInstallYes
    int *pRemoveOlder; // null when no older version was offered; else the upgrade page's state
    int nInstallYes;   // always 1
};

// The installer's run: the wizard over the pages it offers, then the installation steps and their report.
// Called by Setup.exe's entry (setup_main.cpp).
int InstallRun(void);
void InstallPages(WizPage *pPages, InstallParams *pParams);
void InstallPerform(const InstallParams *pParams);
int InstallIsInstalled(void);
int InstallFindOlder(char *szShortName, int nSize);

// The installation steps. Each is called only while the report is in order and reports into it.
// InstallCheck runs first, before anything changes, when the files are to be installed.
void InstallCheck(WizResult *pResult);
void InstallRegister(WizResult *pResult);
void InstallFolders(WizResult *pResult);
void InstallFiles(WizResult *pResult);
// The entry's values that only inform Windows' list of programs; after the files, never reported.
void InstallDescribe(const char *szPublisher);
void InstallShortcuts(WizResult *pResult);
void InstallTakeOver(WizResult *pResult);
void InstallRemoveOlder(WizResult *pResult);
