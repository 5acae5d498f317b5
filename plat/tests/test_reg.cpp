// test_reg.cpp - the registry of the Linux build: names and case, types and bytes, sizes, access rights,
// deleted and invalid handles, and changes shared between processes.

#include "advapi/advapi.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

static const char kTestArea[] = "Software\\RegTest";

// A key under HKEY_CURRENT_USER\Software\RegTest, made afresh for each test and closed at the end.
struct TestKey {
    HKEY h = NULL;
    explicit TestKey(const char *pszName, REGSAM sam = KEY_ALL_ACCESS)
    {
        std::string sPath = std::string(kTestArea) + "\\" + pszName;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(HKEY_CURRENT_USER, sPath.c_str(), 0, NULL, 0, sam, NULL, &h, NULL));
    }
    ~TestKey()
    {
        if (h != NULL)
            RegCloseKey(h);
    }
    operator HKEY() const
    {
        return h;
    }
};

static LSTATUS SetString(HKEY h, const char *pszName, const std::string &sData)
{
    return RegSetValueExA(h, pszName, 0, REG_SZ, (const BYTE *)sData.c_str(), (DWORD)sData.size() + 1);
}

static std::string GetString(HKEY h, const char *pszName)
{
    char sz[512];
    DWORD cb = sizeof sz, nType = 0;
    if (RegQueryValueExA(h, pszName, NULL, &nType, (BYTE *)sz, &cb) != ERROR_SUCCESS || nType != REG_SZ)
        return "<none>";
    return std::string(sz, cb > 0 ? cb - 1 : 0);
}

static bool KeyExists(HKEY hParent, const char *pszPath)
{
    HKEY h;
    if (RegOpenKeyExA(hParent, pszPath, 0, KEY_READ, &h) != ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

// Other processes: this program started again with --child and a task (see ChildMain).
static pid_t StartChild(const std::vector<std::string> &aArgs, const std::string &sMachine = std::string())
{
    std::vector<char *> aArgv;
    std::string sSelf = "/proc/self/exe", sChild = "--child";
    aArgv.push_back(&sSelf[0]);
    aArgv.push_back(&sChild[0]);
    std::vector<std::string> aCopy = aArgs;
    for (std::string &s : aCopy)
        aArgv.push_back(&s[0]);
    aArgv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        setenv("KAL_TEST_MACHINE_INHERIT", "1", 1);
        if (!sMachine.empty())
            setenv("PLAT_ROOT", sMachine.c_str(), 1);
        execv("/proc/self/exe", aArgv.data());
        _exit(127);
    }
    return pid;
}

static int WaitChild(pid_t pid)
{
    int nStatus = 0;
    if (pid <= 0 || waitpid(pid, &nStatus, 0) != pid)
        return -1;
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128 + WTERMSIG(nStatus);
}

static int RunChild(const std::vector<std::string> &aArgs)
{
    return WaitChild(StartChild(aArgs));
}

TEST(Registry, NewMachineHoldsTheProgramFilesFoldersAndTheUninstallArea)
{
    HKEY h;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion",
                                           0, KEY_READ, &h));
    EXPECT_EQ(plat::SpecialFolderPath(plat::FolderProgramFiles), GetString(h, "ProgramFilesDir"));
    EXPECT_EQ("C:\\Program Files", GetString(h, "ProgramFilesDir"));
    EXPECT_EQ("C:\\Program Files\\Common Files", GetString(h, "CommonFilesDir"));
    DWORD cb = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(h, "ProgramFilesDir", NULL, NULL, NULL, &cb));
    EXPECT_EQ(17u, cb);
    EXPECT_TRUE(KeyExists(h, "Uninstall"));
    RegCloseKey(h);
    EXPECT_TRUE(std::filesystem::exists(plat::MachineRoot() + "/registry.db"));
}

struct NameCase {
    const char *pszMade, *pszAsked;
};
static const NameCase kNames[] = {
    {"MixedCase", "MIXEDCASE"},
    {"mixed case", "Mixed Case"},
    {"\xcf\xf0\xee\xe1\xe0", "\xef\xd0\xce\xc1\xc0"}, // Проба / пРОБА
    {"\xa8\xeb\xea\xe0", "\xb8\xcb\xca\xc0"},         // Ёлка / ёЛКА
    {"\xb2\xbf", "\xb3\xaf"},                         // Ії / іЇ
};

TEST(Registry, KeyNamesMatchWithoutCaseAndKeepTheCaseTheyWereMadeWith)
{
    TestKey k("Names");
    for (const NameCase &c : kNames) {
        HKEY h;
        DWORD nDisposition = 0;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(k, c.pszMade, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &h, NULL));
        RegCloseKey(h);
        EXPECT_TRUE(KeyExists(k, c.pszAsked)) << c.pszMade;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExA(k, c.pszAsked, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &h, &nDisposition));
        EXPECT_EQ((DWORD)REG_OPENED_EXISTING_KEY, nDisposition) << c.pszMade;
        RegCloseKey(h);
    }
    DWORD nSubKeys = 0;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyA(k, NULL, NULL, NULL, &nSubKeys, NULL, NULL, NULL, NULL, NULL, NULL, NULL));
    EXPECT_EQ(sizeof kNames / sizeof kNames[0], nSubKeys);
    for (DWORD i = 0; i < nSubKeys; i++) {
        char sz[64];
        DWORD cch = sizeof sz;
        ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyExA(k, i, sz, &cch, NULL, NULL, NULL, NULL));
        bool bMade = false;
        for (const NameCase &c : kNames)
            bMade = bMade || strcmp(sz, c.pszMade) == 0;
        EXPECT_TRUE(bMade) << sz;
    }
}

TEST(Registry, ValueNamesMatchWithoutCaseAndTheFirstSpellingStays)
{
    TestKey k("ValueNames");
    for (const NameCase &c : kNames) {
        ASSERT_EQ(ERROR_SUCCESS, SetString(k, c.pszMade, "first"));
        ASSERT_EQ(ERROR_SUCCESS, SetString(k, c.pszAsked, "second"));
        EXPECT_EQ("second", GetString(k, c.pszMade));
    }
    DWORD nValues = 0;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyA(k, NULL, NULL, NULL, NULL, NULL, NULL, &nValues, NULL, NULL, NULL, NULL));
    ASSERT_EQ(sizeof kNames / sizeof kNames[0], nValues);
    for (DWORD i = 0; i < nValues; i++) {
        char sz[64];
        DWORD cch = sizeof sz;
        ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(k, i, sz, &cch, NULL, NULL, NULL, NULL));
        EXPECT_STREQ(kNames[i].pszMade, sz); // in the order they were made
        EXPECT_EQ(strlen(kNames[i].pszMade), cch);
    }
}

struct ValueCase {
    const char *pszName;
    DWORD nType;
    const char *pData;
    DWORD cbData;
};
static const ValueCase kValues[] = {
    {"sz", REG_SZ, "C:\\\xcf\xf0\xee\xe1\xe0", 9},
    {"expand", REG_EXPAND_SZ, "%TEMP%\\x", 9},
    {"multi", REG_MULTI_SZ, "a\0bc\0\0", 6},
    {"dword", REG_DWORD, "\x78\x56\x34\x12", 4},
    {"qword", REG_QWORD, "\1\2\3\4\5\6\7\x80", 8},
    {"binary", REG_BINARY, "\0\xff\0\x10 ", 5},
    {"empty binary", REG_BINARY, "", 0},
    {"none", REG_NONE, "\x01", 1},
    {"odd type", 1234, "xy", 2},
    {"short dword", REG_DWORD, "\1\2\3", 3},
};

TEST(Registry, ValuesKeepTheirTypeAndBytes)
{
    TestKey k("Values");
    for (const ValueCase &c : kValues)
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, c.pszName, 0, c.nType, (const BYTE *)c.pData, c.cbData));
    for (const ValueCase &c : kValues) {
        BYTE ab[64];
        memset(ab, 0xee, sizeof ab);
        DWORD cb = sizeof ab, nType = 99;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, c.pszName, NULL, &nType, ab, &cb)) << c.pszName;
        EXPECT_EQ(c.nType, nType) << c.pszName;
        ASSERT_EQ(c.cbData, cb) << c.pszName;
        EXPECT_EQ(0, memcmp(ab, c.pData, cb)) << c.pszName;
    }
}

TEST(Registry, SizeQueryTellsTheBytesAndAShortBufferIsLeftAlone)
{
    TestKey k("Sizes");
    ASSERT_EQ(ERROR_SUCCESS, SetString(k, "s", "12345"));
    DWORD cb = 0, nType = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "s", NULL, &nType, NULL, &cb));
    EXPECT_EQ(6u, cb);
    EXPECT_EQ((DWORD)REG_SZ, nType);

    char sz[8] = "xxxxxxx";
    cb = 5;
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(k, "s", NULL, &nType, (BYTE *)sz, &cb));
    EXPECT_EQ(6u, cb);
    EXPECT_STREQ("xxxxxxx", sz);
    cb = 6;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "s", NULL, &nType, (BYTE *)sz, &cb));
    EXPECT_STREQ("12345", sz);

    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExA(k, "s", NULL, &nType, (BYTE *)sz, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "s", NULL, NULL, NULL, NULL));
}

TEST(Registry, StringWithoutTerminatorIsKeptAndTerminatedOnlyWhereTheBufferHasRoom)
{
    TestKey k("Unterminated");
    const char szData[] = "abcd";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "cut", 0, REG_SZ, (const BYTE *)szData, 3));
    DWORD cb = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "cut", NULL, NULL, NULL, &cb));
    EXPECT_EQ(3u, cb);

    char sz[8];
    memset(sz, 'X', sizeof sz);
    cb = 3;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "cut", NULL, NULL, (BYTE *)sz, &cb));
    EXPECT_EQ(0, memcmp(sz, "abcX", 4)); // no room: no terminator
    memset(sz, 'X', sizeof sz);
    cb = 4;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "cut", NULL, NULL, (BYTE *)sz, &cb));
    EXPECT_EQ(3u, cb);
    EXPECT_STREQ("abc", sz);

    // A count that leaves out the terminator which follows the data is taken to include it.
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "forgot", 0, REG_SZ, (const BYTE *)"abc", 3));
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "forgot", NULL, NULL, NULL, &cb));
    EXPECT_EQ(4u, cb);
    // Binary data is never lengthened.
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(k, "bin", 0, REG_BINARY, (const BYTE *)"abc", 3));
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(k, "bin", NULL, NULL, NULL, &cb));
    EXPECT_EQ(3u, cb);
}

TEST(Registry, DefaultValueHasTheEmptyName)
{
    TestKey k("Default");
    ASSERT_EQ(ERROR_SUCCESS, SetString(k, NULL, "dflt"));
    EXPECT_EQ("dflt", GetString(k, ""));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(k, ""));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(k, NULL));
}

TEST(Registry, MissingKeysAndValuesAreNotFound)
{
    TestKey k("Missing");
    HKEY h = (HKEY)1;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(k, "nothing", 0, KEY_READ, &h));
    EXPECT_EQ(NULL, h);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(k, "nothing\\deeper", 0, KEY_READ, &h));
    DWORD cb = 7, nType = 7;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(k, "nothing", NULL, &nType, NULL, &cb));
    EXPECT_EQ(0u, cb);
    EXPECT_EQ((DWORD)REG_NONE, nType);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(k, "nothing"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(k, "nothing"));
}

struct PathCase {
    const char *pszPath;
    LSTATUS nResult;
};
static const PathCase kPaths[] = {
    {"A\\B", ERROR_SUCCESS},     {"A\\B\\", ERROR_SUCCESS},      {"A\\\\B", ERROR_SUCCESS},
    {"a\\b\\\\", ERROR_SUCCESS}, {"\\A\\B", ERROR_BAD_PATHNAME}, {"A\\C", ERROR_FILE_NOT_FOUND},
};

TEST(Registry, KeyPathsSkipEmptyNamesButNotALeadingBackslash)
{
    TestKey k("Paths");
    HKEY h;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(k, "A\\B", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &h, NULL));
    ASSERT_EQ(ERROR_SUCCESS, SetString(h, "here", "yes"));
    RegCloseKey(h);
    for (const PathCase &c : kPaths) {
        EXPECT_EQ(c.nResult, RegOpenKeyExA(k, c.pszPath, 0, KEY_READ, &h)) << c.pszPath;
        if (c.nResult == ERROR_SUCCESS) {
            EXPECT_EQ("yes", GetString(h, "here")) << c.pszPath;
            RegCloseKey(h);
        }
    }
    EXPECT_EQ(ERROR_BAD_PATHNAME, RegCreateKeyExA(k, "\\Lead", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &h, NULL));
    std::string sLong(256, 'n');
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegCreateKeyExA(k, sLong.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &h, NULL));
    sLong.pop_back();
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(k, sLong.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &h, NULL));
    RegCloseKey(h);
    // An empty or absent path names the key itself.
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(k, "", 0, KEY_READ, &h));
    RegCloseKey(h);
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(k, NULL, 0, KEY_READ, &h));
    RegCloseKey(h);
}

TEST(Registry, KeyWithSubKeyIsNotDeletedAndKeyWithValuesIs)
{
    TestKey k("Delete");
    HKEY h;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(k, "Parent\\Child", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &h, NULL));
    ASSERT_EQ(ERROR_SUCCESS, SetString(h, "v", "child's"));
    RegCloseKey(h);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(k, "Parent"));
    EXPECT_TRUE(KeyExists(k, "Parent\\Child"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(k, "parent\\child"));
    EXPECT_FALSE(KeyExists(k, "Parent\\Child"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(k, "Parent"));
    // A key made again under the same name starts empty.
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(k, "Parent\\Child", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &h, NULL));
    EXPECT_EQ("<none>", GetString(h, "v"));
    RegCloseKey(h);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CURRENT_USER, ""));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyA(k, NULL));
}

TEST(Registry, KeyOpenedForReadingCannotBeWritten)
{
    TestKey k("Rights");
    ASSERT_EQ(ERROR_SUCCESS, SetString(k, "v", "kept"));
    HKEY h, hSub;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(k, "Existing", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hSub, NULL));
    RegCloseKey(hSub);
    std::string sPath = std::string(kTestArea) + "\\Rights";
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, sPath.c_str(), 0, KEY_READ, &h));
    EXPECT_EQ(ERROR_ACCESS_DENIED, SetString(h, "v", "changed"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(h, "v"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(h, "New", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hSub, NULL));
    EXPECT_FALSE(KeyExists(k, "New"));
    EXPECT_EQ("kept", GetString(h, "v"));
    // Opening what exists needs no right on the parent, as on the platform.
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(h, "Existing", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hSub, NULL));
    RegCloseKey(hSub);
    RegCloseKey(h);

    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, sPath.c_str(), 0, KEY_SET_VALUE, &h));
    DWORD cb = 0;
    char sz[8];
    DWORD cch = sizeof sz;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegQueryValueExA(h, "v", NULL, NULL, NULL, &cb));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegEnumKeyExA(h, 0, sz, &cch, NULL, NULL, NULL, NULL));
    EXPECT_EQ(ERROR_SUCCESS, SetString(h, "v", "changed"));
    RegCloseKey(h);
    EXPECT_EQ("changed", GetString(k, "v"));

    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, sPath.c_str(), 0, GENERIC_READ, &h));
    EXPECT_EQ("changed", GetString(h, "v"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, SetString(h, "v", "again"));
    RegCloseKey(h);
}

TEST(Registry, HandleToADeletedKeyReportsKeyDeleted)
{
    TestKey k("Deleted");
    HKEY h, hSub;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(k, "Gone", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &h, NULL));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(k, "Gone"));
    DWORD cb = 0, n = 0;
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(h, "v", NULL, NULL, NULL, &cb));
    EXPECT_EQ(ERROR_KEY_DELETED, SetString(h, "v", "x"));
    EXPECT_EQ(ERROR_KEY_DELETED, RegDeleteValueA(h, "v"));
    EXPECT_EQ(ERROR_KEY_DELETED, RegCreateKeyExA(h, "c", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hSub, NULL));
    EXPECT_EQ(ERROR_KEY_DELETED, RegOpenKeyExA(h, "", 0, KEY_READ, &hSub));
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegQueryInfoKeyA(h, NULL, NULL, NULL, &n, NULL, NULL, NULL, NULL, NULL, NULL, NULL));
    // A key made again under the name is another key: the old handle stays dead.
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(k, "Gone", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hSub, NULL));
    EXPECT_EQ(ERROR_KEY_DELETED, SetString(h, "v", "x"));
    RegCloseKey(hSub);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(h));
}

TEST(Registry, InvalidHandlesAreRefused)
{
    HKEY h;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &h));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(h));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(h));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(NULL));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey((HKEY)0x1234));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
    DWORD cb = 0;
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExA(h, "x", NULL, NULL, NULL, &cb));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExA(NULL, "Software", 0, KEY_READ, &h));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExA((HKEY)(ULONG_PTR)((LONG)0x80000004), "", 0, KEY_READ, &h));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, NULL));
}

TEST(Registry, InfoCountsSubKeysAndValuesWithTheirLongestNames)
{
    TestKey k("Info");
    HKEY h;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(k, "abc", 0, (LPSTR) "Klass", 0, KEY_ALL_ACCESS, NULL, &h, NULL));
    RegCloseKey(h);
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(k, "abcdefg", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &h, NULL));
    char szClass[16];
    DWORD cchClass = sizeof szClass;
    EXPECT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyA(h, szClass, &cchClass, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL));
    EXPECT_EQ(0u, cchClass);
    RegCloseKey(h);
    ASSERT_EQ(ERROR_SUCCESS, SetString(k, "name", "1234567"));
    ASSERT_EQ(ERROR_SUCCESS, SetString(k, "longer name", "1"));
    DWORD nSub, nMaxSub, nMaxClass, nValues, nMaxName, nMaxData;
    FILETIME ft = {0, 0};
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(k, NULL, NULL, NULL, &nSub, &nMaxSub, &nMaxClass, &nValues,
                                              &nMaxName, &nMaxData, NULL, &ft));
    EXPECT_EQ(2u, nSub);
    EXPECT_EQ(7u, nMaxSub);
    EXPECT_EQ(5u, nMaxClass);
    EXPECT_EQ(2u, nValues);
    EXPECT_EQ(11u, nMaxName);
    EXPECT_EQ(8u, nMaxData);
    EXPECT_NE(0u, ft.dwHighDateTime);

    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(k, "abc", 0, KEY_READ, &h));
    cchClass = 3;
    EXPECT_EQ(ERROR_MORE_DATA,
              RegQueryInfoKeyA(h, szClass, &cchClass, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL));
    cchClass = sizeof szClass;
    EXPECT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyA(h, szClass, &cchClass, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL));
    EXPECT_STREQ("Klass", szClass);
    EXPECT_EQ(5u, cchClass);
    RegCloseKey(h);
}

TEST(Registry, EnumerationGivesSubKeysByNameAndValuesByAge)
{
    TestKey k("Enum");
    static const char *const apKeys[] = {"beta", "Alpha", "gamma", "\xc0\xe1\xe2", "Delta"};
    for (const char *psz : apKeys) {
        HKEY h;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(k, psz, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &h, NULL));
        RegCloseKey(h);
    }
    static const char *const apSorted[] = {"Alpha", "beta", "Delta", "gamma", "\xc0\xe1\xe2"};
    char sz[16];
    DWORD cch;
    for (DWORD i = 0; i < 5; i++) {
        cch = sizeof sz;
        ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyExA(k, i, sz, &cch, NULL, NULL, NULL, NULL));
        EXPECT_STREQ(apSorted[i], sz);
    }
    cch = sizeof sz;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumKeyExA(k, 5, sz, &cch, NULL, NULL, NULL, NULL));
    cch = 5; // "Alpha" needs 6 with its terminator
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExA(k, 0, sz, &cch, NULL, NULL, NULL, NULL));

    ASSERT_EQ(ERROR_SUCCESS, SetString(k, "z", "1"));
    ASSERT_EQ(ERROR_SUCCESS, SetString(k, "a", "22"));
    ASSERT_EQ(ERROR_SUCCESS, SetString(k, "Z", "333")); // overwrites z in its place
    BYTE ab[8];
    DWORD cb = sizeof ab, nType = 0;
    cch = sizeof sz;
    ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(k, 0, sz, &cch, NULL, &nType, ab, &cb));
    EXPECT_STREQ("z", sz);
    EXPECT_STREQ("333", (char *)ab);
    cb = 1;
    cch = sizeof sz;
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(k, 1, sz, &cch, NULL, &nType, ab, &cb));
    EXPECT_EQ(3u, cb);
    cch = sizeof sz;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, RegEnumValueA(k, 2, sz, &cch, NULL, NULL, NULL, NULL));
}

TEST(Registry, FaultSwitchMakesTheChosenCallsFailOnTheChosenKeys)
{
    TestKey k("Fault");
    setenv("PLAT_FAULT",
           "RegSetValueExA 1016 HKEY_CURRENT_USER\\Software\\RegTest\\Fault\\Broken;"
           "RegCreateKeyExA 5 *\\fault\\NoKey\\*;RegQueryValueExA 1012 *\\Unreadable",
           1);
    EXPECT_EQ(1016, SetString(k, "Broken", "x"));
    EXPECT_EQ(ERROR_SUCCESS, SetString(k, "Other", "x"));
    EXPECT_EQ(ERROR_SUCCESS, SetString(k, "Unreadable", "x"));
    EXPECT_EQ("<none>", GetString(k, "Unreadable"));
    HKEY h;
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegCreateKeyExA(k, "NoKey\\Below", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &h, NULL));
    EXPECT_FALSE(KeyExists(k, "NoKey"));
    unsetenv("PLAT_FAULT");
    EXPECT_EQ(ERROR_SUCCESS, SetString(k, "Broken", "x"));
    EXPECT_EQ("x", GetString(k, "Unreadable"));
}

TEST(Registry, ChangeMadeByOneProcessIsSeenByAnother)
{
    ASSERT_EQ(0, RunChild({"set", "Shared", "fromChild", "\xcf\xf0\xee\xe1\xe0"}));
    TestKey k("Shared");
    EXPECT_EQ("\xcf\xf0\xee\xe1\xe0", GetString(k, "FROMCHILD"));
    ASSERT_EQ(ERROR_SUCCESS, SetString(k, "fromParent", "parent's"));
    EXPECT_EQ(0, RunChild({"get", "Shared", "fromparent", "parent's"}));
    EXPECT_EQ(1, RunChild({"get", "Shared", "fromparent", "something else"}));
}

TEST(Registry, ChangeIsOnDiskWhenTheCallReturns)
{
    // The child sets a value and is killed at once, without closing anything.
    ASSERT_EQ(128 + SIGKILL, RunChild({"setkill", "Durable", "v", "survives"}));
    TestKey k("Durable");
    EXPECT_EQ("survives", GetString(k, "v"));
}

TEST(Registry, TwoProcessesWritingAtOnceLoseNothing)
{
    const int nEach = 150;
    pid_t pidA = StartChild({"many", "Busy", "a", std::to_string(nEach)});
    pid_t pidB = StartChild({"many", "Busy", "b", std::to_string(nEach)});
    EXPECT_EQ(0, WaitChild(pidA));
    EXPECT_EQ(0, WaitChild(pidB));
    TestKey k("Busy");
    DWORD nSub = 0, nValues = 0;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyA(k, NULL, NULL, NULL, &nSub, NULL, NULL, &nValues, NULL, NULL, NULL, NULL));
    EXPECT_EQ((DWORD)(2 * nEach), nValues);
    EXPECT_EQ((DWORD)(2 * nEach), nSub);
    EXPECT_EQ("a7", GetString(k, "a7"));
    EXPECT_EQ("b149", GetString(k, "b149"));
}

TEST(Registry, ProcessesStartingANewMachineAtOnceMakeItOnce)
{
    std::string sMachine = plat::MachineRoot() + "/second";
    std::vector<pid_t> aPids;
    for (int i = 0; i < 4; i++)
        aPids.push_back(StartChild({"set", "First", "v" + std::to_string(i), "x"}, sMachine));
    for (pid_t pid : aPids)
        EXPECT_EQ(0, WaitChild(pid));
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(0, WaitChild(StartChild({"get", "First", "v" + std::to_string(i), "x"}, sMachine))) << i;
    EXPECT_EQ(0, WaitChild(StartChild({"machine", "-", "-", "-"}, sMachine)));
}

// A damaged machine folder: what the calls of another process on it give, and what it says on standard error.
struct Probe {
    std::string sResult; // "reg OPEN CREATE WALK file CREATE ATTRIBUTES", statuses and last errors
    std::string sErr;
};

static std::string ReadHostFile(const std::string &sPath)
{
    std::ifstream f(sPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

static Probe RunProbe(const std::string &sMachine)
{
    std::string sOut = sMachine + ".probe", sErr = sMachine + ".err";
    EXPECT_EQ(0, WaitChild(StartChild({"probe", sOut, sErr, "-"}, sMachine)));
    return Probe{ReadHostFile(sOut), ReadHostFile(sErr)};
}

static size_t Count(const std::string &s, const std::string &sPart)
{
    size_t n = 0;
    for (size_t i = s.find(sPart); i != std::string::npos; i = s.find(sPart, i + 1))
        n++;
    return n;
}

// A machine of its own, made by another process, with sValues values in HKCU\Software\RegTest\Many.
static std::string MakeMachine(const char *pszName, int nValues = 1)
{
    std::string sMachine = plat::MachineRoot() + "/" + pszName;
    EXPECT_EQ(0, WaitChild(StartChild({"many", "Many", "v", std::to_string(nValues)}, sMachine)));
    EXPECT_TRUE(std::filesystem::is_regular_file(sMachine + "/registry.db"));
    EXPECT_FALSE(std::filesystem::exists(sMachine + "/registry.db-wal")); // folded in when the process ended
    return sMachine;
}

static const char kSound[] = "reg 0 0 0 file 0 0";
static const char kNew[] = "reg 0 0 2 file 0 0"; // a new machine has no test area

TEST(MachineFolder, SoundMachineAnswersTheProbe)
{
    std::string sMachine = MakeMachine("sound");
    Probe p = RunProbe(sMachine);
    EXPECT_EQ(kSound, p.sResult);
    EXPECT_EQ("", p.sErr);
}

TEST(MachineFolder, RegistryThatIsNoDatabaseIsReportedOnceAndItsCallsFail)
{
    std::string sMachine = MakeMachine("garbage");
    std::ofstream(sMachine + "/registry.db", std::ios::binary | std::ios::trunc) << std::string(8192, 'x');
    Probe p = RunProbe(sMachine);
    EXPECT_EQ("reg 1011 1011 1011 file 0 0", p.sResult);
    EXPECT_EQ("plat: the registry of the machine folder is damaged: " + sMachine +
                  "/registry.db (file is not a database)\n",
              p.sErr);
    EXPECT_EQ(8192u, std::filesystem::file_size(sMachine + "/registry.db")); // left as it is
}

TEST(MachineFolder, TruncatedRegistryIsReportedOnceAndItsCallsFail)
{
    std::string sMachine = MakeMachine("truncated", 400);
    ASSERT_GT(std::filesystem::file_size(sMachine + "/registry.db"), 40000u);
    std::filesystem::resize_file(sMachine + "/registry.db", 3 * 4096);
    Probe p = RunProbe(sMachine);
    EXPECT_NE(kSound, p.sResult);
    EXPECT_EQ(0u, Count(p.sResult, "reg 0 0 0")) << p.sResult;
    EXPECT_EQ("plat: the registry of the machine folder is damaged: " + sMachine +
                  "/registry.db (database disk image is malformed)\n",
              p.sErr);
}

TEST(MachineFolder, EmptyRegistryIsDamageNotANewMachine)
{
    std::string sMachine = MakeMachine("empty");
    std::filesystem::resize_file(sMachine + "/registry.db", 0);
    Probe p = RunProbe(sMachine);
    EXPECT_EQ("reg 1011 1011 1011 file 0 0", p.sResult);
    EXPECT_EQ("plat: the registry of the machine folder is damaged: " + sMachine +
                  "/registry.db (the file is empty)\n",
              p.sErr);
    EXPECT_EQ(0u, std::filesystem::file_size(sMachine + "/registry.db"));
}

TEST(MachineFolder, MissingRegistryBesideDriveCIsDamageNotANewMachine)
{
    std::string sMachine = MakeMachine("noregistry");
    std::filesystem::remove(sMachine + "/registry.db");
    Probe p = RunProbe(sMachine);
    EXPECT_EQ("reg 1011 1011 1011 file 0 0", p.sResult);
    EXPECT_EQ("plat: the registry of the machine folder is missing: " + sMachine +
                  "/registry.db (drive_c is there: the folder is no new machine)\n",
              p.sErr);
    EXPECT_FALSE(std::filesystem::exists(sMachine + "/registry.db"));
}

TEST(MachineFolder, MissingDriveCIsReportedAndItsPathsAreNotFound)
{
    std::string sMachine = MakeMachine("nodrive");
    std::filesystem::remove_all(sMachine + "/drive_c");
    Probe p = RunProbe(sMachine);
    EXPECT_EQ("reg 0 0 0 file 3 3", p.sResult);
    EXPECT_EQ("plat: drive C: of the machine folder is missing: " + sMachine +
                  "/drive_c (the registry is there: the folder is no new machine)\n",
              p.sErr);
    EXPECT_FALSE(std::filesystem::exists(sMachine + "/drive_c"));
}

TEST(MachineFolder, EmptyFolderAndUnfinishedMakingGiveANewMachine)
{
    std::string sMachine = plat::MachineRoot() + "/emptyfolder";
    std::filesystem::create_directory(sMachine);
    Probe p = RunProbe(sMachine);
    EXPECT_EQ(kNew, p.sResult);
    EXPECT_EQ("", p.sErr);
    // A making cut short: its mark, part of drive C: and an empty registry.db.
    sMachine = plat::MachineRoot() + "/unfinished";
    std::filesystem::create_directories(sMachine + "/drive_c/Program Files");
    std::ofstream(sMachine + "/machine.unfinished");
    std::ofstream(sMachine + "/registry.db");
    p = RunProbe(sMachine);
    EXPECT_EQ(kNew, p.sResult);
    EXPECT_EQ("", p.sErr);
    EXPECT_FALSE(std::filesystem::exists(sMachine + "/machine.unfinished"));
    EXPECT_EQ(0, WaitChild(StartChild({"machine", "-", "-", "-"}, sMachine)));
}

// The probe: registry and file calls, each one's status or last error, in sOut; standard error in sErr.
static int ProbeMain(const std::string &sOut, const std::string &sErr)
{
    int fd = open(sErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, 2) < 0)
        return 2;
    close(fd);
    HKEY h = NULL;
    LSTATUS nOpen = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                                  0, KEY_READ, &h);
    if (h != NULL)
        RegCloseKey(h);
    h = NULL;
    LSTATUS nCreate =
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Probe", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &h, NULL);
    if (h != NULL)
        RegCloseKey(h);
    // Every value of the test area, as a tool that lists the registry reads it.
    LSTATUS nWalk = RegOpenKeyExA(HKEY_CURRENT_USER, kTestArea, 0, KEY_READ, &h);
    for (DWORD i = 0; nWalk == ERROR_SUCCESS; i++) {
        char szName[64];
        DWORD cch = sizeof szName;
        HKEY hSub;
        LSTATUS rc = RegEnumKeyExA(h, i, szName, &cch, NULL, NULL, NULL, NULL);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc == ERROR_SUCCESS)
            rc = RegOpenKeyExA(h, szName, 0, KEY_READ, &hSub);
        for (DWORD j = 0; rc == ERROR_SUCCESS; j++) {
            char szValue[64];
            BYTE ab[64];
            DWORD cchValue = sizeof szValue, cb = sizeof ab;
            rc = RegEnumValueA(hSub, j, szValue, &cchValue, NULL, NULL, ab, &cb);
            if (rc == ERROR_NO_MORE_ITEMS) {
                rc = ERROR_SUCCESS;
                RegCloseKey(hSub);
                break;
            }
        }
        nWalk = rc;
    }
    HANDLE hFile = CreateFileA("C:\\probe.txt", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD nFile = hFile == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (hFile != INVALID_HANDLE_VALUE)
        CloseHandle(hFile);
    DWORD nAttributes = GetFileAttributesA("C:\\Program Files") == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
    std::ofstream(sOut) << "reg " << nOpen << " " << nCreate << " " << nWalk << " file " << nFile << " "
                        << nAttributes;
    return 0;
}

// The tasks of the other processes. Exit code 0 when done, 1 when a check failed, 2 on bad arguments.
static int ChildMain(int argc, char **argv)
{
    if (argc < 4)
        return 2;
    if (strcmp(argv[0], "probe") == 0)
        return ProbeMain(argv[1], argv[2]);
    std::string sTask = argv[0], sKey = std::string(kTestArea) + "\\" + argv[1];
    HKEY h;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, sKey.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &h, NULL) !=
        ERROR_SUCCESS)
        return 1;
    if ((sTask == "set" || sTask == "setkill") && argc == 4) {
        if (SetString(h, argv[2], argv[3]) != ERROR_SUCCESS)
            return 1;
        if (sTask == "setkill")
            kill(getpid(), SIGKILL);
        return 0;
    }
    if (sTask == "machine") { // a new machine's values, once each
        HKEY hVersion;
        DWORD nValues = 0;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ,
                          &hVersion) != ERROR_SUCCESS)
            return 1;
        RegQueryInfoKeyA(hVersion, NULL, NULL, NULL, NULL, NULL, NULL, &nValues, NULL, NULL, NULL, NULL);
        return nValues == 2 && GetString(hVersion, "ProgramFilesDir") == "C:\\Program Files" ? 0 : 1;
    }
    if (sTask == "get" && argc == 4)
        return GetString(h, argv[2]) == argv[3] ? 0 : 1;
    if (sTask == "many" && argc == 4) {
        int nFailed = 0;
        for (int i = 0; i < atoi(argv[3]); i++) {
            std::string sName = argv[2] + std::to_string(i);
            HKEY hSub;
            nFailed += SetString(h, sName.c_str(), sName) != ERROR_SUCCESS;
            if (RegCreateKeyExA(h, sName.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hSub, NULL) ==
                ERROR_SUCCESS)
                RegCloseKey(hSub);
            else
                nFailed++;
        }
        return nFailed == 0 ? 0 : 1;
    }
    return 2;
}

int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], "--child") == 0)
        return ChildMain(argc - 2, argv + 2);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
