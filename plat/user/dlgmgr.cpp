// dlgmgr.cpp - the dialog manager of the Linux build: dialogs made from a dialog template, their button,
// edit and static controls, the message queue, the keyboard focus and the keyboard rules of
// IsDialogMessageA. How a dialog looks and where input comes from is up to the front end (user.h).
//
// The parts of this file, in order:
//   sending     Send, and the tab and group order of a dialog's controls
//   focus       moving the focus, and the default-button look that follows it
//   procedures  one window procedure per kind of control, as the GUI front end has one class per kind:
//               ButtonProc (push buttons, check boxes), EditProc (the text box and its scrolling),
//               StaticProc (text, picture, etched line), DefDialogProc (the dialog), CallWnd (by kind)
//   keyboard    accelerators (Alt+letter)
//   Win32       CreateDialogParamA and DestroyWindow; window state (ShowWindow, EnableWindow, texts, focus,
//               check boxes); messages (SendMessageA, PostMessageA, GetMessageA, PeekMessageA,
//               IsDialogMessageA, DispatchMessageA); the GetMessage hook
//   threads     messages sent and posted from other threads (SendMessageTimeoutA): handed to the GUI thread
//               when it retrieves messages, as Windows does
// The window records, the focus and the queue are the dialog model's (dlgmodel.cpp); the records are read
// from the template by dlgtemplate.cpp.

#include "user/user.h"
#include "shell/shell.h"

#include <commctrl.h>

#include <string.h>

#include <algorithm>
#include <memory>

#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L

namespace plat {

static std::vector<std::unique_ptr<Wnd>> aGraveyard; // destroyed windows, freed when no call can be on them
static HOOKPROC pGetMessageHook;
static int nCallDepth; // sends in progress; the graveyard is emptied only at depth 0

static void Notify(Wnd *p)
{
    FrontEnd *pUi = StartedFrontEnd();
    if (pUi != nullptr && p != nullptr)
        pUi->Changed(p);
}

// ---------------------------------------------------------------------------------------------------------
// Window procedures of the controls and the dialog

static LRESULT CallWnd(Wnd *p, UINT uMsg, WPARAM wParam, LPARAM lParam);

static LRESULT Send(Wnd *p, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (!IsLive(p))
        return 0;
    nCallDepth++;
    LRESULT r = CallWnd(p, uMsg, wParam, lParam);
    nCallDepth--;
    return r;
}

static Wnd *ChildById(Wnd *pDlg, int nId)
{
    if (pDlg == nullptr)
        return nullptr;
    for (Wnd *p : pDlg->aChildren)
        if (p->nId == nId)
            return p;
    return nullptr;
}

static bool IsTabStop(const Wnd *p)
{
    return (p->dwStyle & WS_TABSTOP) && IsShown(p) && IsEnabled(p);
}

// The next (or previous) visible, enabled tab stop after pCtl, going on from the first control after the
// last; pCtl itself when nothing else qualifies, null when the dialog has no tab stop and pCtl is null.
static Wnd *NextTabItem(Wnd *pDlg, Wnd *pCtl, bool bPrevious)
{
    std::vector<Wnd *> a = pDlg->aChildren;
    if (bPrevious)
        std::reverse(a.begin(), a.end());
    size_t nStart = 0;
    if (pCtl != nullptr && pCtl->pParent == pDlg) {
        size_t i = (size_t)(std::find(a.begin(), a.end(), pCtl) - a.begin());
        for (size_t k = i + 1; k < a.size(); k++)
            if (IsTabStop(a[k]))
                return a[k];
        nStart = 0;
    }
    for (size_t k = nStart; k < a.size(); k++)
        if (IsTabStop(a[k]))
            return a[k];
    return pCtl;
}

// The next (or previous) visible, enabled control of pCtl's group, for the arrow keys.
static Wnd *NextGroupItem(Wnd *pDlg, Wnd *pCtl, bool bPrevious)
{
    std::vector<Wnd *> &a = pDlg->aChildren;
    auto it = std::find(a.begin(), a.end(), pCtl);
    if (it == a.end())
        return pCtl;
    size_t i = (size_t)(it - a.begin());
    size_t nFirst = i, nLast = i;
    while (nFirst > 0 && !(a[nFirst]->dwStyle & WS_GROUP))
        nFirst--;
    while (nLast + 1 < a.size() && !(a[nLast + 1]->dwStyle & WS_GROUP))
        nLast++;
    size_t n = nLast - nFirst + 1;
    for (size_t step = 1; step < n; step++) {
        size_t k = bPrevious ? nFirst + (i - nFirst + n - step) % n : nFirst + (i - nFirst + step) % n;
        if (IsShown(a[k]) && IsEnabled(a[k]))
            return a[k];
    }
    return pCtl;
}

static Wnd *SetFocusTo(Wnd *p)
{
    Wnd *pOld = FocusWnd();
    if (p != nullptr) {
        for (Wnd *q = p; q != nullptr; q = q->pParent)
            if (!IsEnabled(q))
                return nullptr;
    }
    if (p == pOld)
        return pOld;
    SetFocusWnd(p);
    if (IsLive(pOld)) {
        Send(pOld, WM_KILLFOCUS, (WPARAM)HandleOf(p), 0);
        Notify(pOld);
    }
    if (IsLive(p) && FocusWnd() == p) {
        Send(p, WM_SETFOCUS, (WPARAM)HandleOf(pOld), 0);
        Notify(p);
    }
    return pOld;
}

// The default-button look after the dialog manager moved the focus to pNew: a push button that gets the
// focus takes the look; when the focus goes to any other kind of control, the look goes back to the
// dialog's default button (DM_GETDEFID), so Enter presses the button that looks like it. Every other push
// button loses the look.
static void SetDefButton(Wnd *pDlg, Wnd *pNew)
{
    if (pNew == nullptr || pNew->nKind != KindPushButton) {
        LRESULT dw = Send(pDlg, DM_GETDEFID, 0, 0);
        pNew = HIWORD(dw) == DC_HASDEFID ? ChildById(pDlg, LOWORD(dw)) : nullptr;
        if (pNew != nullptr && pNew->nKind != KindPushButton)
            pNew = nullptr;
    }
    if (!IsLive(pDlg))
        return;
    for (Wnd *p : std::vector<Wnd *>(pDlg->aChildren))
        if (p != pNew && IsLive(p) && IsDefaultLook(p))
            Send(p, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    if (IsLive(pNew) && !IsDefaultLook(pNew))
        Send(pNew, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

// The focus a mouse click gives a control. In a dialog the default-button look follows as for the dialog
// manager's own focus moves: a click on the check box or the text box gives the look back to the dialog's
// default button, so that Enter presses the button that looks like it.
static void ClickFocus(Wnd *p)
{
    SetFocusTo(p);
    Wnd *pDlg = p->pParent;
    if (p->nKind != KindPushButton && FocusWnd() == p && IsLive(pDlg) && pDlg->nKind == KindDialog)
        SetDefButton(pDlg, p);
}

// Focus set by the dialog manager: an edit control has its whole text selected first.
static void DialogSetFocus(Wnd *p)
{
    if (Send(p, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
        Send(p, EM_SETSEL, 0, -1);
    SetFocusTo(p);
}

static LRESULT DefProc(Wnd *p, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_SETTEXT:
        p->sText = lParam != 0 ? (const char *)lParam : "";
        if (p->nKind == KindDialog)
            NoteText(p);
        if (p->nKind == KindEdit) {
            p->nSelStart = p->nSelEnd = 0;
            p->nFirstLine = 0;
        }
        Notify(p);
        return TRUE;
    case WM_GETTEXT: {
        if (wParam == 0 || lParam == 0)
            return 0;
        size_t n = std::min(p->sText.size(), (size_t)wParam - 1);
        memcpy((char *)lParam, p->sText.data(), n);
        ((char *)lParam)[n] = '\0';
        return (LRESULT)n;
    }
    case WM_GETTEXTLENGTH:
        return (LRESULT)p->sText.size();
    default:
        return 0;
    }
}

static void ButtonClicked(Wnd *p)
{
    if ((p->dwStyle & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
        p->bChecked = !p->bChecked;
        Notify(p);
    }
    if (p->pParent != nullptr)
        Send(p->pParent, WM_COMMAND, MAKEWPARAM(p->nId, BN_CLICKED), (LPARAM)HandleOf(p));
}

static LRESULT ButtonProc(Wnd *p, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_GETDLGCODE:
        if (p->nKind == KindPushButton)
            return DLGC_BUTTON | (IsDefaultLook(p) ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
        return DLGC_BUTTON;
    case BM_GETCHECK:
        return p->nKind == KindCheckBox && p->bChecked ? BST_CHECKED : BST_UNCHECKED;
    case BM_SETCHECK:
        if (p->nKind == KindCheckBox) {
            p->bChecked = wParam == BST_CHECKED;
            Notify(p);
        }
        return 0;
    case BM_SETSTYLE:
        p->dwStyle = (p->dwStyle & ~(DWORD)BS_TYPEMASK) | ((DWORD)wParam & BS_TYPEMASK);
        Notify(p);
        return 0;
    case BM_CLICK:
        Send(p, WM_LBUTTONDOWN, 0, 0);
        Send(p, WM_LBUTTONUP, 0, 0);
        return 0;
    case WM_LBUTTONDOWN:
        ClickFocus(p);
        if (IsLive(p)) {
            p->bPushed = true;
            Notify(p);
        }
        return 0;
    case WM_LBUTTONUP:
        // lParam 1 from a front end: released outside the button, which cancels the click.
        if (p->bPushed) {
            p->bPushed = false;
            Notify(p);
            if (lParam != 1)
                ButtonClicked(p);
        }
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_SPACE && !p->bPushed) {
            p->bPushed = true;
            Notify(p);
        }
        return 0;
    case WM_KEYUP:
        if (wParam == VK_SPACE && p->bPushed) {
            p->bPushed = false;
            Notify(p);
            ButtonClicked(p);
        }
        return 0;
    case WM_KILLFOCUS:
        if (p->bPushed) {
            p->bPushed = false;
            Notify(p);
        }
        return 0;
    default:
        return DefProc(p, uMsg, wParam, lParam);
    }
}

static int LineCount(const Wnd *p)
{
    if (p->nWrapLines > 0)
        return p->nWrapLines;
    return 1 + (int)std::count(p->sText.begin(), p->sText.end(), '\n');
}

static int VisibleLines(const Wnd *p)
{
    if (p->nWrapVisible > 0)
        return p->nWrapVisible;
    return std::max(1, p->cy / 8);
}

static void ScrollTo(Wnd *p, int nLine)
{
    int nMax = std::max(0, LineCount(p) - VisibleLines(p));
    nLine = std::max(0, std::min(nLine, nMax));
    if (nLine != p->nFirstLine) {
        p->nFirstLine = nLine;
        Notify(p);
    }
}

static LRESULT EditProc(Wnd *p, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    bool bMulti = (p->dwStyle & ES_MULTILINE) != 0;
    bool bInDialog = p->pParent != nullptr && p->pParent->nKind == KindDialog;
    int nLength = (int)p->sText.size();

    switch (uMsg) {
    case WM_GETDLGCODE:
        return DLGC_HASSETSEL | DLGC_WANTCHARS | DLGC_WANTARROWS | (bMulti ? DLGC_WANTALLKEYS : 0);
    case EM_SETSEL: {
        int nStart = (int)(INT_PTR)wParam, nEnd = (int)lParam;
        if (nStart < 0) { // -1 removes the selection and keeps the caret
            p->nSelStart = p->nSelEnd;
        } else {
            if (nEnd < 0 || nEnd > nLength)
                nEnd = nLength;
            p->nSelStart = std::min(nStart, nLength);
            p->nSelEnd = nEnd;
        }
        Notify(p);
        EditProc(p, EM_SCROLLCARET, 0, 0); // the caret is brought into view, as the platform does
        return 0;
    }
    case EM_GETSEL:
        if (wParam != 0)
            *(DWORD *)wParam = (DWORD)std::min(p->nSelStart, p->nSelEnd);
        if (lParam != 0)
            *(DWORD *)lParam = (DWORD)std::max(p->nSelStart, p->nSelEnd);
        return MAKELONG(std::min(p->nSelStart, p->nSelEnd), std::max(p->nSelStart, p->nSelEnd));
    case EM_SCROLLCARET: {
        int nCaretLine = (int)std::count(p->sText.begin(), p->sText.begin() + std::min(p->nSelEnd, nLength), '\n');
        if (nCaretLine < p->nFirstLine)
            ScrollTo(p, nCaretLine);
        else if (nCaretLine >= p->nFirstLine + VisibleLines(p))
            ScrollTo(p, nCaretLine - VisibleLines(p) + 1);
        return TRUE;
    }
    case EM_GETFIRSTVISIBLELINE:
        return p->nFirstLine;
    case EM_LINESCROLL:
        ScrollTo(p, p->nFirstLine + (int)lParam);
        return TRUE;
    case WM_VSCROLL:
        switch (LOWORD(wParam)) {
        case 0: // SB_LINEUP
            ScrollTo(p, p->nFirstLine - 1);
            break;
        case 1: // SB_LINEDOWN
            ScrollTo(p, p->nFirstLine + 1);
            break;
        case 2: // SB_PAGEUP
            ScrollTo(p, p->nFirstLine - VisibleLines(p));
            break;
        case 3: // SB_PAGEDOWN
            ScrollTo(p, p->nFirstLine + VisibleLines(p));
            break;
        case 4: // SB_THUMBPOSITION
        case 5: // SB_THUMBTRACK
            ScrollTo(p, (int)HIWORD(wParam));
            break;
        }
        return 0;
    case WM_MOUSEWHEEL:
        ScrollTo(p, p->nFirstLine - 3 * (int)(int16_t)HIWORD(wParam) / 120);
        return 0;
    case WM_LBUTTONDOWN:
        ClickFocus(p);
        return 0;
    case WM_SETFOCUS:
        if (p->pParent != nullptr)
            Send(p->pParent, WM_COMMAND, MAKEWPARAM(p->nId, EN_SETFOCUS), (LPARAM)HandleOf(p));
        return 0;
    case WM_KILLFOCUS:
        if (p->pParent != nullptr)
            Send(p->pParent, WM_COMMAND, MAKEWPARAM(p->nId, EN_KILLFOCUS), (LPARAM)HandleOf(p));
        return 0;
    case WM_KEYDOWN:
        switch (wParam) {
        case VK_TAB:
            if (bMulti && bInDialog)
                Send(p->pParent, WM_NEXTDLGCTL, (GetKeyState(VK_SHIFT) & 0x8000) ? 1 : 0, 0);
            return 0;
        case VK_ESCAPE:
            if (bMulti && bInDialog)
                PostMessageA(HandleOf(p->pParent), WM_CLOSE, 0, 0);
            return 0;
        case VK_RETURN:
            if (bMulti && bInDialog && !(p->dwStyle & ES_WANTRETURN)) {
                LRESULT dw = Send(p->pParent, DM_GETDEFID, 0, 0);
                Wnd *pDef = HIWORD(dw) == DC_HASDEFID ? ChildById(p->pParent, LOWORD(dw)) : nullptr;
                if (pDef != nullptr && IsEnabled(pDef))
                    Send(p->pParent, WM_COMMAND, MAKEWPARAM(pDef->nId, BN_CLICKED), (LPARAM)HandleOf(pDef));
            }
            return 0;
        case VK_UP:
            ScrollTo(p, p->nFirstLine - 1);
            return 0;
        case VK_DOWN:
            ScrollTo(p, p->nFirstLine + 1);
            return 0;
        case VK_PRIOR:
            ScrollTo(p, p->nFirstLine - VisibleLines(p));
            return 0;
        case VK_NEXT:
            ScrollTo(p, p->nFirstLine + VisibleLines(p));
            return 0;
        case VK_HOME:
            ScrollTo(p, 0);
            return 0;
        case VK_END:
            ScrollTo(p, LineCount(p));
            return 0;
        }
        return 0;
    default:
        return DefProc(p, uMsg, wParam, lParam);
    }
}

static LRESULT StaticProc(Wnd *p, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    case STM_SETIMAGE: {
        if (wParam != IMAGE_BITMAP)
            return 0;
        HGDIOBJ hOld = p->hImage;
        p->hImage = (HGDIOBJ)lParam;
        Notify(p);
        return (LRESULT)hOld;
    }
    case STM_GETIMAGE:
        return wParam == IMAGE_BITMAP ? (LRESULT)p->hImage : 0;
    default:
        return DefProc(p, uMsg, wParam, lParam);
    }
}

// What the dialog does with a message its procedure left alone.
static LRESULT DefDialogProc(Wnd *p, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_NEXTDLGCTL: {
        Wnd *pDest = lParam != 0 ? WndFromHandle((HWND)wParam) : NextTabItem(p, FocusWnd(), wParam != 0);
        if (pDest != nullptr && pDest->pParent == p) {
            DialogSetFocus(pDest);
            if (IsLive(p))
                SetDefButton(p, pDest);
        }
        return 0;
    }
    case DM_GETDEFID:
        return p->nDefId != 0 ? MAKELONG(p->nDefId, DC_HASDEFID) : 0;
    case DM_SETDEFID:
        p->nDefId = (int)wParam;
        return TRUE;
    case WM_CLOSE: {
        // The close request of the window frame: Cancel, while there is no disabled Cancel button.
        Wnd *pCancel = ChildById(p, IDCANCEL);
        if (pCancel == nullptr || IsEnabled(pCancel))
            PostMessageA(HandleOf(p), WM_COMMAND, IDCANCEL, (LPARAM)HandleOf(pCancel));
        return 0;
    }
    case WM_SYSCOMMAND:
        // The window menu's Close and Alt+F4 ask the window to close.
        if ((wParam & 0xFFF0) == SC_CLOSE)
            Send(p, WM_CLOSE, 0, 0);
        return 0;
    default:
        return DefProc(p, uMsg, wParam, lParam);
    }
}

static LRESULT CallWnd(Wnd *p, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (p->nKind) {
    case KindDialog: {
        INT_PTR r = 0;
        if (p->pDlgProc != nullptr)
            r = p->pDlgProc(HandleOf(p), uMsg, wParam, lParam);
        if (r != 0 || !IsLive(p))
            return r;
        return DefDialogProc(p, uMsg, wParam, lParam);
    }
    case KindPushButton:
    case KindCheckBox:
        return ButtonProc(p, uMsg, wParam, lParam);
    case KindEdit:
        return EditProc(p, uMsg, wParam, lParam);
    case KindStatic:
    case KindPicture:
    case KindEtched:
        return StaticProc(p, uMsg, wParam, lParam);
    default:
        return DefProc(p, uMsg, wParam, lParam);
    }
}

// Alt+letter, or a letter where the focus takes no characters: the visible, enabled button or static whose
// label has that letter after "&" (case folded in the code page) is pressed or, for a static, the next
// control gets the focus.
static bool IsAccelerator(Wnd *pDlg, Wnd *pFrom, WPARAM wChar)
{
    auto upper = [](unsigned char c) {
        char in = (char)c, out = 0;
        if (LCMapStringA(LOCALE_USER_DEFAULT, LCMAP_UPPERCASE, &in, 1, &out, 1) != 1)
            return c;
        return (unsigned char)out;
    };
    std::vector<Wnd *> &a = pDlg->aChildren;
    if (a.empty())
        return false;
    size_t nStart = 0;
    auto it = std::find(a.begin(), a.end(), pFrom);
    if (it != a.end())
        nStart = (size_t)(it - a.begin()) + 1;
    unsigned char cWant = upper((unsigned char)wChar);
    for (size_t k = 0; k < a.size(); k++) {
        Wnd *p = a[(nStart + k) % a.size()];
        if (!IsShown(p) || !IsEnabled(p))
            continue;
        LRESULT nCode = Send(p, WM_GETDLGCODE, 0, 0);
        if (!(nCode & (DLGC_BUTTON | DLGC_STATIC)))
            continue;
        if ((nCode & DLGC_STATIC) && (p->dwStyle & SS_NOPREFIX))
            continue;
        int nMnemonic;
        std::string sLabel = StripMnemonic(p->sText, &nMnemonic);
        if (nMnemonic < 0 || upper((unsigned char)sLabel[(size_t)nMnemonic]) != cWant)
            continue;
        if (nCode & DLGC_STATIC) {
            Wnd *pNext = NextTabItem(pDlg, p, false);
            if (pNext != nullptr && pNext != p)
                Send(pDlg, WM_NEXTDLGCTL, (WPARAM)HandleOf(pNext), 1);
        } else {
            Send(p, BM_CLICK, 0, 0);
        }
        return true;
    }
    return false;
}

static void CollectGarbage()
{
    if (nCallDepth == 0)
        aGraveyard.clear();
}

// On the GUI thread: handles the messages other threads sent or posted to its windows. A sent WM_GETTEXT
// or WM_SETTEXT carries its text in the record, not in the sender's memory, which a sender that gave up
// waiting no longer holds.
static void HandleCrossMessages()
{
    std::shared_ptr<CrossMessage> p;
    while ((p = TakeCross()) != nullptr) {
        Wnd *pWnd = WndFromHandle(p->msg.hwnd);
        if (p->bPosted) {
            if (p->msg.hwnd == NULL || pWnd != nullptr)
                PostToQueue(p->msg);
            continue;
        }
        if (pWnd == nullptr) {
            ReplyCross(p, 0, ERROR_INVALID_WINDOW_HANDLE);
            continue;
        }
        LRESULT r;
        if (p->msg.message == WM_GETTEXT) {
            std::vector<char> aBuf(std::min<size_t>(p->msg.wParam, 0x10000) + 1, '\0');
            r = Send(pWnd, WM_GETTEXT, aBuf.size() - 1, (LPARAM)aBuf.data());
            p->sText.assign(aBuf.data(), strnlen(aBuf.data(), aBuf.size()));
        } else if (p->msg.message == WM_SETTEXT) {
            r = Send(pWnd, WM_SETTEXT, 0, (LPARAM)p->sText.c_str());
        } else {
            r = Send(pWnd, p->msg.message, p->msg.wParam, p->msg.lParam);
        }
        ReplyCross(p, r, ERROR_SUCCESS);
    }
}

static void WakeGuiThread()
{
    FrontEnd *pUi = StartedFrontEnd();
    if (pUi != nullptr)
        pUi->Wake();
}

} // namespace plat

using namespace plat;

// ---------------------------------------------------------------------------------------------------------
// The Win32 names

HWND WINAPI CreateDialogParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam)
{
    DWORD nSize = 0;
    const void *pData = FindResourceData(hInstance, RT_DIALOG, lpTemplateName, &nSize);
    if (pData == nullptr)
        return NULL;
    Wnd *pDlg = BuildFromTemplate((const unsigned char *)pData, nSize);
    if (pDlg == nullptr) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return NULL;
    }
    (void)hWndParent; // the dialog is top-level; an owner is not kept
    pDlg->pDlgProc = lpDialogFunc;
    bool bVisible = (pDlg->dwStyle & WS_VISIBLE) != 0;
    pDlg->dwStyle &= ~(DWORD)WS_VISIBLE; // shown once the procedure has initialised it
    AddDialog(pDlg);
    FrontEnd *pUi = ActiveFrontEnd();
    if (pUi != nullptr)
        pUi->Created(pDlg);

    Wnd *pFirst = NextTabItem(pDlg, nullptr, false);
    Send(pDlg, WM_SETFONT, 0, FALSE);
    if (!IsLive(pDlg))
        return NULL;
    LRESULT r = Send(pDlg, WM_INITDIALOG, (WPARAM)HandleOf(pFirst), dwInitParam);
    if (!IsLive(pDlg))
        return NULL;
    if (r != 0) {
        Wnd *pTo = NextTabItem(pDlg, nullptr, false);
        if (pTo != nullptr)
            DialogSetFocus(pTo);
    }
    if (bVisible) {
        pDlg->dwStyle |= WS_VISIBLE;
        if (FocusWnd() == nullptr) {
            Wnd *pTo = NextTabItem(pDlg, nullptr, false);
            SetFocusTo(pTo != nullptr ? pTo : pDlg);
        }
        Notify(pDlg);
    }
    return HandleOf(pDlg);
}

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    Wnd *p = WndFromHandle(hWnd);
    if (p == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    bool bDialog = p->nKind == KindDialog;
    FrontEnd *pUi = StartedFrontEnd();
    if (bDialog && pUi != nullptr)
        pUi->Destroying(p);
    Send(p, WM_DESTROY, 0, 0);
    if (!IsLive(p))
        return TRUE;
    for (Wnd *q = FocusWnd(); q != nullptr; q = q->pParent)
        if (q == p) {
            SetFocusWnd(nullptr);
            break;
        }
    std::vector<Wnd *> aGone = p->aChildren;
    aGone.push_back(p);
    for (Wnd *q : aGone) {
        RemoveWindow(q);
        aGraveyard.emplace_back(q);
    }
    if (!bDialog && p->pParent != nullptr) {
        DetachChild(p);
        Notify(p->pParent);
    }
    DropMessagesOfGoneWindows();
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd)
{
    if (!OnGuiThread())
        return IsLiveShared(hWnd);
    return WndFromHandle(hWnd) != nullptr;
}

BOOL WINAPI IsChild(HWND hWndParent, HWND hWnd)
{
    Wnd *pParent = WndFromHandle(hWndParent);
    Wnd *p = WndFromHandle(hWnd);
    if (pParent == nullptr || p == nullptr)
        return FALSE;
    for (p = p->pParent; p != nullptr; p = p->pParent)
        if (p == pParent)
            return TRUE;
    return FALSE;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem)
{
    if (!OnGuiThread()) {
        HWND h = ChildShared(hDlg, nIDDlgItem);
        if (h == NULL)
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return h;
    }
    Wnd *p = ChildById(WndFromHandle(hDlg), nIDDlgItem);
    if (p == nullptr)
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return HandleOf(p);
}

int WINAPI GetDlgCtrlID(HWND hWnd)
{
    Wnd *p = WndFromHandle(hWnd);
    return p != nullptr && p->pParent != nullptr ? p->nId : 0;
}

HWND WINAPI GetParent(HWND hWnd)
{
    Wnd *p = WndFromHandle(hWnd);
    return p != nullptr ? HandleOf(p->pParent) : NULL;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    Wnd *p = WndFromHandle(hWnd);
    if (p == nullptr)
        return FALSE;
    BOOL bWasVisible = (p->dwStyle & WS_VISIBLE) != 0;
    if (nCmdShow == SW_HIDE) {
        if (!bWasVisible)
            return FALSE;
        p->dwStyle &= ~(DWORD)WS_VISIBLE;
        // A hidden control gives the focus to its dialog.
        for (Wnd *q = FocusWnd(); q != nullptr; q = q->pParent)
            if (q == p) {
                SetFocusTo(p->pParent);
                break;
            }
    } else {
        p->dwStyle |= WS_VISIBLE;
    }
    if (IsLive(p))
        Notify(p);
    return bWasVisible;
}

BOOL WINAPI IsWindowVisible(HWND hWnd)
{
    Wnd *p = WndFromHandle(hWnd);
    return p != nullptr && IsShown(p);
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable)
{
    Wnd *p = WndFromHandle(hWnd);
    if (p == nullptr)
        return FALSE;
    BOOL bWasDisabled = !IsEnabled(p);
    if (bEnable)
        p->dwStyle &= ~(DWORD)WS_DISABLED;
    else
        p->dwStyle |= WS_DISABLED;
    if (!bEnable && !bWasDisabled) {
        Send(p, WM_ENABLE, FALSE, 0);
        if (p == FocusWnd()) // a disabled window cannot keep the focus
            SetFocusTo(nullptr);
    } else if (bEnable && bWasDisabled) {
        Send(p, WM_ENABLE, TRUE, 0);
    }
    if (IsLive(p))
        Notify(p);
    return bWasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND hWnd)
{
    Wnd *p = WndFromHandle(hWnd);
    return p != nullptr && IsEnabled(p);
}

// A window keeps its text as the windows here keep every text (code page 1251, see nls.cpp): the ANSI calls
// convert from and to the machine's ANSI code page, the wide ones from and to UTF-16.
BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString)
{
    if (WndFromHandle(hWnd) == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    std::string sText = AnsiToText(lpString != NULL ? lpString : "");
    return (BOOL)SendMessageA(hWnd, WM_SETTEXT, 0, (LPARAM)sText.c_str());
}

BOOL WINAPI SetWindowTextW(HWND hWnd, LPCWSTR lpString)
{
    if (WndFromHandle(hWnd) == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    size_t n = 0;
    while (lpString != NULL && lpString[n] != 0)
        n++;
    std::string sText = Utf16ToText(lpString, n);
    return (BOOL)SendMessageA(hWnd, WM_SETTEXT, 0, (LPARAM)sText.c_str());
}

// The default handling of a wide message; here only the window text's: WM_SETTEXT as SetWindowTextW,
// WM_GETTEXT and WM_GETTEXTLENGTH in UTF-16. Any other message gets 0.
LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    switch (Msg) {
    case WM_SETTEXT:
        return SetWindowTextW(hWnd, (LPCWSTR)lParam);
    case WM_GETTEXT:
        return GetWindowTextW(hWnd, (LPWSTR)lParam, (int)wParam);
    case WM_GETTEXTLENGTH:
        return SendMessageA(hWnd, WM_GETTEXTLENGTH, 0, 0);
    default:
        return 0;
    }
}

// The window's whole text, as kept.
static std::string WindowText(HWND hWnd)
{
    std::string s((size_t)SendMessageA(hWnd, WM_GETTEXTLENGTH, 0, 0) + 1, '\0');
    s.resize((size_t)SendMessageA(hWnd, WM_GETTEXT, (WPARAM)s.size(), (LPARAM)&s[0]));
    return s;
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount)
{
    if (lpString == NULL || nMaxCount <= 0)
        return 0;
    lpString[0] = '\0';
    if (WndFromHandle(hWnd) == nullptr)
        return 0;
    std::string s = TextToAnsi(WindowText(hWnd));
    size_t n = std::min(s.size(), (size_t)nMaxCount - 1);
    memcpy(lpString, s.data(), n);
    lpString[n] = '\0';
    return (int)n;
}

int WINAPI GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount)
{
    if (lpString == NULL || nMaxCount <= 0)
        return 0;
    lpString[0] = 0;
    if (WndFromHandle(hWnd) == nullptr)
        return 0;
    std::u16string s = TextToUtf16(WindowText(hWnd));
    size_t n = std::min(s.size(), (size_t)nMaxCount - 1);
    memcpy(lpString, s.data(), n * sizeof(WCHAR));
    lpString[n] = 0;
    return (int)n;
}

int WINAPI GetWindowTextLengthA(HWND hWnd)
{
    return (int)SendMessageA(hWnd, WM_GETTEXTLENGTH, 0, 0);
}

LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex)
{
    Wnd *p = WndFromHandle(hWnd);
    if (p == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    switch (nIndex) {
    case GWL_STYLE:
        return (LONG)p->dwStyle;
    case GWL_EXSTYLE:
        return (LONG)p->dwExStyle;
    case GWL_ID:
        return p->nId;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
}

HWND WINAPI SetFocus(HWND hWnd)
{
    Wnd *p = WndFromHandle(hWnd);
    if (hWnd != NULL && p == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return NULL;
    }
    return HandleOf(SetFocusTo(p));
}

HWND WINAPI GetFocus(void)
{
    return HandleOf(FocusWnd());
}

BOOL WINAPI CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck)
{
    HWND h = GetDlgItem(hDlg, nIDButton);
    if (h == NULL)
        return FALSE;
    SendMessageA(h, BM_SETCHECK, uCheck, 0);
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND hDlg, int nIDButton)
{
    HWND h = GetDlgItem(hDlg, nIDButton);
    return h != NULL ? (UINT)SendMessageA(h, BM_GETCHECK, 0, 0) : 0;
}

HWND WINAPI GetNextDlgTabItem(HWND hDlg, HWND hCtl, BOOL bPrevious)
{
    Wnd *pDlg = WndFromHandle(hDlg);
    if (pDlg == nullptr)
        return NULL;
    Wnd *pCtl = hCtl == hDlg ? nullptr : WndFromHandle(hCtl);
    return HandleOf(NextTabItem(pDlg, pCtl, bPrevious != FALSE));
}

HWND WINAPI FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName)
{
    return FindDialogShared(lpClassName, lpWindowName);
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (!OnGuiThread()) {
        DWORD_PTR dwResult = 0;
        SendMessageTimeoutA(hWnd, Msg, wParam, lParam, SMTO_NORMAL, INFINITE, &dwResult);
        return (LRESULT)dwResult;
    }
    Wnd *p = WndFromHandle(hWnd);
    if (p == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return Send(p, Msg, wParam, lParam);
}

// From another thread: sent to the GUI thread, which handles it when it next retrieves messages; 0 with
// ERROR_TIMEOUT when it has not within uTimeout ms (at once with SMTO_ABORTIFHUNG when that thread is hung).
// WM_GETTEXT and WM_SETTEXT carry their text across; other messages' pointers must stay valid.
LRESULT WINAPI SendMessageTimeoutA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT fuFlags, UINT uTimeout,
                                   PDWORD_PTR lpdwResult)
{
    if (lpdwResult != NULL)
        *lpdwResult = 0;
    if (OnGuiThread()) {
        Wnd *p = WndFromHandle(hWnd);
        if (p == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        LRESULT r = Send(p, Msg, wParam, lParam);
        if (lpdwResult != NULL)
            *lpdwResult = (DWORD_PTR)r;
        return 1;
    }
    if (!IsLiveShared(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if ((fuFlags & SMTO_ABORTIFHUNG) && GuiThreadHung()) {
        SetLastError(ERROR_TIMEOUT);
        return 0;
    }
    auto pCross = std::make_shared<CrossMessage>();
    pCross->msg.hwnd = hWnd;
    pCross->msg.message = Msg;
    pCross->msg.wParam = wParam;
    pCross->msg.lParam = lParam;
    if (Msg == WM_SETTEXT && lParam != 0)
        pCross->sText = (const char *)lParam;
    PushCross(pCross);
    WakeGuiThread();
    if (!AwaitReply(pCross, uTimeout)) {
        SetLastError(ERROR_TIMEOUT);
        return 0;
    }
    if (pCross->dwError != ERROR_SUCCESS) {
        SetLastError(pCross->dwError);
        return 0;
    }
    if (Msg == WM_GETTEXT && wParam > 0 && lParam != 0) {
        size_t n = std::min(pCross->sText.size(), (size_t)wParam - 1);
        memcpy((char *)lParam, pCross->sText.data(), n);
        ((char *)lParam)[n] = '\0';
    }
    if (lpdwResult != NULL)
        *lpdwResult = (DWORD_PTR)pCross->lResult;
    return 1;
}

BOOL WINAPI IsHungAppWindow(HWND hwnd)
{
    return IsLiveShared(hwnd) && GuiThreadHung();
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (!OnGuiThread()) {
        if (hWnd != NULL && !IsLiveShared(hWnd)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        auto pCross = std::make_shared<CrossMessage>();
        pCross->msg.hwnd = hWnd;
        pCross->msg.message = Msg;
        pCross->msg.wParam = wParam;
        pCross->msg.lParam = lParam;
        pCross->bPosted = true;
        PushCross(pCross);
        WakeGuiThread();
        return TRUE;
    }
    if (hWnd != NULL && WndFromHandle(hWnd) == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    MSG msg;
    memset(&msg, 0, sizeof msg);
    msg.hwnd = hWnd;
    msg.message = Msg;
    msg.wParam = wParam;
    msg.lParam = lParam;
    PostToQueue(msg);
    return TRUE;
}

void WINAPI PostQuitMessage(int nExitCode)
{
    PostQuit(nExitCode);
}

// Posted messages first, then the user's input; the quit message only when neither is left, so what was
// posted or typed before PostQuitMessage is still handled. With nothing queued the front end waits for
// input. Returns 0 for the quit message, 1 for any other, -1 when no input can come.
BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    (void)hWnd;
    (void)wMsgFilterMin;
    (void)wMsgFilterMax;
    if (lpMsg == NULL)
        return -1;
    CollectGarbage();
    int nTaken;
    HandleCrossMessages();
    while ((nTaken = TakeQueued(lpMsg)) < 0) {
        FlushNotifications(); // before the wait, which may be long
        FrontEnd *pUi = StartedFrontEnd();
        NoteRetrieval(true);
        if (pUi == nullptr || LiveDialogs().empty() || !pUi->WaitInput()) {
            NoteRetrieval(false);
            memset(lpMsg, 0, sizeof *lpMsg);
            return -1;
        }
        NoteRetrieval(false);
        HandleCrossMessages();
    }
    NoteRetrieval(false);
    if (pGetMessageHook != nullptr)
        pGetMessageHook(HC_ACTION, PM_REMOVE, (LPARAM)lpMsg);
    return nTaken != 0 ? TRUE : FALSE;
}

// GetMessageA without the wait: first what other threads sent and what the display has, then the queue in
// GetMessageA's order. TRUE for a message (also the quit message, which PM_REMOVE takes), FALSE for none.
BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg)
{
    (void)hWnd;
    (void)wMsgFilterMin;
    (void)wMsgFilterMax;
    if (lpMsg == NULL)
        return FALSE;
    CollectGarbage();
    NoteRetrieval(false);
    HandleCrossMessages();
    FrontEnd *pUi = StartedFrontEnd();
    if (pUi != nullptr && !LiveDialogs().empty()) {
        pUi->PollInput();
        HandleCrossMessages();
    }
    int nTaken = (wRemoveMsg & PM_REMOVE) ? TakeQueued(lpMsg) : PeekQueued(lpMsg);
    if (nTaken < 0)
        return FALSE;
    if (pGetMessageHook != nullptr)
        pGetMessageHook(HC_ACTION, wRemoveMsg & PM_REMOVE, (LPARAM)lpMsg);
    return TRUE;
}

SHORT WINAPI GetKeyState(int nVirtKey)
{
    return KeyIsDown(nVirtKey) ? (SHORT)0x8000 : 0;
}

BOOL WINAPI IsDialogMessageA(HWND hDlg, LPMSG lpMsg)
{
    Wnd *pDlg = WndFromHandle(hDlg);
    if (pDlg == nullptr || lpMsg == NULL)
        return FALSE;
    Wnd *pTarget = WndFromHandle(lpMsg->hwnd);
    if (pTarget == nullptr || (pTarget != pDlg && pTarget->pParent != pDlg))
        return FALSE;

    LRESULT nCode;
    switch (lpMsg->message) {
    case WM_KEYDOWN:
        nCode = Send(pTarget, WM_GETDLGCODE, lpMsg->wParam, (LPARAM)lpMsg);
        if (nCode & DLGC_WANTMESSAGE)
            break;
        switch (lpMsg->wParam) {
        case VK_TAB:
            if (!(nCode & DLGC_WANTTAB)) {
                Send(pDlg, WM_NEXTDLGCTL, (GetKeyState(VK_SHIFT) & 0x8000) ? 1 : 0, 0);
                return TRUE;
            }
            break;
        case VK_LEFT:
        case VK_UP:
        case VK_RIGHT:
        case VK_DOWN:
            if (!(nCode & DLGC_WANTARROWS) && pTarget != pDlg) {
                Wnd *pNext = NextGroupItem(pDlg, pTarget, lpMsg->wParam == VK_LEFT || lpMsg->wParam == VK_UP);
                Send(pDlg, WM_NEXTDLGCTL, (WPARAM)HandleOf(pNext), 1);
                return TRUE;
            }
            break;
        case VK_ESCAPE: {
            // A disabled Cancel button turns Escape off: the key is taken and nothing happens.
            Wnd *pCancel = ChildById(pDlg, IDCANCEL);
            if (pCancel == nullptr || IsEnabled(pCancel))
                Send(pDlg, WM_COMMAND, IDCANCEL, (LPARAM)HandleOf(pCancel));
            return TRUE;
        }
        case VK_RETURN: {
            Wnd *pFocused = FocusWnd();
            if (pFocused != nullptr && pFocused->pParent == pDlg &&
                (Send(pFocused, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON)) {
                Send(pDlg, WM_COMMAND, MAKEWPARAM(pFocused->nId, BN_CLICKED), (LPARAM)HandleOf(pFocused));
            } else {
                LRESULT dw = Send(pDlg, DM_GETDEFID, 0, 0);
                if (HIWORD(dw) == DC_HASDEFID) {
                    Wnd *pDef = ChildById(pDlg, LOWORD(dw));
                    if (pDef == nullptr || IsEnabled(pDef))
                        Send(pDlg, WM_COMMAND, MAKEWPARAM(LOWORD(dw), BN_CLICKED), (LPARAM)HandleOf(pDef));
                } else {
                    Send(pDlg, WM_COMMAND, IDOK, (LPARAM)HandleOf(ChildById(pDlg, IDOK)));
                }
            }
            return TRUE;
        }
        }
        break;
    case WM_CHAR:
        nCode = Send(pTarget, WM_GETDLGCODE, lpMsg->wParam, (LPARAM)lpMsg);
        if (nCode & (DLGC_WANTCHARS | DLGC_WANTMESSAGE))
            break;
        if (lpMsg->wParam == '\t' && (nCode & DLGC_WANTTAB))
            break;
        if (IsAccelerator(pDlg, pTarget, lpMsg->wParam))
            return TRUE;
        break;
    case WM_SYSCHAR:
        if (IsAccelerator(pDlg, pTarget, lpMsg->wParam))
            return TRUE;
        break;
    }
    if (IsLive(pTarget))
        Send(pTarget, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
    return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG *lpMsg)
{
    (void)lpMsg;
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG *lpMsg)
{
    if (lpMsg == NULL)
        return 0;
    Wnd *p = WndFromHandle(lpMsg->hwnd);
    return p != nullptr ? Send(p, lpMsg->message, lpMsg->wParam, lpMsg->lParam) : 0;
}

LRESULT WINAPI CallWindowProcA(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    if (lpPrevWndFunc == NULL)
        return 0;
    nCallDepth++;
    LRESULT r = lpPrevWndFunc(hWnd, Msg, wParam, lParam);
    nCallDepth--;
    return r;
}

HHOOK WINAPI SetWindowsHookExA(int idHook, HOOKPROC lpfn, HINSTANCE hmod, DWORD dwThreadId)
{
    (void)hmod;
    (void)dwThreadId;
    if (idHook != WH_GETMESSAGE || lpfn == NULL || pGetMessageHook != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    pGetMessageHook = lpfn;
    return (HHOOK)&pGetMessageHook;
}

BOOL WINAPI UnhookWindowsHookEx(HHOOK hhk)
{
    if (hhk != (HHOOK)&pGetMessageHook || pGetMessageHook == nullptr)
        return FALSE;
    pGetMessageHook = nullptr;
    return TRUE;
}

LRESULT WINAPI CallNextHookEx(HHOOK hhk, int nCode, WPARAM wParam, LPARAM lParam)
{
    (void)hhk;
    (void)nCode;
    (void)wParam;
    (void)lParam;
    return 0;
}

// The dialog manager draws every control class it knows itself, so there is nothing to register; a record of
// the wrong size is refused, as Windows refuses it.
BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX *picce)
{
    if (picce == NULL || picce->dwSize != sizeof(INITCOMMONCONTROLSEX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}
