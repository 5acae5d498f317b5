// user.cpp - message boxes for the Linux build. Without a window system the box's caption and text go to
// standard error in UTF-8, and the box answers as if its first button were pressed.

#include "platint.h"

#include <stdio.h>

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    (void)hWnd;
    std::string sCaption = plat::AnsiToUtf8(lpCaption != NULL ? lpCaption : "");
    std::string sText = plat::AnsiToUtf8(lpText != NULL ? lpText : "");
    fprintf(stderr, "%s: %s\n", sCaption.c_str(), sText.c_str());
    fflush(stderr);
    switch (uType & MB_TYPEMASK) {
    case MB_YESNO:
    case MB_YESNOCANCEL:
        return IDYES;
    case MB_RETRYCANCEL:
        return IDRETRY;
    case MB_ABORTRETRYIGNORE:
        return IDABORT;
    default:
        return IDOK;
    }
}
