// com.cpp - the object model's small parts the shell rests on: the task allocator (CoTaskMemAlloc and the
// shell's IMalloc over it), GUIDs and the interface and class ids of this layer; and the shell's item lists,
// which live in that allocator.

#include "shell/shell.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const CLSID CLSID_ShellLink = {0x00021401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IMalloc = {0x00000002, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IPersist = {0x0000010C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IShellLinkA = {0x000214EE, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

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

// Item lists made here: one item holding this mark and the path with its terminator, then the empty item.
const char kItemMark[4] = {'P', 'L', 'A', 'T'};

} // namespace

namespace plat
{

IMalloc *ShellAllocator()
{
    return &theMalloc;
}

bool SameGuid(REFGUID a, REFGUID b)
{
    return memcmp(&a, &b, sizeof(GUID)) == 0;
}

std::string GuidText(REFGUID g)
{
    char sz[40];
    snprintf(sz, sizeof sz, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", (unsigned)g.Data1,
             (unsigned)g.Data2, (unsigned)g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
             g.Data4[5], g.Data4[6], g.Data4[7]);
    return sz;
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
        *psPath = SpecialFolderPath(FolderDesktop);
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
