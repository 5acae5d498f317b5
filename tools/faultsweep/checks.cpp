// checks.cpp - the checks of a machine after a run: the invariants of the installer (b to e, j, k) and of
// the uninstaller (b, d, g, h, i), each adding what it finds.

#include "faultsweep.h"

namespace faultsweep
{

static bool IsUnder(const std::string &sRel, const std::string &sFolder)
{
    std::string a = Lower(sRel), b = Lower(sFolder);
    return a == b || a.compare(0, b.size() + 1, b + "/") == 0;
}

static bool MayChange(const std::string &sRel)
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
static std::string PackagedFileState(const Template &t, const Snapshot &snap, const MachineView &v,
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
static bool HoldsPackagedBytes(const Snapshot &snap, const std::string &sRel)
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
static std::string LinkState(const std::string &sMachine, const std::string &sRel)
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
static bool OnlyReadOnlyLeft(const Snapshot &snap)
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
static std::string OlderFolderChanged(const Template &t, const Snapshot &snap)
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

// Whether a path is what the unpacking leaves only while it works: a file written under its name with
// ".~pk" appended, or a file being replaced set aside under its name with ".~po" appended.
static bool IsUnpackingLeftover(const std::string &sRel)
{
    std::string s = Lower(sRel);
    for (const char *psz : {".~pk", ".~po"})
        if (s.size() > 4 && s.compare(s.size() - 4, 4, psz) == 0)
            return true;
    return false;
}

// j: no unpacking's temporary file (*.~pk) and no file set aside (*.~po) anywhere on the machine but
// sSpared (relative to the machine folder; "" for none).
void CheckLeftovers(const Snapshot &snap, const std::string &sSpared, std::vector<Finding> *pOut)
{
    std::vector<std::string> a;
    for (const auto &kv : snap)
        if (kv.second.cKind != 'D' && IsUnpackingLeftover(kv.first) && Lower(kv.first) != Lower(sSpared))
            a.push_back(kv.first);
    if (!a.empty())
        pOut->push_back({"j", a[0] + " left behind" +
                                  (a.size() > 1 ? " (and " + std::to_string(a.size() - 1) + " more)" : "")});
}

// k: every file the machine held in the application folder under a packaged file's name, a file an
// installation replaces, still has its bytes under its name or, set aside, under its name with ".~po"; or
// its name holds the packaged bytes (it was replaced).
void CheckReplaced(const Template &t, const Snapshot &snap, std::vector<Finding> *pOut)
{
    const std::string sPrefix = std::string(kAppRel) + "/";
    for (const auto &kv : t.snap) {
        if (kv.second.cKind != 'F' || kv.first.compare(0, sPrefix.size(), sPrefix) != 0)
            continue;
        std::string sName = kv.first.substr(sPrefix.size());
        std::replace(sName.begin(), sName.end(), '/', '\\');
        const Packaged *pPackaged = nullptr;
        for (const Packaged &p : gSweep.aPackaged)
            if (Lower(p.sName) == Lower(sName))
                pPackaged = &p;
        if (pPackaged == nullptr)
            continue;
        const HostEntry *pNow = FindNoCase(snap, kv.first);
        const HostEntry *pAside = FindNoCase(snap, kv.first + ".~po");
        bool bNow = pNow != nullptr && pNow->cKind == 'F' &&
                    (pNow->sHash == kv.second.sHash || pNow->sHash == pPackaged->sHash);
        bool bAside = pAside != nullptr && pAside->cKind == 'F' && pAside->sHash == kv.second.sHash;
        if (!bNow && !bAside) {
            pOut->push_back({"k", sName + ": its earlier bytes are under neither its name (" +
                                      (pNow == nullptr ? "none there" : "other bytes there") + ") nor " +
                                      sName + ".~po (" +
                                      (pAside == nullptr ? "none there" : "other bytes there") + ")"});
            return;
        }
    }
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
static std::string UninstLeft(const Template &t, const Snapshot &snap)
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
//   j  no unpacking's leftovers (*.~pk, *.~po) but sSpared, unless the run was cut off (bCut);
// and with sComplete the removal must be complete (else a finding of invariant sComplete).
void CheckUninst(const Template &t, const std::string &sMachine, bool bSuccess, const std::string &sComplete,
                 std::vector<Finding> *pOut, MachineView *pView, bool bCut, const std::string &sSpared)
{
    Snapshot snap = TakeSnapshot(sMachine);
    if (!bCut)
        CheckLeftovers(snap, sSpared, pOut);
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

} // namespace faultsweep
