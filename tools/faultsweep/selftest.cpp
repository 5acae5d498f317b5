// selftest.cpp - the checker's own test: a machine after a run without faults passes, and a machine spoilt
// in each of several ways is caught by the invariant named.

#include "faultsweep.h"

namespace faultsweep
{

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
        {"an unpacking's temporary file left", "j",
         [&](const std::string &m) { WriteAll(m + "/" + kAppRel + "/Modely/Stul.gim.~pk", "part"); }},
        {"a file set aside left, in capitals", "j",
         [&](const std::string &m) { WriteAll(m + "/" + kAppRel + "/Katalogy/Velky.KMC.~PO", "old"); }},
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

    // A reinstallation that replaces the files: without faults it passes; a replaced file whose earlier
    // bytes are under neither its name nor its set-aside name must be caught, and one set aside with its
    // bytes is a leftover, not a loss.
    for (const Scenario &sc : kScenarios)
        if (strcmp(sc.pszName, "reinstall-replace") == 0)
            pSc = &sc;
    Template r;
    if (!MakeTemplate(*pSc, &r))
        return -1;
    CopyTree(r.sMachine, sDone);
    sOut = RunSetup(sDone, pSc->pszActions, gSweep.sWork + "/self.out", {}, &status);
    found.clear();
    CheckMachine(r, sDone, "b", false, &found, &v, true);
    if (status != 0 || ReportOf(sOut) != gSweep.sSuccessReport || !found.empty()) {
        printf("self-test: the reinstallation without faults does not pass (%s)%s%s\n",
               StatusText(status).c_str(), found.empty() ? "" : ": ",
               found.empty() ? "" : found[0].sDetail.c_str());
        return -1;
    }
    const std::string sHlp = std::string(kAppRel) + "/Kalmori.hlp";
    struct Replaced {
        Spoil spoil;
        const char *pszNot; // an invariant that must not be found
    } rspoils[] = {
        {{"reinstall: a replaced file gone, nothing set aside", "k",
          [&](const std::string &m) { unlink((m + "/" + sHlp).c_str()); }},
         ""},
        {{"reinstall: a replaced file cut short, its set-aside name holding other bytes", "k",
          [&](const std::string &m) {
              chmod((m + "/" + sHlp).c_str(), 0644);
              truncate((m + "/" + sHlp).c_str(), 10);
              WriteAll(m + "/" + sHlp + ".~po", "other");
          }},
         ""},
        {{"reinstall: a replaced file's bytes set aside and left there", "j",
          [&](const std::string &m) { rename((m + "/" + sHlp).c_str(), (m + "/" + sHlp + ".~po").c_str()); }},
         "k"},
    };
    for (const Replaced &rp : rspoils) {
        RemoveTree(sMachine);
        CopyTree(sDone, sMachine);
        rp.spoil.spoil(sMachine);
        found.clear();
        CheckMachine(r, sMachine, "", false, &found, &v, true);
        bool bCaught = ReportSpoil(rp.spoil.pszWhat, rp.spoil.pszInvariant, found);
        for (const Finding &f : found)
            if (f.sInvariant == rp.pszNot) {
                printf("self-test: %s: %s found, which it is not\n", rp.spoil.pszWhat, rp.pszNot);
                bCaught = false;
            }
        nMissed += bCaught ? 0 : 1;
    }
    RemoveTree(sMachine);
    RemoveTree(sDone);
    RemoveTree(r.sMachine);
    return nMissed;
}

} // namespace faultsweep
