// fuzz_paths.cpp - the path operations over arbitrary strings and capacities: nothing is written past the
// output buffer (each output is a heap block of exactly nSize bytes), an output that is cut short is the
// start of the whole result, and the folder and name parts of a path split it at one place.

#include "charstr.h"
#include "fuzzkit.h"
#include "utils.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // A machine of its own: full paths are taken against the machine's current folder.
    FuzzMachine();
    return 0;
}

static void Check(bool b)
{
    if (!b)
        abort();
}

// The result of one operation into a buffer of exactly nSize bytes.
struct Output {
    int nResult;
    std::string s;
};

template <typename F> static Output Run(int nSize, F f)
{
    char *p = (char *)malloc(nSize > 0 ? (size_t)nSize : 1);
    if (nSize > 0)
        memset(p, 'X', (size_t)nSize);
    Output out;
    out.nResult = f(nSize == 0 ? p + 1 : p, nSize); // with no room, a pointer at the block's end
    if (nSize > 0) {
        Check(memchr(p, '\0', (size_t)nSize) != NULL); // terminated inside the buffer
        out.s = p;
    } else {
        Check(out.nResult == 0);
    }
    free(p);
    return out;
}

// The path as the operations prepare it: trimmed, without one trailing separator unless a root's.
static bool Prepared(const std::string &sPath, std::string *psOut)
{
    char sz[UTL_PATH_SIZE];
    if (!StrCopy(sz, sPath.c_str(), sizeof sz))
        return false;
    StrTrim(sz, 0);
    size_t n = strlen(sz);
    char *p = strrchr(sz, '\\');
    if (p != NULL && p == sz + n - 1 && p != sz && p[-1] != ':')
        *p = '\0';
    *psOut = sz;
    return true;
}

// An output into nSize bytes against the whole result: a success is the whole result; for the folder and
// name parts (bExact) a result cut short is its start, and 1 exactly when it fits. (Joining copies the
// folder before it looks at the name, so a name that replaces the folder may fail for want of the
// folder's room: there only the first rule holds.)
static void CheckCut(const Output &whole, const Output &cut, int nSize, bool bExact)
{
    if (cut.nResult == 1)
        Check(whole.nResult == 1 && cut.s == whole.s);
    if (!bExact)
        return;
    Check(whole.s.compare(0, cut.s.size(), cut.s) == 0);
    if (whole.nResult == 1 && nSize > 0) {
        bool bFits = (int)whole.s.size() < nSize;
        Check(cut.nResult == (bFits ? 1 : 0));
        Check(cut.s.size() == (bFits ? whole.s.size() : (size_t)nSize - 1));
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nData)
{
    if (nData < 2)
        return 0;
    int nSize = (int)((pData[0] | (pData[1] & 1) << 8) % 301);
    std::string sInput((const char *)pData + 2, nData - 2);
    size_t nZero = sInput.find('\0');
    std::string sA = sInput.substr(0, nZero);
    std::string sB = nZero == std::string::npos ? std::string() : sInput.substr(nZero + 1);
    sB = sB.substr(0, sB.find('\0'));
    const char *a = sA.c_str();
    const char *b = sB.c_str();
    const int nFull = 301; // room for every result of the capacities tried

    Output dir = Run(nFull, [&](char *p, int n) { return UtlGetDir(p, a, n); });
    Output name = Run(nFull, [&](char *p, int n) { return UtlGetName(p, a, n); });
    Output join = Run(nFull, [&](char *p, int n) { return UtlJoinPath(p, a, b, n); });
    Output full = Run(nFull, [&](char *p, int n) { return UtlGetFullPath(p, a, n); });
    CheckCut(dir, Run(nSize, [&](char *p, int n) { return UtlGetDir(p, a, n); }), nSize, true);
    CheckCut(name, Run(nSize, [&](char *p, int n) { return UtlGetName(p, a, n); }), nSize, true);
    CheckCut(join, Run(nSize, [&](char *p, int n) { return UtlJoinPath(p, a, b, n); }), nSize, false);
    Output fullCut = Run(nSize, [&](char *p, int n) { return UtlGetFullPath(p, a, n); });
    if (fullCut.nResult == 1)
        Check(full.nResult == 1 && fullCut.s == full.s);

    // Folder and name split the prepared path at one place, with or without the separator between them.
    std::string sPrepared;
    if (Prepared(sA, &sPrepared)) {
        Check(dir.nResult == 1 && name.nResult == 1);
        Check(sPrepared == dir.s + name.s || sPrepared == dir.s + "\\" + name.s);
        if (full.nResult == 0 && nSize > 0)
            Check(fullCut.s == sPrepared.substr(0, (size_t)nSize - 1) || fullCut.nResult == 1);
    } else {
        Check(dir.nResult == 0 && dir.s.empty() && name.nResult == 0 && name.s.empty());
        Check(full.nResult == 0 && full.s.empty());
    }
    return 0;
}
