// test_nls.cpp - code page 1251 on Linux: conversions, case mapping and comparison.

#include "kernel/kernel.h"

#include <gtest/gtest.h>

#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

TEST(Nls, AnsiCodePageIs1251)
{
    EXPECT_EQ(1251u, GetACP());
}

TEST(Nls, EveryAssignedByteRoundTripsThroughUtf16)
{
    for (int c = 1; c < 256; c++) {
        char sz[2] = {(char)c, 0};
        WCHAR w[2];
        ASSERT_EQ(2, MultiByteToWideChar(CP_ACP, 0, sz, -1, w, 2));
        char back[2];
        BOOL bDefault = FALSE;
        ASSERT_EQ(2, WideCharToMultiByte(1251, 0, w, -1, back, 2, NULL, &bDefault));
        EXPECT_EQ(sz[0], back[0]) << c;
        EXPECT_FALSE(bDefault) << c;
    }
}

TEST(Nls, CyrillicConvertsBetweenUtf8AndTheCodePage)
{
    const char *pszUtf8 = "\xd0\x81\xd0\xb6 \xe2\x84\x96";  // Ёж №
    EXPECT_EQ(std::string("\xa8\xe6 \xb9"), plat::Utf8ToAnsi(pszUtf8));
    EXPECT_EQ(std::string(pszUtf8), plat::AnsiToUtf8("\xa8\xe6 \xb9"));
    bool bLossy = false;
    EXPECT_EQ("?", plat::Utf8ToAnsi("\xe4\xb8\xad", &bLossy)); // a character the code page lacks
    EXPECT_TRUE(bLossy);
}

TEST(Nls, ConversionReportsTheSizeAndRefusesShortBuffers)
{
    WCHAR w[4];
    EXPECT_EQ(4, MultiByteToWideChar(CP_UTF8, 0, "abc", -1, NULL, 0));
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "abc", -1, w, 3));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(0, MultiByteToWideChar(12345, 0, "abc", -1, w, 4));
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xff", 1, w, 4));
    char sz[8];
    EXPECT_EQ(3, WideCharToMultiByte(CP_UTF8, 0, u"\u0416", -1, sz, sizeof sz, NULL, NULL));
    EXPECT_STREQ("\xd0\x96", sz);
    BOOL bDefault = FALSE;
    EXPECT_EQ(2, WideCharToMultiByte(CP_ACP, 0, u"\u4e2d", -1, sz, sizeof sz, NULL, &bDefault));
    EXPECT_STREQ("?", sz);
    EXPECT_TRUE(bDefault);
}

TEST(Nls, CaseMappingCoversCyrillic)
{
    char sz[4];
    EXPECT_EQ(3, LCMapStringA(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE, "\xe0\xb8z", 3, sz, 3)); // аёz
    EXPECT_EQ(0, memcmp("\xc0\xa8Z", sz, 3));
    EXPECT_EQ(1, LCMapStringA(LOCALE_SYSTEM_DEFAULT, LCMAP_LOWERCASE, "\xdf", 1, sz, 0)); // size query
    EXPECT_EQ(0, LCMapStringA(LOCALE_SYSTEM_DEFAULT, LCMAP_LOWERCASE, "ab", 2, sz, 1));
}

struct OrderCase {
    const char *a, *b;
    DWORD flags;
    int expected;
};
static const OrderCase kOrder[] = {
    {"a", "b", 0, CSTR_LESS_THAN},
    {"a", "A", 0, CSTR_LESS_THAN},
    {"a", "A", NORM_IGNORECASE, CSTR_EQUAL},
    {"B", "a", 0, CSTR_GREATER_THAN},
    {"z", "\xe0", 0, CSTR_LESS_THAN},           // Latin before Cyrillic
    {"\xe5", "\xb8", 0, CSTR_LESS_THAN},         // е before ё
    {"\xb8", "\xe6", 0, CSTR_LESS_THAN},         // ё before ж
    {"9", "a", 0, CSTR_LESS_THAN},
    {"!", "0", 0, CSTR_LESS_THAN},
    {"co-op", "coop", 0, CSTR_GREATER_THAN},     // the hyphen counts only at the end
    {"co-op", "cop", 0, CSTR_LESS_THAN},
    {"abc", "ab", 0, CSTR_GREATER_THAN},
    {"", "", 0, CSTR_EQUAL},
};

TEST(Nls, ComparisonFollowsTheRussianCollation)
{
    for (const OrderCase &c : kOrder)
        EXPECT_EQ(c.expected, CompareStringA(LOCALE_SYSTEM_DEFAULT, c.flags, c.a, -1, c.b, -1))
            << c.a << " / " << c.b;
}

// A UTF-8 sequence cut short by the end of an input of explicit length. Its lead byte stands for itself,
// as U+FFFD, whatever follows in memory: the decoder reads no byte past the length.
struct CutCase {
    const char *pszInput; // the bytes given (their length is the input's), then one more in memory
    int cb;
    const char16_t *pszExpected;
};
static const CutCase kCut[] = {
    {"\xc3\xa9", 1, u"\xfffd"},           // é cut before its second byte
    {"a\xd0\x96", 2, u"a\xfffd"},         // Ж cut after a
    {"\xe2\x84\x96", 2, u"\xfffd\xfffd"}, // № cut before its third byte
    {"\xe2\x84\x96", 1, u"\xfffd"},       // ... before its second
    {"\xf0\x9f\x98\x80", 3, u"\xfffd\xfffd\xfffd"},
    {"\xd0\x96", 2, u"\x0416"}, // the whole sequence, ending at the end
};

// Converts cb bytes lying at the very end of a readable page, the next page unreadable, so that a read one
// byte past them ends the process. Returns the UTF-16 result.
static std::u16string ConvertAtPageEnd(const char *pszBytes, int cb)
{
    long nPage = sysconf(_SC_PAGESIZE);
    char *p =
        (char *)mmap(nullptr, (size_t)nPage * 2, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    EXPECT_NE(MAP_FAILED, (void *)p);
    if (p == MAP_FAILED)
        return u"<no memory>";
    EXPECT_EQ(0, mprotect(p + nPage, (size_t)nPage, PROT_NONE));
    char *pInput = p + nPage - cb;
    memcpy(pInput, pszBytes, (size_t)cb);
    WCHAR w[8];
    int n = MultiByteToWideChar(CP_UTF8, 0, pInput, cb, w, 8);
    munmap(p, (size_t)nPage * 2);
    return std::u16string((const char16_t *)w, n > 0 ? (size_t)n : 0);
}

TEST(Nls, Utf8CutShortByTheLengthGivenIsReplacedWithoutReadingPastIt)
{
    for (const CutCase &c : kCut) {
        SCOPED_TRACE(std::to_string(c.cb) + " bytes of " + c.pszInput);
        WCHAR w[8];
        // The byte after the input, a continuation byte in memory, must not complete the sequence.
        int n = MultiByteToWideChar(CP_UTF8, 0, c.pszInput, c.cb, w, 8);
        EXPECT_EQ(std::u16string(c.pszExpected), std::u16string((const char16_t *)w, n > 0 ? (size_t)n : 0));
        // Nor may it be read at all: at the end of a page, with nothing readable after it.
        EXPECT_EQ(std::u16string(c.pszExpected), ConvertAtPageEnd(c.pszInput, c.cb));
        // With MB_ERR_INVALID_CHARS a cut sequence fails the call.
        if (std::u16string(c.pszExpected).find(u'\xfffd') != std::u16string::npos) {
            EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, c.pszInput, c.cb, w, 8));
            EXPECT_EQ(1113u, GetLastError()); // ERROR_NO_UNICODE_TRANSLATION
        }
    }
}

// Code page 1252, the machine's with PLAT_ACP=1252, converts by its own table whatever the machine's: the
// upper half as the platform maps it, the five bytes it leaves unassigned to the C1 controls of that value.
TEST(NlsCodePages, Cp1252MapsItsUpperHalfAsThePlatformDoes)
{
    static const struct {
        unsigned char c;
        char16_t w;
    } kBytes[] = {{0x80, 0x20AC}, {0x81, 0x0081}, {0x8A, 0x0160}, {0x9C, 0x0153}, {0x9F, 0x0178},
                  {0xA0, 0x00A0}, {0xC0, 0x00C0}, {0xE9, 0x00E9}, {0xFF, 0x00FF}, {'A', 'A'}};
    for (const auto &k : kBytes) {
        char c = (char)k.c;
        WCHAR w = 0;
        ASSERT_EQ(1, MultiByteToWideChar(1252, 0, &c, 1, &w, 1)) << (int)k.c;
        EXPECT_EQ(k.w, w) << (int)k.c;
        char back = 0;
        BOOL bDefault = TRUE;
        ASSERT_EQ(1, WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, &w, 1, &back, 1, NULL, &bDefault));
        EXPECT_EQ(c, back) << (int)k.c;
        EXPECT_FALSE(bDefault) << (int)k.c;
    }
}

// A character the code page lacks becomes the default character (the caller's, or '?') and is reported.
TEST(NlsCodePages, CharactersTheCodePageLacksBecomeTheDefaultAndAreReported)
{
    static const struct {
        UINT nCodePage;
        char16_t w;
        const char *pszDefault;
        char cWant;
        BOOL bUsedWant;
    } kCases[] = {
        {1252, u'Ж', NULL, '?', TRUE},         {1252, u'Ж', "*", '*', TRUE},
        {1251, u'Ж', NULL, (char)0xC6, FALSE}, {1252, u'é', NULL, (char)0xE9, FALSE},
        {1251, u'é', NULL, '?', TRUE},         {1252, u'ł', NULL, '?', TRUE},
        {1251, u'ł', NULL, '?', TRUE},         {1251, u'€', NULL, (char)0x88, FALSE},
    };
    for (const auto &k : kCases) {
        WCHAR w = k.w;
        char c = 0;
        BOOL bUsed = !k.bUsedWant;
        ASSERT_EQ(1,
                  WideCharToMultiByte(k.nCodePage, WC_NO_BEST_FIT_CHARS, &w, 1, &c, 1, k.pszDefault, &bUsed))
            << k.nCodePage << " " << (int)k.w;
        EXPECT_EQ(k.cWant, c) << k.nCodePage << " " << (int)k.w;
        EXPECT_EQ(k.bUsedWant, bUsed) << k.nCodePage << " " << (int)k.w;
    }
}

TEST(NlsCodePages, ConversionToACodePageRefusesUnknownFlags)
{
    WCHAR w = u'A';
    char c = 0;
    SetLastError(0);
    EXPECT_EQ(0, WideCharToMultiByte(1252, 0x1, &w, 1, &c, 1, NULL, NULL));
    EXPECT_EQ(1004u, GetLastError());                                    // ERROR_INVALID_FLAGS
    EXPECT_EQ(0, WideCharToMultiByte(437, 0, &w, 1, &c, 1, NULL, NULL)); // a code page this layer lacks
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
}

// The windows keep their texts in code page 1251 whatever the ANSI code page: Cyrillic given in UTF-16
// stays Cyrillic; what 1251 lacks shows as '?'.
TEST(NlsCodePages, WindowTextsKeepCyrillicInAnyCodePage)
{
    const std::u16string w = u"Вперёд é";
    std::string sText = plat::Utf16ToText(w.data(), w.size());
    EXPECT_EQ("Вперёд ?", plat::TextToUtf8(sText));
    EXPECT_EQ(u"Вперёд ?", plat::TextToUtf16(sText));
    EXPECT_EQ(sText, plat::Utf8ToText("Вперёд é"));
}

// With PLAT_ACP=1252 (the test's run as on a Western machine; skipped in the others) the ANSI calls use code
// page 1252: Cyrillic has no place there, Latin letters with accents have.
TEST(NlsWesternMachine, AnsiCallsUseCodePage1252)
{
    if (GetACP() != 1252)
        GTEST_SKIP() << "the machine's ANSI code page is " << GetACP();
    EXPECT_EQ(1252u, plat::AnsiCodePage());
    bool bLossy = false;
    EXPECT_EQ("??? \xe9", plat::Utf8ToAnsi("Ёж№ é", &bLossy));
    EXPECT_TRUE(bLossy);
    WCHAR w[2];
    ASSERT_EQ(2, MultiByteToWideChar(CP_ACP, 0, "\xe9", -1, w, 2));
    EXPECT_EQ(u'é', w[0]);
    // The windows' texts are converted from and to the ANSI code page.
    EXPECT_EQ(plat::Utf8ToText("é?"), plat::AnsiToText("\xe9?"));
    EXPECT_EQ("?", plat::TextToAnsi(plat::Utf8ToText("Ж")));
}
