// sweep.cpp - the sweep itself: the trace of the run without faults, the error each call is failed with,
// one run under a fault or a cut-off with its checks and its run again, and a scenario's runs in parallel
// jobs.

#include "faultsweep.h"

namespace faultsweep
{

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

// The errors a call can give, in the order the sweep rotates through them: the list of checked calls' own
// (plat/checkedcalls.h); a call the list does not have (none should: the fault switch stops at it) gets
// errors any call can give.
static const std::vector<unsigned> &ErrorsOf(const std::string &sCall)
{
    static const std::vector<unsigned> kOther = {5, 1450, 31, 87};
    const plat::CheckedCall *p = plat::FindCheckedCall(sCall.c_str());
    return p != nullptr ? p->aErrors : kOther;
}

struct Result {
    unsigned long n = 0;
    bool bInjected = false, bCut = false;
    std::vector<std::string> aViolations; // whole lines
    std::vector<std::string> aNotes;
};

// Keeps a machine for a look (KAL_SWEEP_KEEP): a copy in KEEP/NAME, with the runs' transcripts and trace
// beside it (NAME.run.out, NAME.rerun.out, NAME.trace) when sRunDir holds them.
std::string KeepMachine(const std::string &sMachine, const std::string &sName, const std::string &sRunDir)
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
// With sComplete, the installation must be complete (else a finding of invariant sComplete). After a run
// that was cut off (bCut) the unpacking's leftovers may be there, as a power cut leaves them (not j), and
// so may sSpared (relative to the machine folder), the leftover whose removal was the run's one failure;
// the run again must clear them. What was replaced must be whole under one of its names all the same (k).
void CheckMachine(const Template &t, const std::string &sMachine, const std::string &sComplete, bool bRemoval,
                  std::vector<Finding> *pOut, MachineView *pView, bool bReplaced, OlderLeft left, bool bCut,
                  const std::string &sSpared)
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
    if (!bCut)
        CheckLeftovers(snap, sSpared, pOut);
    CheckReplaced(t, snap, pOut);
}

// Whether the uninstaller's report is its success report: header 2050, with or without notices.
bool UninstSuccess(const std::string &sReport)
{
    return !gSweep.sUnDone.empty() && sReport.compare(0, gSweep.sUnDone.size(), gSweep.sUnDone) == 0;
}

// The uninstaller's run again without faults: the same actions while the entry is there, else "next
// cancel" (the uninstaller finds nothing). Adds the findings of f and of the other checks after it.
static void UninstRunAgain(const Template &t, const std::string &sMachine, const std::string &sOutFile,
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
static Result SweepOne(const Template &t, const std::string &sRunDir, bool bCutMode, const TraceLine &call,
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

    // A leftover whose removal was the one failure (its deletion, or the clearing of its read-only bit before
    // it) stays, as the run could not remove it: the run again must.
    std::string sSpared;
    if (!bCutMode && (call.sCall == "DeleteFileA" || call.sCall == "SetFileAttributesA") &&
        call.sPath.compare(0, 3, "C:\\") == 0) {
        sSpared = "drive_c/" + call.sPath.substr(3);
        std::replace(sSpared.begin(), sSpared.end(), '\\', '/');
    }
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
        CheckUninst(t, sMachine, !bCutMode && UninstSuccess(ReportOf(sOut)), "", &found, &v, bCutMode,
                    sSpared);
    else
        CheckMachine(t, sMachine, bSuccess || bDataLeft ? "b" : "", bRemoval, &found, &v, false,
                     bDataLeft ? kOlderFolderAll : kOlderGone, bCutMode, sSpared);
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

static std::string Escape(const std::string &s)
{
    std::string r;
    for (char c : s)
        r += c == '\n' ? ' ' : c;
    return r;
}

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

} // namespace faultsweep
