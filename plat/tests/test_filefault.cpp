// test_filefault.cpp - the fault switch on the file calls: failures by name and path, by number, the trace
// and the cut-off. Part of test_file.

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
