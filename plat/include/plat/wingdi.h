// wingdi.h - the few graphics objects of the Linux build: bitmaps loaded from the program's resources, and
// the screen's resolution.
#pragma once

#include "wintypes.h"

#define OBJ_BITMAP 7

typedef struct tagBITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    LPVOID bmBits;
} BITMAP, *PBITMAP, *LPBITMAP;

BOOL WINAPI DeleteObject(HGDIOBJ ho);
int WINAPI GetObjectA(HGDIOBJ h, int c, LPVOID pv);

#define LOGPIXELSX 88
#define LOGPIXELSY 90

// LOGPIXELSX and LOGPIXELSY: 96, the resolution the front ends draw dialogs at; 0 for any other index.
int WINAPI GetDeviceCaps(HDC hdc, int index);
