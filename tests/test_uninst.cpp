// test_uninst.cpp - the uninstaller's logic apart from the wizard: the arguments it gives its copy, the
// folder it takes from the uninstall entry, and what the removal deletes, keeps and reports. The whole run,
// with the copy in the temporary folder, is covered by the scenario tests (tests/scenarios/).

#include "charstr.h"
#include "product.h"
#include "resource.h"
#include "shlutl.h"
#include "uninst.h"
#include "utils.h"
#include "wizard.h"
#include "wizutl.h"

#include "testkit.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

static const char kEntry[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kalmor61";

static const std::string kApp = ProgramFiles() + "\\Kalmor61";

static std::string Link(int nFolder)
{
    return ShortcutPath(nFolder, "Kalmorist 6.1.lnk");
}

static bool EntryThere()
{
    HKEY hKey = ShlRegOpen(HKEY_LOCAL_MACHINE, kEntry, 0);
    ShlRegClose(hKey);
    return hKey != NULL;
}

static void SetEntry(const char *pszUninstallString)
{
    HKEY hKey = ShlRegCreate(HKEY_LOCAL_MACHINE, kEntry);
    ASSERT_TRUE(hKey != NULL);
    EXPECT_TRUE(ShlRegSetString(hKey, "UninstallString", pszUninstallString));
    EXPECT_TRUE(ShlRegSetString(hKey, "DisplayName", "Kalmorist 6.1"));
    ShlRegClose(hKey);
}

// ---------------------------------------------------------------------------------------------------------
// Arguments and the entry

struct CopyArgsCase {
    const char *pszLine;
    int nResult;
    DWORD dwParent;
    const char *pszDir;
};
static const CopyArgsCase kCopyArgs[] = {
    {"\"C:\\T\\Kalmor61-Uninst-7.exe\" /copy 1234 \"C:\\Program Files\\Kalmor61\"", 1, 1234,
     "C:\\Program Files\\Kalmor61"},
    {"C:\\T\\u.exe /COPY 7 \"C:\\A B\"  ", 1, 7, "C:\\A B"},
    {"u.exe\t/copy\t4294967295\t\"D:\\x\"", 1, 4294967295u, "D:\\x"},
    {"u.exe", 0, 0, ""},
    {"\"C:\\Program Files\\Kalmor61\\Uninst.exe\"", 0, 0, ""},
    {"u.exe /copy", 0, 0, ""},
    {"u.exe /copy 12", 0, 0, ""},
    {"u.exe /copy 12 C:\\A", 0, 0, ""},           // the folder is always quoted
    {"u.exe /copy 12 \"C:\\A", 0, 0, ""},         // unterminated
    {"u.exe /copy 12 \"\"", 0, 0, ""},            // empty
    {"u.exe /copy 12 \"C:\\A\" more", 0, 0, ""},  // anything after it
    {"u.exe /copy 4294967296 \"C:\\A\"", 0, 0, ""}, // no process id that large
    {"u.exe /copy 1x \"C:\\A\"", 0, 0, ""},
    {"u.exe /copyx 1 \"C:\\A\"", 0, 0, ""},
    {"u.exe copy 1 \"C:\\A\"", 0, 0, ""},
};

TEST(UninstallerArgs, TheCopysArgumentsAreReadExactlyOrNotAtAll)
{
    for (const auto &c : kCopyArgs) {
        DWORD dwParent = 99;
        char szDir[MAX_PATH] = "junk";
        EXPECT_EQ(c.nResult, UninstParseCopyArgs(c.pszLine, &dwParent, szDir, sizeof szDir)) << c.pszLine;
        EXPECT_EQ(c.dwParent, dwParent) << c.pszLine;
        EXPECT_STREQ(c.pszDir, szDir) << c.pszLine;
    }
    char szSmall[6];
    DWORD dwParent;
    EXPECT_EQ(0, UninstParseCopyArgs("u /copy 1 \"C:\\Abc\"", &dwParent, szSmall, sizeof szSmall));
    EXPECT_STREQ("", szSmall);
}

struct UserDataCase {
    const char *pszPath;
    int bData;
};
static const UserDataCase kUserData[] = {
    {"Katalogy\\StavPrv.kmc", 1}, {"KATALOGY\\Mine.KMC", 1}, {"Plan.sc1", 1},
    {"Katalogy\\StavPrv.bak", 0}, {"Katalogy\\Plan.sc1", 0}, {"Modely\\x.kmc", 0},
    {"x.kmc", 0},                 {"Kalmori.exe", 0},        {"Modely\\Stul.gim", 0},
};

TEST(UninstallerData, TheUsersDataIsWhatTheTakeoverPatternsMatch)
{
    for (const auto &c : kUserData)
        EXPECT_EQ(c.bData, ProdIsUserData(c.pszPath)) << c.pszPath;
    int nData = 0;
    for (int i = 0; pszInstallFiles[i] != NULL; i++)
        nData += ProdIsUserData(pszInstallFiles[i]);
    EXPECT_EQ(2, nData); // the two catalogues the package brings
}

class Uninstaller : public ::testing::Test {
  protected:
    void SetUp() override
    {
        hWizInstance = GetModuleHandleA(NULL);
        ResInit();
        Clean();
    }
    void TearDown() override
    {
        Clean();
        ResFreeAll();
    }
    static void Clean()
    {
        for (int i = 0; pszInstallFiles[i] != NULL; i++)
            SetFileAttributesA((kApp + "\\" + pszInstallFiles[i]).c_str(), FILE_ATTRIBUTE_NORMAL);
        UtlDeleteTree(kApp.c_str());
        UtlDeleteFile(Link(FOLDER_PROGRAMS).c_str());
        UtlDeleteFile(Link(FOLDER_DESKTOP).c_str());
        ShlRegDeleteKey(HKEY_LOCAL_MACHINE, kEntry);
    }
    // What a finished installation leaves: the entry, the folders, the 48 files, the uninstaller and the
    // two shortcuts.
    static void Install()
    {
        SetEntry((kApp + "\\Uninst.exe").c_str());
        ASSERT_TRUE(UtlCreateDir(kApp.c_str()));
        for (int i = 0; pszInstallDirs[i] != NULL; i++)
            ASSERT_TRUE(UtlCreateDir((kApp + "\\" + pszInstallDirs[i]).c_str()));
        for (int i = 0; pszInstallFiles[i] != NULL; i++)
            PutFile(kApp + "\\" + pszInstallFiles[i], pszInstallFiles[i]);
        PutFile(kApp + "\\Uninst.exe", "uninstaller");
        PutFile(Link(FOLDER_PROGRAMS), "link");
        PutFile(Link(FOLDER_DESKTOP), "link");
    }
    static std::string Remove(int bDeleteData)
    {
        WizResult res;
        WizResultInit(&res, IDS_UN_DONE);
        UninstRemove(kApp.c_str(), bDeleteData, &res);
        return ResGetString(WizResultText(&res));
    }
    // The files of the application folder, relative to it, sorted.
    static std::vector<std::string> Left()
    {
        return FilesUnder(kApp);
    }
};

// The wizard's configuration: the uninstaller's title and button labels, each in its place.
TEST_F(Uninstaller, ConfigurationHoldsTheUninstallersTitleAndButtons)
{
    WizConfig config = {};
    WizConfigLoad(&config, IDS_UN_TITLE);
    EXPECT_EQ(1, config.nReserved);
    const struct {
        int hText, nId;
    } aTexts[] = {{config.hTitle, IDS_UN_TITLE},   {config.hBack, IDS_UN_BACK},
                  {config.hNext, IDS_UN_NEXT},     {config.hFinish, IDS_UN_FINISH},
                  {config.hCancel, IDS_UN_CANCEL}, {config.hClose, IDS_UN_CLOSE}};
    for (const auto &t : aTexts) {
        ASSERT_TRUE(ResGetString(t.hText) != NULL) << t.nId;
        EXPECT_EQ(Text(t.nId), ResGetString(t.hText)) << t.nId;
    }
}

struct EntryCase {
    const char *pszValue; // null: no entry
    int nState;
    const char *pszDir; // relative to the program-files folder; null for none
};

TEST_F(Uninstaller, TheEntryNamesTheFolderOnlyWhenItIsTheInstallers)
{
    const std::string pf = ProgramFiles();
    const EntryCase kCases[] = {
        {NULL, UNINST_NOT_INSTALLED, ""},
        {"\\Kalmor61\\Uninst.exe", UNINST_READY, "\\Kalmor61"},
        {"\\KALMOR61\\uninst.EXE", UNINST_READY, "\\KALMOR61"},
        {"\"\\Kalmor61\\Uninst.exe\"", UNINST_READY, "\\Kalmor61"}, // quoted
        {"\\Kalmor61\\Other.exe", UNINST_OTHER_DIR, "\\Kalmor61"},
        {"\\Uninst.exe", UNINST_OTHER_DIR, ""},                      // the program-files folder itself
        {"\\Kalmor61\\..\\Uninst.exe", UNINST_OTHER_DIR, "\\Kalmor61\\.."},
        {"", UNINST_OTHER_DIR, NULL},
    };
    for (const auto &c : kCases) {
        ShlRegDeleteKey(HKEY_LOCAL_MACHINE, kEntry);
        std::string sValue;
        if (c.pszValue != NULL) {
            sValue = c.pszValue;
            if (!sValue.empty())
                sValue.insert(sValue[0] == '"' ? 1 : 0, pf);
            SetEntry(sValue.c_str());
        }
        char szDir[MAX_PATH];
        EXPECT_EQ(c.nState, UninstFindApp(szDir, sizeof szDir)) << sValue;
        if (c.nState == UNINST_READY) {
            EXPECT_EQ(pf + c.pszDir, szDir) << sValue;
        }
    }
#ifndef _WIN32
    // A registry that fails on the entry tells nothing: the application is not said to be missing.
    SetEntry((pf + "\\Kalmor61\\Uninst.exe").c_str());
    for (const char *pszError : {"1011", "1016", "5"}) {
        setenv("PLAT_FAULT", (std::string("RegOpenKeyExA ") + pszError + " *\\Uninstall\\Kalmor61").c_str(),
               1);
        char szAny[MAX_PATH];
        EXPECT_EQ(UNINST_NO_REGISTRY, UninstFindApp(szAny, sizeof szAny)) << pszError;
        unsetenv("PLAT_FAULT");
    }
#endif
    // A value of another folder's name, or a relative one, is never taken for the application folder.
    SetEntry("C:\\Windows\\Uninst.exe");
    char szDir[MAX_PATH];
    EXPECT_EQ(UNINST_OTHER_DIR, UninstFindApp(szDir, sizeof szDir));
    SetEntry("Kalmor61\\Uninst.exe");
    EXPECT_EQ(UNINST_OTHER_DIR, UninstFindApp(szDir, sizeof szDir));
}

// ---------------------------------------------------------------------------------------------------------
// The removal

TEST_F(Uninstaller, TheUsersDataStaysUnlessAsked)
{
    Install();
    PutFile(kApp + "\\Katalogy\\Mine.kmc", "my catalogue");
    PutFile(kApp + "\\Plan.sc1", "my plan");
    EXPECT_EQ(Text(IDS_UN_DONE) + Formatted(IDS_UN_DATA_KEPT, kApp), Remove(0));
    const std::vector<std::string> kKept = {"Katalogy\\Mine.kmc", "Katalogy\\StavPrv.kmc",
                                            "Katalogy\\TvAgreg.kmc", "Plan.sc1"};
    EXPECT_EQ(kKept, Left());
    EXPECT_FALSE(Exists(kApp + "\\Modely"));
    EXPECT_FALSE(Exists(Link(FOLDER_PROGRAMS)));
    EXPECT_FALSE(Exists(Link(FOLDER_DESKTOP)));
    EXPECT_FALSE(EntryThere());
}

TEST_F(Uninstaller, AskedToDeleteTheDataNothingRemains)
{
    Install();
    PutFile(kApp + "\\Katalogy\\Mine.kmc", "my catalogue");
    PutFile(kApp + "\\Plan.sc1", "my plan");
    SetFileAttributesA((kApp + "\\Plan.sc1").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA((kApp + "\\Kalmori.exe").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA((kApp + "\\Modely\\Stul.gim").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(Text(IDS_UN_DONE), Remove(1));
    EXPECT_FALSE(Exists(kApp));
    EXPECT_FALSE(EntryThere());
}

TEST_F(Uninstaller, AskedToDeleteTheDataOnlyTheDataGoes)
{
    // Katalogy\*.kmc and *.sc1 also find these through their short names (MINE~1.KMC, PLAN~1.SC1): they
    // are not the user's data by the patterns, and not the installer's.
    Install();
    PutFile(kApp + "\\Katalogy\\Mine.kmc", "my catalogue");
    PutFile(kApp + "\\Katalogy\\Mine.kmcx", "someone else's");
    PutFile(kApp + "\\Plan.sc1x", "someone else's");
    EXPECT_EQ(Text(IDS_UN_DONE) + Formatted(IDS_UN_DIR_LEFT, kApp + "\\Katalogy") +
                  Formatted(IDS_UN_DIR_LEFT, kApp),
              Remove(1));
    const std::vector<std::string> kKept = {"Katalogy\\Mine.kmcx", "Plan.sc1x"};
    EXPECT_EQ(kKept, Left());
    EXPECT_FALSE(EntryThere());
}

#ifndef _WIN32
// A data file whose name no path can reach safely (a device name, a trailing blank: made on the host) stays,
// and its line names the folder it is in as well as the name.
TEST_F(Uninstaller, ADataFileWithAnUnsafeNameStaysAndIsShownInItsFolder)
{
    Install();
    std::string sHost = HostPath(kApp + "\\Katalogy\\");
    ASSERT_FALSE(sHost.empty());
    for (const char *pszName : {"COM1.kmc", "Mine.kmc "}) {
        FILE *f = fopen((sHost + pszName).c_str(), "w");
        ASSERT_TRUE(f != NULL) << sHost + pszName;
        fclose(f);
    }
    std::string sReport = Remove(1);
    EXPECT_NE(std::string::npos, sReport.find(Formatted(IDS_UN_FILE_LEFT, kApp + "\\Katalogy\\COM1.kmc")))
        << sReport;
    EXPECT_NE(std::string::npos, sReport.find(Formatted(IDS_UN_FILE_LEFT, kApp + "\\Katalogy\\Mine.kmc ")))
        << sReport;
    EXPECT_EQ(0, access((sHost + "COM1.kmc").c_str(), F_OK));
    EXPECT_EQ(0, access((sHost + "Mine.kmc ").c_str(), F_OK));
    EXPECT_TRUE(EntryThere());
    unlink((sHost + "COM1.kmc").c_str());
    unlink((sHost + "Mine.kmc ").c_str());
}
#endif

// Paths that cannot be formed (a folder name at the length limit) are said once, not once for each step.
TEST_F(Uninstaller, ALineIsSaidOnce)
{
    std::string sLong = "C:\\" + std::string(250, 'k');
    WizResult res;
    WizResultInit(&res, IDS_UN_DONE);
    UninstRemove(sLong.c_str(), 1, &res);
    std::string sReport = ResGetString(WizResultText(&res));
    std::string sLine = Text(IDS_UN_NO_PATHS);
    size_t nFirst = sReport.find(sLine);
    ASSERT_NE(std::string::npos, nFirst) << sReport;
    EXPECT_EQ(std::string::npos, sReport.find(sLine, nFirst + 1)) << sReport;
}

TEST_F(Uninstaller, OtherFilesStayAndAreReportedWhileTheEntryGoes)
{
    Install();
    PutFile(kApp + "\\Modely\\notes.txt", "someone else's");
    PutFile(kApp + "\\readme.txt", "someone else's");
    EXPECT_EQ(Text(IDS_UN_DONE) + Formatted(IDS_UN_DIR_LEFT, kApp + "\\Modely") +
                  Formatted(IDS_UN_DIR_LEFT, kApp),
              Remove(1));
    const std::vector<std::string> kKept = {"Modely\\notes.txt", "readme.txt"};
    EXPECT_EQ(kKept, Left());
    EXPECT_FALSE(EntryThere());
}

TEST_F(Uninstaller, AFileInUseStaysWithTheEntryAndASecondRunFinishes)
{
    Install();
    const std::string sHeld = kApp + "\\Modely\\Stul.gim";
    HANDLE h = CreateFileA(sHeld.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    std::string sReport = Remove(1);
    EXPECT_EQ(0u, sReport.find(Text(IDS_UN_INCOMPLETE) + Formatted(IDS_UN_FILE_LEFT, sHeld))) << sReport;
    CloseHandle(h);
    // Nothing else of this version went missing that a second run would need: the file, the uninstaller
    // and the entry are there.
    const std::vector<std::string> kKept = {"Modely\\Stul.gim", "Uninst.exe"};
    EXPECT_EQ(kKept, Left());
    EXPECT_TRUE(EntryThere());
    EXPECT_EQ(Text(IDS_UN_DONE), Remove(1));
    EXPECT_FALSE(Exists(kApp));
    EXPECT_FALSE(EntryThere());
}

// A read-only file of this version that still cannot be deleted stays as it was: it loses the bit only for
// the deletion and gets it back. Held open by another, or (with the Linux platform's fault switch) a
// deletion refused.
struct StaysCase {
    const char *pszWhy;
    const char *pszFault; // null: the file is held open
};
static const StaysCase kStays[] = {
    {"held open", nullptr},
#ifndef _WIN32
    {"deletion refused", "DeleteFileA 5 *\\Modely\\Stul.gim"},
#endif
};

TEST_F(Uninstaller, AReadOnlyFileThatStaysIsStillReadOnly)
{
    const std::string sFile = kApp + "\\Modely\\Stul.gim";
    for (const StaysCase &c : kStays) {
        SCOPED_TRACE(c.pszWhy);
        Clean();
        Install();
        ASSERT_TRUE(SetFileAttributesA(sFile.c_str(), FILE_ATTRIBUTE_READONLY));
        HANDLE h = INVALID_HANDLE_VALUE;
        if (c.pszFault == nullptr) {
            h = CreateFileA(sFile.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
            ASSERT_NE(INVALID_HANDLE_VALUE, h);
        }
#ifndef _WIN32
        if (c.pszFault != nullptr)
            setenv("PLAT_FAULT", c.pszFault, 1);
#endif
        std::string sReport = Remove(1);
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
#ifndef _WIN32
        unsetenv("PLAT_FAULT");
#endif
        EXPECT_EQ(0u, sReport.find(Text(IDS_UN_INCOMPLETE) + Formatted(IDS_UN_FILE_LEFT, sFile))) << sReport;
        EXPECT_EQ((DWORD)FILE_ATTRIBUTE_READONLY,
                  GetFileAttributesA(sFile.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
        EXPECT_EQ("Modely\\Stul.gim", ReadBytes(sFile));
        EXPECT_TRUE(EntryThere());
    }
}

#ifndef _WIN32
// The fault switch is the Linux platform's.

// A search for the user's data that breaks off is a failure of its own, named by the search: the data it did
// not reach stay, and so do the uninstaller and the entry.
TEST_F(Uninstaller, ADataSearchThatBreaksOffIsNamedAndKeepsTheEntry)
{
    Install();
    PutFile(kApp + "\\Katalogy\\Mine.kmc", "my catalogue");
    PutFile(kApp + "\\Katalogy\\Yours.kmc", "your catalogue");
    setenv("PLAT_FAULT", "FindNextFileA 5 *\\Katalogy\\*.kmc", 1);
    std::string sReport = Remove(1);
    unsetenv("PLAT_FAULT");
    EXPECT_EQ(0u,
              sReport.find(Text(IDS_UN_INCOMPLETE) + Formatted(IDS_UN_FILE_LEFT, kApp + "\\Katalogy\\*.kmc")))
        << sReport;
    EXPECT_EQ(1u, FilesUnder(kApp + "\\Katalogy").size());
    EXPECT_TRUE(Exists(kApp + "\\Uninst.exe"));
    EXPECT_TRUE(EntryThere());
    EXPECT_EQ(Text(IDS_UN_DONE), Remove(1));
    EXPECT_FALSE(Exists(kApp));
}

TEST_F(Uninstaller, AFileSaidToBeGoneThatStaysKeepsTheUninstallerAndTheEntry)
{
    // A deletion that answers "not found" while the file stays: the look before the uninstaller and the
    // entry go finds it.
    Install();
    const std::string sStays = kApp + "\\Modely\\Zidle.gim";
    setenv("PLAT_FAULT", "DeleteFileA 2 *\\Modely\\Zidle.gim", 1);
    std::string sReport = Remove(1);
    unsetenv("PLAT_FAULT");
    EXPECT_EQ(Text(IDS_UN_INCOMPLETE) + Formatted(IDS_UN_FILE_LEFT, sStays), sReport);
    const std::vector<std::string> kKept = {"Modely\\Zidle.gim", "Uninst.exe"};
    EXPECT_EQ(kKept, Left());
    EXPECT_TRUE(EntryThere());
    // So does a look at the application folder that answers "not found" while it is there.
    setenv("PLAT_FAULT", ("GetFileAttributesA 3 " + kApp).c_str(), 1);
    sReport = Remove(1);
    unsetenv("PLAT_FAULT");
    EXPECT_EQ(0u, sReport.find(Text(IDS_UN_INCOMPLETE) + Formatted(IDS_UN_FILE_LEFT, sStays))) << sReport;
    EXPECT_EQ(kKept, Left());
    EXPECT_TRUE(EntryThere());
    EXPECT_EQ(Text(IDS_UN_DONE), Remove(1));
    EXPECT_FALSE(Exists(kApp));
    EXPECT_FALSE(EntryThere());
}
#endif

TEST_F(Uninstaller, AFolderInAShortcutsPlaceIsNotTheInstallers)
{
    Install();
    UtlDeleteFile(Link(FOLDER_DESKTOP).c_str());
    ASSERT_TRUE(UtlCreateDir(Link(FOLDER_DESKTOP).c_str()));
    EXPECT_EQ(Text(IDS_UN_DONE), Remove(1));
    EXPECT_TRUE(Exists(Link(FOLDER_DESKTOP)));
    EXPECT_FALSE(Exists(Link(FOLDER_PROGRAMS)));
    UtlRemoveDir(Link(FOLDER_DESKTOP).c_str());
}

TEST_F(Uninstaller, NothingInstalledIsNothingToDo)
{
    SetEntry((kApp + "\\Uninst.exe").c_str());
    EXPECT_EQ(Text(IDS_UN_DONE), Remove(0));
    EXPECT_FALSE(EntryThere());
}

#ifndef _WIN32
// On Linux a host symbolic link is the platform's link: a sub-folder that is one is never worked in, and a
// link inside a folder is removed as a link only.
TEST_F(Uninstaller, LinksAreNeverFollowed)
{
    Install();
    const std::string sOutside = std::string(getenv("PLAT_ROOT")) + "/drive_c/Outside";
    ASSERT_EQ(0, system(("mkdir -p '" + sOutside + "/Katalogy' && echo keep >'" + sOutside +
                         "/Katalogy/StavPrv.bak' && echo keep >'" + sOutside + "/Stul.gim'")
                            .c_str()));
    // Katalogy is a link to a folder outside holding a file of an installed name; Modely holds a link to
    // the folder outside and a link to a file there named as an installed file.
    ASSERT_EQ(0, system(("rm -rf '" + HostPath(kApp) + "/Katalogy' && ln -s '" + sOutside + "/Katalogy' '" +
                         HostPath(kApp) + "/Katalogy' && ln -s '" + sOutside + "' '" + HostPath(kApp) +
                         "/Modely/away' && rm '" + HostPath(kApp) + "/Modely/Stul.gim' && ln -s '" + sOutside +
                         "/Stul.gim' '" + HostPath(kApp) + "/Modely/Stul.gim'")
                            .c_str()));
    std::string sReport = Remove(1);
    EXPECT_EQ(0u, sReport.find(Text(IDS_UN_INCOMPLETE) + Formatted(IDS_UN_DIR_LINK, kApp + "\\Katalogy")))
        << sReport;
    struct stat st;
    EXPECT_EQ(0, stat((sOutside + "/Katalogy/StavPrv.bak").c_str(), &st));
    EXPECT_EQ(0, stat((sOutside + "/Stul.gim").c_str(), &st));
    EXPECT_EQ(0, lstat((HostPath(kApp) + "/Modely/away").c_str(), &st)); // another's link stays
    EXPECT_NE(0, lstat((HostPath(kApp) + "/Modely/Stul.gim").c_str(), &st)); // the installed name goes
    EXPECT_TRUE(EntryThere());
    EXPECT_TRUE(Exists(kApp + "\\Uninst.exe"));
    system(("rm -rf '" + sOutside + "' '" + HostPath(kApp) + "'").c_str());
}

TEST_F(Uninstaller, AnApplicationFolderThatIsALinkIsNotWorkedIn)
{
    const std::string sOutside = std::string(getenv("PLAT_ROOT")) + "/drive_c/Elsewhere";
    ASSERT_EQ(0, system(("mkdir -p '" + sOutside + "' && echo keep >'" + sOutside + "/Kalmori.exe' && ln -s '" +
                         sOutside + "' '" + HostPath(kApp) + "'")
                            .c_str()));
    SetEntry((kApp + "\\Uninst.exe").c_str());
    std::string sReport = Remove(1);
    EXPECT_EQ(0u, sReport.find(Text(IDS_UN_INCOMPLETE) + Formatted(IDS_UN_DIR_LINK, kApp))) << sReport;
    struct stat st;
    EXPECT_EQ(0, stat((sOutside + "/Kalmori.exe").c_str(), &st));
    EXPECT_TRUE(EntryThere());
    system(("rm -rf '" + sOutside + "' '" + HostPath(kApp) + "'").c_str());
}
#endif
