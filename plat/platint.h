// platint.h - what the Linux platform layer's services share among themselves; the system never sees it.
#pragma once

#include <windows.h>

#include <stdint.h>
#include <string>
#include <vector>

namespace plat {

// Every kernel HANDLE of this layer (files, searches, standard streams) points at one of these. A handle
// is valid only while it is registered; CloseHandle unregisters and deletes it.
struct KernelObject {
    virtual ~KernelObject() {}
    virtual DWORD FileType() const { return FILE_TYPE_UNKNOWN; }
    virtual BOOL Read(void *pBuffer, DWORD nBytes, DWORD *pnRead);
    virtual BOOL Write(const void *pBuffer, DWORD nBytes, DWORD *pnWritten);
    virtual bool IsStatic() const { return false; } // the standard streams are never deleted
};
HANDLE RegisterHandle(KernelObject *pObject);
KernelObject *LookupHandle(HANDLE h); // null, with ERROR_INVALID_HANDLE set, for a handle not registered
void UnregisterHandle(HANDLE h);

// The program's module and its resources (a .res image linked into the program).
struct Module {
    const unsigned char *pRes;
    size_t nRes;
};
Module *ModuleFromHandle(HINSTANCE h); // null for an unknown module
const void *FindResourceData(HINSTANCE h, LPCSTR pszType, LPCSTR pszName, DWORD *pnSize);
std::string ExecutableHostPath();

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

// Code page 1251, the ANSI code page of the emulated machine.
char16_t AnsiToUnicode(unsigned char c);
int UnicodeToAnsi(char16_t w); // -1 when the character has no byte in the code page
std::string AnsiToUtf8(const std::string &s);
std::string Utf8ToAnsi(const std::string &s, bool *pbLossy = nullptr);

} // namespace plat

namespace plat {

// The emulated machine's folder ($PLAT_ROOT, by default $HOME/.local/share/plat/machine), created and
// filled on first use with its special folders. Drive C: is its drive_c folder; drive Z: is the host's root.
std::string MachineRoot();

// The machine's user (the host's login name) and the Windows paths of its special folders.
std::string UserName();
enum SpecialFolder {
    FolderProgramFiles,
    FolderCommonFiles,
    FolderPrograms, // the Start-menu programs folder
    FolderDesktop,
    FolderDocuments,
    FolderTemp,
};
std::string SpecialFolderPath(SpecialFolder nFolder); // e.g. "C:\\users\\ann\\Desktop", no trailing backslash

} // namespace plat
