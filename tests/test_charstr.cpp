// test_charstr.cpp - the string library: classes and case, bounded copy and append, trimming and squeezing,
// searching, the tokenizer, and the whole-string operations.

#include "charstr.h"

#include <gtest/gtest.h>

#include <string.h>
#include <string>

using ::testing::ExitedWithCode;

// Code page 1251 bytes used below.
#define CYR_A "\xc0"     // А
#define CYR_a "\xe0"     // а
#define CYR_YO "\xa8"    // Ё
#define CYR_yo "\xb8"    // ё
#define NAZAD "\xcd\xe0\xe7\xe0\xe4" // Назад

TEST(CharClass, BasicClassesComeFromThePlatform)
{
    EXPECT_EQ(STR_ALPHA | STR_XDIGIT | STR_LOWER, StrCharType('a'));
    EXPECT_EQ(STR_ALPHA | STR_UPPER, StrCharType('Z'));
    EXPECT_EQ(STR_DIGIT | STR_XDIGIT, StrCharType('7'));
    EXPECT_EQ(STR_SPACE, StrCharType(' '));
    EXPECT_EQ(STR_SPACE | STR_CNTRL, StrCharType('\t'));
    EXPECT_EQ(STR_PUNCT, StrCharType('&'));
    EXPECT_EQ(STR_CNTRL, StrCharType(EOS));
    EXPECT_EQ(STR_ALPHA | STR_UPPER, StrCharType((char)0xC0));
    EXPECT_EQ(STR_ALPHA | STR_LOWER, StrCharType((char)0xB8));
    EXPECT_EQ(STR_SPACE, StrCharType((char)0xA0)); // no-break space
}

TEST(CharClass, BytesWithoutAPlatformClassArePunctuation)
{
    const int aBytes[] = {0x88, 0x99, 0xB9};
    for (int c : aBytes) {
        EXPECT_EQ(STR_PUNCT, StrCharType(c)) << c;
        EXPECT_EQ(STR_PUNCT, StrCharType((char)c)) << c; // the sign-extended form too
    }
}

TEST(CharClass, EveryByteHasAClass)
{
    for (int c = 0; c < 256; c++)
        EXPECT_NE(0, StrCharType(c)) << c;
}

TEST(CharCase, MapsCyrillicAndReturnsSignExtendedBytes)
{
    EXPECT_EQ((signed char)0xC0, StrCharUpper((char)0xE0));
    EXPECT_EQ((signed char)0xE0, StrCharLower(0xC0));
    EXPECT_EQ((signed char)0xA8, StrCharUpper((char)0xB8));
    EXPECT_EQ('A', StrCharUpper('a'));
    EXPECT_EQ('1', StrCharUpper('1'));
    EXPECT_EQ(EOS, StrCharLower(EOS));
}

struct CopyCase {
    const char *src;
    int max;
    int result;
    const char *dest;
};
static const CopyCase kCopy[] = {
    {"", 1, 1, ""},  {"a", 1, 0, ""},   {"abc", 4, 1, "abc"},
    {"abcd", 4, 0, "abc"}, {"abc", 3, 0, "ab"}, {"", 8, 1, ""},
};

TEST(StrCopy, CopiesWholeSourceOrKeepsCapacityLessOne)
{
    for (const CopyCase &c : kCopy) {
        char sz[16];
        memset(sz, 'x', sizeof sz);
        EXPECT_EQ(c.result, StrCopy(sz, c.src, c.max)) << c.src << "/" << c.max;
        EXPECT_STREQ(c.dest, sz);
        EXPECT_EQ('x', sz[c.max]) << "wrote past the capacity";
    }
}

struct AppendCase {
    const char *dest, *src;
    int max;
    int result;
    const char *out;
};
static const AppendCase kAppend[] = {
    {"ab", "cd", 5, 1, "abcd"}, {"ab", "cde", 5, 0, "abcd"}, {"abcd", "", 5, 1, "abcd"},
    {"abcd", "e", 5, 0, "abcd"}, {"", "abc", 4, 1, "abc"},   {"", "", 1, 1, ""},
};

TEST(StrAppend, AppendsWithinTheWholeBuffer)
{
    for (const AppendCase &c : kAppend) {
        char sz[16];
        memset(sz, 'x', sizeof sz);
        strcpy(sz, c.dest);
        EXPECT_EQ(c.result, StrAppend(sz, c.src, c.max)) << c.dest << "+" << c.src;
        EXPECT_STREQ(c.out, sz);
        EXPECT_EQ('x', sz[c.max]) << "wrote past the capacity";
    }
}

TEST(StrCopyDeath, OverlapAndBadArgumentsEndTheProcess)
{
    char sz[16] = "abcdef";
    EXPECT_EXIT(StrCopy(sz, "abc", 0), ExitedWithCode(3), "Assertion failed: max > 0, file lib.CHARSTR, line .");
    EXPECT_EXIT(StrCopy(NULL, "abc", 4), ExitedWithCode(3), "Assertion failed: src != NULL && dest != NULL");
    // A source inside the destination's capacity, or one whose terminator reaches into it, is refused.
    EXPECT_EXIT(StrCopy(sz, sz + 2, 4), ExitedWithCode(3),
                "Assertion failed: src >= dest.max .. dest > src.StrLength.src., file lib.CHARSTR");
    EXPECT_EXIT(StrCopy(sz + 3, sz, 2), ExitedWithCode(3), "Assertion failed: src >= dest.max");
    EXPECT_EXIT(StrAppend(sz, "x", 6), ExitedWithCode(3), "Assertion failed: max > 1, file lib.CHARSTR");
}

TEST(StrCopy, SourceJustOutsideTheCapacityIsAccepted)
{
    char sz[16] = "abcdef";
    EXPECT_EQ(1, StrCopy(sz, sz + 4, 4)); // starts right behind the capacity
    EXPECT_STREQ("ef", sz);
    char szB[16] = "ab";
    EXPECT_EQ(1, StrCopy(szB + 3, szB, 4)); // ends before the destination
    EXPECT_STREQ("ab", szB + 3);
}

struct TrimCase {
    const char *in;
    int flags;
    const char *out;
};
static const TrimCase kTrim[] = {
    {"  a b \t", 0, "a b"},       {"  a b \t", 0x300, "a b"},     {"  a b \t", STR_LEFT, "a b \t"},
    {"  a b \t", STR_RIGHT, "  a b"}, {" \t\n ", 0, ""},          {" \t\n ", STR_LEFT, ""},
    {" \t\n ", STR_RIGHT, ""},    {"", 0, ""},                    {"abc", STR_NOCASE, "abc"},
    {"\xa0x\xa0", 0, "x"},
};

TEST(StrTrim, RemovesWhiteSpaceAtTheChosenEnds)
{
    for (const TrimCase &c : kTrim) {
        char sz[32];
        strcpy(sz, c.in);
        StrTrim(sz, c.flags);
        EXPECT_STREQ(c.out, sz) << "'" << c.in << "' " << c.flags;
    }
}

static const TrimCase kSqueeze[] = {
    {"  a \t b  ", 0, "a b"},
    {"  a \t b  ", STR_JOIN, "ab"},
    {"a , b", STR_SKIPSPACE, "a,b"},
    {"a b", STR_SKIPSPACE, "a b"},
    {"a , b", STR_JOIN | STR_SKIPSPACE, "a,b"},
    {"a\t\tb", 0, "a b"},
    {"   ", 0, ""},
    {"< &" NAZAD, 0, "< &" NAZAD},
};

TEST(StrSqueeze, CollapsesRunsByMode)
{
    for (const TrimCase &c : kSqueeze) {
        char sz[32];
        strcpy(sz, c.in);
        StrSqueeze(sz, c.flags);
        EXPECT_STREQ(c.out, sz) << "'" << c.in << "' " << c.flags;
    }
}

TEST(StrFindChar, FindsFirstLastAndTheTerminator)
{
    const char *s = "C:\\A\\B";
    EXPECT_EQ(s + 6, StrFindChar(s, EOS, 0));
    EXPECT_EQ(s + 2, StrFindChar(s, '\\', 0));
    EXPECT_EQ(s + 4, StrFindChar(s, '\\', STR_RIGHT));
    EXPECT_EQ(NULL, StrFindChar(s, 'x', 0));
    EXPECT_EQ(s + 5, StrFindChar(s, 'b', STR_NOCASE));
    EXPECT_EQ(NULL, StrFindChar(s, 'b', 0));
    const char *t = "x" CYR_A "y";
    EXPECT_EQ(t + 1, StrFindChar(t, (char)0xE0, STR_NOCASE));
}

TEST(StrFindAny, FindsSetOrClassSkippingEscapes)
{
    const char *s = "ab;c\\;d;e";
    EXPECT_EQ(s + 2, StrFindAny(s, ";", 0, 0));
    EXPECT_EQ(s + 7, StrFindAny(s + 3, ";", '\\', 0)); // the escaped delimiter is not found
    EXPECT_EQ(s + 7, StrFindAny(s, ";", '\\', STR_RIGHT));
    EXPECT_EQ(s + 9, StrFindAny(s, "!", 0, 0));         // nothing: the terminator, never null
    EXPECT_EQ(s + 9, StrFindAny(s, NULL, 0, 0));
    EXPECT_EQ(s + 2, StrFindAny(s, NULL, 0, STR_PUNCT));
    const char *t = "ab\\";
    EXPECT_EQ(t + 3, StrFindAny(t, "\\", '\\', 0)); // an escape at the very end ends the walk
    EXPECT_EQ(t + 1, StrFindAny(t, "B", 0, STR_NOCASE));
}

static std::string Tokens(const char *pszIn, const char *set, int esc)
{
    char sz[64];
    strcpy(sz, pszIn);
    StrToken tok;
    std::string out;
    StrTokInit(&tok, sz, -1);
    while (StrTokNext(&tok, set, esc, 0)) {
        EXPECT_EQ((int)strlen(tok.cur), tok.len);
        out += "[" + std::string(tok.cur) + "]";
    }
    EXPECT_STREQ(pszIn, sz) << "the string is restored";
    return out;
}

TEST(Tokenizer, CutsAtEachDelimiterAndRestoresTheString)
{
    EXPECT_EQ("[a][b]", Tokens("a;b", ";", 0));
    EXPECT_EQ("[]", Tokens("", ";", 0));
    EXPECT_EQ("[a][]", Tokens("a;", ";", 0));
    EXPECT_EQ("[a][][b]", Tokens("a;;b", ";", 0));
    EXPECT_EQ("[Kalmori6][ Kalmori5]", Tokens("Kalmori6; Kalmori5", ";", 0));
    EXPECT_EQ("[a\\;b][c]", Tokens("a\\;b;c", ";", '\\'));
}

TEST(Tokenizer, FixedLengthCutIsUndoneByDone)
{
    char sz[] = "abcdef";
    StrToken tok;
    StrTokInit(&tok, sz, 3);
    EXPECT_STREQ("abc", sz);
    EXPECT_EQ(1, tok.mod);
    StrTokDone(&tok);
    EXPECT_STREQ("abcdef", sz);
    EXPECT_EQ(NULL, tok.cur);
    StrTokDone(&tok); // nothing left to restore
    EXPECT_STREQ("abcdef", sz);
}

TEST(Tokenizer, DoneAfterAnEarlyStopRestoresTheDelimiter)
{
    char sz[] = "a;b;c";
    StrToken tok;
    StrTokInit(&tok, sz, -1);
    ASSERT_EQ(1, StrTokNext(&tok, ";", 0, 0));
    ASSERT_EQ(1, StrTokNext(&tok, ";", 0, 0));
    EXPECT_STREQ("b", tok.cur);
    StrTokDone(&tok);
    EXPECT_STREQ("a;b;c", sz);
}

TEST(TokenizerDeath, BrokenRecordsEndTheProcess)
{
    char sz[] = "abc";
    StrToken tok;
    EXPECT_EXIT(StrTokInit(&tok, sz, 4), ExitedWithCode(3),
                "Assertion failed: len >= -1 && len <= StrLength.s., file lib.CHARSTR");
    StrTokInit(&tok, sz, 2);
    EXPECT_EXIT(StrTokNext(&tok, ";", 0, 0), ExitedWithCode(3),
                "Assertion failed: tok->mod == 0 .. tok->mod == 2, file lib.CHARSTR");
    StrTokDone(&tok);
    StrTokInit(&tok, sz, -1);
    StrTokNext(&tok, "b", 0, 0);
    sz[1] = 'x'; // someone wrote over the cut
    EXPECT_EXIT(StrTokNext(&tok, "b", 0, 0), ExitedWithCode(3), "Assertion failed: .p == EOS, file lib.CHARSTR");
}

TEST(StringType, SummarisesTheClassesOfAString)
{
    EXPECT_EQ(0, StrStringType("", STR_DIGIT));
    EXPECT_EQ(STR_DIGIT, StrStringType("0123", STR_DIGIT));
    int r = StrStringType("a1", STR_DIGIT);
    EXPECT_EQ(0, r & STR_DIGIT);
    EXPECT_EQ(STR_ALPHA | STR_XDIGIT | STR_LOWER, r & ~STR_DIGIT);
}

TEST(WholeStringCase, LowerUpperAndCapitalize)
{
    char sz[] = "hELLO wORLD";
    StrCapitalize(sz);
    EXPECT_STREQ("Hello world", sz);
    char szNum[] = "12 aB";
    StrCapitalize(szNum); // the first word character is a digit
    EXPECT_STREQ("12 ab", szNum);
    char szCyr[] = CYR_a CYR_yo "x";
    StrUpper(szCyr);
    EXPECT_STREQ(CYR_A CYR_YO "X", szCyr);
    StrLower(szCyr);
    EXPECT_STREQ(CYR_a CYR_yo "x", szCyr);
}

TEST(StrMove, HandlesOverlapInBothDirections)
{
    char sz[16] = "abcdef";
    StrMove(sz + 2, sz);
    EXPECT_STREQ("abcdef", sz + 2);
    char szB[16] = "abcdef";
    StrMove(szB, szB + 2);
    EXPECT_STREQ("cdef", szB);
}

TEST(StrFindStr, FindsOccurrencesWithOptions)
{
    const char *s = "concat cat";
    EXPECT_EQ(s + 3, StrFindStr(s, "cat", 0));
    EXPECT_EQ(s + 7, StrFindStr(s, "cat", STR_WHOLEWORD));
    EXPECT_EQ(s + 7, StrFindStr(s, "cat", STR_RIGHT));
    EXPECT_EQ(NULL, StrFindStr(s, "", 0));
    EXPECT_EQ(NULL, StrFindStr("", "a", 0));
    EXPECT_EQ(s + 7, StrFindStr(s, "CAT", STR_NOCASE | STR_WHOLEWORD));
    EXPECT_EQ(NULL, StrFindStr(s, "cats", 0));
    const char *t = "aaa";
    EXPECT_EQ(t + 1, StrFindStr(t, "aa", STR_RIGHT)); // overlapping occurrences count
}

TEST(StrCompare, AnswersMinusOneZeroOrOne)
{
    EXPECT_EQ(-1, StrCompare("a", "b", 0));
    EXPECT_EQ(1, StrCompare("b", "a", 0));
    EXPECT_EQ(0, StrCompare("abc", "abc", 0));
    EXPECT_EQ(0, StrCompare("ABC", "abc", STR_NOCASE));
    EXPECT_NE(0, StrCompare("ABC", "abc", 0));
    EXPECT_EQ(0, StrCompare(CYR_A, CYR_a, STR_NOCASE));
    EXPECT_EQ(-1, StrCompare("z", CYR_a, 0));
}

struct MatchCase {
    const char *s, *pat;
    int flags;
    int result;
};
static const MatchCase kMatch[] = {
    {"abc", "a*c", STR_WILDCARDS, 1},
    {"abc", "a?c", STR_WILDCARDS, 1},
    {"a*c", "a\\*c", STR_WILDCARDS, 1},
    {"abc", "a\\*c", STR_WILDCARDS, 0},
    {"ab", "a*b*c", STR_WILDCARDS, 0},
    {"a*c", "a*c", 0, 1},
    {"abc", "a*c", 0, 0},
    {"abc", "abc", 0, 1},
    {"abc", "ab", 0, 0},
    {"ABC", "abc", STR_NOCASE, 1},
    {"abc", "*", STR_WILDCARDS, 1},
    {"", "*", STR_WILDCARDS, 1},
    {"", "?", STR_WILDCARDS, 0},
    {"file.kmc", "*.kmc", STR_WILDCARDS | STR_NOCASE, 1},
    {"file.kmcx", "*.kmc", STR_WILDCARDS | STR_NOCASE, 0},
    {"mississippi", "*sip*", STR_WILDCARDS, 1},
    {"a b", "ab", STR_SKIPSPACE, 0},          // a word character after a blank needs one in the pattern too
    {"a b", "a  b", STR_SKIPSPACE, 1},
    {"a, b", "a b", STR_SKIPSPACE | STR_SKIPPUNCT, 1},
    {"a,b", "a b", STR_SKIPSPACE | STR_SKIPPUNCT, 1},
    {"a-b", "a*", STR_WILDCARDS | STR_SKIPPUNCT, 1},
};

TEST(StrMatch, WildcardsCaseAndSkippedClasses)
{
    for (const MatchCase &c : kMatch)
        EXPECT_EQ(c.result, StrMatch(c.s, c.pat, c.flags)) << "'" << c.s << "' ~ '" << c.pat << "' " << c.flags;
}

TEST(StrDeath, NullStringsEndTheProcess)
{
    EXPECT_EXIT(StrLength(NULL), ExitedWithCode(3), "Assertion failed: s != NULL, file lib.CHARSTR, line .");
    EXPECT_EXIT(StrFindStr("a", NULL, 0), ExitedWithCode(3), "Assertion failed: s != NULL && pat != NULL");
    EXPECT_EXIT(StrCompare(NULL, "a", 0), ExitedWithCode(3), "Assertion failed: s1 != NULL && s2 != NULL");
}
