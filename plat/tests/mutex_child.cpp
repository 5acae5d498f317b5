// mutex_child.cpp - the program test_mutex starts: a WinMain program of the machine that creates (or opens)
// a named mutex, reports what it got and holds it as long as told. Told by its environment:
// KAL_MUTEX_NAME    the name
// KAL_MUTEX_OPEN    when set, OpenMutexA instead of CreateMutexA
// KAL_MUTEX_REPORT  host file the report goes to, whole ("handle=1 error=183"), once the call is made
// KAL_MUTEX_HOLD_MS milliseconds to hold the handle before closing it and ending

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <string>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    (void)hInstance;
    (void)hPrevInstance;
    (void)lpCmdLine;
    (void)nShowCmd;
    const char *pszName = getenv("KAL_MUTEX_NAME");
    HANDLE h = getenv("KAL_MUTEX_OPEN") != nullptr ? OpenMutexA(SYNCHRONIZE, FALSE, pszName)
                                                   : CreateMutexA(NULL, FALSE, pszName);
    DWORD nError = GetLastError();
    const char *pszReport = getenv("KAL_MUTEX_REPORT");
    if (pszReport != nullptr) {
        std::string sTemp = std::string(pszReport) + ".part";
        std::ofstream(sTemp) << "handle=" << (h != NULL) << " error=" << nError << "\n";
        rename(sTemp.c_str(), pszReport); // the reader sees the whole report or none
    }
    const char *pszHold = getenv("KAL_MUTEX_HOLD_MS");
    if (pszHold != nullptr)
        Sleep((DWORD)atoi(pszHold));
    if (h != NULL)
        CloseHandle(h);
    return 0;
}
