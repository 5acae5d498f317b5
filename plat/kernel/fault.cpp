// fault.cpp - the fault switch for tests: PLAT_FAULT makes chosen platform calls fail on chosen paths with a
// chosen error, for failures a test cannot make real on this host (a file locked against reading, a disk
// error, an unreadable file when the tests run as root); PLAT_FAULT_AT fails the N-th checked call,
// PLAT_FAULT_CUT ends the process at the N-th as a power cut would, PLAT_FAULT_TRACE records every
// checked call with its outcome, and PLAT_FAULT_SLOW makes chosen calls slow, as on a slow medium.
//
// PLAT_FAULT holds entries separated by ';' or new lines, each "CALL ERROR PATTERN": CALL is the name of a
// call that checks the switch (the list in plat/checkedcalls.h: CreateFileA, ReadFile, CopyFileA, ...) or
// "*" for every one of them; ERROR is the decimal error code the call fails with; PATTERN (the rest of the
// entry, blanks inside kept) is matched without case against the call's full Windows path, * standing for
// any run of characters (backslashes included) and ? for one. Calls on a handle match the path the handle
// was opened with. An entry that names no call of the list ends the process with a message and exit code 2,
// since a test that set it would otherwise run without its fault; entries without the three parts are
// passed over.
//
// PLAT_FAULT_SLOW holds entries separated by ';' or ',', each "CALL:MS": every check of that call (a name of
// the list, or "*") first waits MS milliseconds, whatever the path, and then goes on as without it; entries
// of another form are passed over. It changes no outcome and no count.
//
// Every check is one checked call, numbered from 1 in the process whether a switch is set or not. The
// variables are read on every check, so a test may change them between calls.

#include "kernel/kernel.h"

#include <plat/checkedcalls.h>

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <mutex>

namespace plat {

struct FaultEntry {
    std::string sCall;
    DWORD nError;
    std::string sPattern;
};

static std::mutex mxFault;
static std::string sFaultText;
static std::vector<FaultEntry> aFaults;
static std::string sSlowText;
static std::vector<std::pair<std::string, unsigned long>> aSlow; // call (or "*"), milliseconds
static unsigned long long nChecks; // checked calls so far
static std::string sTraceName;
static int fdTrace = -1;
static thread_local TracedCall *pInnermost; // the platform call running on this thread, if any

static std::string Trim(const std::string &s)
{
    size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos)
        return std::string();
    size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

// Whether a name is that of a call of the list (exactly as spelt).
static bool IsCheckedCall(const char *pszName)
{
    return FindCheckedCall(pszName) != nullptr;
}

// Parses the switch; entries that do not have the three parts are ignored. An entry naming a call that does
// not check the switch ends the process (exit code 2) with a message on stderr.
static void ParseFaults(const std::string &sText)
{
    aFaults.clear();
    size_t i = 0;
    while (i <= sText.size()) {
        size_t j = sText.find_first_of(";\n", i);
        if (j == std::string::npos)
            j = sText.size();
        std::string sEntry = Trim(sText.substr(i, j - i));
        i = j + 1;
        size_t a = sEntry.find_first_of(" \t");
        if (a == std::string::npos)
            continue;
        size_t b = sEntry.find_first_not_of(" \t", a);
        size_t c = b == std::string::npos ? std::string::npos : sEntry.find_first_of(" \t", b);
        if (c == std::string::npos)
            continue;
        FaultEntry e;
        e.sCall = sEntry.substr(0, a);
        std::string sError = sEntry.substr(b, c - b);
        char *pszEnd = nullptr;
        unsigned long n = strtoul(sError.c_str(), &pszEnd, 10);
        if (pszEnd == sError.c_str() || *pszEnd != '\0')
            continue;
        e.nError = (DWORD)n;
        e.sPattern = Utf8ToAnsi(Trim(sEntry.substr(c)));
        if (e.sCall != "*" && !IsCheckedCall(e.sCall.c_str())) {
            fprintf(stderr,
                    "plat: PLAT_FAULT names \"%s\", which is no call that checks the fault switch "
                    "(entry \"%s\"); the calls are listed in plat/include/plat/checkedcalls.h and "
                    "docs/checked-calls.md\n",
                    e.sCall.c_str(), sEntry.c_str());
            _exit(2);
        }
        aFaults.push_back(e);
    }
}

// The four variables as they are now, found in one pass over the environment (each check reads them).
struct FaultVariables {
    const char *pszFault = nullptr, *pszAt = nullptr, *pszCut = nullptr, *pszTrace = nullptr;
    const char *pszSlow = nullptr;
};

static FaultVariables ReadVariables()
{
    FaultVariables v;
    static const char szPrefix[] = "PLAT_FAULT";
    const size_t nPrefix = sizeof szPrefix - 1;
    for (char **pp = environ; pp != nullptr && *pp != nullptr; pp++) {
        const char *p = *pp;
        if (p[0] != 'P' || p[1] != 'L' || strncmp(p, szPrefix, nPrefix) != 0)
            continue;
        p += nPrefix; // the first of a name counts, as for getenv
        if (*p == '=' && v.pszFault == nullptr)
            v.pszFault = p + 1;
        else if (strncmp(p, "_AT=", 4) == 0 && v.pszAt == nullptr)
            v.pszAt = p + 4;
        else if (strncmp(p, "_CUT=", 5) == 0 && v.pszCut == nullptr)
            v.pszCut = p + 5;
        else if (strncmp(p, "_TRACE=", 7) == 0 && v.pszTrace == nullptr)
            v.pszTrace = p + 7;
        else if (strncmp(p, "_SLOW=", 6) == 0 && v.pszSlow == nullptr)
            v.pszSlow = p + 6;
    }
    return v;
}

// Reads the decimal numbers of a variable ("N" or "N ERROR"); false when it is not set or not that many.
static bool ReadNumbers(const char *psz, unsigned long long *pn, int nCount)
{
    if (psz == nullptr)
        return false;
    for (int i = 0; i < nCount; i++) {
        char *pszEnd = nullptr;
        while (*psz == ' ' || *psz == '\t')
            psz++;
        if (*psz < '0' || *psz > '9')
            return false;
        pn[i] = strtoull(psz, &pszEnd, 10);
        psz = pszEnd;
    }
    while (*psz == ' ' || *psz == '\t')
        psz++;
    return *psz == '\0';
}

// The trace file of PLAT_FAULT_TRACE, opened for appending when the variable names a new one; -1 when off.
static int TraceFile(const char *pszName)
{
    if (pszName == nullptr)
        pszName = "";
    if (sTraceName != pszName) {
        std::string sName = pszName;
        if (fdTrace >= 0)
            close(fdTrace);
        fdTrace = sName.empty() ? -1 : open(sName.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        sTraceName = sName;
    }
    return fdTrace;
}

// One line of the trace in one write, so that it is whole in the file even when the process is cut right
// after. Tabs and line ends in a path (a registry value's name may hold them) are written as blanks.
static void WriteTrace(int fd, unsigned long long n, const char *pszCall, const std::string &sUtf8Path,
                       const std::string &sResult)
{
    if (fd < 0)
        return;
    std::string sPath = sUtf8Path;
    for (char &c : sPath)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    std::string sLine = std::to_string(n) + "\t" + pszCall + "\t" + sPath + "\t" + sResult + "\n";
    ssize_t r = write(fd, sLine.data(), sLine.size());
    (void)r;
}

// Parses PLAT_FAULT_SLOW ("CALL:MS" entries); entries of another form are passed over.
static void ParseSlow(const std::string &sText)
{
    aSlow.clear();
    size_t i = 0;
    while (i <= sText.size()) {
        size_t j = sText.find_first_of(";,", i);
        if (j == std::string::npos)
            j = sText.size();
        std::string sEntry = Trim(sText.substr(i, j - i));
        i = j + 1;
        size_t c = sEntry.find(':');
        if (c == std::string::npos)
            continue;
        std::string sMs = Trim(sEntry.substr(c + 1));
        char *pszEnd = nullptr;
        unsigned long n = strtoul(sMs.c_str(), &pszEnd, 10);
        if (sMs.empty() || *pszEnd != '\0')
            continue;
        aSlow.push_back(std::make_pair(Trim(sEntry.substr(0, c)), n));
    }
}

bool InjectedFault(const char *pszCall, const std::function<std::string()> &path, DWORD *pnError)
{
    std::unique_lock<std::mutex> lock(mxFault);
    unsigned long nSlowMs = 0;
    unsigned long *pnSlowMs = &nSlowMs;
    if (!IsCheckedCall(pszCall)) { // a wrapper checks under a name the list does not have
        fprintf(stderr, "plat: %s checks the fault switch but is not in plat/include/plat/checkedcalls.h\n",
                pszCall);
        abort();
    }
    unsigned long long n = ++nChecks;
    FaultVariables v = ReadVariables();
    const char *pszFault = v.pszFault != nullptr ? v.pszFault : "";
    if (sFaultText != pszFault) { // read again whenever a test changes it
        sFaultText = pszFault;
        ParseFaults(sFaultText);
    }
    const char *pszSlow = v.pszSlow != nullptr ? v.pszSlow : "";
    if (sSlowText != pszSlow) {
        sSlowText = pszSlow;
        ParseSlow(sSlowText);
    }
    for (const auto &e : aSlow)
        if (e.first == "*" || e.first == pszCall)
            *pnSlowMs = e.second;
    int fd = TraceFile(v.pszTrace);
    std::string sPath;
    bool bPath = false;
    auto Path = [&]() -> const std::string & { // made once, and only when needed
        if (!bPath)
            sPath = path();
        bPath = true;
        return sPath;
    };
    unsigned long long a[2];
    if (ReadNumbers(v.pszCut, a, 1) && a[0] == n) {
        if (fd >= 0)
            WriteTrace(fd, n, pszCall, AnsiToUtf8(Path()), "cut");
        kill(getpid(), SIGKILL);
        _exit(137);
    }
    bool bFault = false;
    if (ReadNumbers(v.pszAt, a, 2) && a[0] == n) {
        *pnError = (DWORD)a[1];
        bFault = true;
    }
    for (size_t i = 0; i < aFaults.size() && !bFault; i++) {
        const FaultEntry &e = aFaults[i];
        if ((e.sCall == "*" || e.sCall == pszCall) && MatchWildcards(e.sPattern, Path(), false)) {
            *pnError = e.nError;
            bFault = true;
        }
    }
    if (fd >= 0) {
        TracedCall *pCall = pInnermost;
        if (bFault)
            WriteTrace(fd, n, pszCall, AnsiToUtf8(Path()), "injected " + std::to_string(*pnError));
        else if (pCall != nullptr && strcmp(pCall->pszCall, pszCall) == 0)
            pCall->aChecks.push_back(std::make_pair(n, AnsiToUtf8(Path()))); // written when the call ends
        else
            WriteTrace(fd, n, pszCall, AnsiToUtf8(Path()), "ok"); // a check outside a traced call
    }
    lock.unlock();
    if (nSlowMs != 0) { // outside the lock: other threads' checks go on meanwhile
        struct timespec ts = {(time_t)(nSlowMs / 1000), (long)(nSlowMs % 1000) * 1000000};
        while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
    }
    return bFault;
}

bool InjectedFault(const char *pszCall, const std::string &sWinPath, DWORD *pnError)
{
    return InjectedFault(
        pszCall, [&]() { return sWinPath; }, pnError);
}

unsigned long long CheckedCalls()
{
    std::lock_guard<std::mutex> lock(mxFault);
    return nChecks;
}

TracedCall::TracedCall(const char *pszCallName) : pszCall(pszCallName), pOuter(pInnermost)
{
    pInnermost = this;
}

TracedCall::~TracedCall()
{
    if (!bEnded)
        End(true, std::string());
    pInnermost = pOuter;
}

void TracedCall::End(bool bOk, const std::string &sError)
{
    bEnded = true;
    if (aChecks.empty())
        return;
    std::lock_guard<std::mutex> lock(mxFault);
    int fd = TraceFile(ReadVariables().pszTrace);
    for (const auto &check : aChecks)
        WriteTrace(fd, check.first, pszCall, check.second, bOk ? std::string("ok") : "error " + sError);
    aChecks.clear();
}

BOOL TracedCall::Bool(BOOL b)
{
    End(b != FALSE, std::to_string(GetLastError()));
    return b;
}

HANDLE TracedCall::Handle(HANDLE h)
{
    End(h != INVALID_HANDLE_VALUE, std::to_string(GetLastError()));
    return h;
}

LSTATUS TracedCall::Status(LSTATUS rc)
{
    End(rc == ERROR_SUCCESS, std::to_string(rc));
    return rc;
}

HRESULT TracedCall::Result(HRESULT hr)
{
    char sz[16];
    snprintf(sz, sizeof sz, "0x%08X", (unsigned)hr);
    End(SUCCEEDED(hr), sz);
    return hr;
}

INT TracedCall::LzResult(INT n)
{
    End(n >= 0, std::to_string(n));
    return n;
}

} // namespace plat
