// test_install.cpp - the installer's own logic apart from the wizard: the result report, which pages are
// offered from what the registry holds, which older version is found, and (on Linux, through the fault
// switch) what the report says and what is left when a step fails. The whole installation is covered by
// the scenario tests (tests/scenarios/).

#include "charstr.h"
#include "install.h"
#include "package.h"
#include "product.h"
#include "resource.h"
#include "shlutl.h"
#include "utils.h"
#include "wizard.h"
#include "wizutl.h"

#include "testkit.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

using ::testing::ExitedWithCode;

static const char kArea[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

class Installer : public ::testing::Test {
  protected:
    void SetUp() override
    {
        hWizInstance = GetModuleHandleA(NULL);
        ResInit();
        Forget("Kalmor61");
        Forget("Kalmori6");
        Forget("Kalmori5");
    }
    void TearDown() override
    {
        Forget("Kalmor61");
        Forget("Kalmori6");
        Forget("Kalmori5");
        ResFreeAll();
    }
    // An uninstall entry of that name, with a sub-key when asked.
    static void Register(const char *szName, bool bSubKey = false)
    {
        HKEY hArea = ShlRegCreate(HKEY_LOCAL_MACHINE, kArea);
        ASSERT_TRUE(hArea != NULL);
        HKEY hKey = ShlRegCreate(hArea, szName);
        ASSERT_TRUE(hKey != NULL);
        if (bSubKey)
            ShlRegClose(ShlRegCreate(hKey, "Sub"));
        ShlRegClose(hKey);
        ShlRegClose(hArea);
    }
    static void Forget(const char *szName)
    {
        HKEY hArea = ShlRegOpen(HKEY_LOCAL_MACHINE, kArea, 1);
        if (hArea == NULL)
            return;
        HKEY hKey = ShlRegOpen(hArea, szName, 1);
        if (hKey != NULL) {
            ShlRegDeleteKey(hKey, "Sub");
            ShlRegClose(hKey);
        }
        ShlRegDeleteKey(hArea, szName);
        ShlRegClose(hArea);
    }
};

// The wizard's configuration: the installer's title and button labels, each in its place.
TEST_F(Installer, ConfigurationHoldsTheInstallersTitleAndButtons)
{
    WizConfig config = {};
    WizConfigLoad(&config, IDS_TITLE);
    EXPECT_EQ(1, config.nReserved);
    const struct {
        int hText, nId;
    } aTexts[] = {{config.hTitle, IDS_TITLE},   {config.hBack, IDS_BACK},     {config.hNext, IDS_NEXT},
                  {config.hFinish, IDS_FINISH}, {config.hCancel, IDS_CANCEL}, {config.hClose, IDS_CLOSE}};
    for (const auto &t : aTexts) {
        ASSERT_TRUE(ResGetString(t.hText) != NULL) << t.nId;
        EXPECT_EQ(Text(t.nId), ResGetString(t.hText)) << t.nId;
    }
}

TEST_F(Installer, ReportStartsWithItsHeaderAndCollectsWarnings)
{
    WizResult res;
    WizResultInit(&res, IDS_DONE);
    EXPECT_TRUE(WizResultOk(&res));
    EXPECT_EQ(Text(IDS_DONE), ResGetString(WizResultText(&res)));
    WizResultAdd(&res, IDS_DONE, IDS_NO_SHORTCUT, "C:\\A\\Kalmori.exe");
    WizResultAdd(&res, IDS_DONE, IDS_OLDER_LEFT, NULL);
    EXPECT_TRUE(WizResultOk(&res));
    EXPECT_EQ(Text(IDS_DONE) + Formatted(IDS_NO_SHORTCUT, "C:\\A\\Kalmori.exe") + Text(IDS_OLDER_LEFT),
              ResGetString(WizResultText(&res)));
}

TEST_F(Installer, AFailureReplacesTheHeaderAndDropsEarlierWarnings)
{
    WizResult res;
    WizResultInit(&res, IDS_DONE);
    WizResultAdd(&res, IDS_DONE, IDS_NO_SHORTCUT, "x");
    WizResultAdd(&res, IDS_INCOMPLETE, IDS_NO_TAKEOVER, NULL);
    EXPECT_FALSE(WizResultOk(&res));
    EXPECT_EQ(Text(IDS_INCOMPLETE) + Text(IDS_NO_TAKEOVER), ResGetString(WizResultText(&res)));
    WizResultAdd(&res, IDS_INCOMPLETE, 0, NULL); // a header without message changes nothing more
    EXPECT_EQ(Text(IDS_INCOMPLETE) + Text(IDS_NO_TAKEOVER), ResGetString(WizResultText(&res)));
}

TEST_F(Installer, AMissingArgumentLeavesEmptyQuotes)
{
    WizResult res;
    WizResultInit(&res, IDS_DONE);
    WizResultAdd(&res, IDS_DONE, IDS_NO_SHORTCUT, NULL);
    std::string s = ResGetString(WizResultText(&res));
    EXPECT_NE(std::string::npos, s.find("\"\".\n")) << s;
    EXPECT_EQ(std::string::npos, s.find("%s"));
}

TEST_F(Installer, ReportKeepsOneTableSlot)
{
    WizResult res;
    WizResultInit(&res, IDS_DONE);
    for (int i = 0; i < 50; i++)
        WizResultAdd(&res, IDS_DONE, IDS_OLDER_LEFT, NULL);
    EXPECT_EQ(1, WizResultText(&res)); // every append frees the old text before storing the new one
    EXPECT_EQ(2, ResDupString("next"));
}

struct PagesCase {
    const char *pszName;
    bool bThis, bOlder6, bOlder5;
    int nSecondKind;      // kind of record 1 (WIZ_PAGE_END when only the welcome page is offered)
    int nSecondText;      // its text id, 0 for none
    int nChecked;         // its initial check-box state
    bool bInstallOnPage;  // pInstall points at the reinstall page's state
    bool bRemoveOlderSet; // pRemoveOlder is set
};
static const PagesCase kPages[] = {
    {"nothing installed", false, false, false, WIZ_PAGE_END, 0, 0, false, false},
    {"this version", true, false, false, WIZ_PAGE_OPTION, IDS_REINSTALL, 0, true, false},
    {"this and an older version", true, true, false, WIZ_PAGE_OPTION, IDS_REINSTALL, 0, true, false},
    {"an older version", false, true, false, WIZ_PAGE_OPTION, IDS_UPGRADE, 1, false, true},
    {"the oldest version only", false, false, true, WIZ_PAGE_OPTION, IDS_UPGRADE, 1, false, true},
};

TEST_F(Installer, PagesFollowWhatIsInstalled)
{
    for (const PagesCase &c : kPages) {
        SCOPED_TRACE(c.pszName);
        Forget("Kalmor61");
        Forget("Kalmori6");
        Forget("Kalmori5");
        if (c.bThis)
            Register("Kalmor61");
        if (c.bOlder6)
            Register("Kalmori6");
        if (c.bOlder5)
            Register("Kalmori5");
        WizPage aPages[10];
        memset(aPages, 0x55, sizeof aPages);
        InstallParams params;
        InstallPages(aPages, &params);
        EXPECT_EQ(WIZ_PAGE_PICTURE, aPages[0].nKind);
        EXPECT_TRUE(ResGetObject(aPages[0].hImage) != NULL);
        EXPECT_EQ(Text(IDS_WELCOME), ResGetString(aPages[0].hText));
        EXPECT_EQ(c.nSecondKind, aPages[1].nKind);
        if (c.nSecondKind == WIZ_PAGE_OPTION) {
            EXPECT_EQ(Text(c.nSecondText), ResGetString(aPages[1].hText));
            EXPECT_EQ(c.nChecked, aPages[1].bChecked);
            EXPECT_EQ(WIZ_PAGE_END, aPages[2].nKind);
        }
        if (c.bInstallOnPage) {
            EXPECT_EQ(&aPages[1].bChecked, params.pInstall);
        } else {
            EXPECT_EQ(&params.nInstallYes, params.pInstall);
            EXPECT_EQ(1, params.nInstallYes);
        }
        EXPECT_EQ(c.bRemoveOlderSet ? &aPages[1].bChecked : NULL, params.pRemoveOlder);
        ResFreeAll();
        ResInit();
    }
}

TEST_F(Installer, OlderVersionsAreTriedInOrderOfPreference)
{
    char szName[32];
    EXPECT_EQ(0, InstallFindOlder(NULL, 0));
    Register("Kalmori5");
    EXPECT_EQ(1, InstallFindOlder(szName, sizeof szName));
    EXPECT_STREQ("Kalmori5", szName);
    Register("Kalmori6", true);
    EXPECT_EQ(1, InstallFindOlder(NULL, 0));
    EXPECT_EQ(1, InstallFindOlder(szName, sizeof szName));
    EXPECT_STREQ("Kalmori6", szName);
    EXPECT_EQ(0, InstallFindOlder(szName, 8)); // a buffer too small for the name: as if nothing was found
    EXPECT_EQ(1, InstallFindOlder(szName, 9));
}

TEST_F(Installer, InstalledMeansTheEntryExists)
{
    EXPECT_EQ(0, InstallIsInstalled());
    Register("Kalmor61");
    EXPECT_EQ(1, InstallIsInstalled());
}

TEST_F(Installer, StepsRefuseAReportThatIsNoLongerInOrder)
{
    WizResult res;
    WizResultInit(&res, IDS_DONE);
    WizResultAdd(&res, IDS_CANCELLED, IDS_NO_ENTRY, NULL);
    EXPECT_EXIT(InstallFolders(&res), ExitedWithCode(3),
                "Assertion failed: WizResultOk.pResult., file app.INSTALL, line .");
    EXPECT_EXIT(InstallShortcuts(NULL), ExitedWithCode(3),
                "Assertion failed: pResult != NULL, file app.INSTALL");
    char szName[4];
    EXPECT_EXIT(InstallFindOlder(szName, 0), ExitedWithCode(3),
                "Assertion failed: szShortName == NULL .. nSize > 0, file app.INSTALL");
}

// ---------------------------------------------------------------------------------------------------------
// An older version: its entry, its folder with the user's data, the takeover and the removal

static const std::string kOlderDir = ProgramFiles() + "\\Kalmori6";
static const std::string kNewDir = ProgramFiles() + "\\Kalmor61";

// This version's shortcut in each of the two link folders.
static std::string OwnLink(int nFolder)
{
    return ShortcutPath(nFolder, "Kalmorist 6.1.lnk");
}

class OlderVersion : public Installer {
  protected:
    void SetUp() override
    {
        Installer::SetUp();
        UtlDeleteTree(kOlderDir.c_str());
        UtlDeleteTree(kNewDir.c_str());
        // Kalmori6 with a display name, a catalogue and a plan; the new folder as the steps before left it.
        Register("Kalmori6");
        SetDisplayName("Kalmorist 6.0");
        ASSERT_TRUE(UtlCreateDir(kOlderDir.c_str()));
        ASSERT_TRUE(UtlCreateDir((std::string(kOlderDir) + "\\Katalogy").c_str()));
        PutFile(std::string(kOlderDir) + "\\Katalogy\\Mine.kmc", "my catalogue");
        PutFile(std::string(kOlderDir) + "\\Plan.sc1", "my plan");
        ASSERT_TRUE(UtlCreateDir(kNewDir.c_str()));
        ASSERT_TRUE(UtlCreateDir((std::string(kNewDir) + "\\Katalogy").c_str()));
        PutFile(OwnLink(FOLDER_PROGRAMS), "own link");
        PutFile(OwnLink(FOLDER_DESKTOP), "own link");
    }
    void TearDown() override
    {
        UtlDeleteTree(kOlderDir.c_str());
        UtlDeleteTree(kNewDir.c_str());
        UtlDeleteFile(OwnLink(FOLDER_PROGRAMS).c_str());
        UtlDeleteFile(OwnLink(FOLDER_DESKTOP).c_str());
        Installer::TearDown();
    }
    static void SetDisplayName(const char *pszName)
    {
        HKEY hKey = ShlRegOpen(HKEY_LOCAL_MACHINE, (std::string(kArea) + "\\Kalmori6").c_str(), 1);
        ASSERT_TRUE(hKey != NULL);
        EXPECT_TRUE(ShlRegSetString(hKey, "DisplayName", pszName));
        ShlRegClose(hKey);
    }
    // Takes over and, while the report is in order, removes; returns the report.
    static std::string Upgrade()
    {
        WizResult res;
        WizResultInit(&res, IDS_DONE);
        InstallTakeOver(&res);
        if (WizResultOk(&res))
            InstallRemoveOlder(&res);
        return ResGetString(WizResultText(&res));
    }
};

TEST_F(OlderVersion, DataIsTakenOverAndTheOlderVersionRemoved)
{
    EXPECT_EQ(Text(IDS_DONE), Upgrade());
    EXPECT_EQ("my catalogue", ReadBytes(std::string(kNewDir) + "\\Katalogy\\Mine.kmc"));
    EXPECT_EQ("my plan", ReadBytes(std::string(kNewDir) + "\\Plan.sc1"));
    EXPECT_FALSE(Exists(kOlderDir));
    EXPECT_TRUE(Exists(OwnLink(FOLDER_PROGRAMS)));
}

// The older version's shortcut in one of the two link folders.
static std::string OlderLink(int nFolder)
{
    return ShortcutPath(nFolder, "Kalmorist 6.0.lnk");
}

// Makes files and folders (a final backslash) in the older folder, with their folders, each file holding its
// own path.
static void PutInOlder(const char *const *apszPaths, size_t nPaths)
{
    for (size_t i = 0; i < nPaths && apszPaths[i] != nullptr; i++) {
        std::string sRel = apszPaths[i];
        for (size_t n = sRel.find('\\'); n != std::string::npos; n = sRel.find('\\', n + 1))
            ASSERT_TRUE(UtlCreateDir((kOlderDir + "\\" + sRel.substr(0, n)).c_str())) << sRel;
        if (sRel.back() != '\\')
            PutFile(kOlderDir + "\\" + sRel, sRel);
    }
}

// Data of the user deeper in the older folder, which the takeover does not carry, keep the folder whole; the
// warning names it, and the older version's shortcuts and entry go all the same. Files and folders only
// named like data do not keep it.
struct NestedCase {
    const char *pszName;
    const char *apszPaths[3]; // relative to the older folder; a final backslash makes a folder
    bool bKept;
};
static const NestedCase kNested[] = {
    {"a plan two levels down", {"Projekty\\Stare\\dom.sc1"}, true},
    {"an archived catalogue", {"Katalogy\\Archiv\\stary.kmc"}, true},
    {"a catalogue elsewhere under a packaged name", {"Zaloha\\TvAgreg.kmc"}, true},
    {"an extension in capitals", {"Projekty\\DOM.SC1"}, true},
    {"names that only begin like data",
     {"x.sc1x", "Katalogy\\Archiv\\stary.kmcx", "Projekty\\dom.sc1.bak"},
     false},
    {"folders named like data", {"y.sc1\\", "Katalogy\\z.kmc\\", "Projekty\\w.sc1\\notes.txt"}, false},
};

TEST_F(OlderVersion, DataTheTakeoverDidNotCarryKeepTheOlderFolder)
{
    for (const NestedCase &c : kNested) {
        SCOPED_TRACE(c.pszName);
        TearDown();
        SetUp();
        PutInOlder(c.apszPaths, 3);
        PutFile(OlderLink(FOLDER_PROGRAMS), "older link");
        PutFile(OlderLink(FOLDER_DESKTOP), "older link");
        std::string sReport = Upgrade();
        EXPECT_EQ("my plan", ReadBytes(kNewDir + "\\Plan.sc1"));
        EXPECT_FALSE(Exists(OlderLink(FOLDER_PROGRAMS)));
        EXPECT_FALSE(Exists(OlderLink(FOLDER_DESKTOP)));
        EXPECT_FALSE(InstallFindOlder(NULL, 0));
        if (!c.bKept) {
            EXPECT_EQ(Text(IDS_DONE), sReport);
            EXPECT_FALSE(Exists(kOlderDir));
            continue;
        }
        EXPECT_EQ(Text(IDS_DONE) + Formatted(IDS_DATA_LEFT, kOlderDir.c_str()), sReport);
        EXPECT_EQ("my plan", ReadBytes(kOlderDir + "\\Plan.sc1"));
        EXPECT_EQ("my catalogue", ReadBytes(kOlderDir + "\\Katalogy\\Mine.kmc"));
        EXPECT_EQ(c.apszPaths[0], ReadBytes(kOlderDir + "\\" + c.apszPaths[0]));
    }
}

// A folder left where a data file goes is no place to copy into: the takeover fails and nothing is removed.
TEST_F(OlderVersion, AFolderInTheWayOfADataFileFailsTheTakeover)
{
    ASSERT_TRUE(UtlCreateDir((std::string(kNewDir) + "\\Plan.sc1").c_str()));
    EXPECT_EQ(Text(IDS_INCOMPLETE) + Text(IDS_NO_TAKEOVER), Upgrade());
    EXPECT_FALSE(Exists(std::string(kNewDir) + "\\Plan.sc1\\Plan.sc1"));
    EXPECT_EQ("my plan", ReadBytes(std::string(kOlderDir) + "\\Plan.sc1"));
    EXPECT_EQ("my catalogue", ReadBytes(std::string(kNewDir) + "\\Katalogy\\Mine.kmc"));
}

// An older entry that carries this version's display name, however spelt, never costs this version its
// shortcuts: they stay, and the removal warns.
TEST_F(OlderVersion, ThisVersionsShortcutsAreNeverRemoved)
{
    for (const char *pszName : {"Kalmorist 6.1", "KALMORIST 6.1", "  Kalmorist 6.1"}) {
        SCOPED_TRACE(pszName);
        SetDisplayName(pszName);
        EXPECT_EQ(Text(IDS_DONE) + Text(IDS_OLDER_LEFT), Upgrade());
        EXPECT_EQ("own link", ReadBytes(OwnLink(FOLDER_PROGRAMS)));
        EXPECT_EQ("own link", ReadBytes(OwnLink(FOLDER_DESKTOP)));
        EXPECT_EQ("my plan", ReadBytes(std::string(kNewDir) + "\\Plan.sc1"));
        Register("Kalmori6"); // the removal deleted the entry
        ResFreeAll();
        ResInit();
    }
#ifndef _WIN32
    // Nor when the look that tells the shortcut is this version's fails: it is then taken to be.
    SetDisplayName("Kalmorist 6.1");
    setenv("PLAT_FAULT", "FindFirstFileA 5 *\\Kalmorist 6.1.lnk", 1);
    std::string sReport = Upgrade();
    unsetenv("PLAT_FAULT");
    EXPECT_EQ(Text(IDS_DONE) + Text(IDS_OLDER_LEFT), sReport);
    EXPECT_EQ("own link", ReadBytes(OwnLink(FOLDER_PROGRAMS)));
    EXPECT_EQ("own link", ReadBytes(OwnLink(FOLDER_DESKTOP)));
#endif
}

// The look into the older folder goes exactly as deep as tree deletion: a tree whose last folder is as deep
// as the deletion enters is looked through and goes; one a level deeper cannot be looked through, and the
// folder stays whole with the warning.
TEST_F(OlderVersion, TheLookGoesAsDeepAsTreeDeletionAndNoDeeper)
{
    for (int nLevels : {UTL_TREE_DEPTH, UTL_TREE_DEPTH + 1}) {
        SCOPED_TRACE(nLevels);
        TearDown();
        SetUp();
        std::string sPath = kOlderDir + "\\Stare";
        ASSERT_TRUE(UtlCreateDir(sPath.c_str()));
        for (int i = 1; i < nLevels; i++) {
            sPath += "\\d";
            ASSERT_TRUE(UtlCreateDir(sPath.c_str())) << i;
        }
        PutFile(sPath + "\\f.txt", "deepest");
        std::string sReport = Upgrade();
        if (nLevels <= UTL_TREE_DEPTH) {
            EXPECT_EQ(Text(IDS_DONE), sReport);
            EXPECT_FALSE(Exists(kOlderDir));
        } else {
            EXPECT_EQ(Text(IDS_DONE) + Formatted(IDS_DATA_LEFT, kOlderDir), sReport);
            EXPECT_EQ("deepest", ReadBytes(sPath + "\\f.txt"));
            EXPECT_EQ("my plan", ReadBytes(kOlderDir + "\\Plan.sc1"));
        }
        // What tree deletion cannot reach goes here, from the bottom up.
        DeleteFileA((sPath + "\\f.txt").c_str());
        for (std::string s = sPath; s.size() > kOlderDir.size(); s = s.substr(0, s.rfind('\\')))
            RemoveDirectoryA(s.c_str());
        ResFreeAll();
        ResInit();
    }
}

// A reinstallation whose entry holds a value of another type: it is replaced by the string.
TEST_F(Installer, EntryValueOfAnotherTypeIsReplaced)
{
    Register("Kalmor61");
    HKEY hKey = ShlRegOpen(HKEY_LOCAL_MACHINE, (std::string(kArea) + "\\Kalmor61").c_str(), 1);
    ASSERT_TRUE(hKey != NULL);
    DWORD dw = 7;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(hKey, "DisplayName", 0, REG_DWORD, (const BYTE *)&dw, sizeof dw));
    ShlRegClose(hKey);
    WizResult res;
    WizResultInit(&res, IDS_DONE);
    InstallRegister(&res);
    EXPECT_EQ(Text(IDS_DONE), ResGetString(WizResultText(&res)));
    hKey = ShlRegOpen(HKEY_LOCAL_MACHINE, (std::string(kArea) + "\\Kalmor61").c_str(), 0);
    ASSERT_TRUE(hKey != NULL);
    char sz[MAX_PATH];
    EXPECT_TRUE(ShlRegGetString(hKey, "DisplayName", sz, sizeof sz));
    EXPECT_STREQ("Kalmorist 6.1", sz);
    ShlRegClose(hKey);
    UtlDeleteTree(kNewDir.c_str());
}

#ifndef _WIN32
// The steps' failures, made with the Linux platform's fault switch: what the report says, and what is left
// on the machine afterwards.

static const char kAppDir[] = "C:\\Program Files\\Kalmor61";

static std::string ModulePath(const char *pszName)
{
    char szDir[MAX_PATH];
    EXPECT_TRUE(UtlGetModuleDir(szDir, sizeof szDir));
    return std::string(szDir) + "\\" + pszName;
}

class InstallSteps : public Installer {
  protected:
    void SetUp() override
    {
        Installer::SetUp();
        unsetenv("PLAT_FAULT");
        UtlDeleteTree(kAppDir);
    }
    void TearDown() override
    {
        unsetenv("PLAT_FAULT");
        UtlDeleteTree(kAppDir);
        Installer::TearDown();
    }
    static std::string Run(void (*pfnStep)(WizResult *), const char *pszFault)
    {
        WizResult res;
        WizResultInit(&res, IDS_DONE);
        if (pszFault != nullptr)
            setenv("PLAT_FAULT", pszFault, 1);
        pfnStep(&res);
        unsetenv("PLAT_FAULT");
        return ResGetString(WizResultText(&res));
    }
};

struct RegisterCase {
    const char *pszName;
    bool bInstalledBefore;
    const char *pszFault;
    int nMessage; // 0: the step succeeds
    bool bEntryAfter, bFolderAfter;
};
static const RegisterCase kRegister[] = {
    {"first installation", false, nullptr, 0, true, true},
    {"entry cannot be made", false, "RegCreateKeyExA 5 *\\Uninstall\\Kalmor61", IDS_NO_ENTRY, false, false},
    {"folder cannot be made", false, "CreateDirectoryA 5 C:\\Program Files\\Kalmor61", IDS_NO_FOLDER, false,
     false},
    {"uninstaller cannot be copied", false, "CopyFileA 5 *\\Kalmor61\\Uninst.exe", IDS_NO_COPY, false, false},
    {"reinstallation, uninstaller cannot be copied", true, "CopyFileA 5 *\\Kalmor61\\Uninst.exe", IDS_NO_COPY,
     true, true},
};

TEST_F(InstallSteps, RegisterReportsItsFailureAndUndoesOnlyAFirstInstallation)
{
    for (const RegisterCase &c : kRegister) {
        SCOPED_TRACE(c.pszName);
        Forget("Kalmor61");
        UtlDeleteTree(kAppDir);
        if (c.bInstalledBefore) {
            Register("Kalmor61");
            ASSERT_TRUE(UtlCreateDir(kAppDir));
        }
        std::string sReport = Run(InstallRegister, c.pszFault);
        if (c.nMessage == 0) {
            EXPECT_EQ(Text(IDS_DONE), sReport);
            HKEY hKey = ShlRegOpen(HKEY_LOCAL_MACHINE, (std::string(kArea) + "\\Kalmor61").c_str(), 0);
            ASSERT_TRUE(hKey != NULL);
            char sz[MAX_PATH];
            EXPECT_TRUE(ShlRegGetString(hKey, "UninstallString", sz, sizeof sz));
            EXPECT_STREQ("C:\\Program Files\\Kalmor61\\Uninst.exe", sz);
            ShlRegClose(hKey);
            EXPECT_TRUE(Exists(std::string(kAppDir) + "\\Uninst.exe"));
        } else {
            const char *pszArg = c.nMessage == IDS_NO_FOLDER ? kAppDir : nullptr;
            std::string sSource = ModulePath("Uninst.exe");
            if (c.nMessage == IDS_NO_COPY)
                pszArg = sSource.c_str();
            EXPECT_EQ(Text(IDS_CANCELLED) +
                          (pszArg != nullptr ? Formatted(c.nMessage, pszArg) : Text(c.nMessage)),
                      sReport);
        }
        EXPECT_EQ(c.bEntryAfter, InstallIsInstalled() == 1);
        EXPECT_EQ(c.bFolderAfter, Exists(kAppDir));
        ResFreeAll();
        ResInit();
    }
}

struct FilesCase {
    const char *pszName;
    const char *pszFault;
    int nMessage;
    const char *pszArg; // the file named in the message
};
static const FilesCase kFiles[] = {
    {"a file cannot be made", "CreateFileA 5 *\\Kalmor61\\Kalmori.cnt*", IDS_NO_CREATE,
     "C:\\Program Files\\Kalmor61\\Kalmori.cnt"},
    {"a file cannot be written", "WriteFile 112 *\\Kalmor61\\Kalmori.cnt*", IDS_NO_WRITE,
     "C:\\Program Files\\Kalmor61\\Kalmori.cnt"},
};

// The package beside the test program: 48 entries of a few bytes, and its sum unless told.
static void MakePackageBesideProgram(const std::string &sPackage, bool bSum = true)
{
    const char *pszSource = "C:\\entry.txt";
    ASSERT_TRUE(WriteBytes(pszSource, "entry"));
    int hPkg = PkgOpen(sPackage.c_str(), 1);
    ASSERT_NE(0, hPkg);
    for (int i = 0; i < 48; i++)
        ASSERT_EQ(PKG_OK, PkgPackFile(hPkg, pszSource));
    PkgClose(hPkg);
    DeleteFileA(pszSource);
    if (bSum) {
        ASSERT_EQ(PKG_OK, PkgAddSum(sPackage.c_str()));
    }
}

// The check of the package says what it found, with the package's path, under the header of an installation
// that changed nothing; a whole package, with or without its sum, passes, and so does one that does not open
// (the unpacking says so, as before).
TEST_F(InstallSteps, TheCheckSaysThePackageIsDamagedAndHowOrPassesIt)
{
    std::string sPackage = ModulePath("Install.pkg");
    MakePackageBesideProgram(sPackage);
    const std::string sGood = ReadBytes(sPackage);
    MakePackageBesideProgram(sPackage, false);
    const std::string sNoSum = ReadBytes(sPackage);
    const size_t nSum = sGood.size() - sNoSum.size();
    std::string sFlipped = sGood;
    sFlipped[32 * 10 + 5 * 9 + 2] ^= 1; // entry 10's data
    std::string sSumFlipped = sGood;
    sSumFlipped[sNoSum.size() + 40] ^= 0x80;
    struct {
        const char *pszName;
        std::string sBytes;
        int nMessage; // 0: it passes
    } aCases[] = {
        {"whole, with its sum", sGood, 0},
        {"whole, without a sum", sNoSum, 0},
        {"a bit of an entry flipped", sFlipped, IDS_PKG_DAMAGED},
        {"a bit of the sum flipped", sSumFlipped, IDS_PKG_SUM},
        {"cut inside the sum", sGood.substr(0, sGood.size() - nSum / 2), IDS_PKG_SHORT},
        {"cut at the sum's start (its entries whole)", sNoSum, 0},
        {"cut before the last entry", sNoSum.substr(0, 47 * 37), IDS_PKG_SHORT},
        {"bytes after the sum", sGood + "\r\n", IDS_PKG_EXTRA},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszName);
        ASSERT_TRUE(WriteBytes(sPackage, c.sBytes));
        std::string sReport = Run(InstallCheck, nullptr);
        if (c.nMessage == 0)
            EXPECT_EQ(Text(IDS_DONE), sReport);
        else
            EXPECT_EQ(Text(IDS_CANCELLED) + Formatted(c.nMessage, sPackage.c_str()), sReport);
        ResFreeAll();
        ResInit();
    }
    DeleteFileA(sPackage.c_str());
    EXPECT_EQ(Text(IDS_DONE), Run(InstallCheck, nullptr));
#ifndef _WIN32
    MakePackageBesideProgram(sPackage);
    EXPECT_EQ(Text(IDS_CANCELLED) + Formatted(IDS_PKG_UNREADABLE, sPackage.c_str()),
              Run(InstallCheck, "LZRead 23 *\\Install.pkg"));
    DeleteFileA(sPackage.c_str());
#endif
}

TEST_F(InstallSteps, FilesNameTheFileOrPackageThatFailed)
{
    std::string sPackage = ModulePath("Install.pkg");
    MakePackageBesideProgram(sPackage);
    for (const FilesCase &c : kFiles) {
        SCOPED_TRACE(c.pszName);
        UtlDeleteTree(kAppDir);
        ASSERT_TRUE(UtlCreateDir(kAppDir));
        ASSERT_EQ(Text(IDS_DONE), Run(InstallFolders, nullptr));
        std::string sReport = Run(InstallFiles, c.pszFault);
        EXPECT_EQ(Text(IDS_INCOMPLETE) + Formatted(c.nMessage, c.pszArg), sReport);
        EXPECT_FALSE(Exists(std::string(kAppDir) + "\\Kalmori.cnt")); // no partial file is left
        ResFreeAll();
        ResInit();
    }
    EXPECT_EQ(Text(IDS_DONE), Run(InstallFiles, nullptr));
    EXPECT_TRUE(Exists(std::string(kAppDir) + "\\Kalmori.cnt"));
    DeleteFileA(sPackage.c_str());
}
// A first installation keeps the user's data files it finds in the application folder (an uninstallation
// that kept the data leaves them there); a reinstallation replaces them, as its page warns. A data file the
// platform cannot tell about fails the step rather than being passed over.
TEST_F(InstallSteps, AFirstInstallationKeepsTheDataFilesItFinds)
{
    std::string sPackage = ModulePath("Install.pkg");
    MakePackageBesideProgram(sPackage);
    std::string sData = std::string(kAppDir) + "\\Katalogy\\TvAgreg.kmc";
    std::string sOther = std::string(kAppDir) + "\\Katalogy\\TvAgreg.bak";
    struct {
        bool bInstalledBefore;
        const char *pszFault;
        std::string sReport, sData, sOther;
    } aCases[] = {
        {false, nullptr, Text(IDS_DONE), "mine", "entry"},
        {true, nullptr, Text(IDS_DONE), "entry", "entry"},
        {false, "GetFileAttributesA 5 *\\Katalogy\\TvAgreg.kmc",
         Text(IDS_INCOMPLETE) + Formatted(IDS_NO_CREATE, sData.c_str()), "mine", "mine"},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(std::string(c.bInstalledBefore ? "installed" : "first") + (c.pszFault ? " fault" : ""));
        Forget("Kalmor61");
        UtlDeleteTree(kAppDir);
        if (c.bInstalledBefore)
            Register("Kalmor61");
        ASSERT_EQ(Text(IDS_DONE), Run(InstallRegister, nullptr));
        ASSERT_EQ(Text(IDS_DONE), Run(InstallFolders, nullptr));
        PutFile(sData, "mine");
        PutFile(sOther, "mine");
        EXPECT_EQ(c.sReport, Run(InstallFiles, c.pszFault));
        EXPECT_EQ(c.sData, ReadBytes(sData));
        EXPECT_EQ(c.sOther, ReadBytes(sOther)); // a packaged file that is no user data is replaced
        EXPECT_EQ(c.pszFault != nullptr ? "<cannot open>" : "entry",
                  ReadBytes(std::string(kAppDir) + "\\Modely\\Zahrada.pdf"));
        ResFreeAll();
        ResInit();
    }
    Forget("Kalmor61");
    DeleteFileA(sPackage.c_str());
}

// A search that fails for another reason than "not found" is a failed takeover: the older version stays.
TEST_F(OlderVersion, SearchErrorsFailTheTakeover)
{
    for (const char *pszFault : {"FindFirstFileA 5 *\\Kalmori6\\Katalogy\\*.kmc",
                                 "FindFirstFileA 1117 *\\Kalmori6\\*.sc1",
                                 "FindNextFileA 5 *\\Kalmori6\\*.sc1"}) {
        SCOPED_TRACE(pszFault);
        setenv("PLAT_FAULT", pszFault, 1);
        std::string sReport = Upgrade();
        unsetenv("PLAT_FAULT");
        EXPECT_EQ(Text(IDS_INCOMPLETE) + Text(IDS_NO_TAKEOVER), sReport);
        EXPECT_EQ("my catalogue", ReadBytes(std::string(kOlderDir) + "\\Katalogy\\Mine.kmc"));
        EXPECT_EQ("my plan", ReadBytes(std::string(kOlderDir) + "\\Plan.sc1"));
        ResFreeAll();
        ResInit();
    }
    // Not found is nothing to take over.
    UtlDeleteTree((std::string(kOlderDir) + "\\Katalogy").c_str());
    EXPECT_EQ(Text(IDS_DONE), Upgrade());
    EXPECT_EQ("my plan", ReadBytes(std::string(kNewDir) + "\\Plan.sc1"));
}

// The look before the removal, under failures: whatever it cannot see through keeps the older folder whole,
// with the warning. "Not found" is a failure where the thing is there: the older folder itself, a sub-folder
// its parent has just listed, the plans the takeover's search did not find. ("?" matches the look's own
// searches, "\*", and not tree deletion's, "\*.*".)
struct LookCase {
    const char *pszName;
    const char *pszFault;
    bool bInTakeOver; // the fault acts while the takeover runs, else while the removal does
    bool bNested;     // Projekty\dom.sc1 lies in the older folder
};
static const LookCase kLook[] = {
    {"the older folder not found", "FindFirstFileA 3 *\\Kalmori6\\?", false, true},
    {"a listed sub-folder not found", "FindFirstFileA 2 *\\Kalmori6\\Projekty\\?", false, true},
    {"a search that breaks off", "FindNextFileA 5 *\\Kalmori6\\Projekty\\?", false, true},
    {"a sub-folder that cannot be searched", "FindFirstFileA 5 *\\Kalmori6\\Projekty\\?", false, true},
    {"plans the takeover did not find", "FindFirstFileA 2 *\\Kalmori6\\*.sc1", true, false},
};

TEST_F(OlderVersion, WhatTheLookCannotSeeKeepsTheOlderFolder)
{
    for (const LookCase &c : kLook) {
        SCOPED_TRACE(c.pszName);
        TearDown();
        SetUp();
        if (c.bNested) {
            ASSERT_TRUE(UtlCreateDir((kOlderDir + "\\Projekty").c_str()));
            PutFile(kOlderDir + "\\Projekty\\dom.sc1", "my house");
        }
        WizResult res;
        WizResultInit(&res, IDS_DONE);
        if (c.bInTakeOver)
            setenv("PLAT_FAULT", c.pszFault, 1);
        InstallTakeOver(&res);
        unsetenv("PLAT_FAULT");
        ASSERT_TRUE(WizResultOk(&res));
        if (!c.bInTakeOver)
            setenv("PLAT_FAULT", c.pszFault, 1);
        InstallRemoveOlder(&res);
        unsetenv("PLAT_FAULT");
        EXPECT_EQ(Text(IDS_DONE) + Formatted(IDS_DATA_LEFT, kOlderDir.c_str()),
                  ResGetString(WizResultText(&res)));
        EXPECT_EQ("my plan", ReadBytes(kOlderDir + "\\Plan.sc1"));
        EXPECT_EQ("my catalogue", ReadBytes(kOlderDir + "\\Katalogy\\Mine.kmc"));
        if (c.bNested) {
            EXPECT_EQ("my house", ReadBytes(kOlderDir + "\\Projekty\\dom.sc1"));
        }
        EXPECT_FALSE(InstallFindOlder(NULL, 0));
    }
    // An older folder that is truly gone holds nothing.
    TearDown();
    SetUp();
    WizResult res;
    WizResultInit(&res, IDS_DONE);
    InstallTakeOver(&res);
    ASSERT_TRUE(UtlDeleteTree(kOlderDir.c_str()));
    InstallRemoveOlder(&res);
    EXPECT_EQ(Text(IDS_DONE), ResGetString(WizResultText(&res)));
}

// The removal acts only on the older version whose data the takeover handled: one the takeover did not
// find (its entry could not be read then) stays, with a warning.
TEST_F(OlderVersion, RemovalSparesAnOlderVersionTheTakeoverDidNotHandle)
{
    WizResult res;
    WizResultInit(&res, IDS_DONE);
    setenv("PLAT_FAULT", "RegOpenKeyExA 1016 *\\Uninstall\\Kalmori6", 1);
    InstallTakeOver(&res);
    unsetenv("PLAT_FAULT");
    ASSERT_TRUE(WizResultOk(&res));
    InstallRemoveOlder(&res);
    EXPECT_EQ(Text(IDS_DONE) + Text(IDS_OLDER_LEFT), ResGetString(WizResultText(&res)));
    EXPECT_EQ("my catalogue", ReadBytes(std::string(kOlderDir) + "\\Katalogy\\Mine.kmc"));
    EXPECT_EQ("my plan", ReadBytes(std::string(kOlderDir) + "\\Plan.sc1"));
    EXPECT_TRUE(InstallFindOlder(NULL, 0));
}

// The entry's informative values as Windows' list of programs reads them ("" for a DWORD: its number).
struct EntryValue {
    const char *pszName;
    DWORD nType;
    std::string sData;
    DWORD nData;
};

// The values of the entry as they are: name, type and data.
static std::vector<EntryValue> EntryValues()
{
    std::vector<EntryValue> a;
    HKEY hKey = ShlRegOpen(HKEY_LOCAL_MACHINE, (std::string(kArea) + "\\Kalmor61").c_str(), 0);
    if (hKey == NULL)
        return a;
    for (const char *pszName : {"UninstallString", "DisplayName", "DisplayVersion", "DisplayIcon",
                                "InstallLocation", "EstimatedSize", "NoModify", "NoRepair", "Publisher"}) {
        BYTE ab[MAX_PATH] = {0};
        DWORD nType = REG_NONE, nSize = sizeof ab - 1;
        if (RegQueryValueExA(hKey, pszName, NULL, &nType, ab, &nSize) != ERROR_SUCCESS)
            continue;
        DWORD n = 0;
        if (nType == REG_DWORD && nSize == 4)
            memcpy(&n, ab, 4);
        a.push_back({pszName, nType, nType == REG_SZ ? std::string((const char *)ab) : "", n});
    }
    ShlRegClose(hKey);
    return a;
}

static std::string Describe(const std::vector<EntryValue> &a)
{
    std::string s;
    for (const EntryValue &v : a)
        s += std::string(v.pszName) +
             (v.nType == REG_SZ ? "=\"" + v.sData + "\"" : "=dword:" + std::to_string(v.nData)) + "\n";
    return s;
}

// What the installation put into the application folder, in KB rounded up: Uninst.exe and the packaged files.
static DWORD InstalledKb()
{
    unsigned long long n = 0;
    for (int i = -1; i < 48; i++) {
        WIN32_FIND_DATAA fd;
        std::string sName = i < 0 ? "Uninst.exe" : pszInstallFiles[i];
        HANDLE h = FindFirstFileA((std::string(kAppDir) + "\\" + sName).c_str(), &fd);
        EXPECT_NE(INVALID_HANDLE_VALUE, h) << sName;
        if (h == INVALID_HANDLE_VALUE)
            continue;
        n += fd.nFileSizeLow;
        FindClose(h);
    }
    return (DWORD)((n + 1023) / 1024);
}

static void InstallAll(WizResult *pResult)
{
    InstallRegister(pResult);
    if (WizResultOk(pResult))
        InstallFolders(pResult);
    if (WizResultOk(pResult))
        InstallFiles(pResult);
}

// The entry Windows shows: besides UninstallString and DisplayName, the version, the program's icon, the
// folder, the size of the installed files, no Modify or Repair, and a Publisher only when one is given.
TEST_F(InstallSteps, TheEntryTellsWhatIsInstalled)
{
    std::string sPackage = ModulePath("Install.pkg");
    MakePackageBesideProgram(sPackage);
    ASSERT_EQ(Text(IDS_DONE), Run(InstallAll, nullptr));
    PutFile(std::string(kAppDir) + "\\Uninst.exe", std::string(5000, 'u')); // 5000 + 48 x 5 bytes: 5.1 KB
    ASSERT_EQ(6u, InstalledKb());
    for (const char *pszPublisher : {"", "Kalmor Soft"}) {
        SCOPED_TRACE(pszPublisher);
        InstallDescribe(pszPublisher);
        std::vector<EntryValue> aWant = {
            {"UninstallString", REG_SZ, "C:\\Program Files\\Kalmor61\\Uninst.exe", 0},
            {"DisplayName", REG_SZ, "Kalmorist 6.1", 0},
            {"DisplayVersion", REG_SZ, "6.1", 0},
            {"DisplayIcon", REG_SZ, "C:\\Program Files\\Kalmor61\\Kalmori.exe,0", 0},
            {"InstallLocation", REG_SZ, "C:\\Program Files\\Kalmor61", 0},
            {"EstimatedSize", REG_DWORD, "", 6},
            {"NoModify", REG_DWORD, "", 1},
            {"NoRepair", REG_DWORD, "", 1},
        };
        if (pszPublisher[0] != '\0')
            aWant.push_back({"Publisher", REG_SZ, pszPublisher, 0});
        EXPECT_EQ(Describe(aWant), Describe(EntryValues()));
    }
    DeleteFileA(sPackage.c_str());
}

// The informative values are no part of the installation: one that cannot be written (or an entry that does
// not open for them) is left out, the others are written, and the whole installation still succeeds. A size
// that cannot be told is left out too, rather than said smaller than it is.
TEST_F(InstallSteps, AnInformativeValueThatCannotBeWrittenFailsNothing)
{
    std::string sPackage = ModulePath("Install.pkg");
    MakePackageBesideProgram(sPackage);
    ASSERT_EQ(Text(IDS_DONE), Run(InstallAll, nullptr));
    InstallDescribe("Kalmor Soft");
    const std::vector<EntryValue> aAll = EntryValues();
    ASSERT_EQ(9u, aAll.size());
    struct {
        const char *pszFault;
        const char *pszLeftOut; // "": none
    } aCases[] = {
        {"RegSetValueExA 5 *\\Uninstall\\Kalmor61\\DisplayVersion", "DisplayVersion"},
        {"RegSetValueExA 1016 *\\Uninstall\\Kalmor61\\DisplayIcon", "DisplayIcon"},
        {"RegSetValueExA 5 *\\Uninstall\\Kalmor61\\InstallLocation", "InstallLocation"},
        {"RegSetValueExA 112 *\\Uninstall\\Kalmor61\\EstimatedSize", "EstimatedSize"},
        {"RegSetValueExA 5 *\\Uninstall\\Kalmor61\\NoModify", "NoModify"},
        {"RegSetValueExA 5 *\\Uninstall\\Kalmor61\\NoRepair", "NoRepair"},
        {"RegSetValueExA 5 *\\Uninstall\\Kalmor61\\Publisher", "Publisher"},
        {"RegQueryValueExA 1016 *\\Uninstall\\Kalmor61\\DisplayIcon", "DisplayIcon"},
        {"FindFirstFileA 5 *\\Kalmor61\\Modely\\Okno.pdf", "EstimatedSize"}, // a size that cannot be told
        {"FindFirstFileA 267 *\\Kalmor61\\Modely\\Okno.pdf", ""}, // its folder a file: the file counts nothing
        {"FindFirstFileA 123 *\\Kalmor61\\Modely\\Okno.pdf", ""}, // the same under Wine
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszFault);
        Forget("Kalmor61");
        ASSERT_EQ(Text(IDS_DONE), Run(InstallAll, nullptr));
        setenv("PLAT_FAULT", c.pszFault, 1);
        InstallDescribe("Kalmor Soft");
        unsetenv("PLAT_FAULT");
        std::vector<EntryValue> aWant;
        for (const EntryValue &v : aAll)
            if (strcmp(v.pszName, c.pszLeftOut) != 0)
                aWant.push_back(v);
        EXPECT_EQ(Describe(aWant), Describe(EntryValues()));
        ResFreeAll();
        ResInit();
    }
    // The whole installation under a fault of each kind still reports success.
    for (const char *pszFault : {"RegSetValueExA 5 *\\Uninstall\\Kalmor61\\DisplayVersion",
                                 "RegSetValueExA 5 *\\Uninstall\\Kalmor61\\NoRepair"}) {
        SCOPED_TRACE(pszFault);
        Forget("Kalmor61");
        InstallParams params = {nullptr, nullptr, 1};
        params.pInstall = &params.nInstallYes;
        setenv("PLAT_FAULT", pszFault, 1);
        InstallPerform(&params);
        unsetenv("PLAT_FAULT");
        EXPECT_TRUE(InstallIsInstalled());
        EXPECT_EQ(szPublisher[0] != '\0' ? 8u : 7u, EntryValues().size());
        ResFreeAll();
        ResInit();
    }
    DeleteFileA(sPackage.c_str());
}

// A reinstallation whose write of a value fails keeps the value the entry had.
TEST_F(InstallSteps, AFailedWriteKeepsTheEntrysValues)
{
    Register("Kalmor61");
    HKEY hKey = ShlRegOpen(HKEY_LOCAL_MACHINE, (std::string(kArea) + "\\Kalmor61").c_str(), 1);
    ASSERT_TRUE(hKey != NULL);
    ASSERT_TRUE(ShlRegSetString(hKey, "UninstallString", "C:\\Old\\Uninst.exe"));
    ASSERT_TRUE(ShlRegSetString(hKey, "DisplayName", "Kalmorist 6.1 (old)"));
    ShlRegClose(hKey);
    for (const char *pszValue : {"UninstallString", "DisplayName"}) {
        SCOPED_TRACE(pszValue);
        std::string sFault = std::string("RegSetValueExA 5 *\\Uninstall\\Kalmor61\\") + pszValue;
        EXPECT_EQ(Text(IDS_CANCELLED) + Text(IDS_NO_ENTRY), Run(InstallRegister, sFault.c_str()));
        hKey = ShlRegOpen(HKEY_LOCAL_MACHINE, (std::string(kArea) + "\\Kalmor61").c_str(), 0);
        ASSERT_TRUE(hKey != NULL);
        char sz[MAX_PATH];
        EXPECT_TRUE(ShlRegGetString(hKey, "DisplayName", sz, sizeof sz));
        EXPECT_STREQ("Kalmorist 6.1 (old)", sz);
        EXPECT_TRUE(ShlRegGetString(hKey, "UninstallString", sz, sizeof sz));
        ShlRegClose(hKey);
        ResFreeAll();
        ResInit();
    }
}
#endif

