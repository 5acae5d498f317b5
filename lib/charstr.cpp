// charstr.cpp - 8-bit strings in caller-owned buffers: classes and case from the platform's national-language
// support, trimming, bounded copy and append, searching, an in-place tokenizer, whole-string case changes,
// comparison and wildcard matching. Nothing here allocates.

#include "charstr.h"
#include "platform.h"
#include "sysassert.h"

static const char szThisModule[] = "lib\\CHARSTR";

// The class of every character of the code page, once the platform has given them.
static WORD awCharTypes[256];
static int bCharTypes;

// ---------------------------------------------------------------------------------------------------------
// Classification and case

// Returns the class bits of one character. A character to which the platform gives no class at all (in code
// page 1251 the euro, trade mark and numero signs) counts as punctuation; only a failed platform query leaves
// the class empty, which the assertion reports.
int StrCharType(int c)
{
    char ch = (char)c;
    WORD wType = 0;
    int flags = 0;

    if (!bCharTypes) { // the system code page does not change while the process runs: asked once for all
        char achAll[256];
        for (int i = 0; i < 256; i++)
            achAll[i] = (char)i;
        bCharTypes = GetStringTypeA(LOCALE_SYSTEM_DEFAULT, CT_CTYPE1, achAll, 256, awCharTypes) != 0;
    }
    if (bCharTypes)
        wType = awCharTypes[(unsigned char)ch];
    else if (!GetStringTypeA(LOCALE_SYSTEM_DEFAULT, CT_CTYPE1, &ch, 1, &wType))
        wType = 0;
    if (wType & C1_ALPHA)
        flags |= STR_ALPHA;
    if (wType & C1_DIGIT)
        flags |= STR_DIGIT;
    if (wType & C1_XDIGIT)
        flags |= STR_XDIGIT;
    if (wType & C1_PUNCT)
        flags |= STR_PUNCT;
    if (wType & C1_SPACE)
        flags |= STR_SPACE;
    if (wType & C1_CNTRL)
        flags |= STR_CNTRL;
    if (wType & C1_LOWER)
        flags |= STR_LOWER;
    if (wType & C1_UPPER)
        flags |= STR_UPPER;
    if (flags == 0 && (wType & C1_DEFINED))
        flags = STR_PUNCT;
    ASSERT(flags != 0);
    return flags;
}

static int CharMap(int c, DWORD dwMap)
{
    char ch = (char)c;
    char chOut;

    if (LCMapStringA(LOCALE_SYSTEM_DEFAULT, dwMap, &ch, 1, &chOut, 1) == 1)
        return (signed char)chOut;
    return c;
}

int StrCharLower(int c)
{
    return CharMap(c, LCMAP_LOWERCASE);
}

int StrCharUpper(int c)
{
    return CharMap(c, LCMAP_UPPERCASE);
}

int StrLength(const char *s)
{
    int n = 0;

    ASSERT(s != NULL);
    while (s[n] != EOS)
        n++;
    return n;
}

static int IsSpace(char c)
{
    return (StrCharType(c) & STR_SPACE) != 0;
}

// True when the two characters are equal, without case when bNoCase is set.
static int CharEqual(char a, char b, int bNoCase)
{
    if (a == b)
        return 1;
    return bNoCase && (char)StrCharLower(a) == (char)StrCharLower(b);
}

// ---------------------------------------------------------------------------------------------------------
// Normalisation in place

void StrTrim(char *s, int flags)
{
    char *pStart;
    char *pLast = NULL;

    ASSERT(s != NULL);
    flags &= STR_LEFT | STR_RIGHT;
    if (flags == 0)
        flags = STR_LEFT | STR_RIGHT;
    pStart = s;
    if (flags & STR_LEFT)
        while (*pStart != EOS && IsSpace(*pStart))
            pStart++;
    if (flags & STR_RIGHT) {
        // From the end back: a path or a name is classified at its last characters only.
        for (char *p = pStart + StrLength(pStart); p > pStart; p--)
            if (!IsSpace(p[-1])) {
                pLast = p - 1;
                break;
            }
        if (pLast != NULL)
            pLast[1] = EOS;
        else
            *s = EOS;
    }
    if ((flags & STR_LEFT) && pStart != s) {
        char *pDest = s;
        while (*pStart != EOS)
            *pDest++ = *pStart++;
        *pDest = EOS;
    }
}

// Removes leading and trailing white space; each inner run becomes one blank (mode 0), one blank only
// between two characters that are not punctuation (STR_SKIPSPACE), or nothing (STR_JOIN).
void StrSqueeze(char *s, int flags)
{
    const char *pRead;
    char *pWrite;
    int nState = 0; // 0 leading white space, 1 inside a word, 2 inside a white-space run
    int nMode;

    ASSERT(s != NULL);
    nMode = flags & (STR_SKIPSPACE | STR_JOIN);
    pRead = s;
    pWrite = s;
    for (; *pRead != EOS; pRead++) {
        int nType = StrCharType(*pRead);
        if (nType & STR_SPACE) {
            if (nState == 1)
                nState = 2;
            continue;
        }
        if (nState == 2) {
            if (nMode == 0)
                *pWrite++ = ' ';
            else if (nMode == STR_SKIPSPACE && !(nType & STR_PUNCT) && !(StrCharType(pWrite[-1]) & STR_PUNCT))
                *pWrite++ = ' ';
        }
        nState = 1;
        *pWrite++ = *pRead;
    }
    *pWrite = EOS;
}

// ---------------------------------------------------------------------------------------------------------
// Copying

// Copies src into dest, which holds max bytes. Returns 1 when all of src fitted, 0 when it was cut short;
// dest is terminated either way. The source with its terminator must lie outside dest's capacity.
int StrCopy(char *dest, const char *src, int max)
{
    int n = 0;

    ASSERT(max > 0);
    ASSERT(src != NULL && dest != NULL);
    // The assertion's text is the condition as written.
    // clang-format off
    ASSERT(src >= dest+max || dest > src+StrLength(src));
    // clang-format on
    while (src[n] != EOS && n < max - 1) {
        dest[n] = src[n];
        n++;
    }
    dest[n] = EOS;
    return src[n] == EOS;
}

// Appends src to the string in dest, a buffer of max bytes that already holds fewer than max characters.
// Returns 1 when all of src fitted, 0 when the appended part was cut short; dest is terminated either way.
int StrAppend(char *dest, const char *src, int max)
{
    int n = 0;

    ASSERT(max > 0);
    ASSERT(src != NULL && dest != NULL);
    // The assertion's text is the condition as written.
    // clang-format off
    ASSERT(src >= dest+max || dest > src+StrLength(src));
    // clang-format on
    while (*dest != EOS) {
        ASSERT(max > 1);
        max--;
        dest++;
    }
    while (src[n] != EOS && n < max - 1) {
        dest[n] = src[n];
        n++;
    }
    dest[n] = EOS;
    return src[n] == EOS;
}

// ---------------------------------------------------------------------------------------------------------
// Searching

// Returns the first (with STR_RIGHT the last) position of c in s, the terminator included, or null.
char *StrFindChar(const char *s, int c, int flags)
{
    const char *pFound = NULL;
    int bNoCase;

    ASSERT(s != NULL);
    bNoCase = (flags & STR_NOCASE) != 0;
    for (;; s++) {
        if (CharEqual(*s, (char)c, bNoCase)) {
            if (!(flags & STR_RIGHT))
                return (char *)s;
            pFound = s;
        }
        if (*s == EOS)
            break;
    }
    return (char *)pFound;
}

// Returns the first (with STR_RIGHT the last) character of s whose class shares a bit with the low byte of
// flags or that is in set; the escape character and the one after it are never found. When nothing is
// found, the position of the terminator (never null).
char *StrFindAny(const char *s, const char *set, int esc, int flags)
{
    const char *pFound = NULL;
    int mask;
    char chEsc;
    int bNoCase;

    ASSERT(s != NULL);
    mask = flags & 0xFF;
    chEsc = (char)esc;
    bNoCase = (flags & STR_NOCASE) != 0;
    while (*s != EOS) {
        int bHit = 0;
        if (chEsc != EOS && *s == chEsc) {
            s++;
            if (*s == EOS)
                break;
            s++;
            continue;
        }
        if (mask != 0 && (StrCharType(*s) & mask))
            bHit = 1;
        else if (set != NULL)
            for (const char *q = set; *q != EOS && !bHit; q++)
                bHit = CharEqual(*s, *q, bNoCase);
        if (bHit) {
            if (!(flags & STR_RIGHT))
                return (char *)s;
            pFound = s;
        }
        s++;
    }
    if (pFound != NULL)
        return (char *)pFound;
    ASSERT(*s == EOS);
    return (char *)s;
}

// ---------------------------------------------------------------------------------------------------------
// Tokenizer: cuts the caller's string in place and puts back every character it overwrote.

void StrTokInit(StrToken *tok, char *s, int len)
{
    ASSERT(tok != NULL && s != NULL);
    ASSERT(len >= -1 && len <= StrLength(s));
    tok->cur = s;
    tok->mod = 0;
    if (len >= 0) {
        tok->len = len;
        tok->save = s[len];
        tok->mod = 1;
        s[len] = EOS;
    }
}

// Cuts the next token at the next delimiter (set, esc and flags as for StrFindAny) and returns 1; returns 0
// when the string is exhausted, by then restored.
int StrTokNext(StrToken *tok, const char *set, int esc, int flags)
{
    ASSERT(tok != NULL);
    ASSERT(tok->mod == 0 || tok->mod == 2);
    flags &= ~STR_RIGHT;
    if (tok->cur != NULL && tok->mod == 2) {
        char *p;
        ASSERT(tok->len >= 0);
        p = tok->cur + tok->len;
        ASSERT(*p == EOS);
        *p = tok->save;
        tok->cur = tok->save == EOS ? NULL : p + 1;
    }
    if (tok->cur != NULL) {
        char *p = StrFindAny(tok->cur, set, esc, flags);
        tok->len = (int)(p - tok->cur);
        tok->save = *p;
        tok->mod = 2;
        *p = EOS;
    }
    return tok->cur != NULL;
}

void StrTokDone(StrToken *tok)
{
    ASSERT(tok != NULL);
    if (tok->cur != NULL) {
        if (tok->mod != 0) {
            char *p;
            ASSERT(tok->len >= 0);
            p = tok->cur + tok->len;
            ASSERT(*p == EOS);
            *p = tok->save;
        }
        tok->cur = NULL;
    }
}

// ---------------------------------------------------------------------------------------------------------
// Whole strings

// Returns the mask bits every character has, plus the class bits of each character that has none of the
// mask's bits; 0 for the empty string.
int StrStringType(const char *s, int mask)
{
    int nAll;
    int nOutside = 0;

    ASSERT(s != NULL);
    mask &= 0xFF;
    if (*s == EOS)
        return 0;
    nAll = mask;
    for (; *s != EOS; s++) {
        int k = StrCharType(*s);
        nAll &= k;
        if ((k & mask) == 0)
            nOutside |= k;
    }
    return nAll | nOutside;
}

void StrLower(char *s)
{
    ASSERT(s != NULL);
    for (; *s != EOS; s++)
        *s = (char)StrCharLower(*s);
}

void StrUpper(char *s)
{
    ASSERT(s != NULL);
    for (; *s != EOS; s++)
        *s = (char)StrCharUpper(*s);
}

// Upper-cases the first word character of the whole string and lower-cases every other character.
void StrCapitalize(char *s)
{
    int bDone = 0;

    ASSERT(s != NULL);
    for (; *s != EOS; s++) {
        if (!bDone && (StrCharType(*s) & STR_WORD)) {
            *s = (char)StrCharUpper(*s);
            bDone = 1;
        } else {
            *s = (char)StrCharLower(*s);
        }
    }
}

// Copies src with its terminator to dest, also when the two overlap; dest must hold StrLength(src) + 1 bytes.
void StrMove(char *dest, const char *src)
{
    ASSERT(src != NULL && dest != NULL);
    if (src < dest) {
        for (int i = StrLength(src); i >= 0; i--)
            dest[i] = src[i];
    } else {
        int i = 0;
        do
            dest[i] = src[i];
        while (src[i++] != EOS);
    }
}

static int IsWordChar(char c)
{
    return (StrCharType(c) & STR_WORD) != 0;
}

// Returns the first (with STR_RIGHT the last) occurrence of pat in s, or null; with STR_WHOLEWORD only an
// occurrence that neither starts nor ends inside a word.
char *StrFindStr(const char *s, const char *pat, int flags)
{
    const char *pFound = NULL;
    int bNoCase;

    ASSERT(s != NULL && pat != NULL);
    if (*s == EOS || *pat == EOS)
        return NULL;
    bNoCase = (flags & STR_NOCASE) != 0;
    for (const char *pStart = s; *pStart != EOS; pStart++) {
        int i = 0;
        int bAccept;
        while (pat[i] != EOS) {
            if (pStart[i] == EOS)
                return (char *)pFound; // the text ends first: no later start can match
            if (!CharEqual(pStart[i], pat[i], bNoCase))
                break;
            i++;
        }
        if (pat[i] != EOS)
            continue;
        bAccept = 1;
        if (flags & STR_WHOLEWORD) {
            if (pStart != s && IsWordChar(pStart[-1]) && IsWordChar(pStart[0]))
                bAccept = 0;
            if (pStart[i] != EOS && IsWordChar(pStart[i - 1]) && IsWordChar(pStart[i]))
                bAccept = 0;
        }
        if (bAccept) {
            if (!(flags & STR_RIGHT))
                return (char *)pStart;
            pFound = pStart;
        }
    }
    return (char *)pFound;
}

// Compares by the platform's locale rules; returns -1, 0 or 1.
int StrCompare(const char *s1, const char *s2, int flags)
{
    int iRes;

    ASSERT(s1 != NULL && s2 != NULL);
    iRes = CompareStringA(LOCALE_SYSTEM_DEFAULT, (flags & STR_NOCASE) ? NORM_IGNORECASE : 0, s1, -1, s2, -1);
    ASSERT(iRes >= 1 && iRes <= 3);
    return iRes - 2;
}

// Separator test of the matcher: without a skip class every character separates; with one, only a
// character that is not a word character.
static int MatchSep(char c, int nSkip)
{
    if (nSkip == 0)
        return 1;
    return IsWordChar(c) ? 0 : 1;
}

// Returns 1 when s matches pat. With flags 0 the comparison is exact. Otherwise: STR_NOCASE compares without
// case; STR_WILDCARDS makes "*" any run, "?" any one character and "\" a quote for the next; STR_SKIPSPACE
// and STR_SKIPPUNCT ignore white space and punctuation on both sides, while a word character of the text
// matches only where text and pattern agree on whether a separator came just before it.
int StrMatch(const char *s, const char *pat, int flags)
{
    const char *t;
    const char *p;
    const char *bt = NULL;
    const char *bp = NULL;
    int tb = 1;
    int pb = 1;
    int nSkip = 0;
    int bWild;
    int bNoCase;
    int bAny;

    ASSERT(s != NULL && pat != NULL);
    if (flags == 0) {
        while (*s != EOS && *s == *pat) {
            s++;
            pat++;
        }
        return *s == EOS && *pat == EOS;
    }
    if (flags & STR_SKIPSPACE)
        nSkip |= STR_SPACE;
    if (flags & STR_SKIPPUNCT)
        nSkip |= STR_PUNCT;
    bWild = (flags & STR_WILDCARDS) != 0;
    bNoCase = (flags & STR_NOCASE) != 0;
    t = s;
    p = pat;
    for (;;) {
        // Skip ignored characters of the text.
        while (*t != EOS && (StrCharType(*t) & nSkip)) {
            tb = 1;
            t++;
        }
        // Pattern scan: wildcards and ignored characters of the pattern.
        bAny = 0;
        for (;;) {
            int bQuoted = 0;
            if (bWild && *p == '\\') {
                p++;
                bQuoted = 1;
            }
            if (!bQuoted && bWild && *p == '?') {
                bAny = 1;
                break;
            }
            if (!bQuoted && bWild && *p == '*') {
                pb = pb || tb;
                p++;
                if (MatchSep(*t, nSkip) || tb == pb) {
                    bp = p;
                    bt = t;
                }
                continue;
            }
            if (*p != EOS && (StrCharType(*p) & nSkip)) {
                pb = 1;
                p++;
                continue;
            }
            break;
        }
        // Compare one character.
        if (*t != EOS && *p != EOS && (bAny || CharEqual(*t, *p, bNoCase))) {
            int w = MatchSep(*t, nSkip);
            if (w != 0 || tb == pb) {
                tb = w;
                pb = w;
                t++;
                p++;
                continue;
            }
        }
        // Backtrack to the last star.
        if (*t == EOS || bt == NULL)
            break;
        tb = MatchSep(*bt, nSkip);
        pb = tb;
        p = bp;
        bt++;
        t = bt;
    }
    return *t == EOS && *p == EOS;
}
