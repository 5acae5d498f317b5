// paths.cpp - Windows paths of the emulated machine and their host paths: the current directory, full
// paths by GetFullPathNameA's rules, the resolution of a file call's path on the host (each name matched
// without case where its exact spelling is not there), the Windows path of a host path, and the reserved
// device names; GetFullPathNameA, Get/SetCurrentDirectoryA and GetTempPathA.
//
// The parts of this file, in order: the current directory; full paths (GetFullPathNameA's folding); host
// paths (a name's host spelling, ResolvePath, kept folders from names.cpp); the Windows path of a host
// path; reserved device names; ResolveArg for the file calls; the Win32 calls.

#include "kernel/kernel.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;

namespace plat {

// The longest path the ANSI file calls accept, in characters: longer ones fail with
// ERROR_FILENAME_EXCED_RANGE, as the platform's conversion to its wide-character calls does.
static const size_t MAX_ANSI_PATH = MAX_PATH;

// The current directory.

static std::mutex mxCurDir;
static std::string sCurDir;

std::string CurrentDirectory()
{
    std::lock_guard<std::mutex> lock(mxCurDir);
    if (sCurDir.empty()) {
        std::error_code ec;
        fs::path p = fs::current_path(ec);
        sCurDir = ec ? std::string("C:\\") : WindowsPathFromHost(p.string());
    }
    return sCurDir;
}

void SetCurrentDirectoryPath(const std::string &sFull)
{
    std::lock_guard<std::mutex> lock(mxCurDir);
    sCurDir = sFull;
}

// Full paths.

static bool IsSep(char c)
{
    return c == '\\' || c == '/';
}

static bool HasDrive(const std::string &s)
{
    return s.size() >= 2 && s[1] == ':' && ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z'));
}

static char DriveLetter(const std::string &s)
{
    return (char)(s[0] >= 'a' ? s[0] - 'a' + 'A' : s[0]);
}

// Splits a full path into its root ("C:\", "\\server\share\") and the rest.
static void SplitRoot(const std::string &sFull, std::string *psRoot, std::string *psRest)
{
    size_t n = 0;
    if (sFull.size() >= 2 && sFull[0] == '\\' && sFull[1] == '\\') {
        // \\server\share\ ...
        size_t nServer = sFull.find('\\', 2);
        size_t nShare = nServer == std::string::npos ? std::string::npos : sFull.find('\\', nServer + 1);
        n = nShare == std::string::npos ? sFull.size() : nShare + 1;
    } else if (HasDrive(sFull)) {
        n = sFull.size() >= 3 && sFull[2] == '\\' ? 3 : 2;
    }
    *psRoot = sFull.substr(0, n);
    *psRest = sFull.substr(n);
}

// Whether the names after a root need no folding: none empty (no repeated separator), none ending in a
// dot (no "." or ".." either), the last not ending in a blank. Most paths are so.
static bool Folded(const std::string &sRest)
{
    size_t n = sRest.size();
    if (n == 0 || sRest[0] == '\\')
        return false;
    for (size_t i = 0; i < n;) {
        size_t j = sRest.find('\\', i);
        if (j == std::string::npos)
            j = n;
        if (j == i || sRest[j - 1] == '.' || (j == n && sRest[j - 1] == ' '))
            return false;
        i = j + 1;
    }
    return true;
}

// Folds "." and "..", repeated separators and trailing dots and blanks in the names after a root.
static std::string Collapse(const std::string &sRoot, const std::string &sRest)
{
    if (Folded(sRest)) {
        std::string s = sRoot;
        if (!s.empty() && s.back() != '\\' && !(s.size() == 2 && s[1] == ':'))
            s += '\\';
        return s + sRest;
    }
    std::vector<std::string> aNames;
    size_t i = 0;
    bool bTrailingSep = !sRest.empty() && sRest.back() == '\\';

    while (i <= sRest.size()) {
        size_t j = sRest.find('\\', i);
        if (j == std::string::npos)
            j = sRest.size();
        std::string sName = sRest.substr(i, j - i);
        bool bLast = j == sRest.size();
        i = j + 1;
        if (sName.empty() || sName == ".")
            continue;
        if (sName == "..") {
            if (!aNames.empty())
                aNames.pop_back();
            continue;
        }
        // Trailing dots go from every name, trailing blanks from the last one as well.
        size_t nEnd = sName.size();
        while (nEnd > 0 && (sName[nEnd - 1] == '.' || (bLast && sName[nEnd - 1] == ' ')))
            nEnd--;
        sName.resize(nEnd);
        if (!sName.empty())
            aNames.push_back(sName);
    }
    std::string s = sRoot;
    if (!s.empty() && s.back() != '\\' && !(s.size() == 2 && s[1] == ':'))
        s += '\\';
    for (size_t k = 0; k < aNames.size(); k++) {
        if (k > 0)
            s += '\\';
        s += aNames[k];
    }
    if (bTrailingSep && !aNames.empty())
        s += '\\';
    return s;
}

bool FullPathName(const std::string &sPathIn, std::string *psFull)
{
    std::string s = sPathIn;
    for (char &c : s)
        if (c == '/')
            c = '\\';
    if (s.find_first_not_of(' ') == std::string::npos)
        return false;

    // Device and literal paths pass unchanged.
    if (s.compare(0, 4, "\\\\?\\") == 0 || s.compare(0, 4, "\\\\.\\") == 0) {
        *psFull = s;
        return true;
    }
    std::string sRoot, sRest;
    if (s.size() >= 2 && s[0] == '\\' && s[1] == '\\') {
        SplitRoot(s, &sRoot, &sRest);
        *psFull = Collapse(sRoot, sRest);
        return true;
    }
    if (HasDrive(s) && s.size() >= 3 && s[2] == '\\') {
        sRoot = std::string(1, DriveLetter(s)) + ":\\";
        sRest = s.substr(3);
        *psFull = Collapse(sRoot, sRest);
        return true;
    }
    // Relative to the current directory.
    std::string sCur = CurrentDirectory();
    if (HasDrive(s)) {
        // Drive-relative: against the current directory when it is on that drive, else the drive's root.
        std::string sOn = s.substr(2);
        if (HasDrive(sCur) && DriveLetter(sCur) == DriveLetter(s)) {
            SplitRoot(sCur, &sRoot, &sRest);
            sRest += "\\" + sOn;
            if (sOn.empty())
                sRest += "\\";
        } else {
            sRoot = std::string(1, DriveLetter(s)) + ":\\";
            sRest = sOn;
        }
    } else if (s[0] == '\\') {
        std::string sIgnored;
        SplitRoot(sCur, &sRoot, &sIgnored);
        sRest = s.substr(1);
    } else {
        SplitRoot(sCur, &sRoot, &sRest);
        sRest += "\\" + s;
    }
    *psFull = Collapse(sRoot, sRest);
    return true;
}

// Host paths.

static std::string DriveHostRoot(char cDrive)
{
    if (cDrive == 'C')
        return MachineRoot() + "/drive_c";
    return "/"; // Z:
}

static std::string JoinHost(const std::string &sDir, const std::string &sName)
{
    if (!sDir.empty() && sDir.back() == '/')
        return sDir + sName;
    return sDir + "/" + sName;
}

// Finds the host spelling of an ANSI name in a host folder: the name itself converted to UTF-8 when that
// exists, else the first entry (in byte order) that equals it without case. False when there is none. With
// bExactMissing the caller knows the exact spelling is not there, and only the folder's index is asked.
static bool FindHostName(const std::string &sDir, const std::string &sName, std::string *psHostName,
                         bool bExactMissing = false, const struct stat *pDirStat = nullptr)
{
    std::string sUtf8 = AnsiToUtf8(sName);
    struct stat st;
    if (!bExactMissing && host::lstat(JoinHost(sDir, sUtf8).c_str(), &st) == 0) {
        *psHostName = sUtf8;
        return true;
    }
    return FindFoldedName(sDir, sName, psHostName, pDirStat);
}

static bool IsInvalidNameChar(unsigned char c)
{
    switch (c) {
    case '<':
    case '>':
    case ':':
    case '"':
    case '|':
    case '*':
    case '?':
        return true;
    default:
        return c < 32;
    }
}

// The last name of a path, in the host folder sDir where the names before it were found.
static bool ResolveLastName(const std::string &sDir, const std::string &sName, ResolvedPath *pPath,
                            DWORD *pnError, unsigned nFlags, bool bExactMissing,
                            const struct stat *pDirStat = nullptr)
{
    std::string sUtf8 = AnsiToUtf8(sName);
    std::string sHostName;
    if (sUtf8.size() > NAME_MAX) {
        *pnError = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    pPath->sName = sName;
    if (!(nFlags & RESOLVE_WILDCARDS) && FindHostName(sDir, sName, &sHostName, bExactMissing, pDirStat)) {
        pPath->sHost = JoinHost(sDir, sHostName);
    } else {
        pPath->sHost = JoinHost(sDir, sUtf8);
        pPath->bFound = false;
    }
    return true;
}

bool ResolvePath(const char *pszPath, ResolvedPath *pPath, DWORD *pnError, unsigned nFlags)
{
    *pPath = ResolvedPath();
    if (pszPath == nullptr || *pszPath == '\0') {
        *pnError = ERROR_PATH_NOT_FOUND;
        return false;
    }
    std::string sPath = pszPath;
    if (sPath.size() > MAX_ANSI_PATH) {
        *pnError = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    std::string sFull;
    if (!FullPathName(sPath, &sFull)) {
        *pnError = ERROR_PATH_NOT_FOUND;
        return false;
    }
    if (sFull.size() > MAX_ANSI_PATH) {
        *pnError = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    if (sFull.compare(0, 2, "\\\\") == 0) {
        *pnError = sFull.compare(0, 4, "\\\\?\\") == 0 || sFull.compare(0, 4, "\\\\.\\") == 0
                       ? ERROR_PATH_NOT_FOUND
                       : ERROR_BAD_NETPATH;
        return false;
    }
    pPath->bTrailingSep = IsSep(sPath.back()) && sFull.size() > 3;
    if (pPath->bTrailingSep)
        sFull.pop_back();
    pPath->sWin = sFull;

    // The names after the root, each checked for characters the platform forbids; a search pattern's last
    // name is not (what matches nothing finds nothing).
    size_t nLast = sFull.size() > 3 ? sFull.rfind('\\') + 1 : sFull.size(); // where the last name starts
    size_t nChecked = (nFlags & RESOLVE_WILDCARDS) ? nLast : sFull.size();
    for (size_t i = 3; i < nChecked; i++)
        if (sFull[i] != '\\' && IsInvalidNameChar((unsigned char)sFull[i])) {
            *pnError = ERROR_INVALID_NAME;
            return false;
        }
    char cDrive = DriveLetter(sFull);
    if ((cDrive != 'C' && cDrive != 'Z') || (cDrive == 'C' && DriveCMissing())) {
        *pnError = ERROR_PATH_NOT_FOUND;
        return false;
    }

    std::string sHost = DriveHostRoot(cDrive);
    pPath->bRoot = sFull.size() <= 3;
    pPath->bFound = true;
    if (pPath->bRoot) {
        pPath->sHost = sHost;
        return true;
    }
    const std::string sLast = sFull.substr(nLast);

    // The folder of the last name, kept open: the last name is then one call on one name.
    std::shared_ptr<const HostFolder> pDir =
        KeptFolder(sFull.substr(0, nLast == 3 ? 3 : nLast - 1), (nFlags & RESOLVE_EVENTS_READ) != 0);
    if (pDir != nullptr) {
        std::string sUtf8 = AnsiToUtf8(sLast);
        if (sUtf8.size() > NAME_MAX) {
            *pnError = ERROR_FILENAME_EXCED_RANGE;
            return false;
        }
        pPath->sName = sLast;
        pPath->pDir = pDir;
        pPath->sLeaf = sUtf8;
        if (nFlags & RESOLVE_WILDCARDS) {
            pPath->bFound = false;
        } else if (host::fstatat(pDir->fd, sUtf8.c_str(), &pPath->lst, AT_SYMLINK_NOFOLLOW) == 0) {
            pPath->bStat = true;
        } else if (!FindFoldedName(*pDir, sLast, &pPath->sLeaf, true)) {
            pPath->sLeaf = sUtf8;
            pPath->bFound = false;
        }
        pPath->sHost = JoinHost(pDir->sHost, pPath->sLeaf);
        return true;
    }

    std::vector<std::string> aNames;
    for (size_t i = 3; i < sFull.size();) {
        size_t j = sFull.find('\\', i);
        if (j == std::string::npos)
            j = sFull.size();
        aNames.push_back(sFull.substr(i, j - i));
        i = j + 1;
    }

    // Most paths are spelt as on the host: one lstat of the whole path in the caller's spelling answers
    // them. Where every name exists in that spelling, the walk below would choose the same names, since
    // an exact match wins over one without case; a path through a link is followed either way.
    std::string sExactDir = sHost;
    for (size_t k = 0; k + 1 < aNames.size(); k++)
        sExactDir = JoinHost(sExactDir, AnsiToUtf8(aNames[k]));
    bool bExactMissing = false;
    if (!(nFlags & RESOLVE_WILDCARDS)) {
        std::string sExact = JoinHost(sExactDir, AnsiToUtf8(sLast));
        if (host::lstat(sExact.c_str(), &pPath->lst) == 0) {
            pPath->bStat = true;
            pPath->sName = sLast;
            pPath->sHost = sExact;
            return true;
        }
        bExactMissing = errno == ENOENT;
    }
    // Else the folders on the way, when they exist in the caller's spelling, and the last name in them.
    struct stat st;
    if (aNames.size() == 1)
        return ResolveLastName(sExactDir, sLast, pPath, pnError, nFlags, bExactMissing);
    if (stat(sExactDir.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return ResolveLastName(sExactDir, sLast, pPath, pnError, nFlags, bExactMissing, &st);

    // Else name by name, each existing one matched without case when its exact spelling is not there.
    for (size_t k = 0; k + 1 < aNames.size(); k++) {
        std::string sHostName;
        if (AnsiToUtf8(aNames[k]).size() > NAME_MAX) {
            *pnError = ERROR_FILENAME_EXCED_RANGE;
            return false;
        }
        if (!FindHostName(sHost, aNames[k], &sHostName) ||
            stat(JoinHost(sHost, sHostName).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            *pnError = ERROR_PATH_NOT_FOUND;
            return false;
        }
        sHost = JoinHost(sHost, sHostName);
    }
    return ResolveLastName(sHost, sLast, pPath, pnError, nFlags, false, &st);
}

// The Windows path of a host path with its names as the host spells them (UTF-8).
std::string WindowsPathFromHostUtf8(const std::string &sHostIn)
{
    std::error_code ec;
    fs::path p = fs::absolute(sHostIn.empty() ? std::string(".") : sHostIn, ec).lexically_normal();
    std::string sHost = p.string();
    while (sHost.size() > 1 && sHost.back() == '/')
        sHost.pop_back();

    // Under drive_c, compared as written and with links resolved on both sides.
    std::string sDriveC = MachineRoot() + "/drive_c";
    std::string sRest;
    char cDrive = 'Z';
    auto Under = [](const std::string &s, const std::string &sBase, std::string *psRest) {
        if (s == sBase) {
            psRest->clear();
            return true;
        }
        if (s.size() > sBase.size() && s.compare(0, sBase.size(), sBase) == 0 && s[sBase.size()] == '/') {
            *psRest = s.substr(sBase.size() + 1);
            return true;
        }
        return false;
    };
    if (Under(sHost, sDriveC, &sRest)) {
        cDrive = 'C';
    } else {
        std::string sCanon = fs::weakly_canonical(sHost, ec).string();
        std::string sDriveCanon = fs::weakly_canonical(sDriveC, ec).string();
        if (!ec && !sCanon.empty() && Under(sCanon, sDriveCanon, &sRest))
            cDrive = 'C';
        else
            sRest = sHost.substr(1);
    }
    std::string sWin = std::string(1, cDrive) + ":\\" + sRest;
    for (size_t i = 3; i < sWin.size(); i++)
        if (sWin[i] == '/')
            sWin[i] = '\\';
    return sWin;
}

std::string WindowsPathFromHost(const std::string &sHost, bool *pbLossy)
{
    return Utf8ToAnsi(WindowsPathFromHostUtf8(sHost), pbLossy);
}

// The platform's reserved device names, as the last name of a path: the name up to its first dot, without
// the blanks before the dot (or at the end) and the colons after it.
bool DosDeviceName(const std::string &sPath, std::string *psDevice)
{
    if (sPath.size() >= 2 && IsSep(sPath[0]) && IsSep(sPath[1]))
        return false; // \\?\, \\.\ and network paths
    size_t nEnd = sPath.size();
    while (nEnd > 0 && sPath[nEnd - 1] == ':')
        nEnd--;
    size_t nStart = nEnd;
    while (nStart > 0 && !IsSep(sPath[nStart - 1]) && !(nStart == 2 && sPath[1] == ':'))
        nStart--;
    std::string sName = sPath.substr(nStart, nEnd - nStart);
    size_t nDot = sName.find('.');
    if (nDot != std::string::npos)
        sName.resize(nDot);
    while (!sName.empty() && (sName.back() == ' ' || sName.back() == ':'))
        sName.pop_back();
    std::string sUpper;
    for (char c : sName)
        sUpper += (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
    bool bDevice = sUpper == "NUL" || sUpper == "CON" || sUpper == "AUX" || sUpper == "PRN" ||
                   (sUpper.size() == 4 && (sUpper.compare(0, 3, "COM") == 0 || sUpper.compare(0, 3, "LPT") == 0) &&
                    sUpper[3] >= '1' && sUpper[3] <= '9');
    if (bDevice)
        *psDevice = sName;
    return bDevice;
}

// Resolves a call's path argument and checks the fault switch for it. The switch is checked for a path that
// does not resolve too (with its full form, or as given), so that every call is one checked call.
bool ResolveArg(const char *pszCall, const char *pszPath, ResolvedPath *pPath, unsigned nFlags)
{
    DWORD nError;
    if (!ResolvePath(pszPath, pPath, &nError, nFlags)) {
        DWORD nInjected;
        std::string sFull;
        if (pszPath != nullptr && !FullPathName(pszPath, &sFull))
            sFull = pszPath;
        if (InjectedFault(pszCall, sFull, &nInjected))
            nError = nInjected;
        SetLastError(nError);
        return false;
    }
    if (InjectedFault(pszCall, pPath->sWin, &nError)) {
        SetLastError(nError);
        return false;
    }
    return true;
}

} // namespace plat

// The fault switch is checked with the full path, or the name as given when it has none. A reserved device
// name gives the device's path, \\.\NUL, with no file part.
static DWORD GetFullPathNameAImpl(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR *lpFilePart)
{
    std::string sFull;
    DWORD nError;

    if (lpFilePart != NULL)
        *lpFilePart = NULL;
    std::string sDevice;
    bool bDevice = lpFileName != NULL && plat::DosDeviceName(lpFileName, &sDevice);
    if (bDevice)
        sFull = "\\\\.\\" + sDevice;
    bool bFull = bDevice || (lpFileName != NULL && plat::FullPathName(lpFileName, &sFull));
    if (!bFull && lpFileName != NULL)
        sFull = lpFileName;
    if (plat::InjectedFault("GetFullPathNameA", sFull, &nError)) {
        SetLastError(nError);
        return 0;
    }
    if (lpFileName == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (strlen(lpFileName) > plat::MAX_ANSI_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (!bFull) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    // The platform makes the full path in a buffer of MAX_PATH characters, terminator included.
    if (sFull.size() >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (sFull.size() >= nBufferLength || lpBuffer == NULL)
        return (DWORD)sFull.size() + 1;
    memcpy(lpBuffer, sFull.c_str(), sFull.size() + 1);
    if (lpFilePart != NULL && sFull.back() != '\\' && !bDevice) {
        size_t n = sFull.rfind('\\');
        *lpFilePart = lpBuffer + (n == std::string::npos ? 0 : n + 1);
    }
    return (DWORD)sFull.size();
}

DWORD WINAPI GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR *lpFilePart)
{
    plat::TracedCall call("GetFullPathNameA");
    DWORD n = GetFullPathNameAImpl(lpFileName, nBufferLength, lpBuffer, lpFilePart);
    return call.Value(n, n != 0);
}

DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer)
{
    std::string sCur = plat::CurrentDirectory();

    if (sCur.size() >= nBufferLength || lpBuffer == NULL)
        return (DWORD)sCur.size() + 1;
    memcpy(lpBuffer, sCur.c_str(), sCur.size() + 1);
    return (DWORD)sCur.size();
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName)
{
    plat::ResolvedPath path;
    DWORD nError;
    struct stat st;

    if (!plat::ResolvePath(lpPathName, &path, &nError)) {
        SetLastError(nError);
        return FALSE;
    }
    if (!path.bFound || stat(path.sHost.c_str(), &st) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (!S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_DIRECTORY);
        return FALSE;
    }
    plat::SetCurrentDirectoryPath(path.sWin);
    return TRUE;
}

DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer)
{
    plat::TracedCall call("GetTempPathA");
    std::string sTemp = plat::SpecialFolderPath(plat::FolderTemp) + "\\";
    DWORD nError;

    if (plat::InjectedFault("GetTempPathA", sTemp, &nError)) {
        SetLastError(nError);
        return call.Value((DWORD)0, false);
    }
    plat::MachineRoot(); // the folder exists from the machine's first use on
    if (sTemp.size() >= nBufferLength || lpBuffer == NULL)
        return call.Value((DWORD)sTemp.size() + 1, true);
    memcpy(lpBuffer, sTemp.c_str(), sTemp.size() + 1);
    return call.Value((DWORD)sTemp.size(), true);
}

// The same folder in UTF-16. Not a checked call: the program forms its paths through GetTempPathA, which is.
DWORD WINAPI GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer)
{
    std::u16string sTemp = plat::Utf8ToUtf16(plat::SpecialFolderPathUtf8(plat::FolderTemp) + "\\");

    plat::MachineRoot();
    if (sTemp.size() >= nBufferLength || lpBuffer == NULL)
        return (DWORD)sTemp.size() + 1;
    memcpy(lpBuffer, sTemp.c_str(), (sTemp.size() + 1) * sizeof(WCHAR));
    return (DWORD)sTemp.size();
}
