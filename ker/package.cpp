// package.cpp - the installation package: a table of eight streams over the platform's files and its LZ
// expansion, and the packing and unpacking of whole files as entries of header and data.

#include "package.h"
#include "charstr.h"
#include "sysassert.h"

#include <stdlib.h>

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
