// test_utils.cpp - the file and path utilities: folder and name parts, joining, full paths and their length
// limits, copying, deleting, making and removing, tree deletion (depth limit, read-only files, links), the
// shell notifications, and the assertions. The same tests run on Linux over plat/ and on Windows under Wine.

#include "utils.h"

#include "platform.h"

#include "testkit.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <sstream>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using ::testing::ExitedWithCode;

// ---------------------------------------------------------------------------------------------------------
// Paths

struct SplitCase {
    const char *pszPath, *pszDir, *pszName;
};
static const SplitCase kSplit[] = {
    {"C:\\Dir\\File.txt", "C:\\Dir", "File.txt"},
    {"C:\\File.txt", "C:\\", "File.txt"},
    {"C:\\Dir\\", "C:\\", "Dir"},
    {"C:\\", "C:\\", ""},
    {"C:", "C:", ""},
    {"C:File.txt", "C:", "File.txt"},
    {"\\File.txt", "\\", "File.txt"},
    {"\\", "\\", ""},
    {"File.txt", "", "File.txt"},
    {"Dir\\", "", "Dir"},
    {"\\\\Server\\Share\\File", "\\\\Server\\Share", "File"},
    {"Data\\*.dat", "Data", "*.dat"},
    {"  C:\\Dir\\Sub  ", "C:\\Dir", "Sub"},
    {"C:\\Dir\\\\", "C:\\Dir", ""}, // only one separator is dropped
    {"", "", ""},
};

TEST(UtilsPaths, FolderAndNameSplitAtTheSamePlace)
{
    for (const auto &c : kSplit) {
        char szDir[UTL_PATH_SIZE] = "junk", szName[UTL_PATH_SIZE] = "junk";
        EXPECT_EQ(1, UtlGetDir(szDir, c.pszPath, sizeof szDir)) << "[" << c.pszPath << "]";
        EXPECT_STREQ(c.pszDir, szDir) << "[" << c.pszPath << "]";
        EXPECT_EQ(1, UtlGetName(szName, c.pszPath, sizeof szName)) << "[" << c.pszPath << "]";
        EXPECT_STREQ(c.pszName, szName) << "[" << c.pszPath << "]";
    }
}

struct JoinCase {
    const char *pszDir, *pszName, *pszPath;
};
static const JoinCase kJoin[] = {
    {"C:\\Dir", "File.txt", "C:\\Dir\\File.txt"},
    {"C:\\Dir\\", "File.txt", "C:\\Dir\\File.txt"},
    {"C:\\", "File.txt", "C:\\File.txt"},
    {"C:", "File.txt", "C:File.txt"},
    {"", "File.txt", "File.txt"},
    {"C:\\Dir", "Sub\\", "C:\\Dir\\Sub"},
    {"C:\\Dir", "\\File.txt", "\\File.txt"},
    {"C:\\Dir", "D:\\Other", "D:\\Other"},
    {"C:\\Dir", "D:x", "D:x"},
    {"C:\\Dir", "", "C:\\Dir"},
    {"C:\\Dir", "   ", "C:\\Dir"},
    {"C:\\Dir\\", "", "C:\\Dir"},
    {"C:\\", "", "C:\\"},
    {"C:\\Dir", "*.*", "C:\\Dir\\*.*"},
    {"  C:\\Dir  ", "  File.txt  ", "C:\\Dir\\File.txt"},
};

// A path the platform gives in UTF-16 is nameable when the system's code page has a byte of its own for each
// of its characters (this test runs again as on a Western system, code page 1252).
struct NameableCase {
    const char *pszUtf8;
    int bIn1251, bIn1252;
};
static const NameableCase kNameable[] = {
    {"C:\\Kalmorist\\Setup.exe", 1, 1},
    {"Z:\\tmp\\Дистрибутив\\Setup.exe", 1, 0},
    {"C:\\users\\Иван\\AppData\\Local\\Temp\\", 1, 0},
    {"C:\\Users\\José\\Desktop", 0, 1},
    {"C:\\Users\\Michał\\Desktop", 0, 0}, // no byte in either; a best fit would name another folder
    {"C:\\€ and №", 1, 0},
    {"", 1, 1},
};

TEST(UtilsPaths, PathsAreNameableWhenTheCodePageHoldsEveryCharacter)
{
    UINT nAcp = GetACP();
    ASSERT_TRUE(nAcp == 1251 || nAcp == 1252) << nAcp;
    for (const auto &c : kNameable) {
        WCHAR wsz[UTL_PATH_SIZE];
        ASSERT_GT(MultiByteToWideChar(CP_UTF8, 0, c.pszUtf8, -1, wsz, UTL_PATH_SIZE), 0);
        EXPECT_EQ(nAcp == 1251 ? c.bIn1251 : c.bIn1252, UtlNameable(wsz))
            << c.pszUtf8 << ", code page " << nAcp;
    }
    // The test's own folders have plain names.
    EXPECT_EQ(1, UtlPathsNameable());
}

TEST(UtilsPaths, JoiningPutsOneSeparatorBetweenFolderAndName)
{
    for (const auto &c : kJoin) {
        char sz[UTL_PATH_SIZE] = "junk";
        EXPECT_EQ(1, UtlJoinPath(sz, c.pszDir, c.pszName, sizeof sz)) << c.pszDir << " + " << c.pszName;
        EXPECT_STREQ(c.pszPath, sz) << c.pszDir << " + " << c.pszName;
    }
}

TEST(UtilsPaths, JoiningStopsAtTheLongestPath)
{
    char sz[UTL_PATH_SIZE];
    std::string s258 = "C:\\" + std::string(255, 'a');
    std::string s259 = s258 + "b";
    // 259 characters that need a separator: nothing can be joined.
    EXPECT_EQ(0, UtlJoinPath(sz, s259.c_str(), "x", sizeof sz));
    EXPECT_STREQ("", sz);
    EXPECT_EQ(0, UtlJoinPath(sz, s259.c_str(), "", sizeof sz));
    EXPECT_STREQ("", sz);
    // 259 characters ending in a separator need none.
    EXPECT_EQ(1, UtlJoinPath(sz, (s258 + "\\").c_str(), "", sizeof sz));
    EXPECT_EQ(s258, sz);
    // 258 characters get their separator; any name is then too long.
    EXPECT_EQ(0, UtlJoinPath(sz, s258.c_str(), "x", sizeof sz));
    EXPECT_EQ(s258 + "\\", sz);
    EXPECT_EQ(1, UtlJoinPath(sz, s258.c_str(), "", sizeof sz));
    EXPECT_EQ(s258, sz);
    // The last character that fits.
    EXPECT_EQ(1, UtlJoinPath(sz, ("C:\\" + std::string(254, 'a')).c_str(), "x", sizeof sz));
    EXPECT_EQ(259u, strlen(sz));
}

TEST(UtilsPaths, InputsOf260CharactersOrMoreGiveNothing)
{
    std::string s259 = "C:\\Dir\\" + std::string(252, 'a');
    std::string s260 = s259 + "b";
    char sz[UTL_PATH_SIZE] = "junk";
    EXPECT_EQ(1, UtlGetName(sz, s259.c_str(), sizeof sz));
    EXPECT_EQ(0, UtlGetDir(sz, s260.c_str(), sizeof sz));
    EXPECT_STREQ("", sz);
    strcpy(sz, "junk");
    EXPECT_EQ(0, UtlGetName(sz, s260.c_str(), sizeof sz));
    EXPECT_STREQ("", sz);
    strcpy(sz, "junk");
    EXPECT_EQ(0, UtlGetFullPath(sz, s260.c_str(), sizeof sz));
    EXPECT_STREQ("", sz);
    // A folder that long leaves nothing; a name that long leaves the folder with its separator.
    EXPECT_EQ(0, UtlJoinPath(sz, s260.c_str(), "x", sizeof sz));
    EXPECT_STREQ("", sz);
    EXPECT_EQ(0, UtlJoinPath(sz, "C:\\Dir", s260.c_str(), sizeof sz));
    EXPECT_STREQ("C:\\Dir\\", sz);
}

TEST(UtilsPaths, ResultsThatDoNotFitAreCutAndFail)
{
    char sz[8];
    EXPECT_EQ(0, UtlGetDir(sz, "C:\\Folder\\File", sizeof sz));
    EXPECT_STREQ("C:\\Fold", sz);
    EXPECT_EQ(0, UtlGetName(sz, "C:\\Dir\\LongName.txt", sizeof sz));
    EXPECT_STREQ("LongNam", sz);
    EXPECT_EQ(0, UtlJoinPath(sz, "C:\\Dir", "File.txt", sizeof sz));
    EXPECT_STREQ("C:\\Dir\\", sz);
    EXPECT_EQ(0, UtlJoinPath(sz, "C:\\Folder", "x", sizeof sz)); // the folder alone does not fit
    EXPECT_STREQ("C:\\Fold", sz);
}

TEST(UtilsPaths, CapacityZeroNeverWritesTheOutput)
{
    char sz[4] = "abc";
    EXPECT_EQ(0, UtlGetDir(sz, "C:\\Dir\\File", 0));
    EXPECT_EQ(0, UtlGetName(sz, "C:\\Dir\\File", 0));
    EXPECT_EQ(0, UtlJoinPath(sz, "C:\\Dir", "File", 0));
    EXPECT_EQ(0, UtlGetFullPath(sz, "C:\\Dir\\File", 0));
    EXPECT_EQ(0, UtlGetModuleDir(sz, 0));
    EXPECT_STREQ("abc", sz);
}

// A fresh working folder for one test, the current directory: C:\utltest\NAME.
static std::string WorkDir(const char *pszName)
{
    CreateDirectoryA("C:\\utltest", NULL);
    std::string s = std::string("C:\\utltest\\") + pszName;
    CreateDirectoryA(s.c_str(), NULL);
    EXPECT_TRUE(SetCurrentDirectoryA(s.c_str()));
    return s;
}

TEST(UtilsPaths, FullPathIsThePlatformsFullPathOfThePreparedName)
{
    std::string sDir = WorkDir("full");
    char sz[UTL_PATH_SIZE];
    EXPECT_EQ(1, UtlGetFullPath(sz, "a.txt", sizeof sz));
    EXPECT_EQ(sDir + "\\a.txt", sz);
    EXPECT_EQ(1, UtlGetFullPath(sz, "  Sub\\  ", sizeof sz));
    EXPECT_EQ(sDir + "\\Sub", sz);
    EXPECT_EQ(1, UtlGetFullPath(sz, "C:\\A\\..\\B\\", sizeof sz));
    EXPECT_STREQ("C:\\B", sz);
    EXPECT_EQ(1, UtlGetFullPath(sz, "C:\\", sizeof sz));
    EXPECT_STREQ("C:\\", sz);
    // A full path the platform cannot make, or that does not fit: the prepared name instead.
    std::string sLong(250, 'n');
    EXPECT_EQ(0, UtlGetFullPath(sz, (sLong + "\\").c_str(), sizeof sz));
    EXPECT_EQ(sLong, sz);
    char szSmall[6];
    EXPECT_EQ(0, UtlGetFullPath(szSmall, " a.txt ", sizeof szSmall));
    EXPECT_STREQ("a.txt", szSmall);
}

TEST(UtilsPaths, ModuleFolderIsTheFolderOfTheRunningProgram)
{
    char szModule[MAX_PATH + 1], szDir[UTL_PATH_SIZE];
    DWORD n = GetModuleFileNameA(NULL, szModule, sizeof szModule);
    ASSERT_GT(n, 0u);
    ASSERT_EQ(1, UtlGetModuleDir(szDir, sizeof szDir));
    *strrchr(szModule, '\\') = '\0';
    EXPECT_STREQ(szModule, szDir);
    char szSmall[4];
    EXPECT_EQ(0, UtlGetModuleDir(szSmall, sizeof szSmall));
    EXPECT_EQ(3u, strlen(szSmall));
}

// ---------------------------------------------------------------------------------------------------------
// Files and folders

// Whether the platform stops writes to read-only files here. Under Wine a process running as root writes
// over them (the host's permissions do not stop root, and Wine relies on them); Windows and the Linux
// build refuse. The tests that need the refusal run there, and under Wine as an unprivileged user
// (the test utils_readonly_unprivileged).
static bool ReadOnlyIsEnforced()
{
    static int nEnforced = -1;
    if (nEnforced < 0) {
        std::string sDir = WorkDir("roprobe");
        std::string sFile = sDir + "\\probe.txt";
        SetFileAttributesA(sFile.c_str(), 0);
        PutFile(sFile, "x", FILE_ATTRIBUTE_READONLY);
        HANDLE h = CreateFileA(sFile.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        nEnforced = h == INVALID_HANDLE_VALUE;
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    return nEnforced == 1;
}

#define SKIP_UNLESS_READ_ONLY_IS_ENFORCED()                                                                  \
    if (!ReadOnlyIsEnforced())                                                                               \
    GTEST_SKIP() << "read-only files do not stop this process (Wine as root); "                              \
                    "utils_readonly_unprivileged runs this test as an unprivileged user"

TEST(UtilsFiles, CopyOntoAFolderCopiesIntoItUnderTheSourcesName)
{
    std::string sDir = WorkDir("copyinto");
    PutFile(sDir + "\\src.txt", "payload");
    ASSERT_TRUE(CreateDirectoryA((sDir + "\\dest").c_str(), NULL));
    EXPECT_NE(0, UtlCopyFile((sDir + "\\src.txt").c_str(), (sDir + "\\dest").c_str()));
    EXPECT_EQ("payload", ReadBytes(sDir + "\\dest\\src.txt"));
    EXPECT_NE(0, UtlCopyFile((sDir + "\\src.txt").c_str(), (sDir + "\\dest\\").c_str()));
}

TEST(UtilsFiles, CopyReplacesAFileAndEndsWritableWithTheArchiveBit)
{
    std::string sDir = WorkDir("copyover");
    PutFile(sDir + "\\src.txt", "new", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
    EXPECT_NE(0, UtlCopyFile((sDir + "\\src.txt").c_str(), (sDir + "\\fresh.txt").c_str()));
    EXPECT_EQ((DWORD)(FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE),
              GetFileAttributesA((sDir + "\\fresh.txt").c_str()));
    // Over an existing file. (What else it keeps of the source's attributes differs: Wine applies none of
    // them to a file it replaces, Windows all.)
    PutFile(sDir + "\\dest.txt", "old");
    SetFileAttributesA((sDir + "\\dest.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_NE(0, UtlCopyFile((sDir + "\\src.txt").c_str(), (sDir + "\\dest.txt").c_str()));
    EXPECT_EQ("new", ReadBytes(sDir + "\\dest.txt"));
    DWORD dw = GetFileAttributesA((sDir + "\\dest.txt").c_str());
    EXPECT_EQ((DWORD)FILE_ATTRIBUTE_ARCHIVE, dw & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    // A copy that fails leaves nothing behind and returns 0.
    EXPECT_EQ(0, UtlCopyFile((sDir + "\\missing.txt").c_str(), (sDir + "\\x.txt").c_str()));
    EXPECT_FALSE(Exists(sDir + "\\x.txt"));
    EXPECT_EQ(0, UtlCopyFile((sDir + "\\src.txt").c_str(), (sDir + "\\nodir\\x.txt").c_str()));
}

TEST(UtilsFiles, CopyOverAReadOnlyFileFailsAndKeepsIt)
{
    SKIP_UNLESS_READ_ONLY_IS_ENFORCED();
    std::string sDir = WorkDir("copyreadonly");
    PutFile(sDir + "\\src.txt", "new");
    PutFile(sDir + "\\dest.txt", "old", FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(0, UtlCopyFile((sDir + "\\src.txt").c_str(), (sDir + "\\dest.txt").c_str()));
    EXPECT_EQ("old", ReadBytes(sDir + "\\dest.txt"));
}

TEST(UtilsFiles, DeletingOrRemovingWhatIsNotThereSucceeds)
{
    std::string sDir = WorkDir("gone");
    EXPECT_EQ(1, UtlDeleteFile((sDir + "\\missing.txt").c_str()));
    EXPECT_EQ(1, UtlDeleteFile((sDir + "\\nodir\\missing.txt").c_str()));
    EXPECT_EQ(1, UtlRemoveDir((sDir + "\\missing").c_str()));
    EXPECT_EQ(1, UtlRemoveDir((sDir + "\\nodir\\missing").c_str()));
    PutFile(sDir + "\\f.txt");
    EXPECT_NE(0, UtlDeleteFile((sDir + "\\f.txt").c_str()));
    EXPECT_FALSE(Exists(sDir + "\\f.txt"));
}

TEST(UtilsFiles, DeletingAReadOnlyFileFails)
{
    std::string sDir = WorkDir("deletereadonly");
    PutFile(sDir + "\\ro.txt", "x", FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(0, UtlDeleteFile((sDir + "\\ro.txt").c_str()));
    EXPECT_TRUE(Exists(sDir + "\\ro.txt"));
}

TEST(UtilsFiles, FolderIsMadeOnceAndAFileInTheWayRefusesIt)
{
    std::string sDir = WorkDir("mkdir");
    EXPECT_NE(0, UtlCreateDir((sDir + "\\new").c_str()));
    EXPECT_EQ(1, UtlCreateDir((sDir + "\\new").c_str()));
    EXPECT_EQ(1, UtlCreateDir((sDir + "\\NEW\\").c_str()));
    PutFile(sDir + "\\file");
    EXPECT_EQ(0, UtlCreateDir((sDir + "\\file").c_str()));
    EXPECT_EQ(0, UtlCreateDir((sDir + "\\nodir\\new").c_str()));
    // Only an empty folder is removed.
    PutFile(sDir + "\\new\\x.txt");
    EXPECT_EQ(0, UtlRemoveDir((sDir + "\\new").c_str()));
    EXPECT_NE(0, UtlDeleteFile((sDir + "\\new\\x.txt").c_str()));
    EXPECT_NE(0, UtlRemoveDir((sDir + "\\new").c_str()));
    EXPECT_FALSE(Exists(sDir + "\\new"));
    EXPECT_EQ(0, UtlRemoveDir((sDir + "\\file").c_str()));
}

// ---------------------------------------------------------------------------------------------------------
// Tree deletion

TEST(UtilsTree, FilesAndNestedFoldersAreAllDeleted)
{
    std::string sDir = WorkDir("tree");
    for (const char *pszRoot : {"\\root", "\\root2\\"}) {
        std::string sRoot = sDir + pszRoot;
        std::string s = sRoot;
        if (s.back() == '\\')
            s.pop_back();
        ASSERT_EQ(1, UtlCreateDir(s.c_str()));
        PutFile(s + "\\a.txt");
        PutFile(s + "\\b.dat", "x", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        UtlCreateDir((s + "\\sub").c_str());
        UtlCreateDir((s + "\\sub\\empty").c_str());
        UtlCreateDir((s + "\\sub\\deeper").c_str());
        PutFile(s + "\\sub\\deeper\\c.txt");
        UtlCreateDir((s + "\\x.sc1").c_str()); // a folder with a file's name
        PutFile(s + "\\x.sc1\\d.txt");
        EXPECT_NE(0, UtlDeleteTree(sRoot.c_str())) << sRoot;
        EXPECT_FALSE(Exists(s)) << sRoot;
    }
    EXPECT_EQ(1, UtlDeleteTree((sDir + "\\missing").c_str()));
}

// The work folder is the current directory: a blank root that was searched would empty it.
TEST(UtilsTree, BlankRootSearchesNothing)
{
    std::string sDir = WorkDir("blank");
    PutFile(sDir + "\\keep.txt");
    for (const char *pszRoot : {"   ", ""}) {
        int nRemoved = UtlRemoveDir(pszRoot);
        EXPECT_EQ(nRemoved, UtlDeleteTree(pszRoot)) << "[" << pszRoot << "]";
        EXPECT_TRUE(Exists(sDir + "\\keep.txt")) << "[" << pszRoot << "]";
    }
}

// Joining a name the search returned: exactly as it stands, or not at all when a path would read it as
// another entry.
struct EntryCase {
    const char *pszDir, *pszName, *pszPath; // null: refused
};
static const EntryCase kEntry[] = {
    {"C:\\Dir", "File.txt", "C:\\Dir\\File.txt"},
    {"C:\\", "File.txt", "C:\\File.txt"},
    {"C:\\Dir", "  lead", "C:\\Dir\\  lead"},
    {"C:\\Dir", "\xA0x", "C:\\Dir\\\xA0x"}, // a no-break space at the start or inside stays
    {"C:\\Dir", "a\xA0..b", "C:\\Dir\\a\xA0..b"},
    {"C:\\Dir", "..\xA0", nullptr},
    {"C:\\Dir", "x\xA0", nullptr}, // a final blank would be trimmed away
    {"C:\\Dir", "x ", nullptr},
    {"C:\\Dir", "   ", nullptr},
    {"C:\\Dir", "x.", nullptr}, // a final dot is dropped from a full path
    {"C:\\Dir", "...", nullptr},
    {"C:\\Dir", ".", nullptr},
    {"C:\\Dir", "..", nullptr},
    {"C:\\Dir", "", nullptr},
    {"C:\\Dir", "..\\victim.txt", nullptr},
    {"C:\\Dir", "C:\\", nullptr},
    {"C:\\Dir", "a:b", nullptr},
    {"C:\\Dir", "a/b", nullptr},
    {"C:\\Dir", "*.*", nullptr},
    {"C:\\Dir", "a\x01b", nullptr},
    {"C:\\Dir", "NUL", nullptr},
    {"C:\\Dir", "con.sc1", nullptr},
    {"C:\\Dir", "Com7 .kmc", nullptr},
    {"C:\\Dir", "LPT1", nullptr},
    {"C:\\Dir", "COM0", "C:\\Dir\\COM0"},
    {"C:\\Dir", "CONSOLE", "C:\\Dir\\CONSOLE"},
    {"C:\\Dir", "NULL.txt", "C:\\Dir\\NULL.txt"},
};

TEST(UtilsPaths, SearchEntriesJoinExactlyOrNotAtAll)
{
    for (const EntryCase &c : kEntry) {
        char sz[UTL_PATH_SIZE] = "junk";
        EXPECT_EQ(c.pszPath != nullptr, UtlJoinEntry(sz, c.pszDir, c.pszName, sizeof sz) == 1)
            << "[" << c.pszName << "]";
        EXPECT_STREQ(c.pszPath != nullptr ? c.pszPath : "", sz) << "[" << c.pszName << "]";
    }
    // A result that does not fit is refused whole.
    std::string sDir(250, 'd');
    char sz[UTL_PATH_SIZE] = "junk";
    EXPECT_EQ(0, UtlJoinEntry(sz, sDir.c_str(), "0123456789", sizeof sz));
    EXPECT_STREQ("", sz);
    EXPECT_EQ(0, UtlJoinEntry(sz, "C:\\Dir", "x", 0));
}

#ifndef _WIN32
// Hostile names, made on the host as another program could make them: a name that trims to "..", a name
// of blanks only, a name that a full path folds. The walk deletes what it can name exactly, leaves the
// rest, and never reaches the parent folder.
TEST(UtilsTree, NamesThatTrimOrFoldNeverLeadOutOfTheRoot)
{
    static const char *const pszHostile[] = {"..\xC2\xA0", "   ", "\xC2\xA0", "...", "x.", "y "};
    std::string sDir = WorkDir("hostile");
    std::string sHost = std::string(getenv("PLAT_ROOT")) + "/drive_c/utltest/hostile";
    for (const char *pszName : pszHostile) {
        SCOPED_TRACE(pszName);
        std::string sRoot = sDir + "\\root";
        UtlDeleteTree(sRoot.c_str());
        SetFileAttributesA((sDir + "\\ro.txt").c_str(), 0);
        PutFile(sDir + "\\victim.txt");
        PutFile(sDir + "\\ro.txt");
        ASSERT_TRUE(UtlCreateDir(sRoot.c_str()));
        PutFile(sRoot + "\\ro.txt", "x", FILE_ATTRIBUTE_READONLY);
        PutFile(sRoot + "\\plain.txt");
        std::string sBad = sHost + "/root/" + pszName;
        ASSERT_EQ(0, mkdir(sBad.c_str(), 0777)) << sBad;
        std::ofstream(sBad + "/inner.txt") << "inner";
        EXPECT_EQ(0, UtlDeleteTree(sRoot.c_str()));
        EXPECT_TRUE(Exists(sDir + "\\victim.txt"));
        EXPECT_TRUE(Exists(sDir + "\\ro.txt"));
        EXPECT_TRUE(Exists(sRoot + "\\ro.txt"));
        EXPECT_FALSE(Exists(sRoot + "\\plain.txt"));
        EXPECT_EQ(0, access((sBad + "/inner.txt").c_str(), F_OK)); // left in place, not deleted elsewhere
        std::string sCleanup = "rm -rf '" + sHost + "/root'";
        ASSERT_EQ(0, system(sCleanup.c_str()));
    }
}
#endif

TEST(UtilsTree, FileGivenAsTheRootStays)
{
    std::string sDir = WorkDir("fileroot");
    PutFile(sDir + "\\f.txt");
    EXPECT_EQ(0, UtlDeleteTree((sDir + "\\f.txt").c_str()));
    EXPECT_TRUE(Exists(sDir + "\\f.txt"));
}

TEST(UtilsTree, ReadOnlyFileStaysWithTheFoldersAboveIt)
{
    std::string sDir = WorkDir("treereadonly");
    std::string sRoot = sDir + "\\root";
    UtlCreateDir(sRoot.c_str());
    UtlCreateDir((sRoot + "\\keep").c_str());
    UtlCreateDir((sRoot + "\\other").c_str());
    PutFile(sRoot + "\\keep\\ro.txt", "x", FILE_ATTRIBUTE_READONLY);
    PutFile(sRoot + "\\keep\\plain.txt");
    PutFile(sRoot + "\\other\\plain.txt");
    PutFile(sRoot + "\\top.txt");
    EXPECT_EQ(0, UtlDeleteTree(sRoot.c_str()));
    EXPECT_TRUE(Exists(sRoot + "\\keep\\ro.txt"));
    EXPECT_FALSE(Exists(sRoot + "\\keep\\plain.txt"));
    EXPECT_FALSE(Exists(sRoot + "\\other"));
    EXPECT_FALSE(Exists(sRoot + "\\top.txt"));
}

#ifndef _WIN32
// A sub-folder that cannot be listed (made with the Linux platform's fault switch) stays with the folders
// above it; the search of its parent goes on with the entries after it.
TEST(UtilsTree, FolderThatCannotBeListedStaysAndTheRestGoes)
{
    std::string sRoot = WorkDir("treeunlisted") + "\\root";
    UtlCreateDir(sRoot.c_str());
    UtlCreateDir((sRoot + "\\a_locked").c_str());
    PutFile(sRoot + "\\a_locked\\kept.txt");
    PutFile(sRoot + "\\b.txt");
    UtlCreateDir((sRoot + "\\c").c_str());
    PutFile(sRoot + "\\c\\d.txt");
    setenv("PLAT_FAULT", "FindFirstFileA 5 *\\a_locked\\*", 1);
    EXPECT_EQ(0, UtlDeleteTree(sRoot.c_str()));
    unsetenv("PLAT_FAULT");
    EXPECT_TRUE(Exists(sRoot + "\\a_locked\\kept.txt"));
    EXPECT_FALSE(Exists(sRoot + "\\b.txt"));
    EXPECT_FALSE(Exists(sRoot + "\\c"));
}
// A deletion that answers "not found" while the file is still there did not delete it.
TEST(UtilsFiles, ANotFoundThatLeavesTheFileIsAFailure)
{
    std::string sDir = WorkDir("notfoundlie");
    for (const char *pszError : {"2", "3"}) {
        PutFile(sDir + "\\f.txt");
        setenv("PLAT_FAULT", (std::string("DeleteFileA ") + pszError + " *\\f.txt").c_str(), 1);
        EXPECT_EQ(0, UtlDeleteFile((sDir + "\\f.txt").c_str())) << pszError;
        unsetenv("PLAT_FAULT");
        EXPECT_TRUE(Exists(sDir + "\\f.txt"));
    }
}
#endif

// Makes ROOT\d\d\...\d, LEVELS folders deep, with a file in every folder.
static void MakeDeepTree(const std::string &sRoot, int nLevels)
{
    std::string s = sRoot;
    ASSERT_EQ(1, UtlCreateDir(s.c_str()));
    PutFile(s + "\\f");
    for (int i = 1; i <= nLevels; i++) {
        s += "\\d";
        ASSERT_EQ(1, UtlCreateDir(s.c_str())) << i;
        PutFile(s + "\\f");
    }
}

TEST(UtilsTree, HundredLevelsAreDeletedCompletely)
{
    std::string sRoot = WorkDir("deep100") + "\\r";
    MakeDeepTree(sRoot, 100);
    EXPECT_NE(0, UtlDeleteTree(sRoot.c_str()));
    EXPECT_FALSE(Exists(sRoot));
}

TEST(UtilsTree, TheHundredAndFirstLevelIsNotEntered)
{
    std::string sRoot = WorkDir("deep101") + "\\r";
    MakeDeepTree(sRoot, 101);
    EXPECT_EQ(0, UtlDeleteTree(sRoot.c_str()));
    std::string s = sRoot;
    for (int i = 1; i <= 100; i++) {
        s += "\\d";
        ASSERT_TRUE(Exists(s)) << i;
        EXPECT_FALSE(Exists(s + "\\f")) << i;
    }
    EXPECT_TRUE(Exists(s + "\\d\\f")); // level 101 untouched
    EXPECT_FALSE(Exists(sRoot + "\\f"));
}

// Makes a symbolic link to a folder. On Linux and on Windows the platform makes it; under Wine, whose
// CreateSymbolicLinkA does nothing, the host's ln makes a host link, which Wine shows as a reparse point.
static bool MakeFolderLink(const std::string &sLink, const std::string &sTarget, std::string *psWhyNot)
{
#ifdef _WIN32
    typedef char *(__cdecl * UnixName)(const WCHAR *);
    UnixName pfnUnix =
        (UnixName)(void (*)(void))GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    if (pfnUnix != NULL) {
        std::string sUnix[2];
        const std::string *apWin[2] = {&sTarget, &sLink};
        for (int i = 0; i < 2; i++) {
            WCHAR wsz[MAX_PATH];
            MultiByteToWideChar(CP_ACP, 0, apWin[i]->c_str(), -1, wsz, MAX_PATH);
            char *psz = pfnUnix(wsz);
            if (psz == NULL) {
                *psWhyNot = "no host path for " + *apWin[i];
                return false;
            }
            sUnix[i] = psz;
            HeapFree(GetProcessHeap(), 0, psz);
        }
        std::string sCmd = "ln -s \"" + sUnix[0] + "\" \"" + sUnix[1] + "\"";
        STARTUPINFOA si;
        PROCESS_INFORMATION pi;
        memset(&si, 0, sizeof si);
        si.cb = sizeof si;
        if (!CreateProcessA("Z:\\bin\\ln", &sCmd[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
            *psWhyNot = "the host's ln did not start";
            return false;
        }
        WaitForSingleObject(pi.hProcess, 10000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    } else {
        typedef BOOLEAN(WINAPI * MakeLink)(LPCSTR, LPCSTR, DWORD);
        MakeLink pfnLink =
            (MakeLink)(void (*)(void))GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA");
        // SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
        if (pfnLink == NULL || !pfnLink(sLink.c_str(), sTarget.c_str(), 0x3)) {
            *psWhyNot = "this user may not make symbolic links";
            return false;
        }
    }
#else
    auto Host = [](const std::string &sWin) {
        std::string s = std::string(getenv("PLAT_ROOT")) + "/drive_c/" + sWin.substr(3);
        for (char &c : s)
            if (c == '\\')
                c = '/';
        return s;
    };
    if (symlink(Host(sTarget).c_str(), Host(sLink).c_str()) != 0) {
        *psWhyNot = "symlink failed";
        return false;
    }
#endif
    DWORD dw = GetFileAttributesA(sLink.c_str());
    if (dw == INVALID_FILE_ATTRIBUTES || !(dw & FILE_ATTRIBUTE_REPARSE_POINT)) {
        *psWhyNot = "the link does not show as a reparse point";
        return false;
    }
    return true;
}

static bool UnderWine()
{
#ifdef _WIN32
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != NULL;
#else
    return false;
#endif
}

TEST(UtilsTree, LinkToAFolderOutsideIsRemovedAndWhatItPointsToSurvives)
{
    std::string sDir = WorkDir("treelink");
    std::string sRoot = sDir + "\\root";
    UtlCreateDir((sDir + "\\outside").c_str());
    UtlCreateDir((sDir + "\\outside\\inner").c_str());
    PutFile(sDir + "\\outside\\keep.txt", "kept");
    PutFile(sDir + "\\outside\\inner\\keep2.txt", "kept");
    UtlCreateDir(sRoot.c_str());
    UtlCreateDir((sRoot + "\\sub").c_str());
    PutFile(sRoot + "\\sub\\gone.txt");
    std::string sWhyNot;
    if (!MakeFolderLink(sRoot + "\\sub\\link", sDir + "\\outside", &sWhyNot))
        GTEST_SKIP() << "no folder link can be made here: " << sWhyNot;

    int nResult = UtlDeleteTree(sRoot.c_str());
    EXPECT_EQ("kept", ReadBytes(sDir + "\\outside\\keep.txt"));
    EXPECT_EQ("kept", ReadBytes(sDir + "\\outside\\inner\\keep2.txt"));
    EXPECT_FALSE(Exists(sRoot + "\\sub\\gone.txt"));
    if (UnderWine()) {
        // Wine's RemoveDirectoryA follows a host link and finds the folder it points to not empty (error
        // 145), so the link, and the folders above it, stay; Windows removes the link itself.
        EXPECT_EQ(0, nResult);
        EXPECT_TRUE(Exists(sRoot + "\\sub\\link"));
    } else {
        EXPECT_NE(0, nResult);
        EXPECT_FALSE(Exists(sRoot));
    }
}

TEST(UtilsTree, LinkGivenAsTheRootGoesAloneAndWhatItPointsToSurvives)
{
    std::string sDir = WorkDir("rootlink");
    UtlCreateDir((sDir + "\\target").c_str());
    PutFile(sDir + "\\target\\f.txt", "kept");
    std::string sWhyNot;
    if (!MakeFolderLink(sDir + "\\link", sDir + "\\target", &sWhyNot))
        GTEST_SKIP() << "no folder link can be made here: " << sWhyNot;
    int nResult = UtlDeleteTree((sDir + "\\link").c_str());
    EXPECT_EQ("kept", ReadBytes(sDir + "\\target\\f.txt"));
    if (UnderWine()) {
        EXPECT_EQ(0, nResult); // Wine does not remove a host link as a folder (see above)
    } else {
        EXPECT_NE(0, nResult);
        EXPECT_FALSE(Exists(sDir + "\\link"));
    }
}

// ---------------------------------------------------------------------------------------------------------
// Shell notifications

#ifndef _WIN32
static std::string NotifyRecord()
{
    SHChangeNotify(0, SHCNF_FLUSH, NULL, NULL); // the notifications queued so far, written
    std::ifstream in(std::string(getenv("PLAT_ROOT")) + "/shell-notify.log");
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
#endif

TEST(UtilsNotify, EachChangeIsAnnouncedOnceWithItsFullPath)
{
#ifdef _WIN32
    GTEST_SKIP() << "on Windows the shell's notifications leave no record a test can read";
#else
    std::string sDir = WorkDir("notify");
    PutFile(sDir + "\\src.txt");
    size_t nStart = NotifyRecord().size();
    EXPECT_NE(0, UtlCreateDir("made"));
    EXPECT_EQ(1, UtlCreateDir("made")); // there already: no notification
    EXPECT_NE(0, UtlCopyFile("src.txt", "made"));
    EXPECT_NE(0, UtlCopyFile("src.txt", "made\\src.txt")); // replaced: announced again
    EXPECT_NE(0, UtlDeleteFile("made\\src.txt"));
    EXPECT_EQ(1, UtlDeleteFile("made\\src.txt")); // gone already
    EXPECT_NE(0, UtlRemoveDir("made"));
    EXPECT_EQ(1, UtlRemoveDir("made"));
    std::string sWin = sDir;
    std::string sWant = "MKDIR\t" + sWin + "\\made\n" + "CREATE\t" + sWin + "\\made\\src.txt\n" + "CREATE\t" +
                        sWin + "\\made\\src.txt\n" + "DELETE\t" + sWin + "\\made\\src.txt\n" + "RMDIR\t" +
                        sWin + "\\made\n";
    EXPECT_EQ(sWant, NotifyRecord().substr(nStart));

    // A tree's deletion announces every file and folder.
    UtlCreateDir("t");
    UtlCreateDir("t\\s");
    PutFile(sDir + "\\t\\s\\f");
    nStart = NotifyRecord().size();
    EXPECT_NE(0, UtlDeleteTree("t"));
    EXPECT_EQ("DELETE\t" + sWin + "\\t\\s\\f\nRMDIR\t" + sWin + "\\t\\s\nRMDIR\t" + sWin + "\\t\n",
              NotifyRecord().substr(nStart));
#endif
}

// ---------------------------------------------------------------------------------------------------------
// Assertions

struct DeathCase {
    void (*pfnCall)();
    const char *pszText;
};
static char szOut[UTL_PATH_SIZE];
static const DeathCase kDeaths[] = {
    {[] { UtlGetDir(NULL, "x", 1); }, "szDir != NULL"},
    {[] { UtlGetDir(szOut, NULL, 1); }, "szPath != NULL"},
    {[] { UtlGetDir(szOut, "x", -1); }, "nSize >= 0"},
    {[] { UtlGetName(NULL, "x", 1); }, "szName != NULL"},
    {[] { UtlGetName(szOut, NULL, 1); }, "szPath != NULL"},
    {[] { UtlGetName(szOut, "x", -1); }, "nSize >= 0"},
    {[] { UtlJoinPath(NULL, "x", "y", 1); }, "szPath != NULL"},
    {[] { UtlJoinPath(szOut, NULL, "y", 1); }, "szDir != NULL"},
    {[] { UtlJoinPath(szOut, "x", NULL, 1); }, "szName != NULL"},
    {[] { UtlJoinPath(szOut, "x", "y", -1); }, "nSize >= 0"},
    {[] { UtlGetFullPath(NULL, "x", 1); }, "szPath != NULL"},
    {[] { UtlGetFullPath(szOut, NULL, 1); }, "szName != NULL"},
    {[] { UtlGetFullPath(szOut, "x", -1); }, "nSize >= 0"},
    {[] { UtlGetModuleDir(NULL, 1); }, "szDir != NULL"},
    {[] { UtlGetModuleDir(szOut, -1); }, "nSize >= 0"},
    {[] { UtlCopyFile(NULL, "x"); }, "szFileName != NULL"},
    {[] { UtlCopyFile("x", NULL); }, "szDestName != NULL"},
    {[] { UtlDeleteFile(NULL); }, "szFileName != NULL"},
    {[] { UtlCreateDir(NULL); }, "szDirName != NULL"},
    {[] { UtlRemoveDir(NULL); }, "szDirName != NULL"},
    {[] { UtlDeleteTree(NULL); }, "szDirName != NULL"},
};

TEST(UtilsDeathTest, BrokenPreconditionsEndTheProcessWithTheirText)
{
    for (const auto &c : kDeaths) {
        std::string sWant = std::string("Assertion failed: ") + c.pszText + ", file app.UTILS, line .";
        EXPECT_EXIT(c.pfnCall(), ExitedWithCode(3), sWant) << c.pszText;
    }
}
