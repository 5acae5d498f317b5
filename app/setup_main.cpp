// setup_main.cpp - the installer program (Setup.exe): the kernel's entry runs the installer application.
// The only definition of InstallMain linked into it.

#include "install.h"

int InstallMain(void)
{
    return InstallRun();
}
