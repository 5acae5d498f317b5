// filefind.cpp - the file search of the emulated machine: FindFirstFileA, FindNextFileA and FindClose, with
// the platform's wildcards, short names and order.

#include "kernel/file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace plat
{

// The short name the platform would give a name that is not a valid 8.3 name ("LONGNA~1.TEX"), or "" for one
// that is. Collisions are not numbered: every short name ends in ~1.
static std::string ShortName(const std::string &sName)
{
    static const char szInvalid[] = "\"*+,/:;<=>?[\\]| ";
    auto Valid = [](unsigned char c) { return c >= 32 && strchr(szInvalid, c) == nullptr; };

    if (sName == "." || sName == "..")
        return std::string();
    size_t nDot = sName.rfind('.');
    std::string sBase = nDot == std::string::npos || nDot == 0 ? sName : sName.substr(0, nDot);
    std::string sExt = nDot == std::string::npos || nDot == 0 ? std::string() : sName.substr(nDot + 1);
    bool bValid = !sBase.empty() && sBase.size() <= 8 && sExt.size() <= 3 && sName[0] != '.' &&
                  sBase.find('.') == std::string::npos && (nDot == std::string::npos || !sExt.empty());
    for (unsigned char c : sName)
        if (c != '.' && !Valid(c))
            bValid = false;
    if (bValid)
        return std::string();

    auto Clean = [&](const std::string &s, size_t nMax) {
        std::string r;
        for (unsigned char c : s) {
            if (c == ' ' || c == '.')
                continue;
            if (r.size() == nMax)
                break;
            r += Valid(c) ? (char)c : '_';
        }
        return UpperName(r);
    };
    std::string sShort = Clean(sBase, 6);
    if (sShort.empty())
        sShort = "_";
    sShort += "~1";
    std::string sShortExt = Clean(sExt, 3);
    if (!sShortExt.empty())
        sShort += "." + sShortExt;
    return sShort;
}

// Whether a host entry's name (in code page 1251) can be a name on the platform. A host name may hold
// characters the platform forbids in names ("..\victim.txt", "C:\", "a:b", "x*y", control characters);
// handed out, a caller would join it to a path that names something else (the folder's parent, a drive's
// root). Searches skip such entries, and names with characters outside the code page (they would read back
// with '?'): the caller never sees them, and they stay where they are.
static bool IsWindowsName(const std::string &sName)
{
    for (unsigned char c : sName)
        if (c < 32 || strchr("\\/:*?\"<>|", c) != nullptr)
            return false;
    return !sName.empty();
}

// A search: the names that matched, taken when it started; each entry's attributes, times and size are read
// when the entry is handed out, in the folder the search opened (as the platform's search handle holds its
// folder), so that each costs a call on one name, not on a whole path.
struct FindObject : KernelObject {
    struct Entry {
        std::string sName;  // as handed out (ANSI)
        std::string sShort; // its short name, or "" for a valid 8.3 name
        std::string sLeaf;  // the host name in the folder
    };
    std::vector<Entry> aEntries;
    size_t nNext = 0;
    std::string sWin; // the full Windows path of the pattern
    std::string sDir; // the folder's host path
    DIR *pDir = nullptr;
    ~FindObject() override
    {
        if (pDir != nullptr)
            closedir(pDir);
    }
};

static void CopyName(char *pszDest, size_t nSize, const std::string &s)
{
    size_t n = std::min(s.size(), nSize - 1);
    memcpy(pszDest, s.data(), n);
    pszDest[n] = '\0';
}

// Fills a search entry from a host entry of its folder: one statx and one listxattr (more only for the
// values an entry keeps). False when the entry is gone.
static bool FillFindData(WIN32_FIND_DATAA *pData, const FindObject &find, const FindObject::Entry &e)
{
    const std::string &sName = e.sName;
    int fdDir = dirfd(find.pDir);
    struct statx stx;
    memset(pData, 0, sizeof *pData);
    if (statx(fdDir, e.sLeaf.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0)
        return false;
    // The whole path only for a host without the attribute calls relative to a folder.
    std::string sHost = XattrAtCalls() ? std::string() : find.sDir + "/" + e.sLeaf;
    HostAt at = {fdDir, e.sLeaf.c_str(), &sHost};
    // Read through a link, as GetFileTime does: the creation time a program set on what it points to.
    StoredValues values;
    ReadStoredValues(at, &values);
    if (S_ISLNK(stx.stx_mode)) {
        pData->dwFileAttributes = LinkAttributes(at);
        pData->dwReserved0 = IO_REPARSE_TAG_SYMLINK;
    } else {
        pData->dwFileAttributes = AttributesFromBits(stx.stx_mode, values.bDosBits, values.dwDosBits);
    }
    if (values.bCreationTime)
        pData->ftCreationTime = FileTimeFromTicks(values.nCreationTime);
    else
        pData->ftCreationTime =
            FileTimeFromStatx((stx.stx_mask & STATX_BTIME) ? stx.stx_btime : stx.stx_mtime);
    pData->ftLastAccessTime = FileTimeFromStatx(stx.stx_atime);
    pData->ftLastWriteTime = FileTimeFromStatx(stx.stx_mtime);
    if (S_ISREG(stx.stx_mode)) {
        pData->nFileSizeHigh = (DWORD)(stx.stx_size >> 32);
        pData->nFileSizeLow = (DWORD)(stx.stx_size & 0xFFFFFFFFu);
    }
    CopyName(pData->cFileName, sizeof pData->cFileName, sName);
    CopyName(pData->cAlternateFileName, sizeof pData->cAlternateFileName, e.sShort);
    return true;
}

// Hands out the search's next entry that is still there; false at the end.
static bool NextFindData(FindObject *pFind, WIN32_FIND_DATAA *pData)
{
    while (pFind->nNext < pFind->aEntries.size()) {
        const FindObject::Entry &e = pFind->aEntries[pFind->nNext++];
        if (FillFindData(pData, *pFind, e))
            return true;
    }
    return false;
}

static FindObject *FindFromHandle(HANDLE h)
{
    KernelObject *p = LookupHandle(h);
    if (p == nullptr)
        return nullptr;
    FindObject *pFind = dynamic_cast<FindObject *>(p);
    if (pFind == nullptr)
        SetLastError(ERROR_INVALID_HANDLE);
    return pFind;
}

} // namespace plat

using namespace plat;

static HANDLE FindFirstFileAImpl(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData)
{
    ResolvedPath path;

    if (lpFindFileData == NULL)
        return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    if (!ResolveArg("FindFirstFileA", lpFileName, &path, RESOLVE_WILDCARDS))
        return INVALID_HANDLE_VALUE;
    if (path.bTrailingSep || path.bRoot)
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    std::string sDir = HostParent(path.sHost);
    const std::string &sMask = path.sName;
    bool bDriveRoot = path.sWin.rfind('\\') == 2;

    DIR *d = nullptr;
    if (path.pDir != nullptr) {
        int fd = openat(path.pDir->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        d = fd >= 0 ? fdopendir(fd) : nullptr;
        if (fd >= 0 && d == nullptr)
            close(fd);
    } else {
        d = opendir(sDir.c_str());
    }
    if (d == nullptr)
        return Fail(errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno), INVALID_HANDLE_VALUE);
    FindObject *pFind = new FindObject;
    pFind->sWin = path.sWin;
    pFind->sDir = sDir;
    pFind->pDir = d;
    struct Entry {
        std::string sName, sShort, sUpper, sLeaf;
        int nOrder;
    };
    std::vector<Entry> aMatches;
    auto Consider = [&](const std::string &sName, const char *pszLeaf, int nOrder) {
        std::string sShort = ShortName(sName);
        if (MatchWildcards(sMask, sName, true) || (!sShort.empty() && MatchWildcards(sMask, sShort, true)))
            aMatches.push_back(Entry{sName, std::move(sShort), UpperName(sName), pszLeaf, nOrder});
    };
    if (!bDriveRoot) {
        Consider(".", ".", 0);
        Consider("..", "..", 1);
    }
    while (struct dirent *e = readdir(d)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0)
            continue;
        bool bLossy = false;
        std::string sName = Utf8ToAnsi(e->d_name, &bLossy);
        if (bLossy || !IsWindowsName(sName))
            continue;
        Consider(sName, e->d_name, 2);
    }
    if (aMatches.empty()) {
        delete pFind;
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    // In the order the platform's file system keeps a folder: by name without case.
    std::sort(aMatches.begin(), aMatches.end(), [](const Entry &a, const Entry &b) {
        if (a.nOrder != b.nOrder)
            return a.nOrder < b.nOrder;
        return a.sUpper != b.sUpper ? a.sUpper < b.sUpper : a.sName < b.sName;
    });
    pFind->aEntries.reserve(aMatches.size());
    for (Entry &e : aMatches)
        pFind->aEntries.push_back(
            FindObject::Entry{std::move(e.sName), std::move(e.sShort), std::move(e.sLeaf)});
    WIN32_FIND_DATAA data;
    if (!NextFindData(pFind, &data)) {
        delete pFind;
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    *lpFindFileData = data;
    SetLastError(ERROR_SUCCESS);
    return RegisterHandle(pFind);
}

static BOOL FindNextFileAImpl(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData)
{
    FindObject *pFind = FindFromHandle(hFindFile);
    WIN32_FIND_DATAA data;
    DWORD nError;

    if (pFind == nullptr)
        return FALSE;
    if (InjectedFault("FindNextFileA", pFind->sWin, &nError))
        return Fail(nError, FALSE);
    if (!NextFindData(pFind, &data))
        return Fail(ERROR_NO_MORE_FILES, FALSE);
    *lpFindFileData = data;
    return TRUE;
}

// The fault switch makes it report an error; the search is closed all the same, as CloseHandle does.
static BOOL FindCloseImpl(HANDLE hFindFile)
{
    FindObject *pFind = FindFromHandle(hFindFile);
    DWORD nError;

    if (pFind == nullptr)
        return FALSE;
    bool bFault = InjectedFault("FindClose", pFind->sWin, &nError);
    UnregisterHandle(hFindFile);
    delete pFind;
    return bFault ? Fail(nError, FALSE) : TRUE;
}

// The calls themselves: each one run as a traced call of the fault switch.

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData)
{
    TracedCall call("FindFirstFileA");
    return call.Handle(FindFirstFileAImpl(lpFileName, lpFindFileData));
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData)
{
    TracedCall call("FindNextFileA");
    return call.Bool(FindNextFileAImpl(hFindFile, lpFindFileData));
}

BOOL WINAPI FindClose(HANDLE hFindFile)
{
    TracedCall call("FindClose");
    return call.Bool(FindCloseImpl(hFindFile));
}
