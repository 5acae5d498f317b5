// fuzz_hostile.cpp - the older version's folder filled with hostile names, then deleted (UtlDeleteTree) or
// taken over and removed (InstallTakeOver, InstallRemoveOlder), on a machine of its own; or the same tree
// made this version's application folder and uninstalled (UninstRemove). Whatever the names, nothing
// outside the older and the new application folders may change, the data files the takeover reports as
// taken over must be in the new folder with their bytes, an older folder removed held no data file deeper
// than the takeover looks, and the uninstaller removes nothing in the folder but this version's files and,
// when asked, the user's data files its search presents.
//
// The tree is built with the host's own calls, as hostile names get in: names of blanks and no-break
// spaces, dots, ".." with trailing blanks, separators and drives inside a name, characters the platform
// forbids or its code page lacks, device names, names of 250 to 300 characters, read-only entries, and
// links to the sentinel folder, a sentinel file and the drive's root. Names come only from the table below
// (never from the input's bytes), and links point only inside the machine folder, so a wrong deletion
// stays there.
//
// Input: byte 0 chooses the mode and variants (bit 0 the takeover; else bits 5-7: 7 the older folder a
// link, 6 the uninstaller, 5 the uninstaller on an application folder that is a link, bit 1 with the data); then 3 bytes an entry (kind and parent folder, name, the
// name's decoration). FUZZ_HOSTILE_SEEDS=DIR writes the seed inputs to DIR and exits.

#include "charstr.h"
#include "install.h"
#include "resource.h"
#include "product.h"
#include "shlutl.h"
#include "uninst.h"
#include "utils.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------------------------------------
// Host helpers

static std::string sMachine;  // PLAT_ROOT
static std::string sDriveC;   // drive C: on the host
static std::string sProgDir;  // C:\Program Files on the host
static std::string sOlderDir; // C:\Program Files\Kalmori6 on the host
static std::string sNewDir;   // C:\Program Files\Kalmor61 on the host
static std::string sTrace;    // what the current input built, for the message of a finding

static std::string Printable(const std::string &s)
{
    std::string r;
    for (unsigned char c : s) {
        if (c < 0x20 || c >= 0x7F || c == '"') {
            char sz[8];
            snprintf(sz, sizeof sz, "\\x%02X", c);
            r += sz;
        } else {
            r += (char)c;
        }
    }
    return r;
}

static void Fail(const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    fprintf(stderr, "fuzz_hostile: ");
    vfprintf(stderr, pszFormat, args);
    va_end(args);
    fprintf(stderr, "\nthe older folder held:\n%s", sTrace.c_str());
    abort();
}

static bool HostWrite(const std::string &sPath, const std::string &sData)
{
    int fd = open(sPath.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0)
        return false;
    bool bOk = write(fd, sData.data(), sData.size()) == (ssize_t)sData.size();
    close(fd);
    return bOk;
}

static bool HostRead(const std::string &sPath, std::string *ps)
{
    int fd = open(sPath.c_str(), O_RDONLY | O_NOFOLLOW);
    if (fd < 0)
        return false;
    ps->clear();
    char a[4096];
    ssize_t n;
    while ((n = read(fd, a, sizeof a)) > 0)
        ps->append(a, (size_t)n);
    close(fd);
    return n == 0;
}

// Removes a host tree without following links, whatever its permissions.
static void HostRemoveTree(const std::string &sPath)
{
    struct stat st;
    if (lstat(sPath.c_str(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        chmod(sPath.c_str(), 0755);
        DIR *d = opendir(sPath.c_str());
        if (d != NULL) {
            std::vector<std::string> aNames;
            while (struct dirent *e = readdir(d))
                if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                    aNames.push_back(e->d_name);
            closedir(d);
            for (const std::string &s : aNames)
                HostRemoveTree(sPath + "/" + s);
        }
        if (rmdir(sPath.c_str()) != 0)
            Fail("cannot remove the host folder %s", Printable(sPath).c_str());
    } else if (unlink(sPath.c_str()) != 0) {
        Fail("cannot remove the host file %s", Printable(sPath).c_str());
    }
}

// What one host entry is: type and permissions, the bytes of a file or the target of a link, and the
// attributes the platform keeps beside it.
static std::string Describe(const std::string &sPath, const struct stat &st)
{
    char sz[64];
    snprintf(sz, sizeof sz, "%o ", (unsigned)st.st_mode);
    std::string s = sz;
    if (S_ISLNK(st.st_mode)) {
        char szLink[4096];
        ssize_t n = readlink(sPath.c_str(), szLink, sizeof szLink);
        s += "-> " + std::string(szLink, n > 0 ? (size_t)n : 0);
        return s;
    }
    if (S_ISREG(st.st_mode)) {
        std::string sData;
        HostRead(sPath, &sData);
        s += "[" + Printable(sData) + "]";
    }
    char szAttr[64];
    ssize_t n = lgetxattr(sPath.c_str(), "user.DOSATTRIB", szAttr, sizeof szAttr);
    if (n > 0)
        s += " dos " + std::string(szAttr, (size_t)n);
    return s;
}

// Every host entry below sDir except the older and the new application folders.
static void Snapshot(const std::string &sDir, const std::string &sRel, std::map<std::string, std::string> *pMap)
{
    DIR *d = opendir(sDir.c_str());
    if (d == NULL)
        return;
    std::vector<std::string> aNames;
    while (struct dirent *e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            aNames.push_back(e->d_name);
    closedir(d);
    for (const std::string &sName : aNames) {
        std::string sPath = sDir + "/" + sName, sKey = sRel + "/" + sName;
        if (sPath == sOlderDir || sPath == sNewDir)
            continue;
        struct stat st;
        if (lstat(sPath.c_str(), &st) != 0)
            continue;
        (*pMap)[sKey] = Describe(sPath, st);
        if (S_ISDIR(st.st_mode))
            Snapshot(sPath, sKey, pMap);
    }
}

static std::map<std::string, std::string> aSentinel; // drive C: outside the two folders, as it must stay

static void CheckSentinel(const char *pszAfter)
{
    std::map<std::string, std::string> aNow;
    Snapshot(sDriveC, "C:", &aNow);
    std::vector<std::string> aWrong;
    for (const auto &e : aSentinel) {
        auto it = aNow.find(e.first);
        if (it == aNow.end())
            aWrong.push_back(Printable(e.first) + " was removed (it was " + e.second + ")");
        else if (it->second != e.second)
            aWrong.push_back(Printable(e.first) + " changed from " + e.second + " to " + it->second);
    }
    for (const auto &e : aNow)
        if (aSentinel.find(e.first) == aSentinel.end())
            aWrong.push_back(Printable(e.first) + " appeared (" + e.second + ")");
    if (aWrong.empty())
        return;
    std::string s;
    for (size_t i = 0; i < aWrong.size() && i < 6; i++)
        s += "\n  " + aWrong[i];
    if (aWrong.size() > 6)
        s += "\n  ...";
    Fail("after %s, %zu entries outside the two folders changed:%s", pszAfter, aWrong.size(), s.c_str());
}

// A UTF-8 host name in code page 1251, as the platform's search presents it; false when the code page
// lacks one of its characters.
static bool AnsiName(const std::string &sUtf8, std::string *psAnsi)
{
    WCHAR wsz[512];
    char sz[1024];
    BOOL bDefault = FALSE;
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, sUtf8.c_str(), -1, wsz, 512);
    if (n <= 0)
        return false;
    n = WideCharToMultiByte(1251, 0, wsz, -1, sz, sizeof sz, NULL, &bDefault);
    if (n <= 0 || bDefault)
        return false;
    *psAnsi = sz;
    return true;
}

// A file's bytes through the platform's calls; false when it does not open.
static bool PlatRead(const std::string &sPath, std::string *ps)
{
    HANDLE h = CreateFileA(sPath.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    ps->clear();
    char a[4096];
    DWORD n;
    while (ReadFile(h, a, sizeof a, &n, NULL) && n > 0)
        ps->append(a, n);
    CloseHandle(h);
    return true;
}

// ---------------------------------------------------------------------------------------------------------
// The names and kinds of entries

static const char kLong[] = "<long>";
static const char *const kNames[] = {
    "a", "Data", " ", "   ", "\xC2\xA0", "\xC2\xA0\xC2\xA0", " \xC2\xA0 ",
    ".", "..", "...", "a.", ".hidden",
    ".. ", "..\xC2\xA0", ".. \xC2\xA0", "..  ", "... ", "\xC2\xA0..",
    "\\", "..\\", "..\\victim.txt", "..\\victim.sc1", "..\\..\\victim.txt", "..\\..\\victim.sc1",
    "..\\Sentinel", "..\\Sentinel\\data.sc1", "..\\Kalmor61\\Kalmori.exe", "\\victim.txt", "\\Program Files",
    "C:", "C:\\", "C:\\victim.txt", "C:\\Program Files\\victim.txt", "C:\\Program Files\\Sentinel",
    "C:..\\victim.txt", "C:victim.txt", ".. \\victim.txt", "..\xC2\xA0\\victim.txt",
    "a:b", "*", "*.*", "?.sc1", "a\"b", "<x>", "a|b", "\x01" "ctl", "\x7F",
    "\xE2\x9C\x93", "\xE2\x9C\x93.kmc", "\xE4\xB8\xAD.sc1",
    "CON", "NUL", "aux", "COM1", "LPT1 ",
    "Каталог", "Katalogy", "Kalmor61", "Sentinel", "x.kmcx", "StavPrv.kmc", "a b.sc1", "Ёлка.sc1",
    kLong,
};
static const int kNameCount = sizeof kNames / sizeof kNames[0];
static const char *const kExtensions[] = {"", ".kmc", ".sc1", ".SC1"};
static const char *const kTrails[] = {"", " ", "\xC2\xA0", ".", "  ", ". ", "..", "\xC2\xA0 "};

enum Kind {
    KIND_FILE,
    KIND_FILE2,
    KIND_FOLDER,
    KIND_READONLY_FILE,
    KIND_READONLY_FOLDER,
    KIND_LINK_SENTINEL, // to C:\Program Files\Sentinel
    KIND_LINK_FILE,     // to C:\Program Files\victim.sc1
    KIND_LINK_ROOT,     // to C:\ (drive_c)
    KIND_LINK_DANGLING,
    KIND_HIDDEN_FILE, // hidden and system
    KIND_FOLDER2,
    KIND_COUNT
};

static std::string NameFor(uint8_t b, uint8_t c)
{
    const char *pszBase = kNames[b % kNameCount];
    std::string sExt = kExtensions[c & 3];
    if (pszBase == kLong)
        return std::string(250 + (c >> 2) % 51 - sExt.size(), 'L') + sExt;
    return pszBase + sExt + kTrails[(c >> 2) & 7];
}

static bool EndsWithNoCase(const std::string &s, const char *pszEnd)
{
    size_t n = strlen(pszEnd);
    return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, pszEnd) == 0;
}

static std::string Lower(const std::string &s)
{
    std::string r = s;
    for (char &c : r)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return r;
}

// One entry built in the older folder.
struct Entry {
    int nParent; // index of the folder entry it is in; -1 for the older folder itself
    std::string sName; // host name (UTF-8)
    std::string sHost; // host path
    std::string sRel;  // Windows path relative to the older folder, when the name is in the code page
    int nKind;
    int nDepth; // 0 for the older folder itself
    std::string sData;
    bool bRegular; // a regular file
};

// ---------------------------------------------------------------------------------------------------------
// The machine, made once per process

static const char szOlderWin[] = "C:\\Program Files\\Kalmori6";
static const char szNewWin[] = "C:\\Program Files\\Kalmor61";

static void RemoveMachine()
{
    if (!sMachine.empty() && getenv("KAL_KEEP_MACHINE") == NULL)
        HostRemoveTree(sMachine);
}

static void MakeSentinel()
{
    std::string sSent = sProgDir + "/Sentinel";
    mkdir(sSent.c_str(), 0755);
    mkdir((sSent + "/Katalogy").c_str(), 0755);
    mkdir((sSent + "/sub").c_str(), 0755);
    HostWrite(sSent + "/a.txt", "sentinel a");
    HostWrite(sSent + "/data.sc1", "sentinel data");
    HostWrite(sSent + "/Katalogy/c.kmc", "sentinel catalogue");
    HostWrite(sSent + "/sub/b.kmc", "sentinel sub");
    HostWrite(sSent + "/readonly.sc1", "sentinel read-only");
    chmod((sSent + "/readonly.sc1").c_str(), 0444);
    HostWrite(sProgDir + "/victim.txt", "victim in program files");
    HostWrite(sProgDir + "/victim.sc1", "victim data in program files");
    HostWrite(sDriveC + "/victim.txt", "victim at the root");
    HostWrite(sDriveC + "/victim.sc1", "victim data at the root");
    HostWrite(sDriveC + "/victim.lnk", "victim link at the root");
    // Siblings of the application folders, one of them an older version that is not being removed.
    mkdir((sProgDir + "/Kalmori5").c_str(), 0755);
    HostWrite(sProgDir + "/Kalmori5/old.sc1", "version 5 data");
    mkdir((sProgDir + "/Kalmori60").c_str(), 0755);
    HostWrite(sProgDir + "/Kalmori60/x.kmc", "neighbour");
    std::string sCommon = sProgDir + "/Common Files";
    mkdir(sCommon.c_str(), 0755);
    HostWrite(sCommon + "/shared.txt", "shared");
}

// The older version's entry. Its InstallLocation and DisplayIcon name the sentinel folder: the takeover and
// the removal go by the older folder under Program Files, never by these.
static void SetOlderEntry(const char *pszDisplayName)
{
    HKEY hArea = ShlRegOpen(HKEY_LOCAL_MACHINE, szUninstallArea, 1);
    HKEY hKey = hArea != NULL ? ShlRegCreate(hArea, "Kalmori6") : NULL;
    if (hKey == NULL || !ShlRegSetString(hKey, "DisplayName", pszDisplayName) ||
        !ShlRegSetString(hKey, "UninstallString", "C:\\Program Files\\Kalmori6\\Uninst.exe") ||
        !ShlRegSetString(hKey, "InstallLocation", "C:\\Program Files\\Sentinel") ||
        !ShlRegSetString(hKey, "DisplayIcon", "C:\\Program Files\\Sentinel\\Kalmori.exe,0"))
        Fail("cannot write the older version's uninstall entry");
    ShlRegClose(hKey);
    ShlRegClose(hArea);
}

static void WriteSeeds(const char *pszDir);

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const char *pszSeeds = getenv("FUZZ_HOSTILE_SEEDS");
    if (pszSeeds != NULL) {
        WriteSeeds(pszSeeds);
        exit(0);
    }
    // A machine of its own, in memory when the host has a memory file system.
    const char *pszTmp = getenv("TMPDIR");
    struct stat st;
    std::string sBase = pszTmp != NULL && *pszTmp ? pszTmp : stat("/dev/shm", &st) == 0 ? "/dev/shm" : "/tmp";
    std::string sTemplate = sBase + "/kalhostile.XXXXXX";
    if (mkdtemp(&sTemplate[0]) == NULL)
        abort();
    sMachine = sTemplate;
    setenv("PLAT_ROOT", sMachine.c_str(), 1);
    atexit(RemoveMachine);

    hWizInstance = GetModuleHandleA(NULL);
    ResInit();
    char sz[UTL_PATH_SIZE];
    if (!ShlGetFolder(FOLDER_PROGRAMFILES, sz, sizeof sz) || strcmp(sz, "C:\\Program Files") != 0)
        Fail("the machine's program files folder is %s", sz);
    // Paths that start at a root or a drive's current folder stay on C: (the host's working folder is Z:).
    if (!SetCurrentDirectoryA("C:\\"))
        Fail("cannot make C:\\ the current folder");
    sDriveC = sMachine + "/drive_c";
    sProgDir = sDriveC + "/Program Files";
    sOlderDir = sProgDir + "/Kalmori6";
    sNewDir = sProgDir + "/Kalmor61";
    MakeSentinel();
    // Whatever the steps make once on a new machine (folders, records) is made before the picture is taken.
    ShlGetFolder(FOLDER_PROGRAMS, sz, sizeof sz);
    ShlGetFolder(FOLDER_DESKTOP, sz, sizeof sz);
    mkdir(sNewDir.c_str(), 0755);
    mkdir(sOlderDir.c_str(), 0755);
    SetOlderEntry("Kalmorist 6.0");
    WizResult result;
    WizResultInit(&result, IDS_DONE);
    InstallTakeOver(&result);
    if (WizResultOk(&result))
        InstallRemoveOlder(&result);
    ResFree(result.hReport);
    HostRemoveTree(sOlderDir);
    HostRemoveTree(sNewDir);
    Snapshot(sDriveC, "C:", &aSentinel);
    return 0;
}

// ---------------------------------------------------------------------------------------------------------
// One input

struct Reader {
    const uint8_t *p;
    size_t n;
    bool More() const { return n > 0; }
    uint8_t Byte()
    {
        if (n == 0)
            return 0;
        n--;
        return *p++;
    }
};

static const char *const kDisplayNames[] = {"Kalmorist 6.0", "..\\..\\..\\..\\..\\..\\..\\..\\..\\victim",
                                            "C:\\victim", ".."};
static const char *const kTreeSpellings[] = {"C:\\Program Files\\Kalmori6", "C:\\Program Files\\Kalmori6\\",
                                             "c:\\PROGRAM FILES\\kalmori6", " C:\\Program Files\\Kalmori6  "};

#define MAX_ENTRIES 18
#define MAX_DEPTH 4

// Builds the tree; returns the entries made (the older folder is entry 0, its Katalogy entry 1).
static std::vector<Entry> BuildTree(Reader *pIn, bool bOlderIsLink)
{
    std::vector<Entry> a;
    sTrace.clear();
    if (bOlderIsLink) {
        if (symlink((sProgDir + "/Sentinel").c_str(), sOlderDir.c_str()) != 0)
            Fail("cannot make the older folder a link");
        sTrace = "  (a link to C:\\Program Files\\Sentinel)\n";
        return a;
    }
    if (mkdir(sOlderDir.c_str(), 0755) != 0 || mkdir((sOlderDir + "/Katalogy").c_str(), 0755) != 0)
        Fail("cannot make the older folder");
    a.push_back({-1, "", sOlderDir, "", KIND_FOLDER, 0, "", false});
    a.push_back({0, "Katalogy", sOlderDir + "/Katalogy", "Katalogy", KIND_FOLDER, 1, "", false});
    std::vector<int> aFolders = {0, 1};
    std::map<int, std::set<std::string>> aTaken; // names in each folder, without case
    aTaken[0].insert("katalogy");
    while (pIn->More() && a.size() < MAX_ENTRIES + 2) {
        uint8_t x = pIn->Byte(), b = pIn->Byte(), c = pIn->Byte();
        int nParent = aFolders[(x >> 4) % aFolders.size()];
        int nKind = (x & 15) % KIND_COUNT;
        const Entry &parent = a[nParent];
        bool bFolder = nKind == KIND_FOLDER || nKind == KIND_FOLDER2 || nKind == KIND_READONLY_FOLDER;
        if (bFolder && parent.nDepth + 1 >= MAX_DEPTH)
            nKind = KIND_FILE;
        Entry e;
        e.nParent = nParent;
        e.sName = NameFor(b, c);
        e.sHost = parent.sHost + "/" + e.sName;
        e.nKind = nKind;
        e.nDepth = parent.nDepth + 1;
        e.bRegular = false;
        // Names that differ only in case cannot be in one folder on the platform's file systems.
        if (!aTaken[nParent].insert(Lower(e.sName)).second)
            continue;
        std::string sAnsi;
        if (AnsiName(e.sName, &sAnsi) && (nParent == 0 || !parent.sRel.empty()))
            e.sRel = nParent == 0 ? sAnsi : parent.sRel + "\\" + sAnsi;
        bool bMade = false;
        std::string sSent = sProgDir + "/Sentinel";
        switch (nKind) {
        case KIND_FILE:
        case KIND_FILE2:
        case KIND_READONLY_FILE:
        case KIND_HIDDEN_FILE:
            e.sData = "entry " + std::to_string(a.size()) + " " + std::to_string(x) + "/" + std::to_string(c);
            bMade = HostWrite(e.sHost, e.sData);
            e.bRegular = true;
            if (bMade && nKind == KIND_READONLY_FILE)
                chmod(e.sHost.c_str(), 0444);
            if (bMade && nKind == KIND_HIDDEN_FILE)
                lsetxattr(e.sHost.c_str(), "user.DOSATTRIB", "0x26", 4, 0);
            break;
        case KIND_FOLDER:
        case KIND_FOLDER2:
        case KIND_READONLY_FOLDER:
            bMade = mkdir(e.sHost.c_str(), 0755) == 0;
            break;
        case KIND_LINK_SENTINEL:
            bMade = symlink(sSent.c_str(), e.sHost.c_str()) == 0;
            break;
        case KIND_LINK_FILE:
            bMade = symlink((sProgDir + "/victim.sc1").c_str(), e.sHost.c_str()) == 0;
            break;
        case KIND_LINK_ROOT:
            bMade = symlink(sDriveC.c_str(), e.sHost.c_str()) == 0;
            break;
        case KIND_LINK_DANGLING:
            bMade = symlink((sDriveC + "/nowhere").c_str(), e.sHost.c_str()) == 0;
            break;
        }
        if (!bMade)
            continue; // a name the host refuses (too long, or "." and "..")
        static const char *const kKindNames[] = {"file", "file", "folder", "read-only file", "read-only folder",
                                                 "link to the sentinel", "link to a file", "link to C:\\",
                                                 "dangling link", "hidden file", "folder"};
        sTrace += "  " + std::string(kKindNames[nKind]) + " \"" +
                  Printable(e.sHost.substr(sOlderDir.size() + 1)) + "\"\n";
        a.push_back(e);
        if (bFolder)
            aFolders.push_back((int)a.size() - 1);
    }
    // Read-only folders lose their write permission last, so that their contents could be made.
    for (const Entry &e : a)
        if (e.nKind == KIND_READONLY_FOLDER)
            chmod(e.sHost.c_str(), 0555);
    return a;
}

// The older version's data files: regular files directly in Katalogy named *.kmc, directly in the older
// folder named *.sc1.
static bool IsDataFile(const Entry &e)
{
    return e.bRegular && ((e.nParent == 1 && EndsWithNoCase(e.sName, ".kmc")) ||
                          (e.nParent == 0 && EndsWithNoCase(e.sName, ".sc1")));
}

// The user's data the takeover does not carry: regular files named like data, in a folder of the older folder
// that is no link (what lies behind a link stays when the link is removed).
static bool IsNestedData(const Entry &e)
{
    return e.bRegular && !IsDataFile(e) &&
           (EndsWithNoCase(e.sName, ".kmc") || EndsWithNoCase(e.sName, ".sc1"));
}

// The entries the platform's search presents as files for the takeover's two masks in the folder szDir:
// regular files, and with bLinks links too (which the uninstaller removes as links).
static std::set<size_t> Presented(const std::vector<Entry> &a, const char *szDir, bool bLinks = false)
{
    std::set<size_t> aFound;
    static const struct {
        int nParent;
        const char *pszMask;
    } kMasks[] = {{0, "*.sc1"}, {1, "Katalogy\\*.kmc"}};
    for (const auto &m : kMasks) {
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA((std::string(szDir) + "\\" + m.pszMask).c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE)
            continue;
        do {
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            for (size_t i = 2; i < a.size(); i++) {
                std::string sAnsi;
                if (a[i].nParent == m.nParent && (a[i].bRegular || bLinks) && AnsiName(a[i].sName, &sAnsi) &&
                    sAnsi == fd.cFileName)
                    aFound.insert(i);
            }
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    return aFound;
}

static void CheckTakenOver(const Entry &e, const char *pszWhen)
{
    std::string sData;
    if (e.sRel.empty())
        Fail("%s, the data file \"%s\" (a name outside the code page) is not in the new folder", pszWhen,
             Printable(e.sName).c_str());
    if (!PlatRead(std::string(szNewWin) + "\\" + e.sRel, &sData))
        Fail("%s, the data file \"%s\" is not in the new folder", pszWhen, Printable(e.sRel).c_str());
    if (sData != e.sData)
        Fail("%s, the data file \"%s\" is in the new folder with the bytes \"%s\", not \"%s\"", pszWhen,
             Printable(e.sRel).c_str(), Printable(sData).c_str(), Printable(e.sData).c_str());
}

// The new application folder as an installation leaves it, with files of its own.
static void MakeNewFolder()
{
    if (mkdir(sNewDir.c_str(), 0755) != 0 || mkdir((sNewDir + "/Katalogy").c_str(), 0755) != 0 ||
        mkdir((sNewDir + "/Modely").c_str(), 0755) != 0 || !HostWrite(sNewDir + "/Kalmori.exe", "program") ||
        !HostWrite(sNewDir + "/Uninst.exe", "uninstaller"))
        Fail("cannot make the new folder");
}

static void CheckNewFolderOwnFiles()
{
    static const char *const kOwn[][2] = {{"/Kalmori.exe", "program"}, {"/Uninst.exe", "uninstaller"}};
    for (const auto &f : kOwn) {
        std::string s;
        if (!HostRead(sNewDir + f[0], &s) || s != f[1])
            Fail("the new folder's own file %s was removed or changed", f[0]);
    }
}

// Whether an entry's Windows path relative to the application folder names one of this version's files.
static bool IsOwnFile(const Entry &e)
{
    if (e.sRel.empty())
        return false;
    for (int i = 0; pszInstallFiles[i] != NULL; i++)
        if (StrMatch(e.sRel.c_str(), pszInstallFiles[i], STR_NOCASE))
            return true;
    return StrMatch(e.sRel.c_str(), szUninstaller, STR_NOCASE) != 0;
}

// The tree made this version's application folder, its entry written, then uninstalled: outside the folder
// nothing changes; inside, only this version's files go, the user's data files the search presents when
// asked, and the application's own sub-folders when empty; what stays keeps its bytes.
static void Uninstall(std::vector<Entry> *pa, bool bDeleteData)
{
    std::vector<Entry> &a = *pa;
    if (rename(sOlderDir.c_str(), sNewDir.c_str()) != 0)
        Fail("cannot make the tree the application folder");
    for (Entry &e : a)
        e.sHost = sNewDir + e.sHost.substr(sOlderDir.size());
    HKEY hKey = ShlRegCreate(HKEY_LOCAL_MACHINE, (std::string(szUninstallArea) + "\\Kalmor61").c_str());
    if (hKey == NULL || !ShlRegSetString(hKey, "UninstallString", "C:\\Program Files\\Kalmor61\\Uninst.exe"))
        Fail("cannot write this version's uninstall entry");
    ShlRegClose(hKey);
    std::set<size_t> aPresented = Presented(a, szNewWin, true);

    WizResult result;
    WizResultInit(&result, IDS_UN_DONE);
    UninstRemove(szNewWin, bDeleteData, &result);
    CheckSentinel("UninstRemove");
    for (size_t i = 1; i < a.size(); i++) {
        const Entry &e = a[i];
        struct stat st;
        bool bThere = lstat(e.sHost.c_str(), &st) == 0;
        bool bMayGo = IsOwnFile(e) || (bDeleteData && aPresented.count(i) > 0) ||
                      (i == 1 && e.nKind == KIND_FOLDER);
        if (!bThere && !bMayGo)
            Fail("UninstRemove(%s) deleted \"%s\", which is not this version's", bDeleteData ? "with the data" : "",
                 Printable(e.sHost.substr(sNewDir.size() + 1)).c_str());
        std::string sData;
        if (bThere && e.bRegular && S_ISREG(st.st_mode) && (!HostRead(e.sHost, &sData) || sData != e.sData))
            Fail("UninstRemove changed \"%s\"", Printable(e.sHost.substr(sNewDir.size() + 1)).c_str());
    }
    ResFree(result.hReport);
    ShlRegDeleteKey(HKEY_LOCAL_MACHINE, (std::string(szUninstallArea) + "\\Kalmor61").c_str());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nData)
{
    if (nData < 1)
        return 0;
    Reader in = {pData, nData};
    uint8_t nMode = in.Byte();
    bool bTakeOver = (nMode & 1) != 0;
    bool bOlderIsLink = (nMode >> 5) == 7;
    bool bUninstall = !bTakeOver && ((nMode >> 5) == 6 || (nMode >> 5) == 5);

    HostRemoveTree(sOlderDir);
    HostRemoveTree(sNewDir);
    truncate((sMachine + "/shell-notify.log").c_str(), 0);
    std::vector<Entry> a = BuildTree(&in, bOlderIsLink || (bUninstall && (nMode >> 5) == 5));

    if (bUninstall) {
        Uninstall(&a, (nMode & 2) != 0);
        return 0;
    }
    if (!bTakeOver) {
        const char *pszSpelling = kTreeSpellings[(nMode >> 1) & 3];
        int bDeleted = UtlDeleteTree(pszSpelling);
        struct stat st;
        bool bGone = lstat(sOlderDir.c_str(), &st) != 0;
        CheckSentinel("UtlDeleteTree");
        if (bDeleted && !bGone)
            Fail("UtlDeleteTree(\"%s\") reported the folder deleted, but it is still there", pszSpelling);
        if (!bDeleted && bGone)
            Fail("UtlDeleteTree(\"%s\") deleted the folder but reported a failure", pszSpelling);
        return 0;
    }

    MakeNewFolder();
    SetOlderEntry(kDisplayNames[(nMode >> 3) & 3]);
    std::set<size_t> aPresented = Presented(a, szOlderWin);

    WizResult result;
    WizResultInit(&result, IDS_DONE);
    InstallTakeOver(&result);
    CheckSentinel("InstallTakeOver");
    CheckNewFolderOwnFiles();
    if (WizResultOk(&result)) {
        for (size_t i : aPresented)
            CheckTakenOver(a[i], "the takeover reported success, but");
        InstallRemoveOlder(&result);
        CheckSentinel("InstallRemoveOlder");
        CheckNewFolderOwnFiles();
        struct stat st;
        if (lstat(sOlderDir.c_str(), &st) != 0) {
            for (const Entry &e : a) {
                if (IsDataFile(e))
                    CheckTakenOver(e, "the older folder was removed, but");
                else if (IsNestedData(e))
                    Fail("the older folder was removed with the data file \"%s\" deeper in it",
                         Printable(e.sHost.substr(sOlderDir.size() + 1)).c_str());
            }
        }
    }
    ResFree(result.hReport);
    return 0;
}

// ---------------------------------------------------------------------------------------------------------
// Seeds: each hostile name deleted as a file and as a folder, and taken over as a folder, a data file, a
// catalogue and a read-only file; links, read-only and hidden entries, long names, the spellings of the
// older folder and the older version's display names.

static int NameIndex(const char *psz)
{
    for (int i = 0; i < kNameCount; i++)
        if (strcmp(kNames[i], psz) == 0)
            return i;
    fprintf(stderr, "no name %s\n", psz);
    exit(2);
}

static void WriteSeed(const char *pszDir, const std::string &sName, const std::vector<uint8_t> &a)
{
    std::string sPath = std::string(pszDir) + "/" + sName;
    FILE *f = fopen(sPath.c_str(), "wb");
    if (f == NULL || fwrite(a.data(), 1, a.size(), f) != a.size() || fclose(f) != 0) {
        perror(sPath.c_str());
        exit(2);
    }
}

// Bytes of one entry: kind, parent folder (0 the older folder, 1 Katalogy, 2.. folders made before), name,
// extension (0 none, 1 .kmc, 2 .sc1) and trailing decoration (index into kTrails).
static void Add(std::vector<uint8_t> *p, int nKind, int nParent, int nName, int nExt, int nTrail)
{
    p->push_back((uint8_t)(nParent << 4 | nKind));
    p->push_back((uint8_t)nName);
    p->push_back((uint8_t)(nTrail << 2 | nExt));
}

static void WriteSeeds(const char *pszDir)
{
    int nA = NameIndex("a"), nKmc = NameIndex("StavPrv.kmc");
    for (int n = 0; n < kNameCount; n++) {
        if (kNames[n] == kLong)
            continue;
        for (int nTrail = 0; nTrail < 3; nTrail++) {
            if (nTrail > 0 && strchr(kNames[n], '.') == NULL && strchr(kNames[n], ' ') == NULL &&
                strstr(kNames[n], "\xC2\xA0") == NULL)
                continue; // decorations only for names of dots and blanks
            // Deleted: the name as a file, and as a folder with a file in it.
            std::vector<uint8_t> f = {0}, d = {0};
            Add(&f, KIND_FILE, 1, nKmc, 0, 0);
            Add(&f, KIND_FILE, 0, n, 0, nTrail);
            Add(&d, KIND_FOLDER, 0, n, 0, nTrail); // folder 2
            Add(&d, KIND_FILE, 2, nA, 0, 0);
            // Taken over and removed: the name as a folder, a data file, a catalogue and a read-only file.
            std::vector<uint8_t> t = {1};
            Add(&t, KIND_FILE, 1, nKmc, 0, 0);       // Katalogy\StavPrv.kmc
            Add(&t, KIND_FILE, 0, nA, 2, 0);         // a.sc1
            Add(&t, KIND_FOLDER, 0, n, 0, nTrail);   // the name as a folder (folder 2)
            Add(&t, KIND_FILE, 2, nA, 0, 0);         // with a file in it
            Add(&t, KIND_FILE, 0, n, 2, nTrail);     // the name as a data file
            Add(&t, KIND_FILE, 1, n, 1, nTrail);     // the name as a catalogue
            Add(&t, KIND_READONLY_FILE, 1, n, 0, nTrail);
            char szName[64];
            snprintf(szName, sizeof szName, "name%02d-%d-", n, nTrail);
            WriteSeed(pszDir, szName + std::string("file"), f);
            WriteSeed(pszDir, szName + std::string("folder"), d);
            WriteSeed(pszDir, szName + std::string("takeover"), t);
            t[0] = 0xC2; // the same tree uninstalled, the data with it
            WriteSeed(pszDir, szName + std::string("uninstall"), t);
        }
    }
    // Long names: 250, 255 (the host's limit), 256 and 300 characters.
    for (int nLength : {250, 255, 256, 300}) {
        for (int nMode = 0; nMode < 2; nMode++) {
            std::vector<uint8_t> a = {(uint8_t)nMode};
            int nSteps = nLength - 250;
            Add(&a, KIND_FOLDER, 0, NameIndex(kLong), 0, nSteps); // the long name as a folder
            Add(&a, KIND_FILE, 2, nA, 2, 0);
            Add(&a, KIND_FILE, 0, NameIndex(kLong), 2, nSteps); // .sc1 within the length
            Add(&a, KIND_FILE, 1, NameIndex(kLong), 1, nSteps);
            char szName[64];
            snprintf(szName, sizeof szName, "long%d-%s", nLength, nMode ? "takeover" : "delete");
            WriteSeed(pszDir, szName, a);
        }
    }
    // Links: to the sentinel folder, a sentinel file, the drive's root and nowhere, by plain and hostile
    // names, at the top, in Katalogy and deeper; and the older folder itself a link.
    for (int nMode = 0; nMode < 2; nMode++) {
        std::vector<uint8_t> a = {(uint8_t)nMode};
        Add(&a, KIND_FILE, 1, nKmc, 0, 0);
        Add(&a, KIND_LINK_SENTINEL, 0, NameIndex("Data"), 0, 0);
        Add(&a, KIND_LINK_FILE, 0, NameIndex("Data"), 2, 0);
        Add(&a, KIND_LINK_ROOT, 0, NameIndex("C:"), 0, 0);
        Add(&a, KIND_LINK_DANGLING, 0, NameIndex("a"), 2, 0);
        Add(&a, KIND_LINK_SENTINEL, 1, NameIndex("x.kmcx"), 0, 0);
        Add(&a, KIND_LINK_FILE, 1, NameIndex("a"), 1, 0);
        Add(&a, KIND_FOLDER, 0, NameIndex("..\\"), 0, 0); // folder 2
        Add(&a, KIND_LINK_ROOT, 2, NameIndex(".."), 0, 1);
        Add(&a, KIND_FOLDER, 2, NameIndex("   "), 0, 0); // folder 3
        Add(&a, KIND_LINK_SENTINEL, 3, NameIndex("..\\Sentinel"), 0, 0);
        Add(&a, KIND_HIDDEN_FILE, 0, NameIndex("Data"), 2, 0);
        Add(&a, KIND_READONLY_FOLDER, 0, NameIndex("Sentinel"), 0, 0); // folder 4
        Add(&a, KIND_READONLY_FILE, 4, nA, 2, 0);
        WriteSeed(pszDir, nMode ? "links-takeover" : "links-delete", a);
        std::vector<uint8_t> l = {(uint8_t)(0xE0 | nMode)};
        WriteSeed(pszDir, nMode ? "older-is-link-takeover" : "older-is-link-delete", l);
        a[0] = (uint8_t)(0xC0 | nMode << 1); // uninstalled, without and with the data
        WriteSeed(pszDir, nMode ? "links-uninstall-data" : "links-uninstall", a);
        l[0] = (uint8_t)(0xA0 | nMode << 1);
        WriteSeed(pszDir, nMode ? "app-is-link-uninstall-data" : "app-is-link-uninstall", l);
    }
    // The four spellings of the older folder for the deletion, and the display names for the removal.
    for (int n = 0; n < 4; n++) {
        std::vector<uint8_t> d = {(uint8_t)(n << 1)}, r = {(uint8_t)(n << 3 | 1)};
        Add(&d, KIND_FILE, 0, NameIndex("..\\victim.txt"), 0, 0);
        Add(&r, KIND_FILE, 0, nA, 2, 0);
        WriteSeed(pszDir, ("spelling" + std::to_string(n)).c_str(), d);
        WriteSeed(pszDir, ("display-name" + std::to_string(n)).c_str(), r);
    }
}
