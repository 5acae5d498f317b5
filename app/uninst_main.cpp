// uninst_main.cpp - the uninstaller program (Uninst.exe): the kernel's entry runs the uninstaller
// application. The only definition of InstallMain linked into it.

#include "uninst.h"

int InstallMain(void)
{
    return UninstRun();
}
