// test_filehost.cpp - what the host cannot keep (extended attributes, times out of its range) fails with the
// platform's error and leaves nothing half-made; copies keep the host's executable bits; the calendar
// conversions. Part of test_file.

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
