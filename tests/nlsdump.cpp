// nlsdump.cpp - prints the platform's character type word and one-character case mappings of every byte
// of the ANSI code page, in the system default locale, as a tab-separated table.

#include "platform.h"

#include <stdio.h>

int main(void)
{
    printf("byte\tctype1\tupper\tlower\n");
    for (int c = 0; c < 256; c++) {
        char ch = (char)c;
        char chUpper = ch, chLower = ch;
        WORD wType = 0;
        GetStringTypeA(LOCALE_SYSTEM_DEFAULT, CT_CTYPE1, &ch, 1, &wType);
        LCMapStringA(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE, &ch, 1, &chUpper, 1);
        LCMapStringA(LOCALE_SYSTEM_DEFAULT, LCMAP_LOWERCASE, &ch, 1, &chLower, 1);
        printf("%02X\t%04X\t%02X\t%02X\n", c, wType, (unsigned char)chUpper, (unsigned char)chLower);
    }
    return 0;
}
