// test_file.cpp - files and folders of the emulated machine: dispositions, access and sharing, the platform's
// errors, attributes and times kept on the host, read-only rules also as root, copies, moves and folders.
// The search and links are in test_filefind.cpp, the fault switch on file calls in test_filefault.cpp, what
// the host cannot keep and the calendar in test_filehost.cpp, the operations left for the machine's next
// start in test_boot.cpp, the host-call table in test_hostcall.cpp: one test program, test_file. Expected
// values were measured with the same calls under Wine (and, for read-only files, as an unprivileged user
// there).

#include "filetest.h"
#include "advapi/advapi.h"

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
