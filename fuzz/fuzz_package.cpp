// fuzz_package.cpp - unpacking arbitrary package bytes, plain or compressed, on a machine of its own. The
// bytes are the package file itself, or (when the first byte is odd) a package that is then compressed. What
// each PkgUnpackFile must do is known from the plain bytes: a whole entry gives PKG_OK and a file with its
// bytes and attribute bits; an entry cut short gives PKG_ERR_READ and no file.

#include "fuzzkit.h"
#include "package.h"
#include "lz/szdd.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

typedef std::vector<unsigned char> Bytes;

static const char szPackage[] = "C:\\fuzz\\in.pkg";
static const int kEntries = 4;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzMachine();
    CreateDirectoryA("C:\\fuzz", NULL);
    return 0;
}

static std::string OutName(int i)
{
    return "C:\\fuzz\\out" + std::to_string(i);
}

static void Remove(const std::string &s)
{
    SetFileAttributesA(s.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(s.c_str());
}

static bool ReadBack(const std::string &sPath, Bytes *pData)
{
    HANDLE h = CreateFileA(sPath.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    unsigned char a[4096];
    DWORD n;
    while (ReadFile(h, a, sizeof a, &n, NULL) && n > 0)
        pData->insert(pData->end(), a, a + n);
    CloseHandle(h);
    return true;
}

// The plain bytes a reader gets from the file: all of them, the expansion (as far as the data goes), or
// none when the file does not open.
static bool PlainBytes(const Bytes &aFile, Bytes *pPlain)
{
    uint32_t nLength = 0;
    switch (szdd::ParseHeader(aFile.data(), aFile.size(), &nLength, NULL)) {
    case szdd::kPlain:
        *pPlain = aFile;
        return true;
    case szdd::kUnknownMode:
        return false;
    case szdd::kCompressed:
        break;
    }
    static szdd::Decoder decoder;
    szdd::DecoderInit(&decoder, nLength);
    unsigned char a[65536];
    size_t nPos = szdd::kHeaderSize;
    for (;;) {
        size_t nUsed = 0;
        size_t n = szdd::Decode(&decoder, aFile.data() + nPos, aFile.size() - nPos, &nUsed, a, sizeof a);
        nPos += nUsed;
        pPlain->insert(pPlain->end(), a, a + n);
        if (n == 0)
            return true;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize)
{
    if (nSize < 1)
        return 0;
    Bytes aFile;
    if (pData[0] & 1) {
        aFile.resize(szdd::kHeaderSize);
        szdd::MakeHeader(aFile.data(), (uint32_t)(nSize - 1), 0);
        szdd::Encoder encoder;
        encoder.Encode(pData + 1, nSize - 1, true, aFile);
    } else {
        aFile.assign(pData + 1, pData + nSize);
    }
    HANDLE h = CreateFileA(szPackage, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        abort();
    DWORD nWritten = 0;
    if (!aFile.empty() &&
        (!WriteFile(h, aFile.data(), (DWORD)aFile.size(), &nWritten, NULL) || nWritten != aFile.size()))
        abort();
    CloseHandle(h);

    Bytes aPlain;
    bool bOpens = PlainBytes(aFile, &aPlain);
    int hPkg = PkgOpen(szPackage, 0);
    if ((hPkg != 0) != bOpens)
        abort();
    if (hPkg == 0)
        return 0;

    size_t nPos = 0;
    for (int i = 0; i < kEntries; i++) {
        std::string sOut = OutName(i);
        int nStatus = PkgUnpackFile(hPkg, sOut.c_str());
        bool bWhole = aPlain.size() - nPos >= sizeof(PkgHeader);
        PkgHeader header;
        if (bWhole) {
            memcpy(&header, aPlain.data() + nPos, sizeof header);
            bWhole = aPlain.size() - nPos - sizeof header >= header.dwSize;
        }
        DWORD dwAttributes = GetFileAttributesA(sOut.c_str());
        if (!bWhole) {
            // Cut short: a read error and no file.
            if (nStatus != PKG_ERR_READ || dwAttributes != INVALID_FILE_ATTRIBUTES)
                abort();
            break;
        }
        if (nStatus == PKG_ERR_WRITE) {
            // The platform may refuse the entry's times (far beyond its range): then no file is left.
            if (dwAttributes != INVALID_FILE_ATTRIBUTES)
                abort();
            break;
        }
        if (nStatus != PKG_OK || dwAttributes == INVALID_FILE_ATTRIBUTES)
            abort();
        if ((dwAttributes & PKG_ATTRIBUTES) != (header.dwAttributes & PKG_ATTRIBUTES) ||
            (dwAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY)) != 0)
            abort();
        Bytes aOut;
        if (!ReadBack(sOut, &aOut) || aOut.size() != header.dwSize ||
            (header.dwSize > 0 &&
             memcmp(aOut.data(), aPlain.data() + nPos + sizeof header, header.dwSize) != 0))
            abort();
        nPos += sizeof header + header.dwSize;
    }
    if (PkgClose(hPkg) != 1 || PkgClose(hPkg) != 0)
        abort();
    for (int i = 0; i < kEntries; i++)
        Remove(OutName(i));
    return 0;
}
