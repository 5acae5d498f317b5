// plat-path.cpp - the emulated machine's paths for people and scripts (Linux): the host path of a Windows
// path, or with -w the Windows path of a host path. Text on the command line and the output are UTF-8.
//
//   plat-path 'C:\Program Files'   prints   /home/ann/.local/share/plat/machine/drive_c/Program Files
//   plat-path -w /tmp/x             prints   Z:\tmp\x
//
// Exit codes: 0 every path was mapped; 1 a path could not be (the reason on standard error); 2 bad usage.

#include "kernel/kernel.h"

#include <stdio.h>
#include <string.h>

static void Usage(FILE *f)
{
    fprintf(f, "usage: plat-path WINDOWS-PATH...   print the host path of each Windows path\n"
               "       plat-path -w HOST-PATH...   print the Windows path of each host path\n"
               "The machine folder is $PLAT_ROOT (default ~/.local/share/plat/machine).\n");
}

static const char *Reason(DWORD nError)
{
    switch (nError) {
    case ERROR_PATH_NOT_FOUND:
        return "no such drive, or a folder on the way does not exist";
    case ERROR_INVALID_NAME:
        return "a name holds a character Windows does not allow";
    case ERROR_FILENAME_EXCED_RANGE:
        return "the path is too long";
    case ERROR_BAD_NETPATH:
        return "network paths are not part of the machine";
    default:
        return "the path cannot be resolved";
    }
}

int main(int argc, char **argv)
{
    bool bToWindows = false;
    int i = 1;

    for (; i < argc && argv[i][0] == '-'; i++) {
        if (strcmp(argv[i], "-w") == 0) {
            bToWindows = true;
        } else if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
            Usage(stdout);
            return 0;
        } else if (strcmp(argv[i], "--") == 0) {
            i++;
            break;
        } else {
            fprintf(stderr, "plat-path: unknown option %s\n", argv[i]);
            Usage(stderr);
            return 2;
        }
    }
    if (i == argc) {
        Usage(stderr);
        return 2;
    }

    int rc = 0;
    for (; i < argc; i++) {
        if (bToWindows) {
            bool bLossy = false;
            std::string sWin = plat::WindowsPathFromHost(argv[i], &bLossy);
            if (bLossy) {
                fprintf(stderr, "plat-path: %s: a name has characters outside code page 1251\n", argv[i]);
                rc = 1;
                continue;
            }
            printf("%s\n", plat::AnsiToUtf8(sWin).c_str());
        } else {
            bool bLossy = false;
            std::string sWin = plat::Utf8ToAnsi(argv[i], &bLossy);
            plat::ResolvedPath path;
            DWORD nError = 0;
            if (bLossy) {
                fprintf(stderr, "plat-path: %s: a name has characters outside code page 1251\n", argv[i]);
                rc = 1;
            } else if (!plat::ResolvePath(sWin.c_str(), &path, &nError)) {
                fprintf(stderr, "plat-path: %s: %s (error %lu)\n", argv[i], Reason(nError),
                        (unsigned long)nError);
                rc = 1;
            } else {
                printf("%s\n", path.sHost.c_str());
            }
        }
    }
    return rc;
}
