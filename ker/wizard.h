// wizard.h - the wizard kernel: process entry, the resource handle table that owns every loaded text and
// bitmap, and the wizard engine.
#pragma once

#include "platform.h"

// Resource handle table
#define RES_SLOTS 1024
#define RES_FREE 0
#define RES_STRING 1
#define RES_OBJECT 2

extern HINSTANCE hWizInstance; // the module instance WinMain received; resources are loaded from it

// Implemented by the application: its main operation, called once by WinMain.
int InstallMain(void);

void ResInit(void);
void ResFreeAll(void);
int ResAddString(char *s);     // takes ownership of a heap string on success; 0 leaves it with the caller
int ResAddObject(HGDIOBJ o);   // takes ownership of a GDI object on success; 0 leaves it with the caller
char *ResGetString(int h);     // borrowed; null for an invalid handle or one that holds no text
HGDIOBJ ResGetObject(int h);   // borrowed; null for an invalid handle or one that holds no object
void ResFree(int h);
int ResDupString(const char *s);
int ResLoadString(int nId);
int ResLoadBitmap(int nId);
