// user.h - what the user units share: the window records the dialog manager builds from a dialog template,
// the front-end interface through which a dialog is shown and input arrives, and the resources (res.cpp);
// the system never sees it. The user units need from kernel/ (kernel.h): the module and its resource
// image, the code page, the last error; from shell/ (shell.h): the notifications flushed before the wait
// for input (dlgmgr.cpp).
#pragma once

#include "kernel/kernel.h"

#include <stdint.h>
#include <string>
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

} // namespace plat

namespace plat
{

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

// One window: the dialog or one of its controls. An HWND is the address of its Wnd; the dialog manager
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

Wnd *WndFromHandle(HWND h); // null when h is not a live window
inline HWND HandleOf(Wnd *p)
{
    return (HWND)p;
}
std::vector<Wnd *> LiveDialogs(); // in creation order
Wnd *FocusWnd();                  // the window with the keyboard focus, or null
bool IsShown(const Wnd *p);       // WS_VISIBLE on the window and all its parents
bool IsEnabled(const Wnd *p);     // not WS_DISABLED
bool IsDefaultLook(const Wnd *p); // a push button drawn as the dialog's default button now

// The label of a button as shown: "&&" gives "&", "&x" underlines x (nMnemonic is the index of x in the
// result, -1 for none).
std::string StripMnemonic(const std::string &sText, int *pnMnemonic);

// A front end shows the dialogs and turns the user's input into messages (PostInput). The dialog manager
// calls it on the GUI thread.
class FrontEnd
{
  public:
    virtual ~FrontEnd() {}
    virtual const char *Name() const = 0;
    virtual void Created(Wnd *pDlg)
    {
        (void)pDlg;
    } // a dialog and its controls were made
    virtual void Destroying(Wnd *pDlg)
    {
        (void)pDlg;
    } // before the records go
    virtual void Changed(Wnd *pWnd)
    {
        (void)pWnd;
    } // text, state, visibility or focus changed
    // Called when the queue is empty: blocks until the user's input has been posted and returns true, or
    // returns false when no input can come (GetMessageA then fails).
    virtual bool WaitInput() = 0;
    virtual int MessageBox(Wnd *pOwner, const std::string &sText, const std::string &sCaption,
                           UINT uType) = 0;
};

// The front end in use, chosen on first need: PLAT_UI (gui, text, script), else gui when a display opens,
// text when standard input is a terminal, otherwise script.
FrontEnd *ActiveFrontEnd();
FrontEnd *StartedFrontEnd();   // null while none has been chosen
void SetFrontEnd(FrontEnd *p); // replaces the choice (tests); the caller keeps ownership
bool UiWanted();               // the process entered through WinMain, so message boxes start a front end
void SetUiWanted(bool b);

FrontEnd *NewTextFrontEnd();
FrontEnd *NewScriptFrontEnd(const char *pszScript,
                            std::string *psError); // null, with psError, on a bad script
// The GUI lives in its own library (plat_gui); null when the program was linked without it or no display
// opens.
FrontEnd *NewGuiFrontEnd() __attribute__((weak));

// The input a front end delivers: appended to the queue behind the posted messages.
void PostInput(Wnd *pWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
bool QueueEmpty();

// The page as text, in tab order; shared by the text and script front ends. UTF-8.
std::string RenderDialog(Wnd *pDlg);
std::string RenderMessageBox(const std::string &sText, const std::string &sCaption, UINT uType);
// The buttons of a message box type (UTF-8 labels) and the result of each, first the default.
std::vector<std::pair<std::string, int>> MessageBoxButtons(UINT uType);

} // namespace plat
