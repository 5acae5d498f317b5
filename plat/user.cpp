// user.cpp - message boxes, the common controls' initialisation, and the choice of the front end that shows
// dialogs and message boxes: PLAT_UI (gui, text or script), else the GUI when an X display opens, the
// terminal when standard input is one, otherwise the script.

#include "dlgint.h"

#include <commctrl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace plat {

static FrontEnd *pFrontEnd;
static bool bChosen;
static bool bUiWanted;

bool UiWanted()
{
    return bUiWanted;
}

void SetUiWanted(bool b)
{
    bUiWanted = b;
}

FrontEnd *StartedFrontEnd()
{
    return pFrontEnd;
}

void SetFrontEnd(FrontEnd *p)
{
    pFrontEnd = p;
    bChosen = true;
}

static FrontEnd *StartScript()
{
    std::string sError;
    FrontEnd *p = NewScriptFrontEnd(getenv("PLAT_SCRIPT"), &sError);
    if (p == nullptr) {
        fprintf(stderr, "PLAT_SCRIPT: %s\n", sError.c_str());
        fflush(stderr);
        _exit(2);
    }
    return p;
}

static FrontEnd *StartWithoutDisplay()
{
    return isatty(0) ? NewTextFrontEnd() : StartScript();
}

FrontEnd *ActiveFrontEnd()
{
    if (bChosen)
        return pFrontEnd;
    bChosen = true;
    const char *pszUi = getenv("PLAT_UI");
    if (pszUi != nullptr && *pszUi != '\0') {
        if (strcmp(pszUi, "text") == 0) {
            pFrontEnd = NewTextFrontEnd();
        } else if (strcmp(pszUi, "script") == 0) {
            pFrontEnd = StartScript();
        } else if (strcmp(pszUi, "gui") == 0) {
            pFrontEnd = NewGuiFrontEnd != nullptr ? NewGuiFrontEnd() : nullptr;
            if (pFrontEnd == nullptr) {
                fprintf(stderr, "PLAT_UI=gui: %s; using the %s front end\n",
                        NewGuiFrontEnd != nullptr ? "no X display opens" : "this program has no GUI",
                        isatty(0) ? "text" : "script");
                fflush(stderr);
                pFrontEnd = StartWithoutDisplay();
            }
        } else {
            fprintf(stderr, "PLAT_UI: unknown front end \"%s\" (gui, text or script)\n", pszUi);
            fflush(stderr);
            _exit(2);
        }
        return pFrontEnd;
    }
    if (NewGuiFrontEnd != nullptr)
        pFrontEnd = NewGuiFrontEnd();
    if (pFrontEnd == nullptr)
        pFrontEnd = StartWithoutDisplay();
    return pFrontEnd;
}

std::vector<std::pair<std::string, int>> MessageBoxButtons(UINT uType)
{
    // The labels of a Russian system, in UTF-8.
    switch (uType & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return {{"OK", IDOK}, {"Отмена", IDCANCEL}};
    case MB_ABORTRETRYIGNORE:
        return {{"&Прервать", IDABORT}, {"П&овтор", IDRETRY}, {"П&ропустить", IDIGNORE}};
    case MB_YESNOCANCEL:
        return {{"&Да", IDYES}, {"&Нет", IDNO}, {"Отмена", IDCANCEL}};
    case MB_YESNO:
        return {{"&Да", IDYES}, {"&Нет", IDNO}};
    case MB_RETRYCANCEL:
        return {{"&Повтор", IDRETRY}, {"Отмена", IDCANCEL}};
    default:
        return {{"OK", IDOK}};
    }
}

} // namespace plat

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

// The dialog manager draws every control class it knows itself, so there is nothing to register; a record of
// the wrong size is refused, as Windows refuses it.
BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX *picce)
{
    if (picce == NULL || picce->dwSize != sizeof(INITCOMMONCONTROLSEX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}
