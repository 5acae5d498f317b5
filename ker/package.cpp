// package.cpp - the installation package: a table of eight streams over the platform's files and its LZ
// expansion, and the packing and unpacking of whole files as entries of header and data.

#include "package.h"
#include "charstr.h"
#include "sysassert.h"

#include <stdlib.h>
#include <string.h>

// The sum's hash, compiled into this module alone.
#define XXH_INLINE_ALL
#include "xxhash.h"

static const char szThisModule[] = "ker\\PACKAGE";

typedef char PkgHeaderIs32Bytes[sizeof(PkgHeader) == 32 ? 1 : -1];

struct PkgStream {
    HANDLE hFile; // the package, when open for writing
    int hLz;      // the package, when open for reading
    int bWrite;
    int nRefs; // 0: the slot is free
};

static PkgStream aPkgStreams[PKG_MAX_STREAMS];
static PkgReadHook pfnPkgReadHook;

// An output is written under its name with this appended, then renamed into place.
#define PKG_TEMP_SUFFIX ".~pk"
#define PKG_ASIDE_SUFFIX ".~po" // a file being replaced that refused it, while the new one takes its place
#define PKG_PATH_SIZE 260

// The attribute bits SetFileAttributesA accepts besides read-only, hidden and system.
#define PKG_OTHER_SETTABLE                                                                                   \
    (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |                            \
     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)

// The open slot a handle names, or null for a handle out of range or a free slot. (Compared without
// subtracting first: the lowest integer has no predecessor.)
static PkgStream *PkgLookup(int hPkg)
{
    if (hPkg < 1 || hPkg > PKG_MAX_STREAMS)
        return NULL;
    if (aPkgStreams[hPkg - 1].nRefs <= 0)
        return NULL;
    return &aPkgStreams[hPkg - 1];
}

int PkgOpen(const char *szFileName, int bWrite)
{
    char szName[MAX_PATH];
    PkgStream *pStream = NULL;
    HFILE hFile;
    int i;

    ASSERT(szFileName != NULL);
    for (i = 0; i < PKG_MAX_STREAMS; i++) {
        if (aPkgStreams[i].nRefs == 0) {
            pStream = &aPkgStreams[i];
            break;
        }
    }
    if (pStream == NULL)
        return 0;

    if (bWrite) {
        pStream->bWrite = 1;
        pStream->hFile = CreateFileA(szFileName, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
        if (pStream->hFile == INVALID_HANDLE_VALUE)
            return 0;
    } else {
        pStream->bWrite = 0;
        if (!StrCopy(szName, szFileName, sizeof szName))
            return 0;
        // Opened with _lopen and handed to the LZ layer, rather than with LZOpenFileA, whose file name
        // record holds only 128 characters.
        hFile = _lopen(szName, OF_READ | OF_SHARE_DENY_WRITE);
        if (hFile == HFILE_ERROR)
            return 0;
        pStream->hLz = LZInit((INT)hFile);
        if (pStream->hLz < 0) {
            _lclose(hFile);
            return 0;
        }
    }
    pStream->nRefs = 1;
    return i + 1;
}

int PkgWrite(int hPkg, const void *pData, int nSize)
{
    PkgStream *pStream;
    DWORD dwWritten;

    ASSERT(pData != NULL);
    ASSERT(nSize >= 0);
    pStream = PkgLookup(hPkg);
    if (pStream == NULL || !pStream->bWrite)
        return -1;
    if (nSize == 0)
        return 0;
    if (!WriteFile(pStream->hFile, pData, (DWORD)nSize, &dwWritten, NULL))
        return -1;
    return (int)dwWritten;
}

int PkgRead(int hPkg, void *pData, int nSize)
{
    PkgStream *pStream;
    INT nRead;

    ASSERT(pData != NULL);
    ASSERT(nSize >= 0);
    pStream = PkgLookup(hPkg);
    if (pStream == NULL || pStream->bWrite)
        return -1;
    if (nSize == 0)
        return 0;
    nRead = LZRead(pStream->hLz, (char *)pData, nSize);
    if (nRead < 0)
        return -1;
    if (nRead > 0 && pfnPkgReadHook != NULL)
        pfnPkgReadHook(nRead);
    return nRead;
}

void PkgSetReadHook(PkgReadHook pfnHook)
{
    pfnPkgReadHook = pfnHook;
}

int PkgClose(int hPkg)
{
    PkgStream *pStream;

    if (hPkg == 0)
        return 1;
    pStream = PkgLookup(hPkg);
    if (pStream == NULL)
        return 0;
    pStream->nRefs--;
    if (pStream->nRefs > 0)
        return 1;
    if (pStream->bWrite)
        return CloseHandle(pStream->hFile);
    LZClose(pStream->hLz);
    return 1;
}

int PkgPackFile(int hPkg, const char *szFileName)
{
    PkgHeader header;
    HANDLE hSource;
    BYTE *pBuffer;
    DWORD dwAttributes;
    DWORD dwSizeHigh;
    DWORD dwCopied;
    DWORD dwRead;
    int nStatus;

    ASSERT(szFileName != NULL);
    dwAttributes = GetFileAttributesA(szFileName);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES)
        return PKG_ERR_OPEN;
    header.dwAttributes = dwAttributes & PKG_ATTRIBUTES;

    hSource = CreateFileA(szFileName, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                          FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (hSource == INVALID_HANDLE_VALUE)
        return PKG_ERR_OPEN;
    // The times are taken first: asking a platform for the type of a file may count as an access.
    if (!GetFileTime(hSource, &header.ftCreationTime, &header.ftLastAccessTime, &header.ftLastWriteTime)) {
        CloseHandle(hSource);
        return PKG_ERR_READ;
    }
    if (GetFileType(hSource) != FILE_TYPE_DISK) {
        CloseHandle(hSource);
        return PKG_ERR_READ;
    }
    header.dwSize = GetFileSize(hSource, &dwSizeHigh);
    if (header.dwSize >= 0x80000000UL || dwSizeHigh != 0) {
        CloseHandle(hSource);
        return PKG_ERR_READ;
    }
    if (PkgWrite(hPkg, &header, sizeof header) != (int)sizeof header) {
        CloseHandle(hSource);
        return PKG_ERR_WRITE;
    }
    pBuffer = (BYTE *)malloc(PKG_BUFFER_SIZE);
    if (pBuffer == NULL) {
        CloseHandle(hSource);
        return PKG_ERR_MEMORY;
    }

    // Copies until the platform reports the end of the file, so a source that changed size since it was
    // measured ends with PKG_ERR_READ. One that has given more than its size is not read further: a device
    // or a file that keeps growing would never end.
    dwCopied = 0;
    do {
        if (!ReadFile(hSource, pBuffer, PKG_BUFFER_SIZE, &dwRead, NULL)) {
            nStatus = PKG_ERR_READ;
            break;
        }
        if (PkgWrite(hPkg, pBuffer, (int)dwRead) != (int)dwRead) {
            nStatus = PKG_ERR_WRITE;
            break;
        }
        dwCopied += dwRead;
        nStatus = dwCopied == header.dwSize ? PKG_OK : PKG_ERR_READ;
    } while (dwRead != 0 && dwCopied <= header.dwSize);

    free(pBuffer);
    CloseHandle(hSource);
    return nStatus;
}

// Whether szFileName is a file (not a folder) that carries read-only, hidden or system: the bits that make
// the platform refuse to replace it. *pdwOld receives its attributes.
static int PkgHasBits(const char *szFileName, DWORD *pdwOld)
{
    *pdwOld = GetFileAttributesA(szFileName);
    return *pdwOld != INVALID_FILE_ATTRIBUTES && (*pdwOld & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           (*pdwOld & PKG_ATTRIBUTES) != 0;
}

// Creates or replaces an output file with the attribute bits given. An existing file that carries
// read-only, hidden or system refuses to be replaced (access denied): those bits are cleared and the
// creation tried once more; if it still fails the file gets its bits back.
static HANDLE PkgCreateOutput(const char *szFileName, DWORD dwAttributes)
{
    HANDLE hFile;
    DWORD dwOld;
    DWORD dwCleared;

    hFile = CreateFileA(szFileName, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, dwAttributes, NULL);
    if (hFile != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED)
        return hFile;
    if (!PkgHasBits(szFileName, &dwOld))
        return INVALID_HANDLE_VALUE;
    dwCleared = dwOld & PKG_OTHER_SETTABLE;
    if (!SetFileAttributesA(szFileName, dwCleared != 0 ? dwCleared : FILE_ATTRIBUTE_NORMAL))
        return INVALID_HANDLE_VALUE;
    hFile = CreateFileA(szFileName, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, dwAttributes, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        SetFileAttributesA(szFileName, dwOld & (PKG_ATTRIBUTES | PKG_OTHER_SETTABLE));
    return hFile;
}

// Deletes a file that may carry read-only; the outcome is not needed.
static void PkgRemove(const char *szFileName)
{
    SetFileAttributesA(szFileName, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(szFileName);
}

// Puts a whole output, written under its temporary name szTemp, in the place of szFileName in one step. A
// file there that refuses to be replaced (read-only) is first moved aside under a name of its own (szAside),
// with its bits, so that nothing stops between the two names with its bits cleared: until the new file is in
// place the old one is whole under one of them. The old file is deleted once the new one is in place, and
// moved back if that fails. An old file a run cut off had moved aside, before the new one took its place,
// goes once this run's new file is in place.
static int PkgReplace(const char *szTemp, const char *szFileName, const char *szAside)
{
    DWORD dwOld;

    if (MoveFileExA(szTemp, szFileName, MOVEFILE_REPLACE_EXISTING)) {
        if (szAside[0] != EOS)
            PkgRemove(szAside);
        return 1;
    }
    if (GetLastError() != ERROR_ACCESS_DENIED || szAside[0] == EOS || !PkgHasBits(szFileName, &dwOld))
        return 0;
    PkgRemove(szAside);
    if (!MoveFileExA(szFileName, szAside, 0))
        return 0;
    if (!MoveFileExA(szTemp, szFileName, 0)) {
        MoveFileExA(szAside, szFileName, 0);
        return 0;
    }
    PkgRemove(szAside);
    return 1;
}

// Whether a file (not a folder) is at the path.
static int PkgIsFile(const char *szFileName)
{
    DWORD dwAttributes = GetFileAttributesA(szFileName);

    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// PkgUnpackFile (bReplace) and PkgUnpackNewFile.
static int PkgUnpack(int hPkg, const char *szFileName, int bReplace)
{
    PkgHeader header;
    char szTemp[PKG_PATH_SIZE];
    char szAside[PKG_PATH_SIZE];
    const char *szOutput;
    HANDLE hOutput;
    BYTE *pBuffer;
    DWORD dwAttributes;
    DWORD dwRemaining;
    DWORD dwWritten;
    DWORD n;
    int nStatus;

    if (PkgRead(hPkg, &header, sizeof header) != (int)sizeof header)
        return PKG_ERR_READ;

    // Only the attribute bits go to the platform: the rest of the word would be taken as creation flags
    // (delete on close, overlapped and the like) from a damaged package.
    dwAttributes = header.dwAttributes & PKG_ATTRIBUTES;
    // The file is written under a temporary name beside it and takes its place only when whole, so that
    // whatever stops the process midway, the real name holds the earlier file or the whole new one, never a
    // part. A path with no room for the temporary name is written in place, where replacing is allowed.
    szOutput = szFileName;
    if (StrCopy(szTemp, szFileName, sizeof szTemp) && StrAppend(szTemp, PKG_TEMP_SUFFIX, sizeof szTemp))
        szOutput = szTemp;
    else if (!bReplace) // written in place, it would replace what is there
        return PKG_ERR_CREATE;
    if (!StrCopy(szAside, szFileName, sizeof szAside) ||
        !StrAppend(szAside, PKG_ASIDE_SUFFIX, sizeof szAside))
        szAside[0] = EOS;
    hOutput = PkgCreateOutput(szOutput, dwAttributes);
    if (hOutput == INVALID_HANDLE_VALUE)
        return PKG_ERR_CREATE;

    pBuffer = (BYTE *)malloc(PKG_BUFFER_SIZE);
    if (pBuffer == NULL) {
        nStatus = PKG_ERR_MEMORY;
    } else {
        dwRemaining = header.dwSize;
        do {
            n = dwRemaining < PKG_BUFFER_SIZE ? dwRemaining : PKG_BUFFER_SIZE;
            if (PkgRead(hPkg, pBuffer, (int)n) != (int)n) {
                nStatus = PKG_ERR_READ;
                break;
            }
            if (!WriteFile(hOutput, pBuffer, n, &dwWritten, NULL) || dwWritten != n) {
                nStatus = PKG_ERR_WRITE;
                break;
            }
            nStatus = PKG_OK;
            dwRemaining -= n;
        } while (dwRemaining != 0);
        if (nStatus == PKG_OK &&
            !SetFileTime(hOutput, &header.ftCreationTime, &header.ftLastAccessTime, &header.ftLastWriteTime))
            nStatus = PKG_ERR_WRITE;
        free(pBuffer);
    }
    // A close that fails may not have stored everything.
    if (!CloseHandle(hOutput) && nStatus == PKG_OK)
        nStatus = PKG_ERR_WRITE;
    if (nStatus == PKG_OK && szOutput != szFileName && bReplace && !PkgReplace(szOutput, szFileName, szAside))
        nStatus = PKG_ERR_CREATE;
    if (nStatus == PKG_OK && !bReplace && !MoveFileExA(szOutput, szFileName, 0)) {
        DWORD nError = GetLastError();
        nStatus = (nError == ERROR_ALREADY_EXISTS || nError == ERROR_FILE_EXISTS) && PkgIsFile(szFileName)
                      ? PKG_EXISTS
                      : PKG_ERR_CREATE;
    }

    // A failed output is not kept; a read-only one has to lose that bit before it can be deleted.
    if (nStatus != PKG_OK) {
        if (dwAttributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesA(szOutput, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(szOutput);
    }
    return nStatus;
}

int PkgUnpackFile(int hPkg, const char *szFileName)
{
    ASSERT(szFileName != NULL);
    return PkgUnpack(hPkg, szFileName, 1);
}

int PkgUnpackNewFile(int hPkg, const char *szFileName)
{
    ASSERT(szFileName != NULL);
    return PkgUnpack(hPkg, szFileName, 0);
}

// ---------------------------------------------------------------------------------------------------------
// The sum

// The trailer's first and last 16 bytes. The first four bytes of the start mark, read as a header's
// attributes, have bits no packed file carries, so that no header is taken for it.
static const BYTE abPkgSumMark[PKG_SUM_MARK_SIZE] = {0xFF, 0xFF, 0xFF, 0xFF, 'K',  'A',  'L',  'S',
                                                     'U',  'M',  '\r', '\n', 0x1A, '\n', 0x00, 0x01};
static const BYTE abPkgSumEndMark[PKG_SUM_MARK_SIZE] = {0x01, 0x00, '\n', 0x1A, '\n', '\r', 'M',  'U',
                                                        'S',  'L',  'A',  'K',  0xFF, 0xFF, 0xFF, 0xFF};
// How many of a mark's 128 bits may be damaged for it still to be known (in proportion for a part): a mark
// with a flipped bit is a damaged sum, not bytes of no meaning. Honest headers are over 28 bits away.
#define PKG_SUM_NEAR_BITS 24
// What a file compressed in the platform's LZ format starts with.
static const BYTE abPkgLzMark[8] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};

#define PKG_HEADER_SIZE 32
// The trailer's bytes 28 to 31, where a header holds its size: a reader of entries that reads on into the
// trailer takes it for an entry larger than any (2 GiB or more) that the package ends inside.
#define PKG_SUM_NO_SIZE 0xFFFFFFFFu

struct PkgSum {
    XXH3_state_t *pEntry;         // the entry being read: its header and data
    BYTE abHead[PKG_HEADER_SIZE]; // the first bytes of an entry (or of the trailer), until there are 32
    int nHead;
    int bInData;    // reading an entry's data
    DWORD dwLeft;   // its bytes still to come
    int nEntries;   // whole entries read
    BYTE *pHashes;  // the hash of each whole entry, PKG_SUM_HASH_SIZE bytes each, up to PKG_SUM_MAX_ENTRIES
    int nCapacity;  // entries pHashes has room for
    int bTrailer;   // the start mark was met where an entry would start
    BYTE *pTrailer; // the trailer's bytes, PKG_SUM_SIZE(nEntries) at most
    int nTrailer;
    unsigned long long nAfter;      // bytes beyond the trailer's size
    BYTE abTail[PKG_SUM_MARK_SIZE]; // the package's last bytes
    unsigned long long nTotal;
    int bNoMemory;
    BYTE *pDamaged; // after PkgSumEnd, for each entry: 1 when it differs from its sum
};

// The number of bits in which the first nSize bytes of p and q differ.
static int PkgBitsApart(const BYTE *p, const BYTE *q, int nSize)
{
    int nBits = 0;

    for (int i = 0; i < nSize; i++) {
        unsigned x = (unsigned)(p[i] ^ q[i]);
        while (x != 0) {
            nBits += (int)(x & 1);
            x >>= 1;
        }
    }
    return nBits;
}

static int PkgNear(const BYTE *p, const BYTE *pMark, int nSize)
{
    return nSize > 0 && PkgBitsApart(p, pMark, nSize) <= PKG_SUM_NEAR_BITS * nSize / PKG_SUM_MARK_SIZE;
}

int PkgSumIsMark(const void *pData, int nSize)
{
    ASSERT(pData != NULL);
    ASSERT(nSize >= 0);
    return PkgNear((const BYTE *)pData, abPkgSumMark, nSize < PKG_SUM_MARK_SIZE ? nSize : PKG_SUM_MARK_SIZE);
}

static DWORD PkgGet32(const BYTE *p)
{
    return (DWORD)p[0] | (DWORD)p[1] << 8 | (DWORD)p[2] << 16 | (DWORD)p[3] << 24;
}

static void PkgPut32(BYTE *p, DWORD n)
{
    for (int i = 0; i < 4; i++)
        p[i] = (BYTE)(n >> (8 * i));
}

// The hash in its canonical form: 16 bytes, high half first, most significant byte first.
static void PkgPutHash(BYTE *p, XXH128_hash_t hash)
{
    XXH128_canonical_t canonical;

    XXH128_canonicalFromHash(&canonical, hash);
    memcpy(p, canonical.digest, PKG_SUM_HASH_SIZE);
}

PkgSum *PkgSumBegin(void)
{
    PkgSum *pSum = (PkgSum *)calloc(1, sizeof *pSum);

    if (pSum == NULL)
        return NULL;
    pSum->pEntry = XXH3_createState();
    if (pSum->pEntry == NULL) {
        PkgSumFree(pSum);
        return NULL;
    }
    return pSum;
}

void PkgSumFree(PkgSum *pSum)
{
    if (pSum == NULL)
        return;
    XXH3_freeState(pSum->pEntry);
    free(pSum->pHashes);
    free(pSum->pTrailer);
    free(pSum->pDamaged);
    free(pSum);
}

// The entry being read is whole: its hash is kept.
static void PkgSumEntryDone(PkgSum *pSum)
{
    pSum->bInData = 0;
    if (pSum->nEntries < PKG_SUM_MAX_ENTRIES) {
        if (pSum->nEntries == pSum->nCapacity) {
            int nNew = pSum->nCapacity == 0 ? 64 : 2 * pSum->nCapacity;
            BYTE *pNew = (BYTE *)realloc(pSum->pHashes, (size_t)nNew * PKG_SUM_HASH_SIZE);
            if (pNew == NULL) {
                pSum->bNoMemory = 1;
                return;
            }
            pSum->pHashes = pNew;
            pSum->nCapacity = nNew;
        }
        PkgPutHash(pSum->pHashes + (size_t)pSum->nEntries * PKG_SUM_HASH_SIZE,
                   XXH3_128bits_digest(pSum->pEntry));
    }
    pSum->nEntries++;
}

// 32 bytes have come where an entry would start: an entry's header, or the sum's start mark.
static void PkgSumHead(PkgSum *pSum)
{
    pSum->nHead = 0;
    if (PkgSumIsMark(pSum->abHead, PKG_SUM_MARK_SIZE)) {
        pSum->bTrailer = 1;
        if (pSum->nEntries > PKG_SUM_MAX_ENTRIES)
            return; // no sum covers so many: PkgSumEnd says it is damaged
        pSum->pTrailer = (BYTE *)malloc(PKG_SUM_SIZE((size_t)pSum->nEntries));
        if (pSum->pTrailer == NULL) {
            pSum->bNoMemory = 1;
            return;
        }
        memcpy(pSum->pTrailer, pSum->abHead, PKG_HEADER_SIZE);
        pSum->nTrailer = PKG_HEADER_SIZE;
        return;
    }
    XXH3_128bits_reset(pSum->pEntry);
    XXH3_128bits_update(pSum->pEntry, pSum->abHead, PKG_HEADER_SIZE);
    pSum->dwLeft = PkgGet32(pSum->abHead + 28);
    pSum->bInData = 1;
    if (pSum->dwLeft == 0)
        PkgSumEntryDone(pSum);
}

void PkgSumFeed(PkgSum *pSum, const void *pData, int nSize)
{
    const BYTE *p = (const BYTE *)pData;
    int n;

    ASSERT(pSum != NULL);
    ASSERT(pData != NULL);
    ASSERT(nSize >= 0);
    if (nSize >= PKG_SUM_MARK_SIZE) {
        memcpy(pSum->abTail, p + nSize - PKG_SUM_MARK_SIZE, PKG_SUM_MARK_SIZE);
    } else if (nSize > 0) {
        memmove(pSum->abTail, pSum->abTail + nSize, (size_t)(PKG_SUM_MARK_SIZE - nSize));
        memcpy(pSum->abTail + PKG_SUM_MARK_SIZE - nSize, p, (size_t)nSize);
    }
    pSum->nTotal += (unsigned)nSize;

    while (nSize > 0 && !pSum->bNoMemory) {
        if (pSum->bTrailer) {
            int nRoom =
                pSum->pTrailer == NULL ? 0 : (int)PKG_SUM_SIZE((size_t)pSum->nEntries) - pSum->nTrailer;
            n = nSize < nRoom ? nSize : nRoom;
            if (n > 0)
                memcpy(pSum->pTrailer + pSum->nTrailer, p, (size_t)n);
            pSum->nTrailer += n;
            pSum->nAfter += (unsigned)(nSize - n);
            return;
        }
        if (pSum->bInData) {
            n = pSum->dwLeft < (DWORD)nSize ? (int)pSum->dwLeft : nSize;
            XXH3_128bits_update(pSum->pEntry, p, (size_t)n);
            pSum->dwLeft -= (DWORD)n;
            if (pSum->dwLeft == 0)
                PkgSumEntryDone(pSum);
        } else {
            n = PKG_HEADER_SIZE - pSum->nHead;
            if (n > nSize)
                n = nSize;
            memcpy(pSum->abHead + pSum->nHead, p, (size_t)n);
            pSum->nHead += n;
            if (pSum->nHead == PKG_HEADER_SIZE)
                PkgSumHead(pSum);
        }
        p += n;
        nSize -= n;
    }
}

// The hash of the whole package's entries: of their hashes in order, so that each byte is hashed once.
static void PkgSumWhole(const PkgSum *pSum, BYTE *pOut)
{
    PkgPutHash(pOut, XXH3_128bits(pSum->pHashes, (size_t)pSum->nEntries * PKG_SUM_HASH_SIZE));
}

// The trailer is whole and nothing follows it: checks it, then the entries against it.
static int PkgSumTrailer(PkgSum *pSum)
{
    int nSize = (int)PKG_SUM_SIZE((size_t)pSum->nEntries);
    const BYTE *pT = pSum->pTrailer;
    const BYTE *pEntryHashes = pT + PKG_SUM_FIXED;
    const BYTE *pWholeHash = pEntryHashes + (size_t)pSum->nEntries * PKG_SUM_HASH_SIZE;
    BYTE abHash[PKG_SUM_HASH_SIZE];
    int nOutcome = PKG_SUM_OK;

    PkgPutHash(abHash, XXH3_128bits(pT, (size_t)(nSize - PKG_SUM_HASH_SIZE - PKG_SUM_MARK_SIZE)));
    if (memcmp(abHash, pWholeHash + PKG_SUM_HASH_SIZE, PKG_SUM_HASH_SIZE) != 0 ||
        memcmp(pT + nSize - PKG_SUM_MARK_SIZE, abPkgSumEndMark, PKG_SUM_MARK_SIZE) != 0 ||
        memcmp(pT, abPkgSumMark, PKG_SUM_MARK_SIZE) != 0 || PkgGet32(pT + 16) != PKG_SUM_ALGORITHM)
        return PKG_SUM_DAMAGED;
    if (PkgGet32(pT + 24) != (DWORD)nSize || PkgGet32(pT + 28) != PKG_SUM_NO_SIZE)
        return PKG_SUM_DAMAGED;
    if (PkgGet32(pT + 20) != (DWORD)pSum->nEntries)
        return PKG_SUM_MISMATCH;
    pSum->pDamaged = (BYTE *)calloc((size_t)pSum->nEntries + 1, 1);
    if (pSum->pDamaged == NULL)
        return PKG_SUM_MEMORY;
    for (int i = 0; i < pSum->nEntries; i++) {
        if (memcmp(pSum->pHashes + (size_t)i * PKG_SUM_HASH_SIZE,
                   pEntryHashes + (size_t)i * PKG_SUM_HASH_SIZE, PKG_SUM_HASH_SIZE) != 0) {
            pSum->pDamaged[i] = 1;
            nOutcome = PKG_SUM_MISMATCH;
        }
    }
    PkgSumWhole(pSum, abHash);
    if (memcmp(abHash, pWholeHash, PKG_SUM_HASH_SIZE) != 0)
        nOutcome = PKG_SUM_MISMATCH;
    return nOutcome;
}

int PkgSumEnd(PkgSum *pSum, int nNeeded)
{
    ASSERT(pSum != NULL);
    ASSERT(nNeeded >= 0);
    if (pSum->bNoMemory)
        return PKG_SUM_MEMORY;
    if (!pSum->bTrailer) {
        // Cut inside the sum's start mark.
        if (!pSum->bInData && PkgSumIsMark(pSum->abHead, pSum->nHead))
            return PKG_SUM_SHORT;
        // The sum's end is there, but no entry's end led to its start: a damaged header misled the reading.
        if (pSum->nTotal >= PKG_SUM_MARK_SIZE && PkgNear(pSum->abTail, abPkgSumEndMark, PKG_SUM_MARK_SIZE))
            return PKG_SUM_MISMATCH;
        if (nNeeded == 0)
            return pSum->bInData || pSum->nHead > 0 ? PKG_SUM_SHORT : PKG_SUM_NONE;
        return pSum->nEntries >= nNeeded ? PKG_SUM_NONE : PKG_SUM_SHORT;
    }
    if (pSum->nEntries > PKG_SUM_MAX_ENTRIES)
        return PKG_SUM_DAMAGED;
    if (pSum->nTrailer < (int)PKG_SUM_SIZE((size_t)pSum->nEntries))
        return PKG_SUM_SHORT;
    if (pSum->nAfter > 0)
        return PKG_SUM_EXTRA;
    return PkgSumTrailer(pSum);
}

int PkgSumEntries(const PkgSum *pSum)
{
    ASSERT(pSum != NULL);
    return pSum->nEntries;
}

int PkgSumEntryDamaged(const PkgSum *pSum, int i)
{
    ASSERT(pSum != NULL);
    return pSum->pDamaged != NULL && i >= 1 && i <= pSum->nEntries && pSum->pDamaged[i - 1];
}

int PkgCheck(const char *szFileName, int nNeeded)
{
    PkgSum *pSum;
    BYTE *pBuffer;
    int hPkg;
    int nOutcome;
    int n;

    ASSERT(szFileName != NULL);
    ASSERT(nNeeded >= 0);
    hPkg = PkgOpen(szFileName, 0);
    if (hPkg == 0)
        return PKG_SUM_OPEN;
    pSum = PkgSumBegin();
    pBuffer = (BYTE *)malloc(PKG_CHECK_BLOCK);
    if (pSum == NULL || pBuffer == NULL) {
        nOutcome = PKG_SUM_MEMORY;
        goto done;
    }
    for (;;) {
        n = PkgRead(hPkg, pBuffer, PKG_CHECK_BLOCK);
        if (n < 0) {
            nOutcome = PKG_SUM_READ;
            goto done;
        }
        if (n == 0)
            break;
        PkgSumFeed(pSum, pBuffer, n);
    }
    nOutcome = PkgSumEnd(pSum, nNeeded);
done:
    free(pBuffer);
    PkgSumFree(pSum);
    PkgClose(hPkg);
    return nOutcome;
}

int PkgAddSum(const char *szFileName)
{
    PkgSum *pSum = NULL;
    BYTE *pBuffer = NULL;
    BYTE *pT = NULL;
    HANDLE hFile;
    DWORD dwRead;
    DWORD dwWritten;
    BYTE abHead[sizeof abPkgLzMark];
    int nHead;
    int nSize;
    int nStatus;

    ASSERT(szFileName != NULL);
    hFile = CreateFileA(szFileName, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                        FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return PKG_ERR_OPEN;
    pSum = PkgSumBegin();
    pBuffer = (BYTE *)malloc(PKG_CHECK_BLOCK);
    if (pSum == NULL || pBuffer == NULL) {
        nStatus = PKG_ERR_MEMORY;
        goto done;
    }
    nHead = 0;
    do {
        if (!ReadFile(hFile, pBuffer, PKG_CHECK_BLOCK, &dwRead, NULL)) {
            nStatus = PKG_ERR_READ;
            goto done;
        }
        for (DWORD i = 0; i < dwRead && nHead < (int)sizeof abHead; i++)
            abHead[nHead++] = pBuffer[i];
        PkgSumFeed(pSum, pBuffer, (int)dwRead);
    } while (dwRead != 0);
    nStatus = PkgSumEnd(pSum, 0);
    // Bytes that open with the LZ mark are read expanded (LZInit), so a sum of them as they lie would never
    // be the sum the installer checks: a compressed package gets its sum before it is compressed.
    if (nStatus != PKG_SUM_NONE || pSum->nEntries > PKG_SUM_MAX_ENTRIES ||
        (nHead == (int)sizeof abHead && memcmp(abHead, abPkgLzMark, sizeof abHead) == 0)) {
        nStatus = nStatus == PKG_SUM_MEMORY ? PKG_ERR_MEMORY : PKG_ERR_READ;
        goto done;
    }

    nSize = (int)PKG_SUM_SIZE((size_t)pSum->nEntries);
    pT = (BYTE *)malloc((size_t)nSize);
    if (pT == NULL) {
        nStatus = PKG_ERR_MEMORY;
        goto done;
    }
    memcpy(pT, abPkgSumMark, PKG_SUM_MARK_SIZE);
    PkgPut32(pT + 16, PKG_SUM_ALGORITHM);
    PkgPut32(pT + 20, (DWORD)pSum->nEntries);
    PkgPut32(pT + 24, (DWORD)nSize);
    PkgPut32(pT + 28, PKG_SUM_NO_SIZE);
    if (pSum->nEntries > 0)
        memcpy(pT + PKG_SUM_FIXED, pSum->pHashes, (size_t)pSum->nEntries * PKG_SUM_HASH_SIZE);
    nStatus = PKG_SUM_FIXED + pSum->nEntries * PKG_SUM_HASH_SIZE; // where the hash of the whole goes
    PkgSumWhole(pSum, pT + nStatus);
    PkgPutHash(pT + nStatus + PKG_SUM_HASH_SIZE, XXH3_128bits(pT, (size_t)(nStatus + PKG_SUM_HASH_SIZE)));
    memcpy(pT + nSize - PKG_SUM_MARK_SIZE, abPkgSumEndMark, PKG_SUM_MARK_SIZE);
    // The reading left the file's pointer at its end.
    nStatus = WriteFile(hFile, pT, (DWORD)nSize, &dwWritten, NULL) && dwWritten == (DWORD)nSize
                  ? PKG_OK
                  : PKG_ERR_WRITE;
done:
    if (!CloseHandle(hFile) && nStatus == PKG_OK)
        nStatus = PKG_ERR_WRITE;
    free(pT);
    free(pBuffer);
    PkgSumFree(pSum);
    return nStatus;
}

// ---------------------------------------------------------------------------------------------------------
// The size for the progress

DWORD PkgExpandedSize(const char *szPackagePath)
{
    BYTE abHeader[14]; // the mark, the method, the last character, the expanded size
    DWORD dwRead = 0;
    DWORD dwSize;
    HANDLE hFile;

    ASSERT(szPackagePath != NULL);
    hFile = CreateFileA(szPackagePath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return 0;
    dwSize = GetFileSize(hFile, NULL);
    if (dwSize == INVALID_FILE_SIZE)
        dwSize = 0;
    if (!ReadFile(hFile, abHeader, sizeof abHeader, &dwRead, NULL))
        dwSize = 0;
    CloseHandle(hFile);
    if (dwRead != sizeof abHeader)
        return dwSize;
    if (memcmp(abHeader, abPkgLzMark, sizeof abPkgLzMark) == 0)
        dwSize = (DWORD)abHeader[10] | (DWORD)abHeader[11] << 8 | (DWORD)abHeader[12] << 16 |
                 (DWORD)abHeader[13] << 24;
    return dwSize;
}
