// test_boot.cpp - the operations left for the machine's next start (MoveFileExA with
// MOVEFILE_DELAY_UNTIL_REBOOT), recorded in the platform's format and carried out by plat-boot. Part of
// test_file; expected values follow the platform's documentation.

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
