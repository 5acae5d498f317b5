// faultsweep.cpp - the fault sweep of the Linux installer: each scenario is run once without faults with the
// platform's trace on, to number its checked platform calls 1..C; then for every N (or every K-th) the N-th
// call is made to fail with an error that call can give (PLAT_FAULT_AT), and, in a second pass, the process
// is cut off at the N-th call (PLAT_FAULT_CUT). After each run the machine is checked, the installer is run
// once more without faults, and the machine is checked again. What must hold:
//
//   a  the faulted run ends with exit code 0, no assertion, no signal;
//   b  it shows the success report (header 1050, nothing else) only when the installation is complete: the
//      uninstall entry Kalmor61 with its two values, the application folder with Uninst.exe and the 48
//      files as packaged, both links, and with removal on the older version's folder, links and entry gone;
//      with warning 1084 alone, the same but the older folder, which is as it was;
//   c  each of the 48 files is absent or whole and right (a taken-over file may hold the older bytes);
//   d  nothing changed outside the application folder, the older folder, the installer's and the older
//      version's links and their two uninstall entries (host files, attributes and the whole registry);
//   e  every user file of the older version (Katalogy\*.kmc, *.sc1, and in upgrade-nested-data the
//      catalogues and .sc1 files deeper in its folder) is whole in the older folder or in the new one;
//   f  the run again without faults succeeds and leaves a complete installation (c, d and e hold too),
//      whose entry also holds the values that only inform (DisplayVersion, DisplayIcon, InstallLocation,
//      EstimatedSize, NoModify, NoRepair); b does not ask for them, since a failed write of one fails
//      nothing.
//
// The uninstall scenarios run the medium's Uninst.exe (which works in place, in one process) on a machine
// with a first installation, the user's data beside it, things that are not the installer's in its folder
// and a folder outside that links in it lead to. There a and d are as above, and:
//
//   b  the success report (header 2050) only when the entry, the 48 files (with the data kept, those of
//      them that are the user's data aside), Uninst.exe and both links are gone, and with the data deleted
//      the user's data too;
//   g  what is not this version's in the application folder (a file, a link leading outside) as it was;
//   h  with the data kept, every user data file (Katalogy\*.kmc, *.sc1) byte for byte as it was;
//   i  the entry gone only when everything of this version is gone as for b (the entry goes last);
//   f  the run again without faults (the same actions, or "next cancel" when the entry is gone and the
//      uninstaller finds nothing) reports success, or that nothing is installed, and leaves what b asks;
//      d, g, h and i hold too.
//
//   faultsweep [--jobs J] [--stride K | --sample K] [--mode fault|cut|both] [--only N] [--keep DIR] BUILD
//              [SCENARIO...]
//
// --stride K sweeps every K-th call (N = 1, 1 + K, ...); --sample K those and the first call of each name
// the trace holds, so that every kind of call is failed and cut off at least once (the quick tier of the
// tests).
//
// BUILD is a Linux build folder with medium/, medium-src/, medium-src.list and bin/pkgtool, bin/restext.
// Environment: KAL_SWEEP_JOBS, KAL_SWEEP_STRIDE, KAL_SWEEP_SAMPLE, KAL_SWEEP_MODE, KAL_SWEEP_KEEP as the
// options. Scenarios: first-install, reinstall-keep, reinstall-replace, upgrade-remove, upgrade-keep,
// upgrade-nested-data, uninstall-keep, uninstall-delete, install-over-kept (all when none is named).
// Output: one line per scenario and mode, then one line per violation. Exit code 0 when nothing was
// violated, 1 otherwise, 2 for bad usage or a sweep that could not be set up.
//
// The program links plat/ only to look at a machine: each look is a forked child that points PLAT_ROOT at
// the machine before its first platform call. The sweeping processes never call plat/ themselves.

#include <windows.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

extern char **environ;

namespace
{

// ---------------------------------------------------------------------------------------------------------
// Small helpers

std::string Lower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return s;
}

std::vector<std::string> Split(const std::string &s, char c)
{
    std::vector<std::string> a;
    size_t i = 0;
    for (;;) {
        size_t j = s.find(c, i);
        a.push_back(s.substr(i, j == std::string::npos ? std::string::npos : j - i));
        if (j == std::string::npos)
            return a;
        i = j + 1;
    }
}

bool ReadAll(const std::string &sPath, std::string *ps)
{
    int fd = open(sPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ps->clear();
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        ps->append(buf, (size_t)n);
    close(fd);
    return n == 0;
}

bool WriteAll(const std::string &sPath, const std::string &s, mode_t mode = 0644)
{
    int fd = open(sPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    bool bOk = write(fd, s.data(), s.size()) == (ssize_t)s.size();
    return close(fd) == 0 && bOk;
}

void MakeDirs(const std::string &sPath)
{
    for (size_t i = 1; i <= sPath.size(); i++)
        if (i == sPath.size() || sPath[i] == '/')
            mkdir(sPath.substr(0, i).c_str(), 0755);
}

std::string Hex(const std::string &s)
{
    static const char d[] = "0123456789abcdef";
    std::string r;
    for (unsigned char c : s) {
        r += d[c >> 4];
        r += d[c & 15];
    }
    return r;
}

// FNV-1a over a file's bytes, read without moving its access time where the host allows; "unreadable" when
// it cannot be read.
std::string HashFile(const std::string &sPath, uint64_t *pnSize = nullptr)
{
    int fd = open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME);
    if (fd < 0 && errno == EPERM)
        fd = open(sPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "unreadable";
    uint64_t x = 14695981039346656037ull, nSize = 0;
    static unsigned char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) {
        nSize += (uint64_t)n;
        for (ssize_t i = 0; i < n; i++)
            x = (x ^ buf[i]) * 1099511628211ull;
    }
    close(fd);
    if (pnSize != nullptr)
        *pnSize = nSize;
    char sz[32];
    snprintf(sz, sizeof sz, "%016llx", (unsigned long long)x);
    return sz;
}

// At most n bytes of UTF-8 text, cut before a whole character, with "..." when cut.
std::string Cap(const std::string &s, size_t n)
{
    if (s.size() <= n)
        return s;
    while (n > 0 && (s[n] & 0xc0) == 0x80)
        n--;
    return s.substr(0, n) + "...";
}

std::string HashBytes(const std::string &s)
{
    uint64_t x = 14695981039346656037ull;
    for (unsigned char c : s)
        x = (x ^ c) * 1099511628211ull;
    char sz[32];
    snprintf(sz, sizeof sz, "%016llx", (unsigned long long)x);
    return sz;
}

double Now()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// ---------------------------------------------------------------------------------------------------------
// Host trees: copy, removal, snapshot

void CopyXattrs(const std::string &sFrom, const std::string &sTo)
{
    char names[4096];
    ssize_t n = llistxattr(sFrom.c_str(), names, sizeof names);
    for (ssize_t i = 0; i < n;) {
        const char *pszName = names + i;
        char value[4096];
        ssize_t v = lgetxattr(sFrom.c_str(), pszName, value, sizeof value);
        if (v >= 0)
            lsetxattr(sTo.c_str(), pszName, value, (size_t)v, 0);
        i += (ssize_t)strlen(pszName) + 1;
    }
}

// Copies a tree with modes, extended attributes and times (a folder's times after its entries).
bool CopyTree(const std::string &sFrom, const std::string &sTo)
{
    struct stat st;
    if (lstat(sFrom.c_str(), &st) != 0)
        return false;
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (S_ISLNK(st.st_mode)) {
        char target[4096];
        ssize_t n = readlink(sFrom.c_str(), target, sizeof target - 1);
        if (n < 0)
            return false;
        target[n] = '\0';
        return symlink(target, sTo.c_str()) == 0;
    }
    if (S_ISDIR(st.st_mode)) {
        if (mkdir(sTo.c_str(), 0700) != 0)
            return false;
        DIR *d = opendir(sFrom.c_str());
        if (d == nullptr)
            return false;
        bool bOk = true;
        while (struct dirent *e = readdir(d)) {
            if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0)
                continue;
            bOk = CopyTree(sFrom + "/" + e->d_name, sTo + "/" + e->d_name) && bOk;
        }
        closedir(d);
        CopyXattrs(sFrom, sTo);
        chmod(sTo.c_str(), st.st_mode & 07777);
        utimensat(AT_FDCWD, sTo.c_str(), times, AT_SYMLINK_NOFOLLOW);
        return bOk;
    }
    if (!S_ISREG(st.st_mode))
        return false;
    int in = open(sFrom.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME);
    if (in < 0 && errno == EPERM)
        in = open(sFrom.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    int out = open(sTo.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        close(in);
        return false;
    }
    bool bOk = true;
    char buf[65536];
    ssize_t n;
    while ((n = read(in, buf, sizeof buf)) > 0)
        if (write(out, buf, (size_t)n) != n)
            bOk = false;
    if (n < 0)
        bOk = false;
    close(in);
    CopyXattrs(sFrom, sTo);
    fchmod(out, st.st_mode & 07777);
    futimens(out, times);
    close(out);
    return bOk;
}

void RemoveTree(const std::string &sPath)
{
    struct stat st;
    if (lstat(sPath.c_str(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        chmod(sPath.c_str(), 0700);
        if (DIR *d = opendir(sPath.c_str())) {
            std::vector<std::string> names;
            while (struct dirent *e = readdir(d))
                if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                    names.push_back(e->d_name);
            closedir(d);
            for (const std::string &s : names)
                RemoveTree(sPath + "/" + s);
        }
        rmdir(sPath.c_str());
    } else {
        unlink(sPath.c_str());
    }
}

// One host entry as the sweep compares it: kind, mode, size, last write time, extended attributes, bytes.
// Access times are left out (reading moves them) and so are a folder's times (its entries move them).
struct HostEntry {
    char cKind = 'F'; // F file, D folder, L link, O other
    std::string sDesc;
    std::string sHash;
    uint64_t nSize = 0;
};
using Snapshot = std::map<std::string, HostEntry>; // path relative to the machine folder, "/" between names

std::string XattrText(const std::string &sPath)
{
    char names[4096];
    ssize_t n = llistxattr(sPath.c_str(), names, sizeof names);
    std::vector<std::string> a;
    for (ssize_t i = 0; i < n;) {
        const char *pszName = names + i;
        char value[4096];
        ssize_t v = lgetxattr(sPath.c_str(), pszName, value, sizeof value);
        a.push_back(std::string(pszName) + "=" + (v >= 0 ? Hex(std::string(value, (size_t)v)) : "?"));
        i += (ssize_t)strlen(pszName) + 1;
    }
    std::sort(a.begin(), a.end());
    std::string s;
    for (const std::string &x : a)
        s += " " + x;
    return s;
}

void Walk(const std::string &sRoot, const std::string &sRel, Snapshot *pSnap)
{
    std::string sPath = sRel.empty() ? sRoot : sRoot + "/" + sRel;
    DIR *d = opendir(sPath.c_str());
    if (d == nullptr)
        return;
    std::vector<std::string> names;
    while (struct dirent *e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            names.push_back(e->d_name);
    closedir(d);
    for (const std::string &sName : names) {
        std::string sChildRel = sRel.empty() ? sName : sRel + "/" + sName;
        std::string sChild = sRoot + "/" + sChildRel;
        struct stat st;
        if (lstat(sChild.c_str(), &st) != 0)
            continue;
        HostEntry e;
        char sz[128];
        if (S_ISDIR(st.st_mode)) {
            e.cKind = 'D';
            snprintf(sz, sizeof sz, "folder mode %o", (unsigned)(st.st_mode & 07777));
            e.sDesc = sz + XattrText(sChild);
            (*pSnap)[sChildRel] = e;
            Walk(sRoot, sChildRel, pSnap);
        } else if (S_ISLNK(st.st_mode)) {
            e.cKind = 'L';
            char target[4096];
            ssize_t n = readlink(sChild.c_str(), target, sizeof target - 1);
            e.sDesc = "link to " + std::string(target, n > 0 ? (size_t)n : 0);
            (*pSnap)[sChildRel] = e;
        } else if (S_ISREG(st.st_mode)) {
            e.cKind = 'F';
            e.sHash = HashFile(sChild, &e.nSize);
            snprintf(sz, sizeof sz, "file mode %o size %lld written %lld.%09ld hash ",
                     (unsigned)(st.st_mode & 07777), (long long)st.st_size, (long long)st.st_mtim.tv_sec,
                     st.st_mtim.tv_nsec);
            e.sDesc = sz + e.sHash + XattrText(sChild);
            (*pSnap)[sChildRel] = e;
        } else {
            e.cKind = 'O';
            snprintf(sz, sizeof sz, "other mode %o", (unsigned)st.st_mode);
            e.sDesc = sz;
            (*pSnap)[sChildRel] = e;
        }
    }
}

Snapshot TakeSnapshot(const std::string &sMachine)
{
    Snapshot snap;
    Walk(sMachine, "", &snap);
    return snap;
}

const HostEntry *FindNoCase(const Snapshot &snap, const std::string &sRel)
{
    auto it = snap.find(sRel);
    if (it != snap.end())
        return &it->second;
    std::string sLow = Lower(sRel);
    for (const auto &kv : snap)
        if (Lower(kv.first) == sLow)
            return &kv.second;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------------------
// Processes

std::string gUser;

// The processes this one waits for, which an interruption ends (see OnSignal): the jobs of the main
// process, or the one program a job runs.
pid_t gaChildren[64];
int gnChildren;

// The environment of the installer's runs: this process's, without the platform's variables and the
// display, with the ones given.
std::vector<std::string> BaseEnv()
{
    std::vector<std::string> a;
    for (char **p = environ; *p != nullptr; p++) {
        std::string s = *p;
        if (s.compare(0, 5, "PLAT_") == 0 || s.compare(0, 8, "DISPLAY=") == 0 ||
            s.compare(0, 16, "WAYLAND_DISPLAY=") == 0)
            continue;
        a.push_back(s);
    }
    return a;
}

// Runs a program with its output (both streams) to sOut; returns the wait status, or -1.
int Spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env, const std::string &sOut,
          int nTimeout = 120)
{
    std::vector<char *> av, ev;
    for (const std::string &s : argv)
        av.push_back(const_cast<char *>(s.c_str()));
    av.push_back(nullptr);
    for (const std::string &s : env)
        ev.push_back(const_cast<char *>(s.c_str()));
    ev.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        int fd = open(sOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        int in = open("/dev/null", O_RDONLY);
        if (in >= 0) {
            dup2(in, 0);
            close(in);
        }
        alarm((unsigned)nTimeout); // survives the exec: a run that hangs ends with SIGALRM
        execve(av[0], av.data(), ev.data());
        _exit(127);
    }
    gaChildren[0] = pid;
    gnChildren = 1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) {
            gnChildren = 0;
            return -1;
        }
    gnChildren = 0;
    return status;
}

std::string StatusText(int status)
{
    char sz[64];
    if (status == -1)
        return "not started";
    if (WIFSIGNALED(status))
        snprintf(sz, sizeof sz, "killed by signal %d", WTERMSIG(status));
    else
        snprintf(sz, sizeof sz, "exit code %d", WEXITSTATUS(status));
    return sz;
}

// ---------------------------------------------------------------------------------------------------------
// The machine as the platform shows it (in a forked child: plat/ reads PLAT_ROOT on its first call)

const char kUninstallArea[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char kAppDir[] = "C:\\Program Files\\Kalmor61";

void DumpKey(HKEY hKey, const std::string &sPath, FILE *f)
{
    fprintf(f, "K\t%s\n", sPath.c_str());
    for (DWORD i = 0;; i++) {
        char szName[16384];
        DWORD cchName = sizeof szName;
        static BYTE data[1 << 20];
        DWORD cbData = sizeof data, nType = 0;
        if (RegEnumValueA(hKey, i, szName, &cchName, NULL, &nType, data, &cbData) != ERROR_SUCCESS)
            break;
        fprintf(f, "V\t%s\t%s\t%lu\t%s\n", sPath.c_str(), szName, (unsigned long)nType,
                Hex(std::string((const char *)data, cbData)).c_str());
    }
    std::vector<std::string> subkeys;
    for (DWORD i = 0;; i++) {
        char szName[1024];
        DWORD cchName = sizeof szName;
        if (RegEnumKeyExA(hKey, i, szName, &cchName, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        subkeys.push_back(szName);
    }
    for (const std::string &s : subkeys) {
        HKEY hSub;
        if (RegOpenKeyExA(hKey, s.c_str(), 0, KEY_READ, &hSub) == ERROR_SUCCESS) {
            DumpKey(hSub, sPath + "\\" + s, f);
            RegCloseKey(hSub);
        } else {
            fprintf(f, "K\t%s\\%s\t(cannot be opened)\n", sPath.c_str(), s.c_str());
        }
    }
}

uint64_t Ticks(const FILETIME &ft)
{
    return ((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
}

void DumpFolder(const std::string &sRoot, const std::string &sRel, FILE *f)
{
    WIN32_FIND_DATAA fd;
    std::string sFolder = sRel.empty() ? sRoot : sRoot + "\\" + sRel;
    HANDLE h = FindFirstFileA((sFolder + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::string> sub;
    do {
        if (strcmp(fd.cFileName, ".") == 0 || strcmp(fd.cFileName, "..") == 0)
            continue;
        std::string sName = sRel.empty() ? fd.cFileName : sRel + "\\" + fd.cFileName;
        DWORD a = fd.dwFileAttributes;
        std::string sAttrs;
        if (a & FILE_ATTRIBUTE_READONLY)
            sAttrs += 'R';
        if (a & FILE_ATTRIBUTE_HIDDEN)
            sAttrs += 'H';
        if (a & FILE_ATTRIBUTE_SYSTEM)
            sAttrs += 'S';
        if (sAttrs.empty())
            sAttrs = "-";
        if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
            fprintf(f, "A\t%s\tL\t%s\n", sName.c_str(), sAttrs.c_str());
        } else if (a & FILE_ATTRIBUTE_DIRECTORY) {
            fprintf(f, "A\t%s\tD\t%s\n", sName.c_str(), sAttrs.c_str());
            sub.push_back(sName);
        } else {
            fprintf(f, "A\t%s\tF\t%s\t%lu\t%llu\t%llu\t%llu\n", sName.c_str(), sAttrs.c_str(),
                    (unsigned long)fd.nFileSizeLow, (unsigned long long)Ticks(fd.ftCreationTime),
                    (unsigned long long)Ticks(fd.ftLastAccessTime),
                    (unsigned long long)Ticks(fd.ftLastWriteTime));
        }
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    for (const std::string &s : sub)
        DumpFolder(sRoot, s, f);
}

// The child's part: the whole registry and the application folder, one line each.
void DumpMachine(FILE *f, bool bCreate)
{
    static const struct {
        HKEY h;
        const char *psz;
    } roots[] = {{HKEY_LOCAL_MACHINE, "HKLM"},
                 {HKEY_CURRENT_USER, "HKCU"},
                 {HKEY_CLASSES_ROOT, "HKCR"},
                 {HKEY_USERS, "HKU"},
                 {HKEY_CURRENT_CONFIG, "HKCC"}};
    for (const auto &r : roots)
        DumpKey(r.h, r.psz, f);
    if (bCreate)
        return;
    DWORD a = GetFileAttributesA(kAppDir);
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY))
        fprintf(f, "N\n");
    else
        DumpFolder(kAppDir, "", f);
}

struct AppEntry {
    char cKind = 'F';
    std::string sName;
    std::string sAttrs;
    uint64_t nSize = 0, nCreated = 0, nAccessed = 0, nWritten = 0;
};

struct MachineView {
    bool bOk = false;
    std::vector<std::string> aReg; // "K\tPATH" and "V\tPATH\tNAME\tTYPE\tHEX"
    bool bAppDir = false;
    std::map<std::string, AppEntry> app; // lower-case relative path -> entry
};

// Looks at the machine in a child process. With bCreate the child only makes the machine (its first
// registry call does).
MachineView LookAt(const std::string &sMachine, bool bCreate = false)
{
    MachineView v;
    int p[2];
    if (pipe(p) != 0)
        return v;
    pid_t pid = fork();
    if (pid == 0) {
        close(p[0]);
        setenv("PLAT_ROOT", sMachine.c_str(), 1);
        for (const char *psz : {"PLAT_FAULT", "PLAT_FAULT_AT", "PLAT_FAULT_CUT", "PLAT_FAULT_TRACE"})
            unsetenv(psz);
        FILE *f = fdopen(p[1], "w");
        DumpMachine(f, bCreate);
        fprintf(f, "E\n");
        fflush(f);
        _exit(0);
    }
    close(p[1]);
    std::string s;
    char buf[65536];
    ssize_t n;
    while ((n = read(p[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            s.append(buf, (size_t)n);
    close(p[0]);
    int status;
    waitpid(pid, &status, 0);
    v.bAppDir = true;
    for (const std::string &sLine : Split(s, '\n')) {
        if (sLine.empty())
            continue;
        if (sLine[0] == 'K' || sLine[0] == 'V') {
            v.aReg.push_back(sLine);
        } else if (sLine == "N") {
            v.bAppDir = false;
        } else if (sLine == "E") {
            v.bOk = true;
        } else if (sLine[0] == 'A') {
            std::vector<std::string> a = Split(sLine, '\t');
            if (a.size() < 4)
                continue;
            AppEntry e;
            e.sName = a[1];
            e.cKind = a[2][0];
            e.sAttrs = a[3];
            if (e.cKind == 'F' && a.size() >= 8) {
                e.nSize = strtoull(a[4].c_str(), nullptr, 10);
                e.nCreated = strtoull(a[5].c_str(), nullptr, 10);
                e.nAccessed = strtoull(a[6].c_str(), nullptr, 10);
                e.nWritten = strtoull(a[7].c_str(), nullptr, 10);
            }
            v.app[Lower(e.sName)] = e;
        }
    }
    if (bCreate)
        v.bAppDir = false;
    return v;
}

// The registry part of a view that the installer must leave alone: everything but its own uninstall
// entry and the older version's.
bool IsOwnKey(const std::string &sKeyPath)
{
    std::string s = Lower(sKeyPath);
    for (const char *pszName : {"kalmor61", "kalmori6"}) {
        std::string sKey = Lower(std::string(kUninstallArea)) + "\\" + pszName;
        if (s == sKey || s.compare(0, sKey.size() + 1, sKey + "\\") == 0)
            return true;
    }
    return false;
}

std::vector<std::string> ForeignRegistry(const MachineView &v)
{
    std::vector<std::string> a;
    for (const std::string &s : v.aReg) {
        std::vector<std::string> f = Split(s, '\t');
        if (f.size() >= 2 && IsOwnKey(f[1]))
            continue;
        a.push_back(s);
    }
    return a;
}

bool HasKey(const MachineView &v, const std::string &sPath)
{
    std::string sLow = Lower(sPath);
    for (const std::string &s : v.aReg)
        if (s[0] == 'K' && Lower(s.substr(2)) == sLow)
            return true;
    return false;
}

// A string value's text (without its terminators), or "(none)", or "(type N)".
std::string StringValue(const MachineView &v, const std::string &sKey, const std::string &sName)
{
    std::string sKeyLow = Lower(sKey), sNameLow = Lower(sName);
    for (const std::string &s : v.aReg) {
        if (s[0] != 'V')
            continue;
        std::vector<std::string> f = Split(s, '\t');
        if (f.size() < 5 || Lower(f[1]) != sKeyLow || Lower(f[2]) != sNameLow)
            continue;
        if (f[3] != "1")
            return "(type " + f[3] + ")";
        std::string sData;
        for (size_t i = 0; i + 1 < f[4].size(); i += 2)
            sData += (char)strtoul(f[4].substr(i, 2).c_str(), nullptr, 16);
        while (!sData.empty() && sData.back() == '\0')
            sData.pop_back();
        return sData;
    }
    return "(none)";
}

// A DWORD value as a number in decimal, or "(none)", or "(type N)".
std::string DwordValue(const MachineView &v, const std::string &sKey, const std::string &sName)
{
    std::string sKeyLow = Lower(sKey), sNameLow = Lower(sName);
    for (const std::string &s : v.aReg) {
        if (s[0] != 'V')
            continue;
        std::vector<std::string> f = Split(s, '\t');
        if (f.size() < 5 || Lower(f[1]) != sKeyLow || Lower(f[2]) != sNameLow)
            continue;
        if (f[3] != "4" || f[4].size() != 8)
            return "(type " + f[3] + ")";
        uint32_t n = 0;
        for (int i = 3; i >= 0; i--)
            n = n << 8 | (uint32_t)strtoul(f[4].substr(2 * i, 2).c_str(), nullptr, 16);
        return std::to_string(n);
    }
    return "(none)";
}

// What is wrong with the values of this version's entry that only inform (those a run without faults
// writes), "" when nothing: the version, the icon, the folder, a size, no Modify and no Repair.
std::string EntryInfoWrong(const MachineView &v)
{
    std::string sEntry = std::string(kUninstallArea) + "\\Kalmor61";
    struct {
        const char *pszName, *pszWant;
    } aStrings[] = {{"DisplayVersion", "6.1"},
                    {"DisplayIcon", "C:\\Program Files\\Kalmor61\\Kalmori.exe,0"},
                    {"InstallLocation", "C:\\Program Files\\Kalmor61"}};
    for (const auto &c : aStrings) {
        std::string s = StringValue(v, sEntry, c.pszName);
        if (s != c.pszWant)
            return std::string(c.pszName) + " is " + s;
    }
    for (const char *pszName : {"NoModify", "NoRepair"}) {
        std::string s = DwordValue(v, sEntry, pszName);
        if (s != "1")
            return std::string(pszName) + " is " + s;
    }
    std::string s = DwordValue(v, sEntry, "EstimatedSize");
    if (s == "(none)" || s == "0" || s[0] == '(')
        return "EstimatedSize is " + s;
    return "";
}

// ---------------------------------------------------------------------------------------------------------
// What the sweep knows before it starts

struct Packaged {
    std::string sName; // relative to the application folder, "\" between names
    std::string sAttrs;
    uint64_t nSize = 0, nCreated = 0, nAccessed = 0, nWritten = 0;
    std::string sHash;
};

struct Scenario {
    const char *pszName;
    const char *pszActions;
    bool bInstalled; // a first installation is made before the scenario
    bool bOlder;     // the older version Kalmori6 is on the machine
    bool bRemoval;   // the older version is to be removed
    int nUninstall;  // 0: the installer; 1: the uninstaller, data kept; 2: the uninstaller, data deleted
    bool bKept;      // the user's data an uninstallation kept lie in the application folder, with no entry
    bool bNested;    // the older folder holds user data deeper than the takeover looks, so it is kept whole
};

const Scenario kScenarios[] = {
    {"first-install", "next cancel", false, false, false, 0, false, false},
    {"reinstall-keep", "next next cancel", true, false, false, 0, false, false},
    {"reinstall-replace", "next check next cancel", true, false, false, 0, false, false},
    {"upgrade-remove", "next next cancel", false, true, true, 0, false, false},
    {"upgrade-keep", "next uncheck next cancel", false, true, false, 0, false, false},
    {"upgrade-nested-data", "next next cancel", false, true, true, 0, false, true},
    {"uninstall-keep", "next next cancel", true, false, false, 1, false, false},
    {"uninstall-delete", "next check next cancel", true, false, false, 2, false, false},
    {"install-over-kept", "next cancel", false, false, false, 0, true, false},
};

struct Sweep {
    std::string sBuild, sWork, sMedium, sSetup, sUninst;
    std::vector<Packaged> aPackaged;
    std::string sUninstHash;
    std::string sSuccessReport;
    std::string sOlderLeftReport; // the success report with warning 1062: parts of the older version stayed
    std::string sDataLeftReport;  // the success report with warning 1084: the older folder kept for the data
    std::string sUnDone;          // the uninstaller's success header (2050), one line
    std::string sUnNothing;       // the uninstaller's report when nothing is installed (2051 + 2060)
    std::string sLinkStart, sLinkDesktop; // relative to the machine folder
    std::string sOldLinkStart, sOldLinkDesktop;
    std::vector<std::string> aEnv;
    int nJobs = 2;
    int nStride = 0; // 0: the default of each scenario
    bool bFirstOfEach = false; // --sample: the first call of each name too
    bool bFault = true, bCut = true;
    unsigned long nOnly = 0;
    std::string sKeep;
};

Sweep gSweep;

const char kAppRel[] = "drive_c/Program Files/Kalmor61";
const char kOldRel[] = "drive_c/Program Files/Kalmori6";

// "2001-02-03T04:05:06.1234567Z" as 100 ns ticks since 1601.
uint64_t ParseIsoTime(const std::string &s)
{
    struct tm tm = {};
    if (s.size() < 19)
        return 0;
    tm.tm_year = atoi(s.substr(0, 4).c_str()) - 1900;
    tm.tm_mon = atoi(s.substr(5, 2).c_str()) - 1;
    tm.tm_mday = atoi(s.substr(8, 2).c_str());
    tm.tm_hour = atoi(s.substr(11, 2).c_str());
    tm.tm_min = atoi(s.substr(14, 2).c_str());
    tm.tm_sec = atoi(s.substr(17, 2).c_str());
    int64_t t = (int64_t)timegm(&tm);
    uint64_t nFrac = 0;
    size_t i = 19;
    if (i < s.size() && s[i] == '.') {
        int nDigits = 0;
        for (i++; i < s.size() && s[i] >= '0' && s[i] <= '9'; i++, nDigits++)
            if (nDigits < 7)
                nFrac = nFrac * 10 + (uint64_t)(s[i] - '0');
        for (; nDigits < 7; nDigits++)
            nFrac *= 10;
    }
    return (uint64_t)(t + 11644473600ll) * 10000000ull + nFrac;
}

// The report of a transcript: the final page's text lines, blanks at their ends and blank lines around
// them removed; "" when no final page was shown.
std::string ReportOf(const std::string &sTranscript)
{
    std::vector<std::string> lines = Split(sTranscript, '\n');
    std::vector<std::string> block;
    for (const std::string &sLine : lines) {
        if (sLine.compare(0, 4, "=== ") == 0) {
            block.clear();
            continue;
        }
        if (sLine.compare(0, 4, "--- ") == 0) {
            bool bFinal = false;
            for (const std::string &b : block)
                if (b.compare(0, 2, "> ") == 0 || b.compare(0, 2, "  ") == 0)
                    if (b.compare(2, strlen("[Закрыть]"), "[Закрыть]") == 0)
                        bFinal = true;
            if (bFinal) {
                std::vector<std::string> text;
                for (const std::string &b : block) {
                    if (b.size() >= 3 && (b[0] == '>' || b[0] == ' ') && b[1] == ' ' && b[2] == '[')
                        continue;
                    std::string t = b.size() >= 2 ? b.substr(2) : std::string();
                    while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\r'))
                        t.pop_back();
                    text.push_back(t);
                }
                while (!text.empty() && text.front().empty())
                    text.erase(text.begin());
                while (!text.empty() && text.back().empty())
                    text.pop_back();
                std::string r;
                for (const std::string &t : text)
                    r += t + "\n";
                return r;
            }
            block.clear();
            continue;
        }
        block.push_back(sLine);
    }
    return "";
}

// What a shell link says: its target (the LinkInfo's local path) and its working folder; false when the
// file is not a whole link.
bool ReadLink(const std::string &s, std::string *psTarget, std::string *psWorkDir)
{
    auto U16 = [&](size_t at) -> uint32_t {
        return at + 2 <= s.size() ? (uint32_t)(unsigned char)s[at] | (uint32_t)(unsigned char)s[at + 1] << 8
                                  : 0;
    };
    auto U32 = [&](size_t at) -> uint32_t { return at + 4 <= s.size() ? U16(at) | U16(at + 2) << 16 : 0; };
    if (s.size() < 0x4c || U32(0) != 0x4c)
        return false;
    uint32_t nFlags = U32(0x14);
    size_t at = 0x4c;
    if (nFlags & 1) // an item list
        at += 2 + U16(at);
    psTarget->clear();
    psWorkDir->clear();
    if (nFlags & 2) { // LinkInfo
        uint32_t nSize = U32(at);
        if (nSize < 0x1c || at + nSize > s.size())
            return false;
        if (U32(at + 8) & 1) { // a local path
            size_t p = at + U32(at + 16);
            while (p < at + nSize && s[p] != '\0')
                *psTarget += s[p++];
            size_t q = at + U32(at + 24);
            while (q < at + nSize && s[q] != '\0')
                *psTarget += s[q++];
        }
        at += nSize;
    }
    // The strings, each a count and that many characters: name, relative path, working folder, ...
    for (uint32_t nBit : {4u, 8u, 0x10u, 0x20u, 0x40u}) {
        if (!(nFlags & nBit))
            continue;
        uint32_t n = U16(at);
        size_t nBytes = (nFlags & 0x80) ? 2 * (size_t)n : n;
        if (at + 2 + nBytes > s.size())
            return false;
        std::string sText;
        for (uint32_t i = 0; i < n; i++) {
            uint32_t c = (nFlags & 0x80) ? U16(at + 2 + 2 * i) : (unsigned char)s[at + 2 + i];
            sText += c < 0x80 ? (char)c : '?';
        }
        if (nBit == 0x10)
            *psWorkDir = sText;
        at += 2 + nBytes;
    }
    return true;
}

// True when the transcript shows the upgrade page's check box on as the user went on from it.
bool RemovalChosen(const std::string &sTranscript)
{
    bool bChecked = false;
    for (const std::string &sLine : Split(sTranscript, '\n')) {
        if (sLine.compare(0, 4, "=== ") == 0)
            bChecked = false;
        else if (sLine.size() > 6 && sLine.compare(2, 4, "[x] ") == 0)
            bChecked = true;
        else if (sLine == "--- next" && bChecked)
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------------------
// Checks

struct Finding {
    std::string sInvariant; // a .. f
    std::string sDetail;
};

struct Older {
    std::vector<std::pair<std::string, std::string>> aUserFiles; // path relative to the folder ("/"), hash
};

struct Template {
    const Scenario *pScenario;
    std::string sMachine;
    Snapshot snap;
    std::vector<std::string> aForeignReg;
    Older older;
    Older kept; // the user's data kept in the application folder (install-over-kept), relative to it
    // Uninstall scenarios: the user's data in the application folder and what is not this version's there
    // (paths relative to the machine folder, "/" between names).
    std::vector<std::string> aData, aForeignApp;
};

bool IsUnder(const std::string &sRel, const std::string &sFolder)
{
    std::string a = Lower(sRel), b = Lower(sFolder);
    return a == b || a.compare(0, b.size() + 1, b + "/") == 0;
}

bool MayChange(const std::string &sRel)
{
    static const std::set<std::string> kTop = {"registry.db",         "registry.db-wal", "registry.db-shm",
                                               "registry.db-journal", "registry.lock",   "shell-notify.log"};
    if (kTop.count(sRel))
        return true;
    if (IsUnder(sRel, kAppRel) || IsUnder(sRel, kOldRel))
        return true;
    std::string s = Lower(sRel);
    for (const std::string *p :
         {&gSweep.sLinkStart, &gSweep.sLinkDesktop, &gSweep.sOldLinkStart, &gSweep.sOldLinkDesktop})
        if (s == Lower(*p))
            return true;
    return false;
}

// d: what is not the installer's is as it was.
void CheckForeign(const Template &t, const Snapshot &snap, const MachineView &v, std::vector<Finding> *pOut)
{
    std::vector<std::string> aDiff;
    for (const auto &kv : t.snap) {
        if (MayChange(kv.first))
            continue;
        auto it = snap.find(kv.first);
        if (it == snap.end())
            aDiff.push_back(kv.first + " is gone");
        else if (it->second.sDesc != kv.second.sDesc)
            aDiff.push_back(kv.first + " changed (" + kv.second.sDesc + " -> " + it->second.sDesc + ")");
    }
    for (const auto &kv : snap)
        if (!MayChange(kv.first) && t.snap.find(kv.first) == t.snap.end())
            aDiff.push_back(kv.first + " is new");
    std::vector<std::string> now = ForeignRegistry(v);
    std::set<std::string> before(t.aForeignReg.begin(), t.aForeignReg.end()), after(now.begin(), now.end());
    for (const std::string &s : before)
        if (!after.count(s))
            aDiff.push_back("registry: lost " + s.substr(0, 200));
    for (const std::string &s : after)
        if (!before.count(s))
            aDiff.push_back("registry: new " + s.substr(0, 200));
    if (!v.bOk)
        aDiff.push_back("the machine could not be looked at");
    if (!aDiff.empty()) {
        std::string s = aDiff[0];
        if (aDiff.size() > 1)
            s += " (and " + std::to_string(aDiff.size() - 1) + " more)";
        pOut->push_back({"d", s});
    }
}

// The state of one packaged file: "" when right (or absent with bAbsentOk), else what is wrong.
std::string PackagedFileState(const Template &t, const Snapshot &snap, const MachineView &v,
                              const Packaged &p, bool bAbsentOk)
{
    auto it = v.app.find(Lower(p.sName));
    if (it == v.app.end())
        return bAbsentOk ? "" : p.sName + " is missing";
    const AppEntry &e = it->second;
    if (e.cKind != 'F')
        return p.sName + " is not a file";
    std::string sHostRel = std::string(kAppRel) + "/" + e.sName;
    std::replace(sHostRel.begin(), sHostRel.end(), '\\', '/');
    const HostEntry *h = FindNoCase(snap, sHostRel);
    std::string sHash = h != nullptr ? h->sHash : "unreadable";
    // A taken-over user file may hold the older version's bytes.
    std::string sOlderRel = p.sName;
    std::replace(sOlderRel.begin(), sOlderRel.end(), '\\', '/');
    for (const auto &u : t.older.aUserFiles)
        if (Lower(u.first) == Lower(sOlderRel) && u.second == sHash)
            return "";
    // So may a kept user file that the installation left as it was.
    for (const auto &u : t.kept.aUserFiles)
        if (Lower(u.first) == Lower(sOlderRel) && u.second == sHash)
            return "";
    std::vector<std::string> what;
    if (e.nSize != p.nSize || sHash != p.sHash)
        what.push_back("bytes differ (size " + std::to_string(e.nSize) + " of " + std::to_string(p.nSize) +
                       ")");
    if (e.sAttrs != p.sAttrs)
        what.push_back("attributes " + e.sAttrs + " not " + p.sAttrs);
    if (e.nWritten != p.nWritten)
        what.push_back("last write time differs");
    if (e.nAccessed != p.nAccessed)
        what.push_back("last access time differs");
    if (e.nCreated != p.nCreated)
        what.push_back("creation time differs");
    if (what.empty())
        return "";
    std::string s = p.sName + ": ";
    for (size_t i = 0; i < what.size(); i++)
        s += (i ? ", " : "") + what[i];
    return s;
}

// c: each packaged file absent or right.
void CheckFiles(const Template &t, const Snapshot &snap, const MachineView &v, std::vector<Finding> *pOut)
{
    for (const Packaged &p : gSweep.aPackaged) {
        std::string s = PackagedFileState(t, snap, v, p, true);
        if (!s.empty()) {
            pOut->push_back({"c", s});
            return;
        }
    }
}

// Whether a user file (relative to the application folder, "/" between names) bears a packaged file's name
// and the new folder holds that file's packaged bytes.
bool HoldsPackagedBytes(const Snapshot &snap, const std::string &sRel)
{
    std::string sName = sRel;
    std::replace(sName.begin(), sName.end(), '/', '\\');
    const HostEntry *pNew = FindNoCase(snap, std::string(kAppRel) + "/" + sRel);
    for (const Packaged &p : gSweep.aPackaged)
        if (Lower(p.sName) == Lower(sName))
            return pNew != nullptr && pNew->sHash == p.sHash;
    return false;
}

// e: every user file of the older version whole in the older folder or in the new one.
// With bReplaced (after a reinstallation that replaces the files), a user file that bears a packaged
// file's name may hold the packaged bytes in the new folder: the user asked for the files as packaged, and
// the reinstall page warned that catalogues are replaced.
void CheckUserData(const Template &t, const Snapshot &snap, bool bReplaced, std::vector<Finding> *pOut)
{
    for (const auto &u : t.older.aUserFiles) {
        if (bReplaced && HoldsPackagedBytes(snap, u.first))
            continue;
        const HostEntry *pOld = FindNoCase(snap, std::string(kOldRel) + "/" + u.first);
        const HostEntry *pNew = FindNoCase(snap, std::string(kAppRel) + "/" + u.first);
        bool bOld = pOld != nullptr && pOld->cKind == 'F' && pOld->sHash == u.second;
        bool bNew = pNew != nullptr && pNew->cKind == 'F' && pNew->sHash == u.second;
        if (!bOld && !bNew) {
            std::string s = u.first + " lost: older folder " +
                            (pOld == nullptr ? "has none" : "has other bytes") + ", new folder " +
                            (pNew == nullptr ? "has none" : "has other bytes");
            pOut->push_back({"e", s});
            return;
        }
    }
    // The user's data kept in the application folder stay whole there; after a reinstallation that replaces
    // the files, one bearing a packaged file's name may hold the packaged bytes, as for e above.
    for (const auto &u : t.kept.aUserFiles) {
        const HostEntry *pNew = FindNoCase(snap, std::string(kAppRel) + "/" + u.first);
        if ((pNew != nullptr && pNew->cKind == 'F' && pNew->sHash == u.second) ||
            (bReplaced && HoldsPackagedBytes(snap, u.first)))
            continue;
        pOut->push_back({"e", u.first + " kept in the application folder lost: " +
                                  (pNew == nullptr ? "none there" : "other bytes there")});
        return;
    }
}

// "" when the link leads to the installed program, with the documents folder (or, when that cannot be
// found, the application folder) as its working folder.
std::string LinkState(const std::string &sMachine, const std::string &sRel)
{
    std::string s, sTarget, sWorkDir;
    if (!ReadAll(sMachine + "/" + sRel, &s))
        return "missing";
    if (!ReadLink(s, &sTarget, &sWorkDir))
        return "not a whole link (" + std::to_string(s.size()) + " bytes)";
    if (sTarget != "C:\\Program Files\\Kalmor61\\Kalmori.exe")
        return "leads to " + sTarget;
    if (sWorkDir != "C:\\users\\" + gUser + "\\Documents" && sWorkDir != kAppDir)
        return "works in " + sWorkDir;
    return "";
}

// Whether what is left of the older folder is only read-only files and the folders that hold them: what the
// removal leaves by design (it does not delete read-only files), with warning 1062.
bool OnlyReadOnlyLeft(const Snapshot &snap)
{
    std::string sPrefix = std::string(kOldRel) + "/";
    for (const auto &kv : snap) {
        if (kv.first.compare(0, sPrefix.size(), sPrefix) != 0 || kv.second.cKind == 'D')
            continue;
        unsigned nMode = 0;
        if (kv.second.cKind != 'F' || sscanf(kv.second.sDesc.c_str(), "file mode %o", &nMode) != 1 ||
            (nMode & 0222) != 0)
            return false;
    }
    return true;
}

// What a successful removal of the older version may leave of its folder.
enum OlderLeft {
    kOlderGone,     // nothing
    kReadOnlyLeft,  // its read-only files and the folders that hold them (warning 1062)
    kOlderFolderAll // everything, as it was: it holds data deeper than the takeover looks (warning 1084)
};

// Whether a report is that of a successful run: the success report; or, where the older version was to be
// removed, the success report with warning 1062, or with warning 1084 where the older folder holds data
// deeper than the takeover looks. *pLeft then says what the older folder may keep; everything else must be
// complete.
bool SuccessReport(const Template &t, const std::string &sReport, bool bRemoval, OlderLeft *pLeft)
{
    *pLeft = kOlderGone;
    if (bRemoval && sReport == gSweep.sOlderLeftReport)
        *pLeft = kReadOnlyLeft;
    if (bRemoval && t.pScenario->bNested && sReport == gSweep.sDataLeftReport)
        *pLeft = kOlderFolderAll;
    return sReport == gSweep.sSuccessReport || *pLeft != kOlderGone;
}

// What of the older folder as seeded is gone or changed; "" when nothing.
std::string OlderFolderChanged(const Template &t, const Snapshot &snap)
{
    for (const auto &kv : t.snap) {
        if (!IsUnder(kv.first, kOldRel))
            continue;
        auto it = snap.find(kv.first);
        if (it == snap.end())
            return kv.first + " is gone";
        if (it->second.sDesc != kv.second.sDesc)
            return kv.first + " changed (" + kv.second.sDesc + " -> " + it->second.sDesc + ")";
    }
    return "";
}

// What a complete installation lacks, "" when it is complete. With left, what the older folder may keep.
std::string Incomplete(const Template &t, const std::string &sMachine, const Snapshot &snap,
                       const MachineView &v, bool bRemoval, OlderLeft left)
{
    std::string sEntry = std::string(kUninstallArea) + "\\Kalmor61";
    if (!HasKey(v, sEntry))
        return "no uninstall entry Kalmor61";
    std::string s = StringValue(v, sEntry, "UninstallString");
    if (s != "C:\\Program Files\\Kalmor61\\Uninst.exe")
        return "UninstallString is " + s;
    s = StringValue(v, sEntry, "DisplayName");
    if (s != "Kalmorist 6.1")
        return "DisplayName is " + s;
    if (!v.bAppDir)
        return "no application folder";
    for (const char *pszDir : {"katalogy", "modely"}) {
        auto it = v.app.find(pszDir);
        if (it == v.app.end() || it->second.cKind != 'D')
            return std::string("no folder ") + pszDir;
    }
    const HostEntry *h = FindNoCase(snap, std::string(kAppRel) + "/Uninst.exe");
    if (h == nullptr || h->sHash != gSweep.sUninstHash)
        return h == nullptr ? "no Uninst.exe" : "Uninst.exe differs from the medium's";
    for (const Packaged &p : gSweep.aPackaged) {
        s = PackagedFileState(t, snap, v, p, false);
        if (!s.empty())
            return s;
    }
    for (const std::string *p : {&gSweep.sLinkStart, &gSweep.sLinkDesktop}) {
        s = LinkState(sMachine, *p);
        if (!s.empty())
            return "link " + *p + ": " + s;
    }
    if (bRemoval) {
        if (left == kOlderFolderAll) {
            s = OlderFolderChanged(t, snap);
            if (!s.empty())
                return "the older folder is not as it was: " + s;
        } else if (FindNoCase(snap, kOldRel) != nullptr &&
                   !(left == kReadOnlyLeft && OnlyReadOnlyLeft(snap))) {
            return left == kReadOnlyLeft ? "the older folder holds more than its read-only files"
                                         : "the older folder is still there";
        }
        for (const std::string *p : {&gSweep.sOldLinkStart, &gSweep.sOldLinkDesktop})
            if (FindNoCase(snap, *p) != nullptr)
                return "the older link " + *p + " is still there";
        if (HasKey(v, std::string(kUninstallArea) + "\\Kalmori6"))
            return "the older uninstall entry is still there";
    }
    return "";
}

// The uninstaller's checks. Its user data: Katalogy\*.kmc and *.sc1 directly in the application folder
// (sRel relative to it, "/" between names), as the uninstaller's own table has them.
bool IsUserDataRel(const std::string &sRel)
{
    std::string s = Lower(sRel);
    auto EndsWith = [&](const char *psz) {
        size_t n = strlen(psz);
        return s.size() > n && s.compare(s.size() - n, n, psz) == 0;
    };
    if (s.find('/') == std::string::npos)
        return EndsWith(".sc1");
    return s.compare(0, 9, "katalogy/") == 0 && s.find('/', 9) == std::string::npos && EndsWith(".kmc");
}

// What of this version is still on the machine after an uninstallation (its entry aside): "" when nothing.
// With the data kept, the user's data (checked by h) may stay.
std::string UninstLeft(const Template &t, const Snapshot &snap)
{
    bool bDelete = t.pScenario->nUninstall == 2;
    for (const Packaged &p : gSweep.aPackaged) {
        std::string sRel = p.sName;
        std::replace(sRel.begin(), sRel.end(), '\\', '/');
        if (!bDelete && IsUserDataRel(sRel))
            continue;
        if (FindNoCase(snap, std::string(kAppRel) + "/" + sRel) != nullptr)
            return p.sName + " is still there";
    }
    if (FindNoCase(snap, std::string(kAppRel) + "/Uninst.exe") != nullptr)
        return "Uninst.exe is still there";
    for (const std::string *p : {&gSweep.sLinkStart, &gSweep.sLinkDesktop})
        if (FindNoCase(snap, *p) != nullptr)
            return "the link " + *p + " is still there";
    if (bDelete)
        for (const std::string &s : t.aData)
            if (FindNoCase(snap, s) != nullptr)
                return "the user's " + s + " is still there";
    return "";
}

// Looks at a machine after a run of the uninstaller and adds what is violated:
//   b  success reported (header 2050) only when the entry and everything of this version are gone;
//   d  nothing changed outside the application folder and the two link paths (CheckForeign);
//   g  what is not this version's in the application folder (a file, a link leading outside) as it was;
//   h  with the data kept, the user's data files byte for byte as they were;
//   i  the entry gone only when everything of this version is (the entry goes last);
// and with sComplete the removal must be complete (else a finding of invariant sComplete).
void CheckUninst(const Template &t, const std::string &sMachine, bool bSuccess, const std::string &sComplete,
                 std::vector<Finding> *pOut, MachineView *pView)
{
    Snapshot snap = TakeSnapshot(sMachine);
    *pView = LookAt(sMachine);
    const MachineView &v = *pView;
    if (v.bOk) {
        bool bEntry = HasKey(v, std::string(kUninstallArea) + "\\Kalmor61");
        std::string sLeft = UninstLeft(t, snap);
        if (bSuccess && (bEntry || !sLeft.empty()))
            pOut->push_back(
                {"b", "success reported, but " +
                          (bEntry ? std::string("the uninstall entry Kalmor61 is still there") : sLeft)});
        if (!bEntry && !sLeft.empty())
            pOut->push_back({"i", "the uninstall entry is gone, but " + sLeft});
        if (!sComplete.empty() && (bEntry || !sLeft.empty()))
            pOut->push_back(
                {sComplete,
                 "incomplete: " +
                     (bEntry ? std::string("the uninstall entry Kalmor61 is still there") : sLeft)});
    }
    CheckForeign(t, snap, v, pOut);
    for (const std::string &s : t.aForeignApp) {
        auto it = snap.find(s);
        auto was = t.snap.find(s);
        if (it == snap.end() || it->second.sDesc != was->second.sDesc) {
            pOut->push_back(
                {"g", s + (it == snap.end() ? " is gone" : " changed (" + it->second.sDesc + ")")});
            break;
        }
    }
    if (t.pScenario->nUninstall == 1)
        for (const std::string &s : t.aData) {
            auto it = snap.find(s);
            auto was = t.snap.find(s);
            if (it == snap.end() || it->second.sDesc != was->second.sDesc) {
                pOut->push_back(
                    {"h", s + (it == snap.end() ? " is lost" : " changed (" + it->second.sDesc + ")")});
                break;
            }
        }
}

// ---------------------------------------------------------------------------------------------------------
// Seeding the machines

// A string value in the registry, in a child process.
bool SeedRegistry(const std::string &sMachine, const std::vector<std::vector<std::string>> &aValues)
{
    pid_t pid = fork();
    if (pid == 0) {
        setenv("PLAT_ROOT", sMachine.c_str(), 1);
        for (const auto &a : aValues) {
            HKEY hRoot = a[0] == "HKCU" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
            HKEY hKey;
            if (RegCreateKeyExA(hRoot, a[1].c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hKey, NULL) !=
                ERROR_SUCCESS)
                _exit(1);
            if (a.size() >= 4 && RegSetValueExA(hKey, a[2].c_str(), 0, REG_SZ, (const BYTE *)a[3].c_str(),
                                                (DWORD)a[3].size() + 1) != ERROR_SUCCESS)
                _exit(1);
            RegCloseKey(hKey);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Deterministic bytes of a given size.
std::string Bytes(size_t n, unsigned nSeed)
{
    std::string s(n, '\0');
    uint32_t x = 2463534242u ^ nSeed;
    for (size_t i = 0; i < n; i++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = (char)(x & 0xff);
    }
    return s;
}

bool SeedFile(const std::string &sMachine, const std::string &sRel, const std::string &sBytes, bool bReadOnly)
{
    std::string sPath = sMachine + "/" + sRel;
    MakeDirs(sPath.substr(0, sPath.rfind('/')));
    if (!WriteAll(sPath, sBytes))
        return false;
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = 1682942400; // 2023-05-01 12:00:00 UTC
    times[0].tv_nsec = times[1].tv_nsec = 0;
    utimensat(AT_FDCWD, sPath.c_str(), times, 0);
    if (bReadOnly)
        chmod(sPath.c_str(), 0444);
    return true;
}

std::string RunSetup(const std::string &sMachine, const std::string &sActions, const std::string &sOut,
                     const std::vector<std::string> &aMore, int *pStatus, bool bUninst = false)
{
    std::vector<std::string> env = gSweep.aEnv;
    env.push_back("PLAT_ROOT=" + sMachine);
    env.push_back("PLAT_UI=script");
    env.push_back("PLAT_SCRIPT=" + sActions);
    for (const std::string &s : aMore)
        env.push_back(s);
    *pStatus = Spawn({bUninst ? gSweep.sUninst : gSweep.sSetup}, env, sOut);
    std::string s;
    ReadAll(sOut, &s);
    return s;
}

// The machine a scenario starts from.
bool MakeTemplate(const Scenario &sc, Template *pT)
{
    pT->pScenario = &sc;
    pT->sMachine = gSweep.sWork + "/template-" + sc.pszName;
    RemoveTree(pT->sMachine);
    if (!LookAt(pT->sMachine, true).bOk) {
        fprintf(stderr, "faultsweep: cannot make the machine %s\n", pT->sMachine.c_str());
        return false;
    }
    const std::string m = pT->sMachine;
    const std::string sUser = "drive_c/users/" + gUser;
    const std::string sPrograms = sUser + "/AppData/Roaming/Microsoft/Windows/Start Menu/Programs";
    // What is not the installer's: files beside its folders and links, a folder whose name begins like the
    // older one's, another program's uninstall entry, settings.
    bool bOk =
        SeedFile(m, sUser + "/Desktop/Other.lnk", "another program's link\n", false) &&
        SeedFile(m, sUser + "/Desktop/Kalmorist 6.1.txt", "a note of the user\n", false) &&
        SeedFile(m, sPrograms + "/Kalmorist Tools.lnk", "another link\n", false) &&
        SeedFile(m, sUser + "/Documents/Moje.kmc", Bytes(3000, 7), false) &&
        SeedFile(m, "drive_c/Program Files/Kalmori6 Extras/Katalogy/Keep.kmc", Bytes(5000, 8), true) &&
        SeedFile(m, "drive_c/Program Files/Kalmori6 Extras/keep.sc1", "extras\n", false) &&
        SeedFile(m, "drive_c/Program Files/Common Files/Kalmori/Shared.kmc", Bytes(2000, 9), false) &&
        SeedRegistry(m, {{"HKLM", "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OtherApp",
                          "DisplayName", "Other application"},
                         {"HKLM", "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kalmori61x",
                          "DisplayName", "Not this one"},
                         {"HKLM", "Software\\Kalmorist\\6.0", "Path", "C:\\Program Files\\Kalmori6"},
                         {"HKCU", "Software\\Kalmorist\\6.0", "LastCatalogue", "StavPrv.kmc"}});
    if (sc.bOlder) {
        struct {
            const char *pszRel;
            size_t nSize;
            bool bReadOnly;
            bool bUser;
        } files[] = {
            {"Kalmori.exe", 40000, false, false},
            {"Uninst.exe", 3000, false, false},
            {"Kalmori.hlp", 9000, true, false},
            {"Katalogy/StavPrv.kmc", 21, false, true}, // the name of a packaged catalogue
            {"Katalogy/Extra.KMC", 0, false, true},
            {"Katalogy/Velky.kmc", 150000, true, true},
            {"Katalogy/TvAgreg.kmc", 120001, true, true}, // read-only, over a packaged one
            {"Katalogy/notes.txt", 100, false, false},
            {"a.sc1", 13, true, true},
            {"Plan.SC1", 102400, false, true},
            {"Prazdny.sc1", 0, true, true},
            {"x.sc1/inside.txt", 50, false, false}, // a folder named like a user file
            {"Data/Sub/info.dat", 700, false, false},
            {"Modely/Stary.gim", 4000, false, false},
        };
        // KAL_SWEEP_OLDER_WRITABLE=1 seeds them all writable: a way to sweep the upgrade when read-only files
        // alone keep the run without faults from succeeding.
        const char *pszWritable = getenv("KAL_SWEEP_OLDER_WRITABLE");
        bool bWritable = pszWritable != nullptr && strcmp(pszWritable, "1") == 0;
        unsigned nSeed = 100;
        for (const auto &f : files) {
            std::string sBytes = Bytes(f.nSize, nSeed++);
            bOk =
                bOk && SeedFile(m, std::string(kOldRel) + "/" + f.pszRel, sBytes, f.bReadOnly && !bWritable);
            if (f.bUser)
                pT->older.aUserFiles.push_back({f.pszRel, HashBytes(sBytes)});
        }
        if (sc.bNested) {
            // One data file of the user two levels down, where the takeover does not look, so that a single
            // fault anywhere on the look's way to it can tell; beside it and elsewhere, names that only look
            // like data. Grafika\Ikony shifts the searches before Katalogy so that, with the installer's
            // calls as they are, the errors rotated onto the look's searches of the older folder, Katalogy
            // and Katalogy\Archiv are "not found" (2, 2, 3).
            struct {
                const char *pszRel;
                size_t nSize;
                bool bReadOnly;
                bool bUser;
            } nested[] = {
                {"Grafika/Ikony/logo.bmp", 300, false, false},
                {"Katalogy/Archiv/stary.kmc", 30000, false, true},
                {"Katalogy/Archiv/stary.kmcx", 80, false, false},
                {"Projekty/Dum/dom.sc1.bak", 4097, false, false},
                {"x.sc1x", 70, false, false},
                {"y.sc1/z.kmc/readme.txt", 90, false, false},
            };
            for (const auto &f : nested) {
                std::string sBytes = Bytes(f.nSize, nSeed++);
                bOk = bOk &&
                      SeedFile(m, std::string(kOldRel) + "/" + f.pszRel, sBytes, f.bReadOnly && !bWritable);
                if (f.bUser)
                    pT->older.aUserFiles.push_back({f.pszRel, HashBytes(sBytes)});
            }
        }
        bOk = bOk && SeedFile(m, gSweep.sOldLinkStart, "older link\n", false) &&
              SeedFile(m, gSweep.sOldLinkDesktop, "older link\n", false) &&
              SeedRegistry(m, {{"HKLM", "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kalmori6",
                                "DisplayName", "Kalmorist 6.0"},
                               {"HKLM", "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kalmori6",
                                "UninstallString", "C:\\Program Files\\Kalmori6\\Uninst.exe"}});
    }
    if (bOk && sc.bKept) {
        // What an uninstallation that kept the data leaves: catalogues (two of them under packaged names, one
        // read-only) and a .sc1 file in the application folder, and no entry.
        struct {
            const char *pszRel;
            size_t nSize;
            bool bReadOnly;
        } files[] = {
            {"Katalogy/TvAgreg.kmc", 9000, true},
            {"Katalogy/StavPrv.kmc", 21, false},
            {"Katalogy/Mine.kmc", 4000, false},
            {"Plan.sc1", 6000, false},
        };
        unsigned nSeed = 200;
        for (const auto &f : files) {
            std::string sBytes = Bytes(f.nSize, nSeed++);
            bOk = bOk && SeedFile(m, std::string(kAppRel) + "/" + f.pszRel, sBytes, f.bReadOnly);
            pT->kept.aUserFiles.push_back({f.pszRel, HashBytes(sBytes)});
        }
    }
    if (bOk && sc.bInstalled) {
        int status;
        std::string sOut = RunSetup(m, "next cancel", gSweep.sWork + "/template-install.out", {}, &status);
        bOk = status == 0 && ReportOf(sOut) == gSweep.sSuccessReport;
    }
    if (bOk && sc.nUninstall != 0) {
        // The user's data beside the installed catalogues; what is not the installer's in its folder (a
        // note, a file whose short name looks like a catalogue's, a link under a name of its own leading
        // outside); a link under an installed name leading outside; and the folder the links lead to.
        const std::string a = std::string(kAppRel) + "/";
        bOk = SeedFile(m, a + "Plan.sc1", Bytes(6000, 11), false) &&
              SeedFile(m, a + "Katalogy/Mine.kmc", Bytes(4000, 12), true) &&
              SeedFile(m, a + "Poznamky.txt", "a note of the user\n", false) &&
              SeedFile(m, a + "Katalogy/Mine.kmcx", "not a catalogue\n", false) &&
              SeedFile(m, "drive_c/Sentinel/Cil.dat", Bytes(3000, 13), false) &&
              SeedFile(m, "drive_c/Sentinel/Stul.gim", Bytes(2000, 14), true) &&
              SeedFile(m, "drive_c/Sentinel/Sub/Jiny.kmc", Bytes(100, 15), false) &&
              symlink("../../../Sentinel/Cil.dat", (m + "/" + a + "Modely/Odkaz.gim").c_str()) == 0 &&
              unlink((m + "/" + a + "Modely/Stul.gim").c_str()) == 0 &&
              symlink("../../../Sentinel/Stul.gim", (m + "/" + a + "Modely/Stul.gim").c_str()) == 0;
    }
    if (!bOk) {
        fprintf(stderr, "faultsweep: cannot seed the machine of %s\n", sc.pszName);
        return false;
    }
    pT->snap = TakeSnapshot(m);
    pT->aForeignReg = ForeignRegistry(LookAt(m));
    if (sc.nUninstall != 0) {
        std::string sPrefix = std::string(kAppRel) + "/";
        for (const auto &kv : pT->snap) {
            if (kv.first.compare(0, sPrefix.size(), sPrefix) != 0)
                continue;
            std::string sRel = kv.first.substr(sPrefix.size());
            bool bOwn = Lower(sRel) == "uninst.exe" || Lower(sRel) == "katalogy" || Lower(sRel) == "modely";
            for (const Packaged &p : gSweep.aPackaged) {
                std::string sName = p.sName;
                std::replace(sName.begin(), sName.end(), '\\', '/');
                bOwn = bOwn || Lower(sName) == Lower(sRel);
            }
            if (kv.second.cKind == 'F' && IsUserDataRel(sRel))
                pT->aData.push_back(kv.first);
            else if (!bOwn)
                pT->aForeignApp.push_back(kv.first);
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------------------
// The sweep

struct TraceLine {
    unsigned long n = 0;
    std::string sCall, sPath, sResult;
};

std::vector<TraceLine> ReadTrace(const std::string &sPath)
{
    std::string s;
    std::vector<TraceLine> a;
    if (!ReadAll(sPath, &s))
        return a;
    for (const std::string &sLine : Split(s, '\n')) {
        std::vector<std::string> f = Split(sLine, '\t');
        if (f.size() < 4)
            continue;
        TraceLine t;
        t.n = strtoul(f[0].c_str(), nullptr, 10);
        t.sCall = f[1];
        t.sPath = f[2];
        t.sResult = f[3];
        a.push_back(t);
    }
    std::sort(a.begin(), a.end(), [](const TraceLine &x, const TraceLine &y) { return x.n < y.n; });
    return a;
}

// The errors a call can give, in the order the sweep rotates through them.
const std::vector<unsigned> &ErrorsOf(const std::string &sCall)
{
    static const std::map<std::string, std::vector<unsigned>> kErrors = {
        {"CreateFileA", {5, 32, 112, 2, 3, 1450, 206, 87}},
        {"ReadFile", {23, 1450, 33, 5, 38}},
        {"WriteFile", {112, 1450, 33, 23, 5}},
        {"CloseHandle", {112, 1450, 6}},
        {"GetFileSize", {5, 1450, 6}},
        {"GetFileTime", {5, 1450, 6}},
        {"SetFileTime", {5, 87, 1450, 112}},
        {"GetFileAttributesA", {2, 3, 5, 32, 1450}},
        {"SetFileAttributesA", {5, 2, 32, 87, 1450}},
        {"CopyFileA", {5, 32, 112, 2, 3, 1450, 87}},
        {"MoveFileA", {5, 32, 183, 2, 3, 17, 112}},
        {"DeleteFileA", {5, 32, 2, 3, 1450}},
        {"CreateDirectoryA", {5, 183, 3, 112, 1450}},
        {"RemoveDirectoryA", {5, 32, 145, 2, 3}},
        {"FindFirstFileA", {5, 2, 3, 1450, 32}},
        {"FindNextFileA", {1450, 5, 59}},
        {"FindClose", {6, 1450}},
        {"RegOpenKeyExA", {5, 2, 1016, 1011, 1450}},
        {"RegCreateKeyExA", {5, 1016, 1010, 1450, 112}},
        {"RegSetValueExA", {5, 1016, 112, 1450}},
        {"RegDeleteValueA", {5, 2, 1016}},
        {"RegDeleteKeyA", {5, 2, 1016, 1018}},
        {"RegQueryValueExA", {5, 2, 1016, 1450}},
        {"RegQueryInfoKeyA", {5, 1016, 1450}},
        {"RegEnumKeyExA", {5, 1016, 1450}},
        {"RegEnumValueA", {5, 1016, 1450}},
        {"RegCloseKey", {6, 1016}},
    };
    static const std::vector<unsigned> kOther = {5, 1450, 31, 87};
    auto it = kErrors.find(sCall);
    return it != kErrors.end() ? it->second : kOther;
}

struct Result {
    unsigned long n = 0;
    bool bInjected = false, bCut = false;
    std::vector<std::string> aViolations; // whole lines
    std::vector<std::string> aNotes;
};

// Keeps a machine for a look (KAL_SWEEP_KEEP): a copy in KEEP/NAME, with the runs' transcripts and trace
// beside it (NAME.run.out, NAME.rerun.out, NAME.trace) when sRunDir holds them.
std::string KeepMachine(const std::string &sMachine, const std::string &sName,
                        const std::string &sRunDir = "")
{
    if (gSweep.sKeep.empty())
        return "";
    std::string sTo = gSweep.sKeep + "/" + sName;
    RemoveTree(sTo);
    MakeDirs(gSweep.sKeep);
    CopyTree(sMachine, sTo);
    if (!sRunDir.empty())
        for (const char *psz : {"run.out", "rerun.out", "trace"})
            CopyTree(sRunDir + "/" + psz, sTo + "." + psz);
    return sTo;
}

// Looks at a machine after a run and adds what is violated.
// With sComplete, the installation must be complete (else a finding of invariant sComplete).
void CheckMachine(const Template &t, const std::string &sMachine, const std::string &sComplete, bool bRemoval,
                  std::vector<Finding> *pOut, MachineView *pView, bool bReplaced = false,
                  OlderLeft left = kOlderGone)
{
    Snapshot snap = TakeSnapshot(sMachine);
    *pView = LookAt(sMachine);
    if (!sComplete.empty()) {
        std::string s = Incomplete(t, sMachine, snap, *pView, bRemoval, left);
        if (!s.empty())
            pOut->push_back({sComplete, (sComplete == "b" ? "success reported, but " : "incomplete: ") + s});
        // A run without faults also writes the values that only inform; under a fault they may be missing.
        if (s.empty() && sComplete == "f") {
            s = EntryInfoWrong(*pView);
            if (!s.empty())
                pOut->push_back({"f", "the entry's information: " + s});
        }
    }
    CheckFiles(t, snap, *pView, pOut);
    CheckForeign(t, snap, *pView, pOut);
    CheckUserData(t, snap, bReplaced, pOut);
}

// Whether the uninstaller's report is its success report: header 2050, with or without notices.
bool UninstSuccess(const std::string &sReport)
{
    return !gSweep.sUnDone.empty() && sReport.compare(0, gSweep.sUnDone.size(), gSweep.sUnDone) == 0;
}

// The uninstaller's run again without faults: the same actions while the entry is there, else "next
// cancel" (the uninstaller finds nothing). Adds the findings of f and of the other checks after it.
void UninstRunAgain(const Template &t, const std::string &sMachine, const std::string &sOutFile,
                    const MachineView &vBefore, std::string *psActions, std::vector<Finding> *pOut)
{
    bool bEntry = HasKey(vBefore, std::string(kUninstallArea) + "\\Kalmor61");
    *psActions = bEntry ? t.pScenario->pszActions : "next cancel";
    int status;
    std::string sOut = RunSetup(sMachine, *psActions, sOutFile, {}, &status, true);
    if (status != 0)
        pOut->push_back({"f", "the run again ended with " + StatusText(status)});
    std::string sReport = ReportOf(sOut);
    if (bEntry ? !UninstSuccess(sReport) : sReport != gSweep.sUnNothing) {
        std::string s = sReport;
        std::replace(s.begin(), s.end(), '\n', ' ');
        pOut->push_back({"f", "reported: " + (s.empty() ? std::string("nothing") : Cap(s, 240))});
    }
    MachineView v;
    CheckUninst(t, sMachine, false, "f", pOut, &v);
}

// One run of the sweep: fault or cut at call N, the checks, the run again, the checks.
Result SweepOne(const Template &t, const std::string &sRunDir, bool bCutMode, const TraceLine &call,
                unsigned nError)
{
    Result r;
    const bool bUninst = t.pScenario->nUninstall != 0;
    r.n = call.n;
    const Scenario &sc = *t.pScenario;
    std::string sMachine = sRunDir + "/machine";
    RemoveTree(sMachine);
    CopyTree(t.sMachine, sMachine);
    std::string sTrace = sRunDir + "/trace";
    unlink(sTrace.c_str());
    std::vector<std::string> more = {"PLAT_FAULT_TRACE=" + sTrace};
    if (bCutMode)
        more.push_back("PLAT_FAULT_CUT=" + std::to_string(call.n));
    else
        more.push_back("PLAT_FAULT_AT=" + std::to_string(call.n) + " " + std::to_string(nError));
    int status;
    std::string sOut = RunSetup(sMachine, sc.pszActions, sRunDir + "/run.out", more, &status, bUninst);
    std::string sWhat = bCutMode ? "cut" : "error " + std::to_string(nError);
    std::string sHead = std::string(sc.pszName) + " " + (bCutMode ? "cut" : "fault") +
                        " N=" + std::to_string(call.n) + " " + call.sCall + " " + call.sPath + " " + sWhat +
                        ": ";

    // Did the switch act at the call the first run numbered N?
    for (const TraceLine &l : ReadTrace(sTrace)) {
        if (l.n != call.n)
            continue;
        if (l.sResult.compare(0, 8, "injected") == 0)
            r.bInjected = true;
        if (l.sResult == "cut")
            r.bCut = true;
        if (l.sCall != call.sCall || l.sPath != call.sPath)
            r.aNotes.push_back(sHead + "note: call N is " + l.sCall + " " + l.sPath + " in this run");
    }
    if (bCutMode && !r.bCut && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        r.bCut = true;

    std::vector<Finding> found;
    bool bSuccess = false, bRemoval = false, bDataLeft = false;
    if (!bCutMode) {
        if (status != 0)
            found.push_back({"a", std::string(bUninst ? "the uninstaller" : "the installer") +
                                      " ended with " + StatusText(status)});
        if (sOut.find("Assertion failed") != std::string::npos)
            found.push_back({"a", "assertion: " + sOut.substr(sOut.find("Assertion failed"), 120)});
        bSuccess = ReportOf(sOut) == gSweep.sSuccessReport;
        // Removal is expected only when the user saw the upgrade page with its box on: a failed look at the
        // registry at the start may leave the page out, and the older version stays as with the box off.
        bRemoval = sc.bRemoval && RemovalChosen(sOut);
        // Warning 1084 alone: everything is done but the older folder, which stays as it was.
        bDataLeft = bRemoval && ReportOf(sOut) == gSweep.sDataLeftReport;
    } else if (!r.bCut) {
        r.aNotes.push_back(sHead + "note: the run was not cut (" + StatusText(status) + ")");
    }
    MachineView v;
    if (bUninst)
        CheckUninst(t, sMachine, !bCutMode && UninstSuccess(ReportOf(sOut)), "", &found, &v);
    else
        CheckMachine(t, sMachine, bSuccess || bDataLeft ? "b" : "", bRemoval, &found, &v, false,
                     bDataLeft ? kOlderFolderAll : kOlderGone);
    std::string sName = std::string(sc.pszName) + (bCutMode ? "-cut-" : "-fault-") + std::to_string(call.n);
    std::string sKept, sAfterRun = sRunDir + "/after-run";
    RemoveTree(sAfterRun);
    RemoveTree(sRunDir + "/rerun.out");
    if (!found.empty())
        sKept = KeepMachine(sMachine, sName + "-after-run", sRunDir);
    else if (!gSweep.sKeep.empty())
        CopyTree(sMachine, sAfterRun); // kept if the run again goes wrong
    for (const Finding &f : found)
        r.aViolations.push_back(sHead + f.sInvariant + " after the run: " + f.sDetail);

    // f: the run again, without faults, on what is left.
    std::string sActions = "next cancel";
    bRemoval = false;
    std::vector<Finding> again;
    if (bUninst)
        UninstRunAgain(t, sMachine, sRunDir + "/rerun.out", v, &sActions, &again);
    else if (HasKey(v, std::string(kUninstallArea) + "\\Kalmor61")) {
        sActions = "next check next cancel";
    } else if (HasKey(v, std::string(kUninstallArea) + "\\Kalmori6")) {
        sActions = "next next cancel";
        bRemoval = true;
    }
    if (!bUninst) {
        sOut = RunSetup(sMachine, sActions, sRunDir + "/rerun.out", {}, &status);
        bRemoval = bRemoval && RemovalChosen(sOut);
        if (status != 0)
            again.push_back({"f", "the run again ended with " + StatusText(status)});
        std::string sReport = ReportOf(sOut);
        OlderLeft left;
        if (!SuccessReport(t, sReport, bRemoval, &left)) {
            std::string s = sReport;
            std::replace(s.begin(), s.end(), '\n', ' ');
            again.push_back({"f", "reported: " + (s.empty() ? std::string("nothing") : Cap(s, 240))});
        }
        CheckMachine(t, sMachine, "f", bRemoval, &again, &v, sActions == "next check next cancel", left);
    }
    if (!again.empty()) {
        if (sKept.empty() && !gSweep.sKeep.empty())
            KeepMachine(sAfterRun, sName + "-after-run");
        std::string s = KeepMachine(sMachine, sName + "-after-rerun", sRunDir);
        if (!s.empty())
            sKept = s;
    }
    RemoveTree(sAfterRun);
    for (const Finding &f : again)
        r.aViolations.push_back(sHead + f.sInvariant + " after the run again (" + sActions +
                                "): " + f.sDetail);
    if (!sKept.empty() && !r.aViolations.empty())
        r.aViolations.back() += " [kept: " + sKept + "]";
    return r;
}

std::string Escape(const std::string &s)
{
    std::string r;
    for (char c : s)
        r += c == '\n' ? ' ' : c;
    return r;
}

struct Tally {
    unsigned long nRuns = 0, nInjected = 0, nCut = 0, nPlanned = 0;
    std::set<std::string> bad; // runs with a violation, "fault N" or "cut N"
    std::vector<std::string> aViolations, aNotes;
};

// Sweeps one scenario in one mode over the chosen calls, adding to the tally.
void SweepScenario(const Template &t, const std::vector<TraceLine> &aCalls, bool bCutMode, int nStride,
                   Tally *pTally)
{
    std::vector<std::pair<TraceLine, unsigned>> work; // the call and the error it is to fail with
    std::map<std::string, size_t> seen;
    for (size_t i = 0; i < aCalls.size(); i++) {
        const TraceLine &c = aCalls[i];
        const std::vector<unsigned> &errors = ErrorsOf(c.sCall);
        bool bFirst = seen[c.sCall] == 0;
        unsigned nError = errors[seen[c.sCall]++ % errors.size()];
        bool bChosen = gSweep.nOnly != 0
                           ? c.n == gSweep.nOnly
                           : (c.n - 1) % (unsigned long)nStride == 0 || (gSweep.bFirstOfEach && bFirst);
        if (!bChosen)
            continue;
        work.push_back({c, nError});
    }
    int nJobs = std::max(1, std::min(gSweep.nJobs, (int)work.size()));
    std::vector<pid_t> pids;
    std::vector<std::string> outs;
    for (int j = 0; j < nJobs; j++) {
        std::string sRunDir = gSweep.sWork + "/job" + std::to_string(j);
        MakeDirs(sRunDir);
        std::string sResults = sRunDir + "/results";
        outs.push_back(sResults);
        pid_t pid = fork();
        if (pid == 0) {
            gnChildren = 0;
            FILE *f = fopen(sResults.c_str(), "w");
            for (size_t i = (size_t)j; i < work.size(); i += (size_t)nJobs) {
                Result r = SweepOne(t, sRunDir, bCutMode, work[i].first, work[i].second);
                fprintf(f, "R\t%lu\t%d\t%d\n", r.n, r.bInjected ? 1 : 0, r.bCut ? 1 : 0);
                for (const std::string &s : r.aViolations)
                    fprintf(f, "V\t%lu\t%s\n", r.n, Escape(s).c_str());
                for (const std::string &s : r.aNotes)
                    fprintf(f, "N\t%lu\t%s\n", r.n, Escape(s).c_str());
                fflush(f);
            }
            fclose(f);
            RemoveTree(sRunDir + "/machine");
            _exit(0);
        }
        pids.push_back(pid);
        if (pid > 0 && gnChildren < 64)
            gaChildren[gnChildren++] = pid;
    }
    for (pid_t pid : pids) {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    gnChildren = 0;
    std::vector<std::pair<unsigned long, std::string>> violations, notes;
    const char *pszMode = bCutMode ? "cut" : "fault";
    for (const std::string &sFile : outs) {
        std::string s;
        ReadAll(sFile, &s);
        for (const std::string &sLine : Split(s, '\n')) {
            std::vector<std::string> f = Split(sLine, '\t');
            if (f.size() < 3)
                continue;
            unsigned long n = strtoul(f[1].c_str(), nullptr, 10);
            if (f[0] == "R") {
                pTally->nRuns++;
                pTally->nInjected += f[2] == "1";
                pTally->nCut += f.size() > 3 && f[3] == "1";
            } else if (f[0] == "V") {
                violations.push_back({n, sLine.substr(f[0].size() + f[1].size() + 2)});
                pTally->bad.insert(std::string(pszMode) + " " + f[1]);
            } else if (f[0] == "N") {
                notes.push_back({n, sLine.substr(f[0].size() + f[1].size() + 2)});
            }
        }
    }
    auto ByN = [](const std::pair<unsigned long, std::string> &a,
                  const std::pair<unsigned long, std::string> &b) { return a.first < b.first; };
    std::stable_sort(violations.begin(), violations.end(), ByN);
    std::stable_sort(notes.begin(), notes.end(), ByN);
    for (const auto &v : violations)
        pTally->aViolations.push_back(v.second);
    for (const auto &v : notes)
        pTally->aNotes.push_back(v.second);
    pTally->nPlanned += work.size();
}

// Prints whether the checks caught a spoilt machine by the invariant wanted, with all they found; true when
// they did.
static bool ReportSpoil(const char *pszWhat, const char *pszInvariant, const std::vector<Finding> &found)
{
    std::string sGot;
    bool bCaught = false;
    for (const Finding &f : found) {
        sGot += " " + f.sInvariant + ": " + f.sDetail + ";";
        bCaught = bCaught || f.sInvariant == pszInvariant;
    }
    printf("self-test: %s: %s (%s wanted)%s\n", pszWhat, bCaught ? "caught" : "MISSED", pszInvariant,
           sGot.c_str());
    return bCaught;
}

// The checker's own test: a machine after a run without faults passes; spoilt in each of the ways below it
// must give a finding of the invariant named. Returns the number of spoilings not caught, or -1.
int SelfTest()
{
    const Scenario *pSc = nullptr;
    for (const Scenario &sc : kScenarios)
        if (strcmp(sc.pszName, "upgrade-keep") == 0)
            pSc = &sc;
    Template t;
    if (!MakeTemplate(*pSc, &t))
        return -1;
    std::string sDone = gSweep.sWork + "/self-done", sMachine = gSweep.sWork + "/self";
    CopyTree(t.sMachine, sDone);
    int status;
    std::string sOut = RunSetup(sDone, pSc->pszActions, gSweep.sWork + "/self.out", {}, &status);
    std::vector<Finding> found;
    MachineView v;
    CheckMachine(t, sDone, "b", false, &found, &v);
    if (status != 0 || ReportOf(sOut) != gSweep.sSuccessReport || !found.empty()) {
        printf("self-test: the run without faults does not pass (%s)%s%s\n", StatusText(status).c_str(),
               found.empty() ? "" : ": ", found.empty() ? "" : found[0].sDetail.c_str());
        return -1;
    }
    const std::string sUser = "drive_c/users/" + gUser;
    struct Spoil {
        const char *pszWhat;
        const char *pszInvariant;
        std::function<void(const std::string &)> spoil;
    } spoils[] = {
        {"another program's link deleted", "d",
         [&](const std::string &m) { unlink((m + "/" + sUser + "/Desktop/Other.lnk").c_str()); }},
        {"a file beside the older folder changed", "d",
         [&](const std::string &m) {
             WriteAll(m + "/drive_c/Program Files/Kalmori6 Extras/keep.sc1", "changed\n");
         }},
        {"a file in the temp folder left", "d",
         [&](const std::string &m) { WriteAll(m + "/" + sUser + "/AppData/Local/Temp/kal1.tmp", "x"); }},
        {"a registry value of the user changed", "d",
         [&](const std::string &m) {
             SeedRegistry(m, {{"HKCU", "Software\\Kalmorist\\6.0", "LastCatalogue", "x"}});
         }},
        {"another uninstall entry given a value", "d",
         [&](const std::string &m) {
             SeedRegistry(m, {{"HKLM", "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\OtherApp",
                               "X", "y"}});
         }},
        {"a packaged file cut short", "c",
         [&](const std::string &m) { truncate((m + "/" + kAppRel + "/Modely/Stul.gim").c_str(), 100); }},
        {"a packaged file's read-only bit lost", "c",
         [&](const std::string &m) { chmod((m + "/" + kAppRel + "/Kalmori.hlp").c_str(), 0644); }},
        {"a packaged file's time changed", "c",
         [&](const std::string &m) {
             struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
             utimensat(AT_FDCWD, (m + "/" + kAppRel + "/Trevan.lgo").c_str(), times, 0);
         }},
        {"a link missing", "b",
         [&](const std::string &m) { unlink((m + "/" + gSweep.sLinkDesktop).c_str()); }},
        {"a link cut short", "b",
         [&](const std::string &m) { truncate((m + "/" + gSweep.sLinkStart).c_str(), 100); }},
        {"the uninstaller missing", "b",
         [&](const std::string &m) { unlink((m + "/" + kAppRel + "/Uninst.exe").c_str()); }},
        {"the display name wrong", "b",
         [&](const std::string &m) {
             SeedRegistry(m, {{"HKLM", "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kalmor61",
                               "DisplayName", "Kalmorist"}});
         }},
        {"a user catalogue lost from both folders", "e",
         [&](const std::string &m) {
             unlink((m + "/" + kOldRel + "/Katalogy/Velky.kmc").c_str());
             unlink((m + "/" + kAppRel + "/Katalogy/Velky.kmc").c_str());
         }},
        {"a user file cut short in the new folder, gone from the older", "e",
         [&](const std::string &m) {
             unlink((m + "/" + kOldRel + "/Plan.SC1").c_str());
             truncate((m + "/" + kAppRel + "/Plan.SC1").c_str(), 10);
         }},
    };
    int nMissed = 0;
    for (const Spoil &sp : spoils) {
        RemoveTree(sMachine);
        CopyTree(sDone, sMachine);
        sp.spoil(sMachine);
        found.clear();
        CheckMachine(t, sMachine, "b", false, &found, &v);
        nMissed += ReportSpoil(sp.pszWhat, sp.pszInvariant, found) ? 0 : 1;
    }
    RemoveTree(sMachine);
    RemoveTree(sDone);
    RemoveTree(t.sMachine);

    // The older folder kept for the user's data deeper in it: an upgrade without faults passes; spoilt, it
    // must be caught.
    for (const Scenario &sc : kScenarios)
        if (strcmp(sc.pszName, "upgrade-nested-data") == 0)
            pSc = &sc;
    Template n;
    if (!MakeTemplate(*pSc, &n))
        return -1;
    CopyTree(n.sMachine, sDone);
    sOut = RunSetup(sDone, pSc->pszActions, gSweep.sWork + "/self.out", {}, &status);
    found.clear();
    CheckMachine(n, sDone, "b", true, &found, &v, false, kOlderFolderAll);
    if (status != 0 || ReportOf(sOut) != gSweep.sDataLeftReport || !found.empty()) {
        printf("self-test: the upgrade with nested data without faults does not pass (%s)%s%s\n",
               StatusText(status).c_str(), found.empty() ? "" : ": ",
               found.empty() ? "" : found[0].sDetail.c_str());
        return -1;
    }
    Spoil nspoils[] = {
        {"nested data: a user catalogue deep in the older folder lost", "e",
         [&](const std::string &m) { unlink((m + "/" + kOldRel + "/Katalogy/Archiv/stary.kmc").c_str()); }},
        {"nested data: a file of the older folder kept whole deleted", "b",
         [&](const std::string &m) { unlink((m + "/" + kOldRel + "/Kalmori.exe").c_str()); }},
    };
    for (const Spoil &sp : nspoils) {
        RemoveTree(sMachine);
        CopyTree(sDone, sMachine);
        sp.spoil(sMachine);
        found.clear();
        CheckMachine(n, sMachine, "b", true, &found, &v, false, kOlderFolderAll);
        nMissed += ReportSpoil(sp.pszWhat, sp.pszInvariant, found) ? 0 : 1;
    }
    RemoveTree(sMachine);
    RemoveTree(sDone);
    RemoveTree(n.sMachine);

    // The uninstaller's checks: an uninstallation with the data kept, without faults, passes; spoilt, it
    // must be caught.
    for (const Scenario &sc : kScenarios)
        if (strcmp(sc.pszName, "uninstall-keep") == 0)
            pSc = &sc;
    Template u;
    if (!MakeTemplate(*pSc, &u))
        return -1;
    CopyTree(u.sMachine, sDone);
    sOut = RunSetup(sDone, pSc->pszActions, gSweep.sWork + "/self.out", {}, &status, true);
    found.clear();
    CheckUninst(u, sDone, true, "f", &found, &v);
    if (status != 0 || !UninstSuccess(ReportOf(sOut)) || !found.empty()) {
        printf("self-test: the uninstallation without faults does not pass (%s)%s%s\n",
               StatusText(status).c_str(), found.empty() ? "" : ": ",
               found.empty() ? "" : found[0].sDetail.c_str());
        return -1;
    }
    const std::string a = std::string(kAppRel) + "/";
    Spoil uspoils[] = {
        {"uninstall: a kept user catalogue deleted", "h",
         [&](const std::string &m) { unlink((m + "/" + a + "Katalogy/Mine.kmc").c_str()); }},
        {"uninstall: a kept .sc1 file changed", "h",
         [&](const std::string &m) { WriteAll(m + "/" + a + "Plan.sc1", "changed\n"); }},
        {"uninstall: a sentinel file outside deleted", "d",
         [&](const std::string &m) { unlink((m + "/drive_c/Sentinel/Stul.gim").c_str()); }},
        {"uninstall: a foreign file in the application folder deleted", "g",
         [&](const std::string &m) { unlink((m + "/" + a + "Katalogy/Mine.kmcx").c_str()); }},
        {"uninstall: a foreign link in the application folder deleted", "g",
         [&](const std::string &m) { unlink((m + "/" + a + "Modely/Odkaz.gim").c_str()); }},
        {"uninstall: an installed file left, success reported", "b",
         [&](const std::string &m) { WriteAll(m + "/" + a + "Modely/Zidle.gim", "left\n"); }},
        {"uninstall: Uninst.exe left, the entry gone", "i",
         [&](const std::string &m) { WriteAll(m + "/" + a + "Uninst.exe", "left\n"); }},
        {"uninstall: a link left, the entry gone", "i",
         [&](const std::string &m) { WriteAll(m + "/" + gSweep.sLinkDesktop, "left\n"); }},
        {"uninstall: the entry left, success reported", "b",
         [&](const std::string &m) {
             SeedRegistry(m, {{"HKLM", "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kalmor61",
                               "DisplayName", "Kalmorist 6.1"}});
         }},
    };
    for (const Spoil &sp : uspoils) {
        RemoveTree(sMachine);
        CopyTree(sDone, sMachine);
        sp.spoil(sMachine);
        found.clear();
        CheckUninst(u, sMachine, true, "", &found, &v);
        nMissed += ReportSpoil(sp.pszWhat, sp.pszInvariant, found) ? 0 : 1;
    }
    RemoveTree(sMachine);
    RemoveTree(sDone);
    RemoveTree(u.sMachine);
    return nMissed;
}

// Where the machines are made: KAL_SWEEP_DIR, else memory (/dev/shm) when it keeps extended attributes and
// has 200 MB free (the machines take some 40 MB), else TMPDIR or /tmp. On a disk every registry change
// waits for the disk (the registry commits each change with a full sync), which makes a run several times
// as long.
std::string WorkBase()
{
    const char *p = getenv("KAL_SWEEP_DIR");
    if (p != nullptr && *p)
        return p;
    std::string sProbe = "/dev/shm/faultsweep-probe." + std::to_string(getpid());
    int fd = open(sProbe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
        bool bXattr = fsetxattr(fd, "user.probe", "1", 1, 0) == 0;
        close(fd);
        unlink(sProbe.c_str());
        struct statvfs vfs;
        bool bRoom =
            statvfs("/dev/shm", &vfs) == 0 && (uint64_t)vfs.f_bavail * vfs.f_frsize >= (200ull << 20);
        if (bXattr && bRoom)
            return "/dev/shm";
    }
    p = getenv("TMPDIR");
    return p != nullptr && *p ? p : "/tmp";
}

// An interrupted sweep (Ctrl+C, a test's time limit) ends its runs and removes its machines: the main
// process kills its jobs, each job the program it waits for.
char gszWork[PATH_MAX];
pid_t gMainPid;

void OnSignal(int nSignal)
{
    signal(nSignal, SIG_IGN);
    for (int i = 0; i < gnChildren; i++)
        if (gaChildren[i] > 0)
            kill(gaChildren[i], getpid() == gMainPid ? SIGTERM : SIGKILL);
    for (int i = 0; i < gnChildren; i++)
        if (gaChildren[i] > 0)
            while (waitpid(gaChildren[i], nullptr, 0) < 0 && errno == EINTR) {
            }
    if (getpid() == gMainPid) {
        if (gszWork[0] != '\0')
            RemoveTree(gszWork);
    }
    _exit(128 + nSignal);
}

int Usage()
{
    fprintf(stderr,
            "usage: faultsweep [--jobs J] [--stride K | --sample K] [--mode fault|cut|both] [--only N] "
            "[--keep DIR] BUILD [SCENARIO...]\n       faultsweep --self-test BUILD\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    Sweep &g = gSweep;
    if (const char *p = getenv("KAL_SWEEP_JOBS"))
        g.nJobs = atoi(p);
    if (const char *p = getenv("KAL_SWEEP_STRIDE"))
        g.nStride = atoi(p);
    if (const char *p = getenv("KAL_SWEEP_SAMPLE")) {
        g.nStride = atoi(p);
        g.bFirstOfEach = true;
    }
    if (const char *p = getenv("KAL_SWEEP_KEEP"))
        g.sKeep = p;
    std::string sMode = getenv("KAL_SWEEP_MODE") ? getenv("KAL_SWEEP_MODE") : "both";
    std::vector<std::string> aArgs;
    bool bSelfTest = false;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if ((a == "--jobs" || a == "--stride" || a == "--sample" || a == "--mode" || a == "--only" ||
             a == "--keep") &&
            i + 1 < argc) {
            std::string v = argv[++i];
            if (a == "--jobs")
                g.nJobs = atoi(v.c_str());
            else if (a == "--stride" || a == "--sample") {
                g.nStride = atoi(v.c_str());
                g.bFirstOfEach = a == "--sample";
            } else if (a == "--mode")
                sMode = v;
            else if (a == "--only")
                g.nOnly = strtoul(v.c_str(), nullptr, 10);
            else
                g.sKeep = v;
        } else if (a == "--self-test") {
            bSelfTest = true;
        } else if (a.compare(0, 2, "--") == 0) {
            return Usage();
        } else {
            aArgs.push_back(a);
        }
    }
    if (aArgs.empty() || g.nJobs < 1 || g.nStride < 0 ||
        (sMode != "fault" && sMode != "cut" && sMode != "both"))
        return Usage();
    g.bFault = sMode != "cut";
    g.bCut = sMode != "fault";
    char szReal[PATH_MAX];
    if (realpath(aArgs[0].c_str(), szReal) == nullptr) {
        fprintf(stderr, "faultsweep: no build folder %s\n", aArgs[0].c_str());
        return 2;
    }
    g.sBuild = szReal;
    std::vector<const Scenario *> aScenarios;
    for (size_t i = 1; i < aArgs.size(); i++) {
        const Scenario *p = nullptr;
        for (const Scenario &s : kScenarios)
            if (aArgs[i] == s.pszName)
                p = &s;
        if (p == nullptr) {
            fprintf(stderr, "faultsweep: no scenario %s (", aArgs[i].c_str());
            for (const Scenario &s : kScenarios)
                fprintf(stderr, "%s%s", &s == kScenarios ? "" : ", ", s.pszName);
            fprintf(stderr, ")\n");
            return 2;
        }
        aScenarios.push_back(p);
    }
    if (aScenarios.empty())
        for (const Scenario &s : kScenarios)
            aScenarios.push_back(&s);

    struct passwd *pw = getpwuid(geteuid());
    gUser = pw != nullptr && pw->pw_name != nullptr ? pw->pw_name : "user";
    const std::string sUser = "drive_c/users/" + gUser;
    g.sLinkDesktop = sUser + "/Desktop/Kalmorist 6.1.lnk";
    g.sLinkStart = sUser + "/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Kalmorist 6.1.lnk";
    g.sOldLinkDesktop = sUser + "/Desktop/Kalmorist 6.0.lnk";
    g.sOldLinkStart = sUser + "/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Kalmorist 6.0.lnk";
    g.aEnv = BaseEnv();

    std::string sBase = WorkBase();
    std::string sWork = sBase + "/faultsweep.XXXXXX";
    std::vector<char> work(sWork.begin(), sWork.end());
    work.push_back('\0');
    if (mkdtemp(work.data()) == nullptr) {
        fprintf(stderr, "faultsweep: cannot make a work folder in %s\n", sBase.c_str());
        return 2;
    }
    g.sWork = work.data();
    gMainPid = getpid();
    snprintf(gszWork, sizeof gszWork, "%s", g.sWork.c_str());
    for (int nSignal : {SIGINT, SIGTERM, SIGHUP})
        signal(nSignal, OnSignal);
    printf("faultsweep: machines in %s, %d jobs\n", g.sWork.c_str(), g.nJobs);

    // The medium, copied once: the installer, its package and the uninstaller.
    g.sMedium = g.sWork + "/medium";
    if (!CopyTree(g.sBuild + "/medium", g.sMedium)) {
        fprintf(stderr, "faultsweep: no medium in %s/medium\n", g.sBuild.c_str());
        RemoveTree(g.sWork);
        return 2;
    }
    g.sSetup = g.sMedium + "/setup";
    g.sUninst = g.sMedium + "/Uninst.exe"; // from the medium it works in place, in one process
    g.sUninstHash = HashFile(g.sMedium + "/Uninst.exe");

    // The packaged files: names from the sample list, attributes and times from the package's own list,
    // bytes from the samples.
    std::string sList, sPkgList;
    std::vector<std::string> env = g.aEnv;
    env.push_back("PLAT_ROOT=" + g.sWork + "/tool-machine");
    int status =
        Spawn({g.sBuild + "/bin/pkgtool", "list", g.sMedium + "/Install.pkg"}, env, g.sWork + "/pkg.list");
    ReadAll(g.sWork + "/pkg.list", &sPkgList);
    if (status != 0 || !ReadAll(g.sBuild + "/medium-src.list", &sList)) {
        fprintf(stderr, "faultsweep: cannot read the package's list (%s)\n", StatusText(status).c_str());
        RemoveTree(g.sWork);
        return 2;
    }
    std::string sSamples = g.sBuild + "/medium-src/";
    for (const std::string &sLine : Split(sList, '\n')) {
        if (sLine.empty())
            continue;
        Packaged p;
        std::string sRel =
            sLine.compare(0, sSamples.size(), sSamples) == 0 ? sLine.substr(sSamples.size()) : sLine;
        p.sName = sRel;
        std::replace(p.sName.begin(), p.sName.end(), '/', '\\');
        p.sHash = HashFile(sLine, &p.nSize);
        g.aPackaged.push_back(p);
    }
    size_t nEntry = 0;
    for (const std::string &sLine : Split(sPkgList, '\n')) {
        char szAttrs[32], szC[64], szA[64], szW[64];
        unsigned long nIndex, nSize;
        if (sscanf(sLine.c_str(), "%lu %lu %31s %63s %63s %63s", &nIndex, &nSize, szAttrs, szC, szA, szW) !=
            6)
            continue;
        if (nEntry >= g.aPackaged.size())
            break;
        Packaged &p = g.aPackaged[nEntry++];
        std::string a;
        for (const char *q = szAttrs; *q; q++)
            if (*q == 'R' || *q == 'H' || *q == 'S')
                a += *q;
        p.sAttrs = a.empty() ? "-" : a;
        p.nCreated = ParseIsoTime(szC);
        p.nAccessed = ParseIsoTime(szA);
        p.nWritten = ParseIsoTime(szW);
    }
    if (g.aPackaged.size() != 48 || nEntry != 48) {
        fprintf(stderr, "faultsweep: the package lists %zu entries and the samples %zu files, not 48\n",
                nEntry, g.aPackaged.size());
        RemoveTree(g.sWork);
        return 2;
    }

    // The success report as the installer composes it, without and with warning 1062.
    auto Composed = [&](const std::vector<std::string> &aIds) {
        std::vector<std::string> args = {g.sBuild + "/bin/restext"};
        args.insert(args.end(), aIds.begin(), aIds.end());
        Spawn(args, env, g.sWork + "/report.txt");
        std::string sText;
        ReadAll(g.sWork + "/report.txt", &sText);
        std::string s;
        for (const std::string &l : Split(sText, '\n'))
            s += "  " + l + "\n";
        return ReportOf("=== x ===\n> [Закрыть]\n" + s + "--- cancel\n");
    };
    g.sSuccessReport = Composed({"1050"});
    g.sOlderLeftReport = Composed({"1050", "1062", "-"});
    g.sDataLeftReport = Composed({"1050", "1084", "C:\\Program Files\\Kalmori6"});
    g.sUnDone = Composed({"2050"});
    g.sUnNothing = Composed({"2051", "2060", "-"});
    if (g.sSuccessReport.empty() || g.sOlderLeftReport.empty() || g.sDataLeftReport.empty() ||
        g.sUnDone.empty() || g.sUnNothing.empty()) {
        fprintf(stderr, "faultsweep: no success report from restext\n");
        RemoveTree(g.sWork);
        return 2;
    }

    if (bSelfTest) {
        int n = SelfTest();
        RemoveTree(g.sWork);
        printf("faultsweep: self-test %s\n", n == 0 ? "passed" : "FAILED");
        return n == 0 ? 0 : 1;
    }

    int nViolations = 0;
    bool bSetupFailed = false;
    for (const Scenario *pSc : aScenarios) {
        double t0 = Now();
        Template t;
        if (!MakeTemplate(*pSc, &t)) {
            bSetupFailed = true;
            continue;
        }
        // The run without faults: the calls to sweep, and the reference link.
        std::string sRunDir = g.sWork + "/first";
        MakeDirs(sRunDir);
        std::string sMachine = sRunDir + "/machine";
        RemoveTree(sMachine);
        CopyTree(t.sMachine, sMachine);
        std::string sTrace = sRunDir + "/trace";
        unlink(sTrace.c_str());
        std::string sOut = RunSetup(sMachine, pSc->pszActions, sRunDir + "/run.out",
                                    {"PLAT_FAULT_TRACE=" + sTrace}, &status, pSc->nUninstall != 0);
        std::vector<TraceLine> aCalls = ReadTrace(sTrace);
        std::vector<Finding> found;
        MachineView v;
        OlderLeft left = kOlderGone;
        bool bSuccess;
        if (pSc->nUninstall != 0) {
            bSuccess = status == 0 && UninstSuccess(ReportOf(sOut));
            CheckUninst(t, sMachine, bSuccess, "f", &found, &v);
        } else {
            bSuccess = status == 0 && SuccessReport(t, ReportOf(sOut), pSc->bRemoval, &left);
            CheckMachine(t, sMachine, "f", pSc->bRemoval, &found, &v, false, left);
        }
        if (!bSuccess || !found.empty() || aCalls.empty()) {
            printf("%s: not swept: the run without faults must succeed and leave the machine right first\n",
                   pSc->pszName);
            if (aCalls.empty())
                printf("  VIOLATION %s: the run without faults left no trace (does the platform have "
                       "PLAT_FAULT_TRACE?)\n",
                       pSc->pszName);
            if (!bSuccess) {
                std::string sReport = ReportOf(sOut);
                std::replace(sReport.begin(), sReport.end(), '\n', ' ');
                printf("  VIOLATION %s: the run without faults: f ended with %s, reported: %s\n",
                       pSc->pszName, StatusText(status).c_str(),
                       sReport.empty() ? "nothing" : sReport.c_str());
            }
            for (const Finding &f : found)
                printf("  VIOLATION %s: the run without faults: %s %s\n", pSc->pszName, f.sInvariant.c_str(),
                       f.sDetail.c_str());
            std::string sKept = KeepMachine(sMachine, std::string(pSc->pszName) + "-without-faults", sRunDir);
            if (!sKept.empty())
                printf("  [kept: %s]\n", sKept.c_str());
            nViolations += 1 + (int)found.size();
            continue;
        }
        int nStride = g.nStride > 0 ? g.nStride : 1;
        std::vector<std::string> aOnce; // violations of the checks made once per scenario
        if (pSc->bOlder && g.nOnly == 0) {
            // Once: a reinstallation that replaces the files, after the upgrade, leaves everything else as it
            // was. It replaces a taken-over catalogue that bears a packaged name with the packaged one: the
            // reinstall page warns of exactly that (text 1011), and the user asked for it.
            sOut = RunSetup(sMachine, "next check next cancel", sRunDir + "/replace.out", {}, &status);
            found.clear();
            CheckMachine(t, sMachine, "f", false, &found, &v, true);
            for (const Finding &f : found)
                aOnce.push_back(std::string(pSc->pszName) +
                                ": the run without faults, then a reinstallation replacing the files: " +
                                f.sInvariant + " " + f.sDetail);
        }
        fflush(stdout);
        Tally tally;
        if (g.bFault)
            SweepScenario(t, aCalls, false, nStride, &tally);
        if (g.bCut)
            SweepScenario(t, aCalls, true, nStride, &tally);
        std::string sWhich = g.nOnly != 0   ? "call " + std::to_string(g.nOnly) + " only"
                             : nStride == 1 ? std::string("every call")
                                            : "every " + std::to_string(nStride) + "th call";
        if (g.bFirstOfEach && g.nOnly == 0 && nStride != 1)
            sWhich += " and the first of each name";
        printf(
            "%s: %zu calls, %lu runs (%s %s), %lu faults injected, %lu cut-offs, %zu runs with violations, "
            "%zu violations, %.1f s\n",
            pSc->pszName, aCalls.size(), tally.nRuns, sWhich.c_str(),
            sMode == "both"    ? "failed and cut off"
            : sMode == "fault" ? "failed"
                               : "cut off",
            tally.nInjected, tally.nCut, tally.bad.size(), aOnce.size() + tally.aViolations.size(),
            Now() - t0);
        for (const std::string &sV : aOnce)
            printf("  VIOLATION %s\n", sV.c_str());
        for (const std::string &sV : tally.aViolations)
            printf("  VIOLATION %s\n", sV.c_str());
        for (const std::string &sN : tally.aNotes)
            printf("  %s\n", sN.c_str());
        if (tally.nRuns != tally.nPlanned)
            printf("  %lu runs were planned, %lu reported\n", tally.nPlanned, tally.nRuns);
        nViolations +=
            (int)(aOnce.size() + tally.aViolations.size()) + (tally.nRuns != tally.nPlanned ? 1 : 0);
        RemoveTree(sRunDir);
        RemoveTree(t.sMachine);
    }
    RemoveTree(g.sWork);
    if (bSetupFailed)
        return 2;
    printf("faultsweep: %d violations\n", nViolations);
    return nViolations == 0 ? 0 : 1;
}
