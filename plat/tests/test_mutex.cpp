// test_mutex.cpp - named mutexes: one object per name and namespace, ERROR_ALREADY_EXISTS while any handle
// to it is open, in this process or in another of the machine; gone once every holder closed it or ended,
// killed too; kept by a child that inherited a handle; one creator among processes that create it at once.
// The other process is mutex_child (MUTEX_CHILD), started from its host path on drive Z:.

#include "kernel/kernel.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

// CreateMutexA's outcome: whether a handle came back and the last error, closed again unless kept.
struct Outcome {
    bool bHandle;
    DWORD nError;
};

static Outcome Create(const char *pszName, HANDLE *ph = nullptr)
{
    SetLastError(12345);
    HANDLE h = CreateMutexA(NULL, FALSE, pszName);
    Outcome o = {h != NULL, GetLastError()};
    if (ph != nullptr)
        *ph = h;
    else if (h != NULL)
        CloseHandle(h);
    return o;
}

static std::string ReadHostFile(const std::string &sHost)
{
    std::ifstream in(sHost, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A child that runs mutex_child on the name with the environment given ("KEY=VALUE" each); its report's
// host path in *psReport. bInherit: started with inherited handles.
static PROCESS_INFORMATION StartChild(const std::string &sName, const std::vector<std::string> &aEnv,
                                      std::string *psReport, bool bInherit = false)
{
    static int nChild;
    *psReport =
        ::testing::TempDir() + "mutex-report-" + std::to_string(getpid()) + "-" + std::to_string(++nChild);
    unlink(psReport->c_str());
    setenv("KAL_MUTEX_NAME", sName.c_str(), 1);
    setenv("KAL_MUTEX_REPORT", psReport->c_str(), 1);
    unsetenv("KAL_MUTEX_OPEN");
    unsetenv("KAL_MUTEX_HOLD_MS");
    for (const std::string &s : aEnv)
        setenv(s.substr(0, s.find('=')).c_str(), s.substr(s.find('=') + 1).c_str(), 1);
    std::string sLine = "\"" + plat::WindowsPathFromHost(MUTEX_CHILD) + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    EXPECT_TRUE(CreateProcessA(NULL, &sLine[0], NULL, NULL, bInherit, 0, NULL, NULL, &si, &pi))
        << GetLastError();
    return pi;
}

// The child's report once it is there (at most 10 s).
static std::string WaitReport(const std::string &sReport)
{
    for (int i = 0; i < 1000; i++) {
        struct stat st;
        if (stat(sReport.c_str(), &st) == 0)
            return ReadHostFile(sReport);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "(no report)";
}

static void EndChild(PROCESS_INFORMATION *pi)
{
    EXPECT_EQ(WaitForSingleObject(pi->hProcess, 20000), (DWORD)WAIT_OBJECT_0);
    CloseHandle(pi->hProcess);
    CloseHandle(pi->hThread);
}

TEST(Mutex, OneObjectPerNameInProcess)
{
    HANDLE h1, h2;
    Outcome o = Create("Global\\mx-one", &h1);
    EXPECT_TRUE(o.bHandle);
    EXPECT_EQ(o.nError, (DWORD)ERROR_SUCCESS);
    o = Create("Global\\mx-one", &h2);
    EXPECT_TRUE(o.bHandle);
    EXPECT_EQ(o.nError, (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_NE(h1, h2);
    // Any handle keeps the object: closing the first leaves it to the second.
    EXPECT_TRUE(CloseHandle(h1));
    EXPECT_EQ(Create("Global\\mx-one").nError, (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(CloseHandle(h2));
    EXPECT_EQ(Create("Global\\mx-one").nError, (DWORD)ERROR_SUCCESS);
}

TEST(Mutex, NamesAndNamespaces)
{
    HANDLE h;
    ASSERT_TRUE(Create("Global\\mx-Name", &h).bHandle);
    struct Case {
        const char *pszName;
        bool bHandle;
        DWORD nError;
    } aCases[] = {
        {"Global\\mx-Name", true, ERROR_ALREADY_EXISTS},
        {"Global\\mx-name", true, ERROR_SUCCESS}, // names keep their case
        {"mx-Name", true, ERROR_SUCCESS},         // the session's namespace is another
        {"Local\\mx-Name", true, ERROR_SUCCESS},  // ... and Local\ names it
        {"Global\\a\\mx-Name", false, ERROR_PATH_NOT_FOUND},
        {"Local\\a\\b", false, ERROR_PATH_NOT_FOUND},
        {NULL, true, ERROR_SUCCESS}, // no name: this handle's own object
        {"", true, ERROR_SUCCESS},
    };
    for (const Case &c : aCases) {
        Outcome o = Create(c.pszName);
        EXPECT_EQ(o.bHandle, c.bHandle) << (c.pszName ? c.pszName : "(null)");
        EXPECT_EQ(o.nError, c.nError) << (c.pszName ? c.pszName : "(null)");
    }
    HANDLE hLocal;
    ASSERT_TRUE(Create("mx-local", &hLocal).bHandle);
    EXPECT_EQ(Create("Local\\mx-local").nError, (DWORD)ERROR_ALREADY_EXISTS);
    CloseHandle(hLocal);
    std::string sLong = "Global\\" + std::string(MAX_PATH, 'x');
    EXPECT_FALSE(Create(sLong.c_str()).bHandle);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);
    // Ownership is not kept by this layer: asked for, the call says so rather than pretend.
    EXPECT_EQ(CreateMutexA(NULL, TRUE, "Global\\mx-owned"), (HANDLE)NULL);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_SUPPORTED);
    CloseHandle(h);
}

TEST(Mutex, OpenFindsOnlyAHeldObject)
{
    SetLastError(0);
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, "Global\\mx-open"), (HANDLE)NULL);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    HANDLE h;
    ASSERT_TRUE(Create("Global\\mx-open", &h).bHandle);
    HANDLE hOpen = OpenMutexA(SYNCHRONIZE, FALSE, "Global\\mx-open");
    EXPECT_NE(hOpen, (HANDLE)NULL);
    CloseHandle(h);
    // The opened handle holds the object as well as the created one did.
    EXPECT_EQ(Create("Global\\mx-open").nError, (DWORD)ERROR_ALREADY_EXISTS);
    CloseHandle(hOpen);
    // With its last handle the object is gone.
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, "Global\\mx-open"), (HANDLE)NULL);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, NULL), (HANDLE)NULL);
}

TEST(Mutex, AcrossProcesses)
{
    HANDLE h;
    std::string sReport;
    ASSERT_TRUE(Create("Global\\mx-across", &h).bHandle);
    PROCESS_INFORMATION pi = StartChild("Global\\mx-across", {}, &sReport);
    EXPECT_EQ(WaitReport(sReport), "handle=1 error=183\n");
    EndChild(&pi);
    pi = StartChild("Global\\mx-across", {"KAL_MUTEX_OPEN=1"}, &sReport);
    EXPECT_EQ(WaitReport(sReport), "handle=1 error=0\n");
    EndChild(&pi);
    CloseHandle(h);
    pi = StartChild("Global\\mx-across", {}, &sReport);
    EXPECT_EQ(WaitReport(sReport), "handle=1 error=0\n");
    EndChild(&pi);
    pi = StartChild("Global\\mx-across", {"KAL_MUTEX_OPEN=1"}, &sReport);
    EXPECT_EQ(WaitReport(sReport), "handle=0 error=2\n");
    EndChild(&pi);
}

// A holder ended by a signal, by TerminateProcess or by its own end lets go of the object.
TEST(Mutex, GoneWithAKilledHolder)
{
    for (int nHow = 0; nHow < 3; nHow++) {
        std::string sReport;
        PROCESS_INFORMATION pi = StartChild(
            "Global\\mx-killed", {nHow == 2 ? "KAL_MUTEX_HOLD_MS=300" : "KAL_MUTEX_HOLD_MS=60000"}, &sReport);
        EXPECT_EQ(WaitReport(sReport), "handle=1 error=0\n") << nHow;
        EXPECT_EQ(Create("Global\\mx-killed").nError, (DWORD)ERROR_ALREADY_EXISTS) << nHow;
        if (nHow == 0) {
            EXPECT_EQ(kill((pid_t)pi.dwProcessId, SIGKILL), 0);
        } else if (nHow == 1) {
            EXPECT_TRUE(TerminateProcess(pi.hProcess, 9));
        }
        EndChild(&pi);
        EXPECT_EQ(Create("Global\\mx-killed").nError, (DWORD)ERROR_SUCCESS) << nHow;
    }
}

// An inheritable handle goes to a child started with inherited handles, which holds the object after this
// process let go of it; without either, the child holds nothing of it.
TEST(Mutex, InheritedByAChild)
{
    struct Case {
        bool bInheritable, bInheritHandles, bKept;
    } aCases[] = {{true, true, true}, {true, false, false}, {false, true, false}};
    for (const Case &c : aCases) {
        SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, c.bInheritable};
        HANDLE h = CreateMutexA(&sa, FALSE, "Global\\mx-inherit");
        ASSERT_NE(h, (HANDLE)NULL);
        std::string sReport;
        // The child looks at another name, and holds on for a while.
        PROCESS_INFORMATION pi =
            StartChild("Global\\mx-other", {"KAL_MUTEX_HOLD_MS=1500"}, &sReport, c.bInheritHandles);
        EXPECT_EQ(WaitReport(sReport), "handle=1 error=0\n");
        CloseHandle(h);
        EXPECT_EQ(Create("Global\\mx-inherit").nError,
                  c.bKept ? (DWORD)ERROR_ALREADY_EXISTS : (DWORD)ERROR_SUCCESS)
            << c.bInheritable << c.bInheritHandles;
        EndChild(&pi);
        EXPECT_EQ(Create("Global\\mx-inherit").nError, (DWORD)ERROR_SUCCESS);
    }
}

// Processes that create one name at once: exactly one of them made it.
TEST(Mutex, OneCreatorAmongManyAtOnce)
{
    const int kChildren = 8;
    std::vector<PROCESS_INFORMATION> aPi;
    std::vector<std::string> aReports(kChildren);
    for (int i = 0; i < kChildren; i++)
        aPi.push_back(StartChild("Global\\mx-race", {"KAL_MUTEX_HOLD_MS=2000"}, &aReports[i]));
    int nNew = 0, nExisting = 0;
    for (int i = 0; i < kChildren; i++) {
        std::string s = WaitReport(aReports[i]);
        nNew += s == "handle=1 error=0\n";
        nExisting += s == "handle=1 error=183\n";
    }
    EXPECT_EQ(nNew, 1);
    EXPECT_EQ(nExisting, kChildren - 1);
    for (PROCESS_INFORMATION &pi : aPi)
        EndChild(&pi);
}
