// shlobj.h - the shell for the Linux build: special folders, item lists and their allocator, change
// notifications, and the component object model's shell link object that writes shortcut (.lnk) files.
#pragma once

#include "plat/wintypes.h"
#include "plat/winbase.h"

// Component object model
#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_ALL 0x17
#define STGM_READ 0x00000000L
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
    virtual ~IUnknown() {}
};

struct IMalloc : public IUnknown {
    virtual void *STDMETHODCALLTYPE Alloc(size_t cb) = 0;
    virtual void *STDMETHODCALLTYPE Realloc(void *pv, size_t cb) = 0;
    virtual void STDMETHODCALLTYPE Free(void *pv) = 0;
    virtual size_t STDMETHODCALLTYPE GetSize(void *pv) = 0;
    virtual int STDMETHODCALLTYPE DidAlloc(void *pv) = 0;
    virtual void STDMETHODCALLTYPE HeapMinimize() = 0;
};
typedef IMalloc *LPMALLOC;

struct IPersist : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetClassID(CLSID *pClassID) = 0;
};

struct IPersistFile : public IPersist {
    virtual HRESULT STDMETHODCALLTYPE IsDirty() = 0;
    virtual HRESULT STDMETHODCALLTYPE Load(LPCWSTR pszFileName, DWORD dwMode) = 0;
    virtual HRESULT STDMETHODCALLTYPE Save(LPCWSTR pszFileName, BOOL fRemember) = 0;
    virtual HRESULT STDMETHODCALLTYPE SaveCompleted(LPCWSTR pszFileName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurFile(LPWSTR *ppszFileName) = 0;
};

LPVOID WINAPI CoTaskMemAlloc(size_t cb);
LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, size_t cb);
void WINAPI CoTaskMemFree(LPVOID pv);

HRESULT WINAPI CoInitialize(LPVOID pvReserved);
void WINAPI CoUninitialize(void);
HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, IUnknown *pUnkOuter, DWORD dwClsContext, REFIID riid,
                                LPVOID *ppv);

extern const CLSID CLSID_ShellLink;
extern const IID IID_IUnknown;
extern const IID IID_IShellLinkA;
extern const IID IID_IPersistFile;
extern const IID IID_IPersist;
extern const IID IID_IMalloc;

// Item lists
typedef struct _SHITEMID {
    USHORT cb;
    BYTE abID[1];
} SHITEMID;
typedef struct _ITEMIDLIST {
    SHITEMID mkid;
} ITEMIDLIST, *LPITEMIDLIST;
typedef const ITEMIDLIST *LPCITEMIDLIST;
typedef ITEMIDLIST *PIDLIST_ABSOLUTE;
typedef const ITEMIDLIST *PCIDLIST_ABSOLUTE;

#define CSIDL_DESKTOP 0x0000
#define CSIDL_PROGRAMS 0x0002
#define CSIDL_PERSONAL 0x0005
#define CSIDL_STARTMENU 0x000b
#define CSIDL_DESKTOPDIRECTORY 0x0010
#define CSIDL_APPDATA 0x001a
#define CSIDL_PROGRAM_FILES 0x0026
#define CSIDL_PROGRAM_FILES_COMMON 0x002b
#define CSIDL_FLAG_CREATE 0x8000

HRESULT WINAPI SHGetSpecialFolderLocation(HWND hwnd, int csidl, LPITEMIDLIST *ppidl);
BOOL WINAPI SHGetPathFromIDListA(LPCITEMIDLIST pidl, LPSTR pszPath);
HRESULT WINAPI SHGetFolderPathW(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPWSTR pszPath);
HRESULT WINAPI SHGetMalloc(LPMALLOC *ppMalloc);

// Change notifications
#define SHCNE_RENAMEITEM 0x00000001L
#define SHCNE_CREATE 0x00000002L
#define SHCNE_DELETE 0x00000004L
#define SHCNE_MKDIR 0x00000008L
#define SHCNE_RMDIR 0x00000010L
#define SHCNE_ATTRIBUTES 0x00000800L
#define SHCNE_UPDATEDIR 0x00001000L
#define SHCNE_UPDATEITEM 0x00002000L
#define SHCNE_RENAMEFOLDER 0x00020000L
#define SHCNE_ASSOCCHANGED 0x08000000L
#define SHCNF_IDLIST 0x0000
#define SHCNF_PATHA 0x0001
#define SHCNF_DWORD 0x0003
#define SHCNF_PATHW 0x0005
#define SHCNF_TYPE 0x00FF
#define SHCNF_PATH SHCNF_PATHA
#define SHCNF_FLUSH 0x1000
#define SHCNF_FLUSHNOWAIT 0x3000

void WINAPI SHChangeNotify(LONG wEventId, UINT uFlags, LPCVOID dwItem1, LPCVOID dwItem2);

// The shell link
#define SLR_NO_UI 0x0001
#define SLGP_SHORTPATH 0x0001
#define SLGP_UNCPRIORITY 0x0002
#define SLGP_RAWPATH 0x0004

struct IShellLinkA : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPath(LPSTR pszFile, int cch, WIN32_FIND_DATAA *pfd, DWORD fFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDList(LPITEMIDLIST *ppidl) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIDList(LPCITEMIDLIST pidl) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDescription(LPSTR pszName, int cch) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR pszName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR pszDir, int cch) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR pszDir) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetArguments(LPSTR pszArgs, int cch) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR pszArgs) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHotkey(WORD *pwHotkey) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHotkey(WORD wHotkey) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetShowCmd(int *piShowCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetShowCmd(int iShowCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR pszIconPath, int cch, int *piIcon) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR pszIconPath, int iIcon) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRelativePath(LPCSTR pszPathRel, DWORD dwReserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE Resolve(HWND hwnd, DWORD fFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPath(LPCSTR pszFile) = 0;
};
