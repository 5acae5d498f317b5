// test_nls.cpp - code page 1251 on Linux: conversions, case mapping and comparison.

#include "kernel/kernel.h"

#include <gtest/gtest.h>

#include <string.h>

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
