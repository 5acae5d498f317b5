// test_file.cpp - files and folders of the emulated machine: dispositions, access and sharing, the platform's
// errors, attributes and times kept on the host, read-only rules also as root, the file search, links, the
// fault switch, the calendar conversions, the host's executable bits of copies, and the operations left for
// the machine's next start (MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT, carried out by plat-boot).
// Expected values were measured with the same calls under Wine (and, for read-only files, as an
// unprivileged user there); those of the delayed operations follow the platform's documentation.

#include "kernel/kernel.h"
#include "advapi/advapi.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

static std::string Host(const std::string &sRel)
{
    return plat::MachineRoot() + "/drive_c/t/" + sRel;
}

static HANDLE Open(const char *psz, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition, DWORD dwFlags = 0)
{
    return CreateFileA(psz, dwAccess, dwShare, NULL, dwDisposition, dwFlags, NULL);
}

// Makes a file with the given bytes and attributes.
static void Make(const char *psz, const std::string &sData = "hello", DWORD dwAttributes = 0)
{
    HANDLE h = Open(psz, GENERIC_WRITE, 0, CREATE_ALWAYS, dwAttributes);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << psz << " error " << GetLastError();
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(h, sData.data(), (DWORD)sData.size(), &n, NULL));
    ASSERT_TRUE(CloseHandle(h));
}

static std::string ReadAll(const char *psz)
{
    HANDLE h = Open(psz, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE)
        return "<error " + std::to_string(GetLastError()) + ">";
    std::string s;
    char sz[100];
    DWORD n;
    while (ReadFile(h, sz, sizeof sz, &n, NULL) && n > 0)
        s.append(sz, n);
    CloseHandle(h);
    return s;
}

// Every test works in a fresh C:\t, the current directory.
class Files : public ::testing::Test {
  protected:
    void SetUp() override
    {
        for (const char *psz : {"PLAT_FAULT", "PLAT_FAULT_AT", "PLAT_FAULT_CUT", "PLAT_FAULT_TRACE"})
            unsetenv(psz);
        fs::remove_all(plat::MachineRoot() + "/drive_c/t");
        ASSERT_TRUE(CreateDirectoryA("C:\\t", NULL));
        ASSERT_TRUE(SetCurrentDirectoryA("C:\\t"));
    }
    void TearDown() override
    {
        for (const char *psz : {"PLAT_FAULT", "PLAT_FAULT_AT", "PLAT_FAULT_CUT", "PLAT_FAULT_TRACE"})
            unsetenv(psz);
        SetCurrentDirectoryA("C:\\");
    }
};

struct DispositionCase {
    bool bExists;
    DWORD dwDisposition;
    bool bOpens;
    DWORD nError;         // the last error after the call
    const char *pszAfter; // the file's contents afterwards, or null when there is none
};
static const DispositionCase kDispositions[] = {
    {false, CREATE_NEW, true, ERROR_SUCCESS, ""},
    {true, CREATE_NEW, false, ERROR_FILE_EXISTS, "hello"},
    {false, CREATE_ALWAYS, true, ERROR_SUCCESS, ""},
    {true, CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, ""},
    {false, OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND, nullptr},
    {true, OPEN_EXISTING, true, ERROR_SUCCESS, "hello"},
    {false, OPEN_ALWAYS, true, ERROR_SUCCESS, ""},
    {true, OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS, "hello"},
    {false, TRUNCATE_EXISTING, false, ERROR_FILE_NOT_FOUND, nullptr},
    {true, TRUNCATE_EXISTING, true, ERROR_SUCCESS, ""},
    {true, 0, false, ERROR_INVALID_PARAMETER, "hello"},
    {true, 6, false, ERROR_INVALID_PARAMETER, "hello"},
};

TEST_F(Files, DispositionsCreateOpenAndTruncateAsThePlatformDoes)
{
    for (const auto &c : kDispositions) {
        DeleteFileA("C:\\t\\f.txt");
        if (c.bExists)
            Make("C:\\t\\f.txt");
        SetLastError(0xdead);
        HANDLE h = Open("C:\\t\\f.txt", GENERIC_READ | GENERIC_WRITE, 0, c.dwDisposition);
        EXPECT_EQ(c.nError, GetLastError()) << c.dwDisposition << " exists " << c.bExists;
        EXPECT_EQ(c.bOpens, h != INVALID_HANDLE_VALUE) << c.dwDisposition << " exists " << c.bExists;
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        if (c.pszAfter != nullptr)
            EXPECT_EQ(c.pszAfter, ReadAll("C:\\t\\f.txt")) << c.dwDisposition;
        else
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\t\\f.txt"));
    }
}

struct ErrorCase {
    const char *pszPath;
    DWORD nError;
};

TEST_F(Files, OpeningFailsWithThePlatformsErrors)
{
    Make("C:\\t\\f.txt");
    ASSERT_TRUE(CreateDirectoryA("C:\\t\\d", NULL));
    const ErrorCase kCases[] = {
        {"C:\\t\\missing", ERROR_FILE_NOT_FOUND},
        {"C:\\t\\nodir\\x", ERROR_PATH_NOT_FOUND},
        {"C:\\t\\f.txt\\x", ERROR_PATH_NOT_FOUND},
        {"C:\\t\\d", ERROR_ACCESS_DENIED}, // a folder without backup semantics
        {"C:\\t\\a*b", ERROR_INVALID_NAME},
        {"", ERROR_PATH_NOT_FOUND},
        {"Q:\\x", ERROR_PATH_NOT_FOUND},
    };
    for (const auto &c : kCases) {
        SetLastError(0);
        EXPECT_EQ(INVALID_HANDLE_VALUE, Open(c.pszPath, GENERIC_READ, 0, OPEN_EXISTING)) << c.pszPath;
        EXPECT_EQ(c.nError, GetLastError()) << c.pszPath;
    }
    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open("C:\\t\\newname\\", GENERIC_WRITE, 0, CREATE_ALWAYS));
    EXPECT_EQ((DWORD)ERROR_INVALID_NAME, GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open("C:\\t\\d", GENERIC_WRITE, 0, CREATE_ALWAYS));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
}

// The platform's reserved device names open the device wherever the path puts them: NUL takes writes and
// reads as empty; this machine has no console, serial or parallel port, so the others are not found. No
// host file of the name is made or opened.
TEST_F(Files, ReservedDeviceNamesOpenTheDeviceNotAFile)
{
    for (const char *psz : {"C:\\t\\NUL", "nul", "C:\\t\\Nul.txt", "C:\\t\\NUL  .log", "NUL:", "c:\\t\\nul.tar.gz",
                            "C:\\t\\missing\\nul", "Q:\\nul", "\\\\.\\NUL", "\\\\.\\nul"}) {
        for (DWORD dwDisposition : {CREATE_NEW, CREATE_ALWAYS, OPEN_EXISTING, TRUNCATE_EXISTING}) {
            SetLastError(1234);
            HANDLE h = Open(psz, GENERIC_READ | GENERIC_WRITE, 0, dwDisposition);
            ASSERT_NE(INVALID_HANDLE_VALUE, h) << psz << " error " << GetLastError();
            EXPECT_EQ((DWORD)ERROR_SUCCESS, GetLastError()) << psz;
            EXPECT_EQ((DWORD)FILE_TYPE_CHAR, GetFileType(h)) << psz;
            DWORD n = 0;
            EXPECT_TRUE(WriteFile(h, "hello", 5, &n, NULL)) << psz;
            EXPECT_EQ(5u, n) << psz;
            char sz[8];
            n = 99;
            EXPECT_TRUE(ReadFile(h, sz, sizeof sz, &n, NULL)) << psz;
            EXPECT_EQ(0u, n) << psz;
            EXPECT_TRUE(CloseHandle(h));
        }
        // Opened for reading only, it refuses writes as a file does.
        HANDLE h = Open(psz, GENERIC_READ, 0, OPEN_EXISTING);
        DWORD n = 0;
        EXPECT_FALSE(WriteFile(h, "x", 1, &n, NULL)) << psz;
        CloseHandle(h);
    }
    for (const char *psz : {"C:\\t\\COM1", "con", "AUX.txt", "prn", "lpt9.x", "C:\\t\\Com3 .txt", "LPT1:",
                            "\\\\.\\COM2"}) {
        for (DWORD dwDisposition : {CREATE_ALWAYS, OPEN_EXISTING}) {
            SetLastError(0);
            EXPECT_EQ(INVALID_HANDLE_VALUE, Open(psz, GENERIC_WRITE, 0, dwDisposition)) << psz;
            EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError()) << psz;
        }
    }
    EXPECT_TRUE(fs::is_empty(Host(""))) << "a host file was made";
    // Names that only look like devices are files.
    for (const char *psz : {"NULL", "COM0", "COM10", "LPT", "CONSOLE.txt", "nul x", "xnul", ".nul"}) {
        HANDLE h = Open(psz, GENERIC_WRITE, 0, CREATE_NEW);
        ASSERT_NE(INVALID_HANDLE_VALUE, h) << psz << " error " << GetLastError();
        EXPECT_EQ((DWORD)FILE_TYPE_DISK, GetFileType(h)) << psz;
        CloseHandle(h);
        EXPECT_TRUE(fs::is_regular_file(Host(psz))) << psz;
    }
}

TEST_F(Files, NamesMatchWithoutCaseAndLoseTrailingDotsAndBlanks)
{
    Make("C:\\t\\\xcf\xf0\xe8\xe2\xe5\xf2.txt", "cyr"); // Привет.txt
    EXPECT_EQ("cyr", ReadAll("c:\\T\\\xef\xd0\xc8\xc2\xc5\xd2.TXT"));
    EXPECT_EQ("cyr", ReadAll("C:\\t\\\xcf\xf0\xe8\xe2\xe5\xf2.txt. "));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\t\\\xcf\xf0\xe8\xe2\xe5\xf2.txt\\"));
    EXPECT_EQ((DWORD)ERROR_PATH_NOT_FOUND, GetLastError()); // a file is no folder
    EXPECT_TRUE(
        fs::exists(Host("\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82.txt"))); // UTF-8 on the host
    // A new name keeps the spelling it was given.
    Make("C:\\t\\MiXeD.Txt");
    EXPECT_TRUE(fs::exists(Host("MiXeD.Txt")));
    Make("C:\\t\\mixed.txt", "again"); // the same file
    EXPECT_EQ("again", ReadAll("C:\\t\\MiXeD.Txt"));
    EXPECT_FALSE(fs::exists(Host("mixed.txt")));
}

// A path is found whichever of its names differ in case from the host's spelling, and a file on the way
// is no folder.
TEST_F(Files, EachNameOfAPathMatchesWithoutCase)
{
    ASSERT_TRUE(CreateDirectoryA("C:\\t\\Dir", NULL));
    ASSERT_TRUE(CreateDirectoryA("C:\\t\\Dir\\Sub", NULL));
    Make("C:\\t\\Dir\\Sub\\File.txt", "deep");
    Make("C:\\t\\plain", "plain");
    static const struct {
        const char *pszPath;
        const char *pszResult;
    } aCases[] = {
        {"C:\\t\\Dir\\Sub\\File.txt", "deep"},  // as on the host
        {"C:\\t\\Dir\\Sub\\FILE.TXT", "deep"},  // the last name differs
        {"C:\\t\\DIR\\Sub\\File.txt", "deep"},  // a folder on the way differs
        {"c:\\T\\dir\\sUB\\file.TXT", "deep"},  // all differ
        {"C:\\t\\Dir\\Sub\\none.txt", "<error 2>"},
        {"C:\\t\\dir\\none\\File.txt", "<error 3>"},
        {"C:\\t\\plain\\File.txt", "<error 3>"}, // a file used as a folder
        {"C:\\t\\PLAIN\\x", "<error 3>"},
    };
    for (const auto &c : aCases)
        EXPECT_EQ(c.pszResult, ReadAll(c.pszPath)) << c.pszPath;
    // Where the host holds two spellings, the exact one wins, in folders on the way too.
    fs::create_directory(Host("dir"));
    std::ofstream(Host("dir/Sub")) << "other";
    EXPECT_EQ("other", ReadAll("C:\\t\\dir\\Sub"));
    EXPECT_EQ("<error 3>", ReadAll("C:\\t\\dir\\Sub\\File.txt"));
    EXPECT_EQ("deep", ReadAll("C:\\t\\Dir\\sub\\file.txt"));
}

// What a handle is on the host decides its type: a character device, a FIFO, a file.
TEST_F(Files, FileTypeFollowsWhatTheHostEntryIs)
{
    ASSERT_EQ(0, mkfifo(Host("fifo").c_str(), 0666));
    Make("C:\\t\\file");
    static const struct {
        const char *pszPath;
        DWORD dwType;
    } aCases[] = {
        {"Z:\\dev\\null", FILE_TYPE_CHAR},
        {"C:\\t\\fifo", FILE_TYPE_PIPE},
        {"C:\\t\\file", FILE_TYPE_DISK},
    };
    for (const auto &c : aCases) {
        HANDLE h = Open(c.pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
        ASSERT_NE(INVALID_HANDLE_VALUE, h) << c.pszPath << " error " << GetLastError();
        EXPECT_EQ(c.dwType, GetFileType(h)) << c.pszPath;
        CloseHandle(h);
    }
}

TEST_F(Files, HandlesReadAndWriteOnlyAsTheirAccessAllows)
{
    Make("C:\\t\\f.txt", "0123456789");
    char sz[16];
    DWORD n = 99;
    HANDLE h = Open("C:\\t\\f.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_FALSE(WriteFile(h, "x", 1, &n, NULL));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_EQ(0u, n);
    EXPECT_EQ((DWORD)FILE_TYPE_DISK, GetFileType(h));
    EXPECT_EQ(10u, GetFileSize(h, NULL));
    EXPECT_EQ(6u, SetFilePointer(h, 6, NULL, FILE_BEGIN));
    EXPECT_TRUE(ReadFile(h, sz, sizeof sz, &n, NULL));
    EXPECT_EQ(4u, n);
    EXPECT_EQ(0, memcmp("6789", sz, 4));
    EXPECT_TRUE(ReadFile(h, sz, sizeof sz, &n, NULL)); // at the end: success with nothing read
    EXPECT_EQ(0u, n);
    EXPECT_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(h, -20, NULL, FILE_CURRENT));
    EXPECT_EQ((DWORD)ERROR_NEGATIVE_SEEK, GetLastError());
    EXPECT_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(h, 0, NULL, 7));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
    LONG nHigh = 1;
    EXPECT_EQ(5u, SetFilePointer(h, 5, &nHigh, FILE_BEGIN)); // 2^32 + 5
    EXPECT_EQ(1, nHigh);
    FILETIME ft = {1, 2};
    EXPECT_FALSE(SetFileTime(h, &ft, &ft, &ft)); // times need write access
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_EQ(INVALID_FILE_SIZE, GetFileSize(h, NULL));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());

    h = Open("C:\\t\\f.txt", GENERIC_WRITE, 0, OPEN_EXISTING);
    EXPECT_FALSE(ReadFile(h, sz, 1, &n, NULL));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_EQ(10u, SetFilePointer(h, 0, NULL, FILE_END));
    EXPECT_TRUE(WriteFile(h, "ab", 2, &n, NULL));
    EXPECT_EQ(2u, n);
    EXPECT_EQ(4u, SetFilePointer(h, 4, NULL, FILE_BEGIN));
    EXPECT_TRUE(SetEndOfFile(h));
    CloseHandle(h);
    EXPECT_EQ("0123", ReadAll("C:\\t\\f.txt"));
}

struct ShareCase {
    DWORD dwFirstAccess, dwFirstShare, dwAccess, dwShare;
    bool bOpens;
};
static const ShareCase kShares[] = {
    {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
    {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
    {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, 0, false}, // would deny the first handle its reading
    {GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, FILE_SHARE_READ,
     false},                                     // the first does not share writing
    {GENERIC_READ, FILE_SHARE_READ, 0, 0, true}, // attributes only
    {GENERIC_READ, FILE_SHARE_READ, DELETE, 7, false},
    {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_READ, FILE_SHARE_READ, false},
    {GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_READ, FILE_SHARE_WRITE, true},
    {GENERIC_WRITE, 0, GENERIC_READ, 7, false},
    {0, 0, GENERIC_READ | GENERIC_WRITE, 0, true},
};

TEST_F(Files, SharingModesBetweenHandlesAreHonoured)
{
    Make("C:\\t\\f.txt");
    for (const auto &c : kShares) {
        HANDLE h1 = Open("c:\\t\\F.TXT", c.dwFirstAccess, c.dwFirstShare, OPEN_EXISTING);
        ASSERT_NE(INVALID_HANDLE_VALUE, h1);
        SetLastError(0);
        HANDLE h2 = Open("C:\\t\\f.txt", c.dwAccess, c.dwShare, OPEN_EXISTING);
        EXPECT_EQ(c.bOpens, h2 != INVALID_HANDLE_VALUE)
            << c.dwFirstAccess << "/" << c.dwFirstShare << " then " << c.dwAccess << "/" << c.dwShare;
        if (h2 != INVALID_HANDLE_VALUE)
            CloseHandle(h2);
        else
            EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
        CloseHandle(h1);
    }
}

TEST_F(Files, OpenFilesResistDeletionMovesAndCopiesThatTheirSharingForbids)
{
    Make("C:\\t\\f.txt");
    Make("C:\\t\\g.txt");
    HANDLE h = Open("C:\\t\\f.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_FALSE(DeleteFileA("C:\\t\\f.txt"));
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
    EXPECT_FALSE(MoveFileA("C:\\t\\f.txt", "C:\\t\\f2.txt"));
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
    EXPECT_FALSE(CopyFileA("C:\\t\\g.txt", "C:\\t\\f.txt", FALSE));
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
    EXPECT_TRUE(CopyFileA("C:\\t\\f.txt", "C:\\t\\copy.txt", FALSE)); // reading it is shared
    CloseHandle(h);

    // Shared for deletion: the name goes at once, the handle still reads.
    h = Open("C:\\t\\f.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
    EXPECT_TRUE(DeleteFileA("C:\\t\\f.txt"));
    char sz[8];
    DWORD n;
    EXPECT_TRUE(ReadFile(h, sz, sizeof sz, &n, NULL));
    EXPECT_EQ(5u, n);
    CloseHandle(h);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\t\\f.txt"));
}

TEST_F(Files, DeleteOnCloseRemovesTheFileWithItsLastHandle)
{
    HANDLE h = Open("C:\\t\\dc.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_ALWAYS,
                    FILE_FLAG_DELETE_ON_CLOSE);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    HANDLE h2 = Open("C:\\t\\dc.txt", GENERIC_READ, 7, OPEN_EXISTING);
    ASSERT_NE(INVALID_HANDLE_VALUE, h2);
    CloseHandle(h);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\t\\dc.txt"));
    CloseHandle(h2);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\t\\dc.txt"));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST_F(Files, AttributesGivenAtCreationAreKeptAndReadOnlyStillWritesThroughItsHandle)
{
    HANDLE h = Open("C:\\t\\ro.txt", GENERIC_WRITE, 0, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD n;
    EXPECT_TRUE(WriteFile(h, "abc", 3, &n, NULL));
    FILETIME ft = {0x12345600, 0x01d00000};
    EXPECT_TRUE(SetFileTime(h, &ft, &ft, &ft));
    CloseHandle(h);
    EXPECT_EQ((DWORD)(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                      FILE_ATTRIBUTE_ARCHIVE),
              GetFileAttributesA("C:\\t\\ro.txt"));
    EXPECT_EQ("abc", ReadAll("C:\\t\\ro.txt"));
    // On the host: no write permission, and the other bits as Wine writes them.
    struct stat st;
    ASSERT_EQ(0, stat(Host("ro.txt").c_str(), &st));
    EXPECT_EQ(0, (int)(st.st_mode & 0222));
    char sz[16] = "";
    ssize_t nLen = getxattr(Host("ro.txt").c_str(), "user.DOSATTRIB", sz, sizeof sz - 1);
    ASSERT_GT(nLen, 0);
    EXPECT_STREQ("0x26", sz);

    EXPECT_EQ((DWORD)FILE_ATTRIBUTE_ARCHIVE,
              (Make("C:\\t\\plain.txt"), GetFileAttributesA("C:\\t\\plain.txt")));
}

TEST_F(Files, AttributesSetAndClearedRoundTrip)
{
    Make("C:\\t\\f.txt");
    ASSERT_TRUE(CreateDirectoryA("C:\\t\\d", NULL));
    struct Case {
        const char *pszPath;
        DWORD dwSet, dwGet;
    };
    const Case kCases[] = {
        {"C:\\t\\f.txt", FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN},
        {"C:\\t\\f.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM,
         FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM},
        {"C:\\t\\f.txt", FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_NORMAL},
        {"C:\\t\\f.txt", 0, FILE_ATTRIBUTE_NORMAL},
        {"C:\\t\\f.txt", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY,
         FILE_ATTRIBUTE_ARCHIVE},
        {"C:\\t\\d", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE,
         FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE},
        {"C:\\t\\d", FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY},
        {"C:\\t\\d", FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_DIRECTORY},
    };
    for (const auto &c : kCases) {
        EXPECT_TRUE(SetFileAttributesA(c.pszPath, c.dwSet)) << c.pszPath << " " << c.dwSet;
        EXPECT_EQ(c.dwGet, GetFileAttributesA(c.pszPath)) << c.pszPath << " " << c.dwSet;
    }
    // A read-only folder still takes new files, as on the platform.
    ASSERT_TRUE(SetFileAttributesA("C:\\t\\d", FILE_ATTRIBUTE_READONLY));
    Make("C:\\t\\d\\inside.txt");
    EXPECT_FALSE(SetFileAttributesA("C:\\t\\missing", 0));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST_F(Files, FileMadeReadOnlyOnTheHostReadsAsReadOnly)
{
    Make("C:\\t\\f.txt");
    ASSERT_EQ(0, chmod(Host("f.txt").c_str(), 0444));
    EXPECT_EQ((DWORD)(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA("C:\\t\\f.txt"));
    ASSERT_TRUE(SetFileAttributesA("C:\\t\\f.txt", FILE_ATTRIBUTE_ARCHIVE));
    struct stat st;
    ASSERT_EQ(0, stat(Host("f.txt").c_str(), &st));
    EXPECT_NE(0, (int)(st.st_mode & S_IWUSR));
}

// These hold whoever runs the process: the platform layer refuses, not the host's permissions (the tests
// run as root in CI, where the host would allow every one of them).
TEST_F(Files, ReadOnlyFilesRefuseWritingReplacingDeletingAndCopyingOver)
{
    Make("C:\\t\\ro.txt", "keep", FILE_ATTRIBUTE_READONLY);
    Make("C:\\t\\src.txt", "new");
    struct Case {
        DWORD dwAccess, dwDisposition, dwFlags;
    };
    const Case kOpens[] = {
        {GENERIC_WRITE, OPEN_EXISTING, 0},
        {GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, 0},
        {GENERIC_WRITE, CREATE_ALWAYS, FILE_ATTRIBUTE_READONLY},
        {GENERIC_WRITE, TRUNCATE_EXISTING, 0},
        {GENERIC_READ, TRUNCATE_EXISTING, 0},
        {GENERIC_READ, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE},
    };
    for (const auto &c : kOpens) {
        SetLastError(0);
        EXPECT_EQ(INVALID_HANDLE_VALUE, Open("C:\\t\\ro.txt", c.dwAccess, 7, c.dwDisposition, c.dwFlags))
            << c.dwAccess << " " << c.dwDisposition;
        EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    }
    EXPECT_FALSE(DeleteFileA("C:\\t\\ro.txt"));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_FALSE(CopyFileA("C:\\t\\src.txt", "C:\\t\\ro.txt", FALSE));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_EQ("keep", ReadAll("C:\\t\\ro.txt")); // reading is allowed
    // Renaming is allowed, and clearing the bit makes it deletable.
    EXPECT_TRUE(MoveFileA("C:\\t\\ro.txt", "C:\\t\\ro2.txt"));
    EXPECT_TRUE(SetFileAttributesA("C:\\t\\ro2.txt", FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(DeleteFileA("C:\\t\\ro2.txt"));
}

TEST_F(Files, ReplacingAHiddenOrSystemFileMustKeepThoseBits)
{
    Make("C:\\t\\h.txt", "x", FILE_ATTRIBUTE_HIDDEN);
    Make("C:\\t\\s.txt", "x", FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              Open("C:\\t\\h.txt", GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              Open("C:\\t\\s.txt", GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN));
    // With the bits kept it is replaced, and takes exactly the new attributes.
    HANDLE h = Open("C:\\t\\h.txt", GENERIC_WRITE, 0, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ((DWORD)ERROR_ALREADY_EXISTS, GetLastError());
    CloseHandle(h);
    EXPECT_EQ((DWORD)(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE),
              GetFileAttributesA("C:\\t\\h.txt"));
    EXPECT_EQ("", ReadAll("C:\\t\\h.txt"));
}

TEST_F(Files, TimesSetThroughAHandleAreKeptAndSeenEverywhere)
{
    Make("C:\\t\\f.txt");
    FILETIME c = {0x12345600, 0x01d00000}, a = {0x22345600, 0x01d10000}, w = {0x32345600, 0x01d20000};
    HANDLE h = Open("C:\\t\\f.txt", GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_TRUE(SetFileTime(h, &c, &a, &w));
    CloseHandle(h);
    FILETIME c2, a2, w2;
    h = Open("C:\\t\\f.txt", 0, 7, OPEN_EXISTING);
    ASSERT_TRUE(GetFileTime(h, &c2, &a2, &w2));
    CloseHandle(h);
    EXPECT_EQ(0, memcmp(&c, &c2, sizeof c));
    EXPECT_EQ(0, memcmp(&a, &a2, sizeof a));
    EXPECT_EQ(0, memcmp(&w, &w2, sizeof w));
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA("C:\\t\\f.txt", &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFind);
    FindClose(hFind);
    EXPECT_EQ(0, memcmp(&c, &fd.ftCreationTime, sizeof c));
    EXPECT_EQ(0, memcmp(&w, &fd.ftLastWriteTime, sizeof w));
    // Null and zero times leave a time as it is.
    FILETIME zero = {0, 0};
    h = Open("C:\\t\\f.txt", GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_TRUE(SetFileTime(h, &zero, NULL, NULL));
    ASSERT_TRUE(GetFileTime(h, &c2, &a2, &w2));
    CloseHandle(h);
    EXPECT_EQ(0, memcmp(&c, &c2, sizeof c));
    EXPECT_EQ(0, memcmp(&w, &w2, sizeof w));
}

TEST_F(Files, NewFileIsCreatedNowAndOlderTimesSurviveOnTheHost)
{
    FILETIME before, after, c, w;
    GetSystemTimeAsFileTime(&before);
    Make("C:\\t\\f.txt");
    GetSystemTimeAsFileTime(&after);
    HANDLE h = Open("C:\\t\\f.txt", 0, 7, OPEN_EXISTING);
    ASSERT_TRUE(GetFileTime(h, &c, NULL, &w));
    CloseHandle(h);
    auto Ticks = [](const FILETIME &ft) { return ((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime; };
    // Within the host clock's granularity of the moments around the call.
    EXPECT_GE(Ticks(c) + 100000, Ticks(before));
    EXPECT_LE(Ticks(c), Ticks(after) + 100000);
    EXPECT_GE(Ticks(w) + 100000, Ticks(before));
    // The year of a time far back survives the host's clock (before 1970).
    FILETIME old;
    SYSTEMTIME st = {1965, 3, 0, 4, 5, 6, 7, 8};
    ASSERT_TRUE(SystemTimeToFileTime(&st, &old));
    h = Open("C:\\t\\f.txt", GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_TRUE(SetFileTime(h, &old, &old, &old));
    ASSERT_TRUE(GetFileTime(h, &c, NULL, &w));
    CloseHandle(h);
    EXPECT_EQ(Ticks(old), Ticks(c));
    EXPECT_EQ(Ticks(old), Ticks(w));
}

TEST_F(Files, CopyCarriesBytesAttributesAndWriteTime)
{
    Make("C:\\t\\src.txt", "payload", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    FILETIME w = {0x32345600, 0x01d20000};
    SetFileAttributesA("C:\\t\\src.txt", FILE_ATTRIBUTE_HIDDEN);
    HANDLE h = Open("C:\\t\\src.txt", GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_TRUE(SetFileTime(h, NULL, NULL, &w));
    CloseHandle(h);
    SetFileAttributesA("C:\\t\\src.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);

    ASSERT_TRUE(CopyFileA("C:\\t\\src.txt", "C:\\t\\dst.txt", FALSE));
    EXPECT_EQ("payload", ReadAll("C:\\t\\dst.txt"));
    EXPECT_EQ((DWORD)(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE),
              GetFileAttributesA("C:\\t\\dst.txt"));
    FILETIME w2;
    h = Open("C:\\t\\dst.txt", 0, 7, OPEN_EXISTING);
    ASSERT_TRUE(GetFileTime(h, NULL, NULL, &w2));
    CloseHandle(h);
    EXPECT_EQ(0, memcmp(&w, &w2, sizeof w));
}

TEST_F(Files, CopyFailsWithThePlatformsErrors)
{
    Make("C:\\t\\f.txt");
    Make("C:\\t\\g.txt", "other");
    Make("C:\\t\\h.txt", "hidden", FILE_ATTRIBUTE_HIDDEN);
    ASSERT_TRUE(CreateDirectoryA("C:\\t\\d", NULL));
    struct Case {
        const char *pszFrom, *pszTo;
        BOOL bFailIfExists;
        DWORD nError;
    };
    const Case kCases[] = {
        {"C:\\t\\missing", "C:\\t\\c.txt", FALSE, ERROR_FILE_NOT_FOUND},
        {"C:\\t\\f.txt", "C:\\t\\nodir\\c.txt", FALSE, ERROR_PATH_NOT_FOUND},
        {"C:\\t\\f.txt", "C:\\t\\g.txt", TRUE, ERROR_FILE_EXISTS},
        {"C:\\t\\f.txt", "C:\\t\\d", FALSE, ERROR_ACCESS_DENIED},
        {"C:\\t\\d", "C:\\t\\dd", FALSE, ERROR_ACCESS_DENIED},
        {"C:\\t\\f.txt", "C:\\t\\F.TXT", FALSE, ERROR_SHARING_VIOLATION},
        {"C:\\t\\f.txt", "C:\\t\\h.txt", FALSE, ERROR_ACCESS_DENIED},
    };
    for (const auto &c : kCases) {
        SetLastError(0);
        EXPECT_FALSE(CopyFileA(c.pszFrom, c.pszTo, c.bFailIfExists)) << c.pszFrom << " -> " << c.pszTo;
        EXPECT_EQ(c.nError, GetLastError()) << c.pszFrom << " -> " << c.pszTo;
    }
    EXPECT_EQ("other", ReadAll("C:\\t\\g.txt"));
    EXPECT_EQ("hidden", ReadAll("C:\\t\\h.txt"));
    EXPECT_TRUE(CopyFileA("C:\\t\\f.txt", "C:\\t\\g.txt", FALSE));
    EXPECT_EQ("hello", ReadAll("C:\\t\\g.txt"));
}

TEST_F(Files, MoveRenamesButNeverReplaces)
{
    Make("C:\\t\\f.txt");
    Make("C:\\t\\g.txt");
    ASSERT_TRUE(CreateDirectoryA("C:\\t\\d", NULL));
    EXPECT_FALSE(MoveFileA("C:\\t\\f.txt", "C:\\t\\g.txt"));
    EXPECT_EQ((DWORD)ERROR_ALREADY_EXISTS, GetLastError());
    EXPECT_FALSE(MoveFileA("C:\\t\\f.txt", "C:\\t\\d"));
    EXPECT_EQ((DWORD)ERROR_ALREADY_EXISTS, GetLastError());
    EXPECT_FALSE(MoveFileA("C:\\t\\missing", "C:\\t\\x"));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_FALSE(MoveFileA("C:\\t\\d", "C:\\t\\d\\sub"));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
    EXPECT_TRUE(MoveFileA("C:\\t\\f.txt", "C:\\t\\F.TXT")); // a change of case only
    EXPECT_TRUE(fs::exists(Host("F.TXT")));
    EXPECT_FALSE(fs::exists(Host("f.txt")));
    EXPECT_TRUE(MoveFileA("C:\\t\\d", "C:\\t\\d2"));
    EXPECT_TRUE(MoveFileA("C:\\t\\g.txt", "C:\\t\\d2\\g.txt"));
    EXPECT_EQ("hello", ReadAll("C:\\t\\D2\\G.TXT"));
}

// MOVEFILE_REPLACE_EXISTING puts a file in the place of another in one step; a read-only file or a folder
// in the way refuses (5), as does a file open without delete sharing (32).
TEST_F(Files, MoveWithReplaceTakesThePlaceOfAFile)
{
    Make("C:\\t\\new.txt", "new");
    Make("C:\\t\\old.txt", "old");
    Make("C:\\t\\ro.txt", "read-only", FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(CreateDirectoryA("C:\\t\\d", NULL));
    EXPECT_FALSE(MoveFileExA("C:\\t\\new.txt", "C:\\t\\old.txt", 0));
    EXPECT_EQ((DWORD)ERROR_ALREADY_EXISTS, GetLastError());
    EXPECT_FALSE(MoveFileExA("C:\\t\\new.txt", "C:\\t\\ro.txt", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_EQ("read-only", ReadAll("C:\\t\\ro.txt"));
    EXPECT_FALSE(MoveFileExA("C:\\t\\new.txt", "C:\\t\\d", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    HANDLE h = CreateFileA("C:\\t\\old.txt", GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_FALSE(MoveFileExA("C:\\t\\new.txt", "C:\\t\\old.txt", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
    CloseHandle(h);
    EXPECT_TRUE(MoveFileExA("C:\\t\\new.txt", "C:\\t\\OLD.txt", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ("new", ReadAll("C:\\t\\old.txt"));
    EXPECT_FALSE(fs::exists(Host("new.txt")));
    EXPECT_FALSE(MoveFileExA("C:\\t\\old.txt", "C:\\t\\x.txt", 0x100));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
}

TEST_F(Files, FoldersAreMadeAndRemovedWithThePlatformsErrors)
{
    Make("C:\\t\\f.txt");
    EXPECT_TRUE(CreateDirectoryA("C:\\t\\d", NULL));
    Make("C:\\t\\d\\x.txt");
    struct Case {
        BOOL (*pfn)(const char *);
        const char *pszPath;
        DWORD nError;
    };
    auto Create = [](const char *p) { return CreateDirectoryA(p, NULL); };
    const Case kCases[] = {
        {Create, "C:\\t\\d", ERROR_ALREADY_EXISTS},
        {Create, "C:\\t\\D\\", ERROR_ALREADY_EXISTS},
        {Create, "C:\\t\\f.txt", ERROR_ALREADY_EXISTS},
        {Create, "C:\\t\\nodir\\d", ERROR_PATH_NOT_FOUND},
        {Create, "C:\\t\\f.txt\\d", ERROR_PATH_NOT_FOUND},
        {Create, "C:\\t\\a*b", ERROR_INVALID_NAME},
        {Create, "C:\\", ERROR_ALREADY_EXISTS},
        {Create, "Q:\\x", ERROR_PATH_NOT_FOUND},
        {RemoveDirectoryA, "C:\\t\\d", ERROR_DIR_NOT_EMPTY},
        {RemoveDirectoryA, "C:\\t\\f.txt", ERROR_DIRECTORY},
        {RemoveDirectoryA, "C:\\t\\missing", ERROR_FILE_NOT_FOUND},
        {RemoveDirectoryA, "C:\\t\\nodir\\missing", ERROR_PATH_NOT_FOUND},
        {DeleteFileA, "C:\\t\\d", ERROR_ACCESS_DENIED},
        {DeleteFileA, "C:\\t\\missing", ERROR_FILE_NOT_FOUND},
        {DeleteFileA, "C:\\t\\nodir\\missing", ERROR_PATH_NOT_FOUND},
        {DeleteFileA, "C:\\t\\a*b", ERROR_INVALID_NAME},
        {DeleteFileA, "C:\\t\\f.txt\\", ERROR_INVALID_NAME},
    };
    for (const auto &c : kCases) {
        SetLastError(0);
        EXPECT_FALSE(c.pfn(c.pszPath)) << c.pszPath;
        EXPECT_EQ(c.nError, GetLastError()) << c.pszPath;
    }
    EXPECT_TRUE(DeleteFileA("C:\\t\\d\\x.txt"));
    EXPECT_TRUE(RemoveDirectoryA("c:\\T\\D\\"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\t\\d"));
}

TEST_F(Files, FolderInUseOrReadOnlyIsNotRemoved)
{
    ASSERT_TRUE(CreateDirectoryA("C:\\t\\cw", NULL));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\t\\cw"));
    EXPECT_FALSE(RemoveDirectoryA("C:\\t\\cw"));
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\t"));
    ASSERT_TRUE(SetFileAttributesA("C:\\t\\cw", FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(RemoveDirectoryA("C:\\t\\cw"));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    ASSERT_TRUE(SetFileAttributesA("C:\\t\\cw", 0));
    EXPECT_TRUE(RemoveDirectoryA("C:\\t\\cw"));
    EXPECT_FALSE(RemoveDirectoryA("C:\\"));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
}

TEST_F(Files, PathsLongerThanThePlatformAllowsFail)
{
    std::string sBase = "C:\\t\\";
    std::string s260 = sBase + std::string(260 - sBase.size(), 'a');
    std::string s261 = s260 + "b";
    Make(s260.c_str());
    EXPECT_EQ((DWORD)FILE_ATTRIBUTE_ARCHIVE, GetFileAttributesA(s260.c_str()));
    EXPECT_TRUE(DeleteFileA(s260.c_str()));
    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open(s261.c_str(), GENERIC_WRITE, 0, CREATE_ALWAYS));
    EXPECT_EQ((DWORD)ERROR_FILENAME_EXCED_RANGE, GetLastError());
    EXPECT_FALSE(CreateDirectoryA(s261.c_str(), NULL));
    EXPECT_EQ((DWORD)ERROR_FILENAME_EXCED_RANGE, GetLastError());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(s261.c_str()));
    EXPECT_EQ((DWORD)ERROR_FILENAME_EXCED_RANGE, GetLastError());
}

// Lists a search as "name|attributes name|attributes ...", or "error N".
static std::string Search(const char *pszPattern)
{
    WIN32_FIND_DATAA fd;
    SetLastError(0);
    HANDLE h = FindFirstFileA(pszPattern, &fd);
    if (h == INVALID_HANDLE_VALUE)
        return "error " + std::to_string(GetLastError());
    std::string s;
    do {
        char sz[300];
        snprintf(sz, sizeof sz, "%s%s|%lx", s.empty() ? "" : " ", fd.cFileName,
                 (unsigned long)fd.dwFileAttributes);
        s += sz;
    } while (FindNextFileA(h, &fd));
    EXPECT_EQ((DWORD)ERROR_NO_MORE_FILES, GetLastError());
    EXPECT_TRUE(FindClose(h));
    return s;
}

struct SearchCase {
    const char *pszPattern, *pszResult;
};
// Measured under Wine on the same folder (its short names differ: see the README).
static const SearchCase kSearches[] = {
    {"C:\\t\\d2\\*", ". .. a.b.c a.kmc b.kmcx Long Name.text noext sub.kmc x.txt"},
    {"C:\\t\\d2\\*.*", ". .. a.b.c a.kmc b.kmcx Long Name.text noext sub.kmc x.txt"},
    {"C:\\t\\d2\\*.", ". .. a.b.c a.kmc b.kmcx Long Name.text noext sub.kmc x.txt"},
    {"C:\\t\\d2\\*.kmc", "a.kmc b.kmcx sub.kmc"},
    {"C:\\t\\d2\\*.KMC", "a.kmc b.kmcx sub.kmc"},
    {"C:\\t\\d2\\?.kmc", "a.kmc"},
    {"C:\\t\\d2\\??.kmc", "error 2"},
    {"C:\\t\\d2\\noext.*", "noext"},
    {"C:\\t\\d2\\a.b", "error 2"},
    {"C:\\t\\d2\\*.b", "error 2"},
    {"C:\\t\\d2\\*.c", "a.b.c"},
    {"C:\\t\\d2\\*.zz", "error 2"},
    {"C:\\t\\d2\\lon*", "Long Name.text"},
    {"C:\\t\\d2\\*.tex", "Long Name.text"},
    {"C:\\t\\d2\\a?kmc", "a.kmc"},
    {"C:\\t\\d2\\*kmc", "a.kmc b.kmcx sub.kmc"},
    {"C:\\t\\d2\\a.kmc?", "error 2"},
    {"C:\\t\\d2\\*.?", ".. a.b.c"},
    {"C:\\t\\d2", "d2"},
    {"C:\\t\\D2\\A.KMC", "a.kmc"},
    {"C:\\t\\d2\\", "error 2"},
    {"C:\\t\\d2\\<", "error 2"},
    {"C:\\t\\nodir\\*", "error 3"},
    {"C:\\t\\d2\\x.txt\\*", "error 3"},
    {"", "error 3"},
};

TEST_F(Files, SearchMatchesWildcardsWithoutCaseInOneFolder)
{
    ASSERT_TRUE(CreateDirectoryA("C:\\t\\d2", NULL));
    for (const char *psz : {"a.kmc", "b.kmcx", "noext", "Long Name.text", "a.b.c", "x.txt"})
        Make(("C:\\t\\d2\\" + std::string(psz)).c_str());
    ASSERT_TRUE(CreateDirectoryA("C:\\t\\d2\\sub.kmc", NULL));
    Make("C:\\t\\d2\\sub.kmc\\deep.kmc");
    for (const auto &c : kSearches) {
        std::string s = Search(c.pszPattern), sNames;
        // Names only, for the comparison.
        for (size_t i = 0; i < s.size();) {
            size_t j = s.find('|', i);
            if (s.compare(0, 6, "error ") == 0 || j == std::string::npos) {
                sNames = s;
                break;
            }
            sNames += (sNames.empty() ? "" : " ") + s.substr(i, j - i);
            size_t k = s.find(' ', j);
            i = k == std::string::npos ? s.size() : k + 1;
        }
        EXPECT_EQ(c.pszResult, sNames) << c.pszPattern;
    }
}

TEST_F(Files, SearchReportsAttributesSizesAndShortNames)
{
    ASSERT_TRUE(CreateDirectoryA("C:\\t\\d", NULL));
    Make("C:\\t\\d\\Long Name.text", "12345678", FILE_ATTRIBUTE_HIDDEN);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA("C:\\t\\d\\long*", &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_STREQ("Long Name.text", fd.cFileName);
    EXPECT_STREQ("LONGNA~1.TEX", fd.cAlternateFileName);
    EXPECT_EQ((DWORD)(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE), fd.dwFileAttributes);
    EXPECT_EQ(8u, fd.nFileSizeLow);
    EXPECT_EQ(0u, fd.nFileSizeHigh);
    EXPECT_FALSE(FindNextFileA(h, &fd));
    EXPECT_EQ((DWORD)ERROR_NO_MORE_FILES, GetLastError());
    EXPECT_TRUE(FindClose(h));
    EXPECT_FALSE(FindClose(h));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    // A drive's root lists no "." and "..".
    EXPECT_EQ(std::string::npos, Search("C:\\*").find(".|"));
}

// An entry removed while a search runs is not handed out.
TEST_F(Files, SearchSkipsEntriesRemovedMeanwhile)
{
    for (const char *psz : {"C:\\t\\a1", "C:\\t\\b1", "C:\\t\\c1"})
        Make(psz);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA("C:\\t\\?1", &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_STREQ("a1", fd.cFileName);
    ASSERT_TRUE(DeleteFileA("C:\\t\\b1"));
    ASSERT_TRUE(FindNextFileA(h, &fd));
    EXPECT_STREQ("c1", fd.cFileName);
    EXPECT_FALSE(FindNextFileA(h, &fd));
    EXPECT_EQ((DWORD)ERROR_NO_MORE_FILES, GetLastError());
    FindClose(h);
}

// A search holds the folder it opened, as the platform's search handle does: renamed meanwhile by another
// program, the folder is still the one searched, its entries handed out with their sizes and attributes.
TEST_F(Files, SearchGoesOnInItsFolderWhenTheFolderIsRenamed)
{
    ASSERT_TRUE(CreateDirectoryA("C:\\t\\d", NULL));
    Make("C:\\t\\d\\a1", "1");
    Make("C:\\t\\d\\b1", "22", FILE_ATTRIBUTE_HIDDEN);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA("C:\\t\\d\\?1", &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_STREQ("a1", fd.cFileName);
    ASSERT_EQ(0, rename(Host("d").c_str(), Host("e").c_str()));
    ASSERT_TRUE(FindNextFileA(h, &fd));
    EXPECT_STREQ("b1", fd.cFileName);
    EXPECT_EQ(2u, fd.nFileSizeLow);
    EXPECT_EQ((DWORD)(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE), fd.dwFileAttributes);
    EXPECT_FALSE(FindNextFileA(h, &fd));
    FindClose(h);
}

static std::vector<std::string> SearchNames(const char *pszPattern)
{
    std::vector<std::string> a;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pszPattern, &fd);
    if (h == INVALID_HANDLE_VALUE)
        return a;
    do
        a.push_back(fd.cFileName);
    while (FindNextFileA(h, &fd));
    FindClose(h);
    return a;
}

// Host names a Windows path would read as something else: deleting what the search hands out must never
// reach the folder's parent or a drive's root.
TEST_F(Files, SearchNeverHandsOutANameAWindowsPathWouldMisread)
{
    Make("C:\\t\\victim.txt", "parent's");
    ASSERT_TRUE(CreateDirectoryA("C:\\t\\h", NULL));
    const char *apHostile[] = {
        "..\\victim.txt", "C:\\", "a:b", "x*y",    "q?",
        "\"q\"",          "<q>",  "p|q", "a\x01z", "tick\xe2\x9c\x93.txt"}; // U+2713, not in code page 1251
    for (const char *psz : apHostile)
        std::ofstream(Host("h/") + psz) << "host";
    ASSERT_TRUE(fs::create_directory(Host("h/C:\\x")));
    Make("C:\\t\\h\\ok.txt");
    Make("C:\\t\\h\\\x88.txt"); // the euro sign is in the code page
    EXPECT_EQ(std::vector<std::string>({".", "..", "ok.txt", "\x88.txt"}), SearchNames("C:\\t\\h\\*"));
    EXPECT_EQ(std::vector<std::string>({"ok.txt", "\x88.txt"}), SearchNames("C:\\t\\h\\*.txt"));

    // A tree deletion over the names handed out.
    for (const std::string &s : SearchNames("C:\\t\\h\\*")) {
        if (s != "." && s != "..") {
            EXPECT_TRUE(DeleteFileA(("C:\\t\\h\\" + s).c_str())) << s;
        }
    }
    EXPECT_FALSE(RemoveDirectoryA("C:\\t\\h"));
    EXPECT_EQ((DWORD)ERROR_DIR_NOT_EMPTY, GetLastError());
    EXPECT_EQ("parent's", ReadAll("C:\\t\\victim.txt"));
    for (const char *psz : apHostile)
        EXPECT_TRUE(fs::exists(Host("h/") + psz)) << psz;
    EXPECT_TRUE(fs::exists(Host("h/C:\\x")));
}

// Names with trailing dots or blanks are real names on the host and on the platform: a search hands them
// out as they are, and a path names them as the platform reads paths (the last name loses its trailing dots
// and blanks); a no-break space (0xA0) is no blank.
TEST_F(Files, NamesEndingInDotsOrBlanksAreListedAndResolvedAsThePlatformDoes)
{
    ASSERT_TRUE(CreateDirectoryA("C:\\t\\h", NULL));
    Make("C:\\t\\keep.txt", "parent's");
    for (const char *psz : {"abc.", "abc ", "   ", "..\xc2\xa0"})
        std::ofstream(Host("h/") + psz) << psz;
    EXPECT_EQ(std::vector<std::string>({".", "..", "   ", "..\xa0", "abc ", "abc."}),
              SearchNames("C:\\t\\h\\*"));
    std::string sFull;
    ASSERT_TRUE(plat::FullPathName("C:\\t\\h\\abc.", &sFull));
    EXPECT_EQ("C:\\t\\h\\abc", sFull);
    ASSERT_TRUE(plat::FullPathName("C:\\t\\h\\abc ", &sFull));
    EXPECT_EQ("C:\\t\\h\\abc", sFull);
    ASSERT_TRUE(plat::FullPathName("C:\\t\\h\\..\xa0", &sFull));
    EXPECT_EQ("C:\\t\\h\\..\xa0", sFull);

    // "abc." and "abc " both name "abc", which is not there; the no-break-space name is itself.
    EXPECT_FALSE(DeleteFileA("C:\\t\\h\\abc."));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_FALSE(DeleteFileA("C:\\t\\h\\abc "));
    EXPECT_FALSE(DeleteFileA("C:\\t\\h\\   ")); // the folder itself
    EXPECT_TRUE(DeleteFileA("C:\\t\\h\\..\xa0"));
    EXPECT_FALSE(fs::exists(Host("h/..\xc2\xa0")));
    EXPECT_EQ("parent's", ReadAll("C:\\t\\keep.txt"));
    for (const char *psz : {"abc.", "abc ", "   "})
        EXPECT_TRUE(fs::exists(Host("h/") + psz)) << psz;
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, GetFileAttributesA("C:\\t\\h"));
}

class Links : public Files {
  protected:
    void SetUp() override
    {
        Files::SetUp();
        Make("C:\\t\\target.txt", "target");
        ASSERT_TRUE(CreateDirectoryA("C:\\t\\outside", NULL));
        Make("C:\\t\\outside\\keep.txt", "kept");
        ASSERT_TRUE(CreateDirectoryA("C:\\t\\tree", NULL));
        fs::create_directory_symlink(Host("outside"), Host("tree/dirlink"));
        fs::create_symlink(Host("target.txt"), Host("tree/filelink"));
        fs::create_symlink(Host("nothing"), Host("tree/dangling"));
    }
};

TEST_F(Links, LinksShowAsReparsePoints)
{
    EXPECT_EQ((DWORD)(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY),
              GetFileAttributesA("C:\\t\\tree\\dirlink"));
    EXPECT_EQ((DWORD)(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_ARCHIVE),
              GetFileAttributesA("C:\\t\\tree\\filelink"));
    EXPECT_EQ((DWORD)(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_ARCHIVE),
              GetFileAttributesA("C:\\t\\tree\\dangling"));
    EXPECT_EQ(".|10 ..|10 dangling|420 dirlink|410 filelink|420", Search("C:\\t\\tree\\*"));
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA("C:\\t\\tree\\dirlink", &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ((DWORD)IO_REPARSE_TAG_SYMLINK, fd.dwReserved0);
    FindClose(h);
    // Paths through a link reach what it points to.
    EXPECT_EQ("kept", ReadAll("C:\\t\\tree\\dirlink\\keep.txt"));
    EXPECT_EQ("target", ReadAll("C:\\t\\tree\\filelink"));
}

TEST_F(Links, RemovingALinkLeavesWhatItPointsTo)
{
    EXPECT_FALSE(DeleteFileA("C:\\t\\tree\\dirlink")); // a folder link goes as a folder
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_FALSE(RemoveDirectoryA("C:\\t\\tree\\filelink"));
    EXPECT_EQ((DWORD)ERROR_DIRECTORY, GetLastError());
    EXPECT_TRUE(RemoveDirectoryA("C:\\t\\tree\\dirlink"));
    EXPECT_TRUE(DeleteFileA("C:\\t\\tree\\filelink"));
    EXPECT_TRUE(DeleteFileA("C:\\t\\tree\\dangling"));
    EXPECT_EQ("kept", ReadAll("C:\\t\\outside\\keep.txt"));
    EXPECT_EQ("target", ReadAll("C:\\t\\target.txt"));
    EXPECT_TRUE(RemoveDirectoryA("C:\\t\\tree"));
}

TEST_F(Files, FaultSwitchFailsTheNamedCallOnMatchingPaths)
{
    Make("C:\\t\\a.kmc", "catalogue");
    Make("C:\\t\\b.txt", "text");
    setenv("PLAT_FAULT", "CreateFileA 32 *\\A.KMC; bogus entry; DeleteFileA 5 C:\\t\\b.*", 1);
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open("C:\\t\\a.kmc", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
    EXPECT_EQ("text", ReadAll("C:\\t\\b.txt"));
    EXPECT_FALSE(DeleteFileA("C:\\t\\b.txt"));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_TRUE(DeleteFileA("C:\\t\\a.kmc")); // only the named calls fail

    // Calls on a handle match the path it was opened with; "*" names every call.
    setenv("PLAT_FAULT", "ReadFile 30 *\\b.txt", 1);
    HANDLE h = Open("C:\\t\\b.txt", GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    char sz[8];
    DWORD n;
    EXPECT_FALSE(ReadFile(h, sz, sizeof sz, &n, NULL));
    EXPECT_EQ((DWORD)ERROR_READ_FAULT, GetLastError());
    CloseHandle(h);
    setenv("PLAT_FAULT", "GetFileTime 5 *\\b.txt\nCloseHandle 112 *\\b.txt", 1);
    h = Open("C:\\t\\b.txt", GENERIC_READ, 0, OPEN_EXISTING);
    FILETIME ft;
    EXPECT_FALSE(GetFileTime(h, NULL, NULL, &ft));
    EXPECT_FALSE(CloseHandle(h)); // reports the error, and the handle is closed all the same
    EXPECT_EQ((DWORD)ERROR_DISK_FULL, GetLastError());
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    setenv("PLAT_FAULT", "* 112 C:\\t\\new*", 1);
    EXPECT_FALSE(CreateDirectoryA("C:\\t\\newdir", NULL));
    EXPECT_EQ((DWORD)ERROR_DISK_FULL, GetLastError());
    EXPECT_FALSE(CopyFileA("C:\\t\\b.txt", "C:\\t\\new.txt", FALSE));
    unsetenv("PLAT_FAULT");
    EXPECT_TRUE(CopyFileA("C:\\t\\b.txt", "C:\\t\\new.txt", FALSE));
}

static void SetNumber(const char *pszName, unsigned long long n, const char *pszMore = "")
{
    setenv(pszName, (std::to_string(n) + pszMore).c_str(), 1);
}

static std::vector<std::string> Lines(const std::string &sHost)
{
    std::ifstream in(sHost);
    std::vector<std::string> a;
    for (std::string s; std::getline(in, s);)
        a.push_back(s);
    return a;
}

TEST_F(Files, CountedFaultFailsExactlyTheNthCheckedCallWhateverItsKind)
{
    Make("C:\\t\\a.txt");
    HKEY hKey;
    // Calls 1 to 6 from here: file and registry calls share one numbering.
    unsigned long long n0 = plat::CheckedCalls();
    SetNumber("PLAT_FAULT_AT", n0 + 4, " 1117");
    std::vector<DWORD> aErrors;
    for (int i = 0; i < 3; i++) {
        SetLastError(0);
        aErrors.push_back(GetFileAttributesA("C:\\t\\a.txt") == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0);
        LSTATUS rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &hKey);
        aErrors.push_back((DWORD)rc);
        if (rc == ERROR_SUCCESS)
            RegCloseKey(hKey);
    }
    EXPECT_EQ(std::vector<DWORD>({0, 0, 0, 1117, 0, 0}), aErrors);
    EXPECT_EQ(n0 + 6, plat::CheckedCalls());

    // The count goes on without the switch: a number already passed fails nothing.
    SetNumber("PLAT_FAULT_AT", n0 + 2, " 5");
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\t\\a.txt"));
    SetNumber("PLAT_FAULT_AT", plat::CheckedCalls() + 1, " 5");
    EXPECT_FALSE(DeleteFileA("C:\\t\\a.txt"));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_EQ("hello", ReadAll("C:\\t\\a.txt"));
}

TEST_F(Files, TraceHasOneLinePerCheckedCallWithItsFinalOutcome)
{
    std::string sTrace = plat::MachineRoot() + "/trace.txt";
    fs::remove(sTrace);
    setenv("PLAT_FAULT_TRACE", sTrace.c_str(), 1);
    unsigned long long n = plat::CheckedCalls();
    // "Проба.txt" in code page 1251.
    const char szName[] = "C:\\t\\\xcf\xf0\xee\xe1\xe0.txt";
    HANDLE h = Open(szName, GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD nWritten;
    EXPECT_TRUE(WriteFile(h, "abc", 3, &nWritten, NULL));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\t\\missing"));
    EXPECT_FALSE(CreateDirectoryA("C:\\t\\nofolder\\sub", NULL));
    setenv("PLAT_FAULT", "DeleteFileA 32 *", 1);
    EXPECT_FALSE(DeleteFileA(szName));
    unsetenv("PLAT_FAULT");
    EXPECT_TRUE(CopyFileA(szName, "C:\\t\\copy.txt", TRUE));
    EXPECT_FALSE(CopyFileA(szName, "C:\\t\\copy.txt", TRUE));
    HKEY hKey;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\microsoft", 0, KEY_READ, &hKey));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(hKey, "Nothing", NULL, NULL, NULL, NULL));
    RegCloseKey(hKey);
    unsetenv("PLAT_FAULT_TRACE");
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(szName)); // not traced

    auto Line = [&](const char *pszCall, const char *pszPath, const char *pszResult) {
        return std::to_string(++n) + "\t" + pszCall + "\t" + pszPath + "\t" + pszResult;
    };
    std::vector<std::string> aExpected = {
        Line("CreateFileA", "C:\\t\\Проба.txt", "ok"),
        Line("WriteFile", "C:\\t\\Проба.txt", "ok"),
        Line("CloseHandle", "C:\\t\\Проба.txt", "ok"),
        Line("GetFileAttributesA", "C:\\t\\missing", "error 2"),
        Line("CreateDirectoryA", "C:\\t\\nofolder\\sub", "error 3"),
        Line("DeleteFileA", "C:\\t\\Проба.txt", "injected 32"),
        Line("CopyFileA", "C:\\t\\Проба.txt", "ok"),
        Line("CopyFileA", "C:\\t\\copy.txt", "ok"),
        Line("CopyFileA", "C:\\t\\Проба.txt", "error 80"),
        Line("CopyFileA", "C:\\t\\copy.txt", "error 80"),
        Line("RegOpenKeyExA", "HKEY_LOCAL_MACHINE\\Software\\Microsoft", "ok"),
        Line("RegQueryValueExA", "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Nothing", "error 2"),
    };
    EXPECT_EQ(aExpected, Lines(sTrace));
}

// The child makes one file, then is cut in the middle of writing a second one.
TEST_F(Files, CutEndsTheProcessAtTheNthCheckedCallAsAPowerCutWould)
{
    std::string sTrace = plat::MachineRoot() + "/cut-trace.txt";
    std::string sMark = plat::MachineRoot() + "/atexit-ran";
    fs::remove(sTrace);
    fs::remove(sMark);
    unsigned long long n = plat::CheckedCalls();
    fflush(NULL);
    pid_t pid = fork();
    ASSERT_NE(-1, pid);
    if (pid == 0) {
        static std::string sMarkPath = sMark;
        atexit([] { std::ofstream(sMarkPath) << "ran"; });
        setenv("PLAT_FAULT_TRACE", sTrace.c_str(), 1);
        SetNumber("PLAT_FAULT_CUT", n + 6);
        Make("C:\\t\\before.txt", "kept");                                    // n + 1 to n + 3
        HANDLE h = Open("C:\\t\\after.txt", GENERIC_WRITE, 0, CREATE_ALWAYS); // n + 4
        DWORD nWritten;
        WriteFile(h, "first", 5, &nWritten, NULL);  // n + 5
        WriteFile(h, "second", 6, &nWritten, NULL); // n + 6: the cut
        printf("not reached");
        exit(0);
    }
    int nStatus = 0;
    ASSERT_EQ(pid, waitpid(pid, &nStatus, 0));
    ASSERT_TRUE(WIFSIGNALED(nStatus)) << "status " << nStatus;
    EXPECT_EQ(SIGKILL, WTERMSIG(nStatus));
    EXPECT_FALSE(fs::exists(sMark)); // no clean-up ran
    std::vector<std::string> aLines = Lines(sTrace);
    ASSERT_EQ(6u, aLines.size());
    EXPECT_EQ(std::to_string(n + 5) + "\tWriteFile\tC:\\t\\after.txt\tok", aLines[4]);
    EXPECT_EQ(std::to_string(n + 6) + "\tWriteFile\tC:\\t\\after.txt\tcut", aLines[5]);
    EXPECT_EQ("kept", ReadAll("C:\\t\\before.txt"));
    EXPECT_EQ("first", ReadAll("C:\\t\\after.txt"));
}

static FILETIME Ticks(int64_t n)
{
    FILETIME ft = {(DWORD)((uint64_t)n & 0xFFFFFFFFu), (DWORD)((uint64_t)n >> 32)};
    return ft;
}

static int64_t TicksOf(const FILETIME &ft)
{
    return (int64_t)(((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime);
}

// Real host files where user.* extended attributes cannot be written: procfs (ENOTSUP) and a device (EPERM).
TEST_F(Files, AttributesAndCreationTimesTheHostCannotKeepFailWithThePlatformsError)
{
    EXPECT_FALSE(SetFileAttributesA("Z:\\proc\\self\\comm", FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ((DWORD)ERROR_NOT_SUPPORTED, GetLastError());
    EXPECT_FALSE(SetFileAttributesA("Z:\\dev\\null", FILE_ATTRIBUTE_SYSTEM));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    // What such a file reads as anyway needs nothing stored.
    EXPECT_TRUE(SetFileAttributesA("Z:\\proc\\self\\comm", FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_TRUE(SetFileAttributesA("Z:\\dev\\null", FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ((DWORD)FILE_ATTRIBUTE_ARCHIVE, GetFileAttributesA("Z:\\proc\\self\\comm"));

    HANDLE h = Open("Z:\\proc\\self\\comm", FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    OPEN_EXISTING);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    FILETIME ftNow, ft2001 = Ticks(126227808000000000LL); // 2001-01-01
    ASSERT_TRUE(GetFileTime(h, &ftNow, NULL, NULL));
    EXPECT_FALSE(SetFileTime(h, &ft2001, NULL, NULL));
    EXPECT_EQ((DWORD)ERROR_NOT_SUPPORTED, GetLastError());
    EXPECT_TRUE(SetFileTime(h, &ftNow, NULL, NULL)); // the time it has
    CloseHandle(h);
}

// ext4 keeps times from 1901-12-13 to 2446; outside, it clamps them.
TEST_F(Files, TimesTheHostCannotHoldFailAndLeaveTheFileAsItWas)
{
    Make("C:\\t\\a.txt");
    HANDLE h = Open("C:\\t\\a.txt", GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    FILETIME ft1952 = Ticks(110849184000000000LL) /* 1952-04-08 16:00 */, ftGot;
    ASSERT_TRUE(SetFileTime(h, NULL, &ft1952, &ft1952));
    const int64_t kTimes[] = {864000000000LL /* 1601-01-02 */, 94354848000000000LL /* 1900-01-01 */,
                              0x7FFFFFFFFFFFFFFFLL /* 30828 */};
    for (int64_t n : kTimes) {
        FILETIME ft = Ticks(n);
        SetLastError(0);
        BOOL bSet = SetFileTime(h, NULL, NULL, &ft);
        ASSERT_TRUE(GetFileTime(h, NULL, NULL, &ftGot));
        if (bSet) { // a host that holds it must give it back
            EXPECT_EQ(n, TicksOf(ftGot));
        } else {
            EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError()) << n;
            EXPECT_EQ(TicksOf(ft1952), TicksOf(ftGot)) << n;
        }
        bSet = SetFileTime(h, NULL, &ft, NULL);
        ASSERT_TRUE(GetFileTime(h, NULL, &ftGot, NULL));
        EXPECT_EQ(bSet ? n : TicksOf(ft1952), TicksOf(ftGot)) << n;
    }
    CloseHandle(h);
}

// A file system without extended attributes, made with the test hook: what cannot be kept fails, what reads
// back as asked anyway does not, and nothing half-made is left.
TEST_F(Files, FilesAndCopiesWhoseAttributesCannotBeKeptFail)
{
    Make("C:\\t\\plain.txt", "plain");
    Make("C:\\t\\hidden.txt", "hidden", FILE_ATTRIBUTE_HIDDEN);
    Make("C:\\t\\ro.txt", "ro", FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(CreateDirectoryA("C:\\t\\dir", NULL));
    plat::FailXattrWrites(EOPNOTSUPP);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              Open("C:\\t\\new.txt", GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_SYSTEM));
    DWORD nCreate = GetLastError();
    EXPECT_FALSE(fs::exists(Host("new.txt")));
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              Open("C:\\t\\plain.txt", GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN));
    DWORD nReplace = GetLastError();
    BOOL bCopyHidden = CopyFileA("C:\\t\\hidden.txt", "C:\\t\\copy1.txt", TRUE);
    DWORD nCopy = GetLastError();
    BOOL bCopyPlain = CopyFileA("C:\\t\\plain.txt", "C:\\t\\copy2.txt", TRUE);
    BOOL bCopyReadOnly = CopyFileA("C:\\t\\ro.txt", "C:\\t\\copy3.txt", TRUE);
    BOOL bDirReadOnly = SetFileAttributesA("C:\\t\\dir", FILE_ATTRIBUTE_READONLY);
    DWORD nDir = GetLastError();
    BOOL bDirPlain = SetFileAttributesA("C:\\t\\dir", 0);
    BOOL bHiddenToArchive = SetFileAttributesA("C:\\t\\hidden.txt", FILE_ATTRIBUTE_ARCHIVE);
    BOOL bPlainReadOnly =
        SetFileAttributesA("C:\\t\\plain.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    plat::FailXattrWrites(0);

    EXPECT_EQ((DWORD)ERROR_NOT_SUPPORTED, nCreate);
    EXPECT_EQ((DWORD)ERROR_NOT_SUPPORTED, nReplace);
    EXPECT_FALSE(bCopyHidden);
    EXPECT_EQ((DWORD)ERROR_NOT_SUPPORTED, nCopy);
    EXPECT_FALSE(fs::exists(Host("copy1.txt")));
    EXPECT_TRUE(bCopyPlain);
    EXPECT_TRUE(bCopyReadOnly); // read-only is a permission
    EXPECT_EQ((DWORD)(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE),
              GetFileAttributesA("C:\\t\\copy3.txt"));
    EXPECT_FALSE(bDirReadOnly);
    EXPECT_EQ((DWORD)ERROR_NOT_SUPPORTED, nDir);
    EXPECT_TRUE(bDirPlain);
    EXPECT_FALSE(bHiddenToArchive); // the stored bits could not be removed
    EXPECT_EQ((DWORD)(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE),
              GetFileAttributesA("C:\\t\\hidden.txt"));
    EXPECT_TRUE(bPlainReadOnly);
    EXPECT_EQ((DWORD)(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE),
              GetFileAttributesA("C:\\t\\plain.txt"));
}

// The executable bits of the host go with a copy (as far as the umask lets them), so that a program copied
// on the machine still runs on Linux; nothing of the platform's shows them.
TEST_F(Files, CopyKeepsTheHostsExecutableBits)
{
    auto Mode = [](const char *pszRel) {
        struct stat st;
        return stat(Host(pszRel).c_str(), &st) == 0 ? (int)(st.st_mode & 0777) : -1;
    };
    mode_t nOld = umask(022);
    Make("C:\\t\\prog", "program");
    Make("C:\\t\\plain.txt", "text");
    ASSERT_EQ(0, chmod(Host("prog").c_str(), 0755));
    EXPECT_TRUE(CopyFileA("C:\\t\\prog", "C:\\t\\copy", FALSE));
    EXPECT_EQ(0755, Mode("copy"));
    EXPECT_EQ((DWORD)FILE_ATTRIBUTE_ARCHIVE, GetFileAttributesA("C:\\t\\copy"));
    EXPECT_TRUE(CopyFileA("C:\\t\\plain.txt", "C:\\t\\copy", FALSE)); // over a program: no longer one
    EXPECT_EQ(0644, Mode("copy"));
    umask(077);
    EXPECT_TRUE(CopyFileA("C:\\t\\prog", "C:\\t\\copy2", FALSE));
    EXPECT_EQ(0700, Mode("copy2"));
    umask(022);
    ASSERT_TRUE(SetFileAttributesA("C:\\t\\prog", FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(CopyFileA("C:\\t\\prog", "C:\\t\\copy3", FALSE));
    EXPECT_EQ(0555, Mode("copy3"));
    EXPECT_EQ((DWORD)(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA("C:\\t\\copy3"));
    umask(nOld);
}

// Operations left for the machine's next start.

static const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
static const char kPending[] = "PendingFileRenameOperations";

// The bytes of the value PendingFileRenameOperations, "<none>" when there is none; *pnType its type.
static std::string PendingValue(DWORD *pnType = nullptr)
{
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS)
        return "<none>";
    DWORD nType = 0, n = 0;
    LSTATUS rc = RegQueryValueExA(h, kPending, NULL, &nType, NULL, &n);
    std::string s(n, '\0');
    if (rc == ERROR_SUCCESS && n > 0)
        rc = RegQueryValueExA(h, kPending, NULL, &nType, (BYTE *)&s[0], &n);
    RegCloseKey(h);
    if (pnType != nullptr)
        *pnType = nType;
    return rc == ERROR_SUCCESS ? s : "<none>";
}

static void ClearPending()
{
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &h) == ERROR_SUCCESS) {
        RegDeleteValueA(h, kPending);
        RegCloseKey(h);
    }
}

// REG_MULTI_SZ data: each string ends in a NUL, the list in one more.
static std::string MultiString(const std::vector<std::string> &aStrings)
{
    std::string s;
    for (const std::string &sPart : aStrings)
        s += sPart + '\0';
    return s + '\0';
}

// Each operation is a pair of strings appended to the value: the source's full path after "\??\", then ""
// for a deletion or the target's full path after "\??\", with "!" before it for MOVEFILE_REPLACE_EXISTING.
// Nothing moves now.
TEST_F(Files, DelayedOperationsAreRecordedInThePlatformsFormat)
{
    ClearPending();
    Make("C:\\t\\del.txt");
    Make("C:\\t\\a.txt");
    Make("C:\\t\\c.txt");
    ASSERT_TRUE(CreateDirectoryA("C:\\t\\d", NULL));
    EXPECT_TRUE(MoveFileExA("del.txt", NULL, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_TRUE(MoveFileExA("C:\\t\\A.TXT", "b.txt", MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_TRUE(
        MoveFileExA("C:/t/c.txt", "C:\\t\\..\\t\\d.txt",
                    MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_TRUE(MoveFileExA("C:\\t\\d\\", NULL, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
    DWORD nType = 0;
    EXPECT_EQ(MultiString({"\\??\\C:\\t\\del.txt", "", "\\??\\C:\\t\\A.TXT", "\\??\\C:\\t\\b.txt",
                           "\\??\\C:\\t\\c.txt", "!\\??\\C:\\t\\d.txt", "\\??\\C:\\t\\d", ""}),
              PendingValue(&nType));
    EXPECT_EQ((DWORD)REG_MULTI_SZ, nType);
    EXPECT_EQ("hello", ReadAll("C:\\t\\del.txt"));
    EXPECT_EQ("hello", ReadAll("C:\\t\\a.txt"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\t\\b.txt"));
    ClearPending();
}

// A copy cannot be delayed (87); the source must be there (2, or 3 for a missing folder on the way); the
// target must be a path (3). Nothing is recorded then.
TEST_F(Files, DelayedOperationsRefuseWhatThePlatformRefuses)
{
    ClearPending();
    Make("C:\\t\\f.txt");
    struct Case {
        const char *pszFrom, *pszTo;
        DWORD dwFlags, nError;
    };
    const DWORD D = MOVEFILE_DELAY_UNTIL_REBOOT;
    const Case kCases[] = {
        {"C:\\t\\f.txt", NULL, D | MOVEFILE_COPY_ALLOWED, ERROR_INVALID_PARAMETER},
        {"C:\\t\\f.txt", "C:\\t\\g.txt", D | MOVEFILE_COPY_ALLOWED, ERROR_INVALID_PARAMETER},
        {"C:\\t\\f.txt", NULL, D | 0x100, ERROR_INVALID_PARAMETER},
        {"C:\\t\\missing", NULL, D, ERROR_FILE_NOT_FOUND},
        {"C:\\t\\nodir\\x", "C:\\t\\y", D, ERROR_PATH_NOT_FOUND},
        {"C:\\t\\f.txt", "", D, ERROR_PATH_NOT_FOUND},
        {"C:\\", NULL, D, ERROR_ACCESS_DENIED},
    };
    for (const auto &c : kCases) {
        SetLastError(0);
        EXPECT_FALSE(MoveFileExA(c.pszFrom, c.pszTo, c.dwFlags)) << c.pszFrom << " " << c.dwFlags;
        EXPECT_EQ(c.nError, GetLastError()) << c.pszFrom << " " << c.dwFlags;
    }
    EXPECT_EQ("<none>", PendingValue());
    EXPECT_EQ("hello", ReadAll("C:\\t\\f.txt"));
}

// The start carries the operations out in the order they were made (a deletion makes room for a rename
// after it), each as the machine's own file calls would; those that fail are reported and dropped all the
// same; the value goes.
TEST_F(Files, TheMachinesStartCarriesOutDelayedOperationsInOrder)
{
    ClearPending();
    Make("C:\\t\\del.txt");
    ASSERT_TRUE(CreateDirectoryA("C:\\t\\empty", NULL));
    ASSERT_TRUE(CreateDirectoryA("C:\\t\\full", NULL));
    Make("C:\\t\\full\\in.txt");
    Make("C:\\t\\a.txt", "a");
    Make("C:\\t\\c.txt", "c");
    Make("C:\\t\\d.txt", "old d");
    Make("C:\\t\\g.txt", "g");
    Make("C:\\t\\h.txt", "old h");
    Make("C:\\t\\x.txt", "old x");
    Make("C:\\t\\y.txt", "y");
    Make("C:\\t\\m.txt");
    const DWORD D = MOVEFILE_DELAY_UNTIL_REBOOT;
    ASSERT_TRUE(MoveFileExA("C:\\t\\del.txt", NULL, D));
    ASSERT_TRUE(MoveFileExA("C:\\t\\empty", NULL, D));
    ASSERT_TRUE(MoveFileExA("C:\\t\\full", NULL, D));
    ASSERT_TRUE(MoveFileExA("C:\\t\\a.txt", "C:\\t\\b.txt", D));
    ASSERT_TRUE(MoveFileExA("C:\\t\\c.txt", "C:\\t\\d.txt", D | MOVEFILE_REPLACE_EXISTING));
    ASSERT_TRUE(MoveFileExA("C:\\t\\g.txt", "C:\\t\\h.txt", D));
    ASSERT_TRUE(MoveFileExA("C:\\t\\x.txt", NULL, D));
    ASSERT_TRUE(MoveFileExA("C:\\t\\y.txt", "C:\\t\\x.txt", D));
    ASSERT_TRUE(MoveFileExA("C:\\t\\m.txt", NULL, D));
    ASSERT_TRUE(DeleteFileA("C:\\t\\m.txt")); // gone before the start

    std::vector<std::string> aFailures;
    EXPECT_TRUE(plat::RunPendingFileOperations(&aFailures));
    std::vector<std::string> aExpected = {"cannot delete C:\\t\\full (error 145)",
                                          "cannot rename C:\\t\\g.txt to C:\\t\\h.txt (error 183)",
                                          "cannot delete C:\\t\\m.txt (error 2)"};
    EXPECT_EQ(aExpected, aFailures);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\t\\del.txt"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\t\\empty"));
    EXPECT_EQ("hello", ReadAll("C:\\t\\full\\in.txt"));
    EXPECT_EQ("a", ReadAll("C:\\t\\b.txt"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\t\\a.txt"));
    EXPECT_EQ("c", ReadAll("C:\\t\\d.txt"));
    EXPECT_EQ("g", ReadAll("C:\\t\\g.txt"));
    EXPECT_EQ("old h", ReadAll("C:\\t\\h.txt"));
    EXPECT_EQ("y", ReadAll("C:\\t\\x.txt"));
    EXPECT_EQ("<none>", PendingValue());
    // With nothing left, a start does nothing.
    aFailures.clear();
    EXPECT_TRUE(plat::RunPendingFileOperations(&aFailures));
    EXPECT_TRUE(aFailures.empty());
}

// Runs plat-boot on a machine folder: its exit code, with its standard output and error.
static int RunBoot(const std::string &sRoot, std::string *psOut, std::string *psErr)
{
    std::string sOut = plat::MachineRoot() + "/boot-out.txt", sErr = plat::MachineRoot() + "/boot-err.txt";
    std::string sCommand = "PLAT_ROOT='" + sRoot + "' '" PLAT_BOOT_TOOL "' >'" + sOut + "' 2>'" + sErr + "'";
    int nStatus = system(sCommand.c_str());
    std::ifstream out(sOut), err(sErr);
    *psOut = std::string((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
    *psErr = std::string((std::istreambuf_iterator<char>(err)), std::istreambuf_iterator<char>());
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

// plat-boot says nothing when all went, one line for each operation that failed, and ends with 0 either way.
TEST_F(Files, PlatBootCarriesOutTheOperationsAndSaysWhichFailed)
{
    ClearPending();
    Make("C:\\t\\old.txt");
    Make("C:\\t\\gone.txt");
    ASSERT_TRUE(MoveFileExA("C:\\t\\old.txt", NULL, MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(MoveFileExA("C:\\t\\gone.txt", "C:\\t\\new.txt", MOVEFILE_DELAY_UNTIL_REBOOT));
    ASSERT_TRUE(DeleteFileA("C:\\t\\gone.txt"));
    std::string sOut, sErr;
    EXPECT_EQ(0, RunBoot(plat::MachineRoot(), &sOut, &sErr));
    EXPECT_EQ("", sOut);
    EXPECT_EQ("plat-boot: cannot rename C:\\t\\gone.txt to C:\\t\\new.txt (error 2)\n", sErr);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\t\\old.txt"));
    EXPECT_EQ("<none>", PendingValue());
    EXPECT_EQ(0, RunBoot(plat::MachineRoot(), &sOut, &sErr));
    EXPECT_EQ("", sOut + sErr);
}

// A machine folder that is not there is not made by plat-boot; a damaged one is said by the platform's own
// line. Both end with 1.
TEST_F(Files, PlatBootFailsOnAMissingOrDamagedMachine)
{
    std::string sRoot = plat::MachineRoot() + "/other-machine";
    std::string sOut, sErr;
    EXPECT_EQ(1, RunBoot(sRoot, &sOut, &sErr));
    EXPECT_EQ("plat-boot: there is no machine folder " + sRoot + " (PLAT_ROOT)\n", sErr);
    EXPECT_FALSE(fs::exists(sRoot));
    ASSERT_TRUE(fs::create_directory(sRoot));
    EXPECT_EQ(0, RunBoot(sRoot, &sOut, &sErr)) << sErr; // an empty folder is a new machine
    EXPECT_TRUE(fs::exists(sRoot + "/registry.db"));
    fs::remove_all(sRoot + "/drive_c");
    EXPECT_EQ(1, RunBoot(sRoot, &sOut, &sErr));
    EXPECT_EQ("plat: drive C: of the machine folder is missing: " + sRoot +
                  "/drive_c (the registry is there: the folder is no new machine)\n",
              sErr);
    ASSERT_TRUE(fs::create_directory(sRoot + "/drive_c"));
    fs::resize_file(sRoot + "/registry.db", 0);
    for (const char *pszSuffix : {"-wal", "-shm"})
        fs::remove(sRoot + "/registry.db" + pszSuffix);
    EXPECT_EQ(1, RunBoot(sRoot, &sOut, &sErr));
    EXPECT_EQ("plat: the registry of the machine folder is damaged: " + sRoot +
                  "/registry.db (the file is empty)\n",
              sErr);
    EXPECT_EQ("", sOut);
    fs::remove_all(sRoot);
}

struct TimeCase {
    SYSTEMTIME st;
    uint64_t nTicks;
};

TEST(FileTimes, CalendarTimesConvertBothWays)
{
    const TimeCase kCases[] = {
        {{1601, 1, 1, 1, 0, 0, 0, 0}, 0},
        {{1970, 1, 4, 1, 0, 0, 0, 0}, 116444736000000000ULL},
        {{2024, 2, 4, 29, 23, 59, 59, 999}, 0x01da6b6b675298f0ULL},
        {{30828, 9, 4, 14, 2, 48, 5, 477}, 0x7fffffffffffe950ULL}, // the last time a FILETIME holds
    };
    for (const auto &c : kCases) {
        FILETIME ft;
        ASSERT_TRUE(SystemTimeToFileTime(&c.st, &ft)) << c.st.wYear;
        EXPECT_EQ(c.nTicks, ((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime) << c.st.wYear;
        SYSTEMTIME st;
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
        EXPECT_EQ(0, memcmp(&c.st, &st, sizeof st)) << c.st.wYear;
    }
}

TEST(FileTimes, InvalidCalendarTimesAreRefused)
{
    const SYSTEMTIME kBad[] = {
        {2023, 2, 0, 29, 0, 0, 0, 0}, {1600, 12, 0, 31, 0, 0, 0, 0},    {2024, 13, 0, 1, 0, 0, 0, 0},
        {2024, 1, 0, 1, 24, 0, 0, 0}, {2024, 1, 0, 1, 0, 60, 0, 0},     {2024, 1, 0, 1, 0, 0, 0, 1000},
        {2024, 4, 0, 31, 0, 0, 0, 0}, {30828, 9, 0, 14, 2, 48, 5, 478},
    };
    for (const auto &st : kBad) {
        FILETIME ft;
        SetLastError(0);
        EXPECT_FALSE(SystemTimeToFileTime(&st, &ft)) << st.wYear << "-" << st.wMonth << "-" << st.wDay;
        EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
    }
    FILETIME ft = {0, 0x80000000u};
    SYSTEMTIME st;
    EXPECT_FALSE(FileTimeToSystemTime(&ft, &st));
}
