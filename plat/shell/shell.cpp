// shell.cpp - the shell for the Linux build: special folders as item lists, the shell's allocator
// (SHGetMalloc), and the component object model as far as the system uses it (initialisation per thread and
// the ShellLink class).

#include "shell/shell.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace
{

// The component object model's initialisations of this thread.
thread_local int nComInits;

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

// The fault switch for a call that returns an HRESULT: the failure to return, or S_OK to go on.
static HRESULT Fault(const char *pszCall, const std::string &sPath)
{
    DWORD nError;
    return plat::InjectedFault(pszCall, sPath, &nError) ? HRESULT_FROM_WIN32(nError) : S_OK;
}

// The fault switch sees no path (an empty one).
HRESULT WINAPI SHGetMalloc(LPMALLOC *ppMalloc)
{
    plat::TracedCall call("SHGetMalloc");
    HRESULT hr = Fault("SHGetMalloc", std::string());
    if (ppMalloc == NULL)
        return call.Result(E_INVALIDARG);
    *ppMalloc = SUCCEEDED(hr) ? plat::ShellAllocator() : NULL;
    return call.Result(hr);
}

// The folder must exist, unless CSIDL_FLAG_CREATE asks to make it. The fault switch sees the folder's path,
// or "CSIDL 0x...." for a CSIDL that names none.
static HRESULT SHGetSpecialFolderLocationImpl(int csidl, LPITEMIDLIST *ppidl)
{
    if (ppidl != NULL)
        *ppidl = NULL;
    std::string sPath = FolderOfCsidl(csidl & ~CSIDL_FLAG_CREATE);
    char szCsidl[16];
    snprintf(szCsidl, sizeof szCsidl, "CSIDL 0x%04X", (unsigned)csidl);
    HRESULT hr = Fault("SHGetSpecialFolderLocation", sPath.empty() ? std::string(szCsidl) : sPath);
    if (FAILED(hr))
        return hr;
    if (ppidl == NULL || sPath.empty())
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

HRESULT WINAPI SHGetSpecialFolderLocation(HWND hwnd, int csidl, LPITEMIDLIST *ppidl)
{
    plat::TracedCall call("SHGetSpecialFolderLocation");
    (void)hwnd;
    return call.Result(SHGetSpecialFolderLocationImpl(csidl, ppidl));
}

// The fault switch sees the item list's path (empty for an item list not made here).
BOOL WINAPI SHGetPathFromIDListA(LPCITEMIDLIST pidl, LPSTR pszPath)
{
    plat::TracedCall call("SHGetPathFromIDListA");
    std::string sPath;
    DWORD nError;
    bool bPath = plat::PathFromItemList(pidl, &sPath);
    if (plat::InjectedFault("SHGetPathFromIDListA", bPath ? sPath : std::string(), &nError)) {
        if (pszPath != NULL)
            *pszPath = '\0';
        SetLastError(nError);
        return call.Bool(FALSE);
    }
    if (pszPath == NULL)
        return call.Bool(FALSE);
    if (!bPath || sPath.size() >= MAX_PATH) {
        *pszPath = '\0';
        return call.Bool(FALSE);
    }
    memcpy(pszPath, sPath.c_str(), sPath.size() + 1);
    return call.Bool(TRUE);
}

// The folder of a CSIDL in UTF-16 (the layer keeps the folders' paths in the ANSI code page), which must
// exist: this call never makes it (CSIDL_FLAG_CREATE is left to SHGetSpecialFolderLocation). Not a checked
// call: the program forms its paths through SHGetSpecialFolderLocation and SHGetPathFromIDListA, which are.
HRESULT WINAPI SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPWSTR pszPath)
{
    (void)hwnd;
    (void)hToken;
    (void)dwFlags;
    if (pszPath == NULL)
        return E_INVALIDARG;
    *pszPath = 0;
    std::string sPath = FolderOfCsidl(csidl & ~CSIDL_FLAG_CREATE);
    if (sPath.empty() || sPath.size() >= MAX_PATH)
        return E_INVALIDARG;
    struct stat st;
    plat::ResolvedPath path;
    DWORD nError;
    if (!plat::ResolvePath(sPath.c_str(), &path, &nError) || stat(path.sHost.c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode))
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    for (size_t i = 0; i < sPath.size(); i++)
        pszPath[i] = plat::AnsiToUnicode((unsigned char)sPath[i]);
    pszPath[sPath.size()] = 0;
    return S_OK;
}

// S_OK on the first call of a thread, S_FALSE on later ones; each is balanced by one CoUninitialize. A call
// the fault switch fails (it sees no path) counts for nothing.
HRESULT WINAPI CoInitialize(LPVOID pvReserved)
{
    plat::TracedCall call("CoInitialize");
    (void)pvReserved;
    HRESULT hr = Fault("CoInitialize", std::string());
    if (FAILED(hr))
        return call.Result(hr);
    return call.Result(nComInits++ == 0 ? S_OK : S_FALSE);
}

void WINAPI CoUninitialize(void)
{
    if (nComInits > 0)
        nComInits--;
}

// The fault switch sees the class id, "{00021401-0000-0000-C000-000000000046}" for ShellLink.
static HRESULT CoCreateInstanceImpl(REFCLSID rclsid, IUnknown *pUnkOuter, DWORD dwClsContext, REFIID riid,
                                    LPVOID *ppv)
{
    if (ppv != NULL)
        *ppv = NULL;
    HRESULT hr = Fault("CoCreateInstance", plat::GuidText(rclsid));
    if (FAILED(hr))
        return hr;
    if (ppv == NULL)
        return E_POINTER;
    if (nComInits == 0)
        return CO_E_NOTINITIALIZED;
    if (!plat::SameGuid(rclsid, CLSID_ShellLink) ||
        !(dwClsContext & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)))
        return REGDB_E_CLASSNOTREG;
    if (pUnkOuter != NULL)
        return CLASS_E_NOAGGREGATION;
    return plat::CreateShellLink(riid, ppv);
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, IUnknown *pUnkOuter, DWORD dwClsContext, REFIID riid,
                                LPVOID *ppv)
{
    plat::TracedCall call("CoCreateInstance");
    return call.Result(CoCreateInstanceImpl(rclsid, pUnkOuter, dwClsContext, riid, ppv));
}
