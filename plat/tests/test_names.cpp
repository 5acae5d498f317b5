// test_names.cpp - names found without case stay right while other programs change the folder behind the
// platform's back: between two lookups, within one tick of the folders' clock, names that differ only in
// case, a folder replaced under its path, a child process. Each test runs with the folder indexes kept by
// change events and kept by the folders' times alone.

#include "kernel/kernel.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

static std::string DriveC()
{
    return plat::MachineRoot() + "/drive_c";
}

static void Touch(const std::string &sHost)
{
    std::ofstream(sHost) << "x";
}

static const long long kTick = 100000000;

class Names : public ::testing::TestWithParam<bool> {
  protected:
    std::string sDir; // the host folder of C:\names

    void SetUp() override
    {
        // By times, with a clock of 100 ms ticks: many changes fall within one tick.
        plat::NameIndexByTimes(GetParam(), kTick);
        sDir = DriveC() + "/names";
        fs::remove_all(sDir);
        fs::create_directories(sDir);
    }
    void TearDown() override
    {
        plat::NameIndexByTimes(false);
        fs::remove_all(sDir);
    }

    // The host name that C:\names\NAME resolves to; "" when it does not exist.
    std::string Found(const std::string &sName)
    {
        plat::ResolvedPath path;
        DWORD nError = 0;
        EXPECT_TRUE(plat::ResolvePath(("C:\\names\\" + sName).c_str(), &path, &nError)) << sName;
        if (!path.bFound)
            return "";
        EXPECT_EQ(sDir + "/", path.sHost.substr(0, sDir.size() + 1));
        return path.sHost.substr(sDir.size() + 1);
    }
    // The same for a path whose folders may be missing: "" then too.
    std::string FoundOnPath(const std::string &sPath)
    {
        plat::ResolvedPath path;
        DWORD nError = 0;
        if (!plat::ResolvePath(("C:\\names\\" + sPath).c_str(), &path, &nError)) {
            EXPECT_EQ((DWORD)ERROR_PATH_NOT_FOUND, nError) << sPath;
            return "";
        }
        return Found(sPath);
    }
};

TEST_P(Names, HostChangesBetweenLookupsAreSeen)
{
    for (int i = 0; i < 50; i++) {
        Touch(sDir + "/Abc");
        Touch(sDir + "/ABC");
        Touch(sDir + "/other");
        EXPECT_EQ("ABC", Found("abc")); // the first in byte order
        ASSERT_EQ(0, unlink((sDir + "/ABC").c_str()));
        EXPECT_EQ("Abc", Found("abc"));
        ASSERT_EQ(0, rename((sDir + "/Abc").c_str(), (sDir + "/aBC").c_str()));
        EXPECT_EQ("aBC", Found("abc"));
        EXPECT_EQ("aBC", Found("ABc"));
        ASSERT_EQ(0, unlink((sDir + "/aBC").c_str()));
        EXPECT_EQ("", Found("abc"));
        Touch(sDir + "/ABC");
        EXPECT_EQ("ABC", Found("abc"));
        // Moved in from another folder, and out to one.
        ASSERT_EQ(0, rename((sDir + "/ABC").c_str(), (DriveC() + "/ABC-away").c_str()));
        EXPECT_EQ("", Found("abc"));
        ASSERT_EQ(0, rename((DriveC() + "/ABC-away").c_str(), (sDir + "/aBc").c_str()));
        EXPECT_EQ("aBc", Found("ABC"));
        // A folder made and removed.
        fs::create_directory(sDir + "/SUB");
        EXPECT_EQ("SUB", Found("sub"));
        fs::remove(sDir + "/SUB");
        EXPECT_EQ("", Found("sub"));
        // Cyrillic names by the code page's case tables: "ёж.txt" and "ЁЖ.TXT".
        Touch(sDir + "/\xd0\x81\xd0\x96.TXT");
        EXPECT_EQ("\xd0\x81\xd0\x96.TXT", Found("\xb8\xe6.txt"));
        fs::remove(sDir + "/\xd0\x81\xd0\x96.TXT");
        EXPECT_EQ("", Found("\xb8\xe6.txt"));
        fs::remove(sDir + "/aBc");
        fs::remove(sDir + "/other");
    }
}

// A name made within the same tick of the folders' clock as the lookup before it: the folder's times may
// not have moved.
TEST_P(Names, ChangesWithinOneTickAreSeen)
{
    for (int i = 0; i < 300; i++) {
        std::string sName = "n" + std::to_string(i);
        Touch(sDir + "/other" + std::to_string(i));
        EXPECT_EQ("", Found(sName));
        Touch(sDir + "/N" + std::to_string(i));
        EXPECT_EQ("N" + std::to_string(i), Found(sName)) << "pass " << i;
        ASSERT_EQ(0, unlink((sDir + "/N" + std::to_string(i)).c_str()));
        EXPECT_EQ("", Found(sName)) << "pass " << i;
    }
}

// The same, on a folder last changed long ago: its index is trusted, and must still see the change.
TEST_P(Names, ChangesToAnOldFolderAreSeen)
{
    Touch(sDir + "/Stary");
    struct timespec times[2] = {{1682942400, 0}, {1682942400, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, sDir.c_str(), times, 0));
    usleep(3 * kTick / 1000); // past the tick of the folder's change: its index is trusted
    EXPECT_EQ("Stary", Found("stary"));
    EXPECT_EQ("", Found("novy"));
    Touch(sDir + "/NOVY");
    // The modification time set back as it was: only the change time (or the event) tells.
    ASSERT_EQ(0, utimensat(AT_FDCWD, sDir.c_str(), times, 0));
    EXPECT_EQ("NOVY", Found("novy"));
    ASSERT_EQ(0, rename((sDir + "/NOVY").c_str(), (sDir + "/Novy").c_str()));
    EXPECT_EQ("Novy", Found("novy"));
}

TEST_P(Names, AFolderReplacedUnderItsPathIsReadAfresh)
{
    Touch(sDir + "/First");
    EXPECT_EQ("First", Found("first"));
    EXPECT_EQ("", Found("second"));
    ASSERT_EQ(0, rename(sDir.c_str(), (sDir + "-old").c_str()));
    fs::create_directories(sDir);
    Touch(sDir + "/SECOND");
    EXPECT_EQ("", Found("first"));
    EXPECT_EQ("SECOND", Found("second"));
    fs::remove_all(sDir + "-old");
}

// A child of fork() shares the parent's descriptors: its lookups must not take the parent's events.
TEST_P(Names, AChildProcessDoesNotBlindItsParent)
{
    Touch(sDir + "/Before");
    EXPECT_EQ("", Found("later"));
    pid_t pid = fork();
    if (pid == 0) {
        bool bOk = Found("later").empty();
        Touch(sDir + "/LATER");
        bOk = bOk && Found("later") == "LATER";
        _exit(bOk ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ("LATER", Found("later"));
    ASSERT_EQ(0, unlink((sDir + "/LATER").c_str()));
    EXPECT_EQ("", Found("later"));
}

// The folders on the way are kept open between calls: another program that renames, removes, replaces or
// shadows one of them (a name equal to it without case, made beside a folder found without case) or puts
// a link in its place must be seen by the next call, which then acts in the folder the path names now.
TEST_P(Names, FoldersOnTheWayChangedBehindThePlatformAreSeen)
{
    for (int i = 0; i < 20; i++) {
        fs::create_directories(sDir + "/a/b");
        Touch(sDir + "/a/b/first");
        EXPECT_EQ("a/b/first", FoundOnPath("a\\b\\first"));
        EXPECT_EQ("a/b/first", FoundOnPath("A\\B\\FIRST"));
        // Renamed away, and another folder made in its place.
        ASSERT_EQ(0, rename((sDir + "/a").c_str(), (sDir + "/a-old").c_str()));
        EXPECT_EQ("", FoundOnPath("a\\b\\first"));
        fs::create_directories(sDir + "/a/b");
        Touch(sDir + "/a/b/second");
        EXPECT_EQ("", FoundOnPath("a\\b\\first"));
        EXPECT_EQ("a/b/second", FoundOnPath("a\\b\\second"));
        EXPECT_EQ("a/b/second", FoundOnPath("A\\b\\Second"));
        // Removed and made again under the same name.
        fs::remove_all(sDir + "/a/b");
        fs::create_directories(sDir + "/a/b");
        Touch(sDir + "/a/b/third");
        EXPECT_EQ("a/b/third", FoundOnPath("a\\b\\third"));
        EXPECT_EQ("", FoundOnPath("a\\b\\second"));
        // A folder found without case, then its exact spelling made beside it: that one is found now.
        EXPECT_EQ("a/b/third", FoundOnPath("a\\B\\third"));
        fs::create_directories(sDir + "/a/B");
        Touch(sDir + "/a/B/fourth");
        EXPECT_EQ("a/B/fourth", FoundOnPath("a\\B\\fourth"));
        EXPECT_EQ("", FoundOnPath("a\\B\\third"));
        EXPECT_EQ("a/b/third", FoundOnPath("a\\b\\third"));
        // Found without case, then another spelling first in byte order made beside it.
        fs::create_directories(sDir + "/c");
        Touch(sDir + "/c/fifth");
        EXPECT_EQ("c/fifth", FoundOnPath("C\\fifth"));
        ASSERT_EQ(0, rename((sDir + "/a-old").c_str(), (sDir + "/C").c_str()));
        EXPECT_EQ("C/b/first", FoundOnPath("C\\b\\first"));
        EXPECT_EQ("", FoundOnPath("C\\fifth"));
        // A link in the place of a folder: paths go through it.
        fs::remove_all(sDir + "/c");
        fs::remove_all(sDir + "/C");
        EXPECT_EQ("", FoundOnPath("c\\fifth"));
        fs::create_directories(sDir + "/target");
        Touch(sDir + "/target/sixth");
        fs::create_directory_symlink(sDir + "/target", sDir + "/c");
        EXPECT_EQ("c/sixth", FoundOnPath("C\\Sixth"));
        fs::remove(sDir + "/c");
        EXPECT_EQ("", FoundOnPath("c\\sixth"));
        fs::remove_all(sDir + "/a");
        fs::remove_all(sDir + "/target");
    }
}

// The same through the file calls, with the changes made by another process: each call acts in the folder
// the path names when it is made.
TEST_P(Names, FileCallsActInTheFolderThePathNamesNow)
{
    auto Write = [](const std::string &sPath) {
        HANDLE h = CreateFileA(sPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, h) << sPath;
        CloseHandle(h);
    };
    auto Shell = [](const std::string &sCommand) { ASSERT_EQ(0, system(sCommand.c_str())) << sCommand; };
    fs::create_directories(sDir + "/d/e");
    Write("C:\\names\\d\\e\\one.txt");
    EXPECT_TRUE(fs::exists(sDir + "/d/e/one.txt"));
    Shell("mv '" + sDir + "/d' '" + sDir + "/d-old' && mkdir -p '" + sDir + "/d/e'");
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\names\\d\\e\\one.txt"));
    Write("C:\\names\\D\\E\\one.txt");
    EXPECT_TRUE(fs::exists(sDir + "/d/e/one.txt"));
    Shell("rm -rf '" + sDir + "/d/e' && mkdir '" + sDir + "/d/e' && echo x >'" + sDir + "/d/e/two.txt'");
    EXPECT_TRUE(DeleteFileA("C:\\names\\d\\e\\TWO.TXT"));
    EXPECT_FALSE(fs::exists(sDir + "/d/e/two.txt"));
    EXPECT_TRUE(fs::exists(sDir + "/d-old/e/one.txt"));
    EXPECT_TRUE(CreateDirectoryA("C:\\names\\d\\e\\f", nullptr));
    EXPECT_TRUE(fs::is_directory(sDir + "/d/e/f"));
    Shell("mv '" + sDir + "/d/e' '" + sDir + "/d/e-old' && mkdir -p '" + sDir + "/d/e/f'");
    EXPECT_TRUE(MoveFileA("C:\\names\\d-old\\e\\one.txt", "C:\\names\\d\\e\\f\\moved.txt"));
    EXPECT_TRUE(fs::exists(sDir + "/d/e/f/moved.txt"));
    EXPECT_TRUE(RemoveDirectoryA("C:\\names\\d\\e-old\\f"));
    EXPECT_FALSE(fs::exists(sDir + "/d/e-old/f"));
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA("C:\\names\\d\\e\\f\\*.txt", &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFind);
    EXPECT_STREQ("moved.txt", fd.cFileName);
    FindClose(hFind);
}

TEST_P(Names, KeptFoldersStayBounded)
{
    for (int i = 0; i < 100; i++) {
        fs::create_directories(sDir + "/k" + std::to_string(i) + "/sub");
        Touch(sDir + "/k" + std::to_string(i) + "/sub/File");
        std::string s = "C:\\names\\k" + std::to_string(i) + "\\sub\\File";
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(s.c_str())) << s;
    }
    EXPECT_LE(plat::KeptFolders(), 48u);
    if (!GetParam())
        EXPECT_GE(plat::KeptFolders(), 3u); // by events: kept, and within their bound
    else
        EXPECT_EQ(0u, plat::KeptFolders()); // by times: none kept
}

TEST_P(Names, IndexesStayBounded)
{
    for (int i = 0; i < 40; i++) {
        fs::create_directories(sDir + "/d" + std::to_string(i));
        Touch(sDir + "/d" + std::to_string(i) + "/File");
    }
    usleep(3 * kTick / 1000);
    for (int i = 0; i < 40; i++) {
        plat::ResolvedPath path;
        DWORD nError = 0;
        std::string s = "C:\\names\\d" + std::to_string(i) + "\\FILE";
        ASSERT_TRUE(plat::ResolvePath(s.c_str(), &path, &nError));
        EXPECT_EQ(sDir + "/d" + std::to_string(i) + "/File", path.sHost);
    }
    EXPECT_LE(plat::NameIndexFolders(), 16u);
}

// A folder whose names come and go in hundreds after it was read (by events, the index grows, reuses
// the places of removed names and makes itself again; by times, it is read again): every name is found in
// another case exactly while it is there.
TEST_P(Names, HundredsOfNamesComingAndGoingAreFoundWhileThere)
{
    const int n = 300;
    auto Name = [](int i) { return "Plan of the ground floor " + std::to_string(i) + ".sc1"; };
    auto Upper = [](int i) { return "PLAN OF THE GROUND FLOOR " + std::to_string(i) + ".SC1"; };
    for (int i = 0; i < n; i++)
        Touch(sDir + "/" + Name(i));
    usleep(3 * kTick / 1000);
    EXPECT_EQ(Name(7), Found(Upper(7))); // the folder read
    // Two thirds go, as many new ones come, then the ones gone come back.
    for (int i = 0; i < n; i++) {
        if (i % 3 != 0) {
            ASSERT_EQ(0, unlink((sDir + "/" + Name(i)).c_str()));
        }
    }
    for (int i = n; i < 2 * n; i++)
        Touch(sDir + "/" + Name(i));
    usleep(3 * kTick / 1000);
    for (int i = 0; i < 2 * n; i += 7)
        EXPECT_EQ(i >= n || i % 3 == 0 ? Name(i) : "", Found(Upper(i))) << i;
    for (int i = 0; i < n; i++) {
        if (i % 3 != 0)
            Touch(sDir + "/" + Name(i));
    }
    for (int i = n; i < 2 * n; i++)
        ASSERT_EQ(0, unlink((sDir + "/" + Name(i)).c_str()));
    usleep(3 * kTick / 1000);
    for (int i = 0; i < 2 * n; i += 5)
        EXPECT_EQ(i < n ? Name(i) : "", Found(Upper(i))) << i;

    // Short names: the places of removed names stay marked, and names placed after them are still found.
    fs::remove_all(sDir);
    fs::create_directories(sDir);
    for (int i = 0; i < 200; i++)
        Touch(sDir + "/n" + std::to_string(i));
    usleep(3 * kTick / 1000);
    EXPECT_EQ("n0", Found("N0"));
    for (int i = 0; i < 200; i += 2)
        ASSERT_EQ(0, unlink((sDir + "/n" + std::to_string(i)).c_str()));
    for (int i = 200; i < 250; i++)
        Touch(sDir + "/n" + std::to_string(i));
    usleep(3 * kTick / 1000);
    for (int i = 0; i < 250; i++)
        EXPECT_EQ(i % 2 == 0 && i < 200 ? "" : "n" + std::to_string(i), Found("N" + std::to_string(i))) << i;
}

INSTANTIATE_TEST_SUITE_P(ByEventsAndByTimes, Names, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return std::string(info.param ? "ByTimes" : "ByEvents");
                         });
