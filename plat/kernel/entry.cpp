// entry.cpp - the process entry of the Linux programs: the runtime's main calls WinMain with the module.

#include "user/user.h"

int main(int argc, char **argv)
{
    LPSTR pszCmd = GetCommandLineA();

    (void)argc;
    (void)argv;
    // WinMain receives the command line without the program's name, as on Windows.
    bool bQuoted = false;
    while (*pszCmd != '\0' && (bQuoted || (*pszCmd != ' ' && *pszCmd != '\t'))) {
        if (*pszCmd == '"')
            bQuoted = !bQuoted;
        pszCmd++;
    }
    while (*pszCmd == ' ' || *pszCmd == '\t')
        pszCmd++;
    plat::SetUiWanted(true); // message boxes of a WinMain program are shown by a front end
    return WinMain(GetModuleHandleA(NULL), NULL, pszCmd, SW_SHOWDEFAULT);
}
