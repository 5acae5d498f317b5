// install.cpp - the installer application: the wizard's configuration and pages, the installation steps in
// their fixed order with the result report, and the takeover and removal of an older version.

#include "install.h"

#include <stdlib.h>

#include "charstr.h"
#include "package.h"
#include "product.h"
#include "resource.h"
#include "runlock.h"
#include "shlutl.h"
#include "sysassert.h"
#include "utils.h"

static const char szThisModule[] = "app\\INSTALL";

// Whether the last InstallRegister found this version not installed: InstallFiles then keeps the user's data
// files it finds in the application folder.
static int bFirstInstallation;

// Whether the last InstallRegister wrote the uninstall entry: InstallPerform then adds the entry's
// informative values (InstallDescribe).
static int bEntryWritten;

#define INSTALL_PAGES 10
#define INSTALL_PATH 260

// The progress shown while the steps run, counted by the package's read hook: the bytes read in this pass
// over the package (a check of the whole package first, if one is made, then the unpacking) out of its
// expanded size (0: unknown), and in the unpacking the files done out of how many (0 while checking). The
// line is formed again only when a number it shows changes.
static DWORD dwPkgSize;
static DWORD dwPkgRead;
static int nFilesDone;
static int nFilesTotal;
static int ahProgress[4]; // IDS_PROGRESS_CHECK, _CHECK_MB, _FILES, _FILES_COUNT
static int nShownKind = -1;
static int nShownA, nShownB;

// ---------------------------------------------------------------------------------------------------------
// Main flow

int InstallRun(void)
{
    WizConfig config;
    WizPage aPages[INSTALL_PAGES] = {};
    InstallParams params;

    int nLock;

    WizConfigLoad(&config, IDS_TITLE);
    WizSetConfig(&config);
    // Before anything that looks at the machine or changes it: one installer or uninstaller at a time.
    nLock = LockTake(0);
    if (nLock != LOCK_TAKEN)
        return LockRefuse(nLock == LOCK_BUSY ? IDS_BUSY : IDS_LOCK_FAILED);
    // Every path is formed in the system's code page: one it cannot name stops the installation here, before
    // anything is changed, rather than a later step failing on a name of question marks.
    if (!UtlPathsNameable()) {
        WizMessageBox(ResLoadString(IDS_NO_NAMES), MB_OK | MB_ICONSTOP);
        return 0;
    }
    InstallPages(aPages, &params);
    if (WizRun(aPages)) {
        InstallPerform(&params);
        WizWait();
    }
    return 0;
}

// Builds the page list: the welcome page; the reinstall page when this version is installed, else the
// upgrade page when an older version is; the final page.
void InstallPages(WizPage *pPages, InstallParams *pParams)
{
    WizPage *pPg;

    ASSERT(pPages != NULL);
    ASSERT(pParams != NULL);
    WizPagesInit(pPages);
    pPg = WizPagesAdd(pPages, WIZ_PAGE_PICTURE, INSTALL_PAGES);
    ASSERT(pPg != NULL);
    pPg->hImage = ResLoadBitmap(IDB_WELCOME);
    pPg->hText = ResLoadString(IDS_WELCOME);

    if (InstallIsInstalled()) {
        pPg = WizPagesAdd(pPages, WIZ_PAGE_OPTION, INSTALL_PAGES);
        ASSERT(pPg != NULL);
        pPg->hText = ResLoadString(IDS_REINSTALL);
        pPg->hLabel = ResLoadString(IDS_REINSTALL_CHECK);
        pPg->bChecked = 0;
        pParams->pInstall = &pPg->bChecked;
    } else {
        pParams->nInstallYes = 1;
        pParams->pInstall = &pParams->nInstallYes;
    }

    if (!InstallIsInstalled() && InstallFindOlder(NULL, 0)) {
        pPg = WizPagesAdd(pPages, WIZ_PAGE_OPTION, INSTALL_PAGES);
        ASSERT(pPg != NULL);
        pPg->hText = ResLoadString(IDS_UPGRADE);
        pPg->hLabel = ResLoadString(IDS_UPGRADE_CHECK);
        pPg->bChecked = 1;
        pParams->pRemoveOlder = &pPg->bChecked;
    } else {
        pParams->pRemoveOlder = NULL;
    }
}

// Shows the progress line for the counts now, or only lets the wizard handle its messages when the line
// would read as it does.
static void ShowProgress(void)
{
    int nPercent = -1;
    int nKind;
    int nA;
    int nB = 0;

    if (dwPkgSize != 0) {
        nPercent = (int)((unsigned long long)dwPkgRead * 100 / dwPkgSize);
        if (nPercent > 100)
            nPercent = 100;
    }
    if (nFilesTotal == 0) {
        nKind = nPercent >= 0 ? 0 : 1;
        nA = nPercent >= 0 ? nPercent : (int)(dwPkgRead >> 20);
    } else {
        nKind = nPercent >= 0 ? 2 : 3;
        nA = nFilesDone < nFilesTotal ? nFilesDone + 1 : nFilesTotal;
        nB = nPercent;
    }
    if (nKind == nShownKind && nA == nShownA && nB == nShownB) {
        WizProgress(0, 0, 0, 0);
        return;
    }
    nShownKind = nKind;
    nShownA = nA;
    nShownB = nB;
    WizProgress(ahProgress[nKind], nA, nFilesTotal, nB);
}

static void PackageReadHook(int nBytes)
{
    dwPkgRead += (DWORD)nBytes;
    ShowProgress();
}

// Runs the installation steps in their order while the report stays in order, then shows the report. The
// package's reads show their progress and keep the window answering; between the steps it answers too.
void InstallPerform(const InstallParams *pParams)
{
    char szSetupDir[INSTALL_PATH];
    char szPackagePath[INSTALL_PATH];
    WizResult result;

    ASSERT(pParams != NULL);
    WizSetFinalText(ResLoadString(IDS_INSTALLING));
    for (int i = 0; i < 4; i++)
        if (ahProgress[i] == 0)
            ahProgress[i] = ResLoadString(IDS_PROGRESS_CHECK + i);
    dwPkgSize = 0;
    if (pParams->pInstall != NULL && *pParams->pInstall != 0 && UtlGetModuleDir(szSetupDir, INSTALL_PATH) &&
        UtlJoinPath(szPackagePath, szSetupDir, szPackage, INSTALL_PATH))
        dwPkgSize = PkgExpandedSize(szPackagePath);
    dwPkgRead = 0;
    nFilesDone = 0;
    nFilesTotal = 0;
    nShownKind = -1;
    PkgSetReadHook(PackageReadHook);
    WizResultInit(&result, IDS_DONE);
    if (pParams->pInstall != NULL && *pParams->pInstall != 0) {
        // The package is checked whole before anything changes; only the files' steps read it.
        InstallCheck(&result);
        if (WizResultOk(&result))
            InstallRegister(&result);
        WizProgress(0, 0, 0, 0);
        if (WizResultOk(&result))
            InstallFolders(&result);
        WizProgress(0, 0, 0, 0);
        if (WizResultOk(&result))
            InstallFiles(&result);
        WizProgress(0, 0, 0, 0);
        // Also after an incomplete installation: the entry stays for the uninstaller, and says what is there.
        if (bEntryWritten)
            InstallDescribe(szPublisher);
    }
    if (WizResultOk(&result))
        InstallShortcuts(&result);
    WizProgress(0, 0, 0, 0);
    if (pParams->pRemoveOlder != NULL) {
        if (WizResultOk(&result))
            InstallTakeOver(&result);
        WizProgress(0, 0, 0, 0);
        if (*pParams->pRemoveOlder != 0 && WizResultOk(&result))
            InstallRemoveOlder(&result);
    }
    PkgSetReadHook(NULL);
    WizSetFinalText(WizResultText(&result));
}

int InstallIsInstalled(void)
{
    HKEY hKey = ShlRegOpen(HKEY_LOCAL_MACHINE, szInstallEntry, 0);

    if (hKey == NULL)
        return 0;
    ShlRegClose(hKey);
    return 1;
}

// Finds the first older version of szOlderVersions whose uninstall entry exists. Returns 1 when one was
// found and, given a buffer, its key name fitted into it; else 0.
int InstallFindOlder(char *szShortName, int nSize)
{
    char szList[256];
    char szName[32];
    StrToken tok;
    HKEY hArea;
    int bFound = 0;

    ASSERT(szShortName == NULL || nSize > 0);
    if (!StrCopy(szList, szOlderVersions, sizeof szList))
        return 0;
    hArea = ShlRegOpen(HKEY_LOCAL_MACHINE, szUninstallArea, 0);
    if (hArea == NULL)
        return 0;
    StrTokInit(&tok, szList, -1);
    while (!bFound && StrTokNext(&tok, ";", 0, 0)) {
        HKEY hKey;
        if (!StrCopy(szName, tok.cur, sizeof szName))
            continue;
        StrTrim(szName, 0);
        if (szName[0] == EOS)
            continue;
        hKey = ShlRegOpen(hArea, szName, 0);
        if (hKey != NULL) {
            ShlRegClose(hKey);
            bFound = 1;
        }
    }
    ShlRegClose(hArea);
    if (bFound && szShortName != NULL)
        return StrCopy(szShortName, szName, nSize);
    return bFound;
}

// ---------------------------------------------------------------------------------------------------------
// Installation steps

// Forms the program-files folder and the application folder below it.
static int FormAppDir(char *szProgramFiles, char *szAppDir)
{
    return ShlGetFolder(FOLDER_PROGRAMFILES, szProgramFiles, INSTALL_PATH) &&
           UtlJoinPath(szAppDir, szProgramFiles, szInstallKey, INSTALL_PATH);
}

// Writes a string value of the uninstall entry over the one there, so that a failed write keeps the old
// value. Only a value of another type, which is never replaced, is deleted first.
static int SetEntryValue(HKEY hKey, const char *szValue, const char *szData)
{
    if (ShlRegSetString(hKey, szValue, szData))
        return 1;
    // A string value that can be read is not in the way: the write itself failed.
    if (ShlRegGetString(hKey, szValue, NULL, 0) > 0)
        return 0;
    return ShlRegDeleteValue(hKey, szValue) && ShlRegSetString(hKey, szValue, szData);
}

// Writes the uninstall entry, creates the application folder and copies the uninstaller into it. On a
// first installation a failure undoes what was made.
void InstallRegister(WizResult *pResult)
{
    char szProgramFiles[INSTALL_PATH];
    char szAppDir[INSTALL_PATH];
    char szSetupDir[INSTALL_PATH];
    char szPath[INSTALL_PATH];
    HKEY hArea;
    HKEY hKey = NULL;
    int bWasInstalled;
    int bOk = 0;

    ASSERT(pResult != NULL);
    ASSERT(WizResultOk(pResult));
    bWasInstalled = InstallIsInstalled();
    bFirstInstallation = !bWasInstalled;
    bEntryWritten = 0;
    if (!FormAppDir(szProgramFiles, szAppDir) || !UtlGetModuleDir(szSetupDir, INSTALL_PATH)) {
        WizResultAdd(pResult, IDS_CANCELLED, IDS_NO_PATHS, NULL);
        return;
    }

    hArea = ShlRegOpen(HKEY_LOCAL_MACHINE, szUninstallArea, 1);
    if (hArea != NULL)
        hKey = ShlRegCreate(hArea, szInstallKey);
    if (hKey != NULL && UtlJoinPath(szPath, szAppDir, szUninstaller, INSTALL_PATH))
        bOk = SetEntryValue(hKey, "UninstallString", szPath) &&
              SetEntryValue(hKey, "DisplayName", szDisplayName);
    ShlRegClose(hKey);
    ShlRegClose(hArea);

    if (!bOk) {
        WizResultAdd(pResult, IDS_CANCELLED, IDS_NO_ENTRY, NULL);
    } else if (!UtlCreateDir(szAppDir)) {
        WizResultAdd(pResult, IDS_CANCELLED, IDS_NO_FOLDER, szAppDir);
        bOk = 0;
    } else if (!UtlJoinPath(szPath, szSetupDir, szUninstaller, INSTALL_PATH) ||
               !UtlCopyFile(szPath, szAppDir)) {
        WizResultAdd(pResult, IDS_CANCELLED, IDS_NO_COPY, szPath);
        bOk = 0;
    }

    if (!bOk && !bWasInstalled) {
        if (UtlJoinPath(szPath, szAppDir, szUninstaller, INSTALL_PATH))
            UtlDeleteFile(szPath);
        UtlRemoveDir(szAppDir);
        ShlRegDeleteKey(HKEY_LOCAL_MACHINE, szInstallEntry);
    }
    bEntryWritten = bOk;
}

// Writes a DWORD value of the uninstall entry. Returns 1 when written.
static int SetEntryDword(HKEY hKey, const char *szValue, DWORD nData)
{
    return RegSetValueExA(hKey, szValue, 0, REG_DWORD, (const BYTE *)&nData, sizeof nData) == ERROR_SUCCESS;
}

// The size of what the installation put into the application folder, in KB rounded up, into *pnKb: the
// uninstaller and the package's files, as they are now. A file that is not there counts nothing, nor does
// one whose folder is a file (the search says ERROR_DIRECTORY, or ERROR_INVALID_NAME under Wine; the names
// are the product's own, so no other name is invalid). Returns 0 when the size cannot be told: a path that
// cannot be formed, a search that fails for another reason.
static int InstalledSizeKb(const char *szAppDir, DWORD *pnKb)
{
    unsigned long long nBytes = 0;
    char szPath[INSTALL_PATH];
    WIN32_FIND_DATAA fd;
    HANDLE hFind;
    DWORD nError;

    for (int i = -1; i == -1 || pszInstallFiles[i] != NULL; i++) {
        if (!UtlJoinPath(szPath, szAppDir, i < 0 ? szUninstaller : pszInstallFiles[i], INSTALL_PATH))
            return 0;
        hFind = FindFirstFileA(szPath, &fd);
        if (hFind == INVALID_HANDLE_VALUE) {
            nError = GetLastError();
            if (nError != ERROR_FILE_NOT_FOUND && nError != ERROR_PATH_NOT_FOUND && nError != ERROR_DIRECTORY &&
                nError != ERROR_INVALID_NAME)
                return 0;
            continue;
        }
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            nBytes += (unsigned long long)fd.nFileSizeHigh << 32 | fd.nFileSizeLow;
        FindClose(hFind);
    }
    nBytes = (nBytes + 1023) / 1024;
    *pnKb = nBytes > 0xFFFFFFFFull ? 0xFFFFFFFFu : (DWORD)nBytes;
    return 1;
}

// Adds to the uninstall entry the values Windows shows beside the name: the version, the program's icon, the
// application folder, the size of the installed files, that the installation can be neither changed nor
// repaired, and the publisher when szPublisher is not empty. They only inform: a value that cannot be
// written is left out, and nothing is reported.
void InstallDescribe(const char *szPublisher)
{
    char szProgramFiles[INSTALL_PATH];
    char szAppDir[INSTALL_PATH];
    char szIcon[INSTALL_PATH];
    DWORD nKb;
    HKEY hKey;

    ASSERT(szPublisher != NULL);
    if (!FormAppDir(szProgramFiles, szAppDir))
        return;
    hKey = ShlRegOpen(HKEY_LOCAL_MACHINE, szInstallEntry, 1);
    if (hKey == NULL)
        return;
    SetEntryValue(hKey, "DisplayVersion", szDisplayVersion);
    if (UtlJoinPath(szIcon, szAppDir, szProgramName, INSTALL_PATH) && StrAppend(szIcon, ",0", INSTALL_PATH))
        SetEntryValue(hKey, "DisplayIcon", szIcon);
    SetEntryValue(hKey, "InstallLocation", szAppDir);
    if (InstalledSizeKb(szAppDir, &nKb))
        SetEntryDword(hKey, "EstimatedSize", nKb);
    SetEntryDword(hKey, "NoModify", 1);
    SetEntryDword(hKey, "NoRepair", 1);
    if (szPublisher[0] != EOS)
        SetEntryValue(hKey, "Publisher", szPublisher);
    ShlRegClose(hKey);
}

void InstallFolders(WizResult *pResult)
{
    char szProgramFiles[INSTALL_PATH];
    char szAppDir[INSTALL_PATH];
    char szPath[INSTALL_PATH];

    ASSERT(pResult != NULL);
    ASSERT(WizResultOk(pResult));
    if (!FormAppDir(szProgramFiles, szAppDir)) {
        WizResultAdd(pResult, IDS_INCOMPLETE, IDS_NO_PATHS, NULL);
        return;
    }
    for (int i = 0; pszInstallDirs[i] != NULL; i++) {
        if (!UtlJoinPath(szPath, szAppDir, pszInstallDirs[i], INSTALL_PATH) || !UtlCreateDir(szPath)) {
            WizResultAdd(pResult, IDS_INCOMPLETE, IDS_NO_FOLDER, szPath);
            return;
        }
    }
}

// Reads the whole package next to the installer once and checks it against its sum, before anything on the
// machine changes. A damaged package (its bytes differ from the sum, it ends early, bytes follow the sum, or
// the sum itself is damaged) or one that cannot be read through is reported as damaged, and the installation
// stops with nothing changed. A package without a sum passes when it holds an entry for every row of
// pszInstallFiles (one with fewer ends where a cut would end it). A package that does not open, or a path
// that does not form, is left to the steps that use them, which report it as before.
void InstallCheck(WizResult *pResult)
{
    char szSetupDir[INSTALL_PATH];
    char szPackagePath[INSTALL_PATH];
    int nFiles = 0;
    int nMessage;

    ASSERT(pResult != NULL);
    ASSERT(WizResultOk(pResult));
    if (!UtlGetModuleDir(szSetupDir, INSTALL_PATH) ||
        !UtlJoinPath(szPackagePath, szSetupDir, szPackage, INSTALL_PATH))
        return;
    while (pszInstallFiles[nFiles] != NULL)
        nFiles++;
    switch (PkgCheck(szPackagePath, nFiles)) {
    case PKG_SUM_OK:
    case PKG_SUM_NONE:
    case PKG_SUM_OPEN:
        return;
    case PKG_SUM_MEMORY:
        WizResultAdd(pResult, IDS_CANCELLED, IDS_NO_MEMORY, NULL);
        return;
    case PKG_SUM_READ:
        nMessage = IDS_PKG_UNREADABLE;
        break;
    case PKG_SUM_SHORT:
        nMessage = IDS_PKG_SHORT;
        break;
    case PKG_SUM_EXTRA:
        nMessage = IDS_PKG_EXTRA;
        break;
    case PKG_SUM_DAMAGED:
        nMessage = IDS_PKG_SUM;
        break;
    default:
        nMessage = IDS_PKG_DAMAGED;
        break;
    }
    WizResultAdd(pResult, IDS_CANCELLED, nMessage, szPackagePath);
}

// Unpacks the package next to the installer: its n-th file to the n-th path of pszInstallFiles. On a first
// installation a user data file already in the application folder (kept there by an uninstallation, or put
// there by the user) stays as it is and the package's copy is passed over (PkgUnpackNewFile never replaces):
// only a reinstallation, whose page warns of it, replaces the user's catalogues.
void InstallFiles(WizResult *pResult)
{
    char szProgramFiles[INSTALL_PATH];
    char szAppDir[INSTALL_PATH];
    char szSetupDir[INSTALL_PATH];
    char szPackagePath[INSTALL_PATH];
    char szPath[INSTALL_PATH];
    int hPkg = 0;

    ASSERT(pResult != NULL);
    ASSERT(WizResultOk(pResult));
    if (!FormAppDir(szProgramFiles, szAppDir) || !UtlGetModuleDir(szSetupDir, INSTALL_PATH)) {
        WizResultAdd(pResult, IDS_INCOMPLETE, IDS_NO_PATHS, NULL);
        return;
    }
    if (UtlJoinPath(szPackagePath, szSetupDir, szPackage, INSTALL_PATH))
        hPkg = PkgOpen(szPackagePath, 0);
    if (hPkg == 0) {
        WizResultAdd(pResult, IDS_INCOMPLETE, IDS_NO_OPEN, szPackagePath);
        return;
    }
    // The progress of the unpacking, a new pass over the package.
    nFilesTotal = 0;
    while (pszInstallFiles[nFilesTotal] != NULL)
        nFilesTotal++;
    nFilesDone = 0;
    dwPkgRead = 0;
    ShowProgress();
    for (int i = 0; pszInstallFiles[i] != NULL; i++) {
        int nStatus = PKG_ERR_CREATE;
        nFilesDone = i;
        if (UtlJoinPath(szPath, szAppDir, pszInstallFiles[i], INSTALL_PATH))
            nStatus = bFirstInstallation && ProdIsUserData(pszInstallFiles[i])
                          ? PkgUnpackNewFile(hPkg, szPath)
                          : PkgUnpackFile(hPkg, szPath);
        if (nStatus == PKG_OK || nStatus == PKG_EXISTS)
            continue;
        PkgClose(hPkg);
        switch (nStatus) {
        case PKG_ERR_CREATE:
            WizResultAdd(pResult, IDS_INCOMPLETE, IDS_NO_CREATE, szPath);
            break;
        case PKG_ERR_WRITE:
            WizResultAdd(pResult, IDS_INCOMPLETE, IDS_NO_WRITE, szPath);
            break;
        case PKG_ERR_READ:
            WizResultAdd(pResult, IDS_INCOMPLETE, IDS_NO_READ, szPackagePath);
            break;
        case PKG_ERR_MEMORY:
            WizResultAdd(pResult, IDS_INCOMPLETE, IDS_NO_MEMORY, NULL);
            break;
        default:
            WizResultAdd(pResult, IDS_INCOMPLETE, 0, NULL);
            break;
        }
        return;
    }
    PkgClose(hPkg);
}

// Makes the two shortcuts to the application's program, in the Start menu and on the desktop.
void InstallShortcuts(WizResult *pResult)
{
    char szProgramFiles[INSTALL_PATH];
    char szAppDir[INSTALL_PATH];
    char szTarget[INSTALL_PATH];
    char szFolder[INSTALL_PATH];
    char szStartLink[INSTALL_PATH];
    char szDesktopLink[INSTALL_PATH];
    char szWorkDir[INSTALL_PATH];
    int bStart;
    int bDesktop;

    ASSERT(pResult != NULL);
    ASSERT(WizResultOk(pResult));
    if (!FormAppDir(szProgramFiles, szAppDir) ||
        !UtlJoinPath(szTarget, szAppDir, szProgramName, INSTALL_PATH) ||
        !ShlGetFolder(FOLDER_PROGRAMS, szFolder, INSTALL_PATH) ||
        !UtlJoinPath(szStartLink, szFolder, szLinkName, INSTALL_PATH) ||
        !ShlGetFolder(FOLDER_DESKTOP, szFolder, INSTALL_PATH) ||
        !UtlJoinPath(szDesktopLink, szFolder, szLinkName, INSTALL_PATH) ||
        (!ShlGetFolder(FOLDER_DOCUMENTS, szWorkDir, INSTALL_PATH) &&
         !StrCopy(szWorkDir, szAppDir, INSTALL_PATH))) {
        WizResultAdd(pResult, IDS_DONE, IDS_NO_SHORTCUT, NULL);
        return;
    }
    bStart = ShlCreateLink(szStartLink, szTarget, szWorkDir, "");
    bDesktop = ShlCreateLink(szDesktopLink, szTarget, szWorkDir, "");
    if (!bStart || !bDesktop)
        WizResultAdd(pResult, IDS_DONE, IDS_NO_SHORTCUT, szTarget);
}

// ---------------------------------------------------------------------------------------------------------
// Older version

// Forms an older version's application folder and the new one, both below the program-files folder.
static int FormOlderDirs(const char *szOlder, char *szOlderDir, char *szNewDir)
{
    char szProgramFiles[INSTALL_PATH];

    return ShlGetFolder(FOLDER_PROGRAMFILES, szProgramFiles, INSTALL_PATH) &&
           UtlJoinPath(szOlderDir, szProgramFiles, szOlder, INSTALL_PATH) &&
           UtlJoinPath(szNewDir, szProgramFiles, szInstallKey, INSTALL_PATH);
}

// The older version whose data InstallTakeOver has taken over wholly, by its key name; empty when none. The
// removal acts on this version only, never on one it looks up afresh.
static char szTakenOver[32];

// The most patterns pszTakeOverFiles may hold.
#define INSTALL_PATTERNS 8

// How many data files InstallTakeOver copied for each pattern of pszTakeOverFiles, counting only those whose
// own name fits the pattern's mask (a search also matches through short names: *.kmc finds a.kmcx). The
// removal's look compares them with the data files it finds where each pattern takes them over.
static int anTakenOver[INSTALL_PATTERNS];

// Copies the older version's catalogue and .sc1 files into the new application folder, each to the same
// place relative to it and by exactly the name the search gave it. Only "no such file or folder" means
// there is nothing to take over; any other search error, a name that cannot be reached safely or a copy
// that fails is a failure of the takeover.
void InstallTakeOver(WizResult *pResult)
{
    char szOlder[32];
    char szOlderDir[INSTALL_PATH];
    char szNewDir[INSTALL_PATH];
    int bOk = 1;

    ASSERT(pResult != NULL);
    ASSERT(WizResultOk(pResult));
    szTakenOver[0] = EOS;
    for (int i = 0; i < INSTALL_PATTERNS; i++)
        anTakenOver[i] = 0;
    if (!InstallFindOlder(szOlder, sizeof szOlder))
        return;
    if (!FormOlderDirs(szOlder, szOlderDir, szNewDir))
        return;
    for (int i = 0; pszTakeOverFiles[i] != NULL; i++) {
        char szPart[INSTALL_PATH];
        char szMask[INSTALL_PATH];
        char szFolder[INSTALL_PATH];
        char szNewFolder[INSTALL_PATH];
        char szSearch[INSTALL_PATH];
        WIN32_FIND_DATAA fd;
        HANDLE hFind;
        DWORD nError;

        ASSERT(i < INSTALL_PATTERNS);
        if (!UtlGetDir(szPart, pszTakeOverFiles[i], INSTALL_PATH) ||
            !UtlGetName(szMask, pszTakeOverFiles[i], INSTALL_PATH))
            continue;
        if (!UtlJoinPath(szFolder, szOlderDir, szPart, INSTALL_PATH) ||
            !UtlJoinPath(szSearch, szFolder, szMask, INSTALL_PATH))
            continue;
        if (!UtlJoinPath(szNewFolder, szNewDir, szPart, INSTALL_PATH)) {
            bOk = 0;
            continue;
        }
        hFind = FindFirstFileA(szSearch, &fd);
        if (hFind == INVALID_HANDLE_VALUE) {
            nError = GetLastError();
            if (nError != ERROR_FILE_NOT_FOUND && nError != ERROR_PATH_NOT_FOUND)
                bOk = 0;
            continue;
        }
        do {
            char szSource[INSTALL_PATH];
            char szDest[INSTALL_PATH];
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            // The exact target: a folder of the same name in the new folder is a failure, not a place to
            // copy into.
            if (!UtlJoinEntry(szSource, szFolder, fd.cFileName, INSTALL_PATH) ||
                !UtlJoinEntry(szDest, szNewFolder, fd.cFileName, INSTALL_PATH) ||
                !UtlCopyFileTo(szSource, szDest))
                bOk = 0;
            else if (StrMatch(fd.cFileName, szMask, STR_NOCASE | STR_WILDCARDS))
                anTakenOver[i]++;
        } while (FindNextFileA(hFind, &fd));
        if (GetLastError() != ERROR_NO_MORE_FILES)
            bOk = 0;
        FindClose(hFind);
    }
    if (!bOk)
        WizResultAdd(pResult, IDS_INCOMPLETE, IDS_NO_TAKEOVER, NULL);
    else
        StrCopy(szTakenOver, szOlder, sizeof szTakenOver);
}

// A folder being looked through by OlderHoldsData: its path, its path relative to the older folder, and its
// search.
struct InstallLookLevel {
    char szPath[INSTALL_PATH];
    char szRel[INSTALL_PATH];
    HANDLE hFind;
};

// Whether the older folder holds data of the user that the takeover did not carry, looked for before the
// folder is deleted. Data are the files named like the user's data (ProdIsDataName, by the name the search
// gives) anywhere in the tree; those where a pattern of pszTakeOverFiles takes them over were carried, as
// long as there are no more of them for the pattern than the takeover copied (its search may have answered
// "not found" while they were there). A link to a folder is not entered: tree deletion removes the link only.
// When the look cannot finish the answer is yes as well: a search that fails for a folder its parent has
// just listed ("not found" too), a folder whose name cannot be reached safely, a tree deeper than tree
// deletion enters. Only an older folder that its search and its attributes both say is not there holds
// nothing without a look.
static int OlderHoldsData(const char *szOlderDir)
{
    struct InstallLookLevel *pStack;
    char szSearch[INSTALL_PATH];
    char szRel[INSTALL_PATH];
    WIN32_FIND_DATAA fd;
    DWORD nError;
    int anFound[INSTALL_PATTERNS] = {0}; // data files found where each pattern takes them over
    int nOpen = 0; // levels whose search is open, the older folder's first; the last is being looked at
    int nPattern;
    int bHolds = 1;

    pStack = (struct InstallLookLevel *)malloc((UTL_TREE_DEPTH + 1) * sizeof *pStack);
    if (pStack == NULL)
        return 1;
    if (!StrCopy(pStack[0].szPath, szOlderDir, INSTALL_PATH) ||
        !UtlJoinPath(szSearch, szOlderDir, "*", INSTALL_PATH))
        goto done;
    pStack[0].szRel[0] = EOS;
    pStack[0].hFind = FindFirstFileA(szSearch, &fd);
    if (pStack[0].hFind == INVALID_HANDLE_VALUE) {
        nError = GetLastError();
        if ((nError == ERROR_FILE_NOT_FOUND || nError == ERROR_PATH_NOT_FOUND) &&
            GetFileAttributesA(szOlderDir) == INVALID_FILE_ATTRIBUTES) {
            nError = GetLastError();
            bHolds = nError != ERROR_FILE_NOT_FOUND && nError != ERROR_PATH_NOT_FOUND;
        }
        goto done;
    }
    nOpen = 1;
    for (;;) {
        struct InstallLookLevel *pLevel = &pStack[nOpen - 1];
        if (StrMatch(fd.cFileName, ".", 0) || StrMatch(fd.cFileName, "..", 0)) {
            // the folder itself and its parent
        } else if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            if (ProdIsDataName(fd.cFileName)) {
                if (!UtlJoinEntry(szRel, pLevel->szRel, fd.cFileName, INSTALL_PATH))
                    goto done;
                nPattern = ProdUserDataPattern(szRel);
                if (nPattern == 0 || nPattern > INSTALL_PATTERNS)
                    goto done;
                anFound[nPattern - 1]++;
            }
        } else if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            struct InstallLookLevel *pSub;
            if (nOpen > UTL_TREE_DEPTH)
                goto done;
            pSub = &pStack[nOpen];
            if (!UtlJoinEntry(pSub->szPath, pLevel->szPath, fd.cFileName, INSTALL_PATH) ||
                !UtlJoinEntry(pSub->szRel, pLevel->szRel, fd.cFileName, INSTALL_PATH) ||
                !UtlJoinPath(szSearch, pSub->szPath, "*", INSTALL_PATH))
                goto done;
            pSub->hFind = FindFirstFileA(szSearch, &fd);
            if (pSub->hFind == INVALID_HANDLE_VALUE)
                goto done;
            nOpen++;
            continue;
        }
        // The next entry; a search that ends goes back to the folder above.
        while (!FindNextFileA(pStack[nOpen - 1].hFind, &fd)) {
            if (GetLastError() != ERROR_NO_MORE_FILES)
                goto done;
            nOpen--;
            FindClose(pStack[nOpen].hFind);
            if (nOpen == 0) {
                bHolds = 0;
                for (int i = 0; i < INSTALL_PATTERNS; i++)
                    bHolds |= anFound[i] > anTakenOver[i];
                goto done;
            }
        }
    }
done:
    while (nOpen > 0) {
        nOpen--;
        FindClose(pStack[nOpen].hFind);
    }
    free(pStack);
    return bHolds;
}

// True when a shortcut name read from the registry is a plain file name: one with a folder separator or a
// drive would reach outside the shortcut folders, one with a wildcard or another character the platform
// forbids in names would not name one file.
static int IsPlainName(const char *szName)
{
    return szName[0] != EOS && StrFindAny(szName, "\\/:*?\"<>|", 0, STR_CNTRL)[0] == EOS;
}

// True when the file at szPath (a plain name, no wildcards) is one of this version's shortcuts: its name, as
// the platform's search gives it (the long name, whatever short or folded form the path used), is this
// version's link name. When the search fails for another reason than a missing file, it cannot be told, and
// the answer is yes.
static int IsOwnLink(const char *szPath)
{
    WIN32_FIND_DATAA fd;
    HANDLE hFind;
    DWORD nError;
    int bOwn;

    hFind = FindFirstFileA(szPath, &fd);
    if (hFind == INVALID_HANDLE_VALUE) {
        nError = GetLastError();
        return nError != ERROR_FILE_NOT_FOUND && nError != ERROR_PATH_NOT_FOUND;
    }
    bOwn = StrMatch(fd.cFileName, szLinkName, STR_NOCASE);
    FindClose(hFind);
    return bOwn;
}

// Removes the older version's folder, its two shortcuts and its uninstall entry; every part is attempted,
// and anything left is reported as a warning. A folder that holds data of the user the takeover did not
// carry (or that cannot be looked through) stays whole, and the warning names it.
void InstallRemoveOlder(WizResult *pResult)
{
    static const int aLinkFolders[] = {FOLDER_PROGRAMS, FOLDER_DESKTOP};
    char szOlder[32];
    char szOlderDir[INSTALL_PATH];
    char szNewDir[INSTALL_PATH];
    char szLink[INSTALL_PATH];
    HKEY hArea;
    int bOk = 1;

    ASSERT(pResult != NULL);
    ASSERT(WizResultOk(pResult));
    // Only the older version whose data was taken over goes, never one looked up afresh. When the takeover
    // handled none, an older version found now was not taken over: it stays, with a warning.
    if (szTakenOver[0] == EOS) {
        if (InstallFindOlder(NULL, 0))
            WizResultAdd(pResult, IDS_DONE, IDS_OLDER_LEFT, NULL);
        return;
    }
    StrCopy(szOlder, szTakenOver, sizeof szOlder);
    if (!FormOlderDirs(szOlder, szOlderDir, szNewDir))
        bOk = 0;
    else if (OlderHoldsData(szOlderDir))
        WizResultAdd(pResult, IDS_DONE, IDS_DATA_LEFT, szOlderDir);
    else
        bOk = UtlDeleteTree(szOlderDir);

    // The shortcuts carry the older version's display name.
    szLink[0] = EOS;
    hArea = ShlRegOpen(HKEY_LOCAL_MACHINE, szUninstallArea, 0);
    if (hArea != NULL) {
        HKEY hKey = ShlRegOpen(hArea, szOlder, 0);
        if (hKey != NULL) {
            if (!ShlRegGetString(hKey, "DisplayName", szLink, INSTALL_PATH) || !IsPlainName(szLink) ||
                !StrAppend(szLink, ".lnk", INSTALL_PATH))
                szLink[0] = EOS;
            ShlRegClose(hKey);
        }
        ShlRegClose(hArea);
    }
    for (int i = 0; i < 2; i++) {
        char szFolder[INSTALL_PATH];
        char szPath[INSTALL_PATH];
        // This version's own shortcuts never go, whatever the older entry says.
        if (szLink[0] == EOS || !ShlGetFolder(aLinkFolders[i], szFolder, INSTALL_PATH) ||
            !UtlJoinPath(szPath, szFolder, szLink, INSTALL_PATH) || IsOwnLink(szPath) ||
            !UtlDeleteFile(szPath))
            bOk = 0;
    }

    // The entry goes last. An area that does not open leaves it in place, and so does a deletion that
    // reported success while the key can still be opened.
    hArea = ShlRegOpen(HKEY_LOCAL_MACHINE, szUninstallArea, 1);
    if (hArea == NULL) {
        bOk = 0;
    } else {
        HKEY hKey;
        if (!ShlRegDeleteKey(hArea, szOlder))
            bOk = 0;
        else if ((hKey = ShlRegOpen(hArea, szOlder, 0)) != NULL) {
            ShlRegClose(hKey);
            bOk = 0;
        }
        ShlRegClose(hArea);
    }
    if (!bOk)
        WizResultAdd(pResult, IDS_DONE, IDS_OLDER_LEFT, NULL);
}
