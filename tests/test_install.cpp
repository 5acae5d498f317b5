// test_install.cpp - the installer's own logic apart from the wizard: the result report, which pages are
// offered from what the registry holds, and which older version is found. The whole installation is
// covered by the scenario tests (tests/scenarios/).

#include "charstr.h"
#include "install.h"
#include "resource.h"
#include "shlutl.h"
#include "wizard.h"
#include "wizutl.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>

using ::testing::ExitedWithCode;

static const char kArea[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

static std::string Text(int nId)
{
    char sz[512];
    return LoadStringA(GetModuleHandleA(NULL), (UINT)nId, sz, sizeof sz) > 0 ? sz : "";
}

static std::string Formatted(int nId, const char *pszArg)
{
    std::string s = Text(nId);
    size_t n = s.find("%s");
    if (n != std::string::npos)
        s.replace(n, 2, pszArg);
    return s;
}

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
    int nSecondKind;       // kind of record 1 (WIZ_PAGE_END when only the welcome page is offered)
    int nSecondText;       // its text id, 0 for none
    int nChecked;          // its initial check-box state
    bool bInstallOnPage;   // pInstall points at the reinstall page's state
    bool bRemoveOlderSet;  // pRemoveOlder is set
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
    EXPECT_EXIT(InstallShortcuts(NULL), ExitedWithCode(3), "Assertion failed: pResult != NULL, file app.INSTALL");
    char szName[4];
    EXPECT_EXIT(InstallFindOlder(szName, 0), ExitedWithCode(3),
                "Assertion failed: szShortName == NULL .. nSize > 0, file app.INSTALL");
}
