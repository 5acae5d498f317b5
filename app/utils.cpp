// utils.cpp - file and path utilities: splitting and joining paths, full paths, the program's folder, and
// the file operations of the installation steps, each successful change announced to the shell. Tree
// deletion walks depth first with an explicit stack of bounded depth, never by recursion.

#include "utils.h"

#include <stdlib.h>

#include "charstr.h"
#include "platform.h"
#include "sysassert.h"

static const char szThisModule[] = "app\\UTILS";

// A folder being emptied by UtlDeleteTree: its path and the suspended search of the folder above it.
struct UtlTreeLevel {
    char szPath[UTL_PATH_SIZE];
    HANDLE hFind;
};

// Removes the trailing backslash of a path unless it is the first character or follows a colon (a root
// keeps it). Only one is removed.
static void UtlDropSeparator(char *szPath)
{
    char *p = StrFindChar(szPath, '\\', STR_RIGHT);

    if (p != NULL && p[1] == EOS && p != szPath && p[-1] != ':')
        *p = EOS;
}

// Copies a path into a work buffer of UTL_PATH_SIZE bytes, trims it and drops its trailing separator.
// Returns 0 when the path does not fit.
static int UtlPreparePath(char *szBuffer, const char *szPath)
{
    if (!StrCopy(szBuffer, szPath, UTL_PATH_SIZE))
        return 0;
    StrTrim(szBuffer, 0);
    UtlDropSeparator(szBuffer);
    return 1;
}

// Announces a change of the item at szPath to the shell, by its full path; nothing when that cannot be had.
static void UtlNotify(LONG nEvent, const char *szPath)
{
    char szFull[UTL_PATH_SIZE];

    if (UtlGetFullPath(szFull, szPath, sizeof szFull))
        SHChangeNotify(nEvent, SHCNF_PATH, szFull, NULL);
}

// The folder part of a path: "C:\Dir\File" gives "C:\Dir", "C:\File" "C:\", "C:File" "C:", "File" "".
int UtlGetDir(char *szDir, const char *szPath, int nSize)
{
    char szWork[UTL_PATH_SIZE];
    char *p;

    ASSERT(szDir != NULL);
    ASSERT(szPath != NULL);
    ASSERT(nSize >= 0);
    if (nSize > 0)
        *szDir = EOS;
    if (!UtlPreparePath(szWork, szPath))
        return 0;
    p = StrFindChar(szWork, '\\', STR_RIGHT);
    if (p != NULL && p != szWork && p[-1] != ':') {
        *p = EOS;
    } else if (p != NULL) {
        p[1] = EOS;
    } else {
        p = StrFindChar(szWork, ':', 0);
        if (p != NULL)
            p[1] = EOS;
        else
            *szWork = EOS;
    }
    if (nSize > 0)
        return StrCopy(szDir, szWork, nSize);
    return 0;
}

// The last component of a path; it splits where UtlGetDir does ("C:\Dir\" gives "Dir", "C:\" gives "").
int UtlGetName(char *szName, const char *szPath, int nSize)
{
    char szWork[UTL_PATH_SIZE];
    char *p;

    ASSERT(szName != NULL);
    ASSERT(szPath != NULL);
    ASSERT(nSize >= 0);
    if (nSize > 0)
        *szName = EOS;
    if (!UtlPreparePath(szWork, szPath))
        return 0;
    p = StrFindChar(szWork, '\\', STR_RIGHT);
    if (p == NULL)
        p = StrFindChar(szWork, ':', 0);
    if (p == NULL)
        p = szWork;
    else
        p++;
    if (nSize > 0)
        return StrCopy(szName, p, nSize);
    return 0;
}

// A name within a folder. A name that begins with a backslash or a drive ("\File", "D:\Other", "D:x")
// replaces the folder; an empty name gives the folder itself, without a final backslash unless it is a root.
// A folder of 259 characters that needs a separator joins with nothing; a name of 260 characters or more
// leaves the folder and its separator in szPath.
int UtlJoinPath(char *szPath, const char *szDir, const char *szName, int nSize)
{
    char szWork[UTL_PATH_SIZE];
    int nLength;

    ASSERT(szPath != NULL);
    ASSERT(szDir != NULL);
    ASSERT(szName != NULL);
    ASSERT(nSize >= 0);
    if (nSize > 0)
        *szPath = EOS;
    if (!StrCopy(szWork, szDir, sizeof szWork))
        return 0;
    StrTrim(szWork, 0);
    nLength = StrLength(szWork);
    if (nLength > 0 && szWork[nLength - 1] != '\\' && szWork[nLength - 1] != ':') {
        if (nLength > UTL_PATH_SIZE - 2)
            return 0;
        szWork[nLength] = '\\';
        szWork[nLength + 1] = EOS;
    }
    if (nSize == 0)
        return 0;
    if (!StrCopy(szPath, szWork, nSize))
        return 0;
    if (!UtlPreparePath(szWork, szName))
        return 0;
    if (*szWork == EOS) {
        UtlDropSeparator(szPath);
        return 1;
    }
    if (szWork[0] == '\\' || szWork[1] == ':')
        *szPath = EOS;
    return StrAppend(szPath, szWork, nSize);
}

// The platform's full path of a name. On failure szPath holds the prepared name itself (as much as fits).
int UtlGetFullPath(char *szPath, const char *szName, int nSize)
{
    char szWork[UTL_PATH_SIZE];
    DWORD nLength;

    ASSERT(szPath != NULL);
    ASSERT(szName != NULL);
    ASSERT(nSize >= 0);
    if (nSize > 0)
        *szPath = EOS;
    if (!UtlPreparePath(szWork, szName))
        return 0;
    nLength = GetFullPathNameA(szWork, (DWORD)nSize, szPath, NULL);
    if (nLength > 0 && nLength < (DWORD)nSize)
        return 1;
    if (nSize > 0)
        StrCopy(szPath, szWork, nSize);
    return 0;
}

// The folder of the running program. A module path the platform had to cut short counts as a failure: its
// folder part would name another folder.
int UtlGetModuleDir(char *szDir, int nSize)
{
    char szModule[UTL_PATH_SIZE];
    DWORD nLength;

    ASSERT(szDir != NULL);
    ASSERT(nSize >= 0);
    if (nSize > 0)
        *szDir = EOS;
    nLength = GetModuleFileNameA(NULL, szModule, sizeof szModule);
    if (nLength == 0 || nLength >= sizeof szModule)
        return 0;
    return UtlGetDir(szDir, szModule, nSize);
}

// Whether a path the platform gives in UTF-16 can be written in the system's ANSI code page, in which the
// program forms every path: each of its characters has a byte of its own there, with neither a best-fit
// stand-in nor the default character. A path too long for a path buffer counts as nameable: the calls that
// form it report it as they always have.
int UtlNameable(const WCHAR *wszPath)
{
    char szPath[4 * UTL_PATH_SIZE];
    BOOL bUsedDefault = FALSE;

    ASSERT(wszPath != NULL);
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wszPath, -1, szPath, sizeof szPath, NULL,
                            &bUsedDefault) <= 0)
        return 1;
    return !bUsedDefault;
}

// Whether the folders the programs form paths in can be named in the system's ANSI code page: the program's
// own (the medium, or the application folder), the temporary folder, and the user's Start-menu programs,
// desktop and documents folders. On a system whose code page has no Cyrillic letters, a medium copied into
// a Cyrillic folder, or a user's profile with a Cyrillic name, cannot be named: the ANSI calls would give
// question marks. A folder the platform does not give here is left to the calls that form it later. Asks
// only for wide paths, which change nothing.
int UtlPathsNameable(void)
{
    static const int anCsidl[] = {CSIDL_PROGRAMS, CSIDL_DESKTOPDIRECTORY, CSIDL_PERSONAL};
    WCHAR wszPath[UTL_PATH_SIZE];
    DWORD nLength;

    nLength = GetModuleFileNameW(NULL, wszPath, UTL_PATH_SIZE);
    if (nLength > 0 && nLength < UTL_PATH_SIZE && !UtlNameable(wszPath))
        return 0;
    nLength = GetTempPathW(UTL_PATH_SIZE, wszPath);
    if (nLength > 0 && nLength < UTL_PATH_SIZE && !UtlNameable(wszPath))
        return 0;
    for (int i = 0; i < (int)(sizeof anCsidl / sizeof anCsidl[0]); i++)
        if (SHGetFolderPathW(NULL, anCsidl[i], NULL, 0, wszPath) == S_OK && !UtlNameable(wszPath))
            return 0;
    return 1;
}

// Copies a file over any existing one; onto a folder, into it under the source's name. The copy loses the
// read-only bit and gains the archive bit. Returns the platform's result.
int UtlCopyFile(const char *szFileName, const char *szDestName)
{
    char szTarget[UTL_PATH_SIZE];
    char szName[UTL_PATH_SIZE];
    DWORD dwAttributes;

    ASSERT(szFileName != NULL);
    ASSERT(szDestName != NULL);
    dwAttributes = GetFileAttributesA(szDestName);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (!UtlGetName(szName, szFileName, sizeof szName) ||
            !UtlJoinPath(szTarget, szDestName, szName, sizeof szTarget))
            return 0;
    } else if (!StrCopy(szTarget, szDestName, sizeof szTarget)) {
        return 0;
    }
    return UtlCopyFileTo(szFileName, szTarget);
}

// Copies a file to exactly szTarget, over an existing file there; a folder in the way makes it fail. The
// copy loses the read-only bit and gains the archive bit. Returns the platform's result.
int UtlCopyFileTo(const char *szFileName, const char *szTarget)
{
    DWORD dwAttributes;
    BOOL bCopied;

    ASSERT(szFileName != NULL);
    ASSERT(szTarget != NULL);
    bCopied = CopyFileA(szFileName, szTarget, FALSE);
    if (!bCopied)
        return 0;
    dwAttributes = GetFileAttributesA(szTarget);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesA(szTarget,
                           (dwAttributes & ~(DWORD)FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_ARCHIVE);
    UtlNotify(SHCNE_CREATE, szTarget);
    return bCopied;
}

// Deletes a file and announces it, by the path as it stands when bFull (a full path the tree walk made),
// else by its full path.
static int UtlDeleteFileAs(const char *szFileName, int bFull)
{
    BOOL bDeleted;
    DWORD nError;

    bDeleted = DeleteFileA(szFileName);
    nError = GetLastError();
    if (bDeleted) {
        if (bFull)
            SHChangeNotify(SHCNE_DELETE, SHCNF_PATH, szFileName, NULL);
        else
            UtlNotify(SHCNE_DELETE, szFileName);
        return bDeleted;
    }
    // "Not found" counts as deleted only while a second look finds nothing there either: a file that is still
    // there was not deleted, whatever the deletion answered.
    if (nError != ERROR_FILE_NOT_FOUND && nError != ERROR_PATH_NOT_FOUND)
        return 0;
    return GetFileAttributesA(szFileName) == INVALID_FILE_ATTRIBUTES;
}

// Deletes a file; one that is not there (the deletion and a second look agree) counts as deleted.
int UtlDeleteFile(const char *szFileName)
{
    ASSERT(szFileName != NULL);
    return UtlDeleteFileAs(szFileName, 0);
}

// Makes one folder (its parent must exist); one that exists already as a folder counts as made.
int UtlCreateDir(const char *szDirName)
{
    BOOL bCreated;
    DWORD nError;
    DWORD dwAttributes;

    ASSERT(szDirName != NULL);
    bCreated = CreateDirectoryA(szDirName, NULL);
    nError = GetLastError();
    if (bCreated) {
        UtlNotify(SHCNE_MKDIR, szDirName);
        return bCreated;
    }
    if (nError != ERROR_ALREADY_EXISTS)
        return 0;
    dwAttributes = GetFileAttributesA(szDirName);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Removes an empty folder and announces it, as UtlDeleteFileAs does a file.
static int UtlRemoveDirAs(const char *szDirName, int bFull)
{
    BOOL bRemoved;
    DWORD nError;

    bRemoved = RemoveDirectoryA(szDirName);
    nError = GetLastError();
    if (bRemoved) {
        if (bFull)
            SHChangeNotify(SHCNE_RMDIR, SHCNF_PATH, szDirName, NULL);
        else
            UtlNotify(SHCNE_RMDIR, szDirName);
        return bRemoved;
    }
    return nError == ERROR_FILE_NOT_FOUND || nError == ERROR_PATH_NOT_FOUND;
}

// Removes one empty folder; one that is not there counts as removed.
int UtlRemoveDir(const char *szDirName)
{
    ASSERT(szDirName != NULL);
    return UtlRemoveDirAs(szDirName, 0);
}

// Whether a search entry is "." (the folder itself) or ".." (its parent).
static int UtlIsDotEntry(const char *szName)
{
    return szName[0] == '.' && (szName[1] == EOS || (szName[1] == '.' && szName[2] == EOS));
}

// Whether a name, without its extension and trailing blanks, is one of the platform's device names: a path
// that ends in it reaches the device, not a file.
static int UtlIsDeviceName(const char *szName)
{
    static const char *const pszDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", NULL};
    char szBase[8];
    int n = 0;

    while (szName[n] != EOS && szName[n] != '.')
        n++;
    while (n > 0 && szName[n - 1] == ' ')
        n--;
    if (n >= (int)sizeof szBase)
        return 0;
    for (int i = 0; i < n; i++)
        szBase[i] = szName[i];
    szBase[n] = EOS;
    for (int i = 0; pszDevices[i] != NULL; i++)
        if (StrMatch(szBase, pszDevices[i], STR_NOCASE))
            return 1;
    return (StrMatch(szBase, "COM?", STR_NOCASE | STR_WILDCARDS) ||
            StrMatch(szBase, "LPT?", STR_NOCASE | STR_WILDCARDS)) &&
           szBase[3] >= '1' && szBase[3] <= '9';
}

// Joins a folder and a name that the platform's search returned, exactly as the name stands: nothing is
// trimmed and no separator rule applies to the name. Returns 0, with szPath empty, when the name cannot be
// reached safely through a path: empty, "." or "..", holding a character a path reads otherwise
// (\ / : * ? " < > | or a control character), ending in a dot or a blank (the platform drops those when it
// makes the path full, so the path would name another entry), or a device name. The folder gets a
// backslash unless it is empty or ends in one or in a colon.
int UtlJoinEntry(char *szPath, const char *szDir, const char *szName, int nSize)
{
    int nLength;

    ASSERT(szPath != NULL);
    ASSERT(szDir != NULL);
    ASSERT(szName != NULL);
    ASSERT(nSize >= 0);
    if (nSize > 0)
        *szPath = EOS;
    nLength = StrLength(szName);
    if (nLength == 0 || UtlIsDotEntry(szName) || StrFindAny(szName, "\\/:*?\"<>|", 0, STR_CNTRL)[0] != EOS ||
        szName[nLength - 1] == '.' || (StrCharType((unsigned char)szName[nLength - 1]) & STR_SPACE) ||
        UtlIsDeviceName(szName))
        return 0;
    if (nSize == 0 || !StrCopy(szPath, szDir, nSize))
        goto fail;
    nLength = StrLength(szPath);
    if (nLength > 0 && szPath[nLength - 1] != '\\' && szPath[nLength - 1] != ':' &&
        !StrAppend(szPath, "\\", nSize))
        goto fail;
    if (StrAppend(szPath, szName, nSize))
        return 1;
fail:
    if (nSize > 0)
        *szPath = EOS;
    return 0;
}

// Deletes a folder with everything in it, depth first: a sub-folder is entered when its parent's search
// meets it and removed when its own search ends. At most UTL_TREE_DEPTH levels below the root are entered;
// what lies deeper stays, and so do the folders above it. Every entry is acted on by exactly the name the
// search gave it (UtlJoinEntry), never through a trimmed or folded form of it, so the walk cannot leave the
// root; an entry that has no safe name stays, and so do the folders above it. A link, junction or other
// reparse point is never entered: the link itself is removed (a folder link as a folder, a file link as a
// file), whatever it points to stays; a root that is a link is likewise removed as a link only. Entries
// that cannot be deleted stay; the walk goes on. Non-zero when at the end the root is gone.
int UtlDeleteTree(const char *szDirName)
{
    struct UtlTreeLevel *pStack;
    int nTop = 0;
    char szRoot[UTL_PATH_SIZE];
    char szPattern[UTL_PATH_SIZE];
    char szEntry[UTL_PATH_SIZE];
    const char *szCurrent = szRoot;
    WIN32_FIND_DATAA fd;
    HANDLE hFind;
    HANDLE hSub;
    DWORD dwAttributes;

    ASSERT(szDirName != NULL);
    pStack = (struct UtlTreeLevel *)malloc(UTL_TREE_DEPTH * sizeof *pStack);
    if (pStack == NULL)
        return UtlRemoveDir(szDirName);
    // The walk works on full paths, made once from the root's: every entry's path is then full as it stands
    // (UtlJoinEntry takes no name the platform would change), and is announced as it is.
    if (!UtlGetFullPath(szRoot, szDirName, sizeof szRoot))
        goto done;
    if (*szRoot == EOS || !UtlJoinPath(szPattern, szRoot, "*.*", sizeof szPattern))
        goto done;
    // A root that is itself a link is removed as a link, never searched through.
    dwAttributes = GetFileAttributesA(szRoot);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        goto done;
    hFind = FindFirstFileA(szPattern, &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        goto done;
    for (;;) {
        // The current entry of the current search; one without a safe name stays where it is.
        if (!UtlIsDotEntry(fd.cFileName) && UtlJoinEntry(szEntry, szCurrent, fd.cFileName, sizeof szEntry)) {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                UtlDeleteFileAs(szEntry, 1);
            } else if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                UtlRemoveDirAs(szEntry, 1);
            } else if (nTop < UTL_TREE_DEPTH && UtlJoinPath(szPattern, szEntry, "*.*", sizeof szPattern) &&
                       (hSub = FindFirstFileA(szPattern, &fd)) != INVALID_HANDLE_VALUE) {
                StrCopy(pStack[nTop].szPath, szEntry, sizeof pStack[nTop].szPath);
                pStack[nTop].hFind = hFind;
                nTop++;
                szCurrent = pStack[nTop - 1].szPath;
                hFind = hSub;
                continue;
            }
            // Too deep, or not listed: the folder stays.
        }
        // Advance; a finished search closes, and its folder, now empty, is removed. A search that stops on
        // an error leaves its folder unfinished, so removing it fails and the result tells.
        while (!FindNextFileA(hFind, &fd)) {
            FindClose(hFind);
            if (nTop == 0)
                goto done;
            nTop--;
            hFind = pStack[nTop].hFind;
            szCurrent = nTop > 0 ? pStack[nTop - 1].szPath : szRoot;
            UtlRemoveDirAs(pStack[nTop].szPath, 1);
        }
    }
done:
    free(pStack);
    return UtlRemoveDir(szDirName);
}
