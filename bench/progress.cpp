// progress.cpp - unpacks a package as pkgtool does, for the progress benchmark in unpack.sh: with --hook the
// package's read hook does what the installer's does while it unpacks (counts the bytes, forms the progress
// line when a number changed, and looks at the messages every 20 ms), without it nothing.
// Usage: progress [--hook] PACKAGE OUTLIST (host paths; OUTLIST names one output file a line).

#include "kernel/kernel.h"
#include "package.h"
#include "wizard.h"

#include <stdio.h>

#include <fstream>
#include <string>
#include <vector>

static DWORD dwRead;
static DWORD dwSize;
static int nShownPercent = -1;
static DWORD dwLastLook;
static char szLine[160];

static void Hook(int nBytes)
{
    dwRead += (DWORD)nBytes;
    int nPercent = (int)((unsigned long long)dwRead * 100 / dwSize);
    if (nPercent != nShownPercent) {
        nShownPercent = nPercent;
        WizFormatNumbers(szLine, "File %1 of %2, %3 %%", sizeof szLine, 1, 48, nPercent);
    }
    DWORD dwNow = GetTickCount();
    if (dwNow - dwLastLook >= 20) {
        MSG msg;
        dwLastLook = dwNow;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
}

static std::string WinPath(const std::string &sHost)
{
    bool bLossy = false;
    std::string s = plat::WindowsPathFromHost(sHost, &bLossy);
    if (bLossy) {
        fprintf(stderr, "progress: %s: cannot be named on the machine\n", sHost.c_str());
        exit(2);
    }
    return s;
}

int main(int argc, char **argv)
{
    bool bHook = argc == 4 && std::string(argv[1]) == "--hook";
    if (argc != 3 && !bHook) {
        fprintf(stderr, "usage: progress [--hook] PACKAGE OUTLIST\n");
        return 2;
    }
    std::string sPackage = WinPath(argv[bHook ? 2 : 1]);
    std::ifstream list(argv[bHook ? 3 : 2]);
    std::vector<std::string> aOut;
    for (std::string s; std::getline(list, s);)
        aOut.push_back(WinPath(s));
    HANDLE hFile = CreateFileA(sPackage.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return 1;
    dwSize = GetFileSize(hFile, NULL);
    CloseHandle(hFile);
    if (dwSize == 0 || dwSize == INVALID_FILE_SIZE)
        return 1;
    if (bHook)
        PkgSetReadHook(Hook);
    int hPkg = PkgOpen(sPackage.c_str(), 0);
    if (hPkg == 0)
        return 1;
    for (const std::string &s : aOut)
        if (PkgUnpackFile(hPkg, s.c_str()) != PKG_OK)
            return 1;
    PkgClose(hPkg);
    return 0;
}
