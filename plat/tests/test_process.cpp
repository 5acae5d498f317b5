// test_process.cpp - processes of the emulated machine: the platform's command-line rules, starting a
// program (found as the platform finds it, with its command line, environment, current directory and
// standard streams), the platform's errors for what cannot be started, waiting for a child and for a process
// that is not ours, exit codes, rights of handles, ending a process and the fault switch. The program
// started is proc_child (PROC_CHILD), copied onto the machine with CopyFileA.

#include "kernel/kernel.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

extern char **environ;

// The copy of the child program on the machine, in a folder with a blank in its name.
static const char kChild[] = "C:\\bin\\Child Dir\\child.exe";

static std::string ReadHostFile(const std::string &sHost)
{
    std::ifstream in(sHost, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

static std::string HostOf(const char *pszWin)
{
    plat::ResolvedPath path;
    DWORD nError;
    return plat::ResolvePath(pszWin, &path, &nError) ? path.sHost : std::string();
}

// What the child reported, by key; "arg" holds its host arguments in order.
struct Report {
    std::string sLine, sCmd, sDir, sRoot, sUi;
    std::vector<std::string> aArgs;
};

static Report ParseReport(const std::string &sText)
{
    Report r;
    for (size_t i = 0; i < sText.size();) {
        size_t j = sText.find('\n', i);
        if (j == std::string::npos)
            j = sText.size();
        std::string s = sText.substr(i, j - i);
        i = j + 1;
        size_t n = s.find('=');
        if (n == std::string::npos)
            continue;
        std::string sKey = s.substr(0, n), sValue = s.substr(n + 1);
        if (sKey == "line")
            r.sLine = sValue;
        else if (sKey == "cmd")
            r.sCmd = sValue;
        else if (sKey == "dir")
            r.sDir = sValue;
        else if (sKey == "root")
            r.sRoot = sValue;
        else if (sKey == "ui")
            r.sUi = sValue;
        else if (sKey == "arg")
            r.aArgs.push_back(sValue);
    }
    return r;
}

class Processes : public ::testing::Test
{
  protected:
    std::string sReport; // the host file the child reports to

    void SetUp() override
    {
        for (const char *psz : {"PLAT_FAULT", "PLAT_FAULT_AT", "PLAT_FAULT_CUT", "PLAT_FAULT_TRACE",
                                "KAL_CHILD_SLEEP_MS", "KAL_CHILD_SIGNAL", "KAL_CHILD_EXIT", "PLAT_UI"})
            unsetenv(psz);
        plat::ProcessWaitByPolling(false);
        SetCurrentDirectoryA("C:\\");
        fs::remove_all(plat::MachineRoot() + "/drive_c/t");
        ASSERT_TRUE(CreateDirectoryA("C:\\t", NULL));
        if (GetFileAttributesA(kChild) == INVALID_FILE_ATTRIBUTES) {
            CreateDirectoryA("C:\\bin", NULL);
            ASSERT_TRUE(CreateDirectoryA("C:\\bin\\Child Dir", NULL));
            std::string sFrom = plat::WindowsPathFromHost(PROC_CHILD);
            ASSERT_TRUE(CopyFileA(sFrom.c_str(), kChild, FALSE)) << GetLastError();
        }
        ASSERT_TRUE(SetCurrentDirectoryA("C:\\t"));
        sReport = plat::MachineRoot() + "/report.txt";
        fs::remove(sReport);
        setenv("KAL_CHILD_REPORT", sReport.c_str(), 1);
    }
    void TearDown() override
    {
        for (const char *psz : {"PLAT_FAULT", "PLAT_FAULT_AT", "PLAT_FAULT_CUT", "PLAT_FAULT_TRACE",
                                "KAL_CHILD_SLEEP_MS", "KAL_CHILD_SIGNAL", "KAL_CHILD_EXIT", "PLAT_UI"})
            unsetenv(psz);
        plat::ProcessWaitByPolling(false);
        SetCurrentDirectoryA("C:\\");
    }

    // Starts a program; false with the last error as the platform's.
    static bool Start(const char *pszApp, const std::string &sLine, PROCESS_INFORMATION *pi,
                      const char *pszDir = NULL, STARTUPINFOA *psi = nullptr, BOOL bInherit = FALSE,
                      DWORD dwFlags = 0)
    {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        std::string s = sLine;
        return CreateProcessA(pszApp, sLine.empty() ? NULL : &s[0], NULL, NULL, bInherit, dwFlags, NULL,
                              pszDir, psi != nullptr ? psi : &si, pi) != FALSE;
    }
    // Runs a program to its end and gives its report.
    Report Run(const char *pszApp, const std::string &sLine, const char *pszDir = NULL)
    {
        PROCESS_INFORMATION pi;
        if (!Start(pszApp, sLine, &pi, pszDir)) {
            ADD_FAILURE() << "not started: " << sLine << " error " << GetLastError();
            return Report();
        }
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 20000));
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return ParseReport(ReadHostFile(sReport));
    }
    static void Close(const PROCESS_INFORMATION &pi)
    {
        EXPECT_TRUE(CloseHandle(pi.hThread));
        EXPECT_TRUE(CloseHandle(pi.hProcess));
    }
};

// Starts a host program directly (not through the platform); its pid, -1 when it did not start.
static pid_t SpawnHost(const std::vector<std::string> &aArgs, const std::vector<std::string> &aEnv,
                       int fdOut = -1)
{
    std::vector<std::string> aArgCopy = aArgs, aEnvCopy = aEnv;
    std::vector<char *> apArgs, apEnv;
    for (std::string &s : aArgCopy)
        apArgs.push_back(&s[0]);
    apArgs.push_back(nullptr);
    for (std::string &s : aEnvCopy)
        apEnv.push_back(&s[0]);
    apEnv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (fdOut >= 0)
        posix_spawn_file_actions_adddup2(&actions, fdOut, 1);
    pid_t pid = -1;
    int r = posix_spawn(&pid, apArgs[0], &actions, nullptr, apArgs.data(), apEnv.data());
    posix_spawn_file_actions_destroy(&actions);
    return r == 0 ? pid : -1;
}

static std::vector<std::string> Environment()
{
    std::vector<std::string> a;
    for (char **pp = environ; *pp != nullptr; pp++)
        if (strncmp(*pp, "PLAT_COMMAND_LINE=", 18) != 0)
            a.push_back(*pp);
    return a;
}

static bool ProcessThere(pid_t pid)
{
    return fs::exists("/proc/" + std::to_string(pid) + "/stat");
}

// Command lines.

struct SplitCase {
    const char *pszLine;
    std::vector<std::string> aArgs;
};
static const SplitCase kSplits[] = {
    {"prog", {"prog"}},
    {"\"C:\\Program Files\\a b\\x.exe\" /S", {"C:\\Program Files\\a b\\x.exe", "/S"}},
    {"C:\\dir\\x.exe  a\tb  ", {"C:\\dir\\x.exe", "a", "b"}},
    {"p \"two words\" \"\" x", {"p", "two words", "", "x"}},
    {"p a\\\"b", {"p", "a\"b"}},                      // 2n+1 backslashes: n and a quote
    {"p \"tail\\\\\" next", {"p", "tail\\", "next"}}, // 2n backslashes: n, and the quote closes
    {"p C:\\x\\ y\\\\z", {"p", "C:\\x\\", "y\\\\z"}}, // backslashes before no quote stand for themselves
    {"p back\\\\\\\"slash", {"p", "back\\\"slash"}},  // three and a quote: one and a quote
    {"p \"in \"\"quoted\"\" text\"", {"p", "in \"quoted\" text"}},
    {"p /D=\"C:\\a b\" c", {"p", "/D=C:\\a b", "c"}}, // quotes inside an argument group too
    {"\"C:\\a\\\"b c", {"C:\\a\\b", "c"}},            // the program's name: backslashes are plain
    {"", {""}},
};

TEST(CommandLines, SplitByThePlatformsRules)
{
    for (const auto &c : kSplits)
        EXPECT_EQ(c.aArgs, plat::SplitCommandLine(c.pszLine)) << c.pszLine;
}

TEST(CommandLines, JoinedArgumentsSplitBackTheSame)
{
    const std::vector<std::vector<std::string>> kArgs = {
        {"prog"},
        {"C:\\Program Files\\x.exe", "a b", "", "c\"d", "e\\", "f g\\", "h\\\"i", "\\\\server\\share", "\t"},
        {"p", "C:\\a b\\", "\"", "\\\"", "x\\\\\"y z"},
        {""},
    };
    for (const auto &a : kArgs)
        EXPECT_EQ(a, plat::SplitCommandLine(plat::JoinCommandLine(a))) << plat::JoinCommandLine(a);
    EXPECT_EQ("\"C:\\a b\\x.exe\" plain \"two words\" \"a\\\"b\" c\\ \"d \\\\\"",
              plat::JoinCommandLine({"C:\\a b\\x.exe", "plain", "two words", "a\"b", "c\\", "d \\"}));
}

// The child's GetCommandLineA gives the very line it was started with, and its arguments are that line
// split by the platform's rules (in UTF-8 on the host).
TEST_F(Processes, ChildGetsTheVeryCommandLineAndItsArguments)
{
    std::string sLine =
        "\"C:\\bin\\Child Dir\\child.exe\"  plain \"two words\" a\\\"b C:\\x\\ \"tail\\\\\" \"\" "
        "\"in \"\"quoted\"\" text\" back\\\\\\\"slash /D=\"C:\\a b\"\t\xCF\xF0\xEE\xE1\xE0";
    Report r = Run(kChild, sLine);
    EXPECT_EQ(sLine, r.sLine);
    EXPECT_EQ(sLine.substr(sLine.find("plain")), r.sCmd);
    std::vector<std::string> aExpected;
    for (const std::string &s : plat::SplitCommandLine(sLine))
        aExpected.push_back(plat::AnsiToUtf8(s));
    EXPECT_EQ(aExpected, r.aArgs);
    ASSERT_EQ(11u, r.aArgs.size());
    EXPECT_EQ("a\"b", r.aArgs[3]);
    EXPECT_EQ("tail\\", r.aArgs[5]);
    EXPECT_EQ("", r.aArgs[6]);
    EXPECT_EQ("\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB1\xD0\xB0", r.aArgs[10]); // Проба
}

// Started by anything else, a program's command line is its arguments joined so that they split back the
// same; a PLAT_COMMAND_LINE left over from another start that does not split into them is not taken.
TEST_F(Processes, ChildStartedOtherwiseJoinsItsArgumentsSoTheySplitBack)
{
    const std::vector<std::string> aArgs = {PROC_CHILD, "a b", "c\"d", "e\\", "f g\\", "", "h\\\"i"};
    for (bool bStale : {false, true}) {
        std::vector<std::string> aEnv = Environment();
        if (bStale)
            aEnv.push_back("PLAT_COMMAND_LINE=other.exe x y");
        fs::remove(sReport);
        pid_t pid = SpawnHost(aArgs, aEnv);
        ASSERT_GT(pid, 0);
        int nStatus;
        ASSERT_EQ(pid, waitpid(pid, &nStatus, 0));
        Report r = ParseReport(ReadHostFile(sReport));
        EXPECT_EQ(aArgs, plat::SplitCommandLine(r.sLine)) << r.sLine;
        EXPECT_EQ(aArgs, r.aArgs);
    }
}

// The child has this process's environment, with the machine named by its full path (PLAT_ROOT may have
// named it relative to this process's host folder), and this process's current directory (the platform's,
// which SetCurrentDirectoryA changed) unless another is given.
TEST_F(Processes, ChildInheritsEnvironmentMachineAndCurrentDirectory)
{
    ASSERT_TRUE(CreateDirectoryA("C:\\t\\work", NULL));
    ASSERT_TRUE(CreateDirectoryA("C:\\t\\Other Dir", NULL));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\t\\work"));
    setenv("PLAT_UI", "script", 1);
    std::string sRoot = getenv("PLAT_ROOT");
    setenv("PLAT_ROOT", fs::relative(plat::MachineRoot()).c_str(), 1);
    Report r = Run(kChild, "child");
    setenv("PLAT_ROOT", sRoot.c_str(), 1);
    EXPECT_EQ("C:\\t\\work", r.sDir);
    EXPECT_EQ(plat::MachineRoot(), r.sRoot);
    EXPECT_EQ("script", r.sUi);
    r = Run(kChild, "child", "C:\\t\\other dir");
    EXPECT_EQ("C:\\t\\Other Dir", r.sDir);
}

// With STARTF_USESTDHANDLES and inherited handles the child's standard output is the file given; without
// inheritance it has none that reaches anything.
TEST_F(Processes, StandardHandlesGivenToTheChildAreItsStreams)
{
    unsetenv("KAL_CHILD_REPORT"); // the child reports on its standard output
    for (BOOL bInherit : {TRUE, FALSE}) {
        HANDLE h =
            CreateFileA("C:\\t\\out.txt", GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = h;
        PROCESS_INFORMATION pi;
        ASSERT_TRUE(Start(kChild, "child stdout", &pi, NULL, &si, bInherit)) << GetLastError();
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 20000));
        Close(pi);
        CloseHandle(h);
        std::string sOut = ReadHostFile(HostOf("C:\\t\\out.txt"));
        if (bInherit)
            EXPECT_EQ("child stdout", ParseReport(sOut).sLine);
        else
            EXPECT_EQ("", sOut);
    }
}

// Without an application name the program is the command line's first name: quoted, or each reading up to
// a later blank in turn; ".exe" is tried first where the name has no extension, then the name as it is (the
// host's programs have none); a name without a folder is looked for in the program's folder, the current
// directory and PATH.
TEST_F(Processes, ProgramsAreFoundAsThePlatformFindsThem)
{
    ASSERT_TRUE(CopyFileA(kChild, "C:\\t\\plain", FALSE));
    struct Case {
        const char *pszLine;
        const char *pszFirstArg; // the program's name as the child has it
    };
    const Case kCases[] = {
        {"C:\\bin\\Child Dir\\child.exe one", "C:\\bin\\Child"},
        {"C:\\bin\\Child Dir\\child.exe", "C:\\bin\\Child"},
        {"\"C:\\bin\\Child Dir\\child\" one", "C:\\bin\\Child Dir\\child"},
        {"C:\\t\\plain one", "C:\\t\\plain"},
        {"plain one", "plain"},
    };
    for (const auto &c : kCases) {
        fs::remove(sReport);
        Report r = Run(NULL, c.pszLine);
        EXPECT_EQ(c.pszLine, r.sLine);
        ASSERT_FALSE(r.aArgs.empty()) << c.pszLine;
        EXPECT_EQ(c.pszFirstArg, r.aArgs[0]);
    }
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\bin\\Child Dir"));
    fs::remove(sReport);
    EXPECT_EQ("child two", Run(NULL, "child two").sLine);
    // A host program on PATH.
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(Start(NULL, "sh -c \"exit 3\"", &pi)) << GetLastError();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 20000));
    DWORD nCode = 0;
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &nCode));
    EXPECT_EQ(3u, nCode);
    Close(pi);
}

// What cannot be started fails as on the platform: no such file (2) or folder (3), a folder (5), a file that
// is no program (193), a program the host may not run (5), a current directory that is none (267).
TEST_F(Processes, StartFailsWithThePlatformsErrors)
{
    auto Make = [](const char *pszWin, const std::string &sData, mode_t nMode) {
        HANDLE h = CreateFileA(pszWin, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        DWORD n;
        WriteFile(h, sData.data(), (DWORD)sData.size(), &n, NULL);
        CloseHandle(h);
        ASSERT_EQ(0, chmod(HostOf(pszWin).c_str(), nMode));
    };
    Make("C:\\t\\text.txt", "hello", 0644);
    Make("C:\\t\\text.exe", "hello", 0755);
    Make("C:\\t\\empty.exe", "", 0755);
    ASSERT_TRUE(CopyFileA(kChild, "C:\\t\\noexec.exe", FALSE));
    ASSERT_EQ(0, chmod(HostOf("C:\\t\\noexec.exe").c_str(), 0644));
    struct Case {
        const char *pszApp, *pszLine, *pszDir;
        DWORD nError;
    };
    const Case kCases[] = {
        {"C:\\t\\missing.exe", "x", NULL, ERROR_FILE_NOT_FOUND},
        {NULL, "C:\\t\\missing.exe /x", NULL, ERROR_FILE_NOT_FOUND},
        {NULL, "missing-program-name", NULL, ERROR_FILE_NOT_FOUND},
        {"C:\\t\\nodir\\x.exe", "x", NULL, ERROR_PATH_NOT_FOUND},
        {NULL, "\"C:\\t\\nodir\\x.exe\" /x", NULL, ERROR_PATH_NOT_FOUND},
        {"C:\\t", "x", NULL, ERROR_ACCESS_DENIED},
        {"C:\\t\\text.txt", "x", NULL, ERROR_BAD_EXE_FORMAT},
        {"C:\\t\\text.exe", "x", NULL, ERROR_BAD_EXE_FORMAT},
        {"C:\\t\\empty.exe", "x", NULL, ERROR_BAD_EXE_FORMAT},
        {"C:\\t\\noexec.exe", "x", NULL, ERROR_ACCESS_DENIED},
        {kChild, "x", "C:\\t\\nodir", ERROR_DIRECTORY},
        {kChild, "x", "C:\\t\\text.txt", ERROR_DIRECTORY},
        {NULL, "", NULL, ERROR_INVALID_PARAMETER},
    };
    for (const auto &c : kCases) {
        PROCESS_INFORMATION pi = {};
        SetLastError(0);
        EXPECT_FALSE(Start(c.pszApp, c.pszLine, &pi, c.pszDir)) << c.pszLine;
        EXPECT_EQ(c.nError, GetLastError()) << (c.pszApp != NULL ? c.pszApp : c.pszLine);
        EXPECT_EQ(NULL, pi.hProcess);
    }
    PROCESS_INFORMATION pi;
    std::string sLine = "child";
    EXPECT_FALSE(CreateProcessA(kChild, &sLine[0], NULL, NULL, FALSE, 0, NULL, NULL, NULL, &pi));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
    EXPECT_FALSE(Start(kChild, "child", &pi, NULL, nullptr, FALSE, CREATE_NEW_CONSOLE | DETACHED_PROCESS));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
    EXPECT_FALSE(Start(kChild, "child", &pi, NULL, nullptr, FALSE, CREATE_SUSPENDED));
    EXPECT_EQ((DWORD)ERROR_NOT_SUPPORTED, GetLastError());
    EXPECT_FALSE(Start(kChild, std::string(32768, 'x'), &pi));
    EXPECT_EQ((DWORD)ERROR_FILENAME_EXCED_RANGE, GetLastError());
}

// A child is waited for with a timeout or without one; its exit code is STILL_ACTIVE until it ends. The
// thread handle waits for it too. Both with process descriptors and by polling.
TEST_F(Processes, WaitTimesOutWhileTheChildRunsAndEndsWithItsExitCode)
{
    setenv("KAL_CHILD_SLEEP_MS", "3000", 1); // long enough for the checks before its end on a loaded machine
    setenv("KAL_CHILD_EXIT", "42", 1);
    for (bool bPolling : {false, true}) {
        plat::ProcessWaitByPolling(bPolling);
        PROCESS_INFORMATION pi;
        ASSERT_TRUE(Start(kChild, "child", &pi)) << GetLastError();
        EXPECT_NE(0u, pi.dwProcessId);
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(pi.hProcess, 0)) << bPolling;
        DWORD nCode = 0;
        EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &nCode));
        EXPECT_EQ((DWORD)STILL_ACTIVE, nCode);
        struct timespec t0, t1;
        clock_gettime(CLOCK_MONOTONIC, &t0);
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(pi.hProcess, 100)) << bPolling;
        clock_gettime(CLOCK_MONOTONIC, &t1);
        EXPECT_GE((t1.tv_sec - t0.tv_sec) * 1000 + (t1.tv_nsec - t0.tv_nsec) / 1000000, 95);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, INFINITE)) << bPolling;
        EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &nCode));
        EXPECT_EQ(42u, nCode);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hThread, 0));
        // Another handle to the same child knows its end and its code.
        HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pi.dwProcessId);
        ASSERT_NE((HANDLE)NULL, h);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 0));
        EXPECT_TRUE(GetExitCodeProcess(h, &nCode));
        EXPECT_EQ(42u, nCode);
        EXPECT_TRUE(CloseHandle(h));
        Close(pi);
    }
}

// A child ended by a signal has the exit code the platform gives a crash, or 128 + the signal.
TEST_F(Processes, ChildEndedBySignalHasAPlatformExitCode)
{
    struct Case {
        const char *pszSignal;
        DWORD nCode;
    };
    const Case kCases[] = {{"11", 0xC0000005}, {"15", 128 + 15}, {"6", 3}};
    for (const auto &c : kCases) {
        setenv("KAL_CHILD_SIGNAL", c.pszSignal, 1);
        PROCESS_INFORMATION pi;
        ASSERT_TRUE(Start(kChild, "child", &pi));
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 20000));
        DWORD nCode = 0;
        EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &nCode));
        EXPECT_EQ(c.nCode, nCode) << c.pszSignal;
        Close(pi);
    }
}

// OpenProcess works on any process: its end is noticed whether it is a zombie of its parent (its exit code
// read then) or gone at once (an orphan reaped by the system), with process descriptors and by polling.
TEST_F(Processes, OpenProcessNoticesTheEndOfAProcessNotOurs)
{
    for (bool bPolling : {false, true}) {
        plat::ProcessWaitByPolling(bPolling);
        // A process this test starts itself: a zombie until the test reaps it.
        pid_t pid = SpawnHost({"/bin/sh", "-c", "sleep 3; exit 7"}, Environment());
        ASSERT_GT(pid, 0);
        HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, (DWORD)pid);
        ASSERT_NE((HANDLE)NULL, h) << GetLastError();
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(h, 0)) << bPolling;
        DWORD nCode = 0;
        EXPECT_TRUE(GetExitCodeProcess(h, &nCode));
        EXPECT_EQ((DWORD)STILL_ACTIVE, nCode);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 20000)) << bPolling;
        EXPECT_TRUE(GetExitCodeProcess(h, &nCode));
        EXPECT_EQ(7u, nCode) << bPolling;
        EXPECT_TRUE(CloseHandle(h));
        int nStatus;
        EXPECT_EQ(pid, waitpid(pid, &nStatus, 0));

        // A grandchild: its parent ends at once, the system reaps it.
        int afd[2];
        ASSERT_EQ(0, pipe(afd));
        pid_t pidShell =
            SpawnHost({"/bin/sh", "-c", "sleep 3 >/dev/null & echo $!"}, Environment(), afd[1]);
        close(afd[1]);
        ASSERT_GT(pidShell, 0);
        char sz[32] = {};
        ssize_t n = read(afd[0], sz, sizeof sz - 1);
        close(afd[0]);
        EXPECT_EQ(pidShell, waitpid(pidShell, &nStatus, 0));
        ASSERT_GT(n, 0);
        pid_t pidGrandchild = (pid_t)atoi(sz);
        h = OpenProcess(SYNCHRONIZE, FALSE, (DWORD)pidGrandchild);
        ASSERT_NE((HANDLE)NULL, h) << GetLastError();
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(h, 0)) << bPolling;
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 20000)) << bPolling;
        EXPECT_TRUE(CloseHandle(h));
    }
}

// A pid that names no process (none, an ended one, a thread of a process) is refused with 87.
TEST_F(Processes, OpenProcessRefusesWhatIsNoProcess)
{
    pid_t pid = SpawnHost({"/bin/true"}, Environment());
    ASSERT_GT(pid, 0);
    int nStatus;
    ASSERT_EQ(pid, waitpid(pid, &nStatus, 0));
    pid_t tid = 0;
    bool bGo = false;
    std::thread t([&] {
        tid = (pid_t)syscall(SYS_gettid);
        while (!__atomic_load_n(&bGo, __ATOMIC_SEQ_CST))
            usleep(1000);
    });
    while (__atomic_load_n(&tid, __ATOMIC_SEQ_CST) == 0)
        usleep(1000);
    for (bool bPolling : {false, true}) {
        plat::ProcessWaitByPolling(bPolling);
        for (DWORD dwPid : {(DWORD)0, (DWORD)pid, (DWORD)tid, (DWORD)0xFFFFFFF0}) {
            SetLastError(0);
            EXPECT_EQ((HANDLE)NULL, OpenProcess(SYNCHRONIZE, FALSE, dwPid)) << dwPid << " " << bPolling;
            EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError()) << dwPid << " " << bPolling;
        }
    }
    __atomic_store_n(&bGo, true, __ATOMIC_SEQ_CST);
    t.join();
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, GetCurrentProcessId());
    ASSERT_NE((HANDLE)NULL, h);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(h, 0));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ((DWORD)getpid(), GetCurrentProcessId());
}

// A handle does what it was opened for: waiting needs SYNCHRONIZE, the exit code a query right, ending the
// process PROCESS_TERMINATE (5 else); a thread handle has no exit code of a process, a closed handle is none.
TEST_F(Processes, HandlesDoOnlyWhatTheirRightsAllow)
{
    setenv("KAL_CHILD_SLEEP_MS", "10000", 1);
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(Start(kChild, "child", &pi));
    HANDLE hQuery = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pi.dwProcessId);
    HANDLE hSync = OpenProcess(SYNCHRONIZE, FALSE, pi.dwProcessId);
    ASSERT_NE((HANDLE)NULL, hQuery);
    ASSERT_NE((HANDLE)NULL, hSync);
    DWORD nCode;
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(hQuery, 0));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_FALSE(GetExitCodeProcess(hSync, &nCode));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_FALSE(TerminateProcess(hSync, 1));
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_FALSE(GetExitCodeProcess(pi.hThread, &nCode));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_TRUE(CloseHandle(hQuery));
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(hQuery, 0));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_FALSE(CloseHandle(hQuery));
    EXPECT_TRUE(TerminateProcess(pi.hProcess, 1));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hSync, 20000));
    EXPECT_TRUE(CloseHandle(hSync));
    Close(pi);
}

// TerminateProcess ends a process at once with the code given; an ended process cannot be ended (5).
TEST_F(Processes, TerminateEndsAProcessWithTheCodeGiven)
{
    setenv("KAL_CHILD_SLEEP_MS", "20000", 1);
    for (bool bPolling : {false, true}) {
        plat::ProcessWaitByPolling(bPolling);
        PROCESS_INFORMATION pi;
        ASSERT_TRUE(Start(kChild, "child", &pi));
        EXPECT_TRUE(TerminateProcess(pi.hProcess, 91));
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 20000));
        DWORD nCode = 0;
        EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &nCode));
        EXPECT_EQ(91u, nCode);
        EXPECT_FALSE(TerminateProcess(pi.hProcess, 92));
        EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
        Close(pi);
    }
}

// An ended child stays (a zombie, its pid kept) while a handle to it is open, and is reaped when its last
// handle closes; one whose handles closed while it ran is reaped by a later process call.
TEST_F(Processes, ChildIsReapedWhenItsLastHandleCloses)
{
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(Start(kChild, "child", &pi));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 20000));
    pid_t pid = (pid_t)pi.dwProcessId;
    EXPECT_TRUE(ProcessThere(pid));
    EXPECT_TRUE(CloseHandle(pi.hProcess));
    EXPECT_TRUE(ProcessThere(pid)); // the thread handle still holds it
    EXPECT_TRUE(CloseHandle(pi.hThread));
    EXPECT_FALSE(ProcessThere(pid));

    setenv("KAL_CHILD_SLEEP_MS", "300", 1);
    ASSERT_TRUE(Start(kChild, "child", &pi));
    pid = (pid_t)pi.dwProcessId;
    Close(pi);
    for (int i = 0; i < 2000; i++) { // until it has ended: a zombie
        std::string sStat = ReadHostFile("/proc/" + std::to_string(pid) + "/stat");
        if (sStat.empty() || sStat.find(") Z ") != std::string::npos)
            break;
        usleep(10000);
    }
    unsetenv("KAL_CHILD_SLEEP_MS");
    ASSERT_TRUE(Start(kChild, "child", &pi));
    EXPECT_FALSE(ProcessThere(pid));
    WaitForSingleObject(pi.hProcess, 20000);
    Close(pi);
}

TEST_F(Processes, FaultSwitchFailsProcessCalls)
{
    setenv("PLAT_FAULT", "CreateProcessA 1455 *\\child.exe", 1);
    PROCESS_INFORMATION pi;
    EXPECT_FALSE(Start(kChild, "child", &pi));
    EXPECT_EQ(1455u, GetLastError());
    setenv("PLAT_FAULT", "CreateProcessA 1455 C:\\t\\missing.exe", 1);
    EXPECT_FALSE(Start(NULL, "C:\\t\\missing.exe", &pi));
    EXPECT_EQ(1455u, GetLastError());
    setenv("PLAT_FAULT", "WaitForSingleObject 6 *\\child.exe; GetExitCodeProcess 5 *\\child.exe", 1);
    ASSERT_TRUE(Start(kChild, "child", &pi));
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(pi.hProcess, 0));
    EXPECT_EQ(6u, GetLastError());
    DWORD nCode;
    EXPECT_FALSE(GetExitCodeProcess(pi.hProcess, &nCode));
    EXPECT_EQ(5u, GetLastError());
    setenv("PLAT_FAULT", "OpenProcess 5 *\\child.exe", 1);
    EXPECT_EQ((HANDLE)NULL, OpenProcess(SYNCHRONIZE, FALSE, pi.dwProcessId));
    EXPECT_EQ(5u, GetLastError());
    unsetenv("PLAT_FAULT");
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 20000));
    Close(pi);
}
