// test_shlutl.cpp - the registry and shell utilities, on Linux over plat/ and on Windows (under Wine): keys
// and string values with their edge cases, the folder kinds, shell links read back with lnkinfo, and the
// assertions.

#include "shlutl.h"
#include "charstr.h"

#include "testkit.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

static const char kArea[] = "Software\\KalShlTest";
static const char kVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";

// A fresh key HKEY_CURRENT_USER\Software\KalShlTest\NAME for one test, opened for writing.
struct AreaKey {
    HKEY h = NULL;
    explicit AreaKey(const char *pszName)
    {
        std::string sPath = std::string(kArea) + "\\" + pszName;
        h = ShlRegCreate(HKEY_CURRENT_USER, sPath.c_str());
        EXPECT_NE((HKEY)NULL, h) << sPath;
    }
    ~AreaKey()
    {
        ShlRegClose(h);
    }
};

static LONG SetRaw(HKEY h, const char *pszName, DWORD nType, const void *pData, DWORD cb)
{
    return RegSetValueExA(h, pszName, 0, nType, (const BYTE *)pData, cb);
}

static bool KeyExists(HKEY hParent, const char *pszPath)
{
    HKEY h = ShlRegOpen(hParent, pszPath, 0);
    ShlRegClose(h);
    return h != NULL;
}

// A 32-bit process on 64-bit Windows reads the registry's 32-bit view (under WOW6432Node), where the
// program-files values name the folder of 32-bit programs; every other process gets "C:\Program Files".
static bool Is32BitOn64BitWindows()
{
#if defined(_WIN32) && !defined(_WIN64)
    BOOL bWow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &bWow64) && bWow64;
#else
    return false;
#endif
}

// ---------------------------------------------------------------------------------------------------------
// Keys

TEST(ShlRegKeys, DeleteKeyTakesAbsentKeysAndKeysWithValuesButNotKeysWithSubKeys)
{
    AreaKey k("Delete");
    EXPECT_EQ(1, ShlRegDeleteKey(k.h, "NeverMade"));

    HKEY h = ShlRegCreate(k.h, "Parent\\Child");
    ASSERT_NE((HKEY)NULL, h);
    EXPECT_EQ(1, ShlRegClose(h));
    EXPECT_EQ(0, ShlRegDeleteKey(k.h, "Parent"));
    EXPECT_TRUE(KeyExists(k.h, "Parent\\Child"));

    h = ShlRegOpen(k.h, "Parent\\Child", 1);
    ASSERT_NE((HKEY)NULL, h);
    EXPECT_EQ(1, ShlRegSetString(h, "Name", "value"));
    ShlRegClose(h);
    EXPECT_EQ(1, ShlRegDeleteKey(k.h, "Parent\\Child"));
    EXPECT_FALSE(KeyExists(k.h, "Parent\\Child"));
    EXPECT_EQ(1, ShlRegDeleteKey(k.h, "Parent"));
    EXPECT_FALSE(KeyExists(k.h, "Parent"));
}

TEST(ShlRegKeys, OpenFindsOnlyWhatExistsAndCreateMakesThePath)
{
    AreaKey k("Open");
    EXPECT_EQ((HKEY)NULL, ShlRegOpen(k.h, "Missing", 0));
    EXPECT_EQ((HKEY)NULL, ShlRegOpen(k.h, "Missing", 1));
    HKEY h = ShlRegCreate(k.h, "A\\B\\C");
    ASSERT_NE((HKEY)NULL, h);
    ShlRegClose(h);
    h = ShlRegCreate(k.h, "a\\b\\c"); // opened, not made again
    ASSERT_NE((HKEY)NULL, h);
    ShlRegClose(h);
    EXPECT_TRUE(KeyExists(k.h, "A\\B\\C"));
    EXPECT_EQ(1, ShlRegClose(NULL));
}

TEST(ShlRegKeys, KeyOpenedForReadingIsNotWritten)
{
    AreaKey k("ReadOnly");
    ASSERT_EQ(1, ShlRegSetString(k.h, "Kept", "old"));
    std::string sPath = std::string(kArea) + "\\ReadOnly";
    HKEY h = ShlRegOpen(HKEY_CURRENT_USER, sPath.c_str(), 0);
    ASSERT_NE((HKEY)NULL, h);
    EXPECT_EQ(0, ShlRegSetString(h, "Kept", "new"));
    EXPECT_EQ(0, ShlRegSetString(h, "Fresh", "new"));
    EXPECT_EQ(0, ShlRegDeleteValue(h, "Kept"));
    char sz[8];
    EXPECT_EQ(1, ShlRegGetString(h, "Kept", sz, sizeof sz));
    EXPECT_STREQ("old", sz);
    EXPECT_EQ(1, ShlRegClose(h));
}

#if defined(_WIN32) && !defined(_WIN64)
TEST(ShlRegKeys, MachineKeysOfA32BitProcessAreInThe32BitViewUnderWow6432Node)
{
    if (!Is32BitOn64BitWindows())
        GTEST_SKIP() << "not a 32-bit process on 64-bit Windows: there is one view";
    HKEY h = ShlRegCreate(HKEY_LOCAL_MACHINE, "Software\\KalShlTest\\View");
    ASSERT_NE((HKEY)NULL, h);
    ShlRegClose(h);
    // As a 64-bit program sees the machine: under WOW6432Node, and not where the name says.
    HKEY h64 = NULL;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\WOW6432Node\\KalShlTest\\View", 0,
                                           KEY_READ | KEY_WOW64_64KEY, &h64));
    RegCloseKey(h64);
    h64 = NULL;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\KalShlTest\\View", 0,
                                                  KEY_READ | KEY_WOW64_64KEY, &h64));
    RegCloseKey(h64);
    HKEY hArea = ShlRegOpen(HKEY_LOCAL_MACHINE, "Software\\KalShlTest", 1);
    ASSERT_NE((HKEY)NULL, hArea);
    EXPECT_EQ(1, ShlRegDeleteKey(hArea, "View"));
    ShlRegClose(hArea);
    EXPECT_EQ(1, ShlRegDeleteKey(HKEY_LOCAL_MACHINE, "Software\\KalShlTest"));
}
#endif

// ---------------------------------------------------------------------------------------------------------
// String values

TEST(ShlRegStrings, MissingValueIsZeroAndItsSizeIsMinusOne)
{
    AreaKey k("Missing");
    char sz[8] = "keep";
    EXPECT_EQ(0, ShlRegGetString(k.h, "Nothing", sz, sizeof sz));
    EXPECT_STREQ("keep", sz);
    EXPECT_EQ(-1, ShlRegGetString(k.h, "Nothing", NULL, 0));
    EXPECT_EQ(1, ShlRegDeleteValue(k.h, "Nothing"));
}

struct TypeCase {
    const char *pszName;
    DWORD nType;
    const char *pData;
    DWORD cb;
};
static const TypeCase kOtherTypes[] = {
    {"expand", REG_EXPAND_SZ, "%TEMP%", 7},
    {"dword", REG_DWORD, "\1\0\0\0", 4},
    {"binary", REG_BINARY, "ab\0", 3},
    {"multi", REG_MULTI_SZ, "a\0b\0", 5},
};

TEST(ShlRegStrings, ValuesOfOtherTypesAreNeitherReadNorReplaced)
{
    AreaKey k("Types");
    for (const TypeCase &c : kOtherTypes) {
        ASSERT_EQ(ERROR_SUCCESS, SetRaw(k.h, c.pszName, c.nType, c.pData, c.cb));
        char sz[16] = "untouched";
        EXPECT_EQ(0, ShlRegGetString(k.h, c.pszName, sz, sizeof sz)) << c.pszName;
        EXPECT_STREQ("untouched", sz) << c.pszName;
        EXPECT_EQ(-1, ShlRegGetString(k.h, c.pszName, NULL, 0)) << c.pszName;
        EXPECT_EQ(0, ShlRegSetString(k.h, c.pszName, "text")) << c.pszName;
        DWORD nType = 0, cb = 0;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k.h, c.pszName, NULL, &nType, NULL, &cb));
        EXPECT_EQ(c.nType, nType) << c.pszName;
        // Deleted first, it can be written as a string.
        EXPECT_EQ(1, ShlRegDeleteValue(k.h, c.pszName));
        EXPECT_EQ(1, ShlRegSetString(k.h, c.pszName, "text"));
        EXPECT_EQ(1, ShlRegGetString(k.h, c.pszName, sz, sizeof sz));
        EXPECT_STREQ("text", sz);
    }
}

TEST(ShlRegStrings, WrittenStringIsStoredWithItsTerminatorAndReadBack)
{
    AreaKey k("Write");
    const char *pszCyrillic = "C:\\\xcf\xf0\xee\xe3\xf0\xe0\xec\xec\xfb"; // C:\Программы
    EXPECT_EQ(1, ShlRegSetString(k.h, "New", pszCyrillic));
    DWORD nType = 0, cb = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k.h, "New", NULL, &nType, NULL, &cb));
    EXPECT_EQ((DWORD)REG_SZ, nType);
    EXPECT_EQ((DWORD)strlen(pszCyrillic) + 1, cb);
    EXPECT_EQ((int)strlen(pszCyrillic) + 1, ShlRegGetString(k.h, "new", NULL, 0));
    char sz[64];
    EXPECT_EQ(1, ShlRegGetString(k.h, "NEW", sz, sizeof sz));
    EXPECT_STREQ(pszCyrillic, sz);
    EXPECT_EQ(1, ShlRegSetString(k.h, "New", "")); // over a string
    EXPECT_EQ(1, ShlRegGetString(k.h, "New", NULL, 0));
    EXPECT_EQ(1, ShlRegGetString(k.h, "New", sz, sizeof sz));
    EXPECT_STREQ("", sz);
}

struct SizeCase {
    const char *pData; // stored with cb bytes
    DWORD cb;
    int nSize;   // buffer capacity
    int nResult; // ShlRegGetString with the buffer
    const char *pszRead;
};
// "abc" stored with its terminator (4 bytes), without it (3 bytes: the byte after the data is not a
// terminator, so the platform keeps the count), and the empty value stored with no bytes at all.
static const SizeCase kSizes[] = {
    {"abc", 4, 4, 1, "abc"},    {"abc", 4, 3, 0, ""},  {"abc", 4, 100, 1, "abc"},
    {"abcd", 3, 4, 1, "abc"},   {"abcd", 3, 3, 0, ""}, {"abcd", 3, 2, 0, ""},
    {"abcd", 3, 100, 1, "abc"}, {"", 0, 1, 1, ""},     {"x", 0, 0, 0, "XXXXXX"},
    {"abc", 4, 0, 0, "XXXXXX"},
};

TEST(ShlRegStrings, ReadStringIsAlwaysTerminatedInsideTheBufferOrRefused)
{
    AreaKey k("Sizes");
    for (const SizeCase &c : kSizes) {
        ASSERT_EQ(ERROR_SUCCESS, SetRaw(k.h, "v", REG_SZ, c.pData, c.cb));
        DWORD cbStored = 0;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k.h, "v", NULL, NULL, NULL, &cbStored));
        ASSERT_EQ(c.cb, cbStored) << "the platform changed the stored size";
        char sz[128];
        memset(sz, 'X', sizeof sz);
        sz[6] = '\0';
        EXPECT_EQ(c.nResult, ShlRegGetString(k.h, "v", sz, c.nSize))
            << c.pData << " " << c.cb << " " << c.nSize;
        EXPECT_STREQ(c.pszRead, sz) << c.pData << " " << c.cb << " " << c.nSize;
        // The size asked for is what a buffer needs: with it the read succeeds.
        int nNeeded = ShlRegGetString(k.h, "v", NULL, 0);
        EXPECT_EQ((int)strlen(c.cb == 0 ? "" : "abc") + 1, nNeeded);
        EXPECT_EQ(1, ShlRegGetString(k.h, "v", sz, nNeeded));
        EXPECT_EQ(0, ShlRegGetString(k.h, "v", sz, nNeeded - 1));
    }
}

// ---------------------------------------------------------------------------------------------------------
// Folders

// Sets the machine's program-files values for one test and puts the old ones back.
class ShlFolders : public ::testing::Test
{
  protected:
    HKEY hVersion = NULL;
    char szProgramFiles[MAX_PATH] = "", szCommonFiles[MAX_PATH] = "";
    void SetUp() override
    {
        hVersion = ShlRegOpen(HKEY_LOCAL_MACHINE, kVersionKey, 1);
        ASSERT_NE((HKEY)NULL, hVersion);
        ASSERT_EQ(1, ShlRegGetString(hVersion, "ProgramFilesDir", szProgramFiles, MAX_PATH));
        ASSERT_EQ(1, ShlRegGetString(hVersion, "CommonFilesDir", szCommonFiles, MAX_PATH));
    }
    void TearDown() override
    {
        if (hVersion == NULL)
            return;
        RegSetValueExA(hVersion, "ProgramFilesDir", 0, REG_SZ, (const BYTE *)szProgramFiles,
                       (DWORD)strlen(szProgramFiles) + 1);
        RegSetValueExA(hVersion, "CommonFilesDir", 0, REG_SZ, (const BYTE *)szCommonFiles,
                       (DWORD)strlen(szCommonFiles) + 1);
        ShlRegClose(hVersion);
    }
    void Seed(const char *pszName, DWORD nType, const char *pszValue)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(hVersion, pszName, 0, nType, (const BYTE *)pszValue,
                                                (DWORD)strlen(pszValue) + 1));
    }
};

TEST_F(ShlFolders, NewMachineHasTheProgramFilesFolders)
{
    std::string sProgramFiles = Is32BitOn64BitWindows() ? "C:\\Program Files (x86)" : "C:\\Program Files";
    std::string sCommonFiles = sProgramFiles + "\\Common Files";
    char sz[MAX_PATH];
    EXPECT_EQ(sProgramFiles, szProgramFiles);
    EXPECT_EQ(sCommonFiles, szCommonFiles);
    ASSERT_EQ(1, ShlGetFolder(FOLDER_PROGRAMFILES, sz, sizeof sz));
    EXPECT_EQ(sProgramFiles, sz);
    ASSERT_EQ(1, ShlGetFolder(FOLDER_COMMONFILES, sz, sizeof sz));
    EXPECT_EQ(sCommonFiles, sz);
}

struct FolderValueCase {
    const char *pszValue;
    int nResult;
    const char *pszPath;
};
static const FolderValueCase kFolderValues[] = {
    {" C:\\Program Files\\ ", 1, "C:\\Program Files"},
    {"C:\\", 1, "C:\\"},
    {"  C:\\  ", 1, "C:\\"},
    {"D:\\Apps\\\\", 1, "D:\\Apps\\"},
    {"\tE:\\\xcf\xf0\xee\xe3\xf0\xe0\xec\xec\xfb\r\n", 1, "E:\\\xcf\xf0\xee\xe3\xf0\xe0\xec\xec\xfb"},
    {"1:\\x", 1, "1:\\x"}, // the drive letter is not examined
    {"\\\\server\\share", 0, nullptr},
    {"Program Files", 0, nullptr},
    {"C:", 0, nullptr},
    {"C:/Program Files", 0, nullptr},
    {"", 0, nullptr},
    {"   ", 0, nullptr},
};

TEST_F(ShlFolders, RegistryFoldersAreTrimmedAndOnlyLocalAbsolutePathsPass)
{
    for (const FolderValueCase &c : kFolderValues) {
        Seed("ProgramFilesDir", REG_SZ, c.pszValue);
        Seed("CommonFilesDir", REG_SZ, c.pszValue);
        for (int nKind : {FOLDER_PROGRAMFILES, FOLDER_COMMONFILES}) {
            char sz[MAX_PATH];
            EXPECT_EQ(c.nResult, ShlGetFolder(nKind, sz, sizeof sz)) << "[" << c.pszValue << "]";
            if (c.nResult == 1) {
                EXPECT_STREQ(c.pszPath, sz);
            }
        }
    }
}

TEST_F(ShlFolders, RegistryFolderThatDoesNotFitOrIsNotAStringIsRefused)
{
    Seed("ProgramFilesDir", REG_SZ, "C:\\Program Files");
    char sz[MAX_PATH];
    EXPECT_EQ(0, ShlGetFolder(FOLDER_PROGRAMFILES, sz, 16));
    EXPECT_EQ(1, ShlGetFolder(FOLDER_PROGRAMFILES, sz, 17));
    EXPECT_STREQ("C:\\Program Files", sz);
    Seed("ProgramFilesDir", REG_EXPAND_SZ, "%SystemDrive%\\Program Files");
    EXPECT_EQ(0, ShlGetFolder(FOLDER_PROGRAMFILES, sz, sizeof sz));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(hVersion, "ProgramFilesDir"));
    EXPECT_EQ(0, ShlGetFolder(FOLDER_PROGRAMFILES, sz, sizeof sz));
    // Stored without its terminator, filling the buffer exactly: refused, never left unterminated.
    ASSERT_EQ(ERROR_SUCCESS, SetRaw(hVersion, "CommonFilesDir", REG_SZ, "C:\\Common!", 9));
    memset(sz, 'X', sizeof sz);
    EXPECT_EQ(0, ShlGetFolder(FOLDER_COMMONFILES, sz, 9));
    EXPECT_EQ(1, ShlGetFolder(FOLDER_COMMONFILES, sz, 10));
    EXPECT_STREQ("C:\\Common", sz);
}

TEST_F(ShlFolders, UnknownKindsAndAnEmptyBufferGiveNothing)
{
    char sz[MAX_PATH];
    EXPECT_EQ(0, ShlGetFolder(0, sz, sizeof sz));
    EXPECT_EQ(0, ShlGetFolder(7, sz, sizeof sz));
    EXPECT_EQ(0, ShlGetFolder(-1, sz, sizeof sz));
    for (int nKind = FOLDER_COMMONFILES; nKind <= FOLDER_DOCUMENTS; nKind++) {
        sz[0] = 'Q';
        EXPECT_EQ(0, ShlGetFolder(nKind, sz, 0)) << nKind;
        EXPECT_EQ('Q', sz[0]) << nKind;
    }
}

TEST_F(ShlFolders, ShellFoldersAndTempAreLocalPathsWithoutTrailingBackslash)
{
    static const struct {
        int nKind, nCsidl;
    } kShellKinds[] = {{FOLDER_PROGRAMS, CSIDL_PROGRAMS},
                       {FOLDER_DESKTOP, CSIDL_DESKTOPDIRECTORY},
                       {FOLDER_DOCUMENTS, CSIDL_PERSONAL}};
    for (const auto &c : kShellKinds) {
        LPITEMIDLIST pidl = NULL;
        char szShell[MAX_PATH], sz[MAX_PATH];
        ASSERT_EQ(S_OK, SHGetSpecialFolderLocation(NULL, c.nCsidl, &pidl));
        ASSERT_TRUE(SHGetPathFromIDListA(pidl, szShell));
        CoTaskMemFree(pidl);
        ASSERT_EQ(1, ShlGetFolder(c.nKind, sz, sizeof sz)) << c.nKind;
        size_t n = strlen(sz);
        EXPECT_NE('\\', sz[n - 1]) << sz;
        EXPECT_EQ(0, strncmp(szShell, sz, n)) << szShell; // the shell's path, perhaps with a backslash more
        // The buffer must hold the path as the shell gives it.
        int nNeeded = (int)strlen(szShell) + 1;
        EXPECT_EQ(0, ShlGetFolder(c.nKind, sz, nNeeded - 1)) << c.nKind;
        EXPECT_EQ(1, ShlGetFolder(c.nKind, sz, nNeeded)) << c.nKind;
    }

    char szTemp[MAX_PATH], sz[MAX_PATH];
    DWORD nTemp = GetTempPathA(sizeof szTemp, szTemp);
    ASSERT_GT(nTemp, 3u);
    ASSERT_EQ(1, ShlGetFolder(FOLDER_TEMP, sz, sizeof sz));
    EXPECT_EQ(std::string(szTemp, nTemp - (szTemp[nTemp - 1] == '\\')), sz);
    EXPECT_EQ(0, ShlGetFolder(FOLDER_TEMP, sz, (int)nTemp)); // no room for the terminator
    EXPECT_EQ(1, ShlGetFolder(FOLDER_TEMP, sz, (int)nTemp + 1));
}

// ---------------------------------------------------------------------------------------------------------
// Shell links

static bool HaveLnkinfo()
{
    return GetFileAttributesA("Z:\\usr\\bin\\lnkinfo") != INVALID_FILE_ATTRIBUTES;
}

// Runs lnkinfo on the host for a link file on drive C: and returns its report (UTF-8).
static std::string Lnkinfo(const std::string &sLink)
{
    std::string sHostLink = HostPath(sLink), sHostOut = HostPath(sLink + ".txt");
    std::string sShell = "/usr/bin/lnkinfo -c windows-1251 '" + sHostLink + "' > '" + sHostOut +
                         ".part' 2>&1; mv '" + sHostOut + ".part' '" + sHostOut + "'";
    DeleteFileA((sLink + ".txt").c_str());
#ifdef _WIN32
    // Wine starts a host program but gives no handle to wait on: wait for the report to appear.
    std::string sCommand = "Z:\\bin\\sh -c \"" + sShell + "\"";
    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    if (!CreateProcessA(NULL, &sCommand[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
        return "<lnkinfo not started>";
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    for (int i = 0; i < 200 && GetFileAttributesA((sLink + ".txt").c_str()) == INVALID_FILE_ATTRIBUTES; i++)
        Sleep(50);
#else
    if (system(sShell.c_str()) != 0)
        return "<lnkinfo failed>";
#endif
    std::string sReport;
    HANDLE h =
        CreateFileA((sLink + ".txt").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return "<no report>";
    char ab[1024];
    DWORD n = 0;
    while (ReadFile(h, ab, sizeof ab, &n, NULL) && n > 0)
        sReport.append(ab, n);
    CloseHandle(h);
    DeleteFileA((sLink + ".txt").c_str());
    return sReport;
}

static std::string Field(const std::string &sReport, const std::string &sName)
{
    size_t n = sReport.find("\t" + sName);
    if (n == std::string::npos || (n = sReport.find(": ", n)) == std::string::npos)
        return "<missing>";
    size_t nEnd = sReport.find('\n', n);
    return sReport.substr(n + 2, nEnd - n - 2);
}

struct LinkCase {
    const char *pszFolder, *pszTarget, *pszWorkDir, *pszArgs, *pszLink; // code page 1251
    const char *pszUtf8Target, *pszUtf8WorkDir, *pszUtf8Args;           // as lnkinfo reports them
};
static const LinkCase kLinks[] = {
    {"C:\\KalLink", "C:\\KalLink\\Kalmori.exe", "C:\\KalLink", "", "C:\\KalLink\\Kalmorist 6.1.lnk",
     "C:\\KalLink\\Kalmori.exe", "C:\\KalLink", ""},
    {"C:\\\xca\xe0\xeb\xec\xee\xf0\xe8\xf1\xf2",
     "C:\\\xca\xe0\xeb\xec\xee\xf0\xe8\xf1\xf2\\\xcf\xf0\xee\xe3.exe",
     "C:\\\xca\xe0\xeb\xec\xee\xf0\xe8\xf1\xf2", "/\xea\xeb\xfe\xf7 \"a b\"",
     "C:\\\xca\xe0\xeb\xec\xee\xf0\xe8\xf1\xf2\\\xdf\xf0\xeb\xfb\xea.lnk",
     "C:"
     "\\\xd0\x9a\xd0\xb0\xd0\xbb\xd0\xbc\xd0\xbe\xd1\x80\xd0\xb8\xd1\x81\xd1\x82\\\xd0\x9f\xd1\x80\xd0\xbe"
     "\xd0\xb3.exe",
     "C:\\\xd0\x9a\xd0\xb0\xd0\xbb\xd0\xbc\xd0\xbe\xd1\x80\xd0\xb8\xd1\x81\xd1\x82",
     "/\xd0\xba\xd0\xbb\xd1\x8e\xd1\x87 \"a b\""},
};

TEST(ShlLinks, LinkIsReadBackByLnkinfoWithTargetWorkingFolderAndArguments)
{
    for (const LinkCase &c : kLinks) {
        CreateDirectoryA(c.pszFolder, NULL);
        PutFile(c.pszTarget, "MZ");
        ASSERT_EQ(1, ShlCreateLink(c.pszLink, c.pszTarget, c.pszWorkDir, c.pszArgs)) << c.pszLink;
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(c.pszLink));
        if (!HaveLnkinfo())
            continue;
        std::string sReport = Lnkinfo(c.pszLink);
        EXPECT_EQ(c.pszUtf8Target, Field(sReport, "Local path")) << sReport;
        EXPECT_EQ(c.pszUtf8WorkDir, Field(sReport, "Working directory")) << sReport;
        if (*c.pszArgs != '\0') {
            EXPECT_EQ(c.pszUtf8Args, Field(sReport, "Command line arguments")) << sReport;
        }
    }
    if (!HaveLnkinfo())
        GTEST_SKIP() << "lnkinfo (liblnk-utils) is not installed: the links were only made";
}

TEST(ShlLinks, ComponentModelInitialisedBeforeStaysInitialised)
{
    CreateDirectoryA("C:\\KalLink", NULL);
    PutFile("C:\\KalLink\\Kalmori.exe", "MZ");
    ASSERT_EQ(S_OK, CoInitialize(NULL));
    EXPECT_EQ(1, ShlCreateLink("C:\\KalLink\\again.lnk", "C:\\KalLink\\Kalmori.exe", "C:\\KalLink", ""));
    EXPECT_EQ(S_FALSE, CoInitialize(NULL)); // still initialised by the first call
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(1, ShlCreateLink("C:\\KalLink\\again.lnk", "C:\\KalLink\\Kalmori.exe", "C:\\KalLink", ""));
    EXPECT_EQ(S_OK, CoInitialize(NULL)); // and left uninitialised when it was not
    CoUninitialize();
}

TEST(ShlLinks, LinkIsNotWrittenForAMissingTargetFolderOrAnOverlongPath)
{
    CreateDirectoryA("C:\\KalLink", NULL);
    PutFile("C:\\KalLink\\Kalmori.exe", "MZ");
    EXPECT_EQ(0, ShlCreateLink("C:\\KalLink\\none.lnk", "C:\\KalLink\\Missing.exe", "C:\\KalLink", ""));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\KalLink\\none.lnk"));
    EXPECT_EQ(0,
              ShlCreateLink("C:\\KalLink\\NoFolder\\x.lnk", "C:\\KalLink\\Kalmori.exe", "C:\\KalLink", ""));
    std::string sLong = "C:\\KalLink\\" + std::string(300, 'n') + ".lnk";
    EXPECT_EQ(0, ShlCreateLink(sLong.c_str(), "C:\\KalLink\\Kalmori.exe", "C:\\KalLink", ""));
}

// ---------------------------------------------------------------------------------------------------------
// Assertions

struct DeathCase {
    void (*pfn)();
    const char *pszText;
};
static const DeathCase kDeaths[] = {
    {[] { ShlRegOpen(NULL, "x", 0); }, "hKey != NULL"},
    {[] { ShlRegOpen(HKEY_CURRENT_USER, NULL, 0); }, "szSubkey != NULL"},
    {[] { ShlRegCreate(NULL, NULL); }, "hKey != NULL"},
    {[] { ShlRegCreate(HKEY_CURRENT_USER, NULL); }, "szSubkey != NULL"},
    {[] { ShlRegDeleteKey(NULL, "x"); }, "hKey != NULL"},
    {[] { ShlRegDeleteKey(HKEY_CURRENT_USER, NULL); }, "szSubkey != NULL"},
    {[] { ShlRegGetString(NULL, NULL, NULL, -1); }, "szValue != NULL"},
    {[] { ShlRegGetString(NULL, "x", NULL, 0); }, "hKey != NULL"},
    {[] { ShlRegGetString(HKEY_CURRENT_USER, "x", NULL, -1); }, "nSize >= 0"},
    {[] { ShlRegSetString(NULL, NULL, NULL); }, "hKey != NULL"},
    {[] { ShlRegSetString(HKEY_CURRENT_USER, NULL, "x"); }, "szValue != NULL"},
    {[] { ShlRegSetString(HKEY_CURRENT_USER, "x", NULL); }, "szData != NULL"},
    {[] { ShlRegDeleteValue(NULL, NULL); }, "hKey != NULL"},
    {[] { ShlRegDeleteValue(HKEY_CURRENT_USER, NULL); }, "szValue != NULL"},
    {[] { ShlGetFolder(2, NULL, -1); }, "szPath != NULL"},
    {[] {
         char sz[4];
         ShlGetFolder(2, sz, -1);
     },
     "nSize >= 0"},
    {[] { ShlCreateLink(NULL, NULL, NULL, NULL); }, "szLink != NULL"},
    {[] { ShlCreateLink("l", NULL, NULL, NULL); }, "szTarget != NULL"},
    {[] { ShlCreateLink("l", "t", NULL, NULL); }, "szWorkDir != NULL"},
    {[] { ShlCreateLink("l", "t", "w", NULL); }, "szArgs != NULL"},
};

TEST(ShlDeath, BrokenPreconditionsEndTheProcessWithTheirText)
{
    for (const DeathCase &c : kDeaths) {
        std::string sPattern = std::string("Assertion failed: ") + c.pszText + ", file lib.SHLUTL, line .";
        EXPECT_EXIT(c.pfn(), ::testing::ExitedWithCode(3), sPattern.c_str()) << c.pszText;
    }
}
