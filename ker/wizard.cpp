// wizard.cpp - the wizard kernel: process entry, the resource handle table, and the wizard engine that runs
// a list of pages in one dialog.

#include "wizard.h"
#include "charstr.h"
#include "sysassert.h"

#include <stdlib.h>

// ---------------------------------------------------------------------------------------------------------
// Process entry and resource handle table

struct ResSlot {
    int nKind;
    HGDIOBJ hObject;
    char *pszString;
};

static ResSlot aResSlots[RES_SLOTS];
HINSTANCE hWizInstance;

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    int nResult;

    (void)hPrevInstance;
    (void)lpCmdLine;
    (void)nShowCmd;
    hWizInstance = hInstance;
    ResInit();
    nResult = InstallMain();
    ResFreeAll();
    return nResult;
}

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

int ResLoadString(int nId)
{
    char szBuffer[512];

    if (LoadStringA(hWizInstance, (UINT)nId, szBuffer, sizeof szBuffer) <= 0)
        return 0;
    return ResDupString(szBuffer);
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
