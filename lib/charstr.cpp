// charstr.cpp - 8-bit strings in caller-owned buffers. Nothing here allocates.

#include "charstr.h"
#include "platform.h"
#include "sysassert.h"

static const char szThisModule[] = "lib\\CHARSTR";

int StrLength(const char *s)
{
    int n = 0;

    ASSERT(s != NULL);
    while (s[n] != EOS)
        n++;
    return n;
}

int StrCopy(char *dest, const char *src, int max)
{
    int n = 0;

    ASSERT(max > 0);
    ASSERT(src != NULL && dest != NULL);
    ASSERT(src >= dest+max || dest > src+StrLength(src));
    while (src[n] != EOS && n < max - 1) {
        dest[n] = src[n];
        n++;
    }
    dest[n] = EOS;
    return src[n] == EOS;
}
