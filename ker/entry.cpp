// entry.cpp - the process entry of every program of the system: WinMain keeps the module instance, starts
// the resource handle table, runs the program's InstallMain and frees what the table still holds. A unit of
// its own, so that only a program, which the runtime starts through WinMain, needs an InstallMain: the
// tests use the table and the engine without one.

#include "wizard.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    int nResult;

    (void)hPrevInstance;
    (void)lpCmdLine;
    (void)nShowCmd;
    hWizInstance = hInstance;
    ResInit();
    nResult = InstallMain();
    ResFreeAll();
    return nResult;
}
