// wizard.cpp - the wizard kernel: the resource handle table, and the wizard engine that runs a list of pages
// in one dialog. The process entry is entry.cpp's.

#include "wizard.h"
#include "charstr.h"
#include "resource.h"
#include "sysassert.h"

#include <stdlib.h>

static const char szThisModule[] = "ker\\WIZARD";

// ---------------------------------------------------------------------------------------------------------
// Resource handle table

struct ResSlot {
    int nKind;
    HGDIOBJ hObject;
    char *pszString;
};

static ResSlot aResSlots[RES_SLOTS];
HINSTANCE hWizInstance;

void ResInit(void)
{
    for (int i = 0; i < RES_SLOTS; i++)
        aResSlots[i].nKind = RES_FREE;
}

void ResFreeAll(void)
{
    for (int h = 1; h <= RES_SLOTS; h++)
        ResFree(h);
}

int ResAddString(char *s)
{
    if (s == NULL)
        return 0;
    for (int i = 0; i < RES_SLOTS; i++) {
        if (aResSlots[i].nKind == RES_FREE) {
            aResSlots[i].pszString = s;
            aResSlots[i].nKind = RES_STRING;
            return i + 1;
        }
    }
    return 0;
}

int ResAddObject(HGDIOBJ o)
{
    if (o == NULL)
        return 0;
    for (int i = 0; i < RES_SLOTS; i++) {
        if (aResSlots[i].nKind == RES_FREE) {
            aResSlots[i].hObject = o;
            aResSlots[i].nKind = RES_OBJECT;
            return i + 1;
        }
    }
    return 0;
}

char *ResGetString(int h)
{
    if (h < 1 || h > RES_SLOTS || aResSlots[h - 1].nKind != RES_STRING)
        return NULL;
    return aResSlots[h - 1].pszString;
}

HGDIOBJ ResGetObject(int h)
{
    if (h < 1 || h > RES_SLOTS || aResSlots[h - 1].nKind != RES_OBJECT)
        return NULL;
    return aResSlots[h - 1].hObject;
}

void ResFree(int h)
{
    ResSlot *pSlot;

    if (h < 1 || h > RES_SLOTS)
        return;
    pSlot = &aResSlots[h - 1];
    if (pSlot->nKind == RES_STRING) {
        free(pSlot->pszString);
        pSlot->nKind = RES_FREE;
    } else if (pSlot->nKind == RES_OBJECT) {
        DeleteObject(pSlot->hObject);
        pSlot->nKind = RES_FREE;
    }
}

int ResDupString(const char *s)
{
    char *pszCopy;
    int nSize;
    int h;

    if (s == NULL)
        return 0;
    nSize = StrLength(s) + 1;
    pszCopy = (char *)malloc(nSize);
    if (pszCopy == NULL)
        return 0;
    StrCopy(pszCopy, s, nSize);
    h = ResAddString(pszCopy);
    if (h == 0)
        free(pszCopy);
    return h;
}

// The program's texts are code page 1251 whatever the system's code page: the resource is read in UTF-16
// and converted to 1251 here, not by the platform to the system's ANSI code page, where Cyrillic letters
// would be question marks.
int ResLoadString(int nId)
{
    WCHAR wszBuffer[512];
    char szBuffer[512];
    int n;

    n = LoadStringW(hWizInstance, (UINT)nId, wszBuffer, 512);
    if (n <= 0)
        return 0;
    n = WideCharToMultiByte(WIZ_CODE_PAGE, 0, wszBuffer, n, szBuffer, sizeof szBuffer - 1, NULL, NULL);
    if (n <= 0)
        return 0;
    szBuffer[n] = EOS;
    return ResDupString(szBuffer);
}

// A heap copy of a text of the program (code page 1251) in UTF-16, for the wide calls that show it whatever
// the system's code page; null when the heap is exhausted. The caller frees it.
WCHAR *ResWideText(const char *pszText)
{
    WCHAR *pwszText;
    int nSize;

    ASSERT(pszText != NULL);
    nSize = StrLength(pszText) + 1;
    pwszText = (WCHAR *)malloc(nSize * sizeof(WCHAR));
    if (pwszText == NULL)
        return NULL;
    if (MultiByteToWideChar(WIZ_CODE_PAGE, 0, pszText, nSize, pwszText, nSize) <= 0)
        pwszText[0] = 0;
    return pwszText;
}

int ResLoadBitmap(int nId)
{
    HBITMAP hBitmap;
    int h;

    hBitmap = LoadBitmapA(hWizInstance, MAKEINTRESOURCEA(nId));
    if (hBitmap == NULL)
        return 0;
    h = ResAddObject(hBitmap);
    if (h == 0)
        DeleteObject(hBitmap);
    return h;
}

// ---------------------------------------------------------------------------------------------------------
// Wizard engine

#define WIZ_LABEL_SIZE 60 // a cleaned button label, with its terminator
#define WIZ_CONTROLS 11   // controls in the dialog template: the bound of the focus walk
#define WIZ_SYMBOLS 3
#define WIZ_PROGRESS_SIZE 160 // the progress line, with its terminator
#define WIZ_PUMP_MS 20        // the least time between two looks at the messages while the line stays

static HWND hWizDialog;
static const WCHAR wszWizEmpty[1] = {0};
static WizConfig *pWizConfig;
static WizPage *pWizPages;
static WizPage *pWizCurPage;

// The steps' state: whether they run (closing refused), the final page's text and the progress line shown
// under it, when the messages were last handled, and a quit message the pump took.
static int bWizBusy;
static int hWizFinalText;
static char szWizProgress[WIZ_PROGRESS_SIZE];
static DWORD dwWizLastPump;
static int bWizQuitTaken;
static int nWizQuitCode;

static const char *const apszWizSymbols[WIZ_SYMBOLS] = {"back", "next", "cancel"};

void WizSetConfig(WizConfig *pConfig)
{
    ASSERT(pConfig != NULL);
    pWizConfig = pConfig;
}

int WizExpandSymbols(char *szBuf, const char *szSrc, int nSize, const char *const *pszSymbols,
                     const char *const *pszValues, int nCount)
{
    const char *s;
    int n = 0;
    int bCut = 0;

    ASSERT(szSrc != NULL);
    ASSERT(pszSymbols != NULL);
    ASSERT(pszValues != NULL);
    ASSERT(nCount >= 0);
    s = szSrc;
    while (*s != EOS && !bCut) {
        const char *pszValue = NULL;
        int nName = 0;

        if (*s == '$') {
            for (int i = 0; i < nCount; i++) {
                const char *pszName = pszSymbols[i];
                int k = 0;

                if (pszName == NULL)
                    continue;
                while (pszName[k] != EOS &&
                       StrCharUpper((unsigned char)s[1 + k]) == StrCharUpper((unsigned char)pszName[k]))
                    k++;
                if (pszName[k] == EOS) {
                    pszValue = pszValues[i];
                    nName = k;
                    break;
                }
            }
        }
        if (pszValue != NULL) {
            for (const char *v = pszValue; *v != EOS; v++) {
                if (szBuf != NULL) {
                    if (n >= nSize - 1) {
                        bCut = 1;
                        break;
                    }
                    szBuf[n] = *v;
                }
                n++;
            }
            s += 1 + nName;
        } else {
            if (szBuf != NULL) {
                if (n >= nSize - 1) {
                    bCut = 1;
                    break;
                }
                szBuf[n] = *s;
            }
            n++;
            s++;
        }
    }
    if (szBuf == NULL)
        return n + 1;
    if (n + 1 > nSize)
        return 0;
    szBuf[n] = EOS;
    return !bCut;
}

// Whether a character of a text (code page 1251) is a letter, a digit or white space, whatever the system's
// code page: the platform is asked about its UTF-16 character, not about the byte in the system's code page
// (on a Western system the bytes of the letters ё and ч are punctuation).
static int WizTextCharIsWord(char ch)
{
    WCHAR wc;
    WORD wType = 0;

    if (MultiByteToWideChar(WIZ_CODE_PAGE, 0, &ch, 1, &wc, 1) != 1 || !GetStringTypeW(CT_CTYPE1, &wc, 1, &wType))
        return (StrCharType((unsigned char)ch) & (STR_WORD | STR_SPACE)) != 0;
    return (wType & (C1_ALPHA | C1_DIGIT | C1_XDIGIT | C1_SPACE)) != 0;
}

char *WizCleanLabel(char *szBuf, int hLabel, int nSize)
{
    const char *pszLabel;
    int j = 0;

    ASSERT(szBuf != NULL);
    ASSERT(nSize > 0);
    szBuf[0] = EOS;
    pszLabel = ResGetString(hLabel);
    if (pszLabel == NULL)
        return NULL;
    if (!StrCopy(szBuf, pszLabel, nSize))
        return NULL;
    for (int i = 0; szBuf[i] != EOS; i++)
        if (WizTextCharIsWord(szBuf[i]))
            szBuf[j++] = szBuf[i];
    szBuf[j] = EOS;
    StrSqueeze(szBuf, 0);
    return szBuf;
}

// The values of the symbols: the buttons' labels as they read on the current page.
static void WizSymbolValues(const char **pszValues, char *szBack, char *szNext, char *szCancel)
{
    pszValues[0] = pszValues[1] = pszValues[2] = NULL;
    if (pWizConfig == NULL)
        return;
    pszValues[0] = WizCleanLabel(szBack, pWizConfig->hBack, WIZ_LABEL_SIZE);
    pszValues[1] = WizCleanLabel(szNext, pWizConfig->hNext, WIZ_LABEL_SIZE);
    pszValues[2] = WizCleanLabel(szCancel, pWizConfig->hCancel, WIZ_LABEL_SIZE);
    if (pWizCurPage == NULL)
        return;
    if (pWizCurPage->nKind == WIZ_PAGE_END)
        pszValues[2] = WizCleanLabel(szCancel, pWizConfig->hClose, WIZ_LABEL_SIZE);
    else if (pWizCurPage[1].nKind == WIZ_PAGE_END)
        pszValues[1] = WizCleanLabel(szNext, pWizConfig->hFinish, WIZ_LABEL_SIZE);
}

// Shows a text of the program in a window through the wide call; the empty text when the heap is exhausted.
static void WizSetWindowText(HWND hWnd, const char *pszText)
{
    WCHAR *pwszText = ResWideText(pszText);

    SetWindowTextW(hWnd, pwszText != NULL ? pwszText : wszWizEmpty);
    free(pwszText);
}

static void WizSetControlText(int nId, int hText)
{
    char szBack[WIZ_LABEL_SIZE], szNext[WIZ_LABEL_SIZE], szCancel[WIZ_LABEL_SIZE];
    const char *apszValues[WIZ_SYMBOLS];
    const char *pszText;
    char *pszExpanded = NULL;
    HWND hCtl;

    if (hWizDialog == NULL)
        return;
    hCtl = GetDlgItem(hWizDialog, nId);
    if (hCtl == NULL)
        return;
    WizSymbolValues(apszValues, szBack, szNext, szCancel);
    pszText = ResGetString(hText);
    if (pszText != NULL) {
        int nSize = WizExpandSymbols(NULL, pszText, 0, apszWizSymbols, apszValues, WIZ_SYMBOLS);
        pszExpanded = (char *)malloc(nSize);
        if (pszExpanded != NULL)
            WizExpandSymbols(pszExpanded, pszText, nSize, apszWizSymbols, apszValues, WIZ_SYMBOLS);
    }
    WizSetWindowText(hCtl, pszExpanded != NULL ? pszExpanded : "");
    free(pszExpanded);
}

// The enlarged copy of a picture that a control shows: its resource handle (0 when the control shows the
// bitmap itself) and the bitmap, by which a handle whose slot was freed and taken again is told apart.
static int hWizScaledImage;
static HGDIOBJ hWizScaledObject;

// The dots per inch the dialog is drawn at; 96 when the platform does not say.
static int WizDialogDpi(void)
{
    HDC hDC = GetDC(hWizDialog);
    int nDpi = 0;

    if (hDC != NULL) {
        nDpi = GetDeviceCaps(hDC, LOGPIXELSY);
        ReleaseDC(hWizDialog, hDC);
    }
    return nDpi > 0 ? nDpi : 96;
}

// Shows the bitmap hImage in the control nId at the dialog's scale. The pictures are drawn for 96 dots per
// inch; on a screen of more, where the dialog's font and with it every control has grown, the picture is
// enlarged in the same proportion (a copy the table owns). Should the copy fail, the bitmap itself is shown.
static void WizSetControlImage(int nId, int hImage)
{
    HGDIOBJ hBitmap = ResGetObject(hImage);
    int hScaled = 0;
    int nDpi;
    BITMAP bm;
    HWND hCtl;

    if (hWizDialog == NULL)
        return;
    hCtl = GetDlgItem(hWizDialog, nId);
    if (hCtl == NULL)
        return;
    nDpi = WizDialogDpi();
    if (hBitmap != NULL && nDpi > 96 && GetObjectA(hBitmap, sizeof bm, &bm) == (int)sizeof bm) {
        HANDLE hCopy = CopyImage((HANDLE)hBitmap, IMAGE_BITMAP, MulDiv(bm.bmWidth, nDpi, 96),
                                 MulDiv(bm.bmHeight, nDpi, 96), 0);
        if (hCopy != NULL) {
            hScaled = ResAddObject((HGDIOBJ)hCopy);
            if (hScaled == 0)
                DeleteObject((HGDIOBJ)hCopy);
            else
                hBitmap = (HGDIOBJ)hCopy;
        }
    }
    SendMessageA(hCtl, STM_SETIMAGE, IMAGE_BITMAP, (LPARAM)hBitmap);
    // The copy shown before is no longer the control's.
    if (hWizScaledImage != 0 && ResGetObject(hWizScaledImage) == hWizScaledObject)
        ResFree(hWizScaledImage);
    hWizScaledImage = hScaled;
    hWizScaledObject = hScaled != 0 ? hBitmap : NULL;
}

static void WizShowControl(int nId, int bShow)
{
    HWND hCtl;

    if (hWizDialog == NULL)
        return;
    hCtl = GetDlgItem(hWizDialog, nId);
    if (hCtl != NULL)
        ShowWindow(hCtl, bShow ? SW_SHOW : SW_HIDE);
}

static void WizEnableControl(int nId, int bEnable)
{
    HWND hCtl;

    if (hWizDialog == NULL)
        return;
    hCtl = GetDlgItem(hWizDialog, nId);
    if (hCtl != NULL)
        EnableWindow(hCtl, bEnable);
}

static void WizSetCheck(int nId, int bChecked)
{
    if (hWizDialog != NULL)
        CheckDlgButton(hWizDialog, nId, bChecked ? BST_CHECKED : BST_UNCHECKED);
}

static int WizGetCheck(int nId)
{
    if (hWizDialog == NULL)
        return 0;
    return IsDlgButtonChecked(hWizDialog, nId) == BST_CHECKED;
}

static void WizSetTitle(void)
{
    const char *pszTitle = NULL;
    WCHAR *pwszTitle;

    if (hWizDialog == NULL)
        return;
    if (pWizConfig != NULL)
        pszTitle = ResGetString(pWizConfig->hTitle);
    // The dialog's own procedure is an ANSI one, through which WM_SETTEXT would reach the caption in the
    // system's code page: the wide default handling sets it directly.
    pwszTitle = ResWideText(pszTitle != NULL ? pszTitle : "");
    DefWindowProcW(hWizDialog, WM_SETTEXT, 0, (LPARAM)(pwszTitle != NULL ? pwszTitle : wszWizEmpty));
    free(pwszTitle);
}

static void WizShowPage(WizPage *pPage)
{
    if (pWizCurPage != NULL) {
        switch (pWizCurPage->nKind) {
        case WIZ_PAGE_PICTURE:
            WizShowControl(IDC_PICTURE, 0);
            WizShowControl(IDC_PICTURE_TEXT, 0);
            break;
        case WIZ_PAGE_TEXT:
            WizShowControl(IDC_TEXT, 0);
            WizShowControl(IDC_TEXT_LABEL, 0);
            break;
        case WIZ_PAGE_OPTION:
            pWizCurPage->bChecked = WizGetCheck(IDC_OPTION_CHECK) ? 1 : 0;
            WizShowControl(IDC_OPTION_TEXT, 0);
            WizShowControl(IDC_OPTION_CHECK, 0);
            break;
        case WIZ_PAGE_END:
            WizShowControl(IDC_FINAL_TEXT, 0);
            break;
        }
    }
    pWizCurPage = pPage;
    if (pPage == NULL)
        return;
    switch (pPage->nKind) {
    case WIZ_PAGE_PICTURE:
        WizSetControlImage(IDC_PICTURE, pPage->hImage);
        WizSetControlText(IDC_PICTURE_TEXT, pPage->hText);
        WizShowControl(IDC_PICTURE, 1);
        WizShowControl(IDC_PICTURE_TEXT, 1);
        break;
    case WIZ_PAGE_TEXT:
        WizSetControlText(IDC_TEXT, pPage->hText);
        WizSetControlText(IDC_TEXT_LABEL, pPage->hLabel);
        WizShowControl(IDC_TEXT, 1);
        WizShowControl(IDC_TEXT_LABEL, 1);
        break;
    case WIZ_PAGE_OPTION:
        WizSetControlText(IDC_OPTION_TEXT, pPage->hText);
        WizSetControlText(IDC_OPTION_CHECK, pPage->hLabel);
        WizSetCheck(IDC_OPTION_CHECK, pPage->bChecked);
        WizShowControl(IDC_OPTION_TEXT, 1);
        WizShowControl(IDC_OPTION_CHECK, 1);
        break;
    case WIZ_PAGE_END:
        WizSetControlText(IDC_FINAL_TEXT, 0);
        WizShowControl(IDC_FINAL_TEXT, 1);
        break;
    }
}

// Labels, enabled state and visibility of Back, Next and Cancel for the current page, then the focus,
// posted: the first visible, enabled tab stop after Cancel other than Back, else Cancel itself.
static void WizUpdateButtons(int bEnable)
{
    WizPage *pPage = pWizCurPage;
    HWND hCancel;
    HWND hTarget;
    HWND hCtl;

    if (pPage == NULL || pPage->nKind == WIZ_PAGE_END) {
        int hLabel = 0;
        if (pWizConfig != NULL)
            hLabel = pPage == NULL ? pWizConfig->hCancel : pWizConfig->hClose;
        WizSetControlText(IDCANCEL, hLabel);
        WizEnableControl(IDCANCEL, bEnable);
        WizShowControl(IDCANCEL, 1);
        WizShowControl(IDC_BACK, 0);
        WizShowControl(IDC_NEXT, 0);
    } else {
        int bFirst = pPage == pWizPages;
        int bLast = pPage[1].nKind == WIZ_PAGE_END;

        WizSetControlText(IDC_BACK, pWizConfig != NULL ? pWizConfig->hBack : 0);
        if (bLast) {
            WizEnableControl(IDC_BACK, bEnable);
            WizShowControl(IDC_BACK, !bFirst);
        } else {
            WizEnableControl(IDC_BACK, bEnable && !bFirst);
            WizShowControl(IDC_BACK, 1);
        }
        WizSetControlText(IDC_NEXT, pWizConfig == NULL ? 0 : bLast ? pWizConfig->hFinish : pWizConfig->hNext);
        WizEnableControl(IDC_NEXT, bEnable);
        WizShowControl(IDC_NEXT, 1);
        WizSetControlText(IDCANCEL, pWizConfig != NULL ? pWizConfig->hCancel : 0);
        WizEnableControl(IDCANCEL, bEnable);
        WizShowControl(IDCANCEL, 1);
    }

    if (hWizDialog == NULL)
        return;
    hCancel = GetDlgItem(hWizDialog, IDCANCEL);
    if (hCancel == NULL)
        return;
    hTarget = hCancel;
    hCtl = hCancel;
    for (int i = 0; i < WIZ_CONTROLS; i++) {
        int nId;

        hCtl = GetNextDlgTabItem(hWizDialog, hCtl, FALSE);
        if (hCtl == hCancel)
            break;
        nId = GetDlgCtrlID(hCtl);
        if (nId == 0 || nId == IDC_BACK)
            continue;
        hTarget = hCtl;
        break;
    }
    PostMessageA(hWizDialog, WM_NEXTDLGCTL, (WPARAM)hTarget, 1);
}

INT_PTR CALLBACK WizDialogProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    ASSERT(pWizPages != NULL);
    if (hDlg != hWizDialog || hDlg == NULL)
        return 0;
    if (uMsg == WM_INITDIALOG) {
        ASSERT(pWizCurPage == NULL);
        WizSetTitle();
        WizShowPage(pWizPages);
        WizUpdateButtons(1);
        ASSERT(pWizCurPage != NULL);
        if (pWizCurPage->nKind == WIZ_PAGE_END)
            PostQuitMessage(1);
        return 0;
    }
    // While the steps run, no way of closing the window does anything: the frame's close box and Alt+F4
    // (SC_CLOSE, then WM_CLOSE), Escape and a Cancel command sent from outside.
    if (bWizBusy && (uMsg == WM_CLOSE || (uMsg == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) ||
                     (uMsg == WM_COMMAND && LOWORD(wParam) == IDCANCEL)))
        return 1;
    if (uMsg != WM_COMMAND)
        return 0;
    if (HIWORD(wParam) == 0) {
        switch (LOWORD(wParam)) {
        case IDCANCEL:
            DestroyWindow(hWizDialog);
            hWizDialog = NULL;
            PostQuitMessage(0);
            return 1;
        case IDC_BACK:
            ASSERT(pWizCurPage != NULL);
            if (pWizCurPage->nKind != WIZ_PAGE_END && pWizCurPage != pWizPages) {
                WizShowPage(pWizCurPage - 1);
                WizUpdateButtons(1);
            }
            return 1;
        case IDC_NEXT:
            ASSERT(pWizCurPage != NULL);
            if (pWizCurPage->nKind != WIZ_PAGE_END) {
                WizShowPage(pWizCurPage + 1);
                WizUpdateButtons(1);
                ASSERT(pWizCurPage != NULL);
                if (pWizCurPage->nKind == WIZ_PAGE_END)
                    PostQuitMessage(1);
            }
            return 1;
        default:
            return 0;
        }
    }
    if (HIWORD(wParam) == EN_SETFOCUS) {
        HWND hEdit = (HWND)lParam;
        if (GetWindowLongA(hEdit, GWL_STYLE) & ES_MULTILINE)
            SendMessageA(hEdit, EM_SETSEL, 0, 0);
        else
            SendMessageA(hEdit, EM_SETSEL, 0, -1);
        SendMessageA(hEdit, EM_SCROLLCARET, 0, 0);
        return 1;
    }
    return 0;
}

// Runs the message loop until the quit message and returns its code; 0 when retrieving a message fails.
static int WizMessageLoop(void)
{
    MSG msg;
    BOOL bResult;

    for (;;) {
        bResult = GetMessageA(&msg, NULL, 0, 0);
        if (bResult != 1)
            break;
        IsDialogMessageA(hWizDialog, &msg);
    }
    return bResult == 0 ? (int)msg.wParam : 0;
}

int WizRun(WizPage *pPages)
{
    INITCOMMONCONTROLSEX icc;
    int nResult;

    if (hWizDialog != NULL || pWizConfig == NULL || pPages == NULL)
        return 0;
    pWizPages = pPages;
    pWizCurPage = NULL;
    hWizScaledImage = 0;
    hWizScaledObject = NULL;
    // The controls of the visual style (Common Controls 6, which the programs' manifest asks for).
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&icc);
    hWizDialog = CreateDialogParamA(hWizInstance, MAKEINTRESOURCEA(IDD_WIZARD), NULL, WizDialogProc, 0);
    if (hWizDialog == NULL)
        return 0;
    CallWindowProcA((WNDPROC)WizDialogProc, hWizDialog, WM_INITDIALOG, 0, 0);
    nResult = WizMessageLoop();
    if (hWizDialog != NULL)
        WizUpdateButtons(0);
    bWizBusy = nResult == 1 && hWizDialog != NULL;
    bWizQuitTaken = 0;
    hWizFinalText = 0;
    szWizProgress[0] = EOS;
    dwWizLastPump = GetTickCount();
    return nResult;
}

void WizSetFinalText(int hText)
{
    if (hWizDialog != NULL && pWizCurPage != NULL && pWizCurPage->nKind == WIZ_PAGE_END) {
        WizSetControlText(IDC_FINAL_TEXT, hText);
        hWizFinalText = hText;
        szWizProgress[0] = EOS;
    }
}

// Appends the decimal digits of n to szBuf at *pn (nSize bytes in all, the terminator's byte kept free);
// 0, with nothing written, when they do not fit.
static int WizAppendNumber(char *szBuf, int *pn, int nSize, int n)
{
    char szDigits[12];
    unsigned int u = n < 0 ? 0u - (unsigned int)n : (unsigned int)n;
    int k = 0;

    do {
        szDigits[k++] = (char)('0' + u % 10);
        u /= 10;
    } while (u != 0);
    if (n < 0)
        szDigits[k++] = '-';
    if (*pn + k > nSize - 1)
        return 0;
    while (k > 0)
        szBuf[(*pn)++] = szDigits[--k];
    return 1;
}

int WizFormatNumbers(char *szBuf, const char *szFormat, int nSize, int n1, int n2, int n3)
{
    const int anValues[3] = {n1, n2, n3};
    int n = 0;
    int bWhole = 1;

    ASSERT(szBuf != NULL);
    ASSERT(szFormat != NULL);
    ASSERT(nSize > 0);
    for (const char *s = szFormat; *s != EOS && bWhole; s++) {
        if (s[0] == '%' && s[1] >= '1' && s[1] <= '3') {
            bWhole = WizAppendNumber(szBuf, &n, nSize, anValues[s[1] - '1']);
            s++;
            continue;
        }
        if (s[0] == '%' && s[1] == '%')
            s++;
        if (n >= nSize - 1)
            bWhole = 0;
        else
            szBuf[n++] = *s;
    }
    szBuf[n] = EOS;
    return bWhole;
}

// Shows the final page's text with the progress line under it.
static void WizShowProgress(void)
{
    const char *pszText = ResGetString(hWizFinalText);
    char *pszBoth;
    int nText;
    int nSize;
    int h;

    if (pszText == NULL)
        pszText = "";
    nText = StrLength(pszText);
    nSize = nText + 1 + StrLength(szWizProgress) + 1;
    pszBoth = (char *)malloc(nSize);
    if (pszBoth == NULL)
        return;
    StrCopy(pszBoth, pszText, nSize);
    StrAppend(pszBoth, "\n", nSize);
    StrAppend(pszBoth, szWizProgress, nSize);
    h = ResAddString(pszBoth);
    if (h == 0) {
        free(pszBoth);
        return;
    }
    WizSetControlText(IDC_FINAL_TEXT, h);
    ResFree(h);
}

// Handles the messages waiting, without waiting for more: paints, moves, and whatever else comes. A quit
// message is kept for WizWait.
static void WizPump(void)
{
    MSG msg;

    while (hWizDialog != NULL && PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            bWizQuitTaken = 1;
            nWizQuitCode = (int)msg.wParam;
            break;
        }
        if (!IsDialogMessageA(hWizDialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

void WizProgress(int hFormat, int n1, int n2, int n3)
{
    char szLine[WIZ_PROGRESS_SIZE];
    const char *pszFormat = ResGetString(hFormat);
    int bChanged = 0;
    DWORD dwNow;
    DWORD nError;

    if (hWizDialog == NULL || !bWizBusy)
        return;
    nError = GetLastError(); // the step's, which it may still read
    if (pszFormat != NULL) {
        WizFormatNumbers(szLine, pszFormat, sizeof szLine, n1, n2, n3);
        if (StrCompare(szLine, szWizProgress, 0) != 0) {
            StrCopy(szWizProgress, szLine, sizeof szWizProgress);
            WizShowProgress();
            bChanged = 1;
        }
    }
    dwNow = GetTickCount();
    if (bChanged || dwNow - dwWizLastPump >= WIZ_PUMP_MS) {
        dwWizLastPump = dwNow;
        WizPump();
    }
    SetLastError(nError);
}

void WizWait(void)
{
    bWizBusy = 0;
    if (bWizQuitTaken) {
        bWizQuitTaken = 0;
        PostQuitMessage(nWizQuitCode);
    }
    if (hWizDialog == NULL)
        return;
    WizUpdateButtons(1);
    WizMessageLoop();
}

int WizMessageBox(int hText, UINT nType)
{
    const char *pszText = ResGetString(hText);
    const char *pszTitle = NULL;
    WCHAR *pwszText;
    WCHAR *pwszTitle;
    int nResult;

    if (pWizConfig != NULL)
        pszTitle = ResGetString(pWizConfig->hTitle);
    pwszText = ResWideText(pszText != NULL ? pszText : "");
    pwszTitle = ResWideText(pszTitle != NULL ? pszTitle : "");
    nResult = MessageBoxW(hWizDialog, pwszText != NULL ? pwszText : wszWizEmpty,
                          pwszTitle != NULL ? pwszTitle : wszWizEmpty, nType);
    free(pwszText);
    free(pwszTitle);
    return nResult;
}
