// wizdrive.cpp - drives the installer's wizard from another process on Windows, as a user would: starts the
// installer, finds its dialog and presses its buttons (BM_CLICK on Next 101, Back 100, Cancel/Close 2 and
// the check box 401), and prints the final page's text (id 500) in UTF-8 when the installation is done.
//
//   wizdrive [--hold FILE]... [--timeout SECONDS] [--follow] [--watch] [--texts] SETUP ACTION...
//   wizdrive [--timeout SECONDS] --leave SETUP ACTION...
//   wizdrive [--timeout SECONDS] --message SETUP
//
// With --follow the program may hand its wizard to another process and end (the uninstaller started from
// the application folder runs from a copy of itself): when it ends with exit code 0 before any dialog of its
// own appeared, the driver takes the wizard dialog of whichever process shows one, and that process's exit
// code.
//
// Actions: next, back, cancel (the Cancel button, also Close on the final page), check, uncheck; each is
// sent, so the wizard has handled it before the next. After an action that reaches the final page the driver
// waits until the installation has ended (the final page shows the report, the Close button is enabled),
// then prints "--- report" and the final page's text. --hold opens FILE without sharing for the
// whole run. --texts prints after each action the caption and the visible controls' texts ("--- texts").
// Texts are read in UTF-16 and printed in UTF-8, the same whatever the system's code page. With --watch the driver, while it waits for the report, asks the dialog every 200 ms for an
// answer within 1 s (WM_NULL by SendMessageTimeoutA) and reads the final page's text the same way; at the
// third text it saw there it tries every way a user has of closing the window; at the end it writes to
// standard error "watch: polls=N late=N slowest=MS texts=N closes=N" (answers asked for, those not given
// within 1 s, the longest wait, the changes of the text seen, the attempts to close). Exit code: the installer's exit code, 92 when the installer ended before its dialog appeared,
// or 90 when the driver itself failed (message on stderr).
//
// --leave: after the actions (none: once the dialog is shown) the driver prints "--- left" and ends, leaving
// the program running. --message: the program is to show a message box instead of its wizard: the driver
// prints "--- message", the box's texts (wide, in UTF-8) and "--- end of message", presses OK and prints
// "--- exit N" once the program has ended, N its exit code, which is the driver's; 93 when the wizard
// appeared instead (the driver then presses its Cancel).

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
static bool bWatch;

struct WatchResult {
    int nPolls;
    int nLate;
    DWORD dwSlowestMs;
    int nTexts;
    int nCloses;
};
static WatchResult watch;
static std::string sWatchLast;

static void Fail(const char *pszWhat)
{
    fprintf(stderr, "wizdrive: %s\n", pszWhat);
    fflush(stderr);
    ExitProcess(90);
}

struct FindData {
    DWORD dwProcess; // 0: any process but the driver
    HWND hDialog;
};

static BOOL CALLBACK FindDialog(HWND hWnd, LPARAM lParam)
{
    FindData *pFind = (FindData *)lParam;
    DWORD dwProcess = 0;
    char szClass[64];

    GetWindowThreadProcessId(hWnd, &dwProcess);
    if (pFind->dwProcess != 0 ? dwProcess != pFind->dwProcess : dwProcess == GetCurrentProcessId())
        return TRUE;
    if (!IsWindowVisible(hWnd))
        return TRUE;
    // The dialog is visible from its creation; it is ready once the wizard has shown its buttons.
    HWND hCancel = GetDlgItem(hWnd, kIdCancel);
    if (GetClassNameA(hWnd, szClass, sizeof szClass) && strcmp(szClass, "#32770") == 0 && hCancel != NULL &&
        IsWindowVisible(hCancel)) {
        pFind->hDialog = hWnd;
        return FALSE;
    }
    return TRUE;
}

// A message box of the process: a dialog with a visible OK button (the wizard has none).
static BOOL CALLBACK FindMessageBox(HWND hWnd, LPARAM lParam)
{
    FindData *pFind = (FindData *)lParam;
    DWORD dwProcess = 0;
    char szClass[64];

    GetWindowThreadProcessId(hWnd, &dwProcess);
    if (dwProcess != pFind->dwProcess || !IsWindowVisible(hWnd))
        return TRUE;
    HWND hOk = GetDlgItem(hWnd, IDOK);
    if (GetClassNameA(hWnd, szClass, sizeof szClass) && strcmp(szClass, "#32770") == 0 && hOk != NULL &&
        IsWindowVisible(hOk)) {
        pFind->hDialog = hWnd;
        return FALSE;
    }
    return TRUE;
}

// Appends the text of each visible static control of a message box, one a line, in UTF-8.
static BOOL CALLBACK AppendStaticText(HWND hWnd, LPARAM lParam)
{
    std::string *ps = (std::string *)lParam;
    char szClass[64];
    WCHAR wsz[4096];
    char szUtf8[12288];

    if (GetClassNameA(hWnd, szClass, sizeof szClass) && _stricmp(szClass, "Static") == 0 &&
        IsWindowVisible(hWnd) && GetWindowTextW(hWnd, wsz, 4096) > 0 &&
        WideCharToMultiByte(CP_UTF8, 0, wsz, -1, szUtf8, sizeof szUtf8, NULL, NULL) > 0)
        *ps += std::string(szUtf8) + "\n";
    return TRUE;
}

// --message: waits for the program's message box, prints it, presses OK and waits for the program's end.
static int AnswerMessage(HANDLE hProcess, DWORD dwProcess)
{
    DWORD dwStart = GetTickCount();
    for (;;) {
        FindData find = {dwProcess, NULL};
        EnumWindows(FindMessageBox, (LPARAM)&find);
        if (find.hDialog != NULL) {
            std::string sText;
            EnumChildWindows(find.hDialog, AppendStaticText, (LPARAM)&sText);
            printf("--- message\n%s--- end of message\n", sText.c_str());
            fflush(stdout);
            PostMessageA(find.hDialog, WM_COMMAND, IDOK, 0);
            break;
        }
        EnumWindows(FindDialog, (LPARAM)&find);
        if (find.hDialog != NULL) {
            fprintf(stderr, "wizdrive: the wizard appeared, not a message\n");
            PostMessageA(find.hDialog, WM_COMMAND, kIdCancel, 0);
            WaitForSingleObject(hProcess, dwTimeoutMs);
            return 93;
        }
        if (WaitForSingleObject(hProcess, 50) == WAIT_OBJECT_0) {
            fprintf(stderr, "wizdrive: the program ended without a message\n");
            break;
        }
        if (GetTickCount() - dwStart > dwTimeoutMs)
            Fail("no message box appeared");
    }
    if (WaitForSingleObject(hProcess, dwTimeoutMs) != WAIT_OBJECT_0)
        Fail("the program did not end after its message");
    DWORD dwExit = 0;
    GetExitCodeProcess(hProcess, &dwExit);
    printf("--- exit %lu\n", (unsigned long)dwExit);
    return (int)dwExit;
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

static void Click(HWND hDialog, int nId)
{
    HWND hControl = GetDlgItem(hDialog, nId);
    DWORD_PTR dwResult;

    if (hControl == NULL || !IsWindowVisible(hControl) || !IsWindowEnabled(hControl)) {
        fprintf(stderr, "wizdrive: control %d is not there to press: nothing happens\n", nId);
        return;
    }
    // Sent, so that the wizard has handled the click when the next action comes. Finish only posts the end
    // of the wizard's loop, so the installation itself runs after this returns.
    if (!SendMessageTimeoutA(hControl, BM_CLICK, 0, 0, SMTO_NORMAL, dwTimeoutMs, &dwResult))
        Fail("the wizard did not take the click");
}

// A window's text in UTF-8, read in UTF-16 so that it is the same whatever the system's code page.
static std::string WindowTextUtf8(HWND hWnd)
{
    WCHAR wsz[8192];
    char szUtf8[24576];

    wsz[0] = 0;
    if (hWnd == NULL)
        return std::string();
    SendMessageW(hWnd, WM_GETTEXT, 8192, (LPARAM)wsz);
    if (WideCharToMultiByte(CP_UTF8, 0, wsz, -1, szUtf8, sizeof szUtf8, NULL, NULL) <= 0)
        return std::string();
    return szUtf8;
}

static std::string ControlTextUtf8(HWND hDialog, int nId)
{
    return WindowTextUtf8(GetDlgItem(hDialog, nId));
}

// With --texts, after each action: the caption and the texts of the visible controls, as the user reads them.
static void PrintTexts(HWND hDialog)
{
    static const int kIds[] = {kIdBack, kIdNext, kIdCancel, 200, 201, 300, 301, 400, 401, kIdFinal};
    if (!IsWindow(hDialog))
        return;
    // The caption as the frame shows it: the dialog's ANSI procedure would give it in the system's code page.
    WCHAR wszCaption[512];
    char szCaption[1536];
    if (InternalGetWindowText(hDialog, wszCaption, 512) <= 0 ||
        WideCharToMultiByte(CP_UTF8, 0, wszCaption, -1, szCaption, sizeof szCaption, NULL, NULL) <= 0)
        szCaption[0] = '\0';
    printf("--- texts\n[%s]\n", szCaption);
    for (int nId : kIds) {
        HWND h = GetDlgItem(hDialog, nId);
        if (h != NULL && IsWindowVisible(h))
            printf("%d: %s\n", nId, WindowTextUtf8(h).c_str());
    }
}

// True when the dialog shows its final page: Back and Next hidden, the final text shown.
static bool OnFinalPage(HWND hDialog)
{
    HWND hFinal = GetDlgItem(hDialog, kIdFinal);
    return hFinal != NULL && IsWindowVisible(hFinal);
}

// One look of --watch: an answer asked for, the final page's text read, and at its third change the attempts
// to close the window.
static void WatchOnce(HWND hDialog)
{
    DWORD_PTR dwResult = 0;
    DWORD dwAsked = GetTickCount();
    LRESULT r = SendMessageTimeoutA(hDialog, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &dwResult);
    DWORD dwMs = GetTickCount() - dwAsked;
    if (r == 0 && !IsWindow(hDialog))
        return;
    watch.nPolls++;
    if (r == 0 || dwMs >= 1000)
        watch.nLate++;
    if (dwMs > watch.dwSlowestMs)
        watch.dwSlowestMs = dwMs;
    char szText[8192] = "";
    HWND hFinal = GetDlgItem(hDialog, kIdFinal);
    if (hFinal == NULL ||
        !SendMessageTimeoutA(hFinal, WM_GETTEXT, sizeof szText, (LPARAM)szText, SMTO_NORMAL, 1000, &dwResult) ||
        sWatchLast == szText)
        return;
    sWatchLast = szText;
    if (++watch.nTexts != 3)
        return;
    SendMessageTimeoutA(hDialog, WM_CLOSE, 0, 0, SMTO_NORMAL, 1000, &dwResult);
    SendMessageTimeoutA(hDialog, WM_SYSCOMMAND, SC_CLOSE, 0, SMTO_NORMAL, 1000, &dwResult);
    SendMessageTimeoutA(hDialog, WM_COMMAND, IDCANCEL, 0, SMTO_NORMAL, 1000, &dwResult);
    PostMessageA(hDialog, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(hDialog, WM_KEYUP, VK_ESCAPE, 0);
    watch.nCloses += 4;
}

// Waits until the installation has ended: the final page shows a text other than the one shown while the
// installation runs, and the Close button is enabled again (or the dialog is gone).
static void WaitForReport(HWND hDialog, HANDLE hProcess, const std::string &sWorking)
{
    DWORD dwStart = GetTickCount();
    DWORD dwLastWatch = 0;
    for (;;) {
        if (bWatch && IsWindow(hDialog) && GetTickCount() - dwLastWatch >= 200) {
            dwLastWatch = GetTickCount();
            WatchOnce(hDialog);
        }
        if (!IsWindow(hDialog))
            return;
        HWND hClose = GetDlgItem(hDialog, kIdCancel);
        std::string sText = ControlTextUtf8(hDialog, kIdFinal);
        if (hClose != NULL && IsWindowEnabled(hClose) && !sText.empty() && sText != sWorking)
            return;
        if (WaitForSingleObject(hProcess, 20) == WAIT_OBJECT_0)
            return;
        if (GetTickCount() - dwStart > dwTimeoutMs)
            Fail("the installation did not end");
    }
}

// The text the final page shows while the work runs, from the program's own resources: text 1017 of the
// installer, 2017 of the uninstaller.
static std::string WorkingText(const char *pszSetup)
{
    WCHAR wsz[512];
    char szUtf8[1536];
    HMODULE hSetup = LoadLibraryExA(pszSetup, NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (hSetup == NULL)
        Fail("cannot read the installer's texts");
    int n = LoadStringW(hSetup, 1017, wsz, 512);
    if (n <= 0)
        n = LoadStringW(hSetup, 2017, wsz, 512);
    FreeLibrary(hSetup);
    if (n <= 0 || WideCharToMultiByte(CP_UTF8, 0, wsz, -1, szUtf8, sizeof szUtf8, NULL, NULL) <= 0)
        Fail("the program has no text 1017 or 2017");
    return szUtf8;
}

int main(int argc, char **argv)
{
    std::vector<HANDLE> aHeld;
    bool bFollow = false;
    bool bLeave = false;
    bool bMessage = false;
    bool bTexts = false;
    int i = 1;

    for (; i < argc; i++) {
        if (strcmp(argv[i], "--hold") == 0 && i + 1 < argc) {
            HANDLE h = CreateFileA(argv[++i], GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
            if (h == INVALID_HANDLE_VALUE)
                Fail("cannot open the file to hold");
            aHeld.push_back(h);
        } else if (strcmp(argv[i], "--follow") == 0) {
            bFollow = true;
        } else if (strcmp(argv[i], "--leave") == 0) {
            bLeave = true;
        } else if (strcmp(argv[i], "--message") == 0) {
            bMessage = true;
        } else if (strcmp(argv[i], "--watch") == 0) {
            bWatch = true;
        } else if (strcmp(argv[i], "--texts") == 0) {
            bTexts = true;
        } else if (strcmp(argv[i], "--timeout") == 0 && i + 1 < argc) {
            dwTimeoutMs = (DWORD)atoi(argv[++i]) * 1000;
        } else {
            break;
        }
    }
    if (i >= argc) {
        fprintf(stderr, "usage: wizdrive [--hold FILE]... [--timeout SECONDS] [--follow] [--watch] [--texts] SETUP ACTION...\n");
        return 2;
    }
    const char *pszSetup = argv[i++];
    std::string sWorking = WorkingText(pszSetup);

    STARTUPINFOA si;
    PROCESS_INFORMATION pi;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    std::string sCommand = std::string("\"") + pszSetup + "\"";
    if (!CreateProcessA(pszSetup, &sCommand[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
        Fail("cannot start the installer");
    WaitForInputIdle(pi.hProcess, dwTimeoutMs);
    if (bMessage)
        return AnswerMessage(pi.hProcess, pi.dwProcessId);

    HWND hDialog = WaitForDialog(pi.hProcess, pi.dwProcessId);
    DWORD dwEarly = 0;
    if (hDialog == NULL && bFollow && GetExitCodeProcess(pi.hProcess, &dwEarly) && dwEarly == 0) {
        // Handed over: the dialog of the process it started, which the driver waits for from now on.
        DWORD dwStart = GetTickCount();
        FindData find = {0, NULL};
        while (EnumWindows(FindDialog, (LPARAM)&find), find.hDialog == NULL) {
            if (GetTickCount() - dwStart > dwTimeoutMs)
                Fail("no process took the wizard over");
            Sleep(50);
        }
        DWORD dwOther = 0;
        GetWindowThreadProcessId(find.hDialog, &dwOther);
        HANDLE hOther = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, dwOther);
        if (hOther == NULL)
            Fail("cannot open the process that shows the wizard");
        CloseHandle(pi.hProcess);
        pi.hProcess = hOther;
        hDialog = find.hDialog;
    }
    if (hDialog == NULL) {
        // Every run of the installer shows its wizard: ending without it is the driver's failure to report.
        GetExitCodeProcess(pi.hProcess, &dwEarly);
        fprintf(stderr, "wizdrive: the installer ended (exit code %lu) before its dialog appeared\n",
                (unsigned long)dwEarly);
        fflush(stderr);
        return 92;
    }
    bool bReported = false;
    if (bTexts)
        PrintTexts(hDialog);
    for (; i < argc && hDialog != NULL; i++) {
        const char *pszAction = argv[i];
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
        if (!bReported && IsWindow(hDialog) && OnFinalPage(hDialog)) {
            WaitForReport(hDialog, pi.hProcess, sWorking);
            printf("--- report\n%s\n--- end of report\n", ControlTextUtf8(hDialog, kIdFinal).c_str());
            bReported = true;
        }
        if (bTexts)
            PrintTexts(hDialog);
        fflush(stdout);
        if (!IsWindow(hDialog))
            break;
    }
    if (bLeave) {
        printf("--- left\n");
        return 0;
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
    if (bWatch)
        fprintf(stderr, "watch: polls=%d late=%d slowest=%lu texts=%d closes=%d\n", watch.nPolls, watch.nLate,
                (unsigned long)watch.dwSlowestMs, watch.nTexts, watch.nCloses);
    return (int)dwExit;
}
