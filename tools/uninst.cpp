// uninst.cpp - the placeholder uninstaller that ships on the demo medium beside the installer: it only says
// what it is. The installer copies it into the application folder and names it in the uninstall entry.

#include <windows.h>

#define IDS_UNINST_TITLE 1
#define IDS_UNINST_TEXT 2

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    char szTitle[128];
    char szText[512];

    (void)hPrevInstance;
    (void)lpCmdLine;
    (void)nShowCmd;
    if (LoadStringA(hInstance, IDS_UNINST_TITLE, szTitle, sizeof szTitle) <= 0)
        szTitle[0] = '\0';
    if (LoadStringA(hInstance, IDS_UNINST_TEXT, szText, sizeof szText) <= 0)
        szText[0] = '\0';
    MessageBoxA(NULL, szText, szTitle, MB_OK | MB_ICONINFORMATION);
    return 0;
}
