// fuzz_sum.cpp - the package's sum reader over arbitrary bytes, on a machine of its own. The first byte picks
// the size of the pieces the bytes are fed in, the next two a place; the rest is the package. The reader must
// give the same answer whatever the pieces, and only one a reader of bytes can give. Bytes that are whole
// entries without a sum get their sum (PkgAddSum), unless they open with the LZ mark; that package must
// pass, and with one bit flipped at the place, or cut there, it must not.

#include "fuzzkit.h"
#include "package.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

typedef std::vector<unsigned char> Bytes;

static const char szPackage[] = "C:\\fuzz\\sum.pkg";

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzMachine();
    CreateDirectoryA("C:\\fuzz", NULL);
    return 0;
}

// The reader's answer for the bytes fed in pieces of nPiece (0: at once), and the entries it read.
static int Answer(const Bytes &a, size_t nPiece, int *pnEntries)
{
    PkgSum *pSum = PkgSumBegin();
    if (pSum == NULL)
        abort();
    if (nPiece == 0)
        nPiece = a.size() + 1;
    for (size_t i = 0; i < a.size(); i += nPiece)
        PkgSumFeed(pSum, a.data() + i, (int)(a.size() - i < nPiece ? a.size() - i : nPiece));
    int nOutcome = PkgSumEnd(pSum, 0);
    *pnEntries = PkgSumEntries(pSum);
    for (int i = 1; i <= *pnEntries; i++)
        if (PkgSumEntryDamaged(pSum, i) && nOutcome != PKG_SUM_MISMATCH)
            abort();
    PkgSumFree(pSum);
    return nOutcome;
}

static int Checked(const Bytes &a, size_t nPiece)
{
    int nAtOnce, nPieces;
    int nOutcome = Answer(a, 0, &nAtOnce);
    if (Answer(a, nPiece, &nPieces) != nOutcome || nAtOnce != nPieces)
        abort();
    switch (nOutcome) {
    case PKG_SUM_OK:
    case PKG_SUM_NONE:
    case PKG_SUM_SHORT:
    case PKG_SUM_EXTRA:
    case PKG_SUM_DAMAGED:
    case PKG_SUM_MISMATCH:
        return nOutcome;
    }
    abort();
}

static bool Write(const Bytes &a)
{
    HANDLE h = CreateFileA(szPackage, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD n = 0;
    bool bOk = a.empty() || (WriteFile(h, a.data(), (DWORD)a.size(), &n, NULL) && n == a.size());
    return CloseHandle(h) && bOk;
}

static Bytes Read()
{
    Bytes a;
    HANDLE h = CreateFileA(szPackage, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        abort();
    unsigned char b[4096];
    DWORD n;
    while (ReadFile(h, b, sizeof b, &n, NULL) && n > 0)
        a.insert(a.end(), b, b + n);
    CloseHandle(h);
    return a;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize)
{
    if (nSize < 3)
        return 0;
    size_t nPiece = pData[0];
    size_t nPlace = (size_t)pData[1] << 8 | pData[2];
    Bytes a(pData + 3, pData + nSize);
    if (Checked(a, nPiece) != PKG_SUM_NONE)
        return 0;

    // Whole entries without a sum: with their sum they pass; damaged at the place, they do not.
    if (!Write(a))
        abort();
    // Bytes that open as a compressed file does are read expanded: they get no sum as they lie.
    static const unsigned char abLz[8] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
    bool bLz = a.size() >= sizeof abLz && memcmp(a.data(), abLz, sizeof abLz) == 0;
    int nAdded = PkgAddSum(szPackage);
    if (bLz) {
        if (nAdded != PKG_ERR_READ || Read() != a)
            abort();
        return 0;
    }
    if (nAdded != PKG_OK)
        abort();
    Bytes aSummed = Read();
    if (aSummed.size() <= a.size() || (!a.empty() && memcmp(aSummed.data(), a.data(), a.size()) != 0) ||
        Checked(aSummed, nPiece) != PKG_SUM_OK || PkgCheck(szPackage, 0) != PKG_SUM_OK)
        abort();
    size_t nAt = nPlace % aSummed.size();
    Bytes aFlipped = aSummed;
    aFlipped[nAt] ^= (unsigned char)(1 << (pData[0] & 7));
    int nFlipped = Checked(aFlipped, nPiece);
    if (nFlipped == PKG_SUM_OK || nFlipped == PKG_SUM_NONE)
        abort();
    // A cut passes only where the entries end (then it has no sum, and the entries are as they were).
    Bytes aCut(aSummed.begin(), aSummed.begin() + (long)nAt);
    int nCut = Checked(aCut, nPiece);
    if (nCut == PKG_SUM_OK || (nCut == PKG_SUM_NONE && nAt > a.size()))
        abort();
    return 0;
}
