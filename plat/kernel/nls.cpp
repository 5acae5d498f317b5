// nls.cpp - national-language support for the Linux build: the ANSI code page 1251 of a Russian machine
// (or 1252, of a Western one, when PLAT_ACP asks for it), its character types and one-character case mapping
// (the platform's own tables), locale comparison, and conversion between the code pages, UTF-16 and UTF-8.
//
// The parts of this file, in order:
//   tables      the character types, upper and lower case, and Unicode of every byte of code page 1251
//   code page   the machine's ANSI code page; AnsiToUnicode, UnicodeToAnsi; UTF-8 encoded and decoded
//               (NextUtf8 never reads past the length it is given), AnsiToUtf8, Utf8ToAnsi; the windows'
//               texts (TextToUtf8 and the others)
//   Win32       GetACP, GetStringTypeA, LCMapStringA; CompareStringA by the collation's levels (letters,
//               then word-sort marks, then case); MultiByteToWideChar, WideCharToMultiByte
//   names       UpperName and SameName, names compared as the file system compares them

#include "kernel/kernel.h"

#include <string.h>

#define ERROR_INVALID_FLAGS 1004L
#define ERROR_NO_UNICODE_TRANSLATION 1113L

// The platform's CT_CTYPE1 words and case mappings for every byte of code page 1251, and the byte's
// Unicode character (0x98, unassigned in the code page, maps to U+0098 as on the platform).
static const WORD aCtype1[256] = {
    0x220, 0x220, 0x220, 0x220, 0x220, 0x220, 0x220, 0x220, 0x220, 0x268, 0x228, 0x228,
    0x228, 0x228, 0x220, 0x220, 0x220, 0x220, 0x220, 0x220, 0x220, 0x220, 0x220, 0x220,
    0x220, 0x220, 0x220, 0x220, 0x220, 0x220, 0x220, 0x220, 0x248, 0x210, 0x210, 0x210,
    0x210, 0x210, 0x210, 0x210, 0x210, 0x210, 0x210, 0x210, 0x210, 0x210, 0x210, 0x210,
    0x284, 0x284, 0x284, 0x284, 0x284, 0x284, 0x284, 0x284, 0x284, 0x284, 0x210, 0x210,
    0x210, 0x210, 0x210, 0x210, 0x210, 0x381, 0x381, 0x381, 0x381, 0x381, 0x381, 0x301,
    0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301,
    0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x210, 0x210, 0x210, 0x210, 0x210,
    0x210, 0x382, 0x382, 0x382, 0x382, 0x382, 0x382, 0x302, 0x302, 0x302, 0x302, 0x302,
    0x302, 0x302, 0x302, 0x302, 0x302, 0x302, 0x302, 0x302, 0x302, 0x302, 0x302, 0x302,
    0x302, 0x302, 0x302, 0x210, 0x210, 0x210, 0x210, 0x220, 0x301, 0x301, 0x210, 0x302,
    0x210, 0x210, 0x210, 0x210, 0x200, 0x210, 0x301, 0x210, 0x301, 0x301, 0x301, 0x301,
    0x302, 0x210, 0x210, 0x210, 0x210, 0x210, 0x210, 0x210, 0x220, 0x200, 0x302, 0x210,
    0x302, 0x302, 0x302, 0x302, 0x248, 0x301, 0x302, 0x301, 0x210, 0x301, 0x210, 0x210,
    0x301, 0x210, 0x301, 0x210, 0x210, 0x230, 0x210, 0x301, 0x210, 0x210, 0x301, 0x302,
    0x302, 0x312, 0x210, 0x210, 0x302, 0x200, 0x302, 0x210, 0x302, 0x301, 0x302, 0x302,
    0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301,
    0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301,
    0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x301, 0x302, 0x302, 0x302, 0x302,
    0x302, 0x302, 0x302, 0x302, 0x302, 0x302, 0x302, 0x302, 0x302, 0x302, 0x302, 0x302,
    0x302, 0x302, 0x302, 0x302, 0x302, 0x302, 0x302, 0x302, 0x302, 0x302, 0x302, 0x302,
    0x302, 0x302, 0x302, 0x302,
};

static const unsigned char aUpper[256] = {
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
    0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,
    0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,
    0x60, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F,
    0x80, 0x81, 0x82, 0x81, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E, 0x8F,
    0x80, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x8A, 0x9B, 0x8C, 0x8D, 0x8E, 0x8F,
    0xA0, 0xA1, 0xA1, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF,
    0xB0, 0xB1, 0xB2, 0xB2, 0xA5, 0xB5, 0xB6, 0xB7, 0xA8, 0xB9, 0xAA, 0xBB, 0xA3, 0xBD, 0xBD, 0xAF,
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
    0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
    0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,
};

static const unsigned char aLower[256] = {
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
    0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,
    0x40, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,
    0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F,
    0x90, 0x83, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x9A, 0x8B, 0x9C, 0x9D, 0x9E, 0x9F,
    0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9D, 0x9E, 0x9F,
    0xA0, 0xA2, 0xA2, 0xBC, 0xA4, 0xB4, 0xA6, 0xA7, 0xB8, 0xA9, 0xBA, 0xAB, 0xAC, 0xAD, 0xAE, 0xBF,
    0xB0, 0xB1, 0xB3, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBE, 0xBE, 0xBF,
    0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF,
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,
    0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF,
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,
};

static const char16_t aUnicode[256] = {
    0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006, 0x0007, 0x0008, 0x0009, 0x000A, 0x000B,
    0x000C, 0x000D, 0x000E, 0x000F, 0x0010, 0x0011, 0x0012, 0x0013, 0x0014, 0x0015, 0x0016, 0x0017,
    0x0018, 0x0019, 0x001A, 0x001B, 0x001C, 0x001D, 0x001E, 0x001F, 0x0020, 0x0021, 0x0022, 0x0023,
    0x0024, 0x0025, 0x0026, 0x0027, 0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037, 0x0038, 0x0039, 0x003A, 0x003B,
    0x003C, 0x003D, 0x003E, 0x003F, 0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F, 0x0050, 0x0051, 0x0052, 0x0053,
    0x0054, 0x0055, 0x0056, 0x0057, 0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067, 0x0068, 0x0069, 0x006A, 0x006B,
    0x006C, 0x006D, 0x006E, 0x006F, 0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x007F, 0x0402, 0x0403, 0x201A, 0x0453,
    0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122, 0x0459, 0x203A,
    0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B,
    0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433,
    0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B,
    0x044C, 0x044D, 0x044E, 0x044F,
};

// Code page 1252: the bytes 0x80-0x9F as the platform maps them (the five it leaves unassigned map to the C1
// control of the same value); 0xA0-0xFF are U+00A0-U+00FF.
static const char16_t aUnicode1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

namespace plat
{

// The machine's ANSI code page: 1251, or 1252 when PLAT_ACP says so (any other value counts as 1251).
UINT AnsiCodePage()
{
    static UINT nAcp;

    if (nAcp == 0) {
        const char *psz = getenv("PLAT_ACP");
        nAcp = psz != nullptr && strcmp(psz, "1252") == 0 ? 1252 : 1251;
    }
    return nAcp;
}

bool IsSingleByteCodePage(UINT nCodePage)
{
    return nCodePage == 1251 || nCodePage == 1252;
}

char16_t CodePageToUnicode(UINT nCodePage, unsigned char c)
{
    if (nCodePage == 1252)
        return c >= 0x80 && c < 0xA0 ? aUnicode1252High[c - 0x80] : (char16_t)c;
    return aUnicode[c];
}

// A sorted copy of a code page's table, for the binary search of UnicodeToCodePage.
struct ReverseTable {
    char16_t aSorted[256];
    unsigned char aByte[256];
    explicit ReverseTable(UINT nCodePage)
    {
        for (int i = 0; i < 256; i++) {
            aSorted[i] = CodePageToUnicode(nCodePage, (unsigned char)i);
            aByte[i] = (unsigned char)i;
        }
        for (int i = 1; i < 256; i++)
            for (int j = i; j > 0 && aSorted[j - 1] > aSorted[j]; j--) {
                std::swap(aSorted[j - 1], aSorted[j]);
                std::swap(aByte[j - 1], aByte[j]);
            }
    }
};

int UnicodeToCodePage(UINT nCodePage, char16_t w)
{
    static const ReverseTable r1251(1251), r1252(1252);
    const ReverseTable &r = nCodePage == 1252 ? r1252 : r1251;

    if (w < 0x80)
        return w;
    int lo = 0, hi = 255;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        if (r.aSorted[mid] == w)
            return r.aByte[mid];
        if (r.aSorted[mid] < w)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    return -1;
}

char16_t AnsiToUnicode(unsigned char c)
{
    return CodePageToUnicode(AnsiCodePage(), c);
}

int UnicodeToAnsi(char16_t w)
{
    return UnicodeToCodePage(AnsiCodePage(), w);
}

static void AppendUtf8(std::string &s, uint32_t cp)
{
    if (cp < 0x80) {
        s += (char)cp;
    } else if (cp < 0x800) {
        s += (char)(0xC0 | (cp >> 6));
        s += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += (char)(0xE0 | (cp >> 12));
        s += (char)(0x80 | ((cp >> 6) & 0x3F));
        s += (char)(0x80 | (cp & 0x3F));
    } else {
        s += (char)(0xF0 | (cp >> 18));
        s += (char)(0x80 | ((cp >> 12) & 0x3F));
        s += (char)(0x80 | ((cp >> 6) & 0x3F));
        s += (char)(0x80 | (cp & 0x3F));
    }
}

// Decodes one UTF-8 sequence at s[i]; returns the code point, or 0xFFFFFFFF for an invalid sequence (one
// byte is then consumed).
static uint32_t NextUtf8(const unsigned char *s, size_t n, size_t &i)
{
    unsigned char c = s[i];
    uint32_t cp;
    int nMore;

    if (c < 0x80) {
        i++;
        return c;
    }
    if (c >= 0xC2 && c <= 0xDF) {
        cp = c & 0x1F;
        nMore = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
        cp = c & 0x0F;
        nMore = 2;
    } else if (c >= 0xF0 && c <= 0xF4) {
        cp = c & 0x07;
        nMore = 3;
    } else {
        i++;
        return 0xFFFFFFFF;
    }
    if (i + nMore >= n) {
        i++;
        return 0xFFFFFFFF;
    }
    for (int k = 1; k <= nMore; k++) {
        if ((s[i + k] & 0xC0) != 0x80) {
            i++;
            return 0xFFFFFFFF;
        }
        cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    static const uint32_t aMin[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < aMin[nMore] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        i++;
        return 0xFFFFFFFF;
    }
    i += nMore + 1;
    return cp;
}

// The lower half of the code page is ASCII, spelt the same in UTF-8: runs of it are copied as they stand.
static std::string CodePageToUtf8(UINT nCodePage, const std::string &s)
{
    std::string out;
    size_t i = 0, n = s.size();
    out.reserve(n);
    while (i < n) {
        size_t j = i;
        while (j < n && (unsigned char)s[j] < 0x80)
            j++;
        out.append(s, i, j - i);
        if (j < n)
            AppendUtf8(out, CodePageToUnicode(nCodePage, (unsigned char)s[j++]));
        i = j;
    }
    return out;
}

static std::string Utf8ToCodePage(UINT nCodePage, const std::string &s, bool *pbLossy)
{
    std::string out;
    const unsigned char *p = (const unsigned char *)s.data();
    size_t i = 0;
    bool bLossy = false;
    out.reserve(s.size());
    while (i < s.size()) {
        if (p[i] < 0x80) { // ASCII, the same in the code page
            out += (char)p[i++];
            continue;
        }
        uint32_t cp = NextUtf8(p, s.size(), i);
        int b = cp <= 0xFFFF ? UnicodeToCodePage(nCodePage, (char16_t)cp) : -1;
        if (b < 0) {
            b = '?';
            bLossy = true;
        }
        out += (char)b;
    }
    if (pbLossy != nullptr)
        *pbLossy = bLossy;
    return out;
}

std::string AnsiToUtf8(const std::string &s)
{
    return CodePageToUtf8(AnsiCodePage(), s);
}

std::string Utf8ToAnsi(const std::string &s, bool *pbLossy)
{
    return Utf8ToCodePage(AnsiCodePage(), s, pbLossy);
}

// Appends one code point in UTF-16: a surrogate pair above the basic plane.
static void AppendUtf16(std::u16string &out, uint32_t cp)
{
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out += (char16_t)(0xD800 + (cp >> 10));
        out += (char16_t)(0xDC00 + (cp & 0x3FF));
    } else {
        out += (char16_t)cp;
    }
}

std::u16string Utf8ToUtf16(const std::string &s)
{
    std::u16string out;
    const unsigned char *p = (const unsigned char *)s.data();
    size_t i = 0;
    while (i < s.size()) {
        uint32_t cp = NextUtf8(p, s.size(), i);
        if (cp == 0xFFFFFFFF)
            cp = 0xFFFD;
        AppendUtf16(out, cp);
    }
    return out;
}

// The windows' texts are kept in code page 1251, whatever the machine's ANSI code page: it holds every
// character the programs show. A text given in the ANSI code page, or in UTF-16, is converted to it; a
// character it does not hold shows as '?'.
std::string TextToUtf8(const std::string &s)
{
    return CodePageToUtf8(1251, s);
}

std::string Utf8ToText(const std::string &s)
{
    return Utf8ToCodePage(1251, s, nullptr);
}

std::string AnsiToText(const std::string &s)
{
    if (AnsiCodePage() == 1251)
        return s;
    std::string out;
    for (unsigned char c : s) {
        int b = UnicodeToCodePage(1251, AnsiToUnicode(c));
        out += (char)(b < 0 ? '?' : b);
    }
    return out;
}

std::string TextToAnsi(const std::string &s)
{
    if (AnsiCodePage() == 1251)
        return s;
    std::string out;
    for (unsigned char c : s) {
        int b = UnicodeToAnsi(CodePageToUnicode(1251, c));
        out += (char)(b < 0 ? '?' : b);
    }
    return out;
}

std::string Utf16ToText(const char16_t *psz, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n; i++) {
        int b = UnicodeToCodePage(1251, psz[i]);
        out += (char)(b < 0 ? '?' : b);
    }
    return out;
}

std::u16string TextToUtf16(const std::string &s)
{
    std::u16string out;
    for (unsigned char c : s)
        out += CodePageToUnicode(1251, c);
    return out;
}

} // namespace plat

UINT WINAPI GetACP(void)
{
    return plat::AnsiCodePage();
}

BOOL WINAPI GetStringTypeA(LCID Locale, DWORD dwInfoType, LPCSTR lpSrcStr, int cchSrc, LPWORD lpCharType)
{
    (void)Locale;
    if (lpSrcStr == NULL || lpCharType == NULL || cchSrc == 0 || cchSrc < -1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (dwInfoType != CT_CTYPE1) {
        SetLastError(ERROR_INVALID_FLAGS);
        return FALSE;
    }
    if (cchSrc == -1)
        cchSrc = (int)strlen(lpSrcStr) + 1;
    for (int i = 0; i < cchSrc; i++)
        lpCharType[i] = aCtype1[(unsigned char)lpSrcStr[i]];
    return TRUE;
}

// The types of UTF-16 characters: those code page 1251 holds by its table; the Latin-1 letters U+00C0 to
// U+00FF (but the multiplication and division signs) as letters of their case; any other as defined only.
BOOL WINAPI GetStringTypeW(DWORD dwInfoType, LPCWSTR lpSrcStr, int cchSrc, LPWORD lpCharType)
{
    if (lpSrcStr == NULL || lpCharType == NULL || cchSrc == 0 || cchSrc < -1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (dwInfoType != CT_CTYPE1) {
        SetLastError(ERROR_INVALID_FLAGS);
        return FALSE;
    }
    if (cchSrc == -1) {
        cchSrc = 0;
        while (lpSrcStr[cchSrc] != 0)
            cchSrc++;
        cchSrc++;
    }
    for (int i = 0; i < cchSrc; i++) {
        char16_t w = lpSrcStr[i];
        int b = plat::UnicodeToCodePage(1251, w);
        if (b >= 0)
            lpCharType[i] = aCtype1[b];
        else if (w >= 0xC0 && w <= 0xFF && w != 0xD7 && w != 0xF7)
            lpCharType[i] = w < 0xDF ? 0x301 : 0x302;
        else
            lpCharType[i] = C1_DEFINED;
    }
    return TRUE;
}

int WINAPI LCMapStringA(LCID Locale, DWORD dwMapFlags, LPCSTR lpSrcStr, int cchSrc, LPSTR lpDestStr, int cchDest)
{
    const unsigned char *pMap;

    (void)Locale;
    if (lpSrcStr == NULL || cchSrc == 0 || cchSrc < -1 || cchDest < 0 || (cchDest > 0 && lpDestStr == NULL)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (dwMapFlags == LCMAP_LOWERCASE)
        pMap = aLower;
    else if (dwMapFlags == LCMAP_UPPERCASE)
        pMap = aUpper;
    else {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    if (cchSrc == -1)
        cchSrc = (int)strlen(lpSrcStr) + 1;
    if (cchDest == 0)
        return cchSrc;
    if (cchDest < cchSrc) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (int i = 0; i < cchSrc; i++)
        lpDestStr[i] = (char)pMap[(unsigned char)lpSrcStr[i]];
    return cchSrc;
}

// The collation of the Russian locale, reduced to what code page 1251 holds: control characters are
// ignored; the hyphen, the apostrophe and the soft hyphen count only when all else is equal; other
// punctuation and symbols sort before digits, digits before letters, Latin before Cyrillic letters; case
// decides last (lower case first) unless it is ignored.
static const char16_t szCyrillicOrder[] = u"абвгґдђѓеёєжзѕиіїйјклљмнњопрстћќуўфхцчџшщъыьэюя";

static int PrimaryWeight(unsigned char c)
{
    WORD t = aCtype1[c];
    char16_t w = aUnicode[aLower[c]];

    if (t & C1_DIGIT)
        return 0x1000 + (c - '0');
    if (t & C1_ALPHA) {
        if (w >= u'a' && w <= u'z')
            return 0x2000 + (w - u'a');
        for (int i = 0; szCyrillicOrder[i] != 0; i++)
            if (szCyrillicOrder[i] == w)
                return 0x3000 + i;
        return 0x4000 + w;
    }
    return 0x100 + aUnicode[c];
}

static bool IsIgnored(unsigned char c)
{
    return (aCtype1[c] & C1_CNTRL) != 0 && c != 0xAD;
}

static bool IsWordSortMark(unsigned char c)
{
    return c == '-' || c == '\'' || c == 0xAD;
}

// Level 0 compares the primary weights without the word-sort marks; level 1 the number of marks (a word
// without them sorts first); level 2 the case.
static int CompareLevel(const unsigned char *s1, int n1, const unsigned char *s2, int n2, int nLevel)
{
    if (nLevel == 1) {
        int m1 = 0, m2 = 0;
        for (int i = 0; i < n1; i++)
            m1 += IsWordSortMark(s1[i]);
        for (int j = 0; j < n2; j++)
            m2 += IsWordSortMark(s2[j]);
        return m1 < m2 ? -1 : m1 > m2 ? 1 : 0;
    }
    int i = 0, j = 0;
    for (;;) {
        while (i < n1 && (IsIgnored(s1[i]) || IsWordSortMark(s1[i])))
            i++;
        while (j < n2 && (IsIgnored(s2[j]) || IsWordSortMark(s2[j])))
            j++;
        if (i >= n1 || j >= n2)
            return (i >= n1 ? 0 : 1) - (j >= n2 ? 0 : 1);
        int w1, w2;
        if (nLevel == 0) {
            w1 = PrimaryWeight(s1[i]);
            w2 = PrimaryWeight(s2[j]);
        } else {
            // Lower case sorts before upper case.
            w1 = (aCtype1[s1[i]] & C1_UPPER) ? 1 : 0;
            w2 = (aCtype1[s2[j]] & C1_UPPER) ? 1 : 0;
        }
        if (w1 != w2)
            return w1 < w2 ? -1 : 1;
        i++;
        j++;
    }
}

int WINAPI CompareStringA(LCID Locale, DWORD dwCmpFlags, LPCSTR lpString1, int cchCount1, LPCSTR lpString2,
                          int cchCount2)
{
    (void)Locale;
    if (lpString1 == NULL || lpString2 == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (cchCount1 < 0)
        cchCount1 = (int)strlen(lpString1);
    if (cchCount2 < 0)
        cchCount2 = (int)strlen(lpString2);
    const unsigned char *s1 = (const unsigned char *)lpString1;
    const unsigned char *s2 = (const unsigned char *)lpString2;
    int nLevels = (dwCmpFlags & NORM_IGNORECASE) ? 2 : 3;
    for (int nLevel = 0; nLevel < nLevels; nLevel++) {
        int r = CompareLevel(s1, cchCount1, s2, cchCount2, nLevel);
        if (r != 0)
            return r < 0 ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
    }
    return CSTR_EQUAL;
}

// The single-byte code page a call names: CP_ACP is the machine's; 0 for any other than 1251 and 1252.
static UINT SingleByteCodePage(UINT CodePage)
{
    if (CodePage == CP_ACP)
        return plat::AnsiCodePage();
    return plat::IsSingleByteCodePage(CodePage) ? CodePage : 0;
}

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar)
{
    std::u16string sOut;

    if (lpMultiByteStr == NULL || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (cchWideChar > 0 && lpWideCharStr == NULL)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (cbMultiByte == -1)
        cbMultiByte = (int)strlen(lpMultiByteStr) + 1;
    const unsigned char *p = (const unsigned char *)lpMultiByteStr;
    if (UINT nPage = SingleByteCodePage(CodePage)) {
        for (int i = 0; i < cbMultiByte; i++)
            sOut += plat::CodePageToUnicode(nPage, p[i]);
    } else if (CodePage == CP_UTF8) {
        size_t i = 0;
        while (i < (size_t)cbMultiByte) {
            uint32_t cp = plat::NextUtf8(p, (size_t)cbMultiByte, i);
            if (cp == 0xFFFFFFFF) {
                if (dwFlags & MB_ERR_INVALID_CHARS) {
                    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                    return 0;
                }
                cp = 0xFFFD;
            }
            plat::AppendUtf16(sOut, cp);
        }
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (cchWideChar == 0)
        return (int)sOut.size();
    if ((size_t)cchWideChar < sOut.size()) {
        memcpy(lpWideCharStr, sOut.data(), cchWideChar * sizeof(WCHAR));
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(lpWideCharStr, sOut.data(), sOut.size() * sizeof(WCHAR));
    return (int)sOut.size();
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               LPBOOL lpUsedDefaultChar)
{
    std::string sOut;
    bool bUsedDefault = false;

    if (lpWideCharStr == NULL || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && lpMultiByteStr == NULL)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (cchWideChar == -1) {
        cchWideChar = 0;
        while (lpWideCharStr[cchWideChar] != 0)
            cchWideChar++;
        cchWideChar++;
    }
    if (UINT nPage = SingleByteCodePage(CodePage)) {
        // No best-fit mapping is made here: a character the code page does not hold becomes the default
        // character, as WC_NO_BEST_FIT_CHARS asks of the platform.
        if (dwFlags & ~(DWORD)(WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR |
                               WC_NO_BEST_FIT_CHARS)) {
            SetLastError(ERROR_INVALID_FLAGS);
            return 0;
        }
        char chDefault = lpDefaultChar != NULL ? *lpDefaultChar : '?';
        for (int i = 0; i < cchWideChar; i++) {
            int b = plat::UnicodeToCodePage(nPage, lpWideCharStr[i]);
            if (b < 0) {
                b = (unsigned char)chDefault;
                bUsedDefault = true;
            }
            sOut += (char)b;
        }
    } else if (CodePage == CP_UTF8) {
        if (lpDefaultChar != NULL || lpUsedDefaultChar != NULL) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        for (int i = 0; i < cchWideChar; i++) {
            uint32_t cp = lpWideCharStr[i];
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < cchWideChar && lpWideCharStr[i + 1] >= 0xDC00 &&
                lpWideCharStr[i + 1] <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (lpWideCharStr[i + 1] - 0xDC00);
                i++;
            } else if (cp >= 0xD800 && cp <= 0xDFFF) {
                cp = 0xFFFD;
            }
            plat::AppendUtf8(sOut, cp);
        }
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (lpUsedDefaultChar != NULL)
        *lpUsedDefaultChar = bUsedDefault;
    if (cbMultiByte == 0)
        return (int)sOut.size();
    if ((size_t)cbMultiByte < sOut.size()) {
        memcpy(lpMultiByteStr, sOut.data(), cbMultiByte);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(lpMultiByteStr, sOut.data(), sOut.size());
    return (int)sOut.size();
}

namespace plat
{

// Names compared as the platform compares file names: by the code page's own case tables.

std::string UpperName(const std::string &sName)
{
    std::string s = sName;
    if (!s.empty())
        LCMapStringA(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE, sName.data(), (int)sName.size(), &s[0],
                     (int)s.size());
    return s;
}

bool SameName(const std::string &sName1, const std::string &sName2)
{
    return sName1.size() == sName2.size() && UpperName(sName1) == UpperName(sName2);
}

} // namespace plat
