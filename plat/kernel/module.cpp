// module.cpp - the process and its module for the Linux build: the module handle and file name, the
// command line and the end of the process.

#include "kernel/kernel.h"
#include "shell/shell.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <mutex>

// The program's resources, linked in by the build as one .res image (see cmake/resources.cmake). Weak, so
// that a program without resources links too and finds none.
extern "C" const unsigned char plat_res_image[] __attribute__((weak));
extern "C" const unsigned char plat_res_image_end[] __attribute__((weak));

namespace plat {

static Module theModule;
static bool bModuleReady;

static Module *ProgramModule()
{
    if (!bModuleReady) {
        if (plat_res_image != nullptr && plat_res_image_end != nullptr) {
            theModule.pRes = plat_res_image;
            theModule.nRes = (size_t)(plat_res_image_end - plat_res_image);
        }
        bModuleReady = true;
    }
    return &theModule;
}

Module *ModuleFromHandle(HINSTANCE h)
{
    if (h == NULL || h == (HINSTANCE)ProgramModule())
        return ProgramModule();
    return nullptr;
}

std::string ExecutableHostPath()
{
    char szPath[4096];
    ssize_t n = readlink("/proc/self/exe", szPath, sizeof szPath - 1);
    if (n <= 0)
        return std::string();
    szPath[n] = '\0';
    return szPath;
}

} // namespace plat

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName)
{
    if (lpModuleName != NULL) {
        SetLastError(126); // ERROR_MOD_NOT_FOUND: the program is the only module here
        return NULL;
    }
    return (HMODULE)plat::ProgramModule();
}

// GetModuleFileName's answer for either kind of character: the path, cut to nSize - 1 characters and
// terminated with ERROR_INSUFFICIENT_BUFFER when it does not fit (nSize returned, as Windows does).
template <typename Char>
static DWORD CopyModuleName(HMODULE hModule, const std::basic_string<Char> &sPath, Char *pOut, DWORD nSize)
{
    if (plat::ModuleFromHandle(hModule) == nullptr) {
        SetLastError(126);
        return 0;
    }
    if (nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (sPath.size() >= nSize) {
        memcpy(pOut, sPath.data(), (nSize - 1) * sizeof(Char));
        pOut[nSize - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    memcpy(pOut, sPath.c_str(), (sPath.size() + 1) * sizeof(Char));
    SetLastError(ERROR_SUCCESS);
    return (DWORD)sPath.size();
}

// The program's host path as the emulated machine shows it: on C: when it lies in drive_c, else on Z:.
static DWORD GetModuleFileNameAImpl(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    std::string sPath = plat::WindowsPathFromHost(plat::ExecutableHostPath());
    DWORD nError;

    if (plat::InjectedFault("GetModuleFileNameA", sPath, &nError)) {
        SetLastError(nError);
        return 0;
    }
    return CopyModuleName(hModule, sPath, lpFilename, nSize);
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    plat::TracedCall call("GetModuleFileNameA");
    DWORD n = GetModuleFileNameAImpl(hModule, lpFilename, nSize);
    return call.Value(n, n != 0);
}

// The same path in UTF-16, whatever the ANSI code page holds of it. Not a checked call: the program reads
// its path through GetModuleFileNameA, which is.
DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize)
{
    std::u16string sPath = plat::Utf8ToUtf16(plat::WindowsPathFromHostUtf8(plat::ExecutableHostPath()));

    return CopyModuleName(hModule, sPath, lpFilename, nSize);
}

// The command line in the ANSI code page: the very line the parent gave CreateProcessA, when it came along
// in PLAT_COMMAND_LINE and splits into this process's arguments (a variable left over from another start
// does not); else the arguments joined as the platform's rules read them back (JoinCommandLine).
LPSTR WINAPI GetCommandLineA(void)
{
    static std::string sLine;
    static std::once_flag once;

    std::call_once(once, [] {
        std::ifstream in("/proc/self/cmdline", std::ios::binary);
        std::string sAll((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<std::string> aArgs;
        size_t nStart = 0;
        while (nStart < sAll.size()) {
            size_t nEnd = sAll.find('\0', nStart);
            if (nEnd == std::string::npos)
                nEnd = sAll.size();
            aArgs.push_back(plat::Utf8ToAnsi(sAll.substr(nStart, nEnd - nStart)));
            nStart = nEnd + 1;
        }
        const char *pszGiven = getenv("PLAT_COMMAND_LINE");
        std::string sGiven = pszGiven != nullptr ? plat::Utf8ToAnsi(pszGiven) : std::string();
        sLine = pszGiven != nullptr && plat::SplitCommandLine(sGiven) == aArgs ? sGiven
                                                                               : plat::JoinCommandLine(aArgs);
    });
    return &sLine[0];
}

void WINAPI ExitProcess(UINT uExitCode)
{
    plat::FlushNotifications();
    fflush(stdout);
    fflush(stderr);
    _exit((int)uExitCode);
}

int WINAPI MulDiv(int nNumber, int nNumerator, int nDenominator)
{
    if (nDenominator == 0)
        return -1;
    long long v = (long long)nNumber * nNumerator;
    // Round half away from zero, as the platform does.
    long long q = (v >= 0) == (nDenominator > 0) ? (llabs(v) + llabs(nDenominator) / 2) / llabs(nDenominator)
                                                 : -((llabs(v) + llabs(nDenominator) / 2) / llabs(nDenominator));
    if (q > 0x7fffffffLL || q < -0x7fffffffLL - 1)
        return -1;
    return (int)q;
}

// One GUI thread: its id is the process id, as the host reports it.
DWORD WINAPI GetCurrentThreadId(void)
{
    return (DWORD)getpid();
}
