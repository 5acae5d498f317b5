// main.cpp - the fault sweep's entry: its options, the work folder, the medium and the packaged files, the
// reports it compares with, and the scenarios swept in turn with their summary lines.

#include "faultsweep.h"

namespace faultsweep
{

// Where the machines are made: KAL_SWEEP_DIR, else memory (/dev/shm) when it keeps extended attributes and
// has 200 MB free (the machines take some 40 MB), else TMPDIR or /tmp. On a disk every registry change
// waits for the disk (the registry commits each change with a full sync), which makes a run several times
// as long.
static std::string WorkBase()
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
static char gszWork[PATH_MAX];
static pid_t gMainPid;

static void OnSignal(int nSignal)
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

static int Usage()
{
    fprintf(stderr,
            "usage: faultsweep [--jobs J] [--stride K | --sample K] [--mode fault|cut|both] [--only N] "
            "[--keep DIR] BUILD [SCENARIO...]\n       faultsweep --self-test BUILD\n       faultsweep "
            "--checked-calls\n");
    return 2;
}

} // namespace faultsweep

using namespace faultsweep;

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "--checked-calls") == 0)
        return PrintCheckedCallsPage();
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
                fprintf(stderr, "%s%s", &s == &kScenarios[0] ? "" : ", ", s.pszName);
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
