// responsive.cpp - the installer (built with KAL_WATCH_UNINST: the uninstaller) with a watcher thread, for
// the test of a window that keeps answering while the steps run (responsive.sh). While the wizard runs, the
// watcher asks the dialog every 200 ms for an answer within 1 s (WM_NULL by SendMessageTimeoutA) and reads
// the final page's text (WM_GETTEXT, the same way); at the third text it saw there, when the steps show their
// progress, it tries every way a user has of closing the window. When the program ends it writes one line
// to standard error:
//   watch: polls=N late=N slowest=MS texts=N closes=N
// polls: answers asked for; late: those not given within 1 s; slowest: the longest wait for an answer;
// texts: how many times the final page's text was seen to change; closes: the attempts to close it made.

#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <time.h>

#include <atomic>
#include <string>
#include <thread>

#include "install.h"
#include "uninst.h"
#include "wizard.h"

static const int kIdFinal = 500;

struct WatchResult {
    int nPolls = 0;
    int nLate = 0;
    long nSlowestMs = 0;
    int nTexts = 0;
    int nCloses = 0;
};

static std::atomic<bool> bEnded;
static WatchResult watch;

static long NowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long)(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

static void TryToClose(HWND hDlg)
{
    DWORD_PTR dwResult;
    SendMessageTimeoutA(hDlg, WM_CLOSE, 0, 0, SMTO_NORMAL, 1000, &dwResult);
    SendMessageTimeoutA(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0, SMTO_NORMAL, 1000, &dwResult);
    SendMessageTimeoutA(hDlg, WM_COMMAND, IDCANCEL, 0, SMTO_NORMAL, 1000, &dwResult);
    PostMessageA(hDlg, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(hDlg, WM_KEYUP, VK_ESCAPE, 0);
    watch.nCloses += 4;
}

static void Watch()
{
    HWND hDlg = NULL;
    while (!bEnded && (hDlg = FindWindowA("#32770", NULL)) == NULL)
        Sleep(10);
    HWND hFinal = GetDlgItem(hDlg, kIdFinal);
    std::string sLast;
    while (!bEnded && IsWindow(hDlg)) {
        DWORD_PTR dwResult = 0;
        long t0 = NowMs();
        LRESULT r = SendMessageTimeoutA(hDlg, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &dwResult);
        long nMs = NowMs() - t0;
        if (r == 0 && !IsWindow(hDlg))
            break;
        watch.nPolls++;
        if (r == 0 || nMs >= 1000)
            watch.nLate++;
        if (nMs > watch.nSlowestMs)
            watch.nSlowestMs = nMs;
        char szText[2048] = "";
        if (SendMessageTimeoutA(hFinal, WM_GETTEXT, sizeof szText, (LPARAM)szText, SMTO_NORMAL, 1000, &dwResult) &&
            sLast != szText) {
            sLast = szText;
            watch.nTexts++;
            if (watch.nTexts == 3)
                TryToClose(hDlg);
        }
        Sleep(200);
    }
}

int InstallMain(void)
{
    std::thread watcher(Watch);
#ifdef KAL_WATCH_UNINST
    int nResult = UninstRun();
#else
    int nResult = InstallRun();
#endif
    bEnded = true;
    watcher.join();
    fprintf(stderr, "watch: polls=%d late=%d slowest=%ld texts=%d closes=%d\n", watch.nPolls, watch.nLate,
            watch.nSlowestMs, watch.nTexts, watch.nCloses);
    fflush(stderr);
    return nResult;
}
