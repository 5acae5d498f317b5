// wizard.h - the wizard kernel: the program entry it calls, the resource handle table that owns every loaded
// text and bitmap, and the wizard engine.
#pragma once

#include "platform.h"

// Resource handle table
#define RES_SLOTS 1024
#define RES_FREE 0
#define RES_STRING 1
#define RES_OBJECT 2

// The code page of every text of the program, whatever the system's ANSI code page (which paths use).
#define WIZ_CODE_PAGE 1251

extern HINSTANCE hWizInstance; // the module instance WinMain received; resources are loaded from it

// Implemented once in each program, by its main file outside the system library (Setup.exe's
// app/setup_main.cpp, Uninst.exe's app/uninst_main.cpp, the demonstration's tools/wizdemo.cpp): its main
// operation, called once by WinMain (entry.cpp).
int InstallMain(void);

void ResInit(void);
void ResFreeAll(void);
int ResAddString(char *s);     // takes ownership of a heap string on success; 0 leaves it with the caller
int ResAddObject(HGDIOBJ o);   // takes ownership of a GDI object on success; 0 leaves it with the caller
char *ResGetString(int h);     // borrowed; null for an invalid handle or one that holds no text
HGDIOBJ ResGetObject(int h);   // borrowed; null for an invalid handle or one that holds no object
void ResFree(int h);
int ResDupString(const char *s);
int ResLoadString(int nId); // the string resource in code page 1251, cut to 511 characters
int ResLoadBitmap(int nId);
WCHAR *ResWideText(const char *pszText); // a heap UTF-16 copy of a 1251 text, or null; the caller frees it

// Wizard engine

#define WIZ_PAGE_PICTURE 1
#define WIZ_PAGE_TEXT 2
#define WIZ_PAGE_OPTION 3
#define WIZ_PAGE_END 4 // the final page, which also ends a page list

// The dialog title and the button labels, as resource handles (0: no text). The engine keeps a pointer to
// the caller's record and never frees the handles.
struct WizConfig {
    int nReserved; // set to 1 by the application; not read
    int hTitle;
    int hBack;
    int hNext;
    int hFinish; // the Next button's label when the next page is the final page
    int hCancel;
    int hClose; // the Cancel button's label on the final page
};

// One page. A page list is an array of these ended by the first record of kind WIZ_PAGE_END, which is also
// the final page. The engine writes the check box state of an option page back into bChecked (1 or 0)
// when the user leaves the page.
struct WizPage {
    int nKind;
    int hImage; // picture page: the bitmap
    int hText;  // picture, text and option pages: the text
    int hLabel; // text page: the label under the text box; option page: the check box label
    int bChecked;
};

// For the application
void WizSetConfig(WizConfig *pConfig);
int WizRun(WizPage *pPages); // 1: the user reached the final page; 0: cancelled, or the wizard did not start
void WizSetFinalText(int hText);
// While the application's steps run (from WizRun's return of 1 to WizWait) the buttons are disabled and
// closing the window is refused. The steps call WizProgress often: it shows the line hFormat under the final
// page's text ("%1", "%2" and "%3" replaced by the numbers in decimal, "%%" by "%"; 0 keeps the line shown),
// setting the control's text only when the line changed, then handles the window's pending messages without
// waiting, at most every few milliseconds unless the line changed. The last error is left as it was. A quit
// message taken meanwhile is posted again when WizWait begins.
void WizProgress(int hFormat, int n1, int n2, int n3);
void WizWait(void);
int WizMessageBox(int hText, UINT nType);

// Inside the engine, open to the tests
// Copies szSrc into szBuf (nSize bytes), replacing "$name" by the value of the symbol of that name (case
// ignored; a null value keeps the symbol as written). Without a buffer returns the bytes the whole
// expansion needs; with one, 1 when all of it fitted, 0 when it was cut short (still terminated, unless
// nSize < 1, when nothing is written).
int WizExpandSymbols(char *szBuf, const char *szSrc, int nSize, const char *const *pszSymbols,
                     const char *const *pszValues, int nCount);
// The label of hLabel without accelerator marks and punctuation, in szBuf (nSize bytes); null when there
// is no text or it does not fit.
char *WizCleanLabel(char *szBuf, int hLabel, int nSize);
// Copies szFormat into szBuf (nSize bytes, nSize > 0, always terminated) with "%1", "%2" and "%3" replaced by
// n1, n2 and n3 in decimal and "%%" by "%"; 0 when it was cut short.
int WizFormatNumbers(char *szBuf, const char *szFormat, int nSize, int n1, int n2, int n3);
INT_PTR CALLBACK WizDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
