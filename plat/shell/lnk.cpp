// lnk.cpp - shell links for the Linux build: the ShellLink object (IShellLinkA, IPersistFile) and the public
// shell-link file format it writes and reads.
//
// A file holds the header (the target's attributes, times and size), a LinkInfo with the target's drive and
// local path in the ANSI code page and in Unicode, the strings (description, relative path, working folder,
// arguments, icon location) in Unicode, and the terminal block. No item list is written: readers find the
// target through the LinkInfo.
//
// The parts of this file, in order: the file format (writing and reading a link file: BuildLinkFile,
// ParseLinkFile); the ShellLink object (IUnknown, IShellLinkA, IPersistFile, with the fault switch on its
// setters and Save); CreateShellLink for CoCreateInstance.

#include "shell/shell.h"

#include <string.h>

namespace
{

// LinkFlags
const DWORD kHasLinkTargetIdList = 0x1;
const DWORD kHasLinkInfo = 0x2;
const DWORD kHasName = 0x4;
const DWORD kHasRelativePath = 0x8;
const DWORD kHasWorkingDir = 0x10;
const DWORD kHasArguments = 0x20;
const DWORD kHasIconLocation = 0x40;
const DWORD kIsUnicode = 0x80;

const DWORD kHeaderSize = 0x4C;
const unsigned char kLinkClsid[16] = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
const DWORD kLinkInfoHeaderSize = 0x24; // with the Unicode path offsets
const DWORD kVolumeIdAndLocalBasePath = 0x1;
const DWORD kDriveFixed = 3;
const size_t kMaxString = 0xffff;

void PutU16(std::string &s, unsigned n)
{
    s.push_back((char)(n & 0xff));
    s.push_back((char)((n >> 8) & 0xff));
}

void PutU32(std::string &s, DWORD n)
{
    PutU16(s, n & 0xffff);
    PutU16(s, n >> 16);
}

void SetU32(std::string &s, size_t nAt, DWORD n)
{
    for (int i = 0; i < 4; i++)
        s[nAt + i] = (char)((n >> (8 * i)) & 0xff);
}

void PutFileTime(std::string &s, const FILETIME &ft)
{
    PutU32(s, ft.dwLowDateTime);
    PutU32(s, ft.dwHighDateTime);
}

void PutUnicode(std::string &s, const std::string &sAnsi, bool bTerminate)
{
    for (unsigned char c : sAnsi)
        PutU16(s, plat::AnsiToUnicode(c));
    if (bTerminate)
        PutU16(s, 0);
}

bool IsLocalPath(const std::string &sPath)
{
    return sPath.size() >= 3 && sPath[1] == ':' && sPath[2] == '\\' &&
           ((sPath[0] >= 'A' && sPath[0] <= 'Z') || (sPath[0] >= 'a' && sPath[0] <= 'z'));
}

// Reads little-endian fields from a byte string, remembering whether any read went past the end.
struct Reader {
    const std::string &s;
    bool bOk = true;
    explicit Reader(const std::string &sBytes) : s(sBytes) {}
    DWORD U16(size_t nAt)
    {
        if (nAt + 2 > s.size()) {
            bOk = false;
            return 0;
        }
        return (unsigned char)s[nAt] | (DWORD)(unsigned char)s[nAt + 1] << 8;
    }
    DWORD U32(size_t nAt)
    {
        return U16(nAt) | U16(nAt + 2) << 16;
    }
    FILETIME Time(size_t nAt)
    {
        return FILETIME{U32(nAt), U32(nAt + 4)};
    }
    std::string Ansi(size_t nAt, size_t nEnd)
    {
        size_t n = nAt;
        while (n < nEnd && n < s.size() && s[n] != '\0')
            n++;
        if (n >= nEnd || n >= s.size()) {
            bOk = false;
            return std::string();
        }
        return s.substr(nAt, n - nAt);
    }
    // A Unicode string, in the ANSI code page (characters it lacks become '?').
    std::string Unicode(size_t nAt, size_t nChars, bool bTerminated, size_t nEnd)
    {
        std::string sOut;
        for (size_t i = 0; bTerminated || i < nChars; i++) {
            if (nAt + 2 * i + 2 > nEnd) {
                bOk = false;
                break;
            }
            DWORD w = U16(nAt + 2 * i);
            if (bTerminated && w == 0)
                break;
            int c = plat::UnicodeToAnsi((char16_t)w);
            sOut.push_back(c >= 0 ? (char)c : '?');
        }
        return sOut;
    }
};

} // namespace

namespace plat
{

std::string BuildLinkFile(const LinkData &link)
{
    const std::string *apStrings[] = {&link.sDescription, &link.sRelativePath, &link.sWorkDir, &link.sArgs,
                                      &link.sIconPath};
    const DWORD anStringFlags[] = {kHasName, kHasRelativePath, kHasWorkingDir, kHasArguments,
                                   kHasIconLocation};
    DWORD nFlags = kIsUnicode;
    bool bLinkInfo = IsLocalPath(link.sTarget);
    if (bLinkInfo)
        nFlags |= kHasLinkInfo;
    for (int i = 0; i < 5; i++) {
        if (apStrings[i]->size() > kMaxString)
            return std::string();
        if (!apStrings[i]->empty())
            nFlags |= anStringFlags[i];
    }

    std::string s;
    PutU32(s, kHeaderSize);
    s.append((const char *)kLinkClsid, sizeof kLinkClsid);
    PutU32(s, nFlags);
    PutU32(s, link.nAttributes);
    PutFileTime(s, link.ftCreation);
    PutFileTime(s, link.ftAccess);
    PutFileTime(s, link.ftWrite);
    PutU32(s, link.nSize);
    PutU32(s, (DWORD)link.nIcon);
    PutU32(s, (DWORD)link.nShowCmd);
    PutU16(s, link.wHotkey);
    PutU16(s, 0);
    PutU32(s, 0);
    PutU32(s, 0);

    if (bLinkInfo) {
        size_t nStart = s.size();
        s.append(kLinkInfoHeaderSize, '\0');
        // VolumeID: fixed drive, the serial number, an empty ANSI label right after the fixed part.
        size_t nVolume = s.size();
        PutU32(s, 0x11);
        PutU32(s, kDriveFixed);
        PutU32(s, link.nVolumeSerial);
        PutU32(s, 0x10);
        s.push_back('\0');
        size_t nLocal = s.size();
        s += link.sTarget;
        s.push_back('\0');
        size_t nSuffix = s.size();
        s.push_back('\0');
        size_t nLocalUnicode = s.size();
        PutUnicode(s, link.sTarget, true);
        size_t nSuffixUnicode = s.size();
        PutU16(s, 0);
        SetU32(s, nStart, (DWORD)(s.size() - nStart));
        SetU32(s, nStart + 4, kLinkInfoHeaderSize);
        SetU32(s, nStart + 8, kVolumeIdAndLocalBasePath);
        SetU32(s, nStart + 12, (DWORD)(nVolume - nStart));
        SetU32(s, nStart + 16, (DWORD)(nLocal - nStart));
        SetU32(s, nStart + 20, 0);
        SetU32(s, nStart + 24, (DWORD)(nSuffix - nStart));
        SetU32(s, nStart + 28, (DWORD)(nLocalUnicode - nStart));
        SetU32(s, nStart + 32, (DWORD)(nSuffixUnicode - nStart));
    }

    for (const std::string *p : apStrings) {
        if (p->empty())
            continue;
        PutU16(s, (unsigned)p->size());
        PutUnicode(s, *p, false);
    }
    PutU32(s, 0); // the terminal block
    return s;
}

bool ParseLinkFile(const std::string &sBytes, LinkData *pLink)
{
    Reader r(sBytes);
    LinkData link;
    if (r.U32(0) != kHeaderSize || sBytes.size() < kHeaderSize ||
        memcmp(sBytes.data() + 4, kLinkClsid, sizeof kLinkClsid) != 0)
        return false;
    DWORD nFlags = r.U32(0x14);
    link.nAttributes = r.U32(0x18);
    link.ftCreation = r.Time(0x1C);
    link.ftAccess = r.Time(0x24);
    link.ftWrite = r.Time(0x2C);
    link.nSize = r.U32(0x34);
    link.nIcon = (int)r.U32(0x38);
    link.nShowCmd = (int)r.U32(0x3C);
    link.wHotkey = (WORD)r.U16(0x40);
    size_t nAt = kHeaderSize;
    if (nFlags & kHasLinkTargetIdList)
        nAt += 2 + r.U16(nAt);
    if (nFlags & kHasLinkInfo) {
        DWORD nSize = r.U32(nAt), nHeader = r.U32(nAt + 4), nInfoFlags = r.U32(nAt + 8);
        size_t nEnd = nAt + nSize;
        if (nEnd > sBytes.size())
            return false;
        if (nInfoFlags & kVolumeIdAndLocalBasePath) {
            link.nVolumeSerial = r.U32(nAt + r.U32(nAt + 12) + 8);
            if (nHeader >= kLinkInfoHeaderSize && r.U32(nAt + 28) != 0)
                link.sTarget = r.Unicode(nAt + r.U32(nAt + 28), 0, true, nEnd);
            else
                link.sTarget = r.Ansi(nAt + r.U32(nAt + 16), nEnd);
            std::string sSuffix = r.Ansi(nAt + r.U32(nAt + 24), nEnd);
            link.sTarget += sSuffix;
        }
        nAt = nEnd;
    }
    std::string *apStrings[] = {&link.sDescription, &link.sRelativePath, &link.sWorkDir, &link.sArgs,
                                &link.sIconPath};
    const DWORD anStringFlags[] = {kHasName, kHasRelativePath, kHasWorkingDir, kHasArguments,
                                   kHasIconLocation};
    for (int i = 0; i < 5; i++) {
        if (!(nFlags & anStringFlags[i]))
            continue;
        size_t nChars = r.U16(nAt);
        if (nFlags & kIsUnicode) {
            *apStrings[i] = r.Unicode(nAt + 2, nChars, false, sBytes.size());
            nAt += 2 + 2 * nChars;
        } else {
            if (nAt + 2 + nChars > sBytes.size())
                return false;
            *apStrings[i] = sBytes.substr(nAt + 2, nChars);
            nAt += 2 + nChars;
        }
    }
    if (!r.bOk)
        return false;
    *pLink = link;
    return true;
}

} // namespace plat

namespace
{

// Copies a string into a caller's buffer of cch characters, cut to fit and terminated (lstrcpynA).
void CopyOut(const std::string &s, LPSTR psz, int cch)
{
    if (psz == nullptr || cch <= 0)
        return;
    size_t n = s.size() < (size_t)cch - 1 ? s.size() : (size_t)cch - 1;
    memcpy(psz, s.data(), n);
    psz[n] = '\0';
}

// The serial number a drive reports: stable for one machine folder (C:) or the host (Z:).
DWORD VolumeSerial(char chDrive)
{
    std::string s = (chDrive == 'C' || chDrive == 'c') ? plat::MachineRoot() : std::string("/");
    DWORD n = 2166136261u;
    for (unsigned char c : s)
        n = (n ^ c) * 16777619u;
    return n;
}

class ShellLink : public IShellLinkA, public IPersistFile
{
  public:
    // IUnknown. The fault switch sees the interface's name (IShellLinkA, IPersistFile, IPersist, IUnknown) or
    // its id.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override
    {
        plat::TracedCall call("QueryInterface");
        if (ppv != nullptr)
            *ppv = nullptr;
        HRESULT hr = Fault("QueryInterface", InterfaceName(riid));
        return call.Result(SUCCEEDED(hr) ? QueryInterfaceImpl(riid, ppv) : hr);
    }
    HRESULT QueryInterfaceImpl(REFIID riid, void **ppv)
    {
        if (ppv == nullptr)
            return E_POINTER;
        if (plat::SameGuid(riid, IID_IUnknown) || plat::SameGuid(riid, IID_IShellLinkA))
            *ppv = static_cast<IShellLinkA *>(this);
        else if (plat::SameGuid(riid, IID_IPersistFile) || plat::SameGuid(riid, IID_IPersist))
            *ppv = static_cast<IPersistFile *>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return ++nRefs;
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG n = --nRefs;
        if (n == 0)
            delete this;
        return n;
    }

    // IShellLinkA
    HRESULT STDMETHODCALLTYPE GetPath(LPSTR pszFile, int cch, WIN32_FIND_DATAA *pfd, DWORD fFlags) override
    {
        (void)fFlags;
        if (pszFile == nullptr)
            return E_INVALIDARG;
        CopyOut(link.sTarget, pszFile, cch);
        if (pfd != nullptr) {
            memset(pfd, 0, sizeof *pfd);
            pfd->dwFileAttributes = link.nAttributes;
            pfd->ftCreationTime = link.ftCreation;
            pfd->ftLastAccessTime = link.ftAccess;
            pfd->ftLastWriteTime = link.ftWrite;
            pfd->nFileSizeLow = link.nSize;
            CopyOut(link.sTarget.substr(link.sTarget.rfind('\\') + 1), pfd->cFileName, MAX_PATH);
        }
        return link.sTarget.empty() ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDList(LPITEMIDLIST *ppidl) override
    {
        if (ppidl == nullptr)
            return E_INVALIDARG;
        *ppidl = link.sTarget.empty() ? nullptr : plat::ItemListFromPath(link.sTarget);
        return *ppidl != nullptr ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE SetIDList(LPCITEMIDLIST pidl) override
    {
        std::string sPath;
        if (!plat::PathFromItemList(pidl, &sPath))
            return E_INVALIDARG;
        HRESULT hr = SetPath(sPath.c_str());
        return FAILED(hr) ? hr : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDescription(LPSTR pszName, int cch) override
    {
        CopyOut(link.sDescription, pszName, cch);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR pszName) override
    {
        return SetString(&link.sDescription, pszName);
    }
    HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR pszDir, int cch) override
    {
        CopyOut(link.sWorkDir, pszDir, cch);
        return S_OK;
    }
    // The fault switch sees the folder's full path (or the text as given when it has none).
    HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR pszDir) override
    {
        plat::TracedCall call("SetWorkingDirectory");
        HRESULT hr = Fault("SetWorkingDirectory", FullOrAsGiven(pszDir));
        return call.Result(SUCCEEDED(hr) ? SetString(&link.sWorkDir, pszDir) : hr);
    }
    HRESULT STDMETHODCALLTYPE GetArguments(LPSTR pszArgs, int cch) override
    {
        CopyOut(link.sArgs, pszArgs, cch);
        return S_OK;
    }
    // The fault switch sees the arguments as given.
    HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR pszArgs) override
    {
        plat::TracedCall call("SetArguments");
        HRESULT hr = Fault("SetArguments", pszArgs != nullptr ? pszArgs : "");
        return call.Result(SUCCEEDED(hr) ? SetString(&link.sArgs, pszArgs) : hr);
    }
    HRESULT STDMETHODCALLTYPE GetHotkey(WORD *pwHotkey) override
    {
        if (pwHotkey == nullptr)
            return E_INVALIDARG;
        *pwHotkey = link.wHotkey;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetHotkey(WORD wHotkey) override
    {
        link.wHotkey = wHotkey;
        bDirty = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetShowCmd(int *piShowCmd) override
    {
        if (piShowCmd == nullptr)
            return E_INVALIDARG;
        *piShowCmd = link.nShowCmd;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetShowCmd(int iShowCmd) override
    {
        link.nShowCmd = iShowCmd;
        bDirty = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR pszIconPath, int cch, int *piIcon) override
    {
        CopyOut(link.sIconPath, pszIconPath, cch);
        if (piIcon != nullptr)
            *piIcon = link.nIcon;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR pszIconPath, int iIcon) override
    {
        link.nIcon = iIcon;
        return SetString(&link.sIconPath, pszIconPath);
    }
    HRESULT STDMETHODCALLTYPE SetRelativePath(LPCSTR pszPathRel, DWORD dwReserved) override
    {
        (void)dwReserved;
        return SetString(&link.sRelativePath, pszPathRel);
    }
    HRESULT STDMETHODCALLTYPE Resolve(HWND hwnd, DWORD fFlags) override
    {
        (void)hwnd;
        (void)fFlags;
        return S_OK;
    }
    // The target becomes a full path. Quotes around the whole path are dropped; any other quote refuses it
    // (S_FALSE, nothing changed). A target that does not exist is kept, with S_FALSE, as the platform does.
    // The fault switch sees the target's full path (or the text as given when it has none).
    HRESULT STDMETHODCALLTYPE SetPath(LPCSTR pszFile) override
    {
        plat::TracedCall call("SetPath");
        return call.Result(SetPathImpl(pszFile));
    }
    HRESULT SetPathImpl(LPCSTR pszFile)
    {
        std::string sFile = pszFile != nullptr ? pszFile : "";
        if (sFile.size() >= 2 && sFile.front() == '"' && sFile.back() == '"')
            sFile = sFile.substr(1, sFile.size() - 2);
        HRESULT hr = Fault("SetPath", FullOrAsGiven(sFile.c_str()));
        if (FAILED(hr))
            return hr;
        if (pszFile == nullptr)
            return E_INVALIDARG;
        if (sFile.find('"') != std::string::npos)
            return S_FALSE;
        bDirty = true;
        link.sTarget.clear();
        if (sFile.empty())
            return S_OK;
        char szFull[MAX_PATH];
        DWORD n = GetFullPathNameA(sFile.c_str(), sizeof szFull, szFull, nullptr);
        if (n == 0 || n >= sizeof szFull)
            return E_FAIL;
        link.sTarget = szFull;
        return ReadTarget() ? S_OK : S_FALSE;
    }

    // IPersist, IPersistFile
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *pClassID) override
    {
        if (pClassID == nullptr)
            return E_POINTER;
        *pClassID = CLSID_ShellLink;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override
    {
        return bDirty ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Load(LPCWSTR pszFileName, DWORD dwMode) override
    {
        (void)dwMode;
        std::string sFile, sBytes;
        HRESULT hr = AnsiName(pszFileName, &sFile);
        if (FAILED(hr))
            return hr;
        HANDLE h =
            CreateFileA(sFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return HRESULT_FROM_WIN32(GetLastError());
        char ab[4096];
        DWORD nRead = 0;
        while (ReadFile(h, ab, sizeof ab, &nRead, nullptr) && nRead > 0 && sBytes.size() < (1u << 20))
            sBytes.append(ab, nRead);
        CloseHandle(h);
        plat::LinkData loaded;
        if (!plat::ParseLinkFile(sBytes, &loaded))
            return E_FAIL;
        link = loaded;
        sCurFile = sFile;
        bDirty = false;
        return S_OK;
    }
    // The fault switch sees the link file's full path (empty when there is no name to save to).
    HRESULT STDMETHODCALLTYPE Save(LPCWSTR pszFileName, BOOL fRemember) override
    {
        plat::TracedCall call("Save");
        return call.Result(SaveImpl(pszFileName, fRemember));
    }
    HRESULT SaveImpl(LPCWSTR pszFileName, BOOL fRemember)
    {
        std::string sFile;
        HRESULT hr =
            pszFileName == nullptr ? (sCurFile.empty() ? E_INVALIDARG : S_OK) : AnsiName(pszFileName, &sFile);
        if (pszFileName == nullptr)
            sFile = sCurFile;
        HRESULT hrFault = Fault("Save", FAILED(hr) ? std::string() : FullOrAsGiven(sFile.c_str()));
        if (FAILED(hrFault))
            return hrFault;
        if (FAILED(hr))
            return hr;
        ReadTarget(); // the target as it is now
        std::string sBytes = plat::BuildLinkFile(link);
        if (sBytes.empty())
            return E_INVALIDARG;
        HANDLE h = CreateFileA(sFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return HRESULT_FROM_WIN32(GetLastError());
        DWORD nWritten = 0;
        BOOL bOk = WriteFile(h, sBytes.data(), (DWORD)sBytes.size(), &nWritten, nullptr) &&
                   nWritten == sBytes.size();
        DWORD nError = bOk ? ERROR_SUCCESS : GetLastError();
        if (!CloseHandle(h) && bOk) {
            bOk = FALSE;
            nError = GetLastError();
        }
        if (!bOk) { // no half-written link is left behind
            DeleteFileA(sFile.c_str());
            return HRESULT_FROM_WIN32(nError != ERROR_SUCCESS ? nError : ERROR_WRITE_FAULT);
        }
        if (fRemember || pszFileName == nullptr) {
            sCurFile = sFile;
            bDirty = false;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SaveCompleted(LPCWSTR pszFileName) override
    {
        (void)pszFileName;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurFile(LPWSTR *ppszFileName) override
    {
        if (ppszFileName == nullptr)
            return E_POINTER;
        *ppszFileName = nullptr;
        if (sCurFile.empty())
            return S_FALSE;
        WCHAR *pw = (WCHAR *)CoTaskMemAlloc((sCurFile.size() + 1) * sizeof(WCHAR));
        if (pw == nullptr)
            return E_OUTOFMEMORY;
        MultiByteToWideChar(CP_ACP, 0, sCurFile.c_str(), -1, pw, (int)sCurFile.size() + 1);
        *ppszFileName = pw;
        return S_OK;
    }

  private:
    ULONG nRefs = 1;
    plat::LinkData link;
    std::string sCurFile;
    bool bDirty = false;

    HRESULT SetString(std::string *ps, LPCSTR psz)
    {
        *ps = psz != nullptr ? psz : "";
        bDirty = true;
        return S_OK;
    }

    // Takes the target's attributes, times and size (zero when it is missing); true when it exists.
    bool ReadTarget()
    {
        link.nAttributes = 0;
        link.ftCreation = link.ftAccess = link.ftWrite = FILETIME{0, 0};
        link.nSize = 0;
        link.nVolumeSerial = link.sTarget.empty() ? 0 : VolumeSerial(link.sTarget[0]);
        if (link.sTarget.empty())
            return false;
        DWORD nAttributes = GetFileAttributesA(link.sTarget.c_str());
        if (nAttributes == INVALID_FILE_ATTRIBUTES)
            return false;
        link.nAttributes = nAttributes;
        WIN32_FIND_DATAA fd;
        if (link.sTarget.find_first_of("*?") == std::string::npos) {
            HANDLE h = FindFirstFileA(link.sTarget.c_str(), &fd);
            if (h != INVALID_HANDLE_VALUE) {
                link.ftCreation = fd.ftCreationTime;
                link.ftAccess = fd.ftLastAccessTime;
                link.ftWrite = fd.ftLastWriteTime;
                link.nSize = fd.nFileSizeLow;
                FindClose(h);
            }
        }
        return true;
    }

    // The fault switch for a method: the failure to return, or S_OK to go on.
    static HRESULT Fault(const char *pszCall, const std::string &sPath)
    {
        DWORD nError;
        return plat::InjectedFault(pszCall, sPath, &nError) ? HRESULT_FROM_WIN32(nError) : S_OK;
    }

    // The full form of a path without a final separator (but on a root), as the file calls match it; or the
    // text as given when it has none.
    static std::string FullOrAsGiven(LPCSTR psz)
    {
        std::string sFull;
        if (psz == nullptr)
            return std::string();
        if (!plat::FullPathName(psz, &sFull))
            return psz;
        if (sFull.size() > 3 && sFull.back() == '\\')
            sFull.pop_back();
        return sFull;
    }

    static std::string InterfaceName(REFIID riid)
    {
        if (plat::SameGuid(riid, IID_IShellLinkA))
            return "IShellLinkA";
        if (plat::SameGuid(riid, IID_IPersistFile))
            return "IPersistFile";
        if (plat::SameGuid(riid, IID_IPersist))
            return "IPersist";
        if (plat::SameGuid(riid, IID_IUnknown))
            return "IUnknown";
        return plat::GuidText(riid);
    }

    // A wide file name in the ANSI code page; a name with a character the code page lacks is refused.
    static HRESULT AnsiName(LPCWSTR pszWide, std::string *psAnsi)
    {
        if (pszWide == nullptr)
            return E_INVALIDARG;
        BOOL bDefault = FALSE;
        int n = WideCharToMultiByte(CP_ACP, 0, pszWide, -1, nullptr, 0, nullptr, &bDefault);
        if (n <= 1 || bDefault)
            return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
        psAnsi->assign((size_t)n, '\0');
        WideCharToMultiByte(CP_ACP, 0, pszWide, -1, &(*psAnsi)[0], n, nullptr, nullptr);
        psAnsi->resize((size_t)n - 1);
        return S_OK;
    }
};

} // namespace

namespace plat
{

HRESULT CreateShellLink(REFIID riid, void **ppv)
{
    ShellLink *pLink = new ShellLink;
    HRESULT hr = pLink->QueryInterface(riid, ppv);
    pLink->Release();
    return hr;
}

} // namespace plat
