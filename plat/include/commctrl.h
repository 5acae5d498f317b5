// commctrl.h - the common controls' initialisation, as the Linux platform layer declares it. The dialog
// manager draws its controls itself: the classes are always there.
#pragma once

#include "plat/wintypes.h"

typedef struct tagINITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
} INITCOMMONCONTROLSEX, *LPINITCOMMONCONTROLSEX;

#define ICC_WIN95_CLASSES 0x000000FF
#define ICC_STANDARD_CLASSES 0x00004000

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX *picce);
