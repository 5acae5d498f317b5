// dlgmodel.cpp - the dialogs as the front ends read them: which windows are live, the dialogs in creation
// order, the keyboard focus, the state the controls are drawn in, and the message queue the front ends
// deliver the user's input to. The dialog manager (dlgmgr.cpp) changes them; a front end only reads them
// and posts input.

#include "user/user.h"

#include <string.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace plat
{

static std::set<Wnd *> setLive;
static std::vector<Wnd *> aDialogs;
static Wnd *pFocus;
static std::deque<MSG> qPosted;
static std::deque<MSG> qInput;
static bool bQuitPending;
static int nQuitCode;
static BYTE abKeyDown[256];

// What other threads see, under mxShared: the live windows, the dialogs' texts, the GUI thread, and the
// messages they sent or posted.
static std::mutex mxShared;
static std::condition_variable cvReplies;
static std::map<Wnd *, std::string> mapSharedText; // the live dialogs, with their texts
static std::thread::id idGuiThread;
static bool bGuiThreadKnown;
static std::deque<std::shared_ptr<CrossMessage>> qCross;
static std::atomic<bool> bCrossWaiting;
static std::atomic<long long> nLastRetrievalMs;
static std::atomic<bool> bWaitingInput;

// Windows.

Wnd *WndFromHandle(HWND h)
{
    Wnd *p = (Wnd *)h;
    return h != NULL && setLive.count(p) ? p : nullptr;
}

bool IsLive(Wnd *p)
{
    return p != nullptr && setLive.count(p) != 0;
}

void AddDialog(Wnd *pDlg)
{
    std::lock_guard<std::mutex> lock(mxShared);
    if (!bGuiThreadKnown) {
        idGuiThread = std::this_thread::get_id();
        bGuiThreadKnown = true;
    }
    setLive.insert(pDlg);
    for (Wnd *p : pDlg->aChildren)
        setLive.insert(p);
    aDialogs.push_back(pDlg);
    mapSharedText[pDlg] = pDlg->sText;
}

void RemoveWindow(Wnd *p)
{
    std::lock_guard<std::mutex> lock(mxShared);
    setLive.erase(p);
    aDialogs.erase(std::remove(aDialogs.begin(), aDialogs.end(), p), aDialogs.end());
    mapSharedText.erase(p);
}

std::vector<Wnd *> LiveDialogs()
{
    return aDialogs;
}

Wnd *FocusWnd()
{
    return pFocus;
}

void SetFocusWnd(Wnd *p)
{
    pFocus = p;
}

// The state a window is drawn in.

bool IsShown(const Wnd *p)
{
    for (; p != nullptr; p = p->pParent)
        if (!(p->dwStyle & WS_VISIBLE))
            return false;
    return true;
}

bool IsEnabled(const Wnd *p)
{
    return !(p->dwStyle & WS_DISABLED);
}

bool IsDefaultLook(const Wnd *p)
{
    return p->nKind == KindPushButton && (p->dwStyle & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}

std::string StripMnemonic(const std::string &sText, int *pnMnemonic)
{
    std::string s;
    int nMnemonic = -1;
    for (size_t i = 0; i < sText.size(); i++) {
        if (sText[i] == '&' && i + 1 < sText.size()) {
            i++;
            if (sText[i] != '&' && nMnemonic < 0)
                nMnemonic = (int)s.size();
        }
        s += sText[i];
    }
    if (pnMnemonic != nullptr)
        *pnMnemonic = nMnemonic;
    return s;
}

std::vector<std::pair<std::string, int>> MessageBoxButtons(UINT uType)
{
    // The labels of a Russian system, in UTF-8.
    switch (uType & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return {{"OK", IDOK}, {"Отмена", IDCANCEL}};
    case MB_ABORTRETRYIGNORE:
        return {{"&Прервать", IDABORT}, {"П&овтор", IDRETRY}, {"П&ропустить", IDIGNORE}};
    case MB_YESNOCANCEL:
        return {{"&Да", IDYES}, {"&Нет", IDNO}, {"Отмена", IDCANCEL}};
    case MB_YESNO:
        return {{"&Да", IDYES}, {"&Нет", IDNO}};
    case MB_RETRYCANCEL:
        return {{"&Повтор", IDRETRY}, {"Отмена", IDCANCEL}};
    default:
        return {{"OK", IDOK}};
    }
}

// The message queue.

bool QueueEmpty()
{
    return qPosted.empty() && qInput.empty() && !bQuitPending;
}

void PostInput(Wnd *pWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    MSG msg;
    memset(&msg, 0, sizeof msg);
    msg.hwnd = HandleOf(pWnd);
    msg.message = uMsg;
    msg.wParam = wParam;
    msg.lParam = lParam;
    qInput.push_back(msg);
}

void PostToQueue(const MSG &msg)
{
    qPosted.push_back(msg);
}

void PostQuit(int nExitCode)
{
    bQuitPending = true;
    nQuitCode = nExitCode;
}

int TakeQueued(MSG *pMsg)
{
    if (!qPosted.empty()) {
        *pMsg = qPosted.front();
        qPosted.pop_front();
        return 1;
    }
    if (!qInput.empty()) {
        *pMsg = qInput.front();
        qInput.pop_front();
        if (pMsg->message == WM_KEYDOWN || pMsg->message == WM_SYSKEYDOWN)
            abKeyDown[pMsg->wParam & 0xFF] = 1;
        else if (pMsg->message == WM_KEYUP || pMsg->message == WM_SYSKEYUP)
            abKeyDown[pMsg->wParam & 0xFF] = 0;
        return 1;
    }
    if (bQuitPending) {
        bQuitPending = false;
        memset(pMsg, 0, sizeof *pMsg);
        pMsg->message = WM_QUIT;
        pMsg->wParam = (WPARAM)nQuitCode;
        return 0;
    }
    return -1;
}

int PeekQueued(MSG *pMsg)
{
    if (!qPosted.empty()) {
        *pMsg = qPosted.front();
        return 1;
    }
    if (!qInput.empty()) {
        *pMsg = qInput.front();
        return 1;
    }
    if (bQuitPending) {
        memset(pMsg, 0, sizeof *pMsg);
        pMsg->message = WM_QUIT;
        pMsg->wParam = (WPARAM)nQuitCode;
        return 0;
    }
    return -1;
}

void DropMessagesOfGoneWindows()
{
    for (auto *pq : {&qPosted, &qInput})
        pq->erase(std::remove_if(pq->begin(), pq->end(),
                                 [](const MSG &m) { return m.hwnd != NULL && !IsLive((Wnd *)m.hwnd); }),
                  pq->end());
}

bool KeyIsDown(int nVirtKey)
{
    return abKeyDown[nVirtKey & 0xFF] != 0;
}

// Other threads.

static long long NowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

bool OnGuiThread()
{
    std::lock_guard<std::mutex> lock(mxShared);
    return !bGuiThreadKnown || idGuiThread == std::this_thread::get_id();
}

HWND FindDialogShared(LPCSTR lpClassName, LPCSTR lpWindowName)
{
    std::lock_guard<std::mutex> lock(mxShared);
    for (Wnd *p : aDialogs) {
        if (lpClassName != NULL && strcasecmp(lpClassName, p->sClass.c_str()) != 0)
            continue;
        if (lpWindowName != NULL && mapSharedText[p] != lpWindowName)
            continue;
        return HandleOf(p);
    }
    return NULL;
}

HWND ChildShared(HWND hDlg, int nId)
{
    std::lock_guard<std::mutex> lock(mxShared);
    Wnd *pDlg = (Wnd *)hDlg;
    if (mapSharedText.count(pDlg) == 0)
        return NULL;
    for (Wnd *p : pDlg->aChildren)
        if (p->nId == nId)
            return HandleOf(p);
    return NULL;
}

bool IsLiveShared(HWND h)
{
    std::lock_guard<std::mutex> lock(mxShared);
    return h != NULL && setLive.count((Wnd *)h) != 0;
}

void NoteText(Wnd *p)
{
    std::lock_guard<std::mutex> lock(mxShared);
    auto it = mapSharedText.find(p);
    if (it != mapSharedText.end())
        it->second = p->sText;
}

void DetachChild(Wnd *p)
{
    std::lock_guard<std::mutex> lock(mxShared);
    if (p->pParent == nullptr)
        return;
    auto &a = p->pParent->aChildren;
    a.erase(std::remove(a.begin(), a.end(), p), a.end());
}

void PushCross(const std::shared_ptr<CrossMessage> &p)
{
    std::lock_guard<std::mutex> lock(mxShared);
    qCross.push_back(p);
    bCrossWaiting = true;
}

std::shared_ptr<CrossMessage> TakeCross()
{
    if (!bCrossWaiting)
        return nullptr;
    std::lock_guard<std::mutex> lock(mxShared);
    if (qCross.empty()) {
        bCrossWaiting = false;
        return nullptr;
    }
    std::shared_ptr<CrossMessage> p = qCross.front();
    qCross.pop_front();
    p->bTaken = true;
    bCrossWaiting = !qCross.empty();
    return p;
}

bool CrossWaiting()
{
    return bCrossWaiting;
}

void ReplyCross(const std::shared_ptr<CrossMessage> &p, LRESULT lResult, DWORD dwError)
{
    std::lock_guard<std::mutex> lock(mxShared);
    p->lResult = lResult;
    p->dwError = dwError;
    p->bDone = true;
    cvReplies.notify_all();
}

bool AwaitReply(const std::shared_ptr<CrossMessage> &p, DWORD dwTimeoutMs)
{
    std::unique_lock<std::mutex> lock(mxShared);
    if (dwTimeoutMs == INFINITE)
        cvReplies.wait(lock, [&] { return p->bDone; });
    else
        cvReplies.wait_for(lock, std::chrono::milliseconds(dwTimeoutMs), [&] { return p->bDone; });
    if (p->bDone)
        return true;
    if (!p->bTaken) {
        qCross.erase(std::remove(qCross.begin(), qCross.end(), p), qCross.end());
        bCrossWaiting = !qCross.empty();
    }
    return false;
}

void NoteRetrieval(bool bWaiting)
{
    nLastRetrievalMs = NowMs();
    bWaitingInput = bWaiting;
}

bool GuiThreadHung()
{
    return !bWaitingInput && nLastRetrievalMs != 0 && NowMs() - nLastRetrievalMs > 5000;
}

} // namespace plat
