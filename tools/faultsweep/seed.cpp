// seed.cpp - seeding the machine a scenario starts from: what is not the installer's, the older version, the
// data an uninstallation kept, a first installation; and the installer's runs on a machine.

#include "faultsweep.h"

namespace faultsweep
{

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
static std::string Bytes(size_t n, unsigned nSeed)
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

static bool SeedFile(const std::string &sMachine, const std::string &sRel, const std::string &sBytes,
                     bool bReadOnly)
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
                     const std::vector<std::string> &aMore, int *pStatus, bool bUninst)
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

} // namespace faultsweep
