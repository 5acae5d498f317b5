// utils.cpp - file and path utilities: splitting and joining paths, full paths, the program's folder, and
// the file operations of the installation steps, each successful change announced to the shell. Tree
// deletion walks depth first with an explicit stack of bounded depth, never by recursion.

#include "utils.h"

#include <stdlib.h>

#include "charstr.h"
#include "platform.h"
#include "sysassert.h"

static const char szThisModule[] = "app\\UTILS";

// The deepest a tree is entered below its root.
#define UTL_TREE_DEPTH 100

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

// Copies a file over any existing one; onto a folder, into it under the source's name. The copy loses the
// read-only bit and gains the archive bit. Returns the platform's result.
int UtlCopyFile(const char *szFileName, const char *szDestName)
{
    char szTarget[UTL_PATH_SIZE];
    char szName[UTL_PATH_SIZE];
    DWORD dwAttributes;
    BOOL bCopied;

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

// Deletes a file; one that is not there counts as deleted.
int UtlDeleteFile(const char *szFileName)
{
    BOOL bDeleted;
    DWORD nError;

    ASSERT(szFileName != NULL);
    bDeleted = DeleteFileA(szFileName);
    nError = GetLastError();
    if (bDeleted) {
        UtlNotify(SHCNE_DELETE, szFileName);
        return bDeleted;
    }
    return nError == ERROR_FILE_NOT_FOUND || nError == ERROR_PATH_NOT_FOUND;
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

// Removes one empty folder; one that is not there counts as removed.
int UtlRemoveDir(const char *szDirName)
{
    BOOL bRemoved;
    DWORD nError;

    ASSERT(szDirName != NULL);
    bRemoved = RemoveDirectoryA(szDirName);
    nError = GetLastError();
    if (bRemoved) {
        UtlNotify(SHCNE_RMDIR, szDirName);
        return bRemoved;
    }
    return nError == ERROR_FILE_NOT_FOUND || nError == ERROR_PATH_NOT_FOUND;
}

// Whether a search entry is "." (the folder itself) or ".." (its parent).
static int UtlIsDotEntry(const char *szName)
{
    return szName[0] == '.' && (szName[1] == EOS || (szName[1] == '.' && szName[2] == EOS));
}

// Deletes a folder with everything in it, depth first: a sub-folder is entered when its parent's search
// meets it and removed when its own search ends. At most UTL_TREE_DEPTH levels below the root are entered;
// what lies deeper stays, and so do the folders above it. A link, junction or other reparse point is never
// entered: the link itself is removed (a folder link as a folder, a file link as a file), whatever it points
// to stays; a root that is a link is likewise removed as a link only. Entries that cannot be deleted stay;
// the walk goes on. Non-zero when at the end the root is gone.
int UtlDeleteTree(const char *szDirName)
{
    struct UtlTreeLevel *pStack;
    int nTop = 0;
    char szCurrent[UTL_PATH_SIZE];
    char szPattern[UTL_PATH_SIZE];
    char szEntry[UTL_PATH_SIZE];
    WIN32_FIND_DATAA fd;
    HANDLE hFind;
    HANDLE hSub;
    DWORD dwAttributes;

    ASSERT(szDirName != NULL);
    pStack = (struct UtlTreeLevel *)malloc(UTL_TREE_DEPTH * sizeof *pStack);
    if (pStack == NULL)
        return UtlRemoveDir(szDirName);
    if (!StrCopy(szCurrent, szDirName, sizeof szCurrent))
        goto done;
    StrTrim(szCurrent, 0);
    if (*szCurrent == EOS || !UtlJoinPath(szPattern, szCurrent, "*.*", sizeof szPattern))
        goto done;
    // A root that is itself a link is removed as a link, never searched through.
    dwAttributes = GetFileAttributesA(szCurrent);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        goto done;
    hFind = FindFirstFileA(szPattern, &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        goto done;
    for (;;) {
        // The current entry of the current search.
        if (UtlJoinPath(szEntry, szCurrent, fd.cFileName, sizeof szEntry)) {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                UtlDeleteFile(szEntry);
            } else if (UtlIsDotEntry(fd.cFileName)) {
                // the folder itself and its parent
            } else if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                UtlRemoveDir(szEntry);
            } else if (nTop < UTL_TREE_DEPTH) {
                StrCopy(pStack[nTop].szPath, szEntry, sizeof pStack[nTop].szPath);
                pStack[nTop].hFind = hFind;
                nTop++;
                StrCopy(szCurrent, szEntry, sizeof szCurrent);
                hSub = UtlJoinPath(szPattern, szCurrent, "*.*", sizeof szPattern)
                           ? FindFirstFileA(szPattern, &fd)
                           : INVALID_HANDLE_VALUE;
                if (hSub != INVALID_HANDLE_VALUE) {
                    hFind = hSub;
                    continue;
                }
                // Not listed: the folder stays.
                nTop--;
                UtlGetDir(szCurrent, pStack[nTop].szPath, sizeof szCurrent);
                hFind = pStack[nTop].hFind;
            }
        }
        // Advance; a finished search closes, and its folder, now empty, is removed.
        while (!FindNextFileA(hFind, &fd)) {
            FindClose(hFind);
            if (nTop == 0)
                goto done;
            nTop--;
            UtlGetDir(szCurrent, pStack[nTop].szPath, sizeof szCurrent);
            hFind = pStack[nTop].hFind;
            UtlRemoveDir(pStack[nTop].szPath);
        }
    }
done:
    free(pStack);
    return UtlRemoveDir(szDirName);
}
