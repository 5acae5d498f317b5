// deltree.cpp - deletes a folder tree with UtlDeleteTree, for the tree-deletion benchmark (deltree.sh).
// Usage: deltree HOSTPATH. Exit code 0 when the folder is gone, 1 when not.

#include "kernel/kernel.h"
#include "utils.h"

#include <stdio.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: deltree HOSTPATH\n");
        return 2;
    }
    bool bLossy = false;
    std::string sPath = plat::WindowsPathFromHost(argv[1], &bLossy);
    if (bLossy || sPath.size() >= MAX_PATH) {
        fprintf(stderr, "deltree: %s: cannot be named on the machine\n", argv[1]);
        return 2;
    }
    return UtlDeleteTree(sPath.c_str()) ? 0 : 1;
}
