// shell.h - what the shell units give the rest of plat/ besides the Win32 calls, one section per unit; the
// system never sees it. The units, lowest first, and the Win32 calls each one implements:
//   notify.cpp  SHChangeNotify (the record of change notifications)
//   com.cpp     CoTaskMemAlloc, CoTaskMemRealloc, CoTaskMemFree; the shell's IMalloc, GUIDs, the interface
//               and class ids, item lists
//   lnk.cpp     the ShellLink object (IShellLinkA, IPersistFile) and the link file format
//   shell.cpp   SHGetMalloc, SHGetSpecialFolderLocation, SHGetPathFromIDListA, CoInitialize, CoUninitialize,
//               CoCreateInstance
// The shell needs from kernel/ (kernel.h): the machine folder and its special folders, full paths, the code
// page, the fault switch, and the file calls.
#pragma once

#include "kernel/kernel.h"

#include <shlobj.h>

#include <string>

namespace plat
{

// notify.cpp: the record of shell change notifications, one line per SHChangeNotify.
std::string NotifyLogPath();

// Writes the notifications this process has queued to the record. Done on its own before the process starts
// another, waits for input or ends; tests call it before they read the record.
void FlushNotifications();

// com.cpp: the shell's allocator (an IMalloc over CoTaskMemAlloc), one object for the process.
IMalloc *ShellAllocator();
// Item lists of this layer hold one item: a Windows path. They are allocated with the shell's allocator
// (CoTaskMemAlloc); PathFromItemList returns false for an item list it did not make.
LPITEMIDLIST ItemListFromPath(const std::string &sPath);
bool PathFromItemList(LPCITEMIDLIST pidl, std::string *psPath);
bool SameGuid(REFGUID a, REFGUID b);
std::string GuidText(REFGUID g); // "{00021401-0000-0000-C000-000000000046}"

// lnk.cpp: a shell link (.lnk file) in the public shell-link format: strings are ANSI (code page 1251); the
// target lies on a drive (X:\...), or has no LinkInfo in the file.
struct LinkData {
    std::string sTarget, sWorkDir, sArgs, sDescription, sRelativePath, sIconPath;
    int nIcon = 0;
    int nShowCmd = 1; // SW_SHOWNORMAL
    WORD wHotkey = 0;
    // The target's attributes, times and size, as when the link was made (zero when it was missing).
    DWORD nAttributes = 0;
    FILETIME ftCreation = {0, 0}, ftAccess = {0, 0}, ftWrite = {0, 0};
    DWORD nSize = 0;
    DWORD nVolumeSerial = 0;
};
// The file's bytes; empty when a string is too long for the format (65535 characters).
std::string BuildLinkFile(const LinkData &link);
// Reads the bytes of a link file; false when they are not one.
bool ParseLinkFile(const std::string &sBytes, LinkData *pLink);
// A new ShellLink object, asked for the interface riid (CoCreateInstance).
HRESULT CreateShellLink(REFIID riid, void **ppv);

} // namespace plat
