// shell.cpp - the shell for the Linux build: special folders as item lists, the shell's allocator, and the
// component object model as far as the system uses it (initialisation per thread and the ShellLink class).

#include "platint.h"

#include <stdlib.h>
#include <string.h>

namespace
{

// Every block of the task allocator carries this header, so that GetSize and DidAlloc can answer.
struct BlockHeader {
    uint32_t nMagic;
    uint32_t nReserved;
    size_t nSize;
};
const uint32_t kBlockMagic = 0x4d454d21; // "MEM!"

BlockHeader *HeaderOf(void *pv)
{
    return pv != nullptr ? (BlockHeader *)pv - 1 : nullptr;
}

// The shell's allocator: one object for the process, never freed.
struct ShellMalloc : IMalloc {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        if (plat::SameGuid(riid, IID_IUnknown) || plat::SameGuid(riid, IID_IMalloc)) {
            *ppv = static_cast<IMalloc *>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        return 1;
    }
    void *STDMETHODCALLTYPE Alloc(size_t cb) override
    {
        return CoTaskMemAlloc(cb);
    }
    void *STDMETHODCALLTYPE Realloc(void *pv, size_t cb) override
    {
        return CoTaskMemRealloc(pv, cb);
    }
    void STDMETHODCALLTYPE Free(void *pv) override
    {
        CoTaskMemFree(pv);
    }
    size_t STDMETHODCALLTYPE GetSize(void *pv) override
    {
        BlockHeader *p = HeaderOf(pv);
        return p != nullptr && p->nMagic == kBlockMagic ? p->nSize : (size_t)-1;
    }
    int STDMETHODCALLTYPE DidAlloc(void *pv) override
    {
        BlockHeader *p = HeaderOf(pv);
        return p != nullptr && p->nMagic == kBlockMagic ? 1 : 0;
    }
    void STDMETHODCALLTYPE HeapMinimize() override {}
};
ShellMalloc theMalloc;

// The component object model's initialisations of this thread.
thread_local int nComInits;

// Item lists made here: one item holding this mark and the path with its terminator, then the empty item.
const char kItemMark[4] = {'P', 'L', 'A', 'T'};

// The folder of a CSIDL, or an empty string for one this layer does not know.
std::string FolderOfCsidl(int nCsidl)
{
    using plat::SpecialFolderPath;
    std::string sPrograms = SpecialFolderPath(plat::FolderPrograms);
    std::string sStartMenu = sPrograms.substr(0, sPrograms.rfind('\\'));
    switch (nCsidl) {
    case CSIDL_DESKTOP:
    case CSIDL_DESKTOPDIRECTORY:
        return SpecialFolderPath(plat::FolderDesktop);
    case CSIDL_PROGRAMS:
        return sPrograms;
    case CSIDL_PERSONAL:
        return SpecialFolderPath(plat::FolderDocuments);
    case CSIDL_STARTMENU:
        return sStartMenu;
    case CSIDL_APPDATA: { // the Start menu lies in AppData\Roaming\Microsoft\Windows
        std::string s = sStartMenu;
        for (int i = 0; i < 3 && s.rfind('\\') != std::string::npos; i++)
            s.erase(s.rfind('\\'));
        return s;
    }
    case CSIDL_PROGRAM_FILES:
        return SpecialFolderPath(plat::FolderProgramFiles);
    case CSIDL_PROGRAM_FILES_COMMON:
        return SpecialFolderPath(plat::FolderCommonFiles);
    }
    return std::string();
}

} // namespace

namespace plat
{

bool SameGuid(REFGUID a, REFGUID b)
{
    return memcmp(&a, &b, sizeof(GUID)) == 0;
}

LPITEMIDLIST ItemListFromPath(const std::string &sPath)
{
    size_t cbItem = 2 + sizeof kItemMark + sPath.size() + 1;
    if (cbItem > 0xffff)
        return nullptr;
    BYTE *p = (BYTE *)CoTaskMemAlloc(cbItem + 2);
    if (p == nullptr)
        return nullptr;
    USHORT cb = (USHORT)cbItem, cbEnd = 0;
    memcpy(p, &cb, 2);
    memcpy(p + 2, kItemMark, sizeof kItemMark);
    memcpy(p + 2 + sizeof kItemMark, sPath.c_str(), sPath.size() + 1);
    memcpy(p + cbItem, &cbEnd, 2);
    return (LPITEMIDLIST)p;
}

bool PathFromItemList(LPCITEMIDLIST pidl, std::string *psPath)
{
    if (pidl == nullptr)
        return false;
    const BYTE *p = (const BYTE *)pidl;
    USHORT cb;
    memcpy(&cb, p, 2);
    if (cb == 0) { // the empty list: the desktop
        *psPath = FolderOfCsidl(CSIDL_DESKTOP);
        return true;
    }
    if (cb < 2 + sizeof kItemMark + 1 || memcmp(p + 2, kItemMark, sizeof kItemMark) != 0 || p[cb - 1] != '\0')
        return false;
    *psPath = (const char *)(p + 2 + sizeof kItemMark);
    return true;
}

} // namespace plat

LPVOID WINAPI CoTaskMemAlloc(size_t cb)
{
    BlockHeader *p = (BlockHeader *)malloc(sizeof(BlockHeader) + cb);
    if (p == nullptr)
        return nullptr;
    p->nMagic = kBlockMagic;
    p->nReserved = 0;
    p->nSize = cb;
    return p + 1;
}

LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, size_t cb)
{
    if (pv == nullptr)
        return CoTaskMemAlloc(cb);
    BlockHeader *p = (BlockHeader *)realloc(HeaderOf(pv), sizeof(BlockHeader) + cb);
    if (p == nullptr)
        return nullptr;
    p->nSize = cb;
    return p + 1;
}

void WINAPI CoTaskMemFree(LPVOID pv)
{
    BlockHeader *p = HeaderOf(pv);
    if (p == nullptr)
        return;
    p->nMagic = 0;
    free(p);
}

HRESULT WINAPI SHGetMalloc(LPMALLOC *ppMalloc)
{
    if (ppMalloc == NULL)
        return E_INVALIDARG;
    *ppMalloc = &theMalloc;
    return S_OK;
}

// The folder must exist, unless CSIDL_FLAG_CREATE asks to make it.
HRESULT WINAPI SHGetSpecialFolderLocation(HWND hwnd, int csidl, LPITEMIDLIST *ppidl)
{
    (void)hwnd;
    if (ppidl == NULL)
        return E_INVALIDARG;
    *ppidl = NULL;
    std::string sPath = FolderOfCsidl(csidl & ~CSIDL_FLAG_CREATE);
    if (sPath.empty())
        return E_INVALIDARG;
    DWORD nAttributes = GetFileAttributesA(sPath.c_str());
    if (nAttributes == INVALID_FILE_ATTRIBUTES && (csidl & CSIDL_FLAG_CREATE)) {
        for (size_t n = sPath.find('\\', 3); n != std::string::npos; n = sPath.find('\\', n + 1))
            CreateDirectoryA(sPath.substr(0, n).c_str(), NULL);
        CreateDirectoryA(sPath.c_str(), NULL);
        nAttributes = GetFileAttributesA(sPath.c_str());
    }
    if (nAttributes == INVALID_FILE_ATTRIBUTES || !(nAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    *ppidl = plat::ItemListFromPath(sPath);
    return *ppidl != NULL ? S_OK : E_OUTOFMEMORY;
}

BOOL WINAPI SHGetPathFromIDListA(LPCITEMIDLIST pidl, LPSTR pszPath)
{
    std::string sPath;
    if (pszPath == NULL)
        return FALSE;
    if (!plat::PathFromItemList(pidl, &sPath) || sPath.size() >= MAX_PATH) {
        *pszPath = '\0';
        return FALSE;
    }
    memcpy(pszPath, sPath.c_str(), sPath.size() + 1);
    return TRUE;
}

// S_OK on the first call of a thread, S_FALSE on later ones; each is balanced by one CoUninitialize.
HRESULT WINAPI CoInitialize(LPVOID pvReserved)
{
    (void)pvReserved;
    return nComInits++ == 0 ? S_OK : S_FALSE;
}

void WINAPI CoUninitialize(void)
{
    if (nComInits > 0)
        nComInits--;
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, IUnknown *pUnkOuter, DWORD dwClsContext, REFIID riid,
                                LPVOID *ppv)
{
    if (ppv == NULL)
        return E_POINTER;
    *ppv = NULL;
    if (nComInits == 0)
        return CO_E_NOTINITIALIZED;
    if (!plat::SameGuid(rclsid, CLSID_ShellLink) ||
        !(dwClsContext & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)))
        return REGDB_E_CLASSNOTREG;
    if (pUnkOuter != NULL)
        return CLASS_E_NOAGGREGATION;
    return plat::CreateShellLink(riid, ppv);
}
