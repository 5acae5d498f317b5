// uninst.cpp - the uninstaller program: the kernel's entry runs the uninstaller application.

#include "uninst.h"

int InstallMain(void)
{
    return UninstMain();
}
