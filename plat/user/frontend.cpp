// frontend.cpp - the choice of the front end that shows dialogs and message boxes: PLAT_UI (gui, text or
// script), else the GUI when an X display opens, the terminal when standard input is one, otherwise the
// script. The GUI front end is linked into the programs that show dialogs only (plat_gui): it is reached
// through a weak reference, null in the others.

#include "user/user.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace plat
{

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

} // namespace plat
