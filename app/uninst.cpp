// uninst.cpp - the uninstaller application: its start from a copy of itself in the temporary folder, its
// pages, and the removal of this version's files, folders, shortcuts and uninstall entry, keeping the
// user's data unless asked.

#include "uninst.h"
#include "charstr.h"
#include "product.h"
#include "resource.h"
#include "runlock.h"
#include "shlutl.h"
#include "sysassert.h"
#include "utils.h"

static const char szThisModule[] = "app\\UNINST";

#define UNINST_PAGES 6
#define UNINST_PATH 260
#define UNINST_PROBLEMS 128
#define UNINST_WAIT_MS 30000

// What a folder holds besides what the removal has taken care of (FolderHolds).
#define HOLDS_DATA 1  // the user's data files
#define HOLDS_OTHER 2 // anything else that is not the installer's
#define HOLDS_OWN 4   // this version's sub-folders and files, whatever stays of them reported on its own

static const char szCopyFlag[] = "/copy";

// The problems the removal met, reported once it has ended. A failure leaves something of this version in
// place and keeps the uninstall entry; a notice only tells what stays and why.
struct UninstProblem {
    int nMessage;
    char szArg[UNINST_PATH];
};
static UninstProblem aProblems[UNINST_PROBLEMS];
static int nProblems;
static int nFailures;

// The running program's own path, which the removal never deletes: a running program's file cannot go.
static char szSelf[UNINST_PATH];

// ---------------------------------------------------------------------------------------------------------
// Main flow

// The progress shown while the removal runs: the files and folders removed so far, and the line's text.
static int nRemoved;
static int hRemovedText;

// Waits until the process that started this copy has ended, so that its file can be deleted.
static void WaitForParent(DWORD dwParent)
{
    HANDLE hParent = OpenProcess(SYNCHRONIZE, FALSE, dwParent);

    if (hParent == NULL) // it has ended already
        return;
    WaitForSingleObject(hParent, UNINST_WAIT_MS);
    CloseHandle(hParent);
}

// Whether two paths name the same folder: equal once made full, case ignored.
static int SamePath(const char *szA, const char *szB)
{
    char szFullA[UNINST_PATH];
    char szFullB[UNINST_PATH];

    return UtlGetFullPath(szFullA, szA, sizeof szFullA) && UtlGetFullPath(szFullB, szB, sizeof szFullB) &&
           StrMatch(szFullA, szFullB, STR_NOCASE);
}

int UninstRun(void)
{
    WizConfig config;
    WizPage aPages[UNINST_PAGES] = {};
    WizPage *pPg;
    WizResult result;
    char szAppDir[UNINST_PATH];
    char szGiven[UNINST_PATH];
    char szHere[UNINST_PATH];
    DWORD dwParent = 0;
    DWORD nLength;
    int *pDeleteData = NULL;
    int bCopy;
    int nState;

    int nLock;

    WizConfigLoad(&config, IDS_UN_TITLE);
    WizSetConfig(&config);
    bCopy = UninstParseCopyArgs(GetCommandLineA(), &dwParent, szGiven, sizeof szGiven);
    // One installer or uninstaller at a time, before anything that changes the machine. The copy holds the
    // object through the handle its starter passed on (UninstStartCopy), which keeps it while the copy runs
    // however the starter ends; a copy that finds the object gone, started otherwise, takes it as any start.
    // The handle is inheritable, to be passed on so.
    if (!bCopy || !LockHeld()) {
        nLock = LockTake(1);
        if (nLock != LOCK_TAKEN)
            return LockRefuse(nLock == LOCK_BUSY ? IDS_UN_BUSY : IDS_UN_LOCK_FAILED);
    }
    // A path the system's code page cannot name stops the uninstaller before it changes anything (also the
    // copy in the temporary folder, which would otherwise leave itself for removal at the next start).
    if (!UtlPathsNameable()) {
        WizMessageBox(ResLoadString(IDS_UN_NO_NAMES), MB_OK | MB_ICONSTOP);
        return 0;
    }

    nLength = GetModuleFileNameA(NULL, szSelf, sizeof szSelf);
    if (nLength == 0 || nLength >= sizeof szSelf)
        szSelf[0] = EOS;
    if (bCopy) {
        // The copy in the temporary folder goes when the machine next starts.
        if (szSelf[0] != EOS)
            MoveFileExA(szSelf, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
        WaitForParent(dwParent);
    }

    nState = UninstFindApp(szAppDir, sizeof szAppDir);
    if (nState == UNINST_READY && bCopy && !SamePath(szGiven, szAppDir)) {
        nState = UNINST_OTHER_DIR;
        StrCopy(szAppDir, szGiven, sizeof szAppDir);
    }
    // Started from the application folder, the work is left to a copy, so that this file can be removed.
    if (nState == UNINST_READY && !bCopy && UtlGetModuleDir(szHere, sizeof szHere) &&
        SamePath(szHere, szAppDir) && UninstStartCopy(szAppDir))
        return 0;

    WizPagesInit(aPages);
    pPg = WizPagesAdd(aPages, WIZ_PAGE_PICTURE, UNINST_PAGES);
    ASSERT(pPg != NULL);
    pPg->hImage = ResLoadBitmap(IDB_WELCOME);
    pPg->hText = ResLoadString(nState == UNINST_READY         ? IDS_UN_WELCOME
                               : nState == UNINST_NO_REGISTRY ? IDS_UN_UNREADABLE
                                                              : IDS_UN_NOTHING);
    if (nState == UNINST_READY) {
        pPg = WizPagesAdd(aPages, WIZ_PAGE_OPTION, UNINST_PAGES);
        ASSERT(pPg != NULL);
        pPg->hText = ResLoadString(IDS_UN_DATA);
        pPg->hLabel = ResLoadString(IDS_UN_DATA_CHECK);
        pPg->bChecked = 0;
        pDeleteData = &pPg->bChecked;
    }

    if (WizRun(aPages)) {
        WizSetFinalText(ResLoadString(IDS_UN_WORKING));
        hRemovedText = ResLoadString(IDS_UN_PROGRESS);
        nRemoved = 0;
        WizResultInit(&result, IDS_UN_DONE);
        if (nState == UNINST_READY)
            UninstRemove(szAppDir, *pDeleteData, &result);
        else if (nState == UNINST_NOT_INSTALLED)
            WizResultAdd(&result, IDS_UN_CANCELLED, IDS_UN_NOT_INSTALLED, NULL);
        else if (nState == UNINST_NO_REGISTRY)
            WizResultAdd(&result, IDS_UN_CANCELLED, IDS_UN_NO_REGISTRY, NULL);
        else
            WizResultAdd(&result, IDS_UN_CANCELLED, IDS_UN_OTHER_DIR, szAppDir);
        WizSetFinalText(WizResultText(&result));
        WizWait();
    }
    return 0;
}

int UninstFindApp(char *szAppDir, int nSize)
{
    char szValue[UNINST_PATH];
    char szFull[UNINST_PATH];
    char szName[UNINST_PATH];
    char szFolderName[UNINST_PATH];
    HKEY hKey = NULL;
    LSTATUS rc;
    int bRead;
    int nLength;

    ASSERT(szAppDir != NULL);
    ASSERT(nSize > 0);
    *szAppDir = EOS;
    // Only a missing entry means "not installed": a registry that fails says nothing either way.
    rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, szInstallEntry, 0, KEY_READ, &hKey);
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND)
        return UNINST_NOT_INSTALLED;
    if (rc != ERROR_SUCCESS)
        return UNINST_NO_REGISTRY;
    bRead = ShlRegGetString(hKey, "UninstallString", szValue, sizeof szValue);
    ShlRegClose(hKey);
    if (!bRead)
        return UNINST_OTHER_DIR;
    StrTrim(szValue, 0);
    nLength = StrLength(szValue);
    if (nLength >= 2 && szValue[0] == '"' && szValue[nLength - 1] == '"') {
        szValue[nLength - 1] = EOS;
        StrMove(szValue, szValue + 1);
    }
    if (!UtlGetDir(szAppDir, szValue, nSize))
        return UNINST_OTHER_DIR;
    // Only a full path to the uninstaller in a folder of the installer's name: a value that names another
    // folder (a drive's root, a system folder) would have the table's names deleted there.
    if (!UtlGetFullPath(szFull, szValue, sizeof szFull) || !StrMatch(szFull, szValue, STR_NOCASE) ||
        !UtlGetName(szName, szValue, sizeof szName) || !StrMatch(szName, szUninstaller, STR_NOCASE) ||
        !UtlGetName(szFolderName, szAppDir, sizeof szFolderName) ||
        !StrMatch(szFolderName, szInstallKey, STR_NOCASE))
        return UNINST_OTHER_DIR;
    return UNINST_READY;
}

int UninstParseCopyArgs(const char *szCmdLine, DWORD *pdwParent, char *szAppDir, int nSize)
{
    const char *p = szCmdLine;
    unsigned long long nPid = 0;
    int nDigits = 0;
    int n = 0;
    int nFlag = StrLength(szCopyFlag);

    ASSERT(szCmdLine != NULL);
    ASSERT(pdwParent != NULL);
    ASSERT(szAppDir != NULL);
    ASSERT(nSize > 0);
    *pdwParent = 0;
    *szAppDir = EOS;
    // The program's name, quoted or not.
    if (*p == '"') {
        for (p++; *p != EOS && *p != '"'; p++)
            ;
        if (*p == '"')
            p++;
    } else {
        while (*p != EOS && *p != ' ' && *p != '\t')
            p++;
    }
    while (*p == ' ' || *p == '\t')
        p++;
    for (int i = 0; i < nFlag; i++)
        if (p[i] == EOS || StrCharLower((unsigned char)p[i]) != szCopyFlag[i])
            return 0;
    p += nFlag;
    if (*p != ' ' && *p != '\t')
        return 0;
    while (*p == ' ' || *p == '\t')
        p++;
    for (; *p >= '0' && *p <= '9'; p++, nDigits++) {
        nPid = nPid * 10 + (unsigned)(*p - '0');
        if (nDigits >= 10 || nPid > 0xFFFFFFFFull)
            return 0;
    }
    if (nDigits == 0 || (*p != ' ' && *p != '\t'))
        return 0;
    while (*p == ' ' || *p == '\t')
        p++;
    if (*p++ != '"')
        return 0;
    for (; *p != EOS && *p != '"'; p++) {
        if (n >= nSize - 1)
            goto fail;
        szAppDir[n++] = *p;
    }
    szAppDir[n] = EOS;
    if (*p++ != '"' || n == 0)
        goto fail;
    while (*p == ' ' || *p == '\t')
        p++;
    if (*p != EOS)
        goto fail;
    *pdwParent = (DWORD)nPid;
    return 1;
fail:
    *szAppDir = EOS;
    return 0;
}

// Appends the decimal digits of n to szBuf (nSize bytes). Returns 0 when they did not fit.
static int AppendNumber(char *szBuf, DWORD n, int nSize)
{
    char szDigits[12];
    int i = (int)sizeof szDigits - 1;

    szDigits[i] = EOS;
    do {
        szDigits[--i] = (char)('0' + n % 10);
        n /= 10;
    } while (n != 0);
    return StrAppend(szBuf, szDigits + i, nSize);
}

int UninstStartCopy(const char *szAppDir)
{
    char szModule[UNINST_PATH];
    char szTemp[UNINST_PATH];
    char szName[64];
    char szCopy[UNINST_PATH];
    char szCommand[3 * UNINST_PATH];
    STARTUPINFOA si = {};
    PROCESS_INFORMATION pi;
    DWORD nLength;

    ASSERT(szAppDir != NULL);
    nLength = GetModuleFileNameA(NULL, szModule, sizeof szModule);
    if (nLength == 0 || nLength >= sizeof szModule)
        return 0;
    // A name of this process's own: a copy left by an earlier run may still be running.
    if (!ShlGetFolder(FOLDER_TEMP, szTemp, sizeof szTemp) || !StrCopy(szName, szInstallKey, sizeof szName) ||
        !StrAppend(szName, "-Uninst-", sizeof szName) ||
        !AppendNumber(szName, GetCurrentProcessId(), sizeof szName) ||
        !StrAppend(szName, ".exe", sizeof szName) || !UtlJoinPath(szCopy, szTemp, szName, sizeof szCopy))
        return 0;
    if (!StrCopy(szCommand, "\"", sizeof szCommand) || !StrAppend(szCommand, szCopy, sizeof szCommand) ||
        !StrAppend(szCommand, "\" ", sizeof szCommand) || !StrAppend(szCommand, szCopyFlag, sizeof szCommand) ||
        !StrAppend(szCommand, " ", sizeof szCommand) ||
        !AppendNumber(szCommand, GetCurrentProcessId(), sizeof szCommand) ||
        !StrAppend(szCommand, " \"", sizeof szCommand) || !StrAppend(szCommand, szAppDir, sizeof szCommand) ||
        !StrAppend(szCommand, "\"", sizeof szCommand))
        return 0;
    if (!CopyFileA(szModule, szCopy, FALSE))
        return 0;
    SetFileAttributesA(szCopy, FILE_ATTRIBUTE_NORMAL);
    si.cb = sizeof si;
    // The copy works in the temporary folder: a process's current folder cannot be removed. It inherits this
    // process's handle to the object that lets one installer or uninstaller run at a time (runlock.cpp), so
    // that no other can start between this process's end and the copy's work.
    if (!CreateProcessA(szCopy, szCommand, NULL, NULL, TRUE, 0, NULL, szTemp, &si, &pi)) {
        DeleteFileA(szCopy);
        return 0;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 1;
}

// ---------------------------------------------------------------------------------------------------------
// Removal

static void AddProblem(int nMessage, int bFailure, const char *szArg)
{
    if (bFailure)
        nFailures++;
    // A line said already is not said again (each pattern and step that cannot form its paths says so).
    for (int i = 0; i < nProblems; i++)
        if (aProblems[i].nMessage == nMessage &&
            StrCompare(aProblems[i].szArg, szArg != NULL ? szArg : "", 0) == 0)
            return;
    // Past the table's end a failure is still counted, so the report still says the removal did not end.
    if (nProblems >= UNINST_PROBLEMS)
        return;
    aProblems[nProblems].nMessage = nMessage;
    if (szArg == NULL || !StrCopy(aProblems[nProblems].szArg, szArg, sizeof aProblems[nProblems].szArg))
        aProblems[nProblems].szArg[0] = EOS;
    nProblems++;
}

// Counts one file or folder removed (bRemoved) and shows the count, or only lets the wizard handle its
// messages: called at every file and folder the removal looks at.
static void ShowRemoved(int bRemoved)
{
    if (bRemoved) {
        nRemoved++;
        WizProgress(hRemovedText, nRemoved, 0, 0);
    } else {
        WizProgress(0, 0, 0, 0);
    }
}

// Deletes one file of this version. A file that is not there is gone already; a link is deleted as a link;
// a read-only file loses the bit first, and gets it back when it still cannot be deleted. A folder in the
// file's place is not the installer's and stays. Anything that stays is a failure.
static void RemoveOwnFile(const char *szPath)
{
    DWORD dwAttributes;
    DWORD nError;
    int bCleared = 0;

    ShowRemoved(0);
    dwAttributes = GetFileAttributesA(szPath);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
        nError = GetLastError();
        if (nError != ERROR_FILE_NOT_FOUND && nError != ERROR_PATH_NOT_FOUND)
            AddProblem(IDS_UN_FILE_LEFT, 1, szPath);
        return;
    }
    if ((dwAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return;
    if (szSelf[0] != EOS && StrMatch(szPath, szSelf, STR_NOCASE)) {
        AddProblem(IDS_UN_FILE_LEFT, 1, szPath);
        return;
    }
    if ((dwAttributes & FILE_ATTRIBUTE_READONLY) && !(dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (!SetFileAttributesA(szPath, dwAttributes & ~(DWORD)FILE_ATTRIBUTE_READONLY)) {
            AddProblem(IDS_UN_FILE_LEFT, 1, szPath);
            return;
        }
        bCleared = 1;
    }
    if ((dwAttributes & FILE_ATTRIBUTE_DIRECTORY) ? UtlRemoveDir(szPath) : UtlDeleteFile(szPath)) {
        ShowRemoved(1);
        return;
    }
    if (bCleared)
        SetFileAttributesA(szPath, dwAttributes);
    AddProblem(IDS_UN_FILE_LEFT, 1, szPath);
}

// Deletes the user's data files in the application folder: what each pattern's search finds there, by exactly
// the name the search gave, when that name is the user's data by the patterns themselves: a search also
// matches through short names (Katalogy\*.kmc finds Mine.kmcx), and such a file is not the installer's. A
// search that fails for another reason than "nothing there" is a failure. With bCheckOnly nothing is deleted:
// a data file the search still finds is a failure.
static void RemoveUserData(const char *szAppDir, const int *pbSafe, int bCheckOnly)
{
    for (int i = 0; pszTakeOverFiles[i] != NULL; i++) {
        char szPart[UNINST_PATH];
        char szMask[UNINST_PATH];
        char szFolder[UNINST_PATH];
        char szSearch[UNINST_PATH];
        WIN32_FIND_DATAA fd;
        HANDLE hFind;
        DWORD nError;
        int bSafe = 1;

        if (!UtlGetDir(szPart, pszTakeOverFiles[i], sizeof szPart) ||
            !UtlGetName(szMask, pszTakeOverFiles[i], sizeof szMask) ||
            !UtlJoinPath(szFolder, szAppDir, szPart, sizeof szFolder) ||
            !UtlJoinPath(szSearch, szFolder, szMask, sizeof szSearch)) {
            AddProblem(IDS_UN_NO_PATHS, 1, NULL);
            continue;
        }
        for (int j = 0; pszInstallDirs[j] != NULL; j++)
            if (!pbSafe[j] && StrMatch(szPart, pszInstallDirs[j], STR_NOCASE))
                bSafe = 0;
        if (!bSafe) // a link: reported already, never searched through
            continue;
        hFind = FindFirstFileA(szSearch, &fd);
        if (hFind == INVALID_HANDLE_VALUE) {
            nError = GetLastError();
            if (nError != ERROR_FILE_NOT_FOUND && nError != ERROR_PATH_NOT_FOUND)
                AddProblem(IDS_UN_FILE_LEFT, 1, szSearch);
            continue;
        }
        do {
            char szPath[UNINST_PATH];
            char szRel[UNINST_PATH];
            ShowRemoved(0);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            if (!UtlJoinEntry(szPath, szFolder, fd.cFileName, sizeof szPath) ||
                !UtlJoinEntry(szRel, szPart, fd.cFileName, sizeof szRel)) {
                // Only shown, never acted on: the folder, then the name as the search gave it.
                StrCopy(szPath, szFolder, sizeof szPath);
                StrAppend(szPath, "\\", sizeof szPath);
                StrAppend(szPath, fd.cFileName, sizeof szPath);
                AddProblem(IDS_UN_FILE_LEFT, 1, szPath);
            } else if (ProdIsUserData(szRel) && bCheckOnly)
                AddProblem(IDS_UN_FILE_LEFT, 1, szPath);
            else if (ProdIsUserData(szRel))
                RemoveOwnFile(szPath);
        } while (FindNextFileA(hFind, &fd));
        if (GetLastError() != ERROR_NO_MORE_FILES)
            AddProblem(IDS_UN_FILE_LEFT, 1, szSearch);
        FindClose(hFind);
    }
}

// Whether a path of this version is free of it now: only "not found" counts, or a plain folder, which is not
// the installer's and stays. Anything else is a failure: a call that said a file was not there, or was
// deleted, may not have told the truth.
static void CheckGone(const char *szPath)
{
    DWORD dwAttributes;
    DWORD nError;

    ShowRemoved(0);
    dwAttributes = GetFileAttributesA(szPath);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
        nError = GetLastError();
        if (nError == ERROR_FILE_NOT_FOUND || nError == ERROR_PATH_NOT_FOUND)
            return;
    } else if ((dwAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return;
    }
    AddProblem(IDS_UN_FILE_LEFT, 1, szPath);
}

// Looks again, before the uninstaller and the entry go, that nothing else of this version stays: the files of
// the table (the user's data among them only when it was to go), the user's data then, the two shortcuts.
static void CheckAllGone(const char *szAppDir, int bDeleteData, const int *pbSafe)
{
    static const int aLinkFolders[] = {FOLDER_PROGRAMS, FOLDER_DESKTOP};
    char szPath[UNINST_PATH];
    char szFolder[UNINST_PATH];

    for (int i = 0; pszInstallFiles[i] != NULL; i++) {
        if (!bDeleteData && ProdIsUserData(pszInstallFiles[i]))
            continue;
        if (UtlJoinPath(szPath, szAppDir, pszInstallFiles[i], sizeof szPath))
            CheckGone(szPath);
        else
            AddProblem(IDS_UN_NO_PATHS, 1, NULL);
    }
    if (bDeleteData)
        RemoveUserData(szAppDir, pbSafe, 1);
    for (int i = 0; i < 2; i++) {
        if (ShlGetFolder(aLinkFolders[i], szFolder, sizeof szFolder) &&
            UtlJoinPath(szPath, szFolder, szLinkName, sizeof szPath))
            CheckGone(szPath);
        else
            AddProblem(IDS_UN_NO_PATHS, 1, NULL);
    }
}

// What a folder of the application (szRel relative to the application folder, "" for the folder itself)
// still holds: HOLDS_DATA for the user's data files, HOLDS_OWN for this version's sub-folders and files (what
// could not be removed, reported already), HOLDS_OTHER for anything else. A folder that cannot be listed
// holds "other".
static int FolderHolds(const char *szFolder, const char *szRel)
{
    char szSearch[UNINST_PATH];
    char szRelPath[UNINST_PATH];
    WIN32_FIND_DATAA fd;
    HANDLE hFind;
    int nHolds = 0;

    if (!UtlJoinPath(szSearch, szFolder, "*.*", sizeof szSearch))
        return HOLDS_OTHER;
    hFind = FindFirstFileA(szSearch, &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : HOLDS_OTHER;
    do {
        int bOwn = 0;
        ShowRemoved(0);
        if (StrMatch(fd.cFileName, ".", 0) || StrMatch(fd.cFileName, "..", 0))
            continue;
        if (!UtlJoinEntry(szRelPath, szRel, fd.cFileName, sizeof szRelPath)) {
            nHolds |= HOLDS_OTHER;
            continue;
        }
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            for (int i = 0; szRel[0] == EOS && pszInstallDirs[i] != NULL; i++)
                bOwn |= StrMatch(fd.cFileName, pszInstallDirs[i], STR_NOCASE);
        } else {
            for (int i = 0; pszInstallFiles[i] != NULL; i++)
                bOwn |= StrMatch(szRelPath, pszInstallFiles[i], STR_NOCASE);
            bOwn |= StrMatch(szRelPath, szUninstaller, STR_NOCASE);
        }
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && ProdIsUserData(szRelPath))
            nHolds |= HOLDS_DATA;
        else if (bOwn)
            nHolds |= HOLDS_OWN;
        else
            nHolds |= HOLDS_OTHER;
    } while (FindNextFileA(hFind, &fd));
    if (GetLastError() != ERROR_NO_MORE_FILES)
        nHolds |= HOLDS_OTHER;
    FindClose(hFind);
    return nHolds;
}

// Removes a folder of the application once the removal has emptied it. A folder that still holds other
// things stays with a notice; one that holds nothing and still cannot go is a failure. Returns what it
// holds of the user's data and of other things.
static int RemoveOwnFolder(const char *szFolder, const char *szRel)
{
    int nHolds;

    ShowRemoved(0);
    if (UtlRemoveDir(szFolder)) {
        ShowRemoved(1);
        return 0;
    }
    nHolds = FolderHolds(szFolder, szRel);
    if (nHolds & HOLDS_OTHER)
        AddProblem(IDS_UN_DIR_LEFT, 0, szFolder);
    else if (nHolds == 0)
        AddProblem(IDS_UN_DIR_BUSY, 1, szFolder);
    return nHolds & (HOLDS_DATA | HOLDS_OTHER);
}

void UninstRemove(const char *szAppDir, int bDeleteData, WizResult *pResult)
{
    static const int aLinkFolders[] = {FOLDER_PROGRAMS, FOLDER_DESKTOP};
    int abSafe[8];
    char szPath[UNINST_PATH];
    DWORD dwAttributes;
    int bAppThere;
    int nHolds = 0;
    int nHeader;

    ASSERT(szAppDir != NULL);
    ASSERT(pResult != NULL);
    ASSERT(WizResultOk(pResult));
    nProblems = 0;
    nFailures = 0;

    // The application folder and its sub-folders are worked in only when they are plain folders: through a
    // link or junction the table's names would reach somewhere else.
    dwAttributes = GetFileAttributesA(szAppDir);
    bAppThere = dwAttributes != INVALID_FILE_ATTRIBUTES;
    if (bAppThere && (!(dwAttributes & FILE_ATTRIBUTE_DIRECTORY) || (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
        AddProblem(IDS_UN_DIR_LINK, 1, szAppDir);
        bAppThere = 0;
    } else if (!bAppThere && GetLastError() != ERROR_FILE_NOT_FOUND && GetLastError() != ERROR_PATH_NOT_FOUND) {
        AddProblem(IDS_UN_FILE_LEFT, 1, szAppDir);
    }
    for (int i = 0; pszInstallDirs[i] != NULL; i++) {
        ASSERT(i < (int)(sizeof abSafe / sizeof abSafe[0]));
        abSafe[i] = bAppThere;
        if (!bAppThere)
            continue;
        if (!UtlJoinPath(szPath, szAppDir, pszInstallDirs[i], sizeof szPath)) {
            abSafe[i] = 0;
            AddProblem(IDS_UN_NO_PATHS, 1, NULL);
            continue;
        }
        dwAttributes = GetFileAttributesA(szPath);
        if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            abSafe[i] = 0;
            AddProblem(IDS_UN_DIR_LINK, 1, szPath);
        }
    }

    if (bAppThere) {
        // The installer's files; the user's data among them only when asked.
        for (int i = 0; pszInstallFiles[i] != NULL; i++) {
            char szPart[UNINST_PATH];
            int bSafe = 1;
            if (!bDeleteData && ProdIsUserData(pszInstallFiles[i]))
                continue;
            if (!UtlGetDir(szPart, pszInstallFiles[i], sizeof szPart) ||
                !UtlJoinPath(szPath, szAppDir, pszInstallFiles[i], sizeof szPath)) {
                AddProblem(IDS_UN_NO_PATHS, 1, NULL);
                continue;
            }
            for (int j = 0; pszInstallDirs[j] != NULL; j++)
                if (!abSafe[j] && StrMatch(szPart, pszInstallDirs[j], STR_NOCASE))
                    bSafe = 0;
            if (bSafe)
                RemoveOwnFile(szPath);
        }
        if (bDeleteData)
            RemoveUserData(szAppDir, abSafe, 0);
    }

    // The shortcuts. A folder of a shortcut's name is not the installer's and stays.
    for (int i = 0; i < 2; i++) {
        char szFolder[UNINST_PATH];
        if (!ShlGetFolder(aLinkFolders[i], szFolder, sizeof szFolder) ||
            !UtlJoinPath(szPath, szFolder, szLinkName, sizeof szPath)) {
            AddProblem(IDS_UN_NO_PATHS, 1, NULL);
            continue;
        }
        dwAttributes = GetFileAttributesA(szPath);
        if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        if (!UtlDeleteFile(szPath))
            AddProblem(IDS_UN_LINK_LEFT, 1, szPath);
    }

    if (nFailures == 0)
        CheckAllGone(szAppDir, bDeleteData, abSafe);
    if (bAppThere) {
        // The uninstaller goes only when everything else of this version has: otherwise it stays, with the
        // entry, for another try.
        if (nFailures == 0) {
            if (UtlJoinPath(szPath, szAppDir, szUninstaller, sizeof szPath))
                RemoveOwnFile(szPath);
            else
                AddProblem(IDS_UN_NO_PATHS, 1, NULL);
        }
        for (int i = 0; pszInstallDirs[i] != NULL; i++)
            if (abSafe[i] && UtlJoinPath(szPath, szAppDir, pszInstallDirs[i], sizeof szPath))
                nHolds |= RemoveOwnFolder(szPath, pszInstallDirs[i]);
        nHolds |= RemoveOwnFolder(szAppDir, "");
        if (nHolds & HOLDS_DATA)
            AddProblem(IDS_UN_DATA_KEPT, 0, szAppDir);
    }

    // The entry goes last, and only when nothing of this version stays, as looked at once more; a deletion
    // that reported success while the key still opens is a failure too.
    if (nFailures == 0) {
        if (UtlJoinPath(szPath, szAppDir, szUninstaller, sizeof szPath))
            CheckGone(szPath);
        else
            AddProblem(IDS_UN_NO_PATHS, 1, NULL);
    }
    if (nFailures == 0) {
        HKEY hKey;
        if (!ShlRegDeleteKey(HKEY_LOCAL_MACHINE, szInstallEntry))
            AddProblem(IDS_UN_ENTRY_LEFT, 1, NULL);
        else if ((hKey = ShlRegOpen(HKEY_LOCAL_MACHINE, szInstallEntry, 0)) != NULL) {
            ShlRegClose(hKey);
            AddProblem(IDS_UN_ENTRY_LEFT, 1, NULL);
        }
    }

    nHeader = nFailures > 0 ? IDS_UN_INCOMPLETE : IDS_UN_DONE;
    if (nProblems == 0 && nHeader != IDS_UN_DONE)
        WizResultAdd(pResult, nHeader, 0, NULL);
    for (int i = 0; i < nProblems; i++)
        WizResultAdd(pResult, nHeader, aProblems[i].nMessage, aProblems[i].szArg);
}
