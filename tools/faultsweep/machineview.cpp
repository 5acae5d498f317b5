// machineview.cpp - the machine as the platform shows it: the whole registry and the application folder,
// read by a forked child that points plat/ at the machine, and what the checks ask of that view.

#include "faultsweep.h"

namespace faultsweep
{

static void DumpKey(HKEY hKey, const std::string &sPath, FILE *f)
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

static uint64_t Ticks(const FILETIME &ft)
{
    return ((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
}

static void DumpFolder(const std::string &sRoot, const std::string &sRel, FILE *f)
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
static void DumpMachine(FILE *f, bool bCreate)
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

// Looks at the machine in a child process. With bCreate the child only makes the machine (its first
// registry call does).
MachineView LookAt(const std::string &sMachine, bool bCreate)
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
static bool IsOwnKey(const std::string &sKeyPath)
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

// The fields of a value's line (type, name, kind, hex data), or none when the key has no such value.
static std::vector<std::string> FindValue(const MachineView &v, const std::string &sKey, const std::string &sName)
{
    std::string sKeyLow = Lower(sKey), sNameLow = Lower(sName);
    for (const std::string &s : v.aReg) {
        if (s[0] != 'V')
            continue;
        std::vector<std::string> f = Split(s, '\t');
        if (f.size() >= 5 && Lower(f[1]) == sKeyLow && Lower(f[2]) == sNameLow)
            return f;
    }
    return {};
}

// A string value's text (without its terminators), or "(none)", or "(type N)".
std::string StringValue(const MachineView &v, const std::string &sKey, const std::string &sName)
{
    std::vector<std::string> f = FindValue(v, sKey, sName);
    if (f.empty())
        return "(none)";
    if (f[3] != "1")
        return "(type " + f[3] + ")";
    std::string sData;
    for (size_t i = 0; i + 1 < f[4].size(); i += 2)
        sData += (char)strtoul(f[4].substr(i, 2).c_str(), nullptr, 16);
    while (!sData.empty() && sData.back() == '\0')
        sData.pop_back();
    return sData;
}

// A DWORD value as a number in decimal, or "(none)", or "(type N)".
std::string DwordValue(const MachineView &v, const std::string &sKey, const std::string &sName)
{
    std::vector<std::string> f = FindValue(v, sKey, sName);
    if (f.empty())
        return "(none)";
    if (f[3] != "4" || f[4].size() != 8)
        return "(type " + f[3] + ")";
    uint32_t n = 0;
    for (int i = 3; i >= 0; i--)
        n = n << 8 | (uint32_t)strtoul(f[4].substr(2 * i, 2).c_str(), nullptr, 16);
    return std::to_string(n);
}

} // namespace faultsweep
