// res.cpp - resources for the Linux build: the program carries the compiled resource script as a .res
// image; string and bitmap resources are found in it by type and id, as on Windows. Bitmaps are GDI objects
// that can be copied to another size; the screen's device context tells its resolution.

#include "user/user.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>
#include <set>

#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L

namespace plat {

static uint32_t Get32(const unsigned char *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static uint16_t Get16(const unsigned char *p)
{
    return (uint16_t)(p[0] | p[1] << 8);
}

// Matches one name field of a resource header (an ordinal 0xFFFF id, or a UTF-16 string) against a type
// or name given as MAKEINTRESOURCE or as a string ("#123" names the ordinal 123). Advances p past the field;
// false when the field runs past pEnd.
static bool MatchField(const unsigned char *&p, const unsigned char *pEnd, LPCSTR pszWanted, bool &bMatch)
{
    if (p + 2 > pEnd)
        return false;
    bool bWantId = IS_INTRESOURCE(pszWanted);
    unsigned nWantId = bWantId ? (unsigned)(ULONG_PTR)pszWanted : 0;
    if (!bWantId && pszWanted[0] == '#') {
        bWantId = true;
        nWantId = (unsigned)atoi(pszWanted + 1);
    }
    if (Get16(p) == 0xFFFF) {
        if (p + 4 > pEnd)
            return false;
        bMatch = bWantId && Get16(p + 2) == nWantId;
        p += 4;
        return true;
    }
    bMatch = !bWantId;
    size_t i = 0;
    for (;;) {
        if (p + 2 > pEnd)
            return false;
        uint16_t w = Get16(p);
        p += 2;
        if (w == 0)
            break;
        if (bMatch) {
            unsigned char c = (unsigned char)pszWanted[i];
            if (c == 0 || w >= 0x80 || toupper(c) != toupper(w))
                bMatch = false;
            i++;
        }
    }
    if (bMatch && pszWanted[i] != 0)
        bMatch = false;
    return true;
}

const void *FindResourceData(HINSTANCE h, LPCSTR pszType, LPCSTR pszName, DWORD *pnSize)
{
    Module *pModule = ModuleFromHandle(h);
    if (pModule == nullptr || pModule->pRes == nullptr) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    const unsigned char *pEnd = pModule->pRes + pModule->nRes;
    const unsigned char *pEntry = pModule->pRes;
    while (pEntry + 8 <= pEnd) {
        uint32_t nData = Get32(pEntry);
        uint32_t nHeader = Get32(pEntry + 4);
        if (nHeader < 8 || nHeader > (size_t)(pEnd - pEntry) || nData > (size_t)(pEnd - pEntry) - nHeader)
            break;
        const unsigned char *p = pEntry + 8;
        bool bType = false, bName = false;
        if (!MatchField(p, pEntry + nHeader, pszType, bType) || !MatchField(p, pEntry + nHeader, pszName, bName))
            break;
        if (bType && bName && nData > 0) {
            if (pnSize != nullptr)
                *pnSize = nData;
            return pEntry + nHeader;
        }
        size_t nNext = ((size_t)nHeader + nData + 3) & ~(size_t)3;
        if (nNext > (size_t)(pEnd - pEntry))
            break;
        pEntry += nNext;
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

static std::mutex mxGdi;
static std::set<GdiObject *> setGdi;

Bitmap *BitmapFromHandle(HGDIOBJ h)
{
    std::lock_guard<std::mutex> lock(mxGdi);
    if (setGdi.count((GdiObject *)h) == 0)
        return nullptr;
    return dynamic_cast<Bitmap *>((GdiObject *)h);
}

int LiveGdiObjects()
{
    std::lock_guard<std::mutex> lock(mxGdi);
    return (int)setGdi.size();
}

// Decodes a packed DIB (header, colour table, bits) of 1, 4, 8, 24 or 32 bits per pixel, uncompressed.
static Bitmap *DecodeDib(const unsigned char *p, DWORD nSize)
{
    if (nSize < 40 || Get32(p) < 40 || Get32(p) > nSize)
        return nullptr;
    uint32_t nHeader = Get32(p);
    int32_t nWidth = (int32_t)Get32(p + 4);
    int32_t nHeight = (int32_t)Get32(p + 8);
    uint16_t nBits = Get16(p + 14);
    uint32_t nCompression = Get32(p + 16);
    uint32_t nColours = Get32(p + 32);
    bool bTopDown = nHeight < 0;
    if (bTopDown)
        nHeight = -nHeight;
    if (nCompression != 0 || nWidth <= 0 || nHeight <= 0 || nWidth > 16384 || nHeight > 16384)
        return nullptr;
    if (nBits != 1 && nBits != 4 && nBits != 8 && nBits != 24 && nBits != 32)
        return nullptr;
    if (nBits <= 8 && (nColours == 0 || nColours > (1u << nBits)))
        nColours = 1u << nBits;
    if (nBits > 8)
        nColours = 0;
    size_t nStride = (((size_t)nWidth * nBits + 31) / 32) * 4;
    size_t nBitsAt = nHeader + (size_t)nColours * 4;
    if (nBitsAt > nSize || nStride * (size_t)nHeight > nSize - nBitsAt)
        return nullptr;
    const unsigned char *pPalette = p + nHeader;
    const unsigned char *pBits = p + nBitsAt;

    Bitmap *pBitmap = new Bitmap;
    pBitmap->nWidth = nWidth;
    pBitmap->nHeight = nHeight;
    pBitmap->nBitsPixel = nBits;
    pBitmap->aPixels.resize((size_t)nWidth * nHeight);
    for (int y = 0; y < nHeight; y++) {
        const unsigned char *pRow = pBits + nStride * (size_t)(bTopDown ? y : nHeight - 1 - y);
        for (int x = 0; x < nWidth; x++) {
            uint32_t rgb;
            if (nBits <= 8) {
                unsigned nIndex;
                if (nBits == 8)
                    nIndex = pRow[x];
                else if (nBits == 4)
                    nIndex = (x & 1) ? pRow[x / 2] & 0x0F : pRow[x / 2] >> 4;
                else
                    nIndex = (pRow[x / 8] >> (7 - x % 8)) & 1;
                const unsigned char *q = pPalette + 4 * (nIndex < nColours ? nIndex : 0);
                rgb = (uint32_t)q[2] << 16 | (uint32_t)q[1] << 8 | q[0];
            } else {
                const unsigned char *q = pRow + (size_t)x * (nBits / 8);
                rgb = (uint32_t)q[2] << 16 | (uint32_t)q[1] << 8 | q[0];
            }
            pBitmap->aPixels[(size_t)y * nWidth + x] = rgb;
        }
    }
    return pBitmap;
}

} // namespace plat

namespace plat
{

// The string uID of its block of 16 in the module's resources: its UTF-16 characters (not terminated) and
// their number, which is 0 when the string is missing or empty. False when the block is missing or damaged.
static bool FindString(HINSTANCE hInstance, UINT uID, const unsigned char **ppChars, size_t *pnLength)
{
    DWORD nSize = 0;
    const unsigned char *p;

    *ppChars = nullptr;
    *pnLength = 0;
    if (uID > 0xFFFF)
        return false;
    p = (const unsigned char *)FindResourceData(hInstance, RT_STRING, MAKEINTRESOURCEA((uID >> 4) + 1),
                                                &nSize);
    if (p == nullptr)
        return false;
    // A block holds 16 strings, each a length followed by that many UTF-16 characters.
    const unsigned char *pEnd = p + nSize;
    for (UINT i = 0; i < (uID & 15); i++) {
        if (p + 2 > pEnd)
            return false;
        p += 2 + 2 * (size_t)Get16(p);
    }
    if (p + 2 > pEnd)
        return false;
    size_t nLength = Get16(p);
    if (p + 2 + 2 * nLength > pEnd)
        return false;
    if (nLength == 0)
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    *ppChars = p + 2;
    *pnLength = nLength;
    return true;
}

} // namespace plat

// The string in the ANSI code page: a character the code page does not hold becomes '?'.
int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax)
{
    const unsigned char *p;
    size_t nLength;

    if (lpBuffer == NULL || cchBufferMax <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    lpBuffer[0] = '\0';
    if (!plat::FindString(hInstance, uID, &p, &nLength) || nLength == 0)
        return 0;
    std::string sAnsi;
    for (size_t i = 0; i < nLength; i++) {
        int b = plat::UnicodeToAnsi((char16_t)plat::Get16(p + 2 * i));
        sAnsi += (char)(b < 0 ? '?' : b);
    }
    size_t nCopy = sAnsi.size() < (size_t)cchBufferMax - 1 ? sAnsi.size() : (size_t)cchBufferMax - 1;
    memcpy(lpBuffer, sAnsi.data(), nCopy);
    lpBuffer[nCopy] = '\0';
    return (int)nCopy;
}

// The string in UTF-16, cut to cchBufferMax - 1 characters and terminated. With cchBufferMax 0 the buffer
// receives a read-only pointer to the string in the resource itself, which is not terminated, and the
// result is its length.
int WINAPI LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax)
{
    const unsigned char *p;
    size_t nLength;

    if (lpBuffer == NULL || cchBufferMax < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (!plat::FindString(hInstance, uID, &p, &nLength)) {
        if (cchBufferMax == 0)
            *(const WCHAR **)lpBuffer = nullptr;
        else
            lpBuffer[0] = 0;
        return 0;
    }
    if (cchBufferMax == 0) {
        // The resource's bytes are UTF-16LE, as WCHAR is on the hosts this layer runs on.
        *(const WCHAR **)lpBuffer = (const WCHAR *)(const void *)p;
        return (int)nLength;
    }
    size_t nCopy = nLength < (size_t)cchBufferMax - 1 ? nLength : (size_t)cchBufferMax - 1;
    for (size_t i = 0; i < nCopy; i++)
        lpBuffer[i] = (WCHAR)plat::Get16(p + 2 * i);
    lpBuffer[nCopy] = 0;
    return (int)nCopy;
}

HBITMAP WINAPI LoadBitmapA(HINSTANCE hInstance, LPCSTR lpBitmapName)
{
    DWORD nSize = 0;
    const void *p = plat::FindResourceData(hInstance, RT_BITMAP, lpBitmapName, &nSize);
    if (p == nullptr)
        return NULL;
    plat::Bitmap *pBitmap = plat::DecodeDib((const unsigned char *)p, nSize);
    if (pBitmap == nullptr) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return NULL;
    }
    std::lock_guard<std::mutex> lock(plat::mxGdi);
    plat::setGdi.insert(pBitmap);
    return (HBITMAP)(plat::GdiObject *)pBitmap;
}

BOOL WINAPI DeleteObject(HGDIOBJ ho)
{
    std::lock_guard<std::mutex> lock(plat::mxGdi);
    if (plat::setGdi.erase((plat::GdiObject *)ho) == 0)
        return FALSE;
    delete (plat::GdiObject *)ho;
    return TRUE;
}

int WINAPI GetObjectA(HGDIOBJ h, int c, LPVOID pv)
{
    plat::Bitmap *pBitmap = plat::BitmapFromHandle(h);
    if (pBitmap == nullptr)
        return 0;
    if (pv == NULL)
        return (int)sizeof(BITMAP);
    if (c < (int)sizeof(BITMAP))
        return 0;
    BITMAP bm;
    memset(&bm, 0, sizeof bm);
    bm.bmWidth = pBitmap->nWidth;
    bm.bmHeight = pBitmap->nHeight;
    bm.bmWidthBytes = ((pBitmap->nWidth * pBitmap->nBitsPixel + 15) / 16) * 2;
    bm.bmPlanes = 1;
    bm.bmBitsPixel = (WORD)pBitmap->nBitsPixel;
    memcpy(pv, &bm, sizeof bm);
    return (int)sizeof bm;
}

HANDLE WINAPI CopyImage(HANDLE h, UINT type, int cx, int cy, UINT flags)
{
    (void)flags;
    plat::Bitmap *pFrom = type == IMAGE_BITMAP ? plat::BitmapFromHandle((HGDIOBJ)h) : nullptr;
    if (pFrom == nullptr || cx < 0 || cy < 0 || cx > 16384 || cy > 16384) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    plat::Bitmap *pTo = new plat::Bitmap;
    pTo->nWidth = cx != 0 ? cx : pFrom->nWidth;
    pTo->nHeight = cy != 0 ? cy : pFrom->nHeight;
    pTo->nBitsPixel = pFrom->nBitsPixel;
    pTo->aPixels.resize((size_t)pTo->nWidth * pTo->nHeight);
    // Each pixel of the copy takes the colour of the one its centre falls on.
    for (int y = 0; y < pTo->nHeight; y++) {
        int yFrom = (int)(((int64_t)y * 2 + 1) * pFrom->nHeight / (2 * (int64_t)pTo->nHeight));
        for (int x = 0; x < pTo->nWidth; x++) {
            int xFrom = (int)(((int64_t)x * 2 + 1) * pFrom->nWidth / (2 * (int64_t)pTo->nWidth));
            pTo->aPixels[(size_t)y * pTo->nWidth + x] = pFrom->aPixels[(size_t)yFrom * pFrom->nWidth + xFrom];
        }
    }
    std::lock_guard<std::mutex> lock(plat::mxGdi);
    plat::setGdi.insert(pTo);
    return (HANDLE)(plat::GdiObject *)pTo;
}

// The one device context: the screen's.
static char theScreenDc;

HDC WINAPI GetDC(HWND hWnd)
{
    (void)hWnd;
    return (HDC)&theScreenDc;
}

int WINAPI ReleaseDC(HWND hWnd, HDC hDC)
{
    (void)hWnd;
    return hDC == (HDC)&theScreenDc;
}

int WINAPI GetDeviceCaps(HDC hdc, int index)
{
    if (hdc != (HDC)&theScreenDc)
        return 0;
    return index == LOGPIXELSX || index == LOGPIXELSY ? 96 : 0;
}
