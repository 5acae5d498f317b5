// proc_child.cpp - the program test_process starts: a WinMain program of the machine that reports what it
// was given and ends as told. Told by its environment, so that its command line is only what it reports:
// KAL_CHILD_REPORT  host file to write the report to (else standard output, through the platform's handle)
// KAL_CHILD_SLEEP_MS  milliseconds to wait before ending
// KAL_CHILD_SIGNAL  a signal to end by
// KAL_CHILD_EXIT  the exit code (0 else)
// The report: "line=" GetCommandLineA, "cmd=" WinMain's command line, "dir=" the current directory,
// "root=" PLAT_ROOT, "ui=" PLAT_UI, then "arg=" each host argument, one a line.

#include <windows.h>

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    (void)hInstance;
    (void)hPrevInstance;
    (void)nShowCmd;
    char szDir[MAX_PATH];
    if (GetCurrentDirectoryA(sizeof szDir, szDir) == 0)
        szDir[0] = '\0';
    const char *pszRoot = getenv("PLAT_ROOT");
    const char *pszUi = getenv("PLAT_UI");
    std::string sReport = std::string("line=") + GetCommandLineA() + "\ncmd=" + lpCmdLine + "\ndir=" + szDir +
                          "\nroot=" + (pszRoot != nullptr ? pszRoot : "") +
                          "\nui=" + (pszUi != nullptr ? pszUi : "") + "\n";
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string sAll((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (size_t i = 0; i < sAll.size();) {
        size_t j = sAll.find('\0', i);
        if (j == std::string::npos)
            j = sAll.size();
        sReport += "arg=" + sAll.substr(i, j - i) + "\n";
        i = j + 1;
    }
    const char *pszReport = getenv("KAL_CHILD_REPORT");
    if (pszReport != nullptr) {
        std::ofstream(pszReport, std::ios::binary) << sReport;
    } else {
        DWORD n;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), sReport.data(), (DWORD)sReport.size(), &n, NULL);
    }
    const char *pszSleep = getenv("KAL_CHILD_SLEEP_MS");
    if (pszSleep != nullptr)
        Sleep((DWORD)atoi(pszSleep));
    const char *pszSignal = getenv("KAL_CHILD_SIGNAL");
    if (pszSignal != nullptr) {
        signal(atoi(pszSignal), SIG_DFL);
        raise(atoi(pszSignal));
    }
    const char *pszExit = getenv("KAL_CHILD_EXIT");
    return pszExit != nullptr ? atoi(pszExit) : 0;
}
