// dlgmodel.cpp - the dialogs as the front ends read them: which windows are live, the dialogs in creation
// order, the keyboard focus, the state the controls are drawn in, and the message queue the front ends
// deliver the user's input to. The dialog manager (dlgmgr.cpp) changes them; a front end only reads them
// and posts input.

#include "user/user.h"

#include <string.h>

#include <algorithm>
#include <deque>
#include <set>

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
    setLive.insert(pDlg);
    for (Wnd *p : pDlg->aChildren)
        setLive.insert(p);
    aDialogs.push_back(pDlg);
}

void RemoveWindow(Wnd *p)
{
    setLive.erase(p);
    aDialogs.erase(std::remove(aDialogs.begin(), aDialogs.end(), p), aDialogs.end());
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

} // namespace plat
