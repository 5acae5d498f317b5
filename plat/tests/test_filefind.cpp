// test_filefind.cpp - the file search (wildcards, short names, order, entries that go or names the platform
// could not have) and links as reparse points. Part of test_file; expected values measured under Wine.

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
// Measured under Wine on the same folder (its short names differ: see docs/machine.md).
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
