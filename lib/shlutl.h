// shlutl.h - registry keys and string values, the special folders and shell links, each a short sequence of
// platform calls whose errors become a null key or a 0 result.
#pragma once

#include "platform.h"

// Folder kinds of ShlGetFolder
#define FOLDER_COMMONFILES 1
#define FOLDER_PROGRAMFILES 2
#define FOLDER_TEMP 3
#define FOLDER_PROGRAMS 4
#define FOLDER_DESKTOP 5
#define FOLDER_DOCUMENTS 6

// Keys returned by ShlRegOpen and ShlRegCreate belong to the caller, who closes them with ShlRegClose.
HKEY ShlRegOpen(HKEY hKey, const char *szSubkey, int bWrite);
HKEY ShlRegCreate(HKEY hKey, const char *szSubkey);
int ShlRegDeleteKey(HKEY hKey, const char *szSubkey);
int ShlRegClose(HKEY hKey);

int ShlRegGetString(HKEY hKey, const char *szValue, char *szData, int nSize);
int ShlRegSetString(HKEY hKey, const char *szValue, const char *szData);
int ShlRegDeleteValue(HKEY hKey, const char *szValue);

int ShlGetFolder(int nFolder, char *szPath, int nSize);
int ShlCreateLink(const char *szLink, const char *szTarget, const char *szWorkDir, const char *szArgs);
