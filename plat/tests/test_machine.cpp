// test_machine.cpp - the emulated machine on Linux: its folder, Windows paths and their host paths, the
// current directory.

#include "advapi/advapi.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

static std::string DriveC()
{
    return plat::MachineRoot() + "/drive_c";
}

// A host file or folder inside drive C:, made directly on the host (names in UTF-8).
static void HostDir(const std::string &sRel)
{
    fs::create_directories(DriveC() + "/" + sRel);
}

static void HostFile(const std::string &sRel)
{
    std::ofstream(DriveC() + "/" + sRel) << "x";
}

// Every test starts in C:\work, with a few names of mixed case.
class Machine : public ::testing::Test {
  protected:
    void SetUp() override
    {
        fs::remove_all(DriveC() + "/work");
        HostDir("work/Sub Dir/Deep");
        HostFile("work/Sub Dir/File.TXT");
        HostDir("work/\xd0\x9f\xd0\xb0\xd0\xbf\xd0\xba\xd0\xb0"); // Папка
        HostFile("work/\xd1\x91\xd0\xb6.txt");                    // ёж.txt
        ASSERT_TRUE(SetCurrentDirectoryA("C:\\work"));
    }
};

TEST_F(Machine, NewMachineHasItsSpecialFolders)
{
    static const plat::SpecialFolder aFolders[] = {plat::FolderProgramFiles, plat::FolderCommonFiles,
                                                   plat::FolderPrograms,     plat::FolderDesktop,
                                                   plat::FolderDocuments,    plat::FolderTemp};
    EXPECT_EQ(getenv("PLAT_ROOT"), plat::MachineRoot());
    for (plat::SpecialFolder nFolder : aFolders) {
        std::string sWin = plat::SpecialFolderPath(nFolder);
        plat::ResolvedPath path;
        DWORD nError = 0;
        ASSERT_TRUE(plat::ResolvePath(sWin.c_str(), &path, &nError)) << sWin;
        EXPECT_TRUE(path.bFound && fs::is_directory(path.sHost)) << sWin;
    }
    EXPECT_TRUE(fs::is_directory(DriveC() + "/Program Files/Common Files"));
}

struct FullCase {
    const char *pszIn, *pszFull;
};
// Measured with GetFullPathNameA under Wine, current directory C:\work.
static const FullCase kFull[] = {
    {"f.txt", "C:\\work\\f.txt"},
    {"..\\x", "C:\\x"},
    {"..\\..\\..\\x", "C:\\x"},
    {"\\x", "C:\\x"},
    {"C:x", "C:\\work\\x"},
    {"D:x", "D:\\x"},
    {"C:", "C:\\work\\"},
    {"D:", "D:\\"},
    {"c:\\a", "C:\\a"},
    {"C:\\a\\.\\b\\..\\c", "C:\\a\\c"},
    {"C:\\a\\b\\", "C:\\a\\b\\"},
    {"C:\\a\\b.", "C:\\a\\b"},
    {"C:\\a\\b. . ", "C:\\a\\b"},
    {"C:\\a.\\b", "C:\\a\\b"},
    {"C:\\a \\b", "C:\\a \\b"},
    {"C:/a//b", "C:\\a\\b"},
    {"C:\\a\\\\b", "C:\\a\\b"},
    {"\\\\srv\\share\\..\\x", "\\\\srv\\share\\x"},
    {"\\\\srv\\share\\a\\..\\..\\x", "\\\\srv\\share\\x"},
    {"  C:\\x", "C:\\work\\  C:\\x"},
    {"C:\\x\\*.*", "C:\\x\\*.*"},
    {"C:\\..", "C:\\"},
    {".", "C:\\work"},
    {"..", "C:\\"},
    {"C:.", "C:\\work"},
    {"Z:\\tmp\\..\\usr", "Z:\\usr"},
    {"C:\\x\\NULL", "C:\\x\\NULL"},
    {"COM0", "C:\\work\\COM0"},
    {"LPT10.txt", "C:\\work\\LPT10.txt"},
    {"\\\\.\\CON", "\\\\.\\CON"}, // a device path passes as it is
};

// Reserved device names, as the last name of any path, give the device's path with no file part.
static const FullCase kDevices[] = {
    {"C:\\x\\NUL", "\\\\.\\NUL"},       {"nul.txt", "\\\\.\\nul"},       {"Com1 .log", "\\\\.\\Com1"},
    {"C:\\x\\LPT9:", "\\\\.\\LPT9"},    {"D:aux", "\\\\.\\aux"},         {"..\\prn.a.b", "\\\\.\\prn"},
    {"C:\\x\\con  ", "\\\\.\\con"},
};

TEST_F(Machine, FullPathOfADeviceNameIsTheDevice)
{
    for (const auto &c : kDevices) {
        char sz[MAX_PATH];
        LPSTR pszPart = sz;
        DWORD n = GetFullPathNameA(c.pszIn, sizeof sz, sz, &pszPart);
        EXPECT_EQ(strlen(c.pszFull), n) << c.pszIn;
        EXPECT_STREQ(c.pszFull, sz) << c.pszIn;
        EXPECT_EQ(NULL, pszPart) << c.pszIn;
    }
}

TEST_F(Machine, FullPathFollowsThePlatformRules)
{
    for (const auto &c : kFull) {
        char sz[MAX_PATH];
        LPSTR pszPart = NULL;
        DWORD n = GetFullPathNameA(c.pszIn, sizeof sz, sz, &pszPart);
        EXPECT_EQ(strlen(c.pszFull), n) << c.pszIn;
        EXPECT_STREQ(c.pszFull, sz) << c.pszIn;
        const char *pszSlash = strrchr(c.pszFull, '\\');
        if (pszSlash[1] == '\0')
            EXPECT_EQ(NULL, pszPart) << c.pszIn;
        else
            EXPECT_STREQ(pszSlash + 1, pszPart) << c.pszIn;
    }
}

TEST_F(Machine, FullPathOfNothingFails)
{
    char sz[MAX_PATH] = "x";
    EXPECT_EQ(0u, GetFullPathNameA("", sizeof sz, sz, NULL));
    EXPECT_EQ(0u, GetFullPathNameA("   ", sizeof sz, sz, NULL));
}

TEST_F(Machine, FullPathReportsTheSizeItNeeds)
{
    char sz[8] = "keep";
    EXPECT_EQ(15u, GetFullPathNameA("C:\\work\\abcdef", sizeof sz, sz, NULL)); // 14 characters and the zero
    EXPECT_STREQ("keep", sz);
    EXPECT_EQ(15u, GetFullPathNameA("C:\\work\\abcdef", 14, sz, NULL));
}

TEST_F(Machine, FullPathStopsAtTheLongestPathThePlatformMakes)
{
    std::string sBase = "C:\\work\\";
    std::string s259 = sBase + std::string(259 - sBase.size(), 'a');
    std::string s260 = s259 + "b";
    char sz[400];
    EXPECT_EQ(259u, GetFullPathNameA(s259.c_str(), sizeof sz, sz, NULL));
    SetLastError(0);
    EXPECT_EQ(0u, GetFullPathNameA(s260.c_str(), sizeof sz, sz, NULL));
    EXPECT_EQ((DWORD)ERROR_FILENAME_EXCED_RANGE, GetLastError());
    // A relative name that makes too long a path fails the same way.
    EXPECT_EQ(0u, GetFullPathNameA(std::string(255, 'r').c_str(), sizeof sz, sz, NULL));
    EXPECT_EQ((DWORD)ERROR_FILENAME_EXCED_RANGE, GetLastError());
}

struct ResolveCase {
    const char *pszWin;
    const char *pszHostRel; // under drive_c
    bool bFound;
};
static const ResolveCase kResolve[] = {
    {"C:\\work\\Sub Dir\\File.TXT", "work/Sub Dir/File.TXT", true},
    {"c:\\WORK\\sub dir\\file.txt", "work/Sub Dir/File.TXT", true},
    {"C:\\Work\\SUB DIR\\deep\\", "work/Sub Dir/Deep", true},
    {"sub dir\\missing.txt", "work/Sub Dir/missing.txt", false},
    {"C:\\work\\Sub Dir\\File.TXT. ", "work/Sub Dir/File.TXT", true},
    {"C:\\work\\\xef\xc0\xcf\xca\xc0", "work/\xd0\x9f\xd0\xb0\xd0\xbf\xd0\xba\xd0\xb0", true},  // пАПКА
    {"C:\\work\\\xa8\xc6.TXT", "work/\xd1\x91\xd0\xb6.txt", true},                              // ЁЖ.TXT
    {"C:\\work\\\xcd\xee\xe2\xfb\xe9", "work/\xd0\x9d\xd0\xbe\xd0\xb2\xd1\x8b\xd0\xb9", false}, // Новый
    {"C:\\", "", true},
};

TEST_F(Machine, ExistingNamesMatchWithoutCaseAndMissingOnesKeepTheirSpelling)
{
    for (const auto &c : kResolve) {
        plat::ResolvedPath path;
        DWORD nError = 0;
        ASSERT_TRUE(plat::ResolvePath(c.pszWin, &path, &nError)) << c.pszWin << " error " << nError;
        std::string sWant = DriveC() + (*c.pszHostRel ? "/" : "") + c.pszHostRel;
        EXPECT_EQ(sWant, path.sHost) << c.pszWin;
        EXPECT_EQ(c.bFound, path.bFound) << c.pszWin;
    }
}

TEST_F(Machine, ZDriveIsTheHostRoot)
{
    plat::ResolvedPath path;
    DWORD nError = 0;
    ASSERT_TRUE(plat::ResolvePath("Z:\\", &path, &nError));
    EXPECT_EQ("/", path.sHost);
    EXPECT_TRUE(path.bRoot);
    ASSERT_TRUE(plat::ResolvePath("z:\\PROC\\self", &path, &nError));
    EXPECT_EQ("/proc/self", path.sHost);
}

struct ErrorCase {
    const char *pszWin;
    DWORD nError;
};
static const ErrorCase kErrors[] = {
    {"", ERROR_PATH_NOT_FOUND},
    {"C:\\work\\nodir\\x", ERROR_PATH_NOT_FOUND},
    {"C:\\work\\Sub Dir\\File.TXT\\x", ERROR_PATH_NOT_FOUND}, // a file used as a folder
    {"C:\\work\\a*b", ERROR_INVALID_NAME},
    {"C:\\work\\a?b", ERROR_INVALID_NAME},
    {"C:\\work\\a<b", ERROR_INVALID_NAME},
    {"C:\\work\\a>b", ERROR_INVALID_NAME},
    {"C:\\work\\a|b", ERROR_INVALID_NAME},
    {"C:\\work\\a\"b", ERROR_INVALID_NAME},
    {"C:\\work\\a:b", ERROR_INVALID_NAME},
    {"C:\\work\\a\tb", ERROR_INVALID_NAME},
    {"C:\\work\\nodir\\a*b", ERROR_INVALID_NAME},
    {"Q:\\x", ERROR_PATH_NOT_FOUND},
    {"Q:\\", ERROR_PATH_NOT_FOUND},
    {"\\\\server\\share\\x", ERROR_BAD_NETPATH},
};

TEST_F(Machine, UnusablePathsFailWithThePlatformsErrors)
{
    for (const auto &c : kErrors) {
        plat::ResolvedPath path;
        DWORD nError = 0;
        EXPECT_FALSE(plat::ResolvePath(c.pszWin, &path, &nError)) << c.pszWin;
        EXPECT_EQ(c.nError, nError) << c.pszWin;
    }
}

TEST_F(Machine, WildcardsPassOnlyInTheLastNameOfASearch)
{
    plat::ResolvedPath path;
    DWORD nError = 0;
    EXPECT_TRUE(plat::ResolvePath("C:\\work\\sub dir\\*.t?t", &path, &nError, plat::RESOLVE_WILDCARDS));
    EXPECT_EQ(DriveC() + "/work/Sub Dir/*.t?t", path.sHost);
    EXPECT_FALSE(plat::ResolvePath("C:\\work\\s*\\x", &path, &nError, plat::RESOLVE_WILDCARDS));
    EXPECT_EQ((DWORD)ERROR_INVALID_NAME, nError);
}

TEST_F(Machine, PathsUpTo260CharactersAreAccepted)
{
    std::string sBase = "C:\\work\\";
    std::string s260 = sBase + std::string(260 - sBase.size(), 'a');
    plat::ResolvedPath path;
    DWORD nError = 0;
    EXPECT_TRUE(plat::ResolvePath(s260.c_str(), &path, &nError));
    EXPECT_FALSE(plat::ResolvePath((s260 + "b").c_str(), &path, &nError));
    EXPECT_EQ((DWORD)ERROR_FILENAME_EXCED_RANGE, nError);
    // A host name longer than the host allows (a Cyrillic name takes two bytes a letter in UTF-8).
    EXPECT_FALSE(plat::ResolvePath(("C:\\" + std::string(130, '\xe0')).c_str(), &path, &nError));
    EXPECT_EQ((DWORD)ERROR_FILENAME_EXCED_RANGE, nError);
}

TEST_F(Machine, LinksOnTheWayAreFollowed)
{
    HostDir("outside/inner");
    fs::create_directory_symlink(DriveC() + "/outside", DriveC() + "/work/link");
    plat::ResolvedPath path;
    DWORD nError = 0;
    ASSERT_TRUE(plat::ResolvePath("C:\\work\\LINK\\Inner", &path, &nError));
    EXPECT_EQ(DriveC() + "/work/link/inner", path.sHost);
    EXPECT_TRUE(path.bFound);
}

struct HostCase {
    std::string sHost;
    const char *pszWin;
};

TEST_F(Machine, HostPathsShowOnCUnderDriveCAndOnZElsewhere)
{
    const HostCase kCases[] = {
        {DriveC(), "C:\\"},
        {DriveC() + "/", "C:\\"},
        {DriveC() + "/Program Files/Kalmor61", "C:\\Program Files\\Kalmor61"},
        {DriveC() + "/work/../x", "C:\\x"},
        {DriveC() + "/work/\xd0\x9f\xd0\xb0\xd0\xbf\xd0\xba\xd0\xb0", "C:\\work\\\xcf\xe0\xef\xea\xe0"},
        {"/", "Z:\\"},
        {"/usr/bin", "Z:\\usr\\bin"},
        {plat::MachineRoot(), nullptr}, // the machine folder itself is not on C:
    };
    for (const auto &c : kCases) {
        std::string sWin = plat::WindowsPathFromHost(c.sHost);
        if (c.pszWin != nullptr)
            EXPECT_EQ(c.pszWin, sWin) << c.sHost;
        else
            EXPECT_EQ('Z', sWin[0]) << c.sHost;
    }
}

TEST_F(Machine, HostNamesOutsideTheCodePageAreMarkedLossy)
{
    bool bLossy = false;
    EXPECT_EQ("Z:\\tmp\\?", plat::WindowsPathFromHost("/tmp/\xe4\xb8\xad", &bLossy));
    EXPECT_TRUE(bLossy);
    plat::WindowsPathFromHost("/tmp/x", &bLossy);
    EXPECT_FALSE(bLossy);
}

TEST_F(Machine, CurrentDirectoryChangesOnlyToExistingFolders)
{
    char sz[MAX_PATH];
    EXPECT_TRUE(SetCurrentDirectoryA("sub dir\\"));
    EXPECT_EQ(15u, GetCurrentDirectoryA(sizeof sz, sz));
    EXPECT_STREQ("C:\\work\\sub dir", sz);
    EXPECT_EQ(16u, GetCurrentDirectoryA(3, sz)); // too small: the size it needs
    EXPECT_TRUE(SetCurrentDirectoryA(".."));

    const ErrorCase kCases[] = {
        {"C:\\work\\Sub Dir\\File.TXT", ERROR_DIRECTORY},
        {"C:\\work\\missing", ERROR_FILE_NOT_FOUND},
        {"C:\\work\\nodir\\missing", ERROR_PATH_NOT_FOUND},
        {"Q:\\", ERROR_PATH_NOT_FOUND},
    };
    for (const auto &c : kCases) {
        SetLastError(0);
        EXPECT_FALSE(SetCurrentDirectoryA(c.pszWin)) << c.pszWin;
        EXPECT_EQ(c.nError, GetLastError()) << c.pszWin;
    }
    GetCurrentDirectoryA(sizeof sz, sz);
    EXPECT_STREQ("C:\\work", sz);
}

TEST_F(Machine, ModuleFileNameIsTheProgramOnZ)
{
    char sz[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, sz, sizeof sz);
    ASSERT_GT(n, 3u);
    EXPECT_EQ(plat::WindowsPathFromHost(plat::ExecutableHostPath()), sz);
    EXPECT_EQ(0, strncmp(sz, "Z:\\", 3));
    EXPECT_STREQ("test_machine", strrchr(sz, '\\') + 1);
}

// A buffer too short gets the path cut and terminated, nSize back and ERROR_INSUFFICIENT_BUFFER, in both
// kinds of character; none at all gets 0.
TEST_F(Machine, ModuleFileNameInAShortBufferIsCutAndTerminated)
{
    char sz[8];
    WCHAR wsz[8];
    std::string sPath = plat::WindowsPathFromHost(plat::ExecutableHostPath());

    memset(sz, 'x', sizeof sz);
    SetLastError(0);
    EXPECT_EQ(5u, GetModuleFileNameA(NULL, sz, 5));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(sPath.substr(0, 4), sz);
    EXPECT_EQ('x', sz[5]);
    memset(wsz, 0x78, sizeof wsz);
    SetLastError(0);
    EXPECT_EQ(5u, GetModuleFileNameW(NULL, wsz, 5));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(0, wsz[4]);
    EXPECT_EQ((WCHAR)sPath[0], wsz[0]);
    EXPECT_EQ(0u, GetModuleFileNameA(NULL, sz, 0));
    EXPECT_EQ(0u, GetModuleFileNameW(NULL, wsz, 0));
}

TEST_F(Machine, TempPathIsTheMachinesTempFolder)
{
    char sz[MAX_PATH];
    std::string sWant = plat::SpecialFolderPath(plat::FolderTemp) + "\\";
    EXPECT_EQ(sWant.size(), GetTempPathA(sizeof sz, sz));
    EXPECT_EQ(sWant, sz);
    EXPECT_EQ(sWant.size() + 1, GetTempPathA(4, sz));
}
