// wizdrive.cpp - drives the installer's wizard from another process on Windows, as a user would: starts the
// installer, finds its dialog and presses its buttons (BM_CLICK on Next 101, Back 100, Cancel/Close 2 and
// the check box 401), and prints the final page's text (id 500) in UTF-8 when the installation is done.
//
//   wizdrive [--hold FILE]... [--timeout SECONDS] SETUP ACTION...
//
// Actions: next, back, cancel (the Cancel button, also Close on the final page), check, uncheck. After a
// "next" that reaches the final page the driver waits until the Close button is enabled (the installation
// has ended), then prints "--- report" and the final page's text. --hold opens FILE without sharing for the
// whole run. Exit code: the installer's exit code, or 90 when the driver itself failed (message on stderr).

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

static const int kIdBack = 100;
static const int kIdNext = 101;
static const int kIdCancel = 2;
static const int kIdCheck = 401;
static const int kIdFinal = 500;

static DWORD dwTimeoutMs = 60000;

static void Fail(const char *pszWhat)
{
    fprintf(stderr, "wizdrive: %s\n", pszWhat);
    fflush(stderr);
    ExitProcess(90);
}

struct FindData {
    DWORD dwProcess;
    HWND hDialog;
};

static BOOL CALLBACK FindDialog(HWND hWnd, LPARAM lParam)
{
    FindData *pFind = (FindData *)lParam;
    DWORD dwProcess = 0;
    char szClass[64];

    GetWindowThreadProcessId(hWnd, &dwProcess);
    if (dwProcess != pFind->dwProcess || !IsWindowVisible(hWnd))
        return TRUE;
    if (GetClassNameA(hWnd, szClass, sizeof szClass) && strcmp(szClass, "#32770") == 0 &&
        GetDlgItem(hWnd, kIdCancel) != NULL) {
        pFind->hDialog = hWnd;
        return FALSE;
    }
    return TRUE;
}

// Waits for the installer's wizard dialog; null when the process ended first.
static HWND WaitForDialog(HANDLE hProcess, DWORD dwProcess)
{
    DWORD dwStart = GetTickCount();
    for (;;) {
        FindData find = {dwProcess, NULL};
        EnumWindows(FindDialog, (LPARAM)&find);
        if (find.hDialog != NULL)
            return find.hDialog;
        if (WaitForSingleObject(hProcess, 50) == WAIT_OBJECT_0)
            return NULL;
        if (GetTickCount() - dwStart > dwTimeoutMs)
            Fail("the wizard dialog did not appear");
    }
}

// Lets the dialog handle what is queued: a message sent to it returns only once its thread pumps again.
static void Settle(HWND hDialog)
{
    DWORD_PTR dwResult;
    for (int i = 0; i < 3; i++)
        if (!SendMessageTimeoutA(hDialog, WM_NULL, 0, 0, SMTO_NORMAL, dwTimeoutMs, &dwResult))
            return;
}

static void Click(HWND hDialog, int nId)
{
    HWND hControl = GetDlgItem(hDialog, nId);
    DWORD_PTR dwResult;

    if (hControl == NULL || !IsWindowVisible(hControl) || !IsWindowEnabled(hControl)) {
        fprintf(stderr, "wizdrive: control %d is not there to press: nothing happens\n", nId);
        return;
    }
    // Posted, so that the driver does not wait while the installer works after Finish.
    PostMessageA(hControl, BM_CLICK, 0, 0);
    (void)dwResult;
}

static std::string ControlTextUtf8(HWND hDialog, int nId)
{
    char szAnsi[8192];
    WCHAR wsz[8192];
    char szUtf8[24576];
    HWND hControl = GetDlgItem(hDialog, nId);

    szAnsi[0] = '\0';
    if (hControl == NULL)
        return std::string();
    SendMessageA(hControl, WM_GETTEXT, sizeof szAnsi, (LPARAM)szAnsi);
    if (MultiByteToWideChar(CP_ACP, 0, szAnsi, -1, wsz, 8192) <= 0)
        return std::string();
    if (WideCharToMultiByte(CP_UTF8, 0, wsz, -1, szUtf8, sizeof szUtf8, NULL, NULL) <= 0)
        return std::string();
    return szUtf8;
}

// True when the dialog shows its final page: Back and Next hidden, the final text shown.
static bool OnFinalPage(HWND hDialog)
{
    HWND hFinal = GetDlgItem(hDialog, kIdFinal);
    return hFinal != NULL && IsWindowVisible(hFinal);
}

// Waits until the installation has ended: the Close button is enabled again (or the dialog is gone).
static void WaitForClose(HWND hDialog, HANDLE hProcess)
{
    DWORD dwStart = GetTickCount();
    for (;;) {
        HWND hClose = GetDlgItem(hDialog, kIdCancel);
        if (!IsWindow(hDialog) || (hClose != NULL && IsWindowEnabled(hClose)))
            return;
        if (WaitForSingleObject(hProcess, 50) == WAIT_OBJECT_0)
            return;
        if (GetTickCount() - dwStart > dwTimeoutMs)
            Fail("the installation did not end");
    }
}

int main(int argc, char **argv)
{
    std::vector<HANDLE> aHeld;
    int i = 1;

    for (; i < argc; i++) {
        if (strcmp(argv[i], "--hold") == 0 && i + 1 < argc) {
            HANDLE h = CreateFileA(argv[++i], GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
            if (h == INVALID_HANDLE_VALUE)
                Fail("cannot open the file to hold");
            aHeld.push_back(h);
        } else if (strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
            dwTimeoutMs = (DWORD)atoi(argv[++i]) * 1000;
        } else {
            break;
        }
    }
    if (i >= argc) {
        fprintf(stderr, "usage: wizdrive [--hold FILE]... [--timeout SECONDS] SETUP ACTION...\n");
        return 2;
    }
    const char *pszSetup = argv[i++];

    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    std::string sCommand = std::string("\"") + pszSetup + "\"";
    if (!CreateProcessA(pszSetup, &sCommand[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
        Fail("cannot start the installer");
    WaitForInputIdle(pi.hProcess, dwTimeoutMs);

    HWND hDialog = WaitForDialog(pi.hProcess, pi.dwProcessId);
    bool bReported = false;
    for (; i < argc && hDialog != NULL; i++) {
        const char *pszAction = argv[i];
        Settle(hDialog);
        printf("--- %s\n", pszAction);
        if (strcmp(pszAction, "next") == 0) {
            Click(hDialog, kIdNext);
        } else if (strcmp(pszAction, "back") == 0) {
            Click(hDialog, kIdBack);
        } else if (strcmp(pszAction, "cancel") == 0 || strcmp(pszAction, "close") == 0) {
            Click(hDialog, kIdCancel);
        } else if (strcmp(pszAction, "check") == 0 || strcmp(pszAction, "uncheck") == 0) {
            HWND hCheck = GetDlgItem(hDialog, kIdCheck);
            LRESULT nState = hCheck != NULL ? SendMessageA(hCheck, BM_GETCHECK, 0, 0) : 0;
            if ((nState == BST_CHECKED) != (strcmp(pszAction, "check") == 0))
                Click(hDialog, kIdCheck);
        } else {
            Fail("unknown action");
        }
        Settle(hDialog);
        if (!bReported && IsWindow(hDialog) && OnFinalPage(hDialog)) {
            WaitForClose(hDialog, pi.hProcess);
            printf("--- report\n%s\n--- end of report\n", ControlTextUtf8(hDialog, kIdFinal).c_str());
            bReported = true;
        }
        fflush(stdout);
        if (!IsWindow(hDialog))
            break;
    }

    if (WaitForSingleObject(pi.hProcess, dwTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 91);
        Fail("the installer did not end after the last action");
    }
    DWORD dwExit = 0;
    GetExitCodeProcess(pi.hProcess, &dwExit);
    for (HANDLE h : aHeld)
        CloseHandle(h);
    printf("--- exit %lu\n", (unsigned long)dwExit);
    return (int)dwExit;
}
