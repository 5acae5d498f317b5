// fault.cpp - the fault switch for tests: PLAT_FAULT makes chosen platform calls fail on chosen paths with a
// chosen error, for failures a test cannot make real on this host (a file locked against reading, a disk
// error, an unreadable file when the tests run as root).
//
// PLAT_FAULT holds entries separated by ';' or new lines, each "CALL ERROR PATTERN": CALL is a platform
// call's name (CreateFileA, ReadFile, CopyFileA, ...) or "*" for every call that checks the switch; ERROR is
// the decimal error code the call fails with; PATTERN (the rest of the entry, blanks inside kept) is matched
// without case against the call's full Windows path, * standing for any run of characters (backslashes
// included) and ? for one. Calls on a handle match the path the handle was opened with.

#include "platint.h"

#include <stdlib.h>

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

static std::string Trim(const std::string &s)
{
    size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos)
        return std::string();
    size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

// Parses the switch; entries that do not have the three parts are ignored.
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
        aFaults.push_back(e);
    }
}

bool InjectedFault(const char *pszCall, const std::string &sWinPath, DWORD *pnError)
{
    const char *pszFault = getenv("PLAT_FAULT");
    if (pszFault == nullptr || *pszFault == '\0')
        return false;
    std::lock_guard<std::mutex> lock(mxFault);
    if (sFaultText != pszFault) { // read again whenever a test changes it
        sFaultText = pszFault;
        ParseFaults(sFaultText);
    }
    for (const FaultEntry &e : aFaults) {
        if ((e.sCall == "*" || e.sCall == pszCall) && MatchWildcards(e.sPattern, sWinPath, false)) {
            *pnError = e.nError;
            return true;
        }
    }
    return false;
}

} // namespace plat
