// lz.cpp - LZ expansion for the Linux build: _lopen file numbers over the platform's file handles, and
// LZInit, LZOpenFileA, LZRead and LZClose, which read a plain file unchanged and an SZDD file expanded, as a
// stream through a fixed window and input buffer, whatever the file's size.
//
// The parts of this file, in order:
//   state       the table of LZ handles (an HFILE from _lopen, or one of LzState for a compressed file)
//   reading     plain and compressed reads through the window, the compressed name (x.tx_)
//   Win32       _lopen, _lclose, LZInit, LZOpenFileA, LZRead, LZClose, each a traced call of the
//               fault switch
// The SZDD header and decoder are szdd.cpp's.

#include "kernel/kernel.h"
#include "lz/szdd.h"

#include <lzexpand.h>

#include <string.h>

#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace plat
{
namespace
{

// A file number from _lopen is 1..kMaxFiles; an LZ handle is kLzBase and up, as on the platform.
const int kMaxFiles = 0x3FF;
const int kLzBase = 0x400;
const int kMaxStates = 0x400;
const size_t kInputSize = 0x10000;

struct LzState {
    HFILE hFile;
    bool bCompressed;
    bool bEnd;    // the file has no more bytes to give
    bool bFailed; // a read of the file failed, or the compressed data ended before the header's length
    // A plain file: the bytes LZInit read while looking for a header, handed out first.
    unsigned char aHead[szdd::kHeaderSize];
    size_t nHead;
    size_t nHeadUsed;
    // A compressed file: the decoder and the compressed bytes read but not yet decoded.
    szdd::Decoder decoder;
    std::vector<unsigned char> aIn;
    size_t nInStart;
    size_t nInEnd;
};

std::mutex mxLz;
std::vector<HANDLE> aFiles;                    // by file number - 1; null when free
std::vector<std::unique_ptr<LzState>> aStates; // by LZ handle - kLzBase; null when free

HANDLE FileHandle(HFILE hFile)
{
    std::lock_guard<std::mutex> lock(mxLz);
    if (hFile < 1 || hFile > (HFILE)aFiles.size())
        return NULL;
    return aFiles[hFile - 1];
}

LzState *State(INT hLz)
{
    std::lock_guard<std::mutex> lock(mxLz);
    if (hLz < kLzBase || hLz - kLzBase >= (INT)aStates.size())
        return nullptr;
    return aStates[hLz - kLzBase].get();
}

// The full Windows path of a file number's file, for the fault switch; empty for a number not open.
std::string FilePath(HFILE hFile)
{
    HANDLE h = FileHandle(hFile);
    KernelObject *p = h != NULL ? LookupHandle(h) : nullptr;
    return p != nullptr ? p->WindowsPath() : std::string();
}

// The full form of a path, or the text as given when it has none.
std::string FullOrAsGiven(LPCSTR psz)
{
    std::string sFull;
    if (psz == nullptr)
        return std::string();
    return FullPathName(psz, &sFull) ? sFull : std::string(psz);
}

// Reads until nBytes have come or the file ends; -1 when the platform fails.
long ReadFull(HANDLE h, void *pBuffer, size_t nBytes)
{
    size_t nDone = 0;
    while (nDone < nBytes) {
        DWORD n = 0;
        if (!ReadFile(h, (char *)pBuffer + nDone, (DWORD)(nBytes - nDone), &n, NULL))
            return -1;
        if (n == 0)
            break;
        nDone += n;
    }
    return (long)nDone;
}

INT ReadPlain(LzState *pState, HANDLE h, char *pBuffer, INT nBytes)
{
    size_t nDone = 0;
    while (pState->nHeadUsed < pState->nHead && nDone < (size_t)nBytes)
        pBuffer[nDone++] = (char)pState->aHead[pState->nHeadUsed++];
    long n = ReadFull(h, pBuffer + nDone, (size_t)nBytes - nDone);
    if (n < 0)
        return LZERROR_READ;
    return (INT)(nDone + (size_t)n);
}

INT ReadCompressed(LzState *pState, HANDLE h, char *pBuffer, INT nBytes)
{
    unsigned char *pOut = (unsigned char *)pBuffer;
    size_t nDone = 0;

    if (pState->bFailed)
        return LZERROR_READ;
    while (nDone < (size_t)nBytes && !szdd::DecoderFinished(&pState->decoder)) {
        size_t nUsed = 0;
        size_t n =
            szdd::Decode(&pState->decoder, pState->aIn.data() + pState->nInStart,
                         pState->nInEnd - pState->nInStart, &nUsed, pOut + nDone, (size_t)nBytes - nDone);
        pState->nInStart += nUsed;
        nDone += n;
        if (n > 0 || nUsed > 0)
            continue;
        // The decoder needs more input than is held (at most one byte of a match is left over).
        if (pState->bEnd)
            break;
        size_t nLeft = pState->nInEnd - pState->nInStart;
        memmove(pState->aIn.data(), pState->aIn.data() + pState->nInStart, nLeft);
        pState->nInStart = 0;
        pState->nInEnd = nLeft;
        long nRead = ReadFull(h, pState->aIn.data() + nLeft, pState->aIn.size() - nLeft);
        if (nRead < 0) {
            pState->bFailed = true;
            return LZERROR_READ;
        }
        if (nRead == 0)
            pState->bEnd = true;
        pState->nInEnd += (size_t)nRead;
    }
    if (nDone < (size_t)nBytes && !szdd::DecoderFinished(&pState->decoder)) {
        // Truncated: what could be decoded is handed out, and the next read reports the error.
        pState->bFailed = true;
        if (nDone == 0)
            return LZERROR_READ;
    }
    return (INT)nDone;
}

// The name LZOpenFileA tries when a file is missing: the last character of its extension replaced with an
// underscore, as the compression tool names its output ("SETUP.EXE" -> "SETUP.EX_", "A.C" -> "A.C_").
std::string CompressedName(const std::string &sName)
{
    size_t nSlash = sName.find_last_of("\\/:");
    size_t nDot = sName.rfind('.');
    if (nDot == std::string::npos || (nSlash != std::string::npos && nDot < nSlash))
        return sName + "._";
    if (sName.size() - nDot - 1 < 3)
        return sName + "_";
    return sName.substr(0, sName.size() - 1) + "_";
}

} // namespace
} // namespace plat

// The calls below check the fault switch with the file's full path and fail as when the file fails.

static HFILE _lopenImpl(LPCSTR lpPathName, int iReadWrite)
{
    DWORD dwAccess;
    DWORD dwShare;
    DWORD nError;

    if (plat::InjectedFault("_lopen", plat::FullOrAsGiven(lpPathName), &nError)) {
        SetLastError(nError);
        return HFILE_ERROR;
    }
    if (lpPathName == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return HFILE_ERROR;
    }
    switch (iReadWrite & 3) {
    case OF_WRITE:
        dwAccess = GENERIC_WRITE;
        break;
    case OF_READWRITE:
        dwAccess = GENERIC_READ | GENERIC_WRITE;
        break;
    default:
        dwAccess = GENERIC_READ;
        break;
    }
    switch (iReadWrite & 0x70) {
    case OF_SHARE_EXCLUSIVE:
        dwShare = 0;
        break;
    case OF_SHARE_DENY_WRITE:
        dwShare = FILE_SHARE_READ;
        break;
    case OF_SHARE_DENY_READ:
        dwShare = FILE_SHARE_WRITE;
        break;
    default:
        dwShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
        break;
    }
    HANDLE h = CreateFileA(lpPathName, dwAccess, dwShare, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return HFILE_ERROR;

    std::lock_guard<std::mutex> lock(plat::mxLz);
    for (size_t i = 0; i < plat::aFiles.size(); i++) {
        if (plat::aFiles[i] == NULL) {
            plat::aFiles[i] = h;
            return (HFILE)(i + 1);
        }
    }
    if ((int)plat::aFiles.size() < plat::kMaxFiles) {
        plat::aFiles.push_back(h);
        return (HFILE)plat::aFiles.size();
    }
    CloseHandle(h);
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return HFILE_ERROR;
}

HFILE WINAPI _lopen(LPCSTR lpPathName, int iReadWrite)
{
    plat::TracedCall call("_lopen");
    HFILE h = _lopenImpl(lpPathName, iReadWrite);
    return call.Value(h, h != HFILE_ERROR);
}

// The fault switch makes it report an error; the file is closed all the same, as CloseHandle does.
static HFILE _lcloseImpl(HFILE hFile)
{
    HANDLE h;
    DWORD nError;
    bool bFault = plat::InjectedFault("_lclose", plat::FilePath(hFile), &nError);
    {
        std::lock_guard<std::mutex> lock(plat::mxLz);
        if (hFile < 1 || hFile > (HFILE)plat::aFiles.size() || plat::aFiles[hFile - 1] == NULL) {
            SetLastError(ERROR_INVALID_HANDLE);
            return HFILE_ERROR;
        }
        h = plat::aFiles[hFile - 1];
        plat::aFiles[hFile - 1] = NULL;
    }
    if (!CloseHandle(h))
        return HFILE_ERROR;
    if (bFault) {
        SetLastError(nError);
        return HFILE_ERROR;
    }
    return 0;
}

HFILE WINAPI _lclose(HFILE hFile)
{
    plat::TracedCall call("_lclose");
    HFILE n = _lcloseImpl(hFile);
    return call.Value(n, n != HFILE_ERROR);
}

static INT LZInitImpl(INT hfSource)
{
    DWORD nError;
    if (plat::InjectedFault("LZInit", plat::FilePath(hfSource), &nError)) {
        SetLastError(nError);
        return LZERROR_READ;
    }
    HANDLE h = plat::FileHandle(hfSource);
    if (h == NULL)
        return LZERROR_BADINHANDLE;

    std::unique_ptr<plat::LzState> pState(new (std::nothrow) plat::LzState);
    if (!pState)
        return LZERROR_GLOBALLOC;
    long n = plat::ReadFull(h, pState->aHead, sizeof pState->aHead);
    if (n < 0)
        return LZERROR_READ;
    uint32_t nLength = 0;
    switch (szdd::ParseHeader(pState->aHead, (size_t)n, &nLength, NULL)) {
    case szdd::kUnknownMode:
        return LZERROR_UNKNOWNALG;
    case szdd::kPlain:
        pState->bCompressed = false;
        pState->nHead = (size_t)n;
        break;
    case szdd::kCompressed:
        pState->bCompressed = true;
        pState->nHead = 0;
        szdd::DecoderInit(&pState->decoder, nLength);
        try {
            pState->aIn.resize(plat::kInputSize);
        } catch (const std::bad_alloc &) {
            return LZERROR_GLOBALLOC;
        }
        break;
    }
    pState->hFile = hfSource;
    pState->bEnd = false;
    pState->bFailed = false;
    pState->nHeadUsed = 0;
    pState->nInStart = 0;
    pState->nInEnd = 0;

    std::lock_guard<std::mutex> lock(plat::mxLz);
    for (size_t i = 0; i < plat::aStates.size(); i++) {
        if (!plat::aStates[i]) {
            plat::aStates[i] = std::move(pState);
            return plat::kLzBase + (INT)i;
        }
    }
    if ((int)plat::aStates.size() >= plat::kMaxStates)
        return LZERROR_GLOBALLOC;
    plat::aStates.push_back(std::move(pState));
    return plat::kLzBase + (INT)plat::aStates.size() - 1;
}

INT WINAPI LZInit(INT hfSource)
{
    plat::TracedCall call("LZInit");
    return call.LzResult(LZInitImpl(hfSource));
}

static INT LZOpenFileAImpl(LPSTR lpFileName, LPOFSTRUCT lpReOpenBuf, WORD wStyle)
{
    char szFull[MAX_PATH];
    OFSTRUCT of;
    DWORD nError;

    if (lpReOpenBuf == NULL)
        lpReOpenBuf = &of;
    memset(lpReOpenBuf, 0, sizeof *lpReOpenBuf);
    lpReOpenBuf->cBytes = sizeof *lpReOpenBuf;
    lpReOpenBuf->fFixedDisk = 1;
    if (plat::InjectedFault("LZOpenFileA", plat::FullOrAsGiven(lpFileName), &nError)) {
        lpReOpenBuf->nErrCode = (WORD)nError;
        SetLastError(nError);
        return LZERROR_BADINHANDLE;
    }
    if (lpFileName == NULL)
        return LZERROR_BADINHANDLE;

    // The file name record holds 128 bytes: a longer full path does not open, as on the platform.
    std::string sName = lpFileName;
    HFILE hFile = HFILE_ERROR;
    for (int nTry = 0; nTry < 2 && hFile == HFILE_ERROR; nTry++) {
        if (nTry == 1)
            sName = plat::CompressedName(lpFileName);
        DWORD n = GetFullPathNameA(sName.c_str(), sizeof szFull, szFull, NULL);
        if (n == 0 || n >= sizeof szFull)
            strncpy(szFull, sName.c_str(), sizeof szFull - 1), szFull[sizeof szFull - 1] = '\0';
        if (strlen(szFull) >= OFS_MAXPATHNAME) {
            SetLastError(ERROR_INVALID_PARAMETER);
            continue;
        }
        hFile = _lopen(sName.c_str(), wStyle & 0x73);
        if (hFile != HFILE_ERROR)
            strcpy(lpReOpenBuf->szPathName, szFull);
    }
    if (hFile == HFILE_ERROR) {
        lpReOpenBuf->nErrCode = (WORD)GetLastError();
        return LZERROR_BADINHANDLE;
    }
    if ((wStyle & 3) != OF_READ)
        return hFile;
    INT hLz = LZInit(hFile);
    if (hLz < 0)
        _lclose(hFile);
    return hLz;
}

INT WINAPI LZOpenFileA(LPSTR lpFileName, LPOFSTRUCT lpReOpenBuf, WORD wStyle)
{
    plat::TracedCall call("LZOpenFileA");
    return call.LzResult(LZOpenFileAImpl(lpFileName, lpReOpenBuf, wStyle));
}

static INT LZReadImpl(INT hFile, LPSTR lpBuffer, INT cbRead)
{
    plat::LzState *pState = plat::State(hFile);
    DWORD nError;
    if (plat::InjectedFault("LZRead", plat::FilePath(pState != nullptr ? pState->hFile : hFile), &nError)) {
        SetLastError(nError);
        return LZERROR_READ;
    }
    if (cbRead < 0 || (lpBuffer == NULL && cbRead > 0))
        return LZERROR_BADVALUE;
    if (pState == nullptr) {
        // A file number that was not handed to LZInit reads as it is.
        HANDLE h = plat::FileHandle(hFile);
        if (h == NULL)
            return LZERROR_BADINHANDLE;
        long n = plat::ReadFull(h, lpBuffer, (size_t)cbRead);
        return n < 0 ? LZERROR_READ : (INT)n;
    }
    HANDLE h = plat::FileHandle(pState->hFile);
    if (h == NULL)
        return LZERROR_BADINHANDLE;
    if (cbRead == 0)
        return 0;
    if (!pState->bCompressed)
        return plat::ReadPlain(pState, h, lpBuffer, cbRead);
    return plat::ReadCompressed(pState, h, lpBuffer, cbRead);
}

INT WINAPI LZRead(INT hFile, LPSTR lpBuffer, INT cbRead)
{
    plat::TracedCall call("LZRead");
    return call.LzResult(LZReadImpl(hFile, lpBuffer, cbRead));
}

// It cannot fail: the fault switch is checked by the _lclose it makes.
void WINAPI LZClose(INT hFile)
{
    std::unique_ptr<plat::LzState> pState;
    {
        std::lock_guard<std::mutex> lock(plat::mxLz);
        if (hFile >= plat::kLzBase && hFile - plat::kLzBase < (INT)plat::aStates.size())
            pState = std::move(plat::aStates[hFile - plat::kLzBase]);
    }
    _lclose(pState ? pState->hFile : hFile);
}
