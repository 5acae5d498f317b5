// msgbox.cpp - message boxes: shown by the front end in use, or, in a process that has none, written to
// standard error.

#include "user/user.h"

#include <stdio.h>

// A process that has shown no dialog and did not start through WinMain (a console program, a test) writes
// the box's caption and text to standard error and takes the first button.
int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    std::string sText = lpText != NULL ? lpText : "";
    std::string sCaption = lpCaption != NULL ? lpCaption : plat::Utf8ToAnsi("Ошибка");
    plat::FrontEnd *pUi = plat::StartedFrontEnd();
    if (pUi == nullptr && plat::UiWanted())
        pUi = plat::ActiveFrontEnd();
    if (pUi != nullptr)
        return pUi->MessageBox(plat::WndFromHandle(hWnd), sText, sCaption, uType);
    fprintf(stderr, "%s: %s\n", plat::AnsiToUtf8(sCaption).c_str(), plat::AnsiToUtf8(sText).c_str());
    fflush(stderr);
    return plat::MessageBoxButtons(uType)[0].second;
}
