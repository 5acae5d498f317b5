// charstr.h - 8-bit strings in caller-owned buffers: classes and case, bounded copy and append, trimming,
// searching, an in-place tokenizer, whole-string case changes, comparison and wildcard matching.
#pragma once

#define EOS '\0'

// Character class bits (StrCharType)
#define STR_ALPHA 0x01
#define STR_DIGIT 0x02
#define STR_XDIGIT 0x04
#define STR_PUNCT 0x08
#define STR_SPACE 0x10
#define STR_CNTRL 0x20
#define STR_LOWER 0x40
#define STR_UPPER 0x80
#define STR_WORD (STR_ALPHA | STR_DIGIT | STR_XDIGIT)

// Flag bits; the low byte doubles as a class mask for StrFindAny and StrTokNext
#define STR_LEFT 0x0100
#define STR_RIGHT 0x0200
#define STR_NOCASE 0x0400
#define STR_SKIPSPACE 0x0800
#define STR_SKIPPUNCT 0x1000
#define STR_JOIN 0x2000
#define STR_WHOLEWORD 0x4000
#define STR_WILDCARDS 0x8000

// Tokenizer record, owned by the caller. mod: 0 started, 1 cut at a fixed length, 2 a token is cut.
struct StrToken {
    int mod;
    char *cur;
    char save;
    int len;
};

int StrCharType(int c);
int StrCharLower(int c);
int StrCharUpper(int c);
int StrLength(const char *s);

void StrTrim(char *s, int flags);
void StrSqueeze(char *s, int flags);

int StrCopy(char *dest, const char *src, int max);
int StrAppend(char *dest, const char *src, int max);

char *StrFindChar(const char *s, int c, int flags);
char *StrFindAny(const char *s, const char *set, int esc, int flags);

void StrTokInit(StrToken *tok, char *s, int len);
int StrTokNext(StrToken *tok, const char *set, int esc, int flags);
void StrTokDone(StrToken *tok);

int StrStringType(const char *s, int mask);
void StrLower(char *s);
void StrUpper(char *s);
void StrCapitalize(char *s);
void StrMove(char *dest, const char *src);
char *StrFindStr(const char *s, const char *pat, int flags);
int StrCompare(const char *s1, const char *s2, int flags);
int StrMatch(const char *s, const char *pat, int flags);
