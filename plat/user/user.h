// user.h - what the user units give each other, one section per unit; the system never sees it. They are
// layered so that no two call each other: the front ends read the dialog model and post input to it; the
// choice of the front end starts one of them; the dialog manager drives the front end in use and changes
// the model. The units and the Win32 calls each one implements:
//   res.cpp          LoadStringA, LoadBitmapA, DeleteObject, GetObjectA, CopyImage, GetDC, ReleaseDC,
//                    GetDeviceCaps; resources found by type and id
//   dlgtemplate.cpp  the dialog template read into window records
//   dlgmodel.cpp     the dialogs as the front ends see them: live windows, focus, the message queue
//   render.cpp       the page as text
//   ui_text.cpp      the terminal front end; ui_script.cpp the scripted one; ui_gui.cpp the FLTK one, in
//                    the plat_gui library
//   frontend.cpp     the choice of the front end (PLAT_UI)
//   dlgmgr.cpp       CreateDialogParamA, DestroyWindow, IsWindow, IsChild, GetDlgItem, GetDlgCtrlID,
//                    GetParent, ShowWindow, IsWindowVisible, EnableWindow, IsWindowEnabled, SetWindowTextA,
//                    GetWindowTextA, GetWindowTextLengthA, GetWindowLongA, SetFocus, GetFocus,
//                    CheckDlgButton, IsDlgButtonChecked, GetNextDlgTabItem, FindWindowA, SendMessageA,
//                    PostMessageA, PostQuitMessage, GetMessageA, GetKeyState, IsDialogMessageA,
//                    TranslateMessage, DispatchMessageA, CallWindowProcA, SetWindowsHookExA,
//                    UnhookWindowsHookEx, CallNextHookEx, InitCommonControlsEx
//   msgbox.cpp       MessageBoxA
//
// The user units need from kernel/ (kernel.h): the module and its resource image, the code page, the last
// error; from shell/ (shell.h): the notifications flushed before the wait for input (dlgmgr.cpp).
#pragma once

#include "kernel/kernel.h"

#include <stdint.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace plat
{

// res.cpp: resources, found in the program's .res image.
const void *FindResourceData(HINSTANCE h, LPCSTR pszType, LPCSTR pszName, DWORD *pnSize);

// GDI objects: a bitmap decoded from a resource, as top-down 0xRRGGBB pixels.
struct GdiObject {
    virtual ~GdiObject() {}
};
struct Bitmap : GdiObject {
    int nWidth = 0;
    int nHeight = 0;
    int nBitsPixel = 0;
    std::vector<uint32_t> aPixels;
};
Bitmap *BitmapFromHandle(HGDIOBJ h); // null when h is not a live bitmap
int LiveGdiObjects();

// The window records: what the dialog manager builds from a template and the front ends draw.

enum WndKind {
    KindDialog,
    KindPushButton,
    KindCheckBox,
    KindStatic,  // text
    KindPicture, // SS_BITMAP
    KindEtched,  // SS_ETCHEDFRAME/HORZ/VERT, SS_*FRAME, SS_*RECT
    KindEdit,
    KindOther, // a class this dialog manager does not draw
};

// One window: the dialog or one of its controls. An HWND is the address of its Wnd; the dialog model
// knows which addresses are live.
struct Wnd {
    WndKind nKind = KindOther;
    Wnd *pParent = nullptr;
    std::vector<Wnd *> aChildren; // in template order, which is the tab order
    std::string sClass;           // "#32770", "Button", "Edit", "Static", ...
    int nId = 0;
    DWORD dwStyle = 0;
    DWORD dwExStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0; // dialog units, relative to the dialog's client area
    std::string sText;                // in the ANSI code page

    // Button state
    bool bChecked = false;
    bool bPushed = false; // held down by the mouse or the space bar
    // Picture
    HGDIOBJ hImage = NULL;
    // Edit: selection and the first visible line
    int nSelStart = 0, nSelEnd = 0, nFirstLine = 0;
    int nWrapLines = 0, nWrapVisible = 0; // lines as a front end wraps them, and how many show; 0: unknown

    // Dialog
    DLGPROC pDlgProc = nullptr;
    std::string sFont; // the template's font name and size
    int nPointSize = 0;
    int nDefId = 0; // the default push button's id from the template

    void *pUi = nullptr; // the front end's own record
};

inline HWND HandleOf(Wnd *p)
{
    return (HWND)p;
}

// dlgtemplate.cpp: builds the dialog and its controls from a DLGTEMPLATE or DLGTEMPLATEEX; null when the
// template is malformed. The records are not live yet (AddDialog).
Wnd *BuildFromTemplate(const unsigned char *pData, DWORD nSize);

// dlgmodel.cpp: the dialogs as the front ends read them.
Wnd *WndFromHandle(HWND h);       // null when h is not a live window
std::vector<Wnd *> LiveDialogs(); // in creation order
Wnd *FocusWnd();                  // the window with the keyboard focus, or null
bool IsShown(const Wnd *p);       // WS_VISIBLE on the window and all its parents
bool IsEnabled(const Wnd *p);     // not WS_DISABLED
bool IsDefaultLook(const Wnd *p); // a push button drawn as the dialog's default button now
// The label of a button as shown: "&&" gives "&", "&x" underlines x (nMnemonic is the index of x in the
// result, -1 for none).
std::string StripMnemonic(const std::string &sText, int *pnMnemonic);
// The buttons of a message box type (UTF-8 labels) and the result of each, first the default.
std::vector<std::pair<std::string, int>> MessageBoxButtons(UINT uType);
// The input a front end delivers: appended to the queue behind the posted messages.
void PostInput(Wnd *pWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
bool QueueEmpty();

// The same model as the dialog manager changes it.
bool IsLive(Wnd *p);              // p is a live window (null is not)
void AddDialog(Wnd *pDlg);        // the dialog and its controls become live
void RemoveWindow(Wnd *p);        // p is no longer live (nor a dialog)
void SetFocusWnd(Wnd *p);         // only the record: the focus messages are the dialog manager's
void PostToQueue(const MSG &msg); // a posted message, handled before the input
void PostQuit(int nExitCode);     // the quit message, handed out when nothing else is queued
// Takes the next message: posted ones first, then the input (which sets the keys' state), then the quit
// message. 1 for a message, 0 for the quit message, -1 when nothing is queued.
int TakeQueued(MSG *pMsg);
void DropMessagesOfGoneWindows(); // messages for windows no longer live go
bool KeyIsDown(int nVirtKey);     // by the input taken so far
int PeekQueued(MSG *pMsg);        // TakeQueued's answer, the message left in the queue

// The windows belong to the thread that made them, the GUI thread. Another thread reaches them only through
// these, under the model's lock: a copy of what it may read, and the messages it sends or posts, which the
// GUI thread handles when it next retrieves messages (GetMessageA, PeekMessageA) and answers.
bool OnGuiThread(); // true also while no window has been made
HWND FindDialogShared(LPCSTR lpClassName, LPCSTR lpWindowName);
HWND ChildShared(HWND hDlg, int nId); // null when hDlg is no live dialog or has no such child
bool IsLiveShared(HWND h);
void NoteText(Wnd *p);     // a window's text changed: the copy other threads see
void DetachChild(Wnd *p);  // p leaves its parent's list of children
struct CrossMessage {
    MSG msg = {};
    bool bPosted = false; // posted: no answer awaited
    bool bTaken = false;  // the GUI thread has it
    bool bDone = false;
    LRESULT lResult = 0;
    DWORD dwError = 0;
    std::string sText; // WM_SETTEXT's text, WM_GETTEXT's answer: the sender's buffer is not written across
};
void PushCross(const std::shared_ptr<CrossMessage> &p);
std::shared_ptr<CrossMessage> TakeCross(); // GUI thread; null when none waits
bool CrossWaiting();
void ReplyCross(const std::shared_ptr<CrossMessage> &p, LRESULT lResult, DWORD dwError);
// Waits for the answer up to dwTimeoutMs (INFINITE: for good); false when it did not come, and the message,
// if the GUI thread has not taken it yet, is withdrawn.
bool AwaitReply(const std::shared_ptr<CrossMessage> &p, DWORD dwTimeoutMs);
// The GUI thread retrieves messages now (bWaiting: and waits for input until its next call).
void NoteRetrieval(bool bWaiting);
// Windows' test of a hung window: its thread does not wait for input and has retrieved no message for 5 s.
bool GuiThreadHung();

// A front end shows the dialogs and turns the user's input into messages (PostInput). The dialog manager
// calls it on the GUI thread.
class FrontEnd
{
  public:
    virtual ~FrontEnd() {}
    virtual const char *Name() const = 0;
    // A dialog and its controls were made.
    virtual void Created(Wnd *pDlg)
    {
        (void)pDlg;
    }
    // Before the records go.
    virtual void Destroying(Wnd *pDlg)
    {
        (void)pDlg;
    }
    // Text, state, visibility or focus changed.
    virtual void Changed(Wnd *pWnd)
    {
        (void)pWnd;
    }
    // Called when the queue is empty: blocks until the user's input has been posted, or Wake was called,
    // and returns true, or returns false when no input can come (GetMessageA then fails).
    virtual bool WaitInput() = 0;
    // Handles what the display has for the dialogs without waiting (paints, moves, input it posts).
    virtual void PollInput() {}
    // Called from another thread: a WaitInput in progress returns soon.
    virtual void Wake() {}
    virtual int MessageBox(Wnd *pOwner, const std::string &sText, const std::string &sCaption,
                           UINT uType) = 0;
};

// render.cpp: the page as text, in tab order; shared by the text and script front ends. UTF-8.
std::string RenderDialog(Wnd *pDlg);
std::string RenderMessageBox(const std::string &sText, const std::string &sCaption, UINT uType);

// ui_text.cpp, ui_script.cpp: the terminal front end, and the scripted one (null, with psError, on a bad
// script).
FrontEnd *NewTextFrontEnd();
FrontEnd *NewScriptFrontEnd(const char *pszScript, std::string *psError);
// ui_gui.cpp: the GUI lives in its own library (plat_gui), reached through this weak reference: null when
// the program was linked without it; the front end is null when no display opens.
FrontEnd *NewGuiFrontEnd() __attribute__((weak));

// frontend.cpp: the front end in use, chosen on first need: PLAT_UI (gui, text, script), else gui when a
// display opens, text when standard input is a terminal, otherwise script.
FrontEnd *ActiveFrontEnd();
FrontEnd *StartedFrontEnd();   // null while none has been chosen
void SetFrontEnd(FrontEnd *p); // replaces the choice (tests); the caller keeps ownership
bool UiWanted();               // the process entered through WinMain, so message boxes start a front end
void SetUiWanted(bool b);

} // namespace plat
