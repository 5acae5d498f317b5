// entry_check.cpp - a program entry for the link check entry_check: linked with every object of the system
// library, it links only while the library defines no InstallMain of its own.

#include "wizard.h"

int InstallMain(void)
{
    return 0;
}
