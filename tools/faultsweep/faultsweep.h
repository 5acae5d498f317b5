// faultsweep.h - the fault sweep of the Linux installer: each scenario is run once without faults with the
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
//   f  the run again without faults succeeds and leaves a complete installation (c, d, e, j and k hold too),
//      whose entry also holds the values that only inform (DisplayVersion, DisplayIcon, InstallLocation,
//      EstimatedSize, NoModify, NoRepair): b does not ask for them, since a failed write of one fails nothing;
//   j  no file of the unpacking's is left: none written under a name with ".~pk" appended, none set aside
//      under a name with ".~po" appended (after a cut-off they may be there, and so may the one whose
//      removal the fault failed: the run again must clear them);
//   k  every file the application folder held under a packaged file's name (a file an installation
//      replaces) holds its bytes under its name or under its name with ".~po", or has been replaced by
//      the packaged bytes.
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
//      d, g, h, i and j hold too.
//
//   faultsweep [--jobs J] [--stride K | --sample K] [--mode fault|cut|both] [--only N] [--keep DIR] BUILD
//              [SCENARIO...]
//   faultsweep --self-test BUILD
//   faultsweep --checked-calls       (the page docs/checked-calls.md, made from plat/checkedcalls.h)
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
//
// The units of tools/faultsweep/ and what each gives the others, in the order they build on one another:
// files.cpp (helpers and host trees), process.cpp (running programs), machineview.cpp (the platform's view
// of a machine), scenarios.cpp (the scenarios, the settings, transcripts), checks.cpp (the invariants),
// seed.cpp (the machines a scenario starts from, the installer's runs), sweep.cpp (the runs under faults),
// selftest.cpp (the checker's own test), checkedcalls.cpp (the page of checked calls) and main.cpp (the
// entry).

#ifndef FAULTSWEEP_H
#define FAULTSWEEP_H

#include <windows.h>
#include <plat/checkedcalls.h>

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

namespace faultsweep
{

// ---------------------------------------------------------------------------------------------------------
// files.cpp: small helpers, host trees (copy, removal, snapshot). Needs nothing of the others.

// One host entry as the sweep compares it: kind, mode, size, last write time, extended attributes, bytes.
// Access times are left out (reading moves them) and so are a folder's times (its entries move them).
struct HostEntry {
    char cKind = 'F'; // F file, D folder, L link, O other
    std::string sDesc;
    std::string sHash;
    uint64_t nSize = 0;
};
using Snapshot = std::map<std::string, HostEntry>; // path relative to the machine folder, "/" between names

std::string Lower(std::string s);
std::vector<std::string> Split(const std::string &s, char c);
bool ReadAll(const std::string &sPath, std::string *ps);
bool WriteAll(const std::string &sPath, const std::string &s, mode_t mode = 0644);
void MakeDirs(const std::string &sPath);
std::string Hex(const std::string &s);
std::string HashFile(const std::string &sPath, uint64_t *pnSize = nullptr);
std::string Cap(const std::string &s, size_t n);
std::string HashBytes(const std::string &s);
double Now();
bool CopyTree(const std::string &sFrom, const std::string &sTo);
void RemoveTree(const std::string &sPath);
Snapshot TakeSnapshot(const std::string &sMachine);
const HostEntry *FindNoCase(const Snapshot &snap, const std::string &sRel);

// ---------------------------------------------------------------------------------------------------------
// process.cpp: running the installer and the tools. Needs files.cpp.

// The user's name on the host, as the machine's profile folder has it.
extern std::string gUser;
// The processes this one waits for, which an interruption ends (main.cpp's OnSignal): the jobs of the main
// process, or the one program a job runs.
extern pid_t gaChildren[64];
extern int gnChildren;

std::vector<std::string> BaseEnv();
int Spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env, const std::string &sOut,
          int nTimeout = 120);
std::string StatusText(int status);

// ---------------------------------------------------------------------------------------------------------
// machineview.cpp: the machine as the platform shows it (in a forked child: plat/ reads PLAT_ROOT on its
// first call). Needs files.cpp.

inline constexpr char kUninstallArea[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr char kAppDir[] = "C:\\Program Files\\Kalmor61";

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

MachineView LookAt(const std::string &sMachine, bool bCreate = false);
std::vector<std::string> ForeignRegistry(const MachineView &v);
bool HasKey(const MachineView &v, const std::string &sPath);
std::string StringValue(const MachineView &v, const std::string &sKey, const std::string &sName);
// A DWORD value as a number in decimal, or "(none)", or "(type N)".
std::string DwordValue(const MachineView &v, const std::string &sKey, const std::string &sName);

// ---------------------------------------------------------------------------------------------------------
// scenarios.cpp: what the sweep knows before it starts, and how it reads transcripts. Needs files.cpp.

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

extern const std::vector<Scenario> kScenarios;

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
    int nStride = 0;           // 0: the default of each scenario
    bool bFirstOfEach = false; // --sample: the first call of each name too
    bool bFault = true, bCut = true;
    unsigned long nOnly = 0;
    std::string sKeep;
};

extern Sweep gSweep;

// The application folder and the older version's, relative to the machine folder.
inline constexpr char kAppRel[] = "drive_c/Program Files/Kalmor61";
inline constexpr char kOldRel[] = "drive_c/Program Files/Kalmori6";

uint64_t ParseIsoTime(const std::string &s);
std::string ReportOf(const std::string &sTranscript);
bool ReadLink(const std::string &s, std::string *psTarget, std::string *psWorkDir);
bool RemovalChosen(const std::string &sTranscript);

// ---------------------------------------------------------------------------------------------------------
// checks.cpp: the checks. Needs files.cpp, machineview.cpp and scenarios.cpp.

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

// What a successful removal of the older version may leave of its folder.
enum OlderLeft {
    kOlderGone,     // nothing
    kReadOnlyLeft,  // its read-only files and the folders that hold them (warning 1062)
    kOlderFolderAll // everything, as it was: it holds data deeper than the takeover looks (warning 1084)
};

void CheckForeign(const Template &t, const Snapshot &snap, const MachineView &v, std::vector<Finding> *pOut);
void CheckFiles(const Template &t, const Snapshot &snap, const MachineView &v, std::vector<Finding> *pOut);
void CheckUserData(const Template &t, const Snapshot &snap, bool bReplaced, std::vector<Finding> *pOut);
bool SuccessReport(const Template &t, const std::string &sReport, bool bRemoval, OlderLeft *pLeft);
// What is wrong with the values of this version's entry that only inform (those a run without faults
// writes), "" when nothing.
std::string EntryInfoWrong(const MachineView &v);
std::string Incomplete(const Template &t, const std::string &sMachine, const Snapshot &snap,
                       const MachineView &v, bool bRemoval, OlderLeft left);
bool IsUserDataRel(const std::string &sRel);
void CheckUninst(const Template &t, const std::string &sMachine, bool bSuccess, const std::string &sComplete,
                 std::vector<Finding> *pOut, MachineView *pView, bool bCut = false,
                 const std::string &sSpared = "");
void CheckLeftovers(const Snapshot &snap, const std::string &sSpared, std::vector<Finding> *pOut);
void CheckReplaced(const Template &t, const Snapshot &snap, std::vector<Finding> *pOut);

// ---------------------------------------------------------------------------------------------------------
// seed.cpp: the machines the scenarios start from, the installer's runs. Needs files.cpp, process.cpp,
// machineview.cpp, scenarios.cpp and checks.cpp (IsUserDataRel).

bool SeedRegistry(const std::string &sMachine, const std::vector<std::vector<std::string>> &aValues);
std::string RunSetup(const std::string &sMachine, const std::string &sActions, const std::string &sOut,
                     const std::vector<std::string> &aMore, int *pStatus, bool bUninst = false);
bool MakeTemplate(const Scenario &sc, Template *pT);

// ---------------------------------------------------------------------------------------------------------
// sweep.cpp: the runs under faults and cut-offs. Needs all the units above.

struct TraceLine {
    unsigned long n = 0;
    std::string sCall, sPath, sResult;
};

struct Tally {
    unsigned long nRuns = 0, nInjected = 0, nCut = 0, nPlanned = 0;
    std::set<std::string> bad; // runs with a violation, "fault N" or "cut N"
    std::vector<std::string> aViolations, aNotes;
};

std::vector<TraceLine> ReadTrace(const std::string &sPath);
std::string KeepMachine(const std::string &sMachine, const std::string &sName,
                        const std::string &sRunDir = "");
void CheckMachine(const Template &t, const std::string &sMachine, const std::string &sComplete, bool bRemoval,
                  std::vector<Finding> *pOut, MachineView *pView, bool bReplaced = false,
                  OlderLeft left = kOlderGone, bool bCut = false, const std::string &sSpared = "");
bool UninstSuccess(const std::string &sReport);
void SweepScenario(const Template &t, const std::vector<TraceLine> &aCalls, bool bCutMode, int nStride,
                   Tally *pTally);

// ---------------------------------------------------------------------------------------------------------
// selftest.cpp: the checker's own test. Needs checks.cpp, seed.cpp and sweep.cpp.

int SelfTest();

// ---------------------------------------------------------------------------------------------------------
// checkedcalls.cpp: the page of checked calls. Needs nothing of the others.

// Writes docs/checked-calls.md to stdout; the exit code for main.
int PrintCheckedCallsPage();

} // namespace faultsweep

#endif
