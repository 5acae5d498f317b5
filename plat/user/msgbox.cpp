// msgbox.cpp - message boxes: shown by the front end in use, or, in a process that has none, written to
// standard error.

#include "user/user.h"

#include <stdio.h>

// Shows a box whose caption and text are kept as the windows keep theirs (code page 1251).
static int ShowMessageBox(HWND hWnd, const std::string &sText, const std::string &sCaption, UINT uType)
{
    plat::FrontEnd *pUi = plat::StartedFrontEnd();
    if (pUi == nullptr && plat::UiWanted())
        pUi = plat::ActiveFrontEnd();
    if (pUi != nullptr)
        return pUi->MessageBox(plat::WndFromHandle(hWnd), sText, sCaption, uType);
    fprintf(stderr, "%s: %s\n", plat::TextToUtf8(sCaption).c_str(), plat::TextToUtf8(sText).c_str());
    fflush(stderr);
    return plat::MessageBoxButtons(uType)[0].second;
}

// A process that has shown no dialog and did not start through WinMain (a console program, a test) writes
// the box's caption and text to standard error and takes the first button. Without a caption the box says
// "Ошибка" (error).
int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    std::string sText = plat::AnsiToText(lpText != NULL ? lpText : "");
    std::string sCaption = lpCaption != NULL ? plat::AnsiToText(lpCaption) : plat::Utf8ToText("Ошибка");
    return ShowMessageBox(hWnd, sText, sCaption, uType);
}

static std::string WideText(LPCWSTR psz)
{
    size_t n = 0;
    while (psz != NULL && psz[n] != 0)
        n++;
    return plat::Utf16ToText(psz, n);
}

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType)
{
    std::string sCaption = lpCaption != NULL ? WideText(lpCaption) : plat::Utf8ToText("Ошибка");
    return ShowMessageBox(hWnd, WideText(lpText), sCaption, uType);
}
