// install.cpp - the installer application's main flow.

#include "install.h"
#include "resource.h"
#include "wizard.h"

// Until the wizard runs, the installer shows its welcome text in a message box.
int InstallMain(void)
{
    int hTitle = ResLoadString(IDS_TITLE);
    int hText = ResLoadString(IDS_WELCOME);

    MessageBoxA(NULL, ResGetString(hText), ResGetString(hTitle), MB_OK | MB_ICONINFORMATION);
    return 0;
}
