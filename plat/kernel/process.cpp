// process.cpp - processes for the Linux build: starting a program of the machine (CreateProcessA) with the
// platform's command-line rules, handles to our own children and to any other process (OpenProcess),
// waiting for a process's end, exit codes, and ending a process.
//
// A child stays a zombie while a handle to it is open, as the platform's process object outlives its
// process: its pid is not given to another process meanwhile, and its exit status is read without reaping
// it (waitid with WNOWAIT). It is reaped when its last handle closes; a child whose handles all closed while
// it ran is reaped by a later process call. Any other process is watched through a process descriptor
// (pidfd_open) where the host has them, else by polling /proc/PID/stat; its exit code is read from /proc
// while it is a zombie, which is the only time the host shows it to anyone but the parent.
//
// The parts of this file, in order:
//   host processes  /proc, exit codes from signals and wait statuses, process descriptors
//   records         one record per process shared by its handles; waiting; reaping our children
//   handles         process and thread handles (KernelObject)
//   starting        finding the program (by name, extension and search path), the child's standard
//                   streams, CreateProcessA
//   Win32           OpenProcess, WaitForSingleObject, GetExitCodeProcess, TerminateProcess, the traced
//                   calls, GetCurrentProcessId, Sleep
// Command lines are split and joined by cmdline.cpp.

#include "kernel/kernel.h"
#include "shell/shell.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

extern char **environ;

namespace plat
{

// Processes.

// What the host shows of a process in /proc/PID/stat.
struct ProcStat {
    char cState = '?';
    unsigned long long nStart = 0; // clock ticks after boot: tells a pid given to a new process
    int nWaitStatus = 0;           // a zombie's exit status, as waitpid gives it (0 when not shown)
};

// Reads /proc/PID/NAME (its first nSize - 1 bytes) into a string ended by a null; false when it cannot.
static bool ReadProcFile(pid_t pid, const char *pszName, char *psz, size_t nSize)
{
    std::string sPath = "/proc/" + std::to_string(pid) + "/" + pszName;
    int fd = open(sPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ssize_t n = read(fd, psz, nSize - 1);
    close(fd);
    if (n <= 0)
        return false;
    psz[n] = '\0';
    return true;
}

static bool ReadProcStat(pid_t pid, ProcStat *pStat)
{
    char sz[2048];
    if (!ReadProcFile(pid, "stat", sz, sizeof sz))
        return false;
    // The fields after the program's name, which may hold blanks and parentheses: state is the 3rd field,
    // the start time the 22nd, the exit code the 52nd.
    char *p = strrchr(sz, ')');
    if (p == nullptr || p[1] != ' ')
        return false;
    p += 2;
    std::vector<char *> aFields;
    for (char *pszSave = nullptr, *psz = strtok_r(p, " \n", &pszSave); psz != nullptr;
         psz = strtok_r(nullptr, " \n", &pszSave))
        aFields.push_back(psz);
    if (aFields.size() < 20)
        return false;
    pStat->cState = aFields[0][0];
    pStat->nStart = strtoull(aFields[19], nullptr, 10);
    pStat->nWaitStatus = aFields.size() >= 50 ? atoi(aFields[49]) : 0;
    return true;
}

// Whether pid is a process (not one of a process's other threads), living or a zombie.
static bool IsProcess(pid_t pid)
{
    char sz[4096];
    if (!ReadProcFile(pid, "status", sz, sizeof sz))
        return false;
    const char *p = strstr(sz, "\nTgid:");
    return p != nullptr && strtol(p + 6, nullptr, 10) == pid;
}

// The platform's exit code of a process ended by a signal: the exception code the platform gives a crash,
// 3 for an abort (as the C runtime's abort()), and 128 + the signal for the others (as a shell reports them).
static DWORD ExitCodeFromSignal(int nSignal)
{
    switch (nSignal) {
    case SIGSEGV:
    case SIGBUS:
        return 0xC0000005; // STATUS_ACCESS_VIOLATION
    case SIGILL:
        return 0xC000001D; // STATUS_ILLEGAL_INSTRUCTION
    case SIGFPE:
        return 0xC0000094; // STATUS_INTEGER_DIVIDE_BY_ZERO
    case SIGABRT:
        return 3;
    default:
        return 128 + (DWORD)nSignal;
    }
}

// The same from a host wait status: the exit code of a process that exited.
static DWORD ExitCodeFromStatus(int nStatus)
{
    if (WIFEXITED(nStatus))
        return (DWORD)WEXITSTATUS(nStatus);
    return WIFSIGNALED(nStatus) ? ExitCodeFromSignal(WTERMSIG(nStatus)) : 0;
}

static int OpenPidFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    return (int)syscall(SYS_pidfd_open, pid, 0); // close-on-exec
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

static bool bWaitByPolling; // ProcessWaitByPolling

void ProcessWaitByPolling(bool bPolling)
{
    bWaitByPolling = bPolling;
}

// One process, shared by every handle to it (the handles of CreateProcessA and OpenProcess).
struct ProcessRecord {
    pid_t pid = 0;
    bool bChild = false;           // started by this process: reaped here
    int fdPid = -1;                // the process descriptor; -1 to poll
    unsigned long long nStart = 0; // the start time in /proc (other processes), to tell a pid used again
    std::string sWin;              // the program's Windows path, for the fault switch
    // Known under mxProcesses:
    bool bEnded = false;
    DWORD nExitCode = STILL_ACTIVE;
    bool bTerminated = false; // ended by TerminateProcess, with this code
    DWORD nTerminateCode = 0;
    ~ProcessRecord();
};

static std::mutex mxProcesses;
static std::map<pid_t, std::weak_ptr<ProcessRecord>> mapChildren; // our children with handles
static std::vector<pid_t> aOrphans; // our children without handles, still to be reaped

// Reaps the children whose handles are all closed, as far as they have ended. Called under mxProcesses.
static void ReapOrphans()
{
    std::vector<pid_t> aLeft;
    for (pid_t pid : aOrphans) {
        int nStatus;
        pid_t r = waitpid(pid, &nStatus, WNOHANG);
        if (r == 0)
            aLeft.push_back(pid);
    }
    aOrphans.swap(aLeft);
}

ProcessRecord::~ProcessRecord()
{
    if (fdPid >= 0)
        close(fdPid);
    if (!bChild)
        return;
    std::lock_guard<std::mutex> lock(mxProcesses);
    auto it = mapChildren.find(pid);
    if (it != mapChildren.end() && it->second.expired())
        mapChildren.erase(it);
    aOrphans.push_back(pid);
    ReapOrphans();
}

static void SetEnded(ProcessRecord *p, DWORD nCode)
{
    p->bEnded = true;
    p->nExitCode = p->bTerminated ? p->nTerminateCode : nCode;
}

// Whether the process has ended; its exit code is known then.
static bool CheckEnded(ProcessRecord *p)
{
    std::lock_guard<std::mutex> lock(mxProcesses);
    if (p->bEnded)
        return true;
    if (p->bChild) {
        siginfo_t info;
        memset(&info, 0, sizeof info);
        int r = waitid(P_PID, (id_t)p->pid, &info, WEXITED | WNOHANG | WNOWAIT);
        if (r == 0 && info.si_pid == 0)
            return false;
        if (r != 0) {
            SetEnded(p, 0); // reaped by someone else (ECHILD): its exit code is lost
        } else if (info.si_code == CLD_EXITED) {
            SetEnded(p, (DWORD)info.si_status);
        } else if (info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED) {
            SetEnded(p, ExitCodeFromSignal(info.si_status));
        } else {
            return false; // stopped or continued: still there
        }
        return true;
    }
    if (p->fdPid >= 0) {
        struct pollfd pfd = {p->fdPid, POLLIN, 0};
        if (poll(&pfd, 1, 0) == 0)
            return false;
    }
    ProcStat st;
    bool bSame = ReadProcStat(p->pid, &st) && st.nStart == p->nStart;
    bool bZombie = bSame && (st.cState == 'Z' || st.cState == 'X');
    if (bSame && !bZombie && p->fdPid < 0)
        return false;
    SetEnded(p, bZombie ? ExitCodeFromStatus(st.nWaitStatus) : 0);
    return true;
}

static long long NowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Waits up to dwMilliseconds (or INFINITE) for the process's end: WAIT_OBJECT_0 or WAIT_TIMEOUT.
static DWORD WaitForEnd(ProcessRecord *p, DWORD dwMilliseconds)
{
    long long nEnd = dwMilliseconds == INFINITE ? -1 : NowMs() + dwMilliseconds;
    int nStep = 1;
    for (;;) {
        if (CheckEnded(p))
            return WAIT_OBJECT_0;
        long long nLeft = nEnd < 0 ? -1 : nEnd - NowMs();
        if (nEnd >= 0 && nLeft <= 0)
            return WAIT_TIMEOUT;
        if (p->fdPid >= 0) {
            struct pollfd pfd = {p->fdPid, POLLIN, 0};
            poll(&pfd, 1, nLeft < 0 ? -1 : (int)std::min(nLeft, (long long)INT_MAX)); // EINTR: look again
        } else {
            long long nSleep = nLeft < 0 ? nStep : std::min((long long)nStep, nLeft);
            struct timespec ts = {(time_t)(nSleep / 1000), (long)(nSleep % 1000) * 1000000};
            nanosleep(&ts, nullptr);
            nStep = std::min(nStep * 2, 10);
        }
    }
}

// A handle to a process, or to its first thread (the dummy thread handle of CreateProcessA, which waits
// for the process).
struct ProcessObject : KernelObject {
    std::shared_ptr<ProcessRecord> pRecord;
    DWORD dwAccess = 0;
    bool bThread = false;

    bool CloseFault(DWORD *pnError) const override
    {
        return InjectedFault("CloseHandle", pRecord->sWin, pnError);
    }
    std::string WindowsPath() const override
    {
        return pRecord->sWin;
    }
};

// The process object of a handle; with bThreadToo a thread handle too. Null with ERROR_INVALID_HANDLE.
static ProcessObject *ProcessFromHandle(HANDLE h, bool bThreadToo)
{
    KernelObject *p = LookupHandle(h);
    if (p == nullptr)
        return nullptr;
    ProcessObject *pProcess = dynamic_cast<ProcessObject *>(p);
    if (pProcess == nullptr || (pProcess->bThread && !bThreadToo)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return pProcess;
}

template <typename T> static T Fail(DWORD nError, T result)
{
    SetLastError(nError);
    return result;
}

// Starting programs.

// Whether a host file looks like a program of the host (an ELF image or a script), which the host only
// refused to run (a missing permission); anything else is no program at all.
static bool LooksLikeProgram(const std::string &sHost)
{
    int fd = open(sHost.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true; // unreadable: a matter of permission
    char ab[4] = {};
    ssize_t n = read(fd, ab, sizeof ab);
    close(fd);
    return (n >= 4 && memcmp(ab,
                             "\x7f"
                             "ELF",
                             4) == 0) ||
           (n >= 2 && ab[0] == '#' && ab[1] == '!');
}

// The platform's error for a program the host would not start.
static DWORD SpawnError(int nErrno, const std::string &sHost)
{
    switch (nErrno) {
    case ENOEXEC:
        return ERROR_BAD_EXE_FORMAT;
    case EACCES:
        return LooksLikeProgram(sHost) ? ERROR_ACCESS_DENIED : ERROR_BAD_EXE_FORMAT;
    case ENOMEM:
    case EAGAIN:
        return ERROR_NOT_ENOUGH_MEMORY;
    case E2BIG:
        return ERROR_FILENAME_EXCED_RANGE;
    default:
        return ErrorFromErrno(nErrno);
    }
}

// Whether a Windows path names an existing file (not a folder): its host path then. *pnError is the
// platform's error otherwise (5 for a folder).
static bool FindFile(const std::string &sPath, std::string *psWin, std::string *psHost, DWORD *pnError)
{
    ResolvedPath path;
    struct stat st;
    if (!ResolvePath(sPath.c_str(), &path, pnError))
        return false;
    if (!path.bFound || stat(path.sHost.c_str(), &st) != 0) {
        *pnError = path.bTrailingSep ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        *pnError = ERROR_ACCESS_DENIED;
        return false;
    }
    *psWin = path.sWin;
    *psHost = path.sHost;
    return true;
}

// The folders a program named without a folder is looked for in, in the platform's order: the running
// program's folder, the current directory, the system folders, then the folders of PATH (the host's, on
// drive Z:).
static std::vector<std::string> SearchFolders()
{
    std::vector<std::string> aDirs;
    std::string sExe = ExecutableHostPath();
    size_t nSlash = sExe.rfind('/');
    if (nSlash != std::string::npos)
        aDirs.push_back(WindowsPathFromHost(nSlash == 0 ? std::string("/") : sExe.substr(0, nSlash)));
    aDirs.push_back(CurrentDirectory());
    aDirs.push_back("C:\\windows\\system32");
    aDirs.push_back("C:\\windows");
    const char *pszPath = getenv("PATH");
    std::string sPath = pszPath != nullptr ? pszPath : "";
    for (size_t i = 0; i <= sPath.size();) {
        size_t j = sPath.find(':', i);
        if (j == std::string::npos)
            j = sPath.size();
        std::string sDir = sPath.substr(i, j - i);
        if (!sDir.empty() && sDir[0] == '/')
            aDirs.push_back(WindowsPathFromHost(sDir));
        i = j + 1;
    }
    return aDirs;
}

// The program a name stands for: a name without an extension is tried with ".exe" first, as the platform
// appends it, then as it is (the host's programs have no extension); a name without a folder is looked for
// in SearchFolders. *pnError: 3 for a missing folder on the way, 5 when only a folder has the name, else 2.
static bool FindProgramByName(const std::string &sName, std::string *psWin, std::string *psHost,
                              DWORD *pnError)
{
    size_t nLast = sName.find_last_of("\\/:");
    std::string sLast = nLast == std::string::npos ? sName : sName.substr(nLast + 1);
    std::vector<std::string> aNames;
    if (sLast.find('.') == std::string::npos)
        aNames.push_back(sName + ".exe");
    aNames.push_back(sName);
    std::vector<std::string> aPaths;
    if (nLast == std::string::npos) {
        for (const std::string &sDir : SearchFolders())
            for (const std::string &s : aNames)
                aPaths.push_back(sDir + (sDir.back() == '\\' ? "" : "\\") + s);
    } else {
        aPaths = aNames;
    }
    *pnError = ERROR_FILE_NOT_FOUND;
    for (size_t i = 0; i < aPaths.size(); i++) {
        DWORD nError;
        if (FindFile(aPaths[i], psWin, psHost, &nError))
            return true;
        if (nError == ERROR_ACCESS_DENIED || (i == 0 && nLast != std::string::npos))
            *pnError = nError;
    }
    return false;
}

// The program of CreateProcessA: lpApplicationName as given (no extension added, no search), or the first
// name of the command line: up to the closing quote when quoted, else up to a blank, where each longer
// reading up to a later blank is tried in turn ("C:\Program Files\a b" is C:\Program, then
// C:\Program Files\a, then the whole) as the platform does. When none is found, *pnError is the first
// reading's error and *psTried its full form.
static bool FindProgram(LPCSTR lpApplicationName, const std::string &sLine, std::string *psWin,
                        std::string *psHost, DWORD *pnError, std::string *psTried)
{
    std::vector<std::string> aReadings;
    if (lpApplicationName != NULL) {
        if (!FullPathName(lpApplicationName, psTried))
            *psTried = lpApplicationName;
        return FindFile(lpApplicationName, psWin, psHost, pnError);
    }
    size_t i = sLine.find_first_not_of(" \t");
    if (i != std::string::npos && sLine[i] == '"') {
        size_t j = sLine.find('"', i + 1);
        aReadings.push_back(sLine.substr(i + 1, j == std::string::npos ? std::string::npos : j - i - 1));
    } else if (i != std::string::npos) {
        for (size_t j = sLine.find_first_of(" \t", i); j != std::string::npos;
             j = sLine.find_first_of(" \t", j + 1))
            aReadings.push_back(sLine.substr(i, j - i));
        aReadings.push_back(sLine.substr(i));
    }
    *pnError = ERROR_PATH_NOT_FOUND; // no name at all
    for (size_t k = 0; k < aReadings.size(); k++) {
        DWORD nError = ERROR_PATH_NOT_FOUND;
        if (!aReadings[k].empty() && FindProgramByName(aReadings[k], psWin, psHost, &nError))
            return true;
        if (k == 0) {
            *pnError = nError;
            if (!FullPathName(aReadings[k], psTried))
                *psTried = aReadings[k];
        }
    }
    return false;
}

// A standard stream for the child: a duplicate (above the standard three) of the handle's host descriptor,
// or of /dev/null for a handle without one. -1 when none can be had.
static int ChildStream(HANDLE h)
{
    KernelObject *p = h != NULL && h != INVALID_HANDLE_VALUE ? LookupHandle(h) : nullptr;
    int fd = p != nullptr ? p->HostFd() : -1;
    if (fd >= 0)
        return fcntl(fd, F_DUPFD_CLOEXEC, 3);
    return open("/dev/null", O_RDWR | O_CLOEXEC);
}

static BOOL CreateProcessAImpl(LPCSTR lpApplicationName, LPSTR lpCommandLine, BOOL bInheritHandles,
                               DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                               LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation)
{
    FlushNotifications(); // what this process announced comes before anything the new one does
    if (lpStartupInfo == NULL || lpProcessInformation == NULL ||
        (lpApplicationName == NULL && lpCommandLine == NULL) ||
        (dwCreationFlags & (CREATE_NEW_CONSOLE | DETACHED_PROCESS)) ==
            (CREATE_NEW_CONSOLE | DETACHED_PROCESS))
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    // What the host cannot do as the platform does: a process stopped at its start, a debugger's child, an
    // environment of the caller's (the machine's own variables would have to be merged into it).
    if ((dwCreationFlags & (CREATE_SUSPENDED | DEBUG_PROCESS | DEBUG_ONLY_THIS_PROCESS)) ||
        lpEnvironment != NULL)
        return Fail(ERROR_NOT_SUPPORTED, FALSE);
    std::string sLine = lpCommandLine != NULL ? lpCommandLine : lpApplicationName;
    if (sLine.size() > 32767)
        return Fail(ERROR_FILENAME_EXCED_RANGE, FALSE);

    std::string sWin, sHost, sTried;
    DWORD nError = ERROR_SUCCESS;
    bool bFound = FindProgram(lpApplicationName, sLine, &sWin, &sHost, &nError, &sTried);
    DWORD nInjected;
    if (InjectedFault("CreateProcessA", bFound ? sWin : sTried, &nInjected))
        return Fail(nInjected, FALSE);
    if (!bFound)
        return Fail(nError, FALSE);

    // The child's current directory: the one given, else this process's (which the host's need not be).
    ResolvedPath dir;
    struct stat st;
    std::string sDirHost;
    if (lpCurrentDirectory != NULL) {
        if (!ResolvePath(lpCurrentDirectory, &dir, &nError) || !dir.bFound ||
            stat(dir.sHost.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return Fail(ERROR_DIRECTORY, FALSE);
        sDirHost = dir.sHost;
    } else if (ResolvePath(CurrentDirectory().c_str(), &dir, &nError) && dir.bFound) {
        sDirHost = dir.sHost;
    }

    // The arguments by the platform's rules, so that the child's command line splits as this one does; the
    // line itself goes along in PLAT_COMMAND_LINE, for GetCommandLineA to give it back as it was.
    std::vector<std::string> aArgs;
    for (const std::string &s : SplitCommandLine(sLine))
        aArgs.push_back(AnsiToUtf8(s));
    std::vector<char *> apArgv;
    for (std::string &s : aArgs)
        apArgv.push_back(&s[0]);
    apArgv.push_back(nullptr);
    // The environment, with the machine named by its absolute path: the child may work elsewhere.
    std::vector<std::string> aEnv;
    for (char **pp = environ; *pp != nullptr; pp++)
        if (strncmp(*pp, "PLAT_ROOT=", 10) != 0 && strncmp(*pp, "PLAT_COMMAND_LINE=", 18) != 0)
            aEnv.push_back(*pp);
    aEnv.push_back("PLAT_ROOT=" + MachineRoot());
    aEnv.push_back("PLAT_COMMAND_LINE=" + AnsiToUtf8(sLine));
    std::vector<char *> apEnv;
    for (std::string &s : aEnv)
        apEnv.push_back(&s[0]);
    apEnv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    // The standard streams: this process's, or those STARTUPINFO names when the handles are inherited
    // (without inheritance the child could not use them: it gets none that work, /dev/null).
    int afdStreams[3] = {-1, -1, -1};
    if (lpStartupInfo->dwFlags & STARTF_USESTDHANDLES) {
        HANDLE ah[3] = {lpStartupInfo->hStdInput, lpStartupInfo->hStdOutput, lpStartupInfo->hStdError};
        for (int i = 0; i < 3; i++) {
            afdStreams[i] = ChildStream(bInheritHandles ? ah[i] : NULL);
            if (afdStreams[i] >= 0)
                posix_spawn_file_actions_adddup2(&actions, afdStreams[i], i);
        }
    }
    // Nothing else of this process's but the descriptors of the handles made inheritable (named mutexes),
    // when handles are inherited: each from a duplicate far above the low numbers to 3, 4, ..., so that the
    // object lives while the child does. The child's handle table does not show them.
    std::vector<int> afdInherited;
    if (bInheritHandles)
        for (int fd : InheritedFds()) {
            int fdCopy = fcntl(fd, F_DUPFD_CLOEXEC, 256);
            if (fdCopy >= 0)
                afdInherited.push_back(fdCopy);
        }
    for (size_t i = 0; i < afdInherited.size(); i++)
        posix_spawn_file_actions_adddup2(&actions, afdInherited[i], 3 + (int)i);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3 + (int)afdInherited.size());
    if (!sDirHost.empty())
        posix_spawn_file_actions_addchdir_np(&actions, sDirHost.c_str());
    sigset_t setEmpty, setAll;
    sigemptyset(&setEmpty);
    sigfillset(&setAll);
    posix_spawnattr_setsigmask(&attr, &setEmpty);
    posix_spawnattr_setsigdefault(&attr, &setAll);
    short nFlags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (dwCreationFlags & CREATE_NEW_PROCESS_GROUP) {
        nFlags |= POSIX_SPAWN_SETPGROUP;
        posix_spawnattr_setpgroup(&attr, 0);
    }
    posix_spawnattr_setflags(&attr, nFlags);

    pid_t pid = 0;
    int nSpawn = posix_spawn(&pid, sHost.c_str(), &actions, &attr, apArgv.data(), apEnv.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    for (int fd : afdStreams)
        if (fd >= 0)
            close(fd);
    for (int fd : afdInherited)
        close(fd);
    if (nSpawn != 0)
        return Fail(SpawnError(nSpawn, sHost), FALSE);

    auto pRecord = std::make_shared<ProcessRecord>();
    pRecord->pid = pid;
    pRecord->bChild = true;
    pRecord->sWin = sWin;
    pRecord->fdPid = bWaitByPolling ? -1 : OpenPidFd(pid);
    {
        std::lock_guard<std::mutex> lock(mxProcesses);
        mapChildren[pid] = pRecord;
        ReapOrphans();
    }
    ProcessObject *pProcess = new ProcessObject;
    pProcess->pRecord = pRecord;
    pProcess->dwAccess = PROCESS_ALL_ACCESS;
    ProcessObject *pThread = new ProcessObject;
    pThread->pRecord = pRecord;
    pThread->dwAccess = 0x001FFFFF; // THREAD_ALL_ACCESS
    pThread->bThread = true;
    lpProcessInformation->hProcess = RegisterHandle(pProcess);
    lpProcessInformation->hThread = RegisterHandle(pThread);
    lpProcessInformation->dwProcessId = (DWORD)pid;
    lpProcessInformation->dwThreadId = (DWORD)pid; // the first thread's id is the pid on the host
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// The Windows path of a process's program, for the fault switch; empty when the host does not show it.
static std::string ProgramOf(pid_t pid)
{
    char sz[4096];
    std::string sLink = "/proc/" + std::to_string(pid) + "/exe";
    ssize_t n = readlink(sLink.c_str(), sz, sizeof sz - 1);
    if (n <= 0)
        return std::string();
    sz[n] = '\0';
    return WindowsPathFromHost(sz);
}

static HANDLE OpenProcessImpl(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId)
{
    (void)bInheritHandle; // no handle is passed on to children (see CreateProcessA)
    pid_t pid = (pid_t)dwProcessId;
    DWORD nError;
    if (InjectedFault("OpenProcess",
                      dwProcessId == 0 || dwProcessId > INT_MAX ? std::string() : ProgramOf(pid), &nError))
        return Fail(nError, (HANDLE)NULL);
    if (dwProcessId == 0 || dwProcessId > INT_MAX)
        return Fail(ERROR_INVALID_PARAMETER, (HANDLE)NULL);
    std::shared_ptr<ProcessRecord> pRecord;
    {
        std::lock_guard<std::mutex> lock(mxProcesses);
        auto it = mapChildren.find(pid);
        if (it != mapChildren.end())
            pRecord = it->second.lock();
        // A child of ours whose handles were all closed is still ours to reap, and its status to read.
        auto itOrphan = std::find(aOrphans.begin(), aOrphans.end(), pid);
        if (pRecord == nullptr && itOrphan != aOrphans.end()) {
            aOrphans.erase(itOrphan);
            pRecord = std::make_shared<ProcessRecord>();
            pRecord->pid = pid;
            pRecord->bChild = true;
            pRecord->sWin = ProgramOf(pid);
            pRecord->fdPid = bWaitByPolling ? -1 : OpenPidFd(pid);
            mapChildren[pid] = pRecord;
        }
    }
    if (pRecord == nullptr) {
        ProcStat st;
        if (!IsProcess(pid) || !ReadProcStat(pid, &st))
            return Fail(ERROR_INVALID_PARAMETER, (HANDLE)NULL);
        pRecord = std::make_shared<ProcessRecord>();
        pRecord->pid = pid;
        pRecord->nStart = st.nStart;
        pRecord->sWin = ProgramOf(pid);
        if (!bWaitByPolling) {
            pRecord->fdPid = OpenPidFd(pid);
            if (pRecord->fdPid < 0 && (errno == ESRCH || errno == EINVAL)) // gone meanwhile, or a thread
                return Fail(ERROR_INVALID_PARAMETER, (HANDLE)NULL);
        }
    }
    ProcessObject *pProcess = new ProcessObject;
    pProcess->pRecord = pRecord;
    pProcess->dwAccess = dwDesiredAccess;
    SetLastError(ERROR_SUCCESS);
    return RegisterHandle(pProcess);
}

static DWORD WaitForSingleObjectImpl(HANDLE hHandle, DWORD dwMilliseconds)
{
    FlushNotifications(); // before the wait, which may be long
    ProcessObject *pProcess = ProcessFromHandle(hHandle, true);
    DWORD nError;
    if (pProcess == nullptr)
        return WAIT_FAILED;
    std::shared_ptr<ProcessRecord> pRecord = pProcess->pRecord;
    if (InjectedFault("WaitForSingleObject", pRecord->sWin, &nError))
        return Fail(nError, WAIT_FAILED);
    if (!(pProcess->dwAccess & SYNCHRONIZE))
        return Fail(ERROR_ACCESS_DENIED, WAIT_FAILED);
    return WaitForEnd(pRecord.get(), dwMilliseconds);
}

static BOOL GetExitCodeProcessImpl(HANDLE hProcess, LPDWORD lpExitCode)
{
    ProcessObject *pProcess = ProcessFromHandle(hProcess, false);
    DWORD nError;
    if (pProcess == nullptr)
        return FALSE;
    ProcessRecord *p = pProcess->pRecord.get();
    if (InjectedFault("GetExitCodeProcess", p->sWin, &nError))
        return Fail(nError, FALSE);
    if (!(pProcess->dwAccess & (PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION)))
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (lpExitCode == NULL)
        return Fail(ERROR_NOACCESS, FALSE);
    bool bEnded = CheckEnded(p);
    std::lock_guard<std::mutex> lock(mxProcesses);
    *lpExitCode = bEnded ? p->nExitCode : STILL_ACTIVE;
    return TRUE;
}

// Ends a process at once (SIGKILL); its exit code is the one given. A process that has ended already
// cannot be ended (5), as on the platform.
static BOOL TerminateProcessImpl(HANDLE hProcess, UINT uExitCode)
{
    ProcessObject *pProcess = ProcessFromHandle(hProcess, false);
    DWORD nError;
    if (pProcess == nullptr)
        return FALSE;
    ProcessRecord *p = pProcess->pRecord.get();
    if (InjectedFault("TerminateProcess", p->sWin, &nError))
        return Fail(nError, FALSE);
    if (!(pProcess->dwAccess & PROCESS_TERMINATE) || CheckEnded(p))
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    {
        std::lock_guard<std::mutex> lock(mxProcesses);
        p->bTerminated = true;
        p->nTerminateCode = uExitCode;
    }
    // Through the process descriptor where there is one: it names this process whatever became of the pid.
    int r;
#ifdef SYS_pidfd_send_signal
    if (p->fdPid >= 0)
        r = (int)syscall(SYS_pidfd_send_signal, p->fdPid, SIGKILL, nullptr, 0);
    else
#endif
        r = kill(p->pid, SIGKILL);
    if (r != 0) {
        int nErrno = errno;
        std::lock_guard<std::mutex> lock(mxProcesses);
        p->bTerminated = false;
        return Fail(nErrno == ESRCH ? (DWORD)ERROR_ACCESS_DENIED : ErrorFromErrno(nErrno), FALSE);
    }
    return TRUE;
}

} // namespace plat

using namespace plat;

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                           LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                           DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                           LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation)
{
    TracedCall call("CreateProcessA");
    (void)lpProcessAttributes;
    (void)lpThreadAttributes;
    return call.Bool(CreateProcessAImpl(lpApplicationName, lpCommandLine, bInheritHandles, dwCreationFlags,
                                        lpEnvironment, lpCurrentDirectory, lpStartupInfo,
                                        lpProcessInformation));
}

HANDLE WINAPI OpenProcess(DWORD dwDesiredAccess, BOOL bInheritHandle, DWORD dwProcessId)
{
    TracedCall call("OpenProcess");
    HANDLE h = OpenProcessImpl(dwDesiredAccess, bInheritHandle, dwProcessId);
    return call.Value(h, h != NULL);
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    TracedCall call("WaitForSingleObject");
    DWORD n = WaitForSingleObjectImpl(hHandle, dwMilliseconds);
    return call.Value(n, n != WAIT_FAILED);
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode)
{
    TracedCall call("GetExitCodeProcess");
    return call.Bool(GetExitCodeProcessImpl(hProcess, lpExitCode));
}

BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode)
{
    TracedCall call("TerminateProcess");
    return call.Bool(TerminateProcessImpl(hProcess, uExitCode));
}

DWORD WINAPI GetCurrentProcessId(void)
{
    return (DWORD)getpid();
}

DWORD WINAPI GetTickCount(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (DWORD)((unsigned long long)ts.tv_sec * 1000 + (unsigned long long)ts.tv_nsec / 1000000);
}

void WINAPI Sleep(DWORD dwMilliseconds)
{
    if (dwMilliseconds == INFINITE) {
        for (;;)
            pause();
    }
    struct timespec ts = {(time_t)(dwMilliseconds / 1000), (long)(dwMilliseconds % 1000) * 1000000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}
