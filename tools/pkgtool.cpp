// pkgtool.cpp - the package builder: packs files into an installation package, lists and unpacks one
// (plain or compressed), checks one against its sum, and compresses and expands files in the platform's LZ
// format (SZDD).
//
// Exit codes: 0 success, 1 a file or package failed (the message names it and the status), 2 bad usage,
// 3 (verify) a whole package without a sum.
// On Linux it takes host paths as typed and works on them through the emulated machine's drive Z:; on
// Windows it takes Windows paths.

#include "package.h"
#include "lz/szdd.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include "kernel/kernel.h"
#endif

static const char szUsage[] =
    "usage: pkgtool pack [--no-sum] OUT.pkg FILE... | @LIST\n"
    "       pkgtool list PKG\n"
    "       pkgtool verify PKG\n"
    "       pkgtool unpack PKG OUTFILE... | @LIST\n"
    "       pkgtool compress IN OUT\n"
    "       pkgtool expand IN OUT\n"
    "A package may be plain or compressed. @LIST names a file that holds one path a line.\n";

static const size_t kBlock = 1 << 18;

// A file named on the command line: as the user typed it (for messages) and as a path of the platform.
struct Arg {
    std::string sShown;
    std::string sPath;
};

static int Usage(const char *pszWhy)
{
    if (pszWhy != NULL)
        fprintf(stderr, "pkgtool: %s\n", pszWhy);
    fputs(szUsage, stderr);
    return 2;
}

static int Fail(const Arg &arg, const char *pszWhat)
{
    fprintf(stderr, "pkgtool: %s: %s\n", arg.sShown.c_str(), pszWhat);
    return 1;
}

// The path of the platform for a path the user typed; false when it cannot be named there.
static bool SystemPath(const std::string &sTyped, std::string *psPath)
{
#ifdef _WIN32
    *psPath = sTyped;
    return !sTyped.empty() && sTyped.size() < MAX_PATH;
#else
    // A host path, relative to the current folder or absolute: on drive C: when it lies in the machine's
    // drive_c folder, otherwise on drive Z:, the host's root. A name with a backslash has no such path.
    if (sTyped.empty() || sTyped.find('\\') != std::string::npos)
        return false;
    bool bLossy = false;
    *psPath = plat::WindowsPathFromHost(sTyped, &bLossy);
    return !bLossy && psPath->size() < MAX_PATH;
#endif
}

// The arguments from index nFirst on, with each @LIST replaced by the paths it holds.
static bool CollectArgs(int argc, char **argv, int nFirst, std::vector<Arg> *pArgs)
{
    std::vector<std::string> aTyped;
    for (int i = nFirst; i < argc; i++) {
        if (argv[i][0] != '@') {
            aTyped.push_back(argv[i]);
            continue;
        }
        FILE *pList = fopen(argv[i] + 1, "rb");
        if (pList == NULL) {
            fprintf(stderr, "pkgtool: %s: cannot read the list\n", argv[i] + 1);
            return false;
        }
        std::string sLine;
        int c;
        do {
            c = fgetc(pList);
            if (c == '\n' || c == EOF) {
                while (!sLine.empty() && sLine.back() == '\r')
                    sLine.pop_back();
                if (!sLine.empty())
                    aTyped.push_back(sLine);
                sLine.clear();
            } else {
                sLine += (char)c;
            }
        } while (c != EOF);
        bool bError = ferror(pList) != 0;
        fclose(pList);
        if (bError) {
            fprintf(stderr, "pkgtool: %s: cannot read the list\n", argv[i] + 1);
            return false;
        }
    }
    for (const std::string &s : aTyped) {
        Arg arg;
        arg.sShown = s;
        if (!SystemPath(s, &arg.sPath)) {
            fprintf(stderr, "pkgtool: %s: the path is too long or cannot be named on the machine\n",
                    s.c_str());
            return false;
        }
        pArgs->push_back(arg);
    }
    return true;
}

static bool ToArg(const char *pszTyped, Arg *pArg)
{
    pArg->sShown = pszTyped;
    if (!SystemPath(pszTyped, &pArg->sPath)) {
        fprintf(stderr, "pkgtool: %s: the path is too long or cannot be named on the machine\n", pszTyped);
        return false;
    }
    return true;
}

// Whether two paths name the same file, as far as their full paths tell.
static bool SameFile(const Arg &a, const Arg &b)
{
    char szA[MAX_PATH], szB[MAX_PATH];
    DWORD nA = GetFullPathNameA(a.sPath.c_str(), MAX_PATH, szA, NULL);
    DWORD nB = GetFullPathNameA(b.sPath.c_str(), MAX_PATH, szB, NULL);
    if (nA == 0 || nA >= MAX_PATH || nB == 0 || nB >= MAX_PATH)
        return a.sPath == b.sPath;
    for (size_t i = 0;; i++) {
        int cA = (unsigned char)szA[i], cB = (unsigned char)szB[i];
        if (cA >= 'a' && cA <= 'z')
            cA -= 'a' - 'A';
        if (cB >= 'a' && cB <= 'z')
            cB -= 'a' - 'A';
        if (cA != cB)
            return false;
        if (cA == 0)
            return true;
    }
}

static void DeleteOutput(const Arg &arg)
{
    SetFileAttributesA(arg.sPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(arg.sPath.c_str());
}

// ---------------------------------------------------------------------------------------------------------
// Packages

static const char *PackStatusText(int nStatus)
{
    switch (nStatus) {
    case PKG_ERR_OPEN:
        return "cannot open it (status 1)";
    case PKG_ERR_WRITE:
        return "cannot write it to the package (status 3)";
    case PKG_ERR_READ:
        return "cannot read it: not a file on disk, 2 GiB or larger, or it changed while it was packed "
               "(status 4)";
    case PKG_ERR_MEMORY:
        return "out of memory (status 5)";
    }
    return "failed (unknown status)";
}

static const char *UnpackStatusText(int nStatus)
{
    switch (nStatus) {
    case PKG_ERR_CREATE:
        return "cannot create it (status 2)";
    case PKG_ERR_WRITE:
        return "cannot write it (status 3)";
    case PKG_ERR_READ:
        return "the package ends before this entry is complete, or cannot be read (status 4)";
    case PKG_ERR_MEMORY:
        return "out of memory (status 5)";
    }
    return "failed (unknown status)";
}

static int Pack(const Arg &package, const std::vector<Arg> &aFiles, bool bSum)
{
    for (const Arg &file : aFiles) {
        if (SameFile(file, package)) {
            fprintf(stderr, "pkgtool: %s: the package cannot be one of the files it holds\n",
                    file.sShown.c_str());
            return 2;
        }
    }
    int hPkg = PkgOpen(package.sPath.c_str(), 1);
    if (hPkg == 0)
        return Fail(package, "cannot create the package");
    for (const Arg &file : aFiles) {
        int nStatus = PkgPackFile(hPkg, file.sPath.c_str());
        if (nStatus != PKG_OK) {
            Fail(file, PackStatusText(nStatus));
            PkgClose(hPkg);
            DeleteOutput(package);
            fprintf(stderr, "pkgtool: %s: not written\n", package.sShown.c_str());
            return 1;
        }
    }
    if (!PkgClose(hPkg)) {
        DeleteOutput(package);
        return Fail(package, "cannot complete the package");
    }
    if (bSum) {
        int nStatus = PkgAddSum(package.sPath.c_str());
        if (nStatus != PKG_OK) {
            DeleteOutput(package);
            return Fail(package, nStatus == PKG_ERR_MEMORY ? "out of memory for its sum"
                                                           : "cannot add its sum (read back or written)");
        }
    }
    return 0;
}

// Reads until n bytes have come or the package ends: the count, or -1 on a read failure.
static long ReadPackage(int hPkg, void *pData, size_t n)
{
    size_t nDone = 0;
    while (nDone < n) {
        int nChunk = (int)(n - nDone < kBlock ? n - nDone : kBlock);
        int nRead = PkgRead(hPkg, (char *)pData + nDone, nChunk);
        if (nRead < 0)
            return -1;
        if (nRead == 0)
            break;
        nDone += (size_t)nRead;
    }
    return (long)nDone;
}

// A file time as ISO 8601 in UTC with its full precision of 100 ns, e.g. 2024-05-01T10:00:00.1234567Z.
static std::string IsoTime(const FILETIME &ft)
{
    uint64_t n = (uint64_t)ft.dwHighDateTime << 32 | ft.dwLowDateTime;
    uint64_t nSeconds = n / 10000000u;
    unsigned nFraction = (unsigned)(n % 10000000u);
    int64_t nDays = (int64_t)(nSeconds / 86400) - 134774; // days since 1970-01-01
    unsigned nDaySeconds = (unsigned)(nSeconds % 86400);
    // Civil date from a day count (proleptic Gregorian calendar).
    int64_t z = nDays + 719468;
    int64_t nEra = (z >= 0 ? z : z - 146096) / 146097;
    unsigned nDoe = (unsigned)(z - nEra * 146097);
    unsigned nYoe = (nDoe - nDoe / 1460 + nDoe / 36524 - nDoe / 146096) / 365;
    int64_t nYear = (int64_t)nYoe + nEra * 400;
    unsigned nDoy = nDoe - (365 * nYoe + nYoe / 4 - nYoe / 100);
    unsigned nMp = (5 * nDoy + 2) / 153;
    unsigned nDay = nDoy - (153 * nMp + 2) / 5 + 1;
    unsigned nMonth = nMp < 10 ? nMp + 3 : nMp - 9;
    if (nMonth <= 2)
        nYear++;
    char sz[64];
    snprintf(sz, sizeof sz, "%04lld-%02u-%02uT%02u:%02u:%02u.%07uZ", (long long)nYear, nMonth, nDay,
             nDaySeconds / 3600, nDaySeconds / 60 % 60, nDaySeconds % 60, nFraction);
    return sz;
}

static std::string AttributeText(DWORD dwAttributes)
{
    std::string s;
    s += dwAttributes & FILE_ATTRIBUTE_READONLY ? 'R' : '-';
    s += dwAttributes & FILE_ATTRIBUTE_HIDDEN ? 'H' : '-';
    s += dwAttributes & FILE_ATTRIBUTE_SYSTEM ? 'S' : '-';
    if (dwAttributes & ~(DWORD)PKG_ATTRIBUTES) {
        char sz[16];
        snprintf(sz, sizeof sz, "+%08lX", (unsigned long)(dwAttributes & ~(DWORD)PKG_ATTRIBUTES));
        s += sz;
    }
    return s;
}

static int List(const Arg &package)
{
    int hPkg = PkgOpen(package.sPath.c_str(), 0);
    if (hPkg == 0)
        return Fail(package, "cannot open the package");
    std::vector<char> aBuffer(kBlock);
    int nResult = 0;
    for (unsigned nEntry = 1;; nEntry++) {
        PkgHeader header;
        long n = ReadPackage(hPkg, &header, sizeof header);
        if (n == 0)
            break;
        if (n < 0) {
            nResult = Fail(package, "cannot read the package");
            break;
        }
        // The sum follows the last entry (verify checks it).
        if (PkgSumIsMark(&header, (int)n))
            break;
        if (n < (long)sizeof header) {
            fprintf(stderr, "pkgtool: %s: damaged: entry %u ends inside its header\n", package.sShown.c_str(),
                    nEntry);
            nResult = 1;
            break;
        }
        printf("%5u %10lu %-3s %s %s %s\n", nEntry, (unsigned long)header.dwSize,
               AttributeText(header.dwAttributes).c_str(), IsoTime(header.ftCreationTime).c_str(),
               IsoTime(header.ftLastAccessTime).c_str(), IsoTime(header.ftLastWriteTime).c_str());
        uint64_t nLeft = header.dwSize;
        while (nLeft > 0) {
            size_t nChunk = nLeft < kBlock ? (size_t)nLeft : kBlock;
            n = ReadPackage(hPkg, aBuffer.data(), nChunk);
            if (n < 0) {
                nResult = Fail(package, "cannot read the package");
                break;
            }
            nLeft -= (uint64_t)n;
            if ((size_t)n < nChunk) {
                fprintf(stderr, "pkgtool: %s: damaged: entry %u ends inside its data (%lu of %lu bytes)\n",
                        package.sShown.c_str(), nEntry, (unsigned long)(header.dwSize - nLeft),
                        (unsigned long)header.dwSize);
                nResult = 1;
                break;
            }
        }
        if (nResult != 0)
            break;
    }
    fflush(stdout);
    PkgClose(hPkg);
    return nResult;
}

static int Unpack(const Arg &package, const std::vector<Arg> &aFiles)
{
    for (const Arg &file : aFiles) {
        if (SameFile(file, package)) {
            fprintf(stderr, "pkgtool: %s: the package cannot be one of the files unpacked\n",
                    file.sShown.c_str());
            return 2;
        }
    }
    int hPkg = PkgOpen(package.sPath.c_str(), 0);
    if (hPkg == 0)
        return Fail(package, "cannot open the package");
    for (size_t i = 0; i < aFiles.size(); i++) {
        int nStatus = PkgUnpackFile(hPkg, aFiles[i].sPath.c_str());
        if (nStatus != PKG_OK) {
            Fail(aFiles[i], UnpackStatusText(nStatus));
            PkgClose(hPkg);
            return 1;
        }
    }
    char aNext[PKG_SUM_MARK_SIZE];
    long nNext = ReadPackage(hPkg, aNext, sizeof aNext);
    if (nNext > 0 && !PkgSumIsMark(aNext, (int)nNext))
        fprintf(stderr, "pkgtool: %s: note: the package holds more entries than the %u files named\n",
                package.sShown.c_str(), (unsigned)aFiles.size());
    PkgClose(hPkg);
    return 0;
}

// Reads the whole package and checks it against its sum: 0 when it matches, 3 when the package has none (and
// is whole entries), 1 when it is damaged (each entry that differs is named) or cannot be read.
static int Verify(const Arg &package)
{
    int hPkg = PkgOpen(package.sPath.c_str(), 0);
    if (hPkg == 0)
        return Fail(package, "cannot open the package");
    PkgSum *pSum = PkgSumBegin();
    std::vector<char> aBuffer(PKG_CHECK_BLOCK);
    if (pSum == NULL) {
        PkgClose(hPkg);
        return Fail(package, "out of memory");
    }
    int nOutcome = PKG_SUM_READ;
    for (;;) {
        int n = PkgRead(hPkg, aBuffer.data(), (int)aBuffer.size());
        if (n < 0)
            break;
        if (n == 0) {
            nOutcome = PkgSumEnd(pSum, 0);
            break;
        }
        PkgSumFeed(pSum, aBuffer.data(), n);
    }
    PkgClose(hPkg);
    const char *pszShown = package.sShown.c_str();
    int nEntries = PkgSumEntries(pSum);
    int nResult = 1;
    switch (nOutcome) {
    case PKG_SUM_OK:
        printf("%s: %d entries, all match the sum\n", pszShown, nEntries);
        nResult = 0;
        break;
    case PKG_SUM_NONE:
        fprintf(stderr, "pkgtool: %s: no sum (%d whole entries, not checked)\n", pszShown, nEntries);
        nResult = 3;
        break;
    case PKG_SUM_READ:
        Fail(package, "cannot read the package");
        break;
    case PKG_SUM_MEMORY:
        Fail(package, "out of memory");
        break;
    case PKG_SUM_SHORT:
        fprintf(stderr, "pkgtool: %s: damaged: it ends early, inside entry %d or its sum\n", pszShown,
                nEntries + 1);
        break;
    case PKG_SUM_EXTRA:
        fprintf(stderr, "pkgtool: %s: damaged: bytes follow its sum\n", pszShown);
        break;
    case PKG_SUM_DAMAGED:
        fprintf(stderr, "pkgtool: %s: damaged: its sum is damaged\n", pszShown);
        break;
    default: {
        int nNamed = 0;
        for (int i = 1; i <= nEntries; i++) {
            if (PkgSumEntryDamaged(pSum, i)) {
                fprintf(stderr, "pkgtool: %s: damaged: entry %d differs from its sum\n", pszShown, i);
                nNamed++;
            }
        }
        if (nNamed == 0)
            fprintf(
                stderr,
                "pkgtool: %s: damaged: its entries do not lead to their sum (a damaged header, or entries "
                "lost or added)\n",
                pszShown);
        break;
    }
    }
    PkgSumFree(pSum);
    fflush(stdout);
    return nResult;
}

// ---------------------------------------------------------------------------------------------------------
// SZDD files

static bool WriteAll(HANDLE h, const void *p, size_t n)
{
    while (n > 0) {
        DWORD nChunk = (DWORD)(n < kBlock ? n : kBlock);
        DWORD nWritten = 0;
        if (!WriteFile(h, p, nChunk, &nWritten, NULL) || nWritten != nChunk)
            return false;
        p = (const char *)p + nChunk;
        n -= nChunk;
    }
    return true;
}

static HANDLE CreateOutput(const Arg &out)
{
    return CreateFileA(out.sPath.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
}

static int Compress(const Arg &in, const Arg &out)
{
    if (SameFile(in, out)) {
        fprintf(stderr, "pkgtool: %s: the output cannot be the input\n", out.sShown.c_str());
        return 2;
    }
    HANDLE hIn = CreateFileA(in.sPath.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (hIn == INVALID_HANDLE_VALUE)
        return Fail(in, "cannot open it");
    DWORD dwHigh = 0;
    DWORD dwSize = GetFileSize(hIn, &dwHigh);
    if (dwSize == INVALID_FILE_SIZE || dwHigh != 0) {
        CloseHandle(hIn);
        return Fail(in, "cannot tell its size, or 4 GiB or larger: too large for the format");
    }
    HANDLE hOut = CreateOutput(out);
    if (hOut == INVALID_HANDLE_VALUE) {
        CloseHandle(hIn);
        return Fail(out, "cannot create it");
    }

    // The header keeps the input name's last character when the output's is the underscore that replaced it.
    unsigned char cLast = 0;
    if (out.sPath.back() == '_' && in.sPath.back() != '_')
        cLast = (unsigned char)in.sPath.back();
    std::vector<unsigned char> aOut(szdd::kHeaderSize);
    szdd::MakeHeader(aOut.data(), dwSize, cLast);
    std::vector<unsigned char> aIn(kBlock);
    szdd::Encoder encoder;
    uint64_t nTotal = 0;
    const char *pszError = NULL;
    const Arg *pWhere = &in;
    for (;;) {
        DWORD nRead = 0;
        if (!ReadFile(hIn, aIn.data(), (DWORD)aIn.size(), &nRead, NULL)) {
            pszError = "cannot read it";
            break;
        }
        nTotal += nRead;
        encoder.Encode(aIn.data(), nRead, nRead == 0, aOut);
        if (!WriteAll(hOut, aOut.data(), aOut.size())) {
            pszError = "cannot write it";
            pWhere = &out;
            break;
        }
        aOut.clear();
        if (nRead == 0)
            break;
    }
    if (pszError == NULL && nTotal != dwSize)
        pszError = "it changed size while it was compressed";
    CloseHandle(hIn);
    if (!CloseHandle(hOut) && pszError == NULL) {
        pszError = "cannot write it";
        pWhere = &out;
    }
    if (pszError != NULL) {
        DeleteOutput(out);
        return Fail(*pWhere, pszError);
    }
    return 0;
}

static int Expand(const Arg &in, const Arg &out)
{
    if (SameFile(in, out)) {
        fprintf(stderr, "pkgtool: %s: the output cannot be the input\n", out.sShown.c_str());
        return 2;
    }
    // The header is read here too, to tell an unknown mode from other failures and to know the length.
    HANDLE hIn = CreateFileA(in.sPath.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (hIn == INVALID_HANDLE_VALUE)
        return Fail(in, "cannot open it");
    unsigned char aHeader[szdd::kHeaderSize];
    DWORD nHeader = 0;
    BOOL bRead = ReadFile(hIn, aHeader, sizeof aHeader, &nHeader, NULL);
    CloseHandle(hIn);
    if (!bRead)
        return Fail(in, "cannot read it");
    uint32_t nLength = 0;
    szdd::HeaderKind nKind = szdd::ParseHeader(aHeader, nHeader, &nLength, NULL);
    if (nKind == szdd::kUnknownMode)
        return Fail(in, "compressed with an unknown method");

    HFILE hFile = _lopen(in.sPath.c_str(), OF_READ | OF_SHARE_DENY_WRITE);
    if (hFile == HFILE_ERROR)
        return Fail(in, "cannot open it");
    INT hLz = LZInit((INT)hFile);
    if (hLz < 0) {
        _lclose(hFile);
        return Fail(in, "cannot read it");
    }
    HANDLE hOut = CreateOutput(out);
    if (hOut == INVALID_HANDLE_VALUE) {
        LZClose(hLz);
        return Fail(out, "cannot create it");
    }
    std::vector<char> aBuffer(kBlock);
    uint64_t nTotal = 0;
    const char *pszError = NULL;
    const Arg *pWhere = &in;
    for (;;) {
        INT n = LZRead(hLz, aBuffer.data(), (INT)aBuffer.size());
        if (n < 0) {
            pszError = "the compressed data is damaged or ends early";
            break;
        }
        if (n == 0)
            break;
        nTotal += (uint64_t)n;
        if (!WriteAll(hOut, aBuffer.data(), (size_t)n)) {
            pszError = "cannot write it";
            pWhere = &out;
            break;
        }
    }
    LZClose(hLz);
    if (pszError == NULL && nKind == szdd::kCompressed && nTotal != nLength)
        pszError = "the compressed data is damaged or ends early";
    if (!CloseHandle(hOut) && pszError == NULL) {
        pszError = "cannot write it";
        pWhere = &out;
    }
    if (pszError != NULL) {
        DeleteOutput(out);
        return Fail(*pWhere, pszError);
    }
    return 0;
}

int main(int argc, char **argv)
{
    if (argc < 2)
        return Usage(NULL);
    std::string sCommand = argv[1];
    Arg first, second;
    std::vector<Arg> aFiles;

    if (sCommand == "pack" || sCommand == "unpack") {
        // pack --no-sum: a package as the format's other writers make it, without the sum.
        int nFirst = 2;
        bool bSum = true;
        if (sCommand == "pack" && argc > 2 && strcmp(argv[2], "--no-sum") == 0) {
            bSum = false;
            nFirst = 3;
        }
        if (argc < nFirst + 2)
            return Usage("name the package and at least one file");
        if (!ToArg(argv[nFirst], &first) || !CollectArgs(argc, argv, nFirst + 1, &aFiles))
            return 1;
        return sCommand == "pack" ? Pack(first, aFiles, bSum) : Unpack(first, aFiles);
    }
    if (sCommand == "verify") {
        if (argc != 3)
            return Usage("name one package");
        if (!ToArg(argv[2], &first))
            return 1;
        return Verify(first);
    }
    if (sCommand == "list") {
        if (argc != 3)
            return Usage("name one package");
        if (!ToArg(argv[2], &first))
            return 1;
        return List(first);
    }
    if (sCommand == "compress" || sCommand == "expand") {
        if (argc != 4)
            return Usage("name the input and the output");
        if (!ToArg(argv[2], &first) || !ToArg(argv[3], &second))
            return 1;
        return sCommand == "compress" ? Compress(first, second) : Expand(first, second);
    }
    if (sCommand == "-h" || sCommand == "--help" || sCommand == "help") {
        fputs(szUsage, stdout);
        return 0;
    }
    return Usage(("unknown command: " + sCommand).c_str());
}
