// test_shell.cpp - the shell of the Linux build: special folders and item lists, the component object
// model's initialisation, the ShellLink object, and .lnk files that lnkinfo reads back.

#include "shell/shell.h"

#include <gtest/gtest.h>
#include <lzexpand.h>
#include <plat/checkedcalls.h>

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <functional>
#include <set>
#include <string>
#include <thread>

static std::string HostPath(const std::string &sWin)
{
    plat::ResolvedPath path;
    DWORD nError = 0;
    return plat::ResolvePath(sWin.c_str(), &path, &nError) ? path.sHost : std::string();
}

static void MakeFile(const std::string &sPath, const std::string &sData)
{
    HANDLE h = CreateFileA(sPath.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << sPath;
    DWORD n;
    ASSERT_TRUE(WriteFile(h, sData.data(), (DWORD)sData.size(), &n, NULL));
    CloseHandle(h);
}

static std::u16string WidePath(const std::string &sAnsi)
{
    WCHAR w[MAX_PATH];
    int n = MultiByteToWideChar(CP_ACP, 0, sAnsi.c_str(), -1, w, MAX_PATH);
    return n > 0 ? std::u16string(w, (size_t)n - 1) : std::u16string();
}

struct FolderCase {
    int nCsidl;
    std::string sPath;
};

TEST(Shell, SpecialFoldersAreTheMachinesFolders)
{
    std::string sPrograms = plat::SpecialFolderPath(plat::FolderPrograms);
    std::string sProfile = "C:\\users\\" + plat::UserName();
    const FolderCase kFolders[] = {
        {CSIDL_PROGRAMS, sPrograms},
        {CSIDL_DESKTOPDIRECTORY, plat::SpecialFolderPath(plat::FolderDesktop)},
        {CSIDL_DESKTOP, plat::SpecialFolderPath(plat::FolderDesktop)},
        {CSIDL_PERSONAL, plat::SpecialFolderPath(plat::FolderDocuments)},
        {CSIDL_PROGRAM_FILES, "C:\\Program Files"},
        {CSIDL_PROGRAM_FILES_COMMON, "C:\\Program Files\\Common Files"},
        {CSIDL_STARTMENU, sProfile + "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu"},
        {CSIDL_APPDATA, sProfile + "\\AppData\\Roaming"},
    };
    EXPECT_EQ(sProfile + "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs", sPrograms);
    LPMALLOC pMalloc = NULL;
    ASSERT_EQ(S_OK, SHGetMalloc(&pMalloc));
    for (const FolderCase &c : kFolders) {
        LPITEMIDLIST pidl = NULL;
        ASSERT_EQ(S_OK, SHGetSpecialFolderLocation(NULL, c.nCsidl, &pidl)) << c.nCsidl;
        EXPECT_EQ(1, pMalloc->DidAlloc(pidl));
        char sz[MAX_PATH];
        ASSERT_TRUE(SHGetPathFromIDListA(pidl, sz)) << c.nCsidl;
        EXPECT_EQ(c.sPath, sz) << c.nCsidl;
        pMalloc->Free(pidl);
    }
    pMalloc->Release();
}

TEST(Shell, UnknownFolderAndForeignItemListAreRefused)
{
    LPITEMIDLIST pidl = (LPITEMIDLIST)1;
    EXPECT_EQ(E_INVALIDARG, SHGetSpecialFolderLocation(NULL, 0x3ff, &pidl));
    EXPECT_EQ(NULL, pidl);
    char sz[MAX_PATH] = "x";
    EXPECT_FALSE(SHGetPathFromIDListA(NULL, sz));
    BYTE abForeign[] = {6, 0, 'a', 'b', 'c', 'd', 0, 0};
    EXPECT_FALSE(SHGetPathFromIDListA((LPCITEMIDLIST)abForeign, sz));
    EXPECT_STREQ("", sz);
}

TEST(Shell, MissingFolderIsNotFoundUnlessCreationIsAsked)
{
    std::string sDesktop = plat::SpecialFolderPath(plat::FolderDesktop);
    ASSERT_TRUE(RemoveDirectoryA(sDesktop.c_str()));
    LPITEMIDLIST pidl = NULL;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
              SHGetSpecialFolderLocation(NULL, CSIDL_DESKTOPDIRECTORY, &pidl));
    EXPECT_EQ(NULL, pidl);
    ASSERT_EQ(S_OK, SHGetSpecialFolderLocation(NULL, CSIDL_DESKTOPDIRECTORY | CSIDL_FLAG_CREATE, &pidl));
    CoTaskMemFree(pidl);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(sDesktop.c_str()));
}

TEST(Com, InitialisationIsCountedPerThread)
{
    IShellLinkA *pLink = NULL;
    EXPECT_EQ(CO_E_NOTINITIALIZED, CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER,
                                                    IID_IShellLinkA, (void **)&pLink));
    EXPECT_EQ(S_OK, CoInitialize(NULL));
    EXPECT_EQ(S_FALSE, CoInitialize(NULL));
    HRESULT hrOther = E_FAIL;
    std::thread([&] {
        hrOther = CoInitialize(NULL);
        CoUninitialize();
    }).join();
    EXPECT_EQ(S_OK, hrOther);
    CoUninitialize();
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                     (void **)&pLink));
    pLink->Release();
    CoUninitialize();
    EXPECT_EQ(CO_E_NOTINITIALIZED, CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER,
                                                    IID_IShellLinkA, (void **)&pLink));
    EXPECT_EQ(S_OK, CoInitialize(NULL)); // balanced: the first again
    CoUninitialize();
}

// A thread's component object model, initialised for one test.
struct ComScope {
    ComScope()
    {
        CoInitialize(NULL);
    }
    ~ComScope()
    {
        CoUninitialize();
    }
};

static IShellLinkA *NewLink()
{
    IShellLinkA *pLink = NULL;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                     (void **)&pLink));
    return pLink;
}

TEST(Com, ShellLinkHasItsInterfacesAndNoOthers)
{
    ComScope com;
    IUnknown *pOuter = (IUnknown *)1;
    void *pv = (void *)1;
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              CoCreateInstance(CLSID_ShellLink, pOuter, CLSCTX_INPROC_SERVER, IID_IShellLinkA, &pv));
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              CoCreateInstance(IID_IPersistFile, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, &pv));
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_LOCAL_SERVER, IID_IUnknown, &pv));
    EXPECT_EQ(E_NOINTERFACE, CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IMalloc, &pv));
    EXPECT_EQ(NULL, pv);

    IShellLinkA *pLink = NewLink();
    ASSERT_NE(nullptr, pLink);
    IPersistFile *pFile = NULL;
    ASSERT_EQ(S_OK, pLink->QueryInterface(IID_IPersistFile, (void **)&pFile));
    IUnknown *pUnk1 = NULL, *pUnk2 = NULL;
    ASSERT_EQ(S_OK, pLink->QueryInterface(IID_IUnknown, (void **)&pUnk1));
    ASSERT_EQ(S_OK, pFile->QueryInterface(IID_IUnknown, (void **)&pUnk2));
    EXPECT_EQ(pUnk1, pUnk2); // one object
    CLSID clsid;
    EXPECT_EQ(S_OK, pFile->GetClassID(&clsid));
    EXPECT_TRUE(plat::SameGuid(CLSID_ShellLink, clsid));
    pUnk1->Release();
    pUnk2->Release();
    pFile->Release();
    EXPECT_EQ(0u, pLink->Release());
}

TEST(Com, SetPathMakesTheTargetFullAndTellsWhetherItExists)
{
    ComScope com;
    CreateDirectoryA("C:\\Target", NULL);
    MakeFile("C:\\Target\\app.exe", "12345");
    IShellLinkA *pLink = NewLink();
    char sz[MAX_PATH];
    WIN32_FIND_DATAA fd;

    EXPECT_EQ(S_FALSE, pLink->SetPath("C:\\Target\\missing.exe"));
    EXPECT_EQ(S_OK, pLink->GetPath(sz, MAX_PATH, NULL, 0));
    EXPECT_STREQ("C:\\Target\\missing.exe", sz);

    EXPECT_EQ(S_OK, pLink->SetPath("\"c:\\target\\.\\app.exe\""));
    EXPECT_EQ(S_OK, pLink->GetPath(sz, MAX_PATH, &fd, 0));
    EXPECT_STREQ("C:\\target\\app.exe", sz);
    EXPECT_EQ(5u, fd.nFileSizeLow);
    EXPECT_STREQ("app.exe", fd.cFileName);
    EXPECT_NE(0u, fd.ftLastWriteTime.dwHighDateTime);

    ASSERT_TRUE(SetCurrentDirectoryA("C:\\Target"));
    EXPECT_EQ(S_OK, pLink->SetPath("app.exe"));
    EXPECT_EQ(S_OK, pLink->GetPath(sz, 8, NULL, 0));
    EXPECT_STREQ("C:\\Targ", sz); // cut to the buffer

    EXPECT_EQ(S_FALSE, pLink->SetPath("C:\\a\"b"));
    EXPECT_EQ(S_OK, pLink->GetPath(sz, MAX_PATH, NULL, 0)); // unchanged
    EXPECT_STREQ("C:\\Target\\app.exe", sz);
    EXPECT_EQ(S_OK, pLink->SetPath(""));
    EXPECT_EQ(S_FALSE, pLink->GetPath(sz, MAX_PATH, NULL, 0));
    EXPECT_STREQ("", sz);
    EXPECT_EQ(E_INVALIDARG, pLink->SetPath(NULL));

    EXPECT_EQ(S_OK, pLink->SetWorkingDirectory("C:\\Work"));
    EXPECT_EQ(S_OK, pLink->SetArguments("/a /b"));
    EXPECT_EQ(S_OK, pLink->GetWorkingDirectory(sz, 4));
    EXPECT_STREQ("C:\\", sz);
    EXPECT_EQ(S_OK, pLink->GetArguments(sz, MAX_PATH));
    EXPECT_STREQ("/a /b", sz);
    pLink->Release();
}

static DWORD U32(const std::string &s, size_t nAt)
{
    DWORD n = 0;
    for (int i = 3; i >= 0; i--)
        n = n << 8 | (unsigned char)s[nAt + i];
    return n;
}

TEST(LinkFile, LayoutHasHeaderLinkInfoUnicodeStringsAndTerminalBlock)
{
    plat::LinkData link;
    link.sTarget = "C:\\\xcf\xf0\xee\xe1\xe0\\a.exe"; // C:\Проба\a.exe
    link.sWorkDir = "C:\\W";
    link.sArgs = "";
    link.nAttributes = FILE_ATTRIBUTE_ARCHIVE;
    link.nSize = 77;
    link.ftWrite = FILETIME{0x11223344, 0x01d00000};
    link.nVolumeSerial = 0xabcd1234;
    std::string s = plat::BuildLinkFile(link);
    ASSERT_GE(s.size(), 0x4Cu + 4);
    EXPECT_EQ(0x4Cu, U32(s, 0));
    EXPECT_EQ(std::string("\x01\x14\x02\0\0\0\0\0\xc0\0\0\0\0\0\0\x46", 16), s.substr(4, 16));
    EXPECT_EQ(0x2u | 0x10u | 0x80u, U32(s, 0x14)); // LinkInfo, working dir, Unicode; no empty arguments
    EXPECT_EQ((DWORD)FILE_ATTRIBUTE_ARCHIVE, U32(s, 0x18));
    EXPECT_EQ(0x11223344u, U32(s, 0x2C));
    EXPECT_EQ(77u, U32(s, 0x34));
    EXPECT_EQ(1u, U32(s, 0x3C)); // shown normally

    size_t nInfo = 0x4C;
    DWORD nInfoSize = U32(s, nInfo);
    EXPECT_EQ(0x24u, U32(s, nInfo + 4));
    EXPECT_EQ(1u, U32(s, nInfo + 8));
    EXPECT_EQ(3u, U32(s, nInfo + U32(s, nInfo + 12) + 4)); // a fixed drive
    EXPECT_EQ(0xabcd1234u, U32(s, nInfo + U32(s, nInfo + 12) + 8));
    EXPECT_STREQ(link.sTarget.c_str(), s.c_str() + nInfo + U32(s, nInfo + 16));
    EXPECT_EQ(std::string("C\0:\0\\\0\x1f\x04", 8), s.substr(nInfo + U32(s, nInfo + 28), 8));
    size_t nStrings = nInfo + nInfoSize;
    EXPECT_EQ(std::string("\x04\0C\0:\0\\\0W\0", 10), s.substr(nStrings, 10));
    EXPECT_EQ(nStrings + 10 + 4, s.size());
    EXPECT_EQ(0u, U32(s, s.size() - 4));

    plat::LinkData back;
    ASSERT_TRUE(plat::ParseLinkFile(s, &back));
    EXPECT_EQ(link.sTarget, back.sTarget);
    EXPECT_EQ(link.sWorkDir, back.sWorkDir);
    EXPECT_EQ("", back.sArgs);
    EXPECT_EQ(77u, back.nSize);
    EXPECT_FALSE(plat::ParseLinkFile(s.substr(0, s.size() - 8), &back));
    EXPECT_FALSE(plat::ParseLinkFile("not a link", &back));
}

static bool HaveLnkinfo()
{
    return access("/usr/bin/lnkinfo", X_OK) == 0;
}

// lnkinfo's report of a link file (UTF-8), ANSI strings read as code page 1251.
static std::string Lnkinfo(const std::string &sHostPath)
{
    std::string sCommand = "/usr/bin/lnkinfo -c windows-1251 '" + sHostPath + "' 2>&1";
    FILE *p = popen(sCommand.c_str(), "r");
    std::string sOut;
    char sz[512];
    while (p != nullptr && fgets(sz, sizeof sz, p) != nullptr)
        sOut += sz;
    if (p != nullptr)
        pclose(p);
    return sOut;
}

static std::string Field(const std::string &sReport, const std::string &sName)
{
    size_t n = sReport.find("\t" + sName);
    if (n == std::string::npos)
        return "<missing>";
    n = sReport.find(": ", n);
    size_t nEnd = sReport.find('\n', n);
    return n == std::string::npos ? "<missing>" : sReport.substr(n + 2, nEnd - n - 2);
}

struct LinkCase {
    const char *pszTarget, *pszWorkDir, *pszArgs, *pszLink; // code page 1251
    const char *pszUtf8Target, *pszUtf8WorkDir, *pszUtf8Args;
};
static const LinkCase kLinks[] = {
    {"C:\\Target\\app.exe", "C:\\Target", "", "C:\\Target\\plain.lnk", "C:\\Target\\app.exe", "C:\\Target",
     ""},
    {"C:\\\xcf\xf0\xee\xe1\xe0\\\xd4\xe0\xe9\xeb.exe", "C:\\\xcf\xf0\xee\xe1\xe0", "/x \xe0\xe1\xe2",
     "C:\\\xcf\xf0\xee\xe1\xe0\\\xdf\xf0\xeb\xfb\xea.lnk",
     "C:\\\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb1\xd0\xb0\\\xd0\xa4\xd0\xb0\xd0\xb9\xd0\xbb.exe",
     "C:\\\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb1\xd0\xb0", "/x \xd0\xb0\xd0\xb1\xd0\xb2"},
};

TEST(LinkFile, SavedLinkIsReadByLnkinfoWithTargetFolderAndArguments)
{
    ComScope com;
    CreateDirectoryA("C:\\Target", NULL);
    CreateDirectoryA("C:\\\xcf\xf0\xee\xe1\xe0", NULL);
    MakeFile("C:\\Target\\app.exe", "12345");
    MakeFile("C:\\\xcf\xf0\xee\xe1\xe0\\\xd4\xe0\xe9\xeb.exe", "hello, world");
    for (const LinkCase &c : kLinks) {
        IShellLinkA *pLink = NewLink();
        ASSERT_EQ(S_OK, pLink->SetPath(c.pszTarget));
        ASSERT_EQ(S_OK, pLink->SetWorkingDirectory(c.pszWorkDir));
        ASSERT_EQ(S_OK, pLink->SetArguments(c.pszArgs));
        IPersistFile *pFile = NULL;
        ASSERT_EQ(S_OK, pLink->QueryInterface(IID_IPersistFile, (void **)&pFile));
        ASSERT_EQ(S_OK, pFile->Save((LPCWSTR)WidePath(c.pszLink).c_str(), FALSE));

        // Read back by this layer ...
        IShellLinkA *pBack = NewLink();
        IPersistFile *pBackFile = NULL;
        ASSERT_EQ(S_OK, pBack->QueryInterface(IID_IPersistFile, (void **)&pBackFile));
        ASSERT_EQ(S_OK, pBackFile->Load((LPCWSTR)WidePath(c.pszLink).c_str(), STGM_READ));
        char sz[MAX_PATH];
        EXPECT_EQ(S_OK, pBack->GetPath(sz, MAX_PATH, NULL, 0));
        EXPECT_STREQ(c.pszTarget, sz);
        pBackFile->Release();
        pBack->Release();
        pFile->Release();
        pLink->Release();

        // ... and by lnkinfo.
        if (!HaveLnkinfo())
            continue;
        std::string sReport = Lnkinfo(HostPath(c.pszLink));
        EXPECT_EQ(c.pszUtf8Target, Field(sReport, "Local path")) << sReport;
        EXPECT_EQ(c.pszUtf8WorkDir, Field(sReport, "Working directory")) << sReport;
        if (*c.pszArgs != '\0') {
            EXPECT_EQ(c.pszUtf8Args, Field(sReport, "Command line arguments")) << sReport;
        }
        EXPECT_EQ("Fixed (3)", Field(sReport, "Drive type")) << sReport;
        EXPECT_NE(std::string::npos,
                  Field(sReport, "File size").find(c.pszTarget[3] == 'T' ? "5 bytes" : "12 bytes"))
            << sReport;
    }
    if (!HaveLnkinfo())
        GTEST_SKIP() << "lnkinfo (liblnk-utils) is not installed: links were checked by this layer only";
}

TEST(LinkFile, SaveIntoAMissingFolderFailsAndLeavesNothing)
{
    ComScope com;
    IShellLinkA *pLink = NewLink();
    pLink->SetPath("C:\\Target\\app.exe");
    IPersistFile *pFile = NULL;
    ASSERT_EQ(S_OK, pLink->QueryInterface(IID_IPersistFile, (void **)&pFile));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), pFile->Save(u"C:\\NoSuchFolder\\x.lnk", FALSE));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\NoSuchFolder\\x.lnk"));
    EXPECT_EQ(E_INVALIDARG, pFile->Save(NULL, FALSE)); // no current file yet
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_NAME), pFile->Save(u"C:\\\u4e2d.lnk", FALSE));
    pFile->Release();
    pLink->Release();
}

TEST(LinkFile, LinkThatCannotBeWrittenWhollyIsRemoved)
{
    ComScope com;
    CreateDirectoryA("C:\\Target", NULL);
    IShellLinkA *pLink = NewLink();
    pLink->SetPath("C:\\Target\\app.exe");
    IPersistFile *pFile = NULL;
    ASSERT_EQ(S_OK, pLink->QueryInterface(IID_IPersistFile, (void **)&pFile));
    setenv("PLAT_FAULT", "WriteFile 112 *\\full.lnk", 1);
    EXPECT_EQ(HRESULT_FROM_WIN32(112), pFile->Save(u"C:\\Target\\full.lnk", TRUE));
    unsetenv("PLAT_FAULT");
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\Target\\full.lnk"));
    LPWSTR pszCur = NULL;
    EXPECT_EQ(S_FALSE, pFile->GetCurFile(&pszCur)); // a failed save is not remembered
    EXPECT_EQ(S_OK, pFile->Save(u"C:\\Target\\full.lnk", TRUE));
    ASSERT_EQ(S_OK, pFile->GetCurFile(&pszCur));
    EXPECT_EQ(std::u16string(u"C:\\Target\\full.lnk"), std::u16string((const char16_t *)pszCur));
    CoTaskMemFree(pszCur);
    EXPECT_EQ(S_FALSE, pFile->IsDirty());
    pFile->Release();
    pLink->Release();
}

// What a call gave: "ok", or "error E" with its last error, or "hr 0x..." for a failed HRESULT.
static std::string Outcome(bool bOk)
{
    return bOk ? "ok" : "error " + std::to_string(GetLastError());
}

static std::string HrOutcome(HRESULT hr)
{
    char sz[32];
    snprintf(sz, sizeof sz, "hr 0x%08X", (unsigned)hr);
    return SUCCEEDED(hr) ? std::string("ok") : std::string(sz);
}

struct SwitchCase {
    const char *pszCall;
    const char *pszPattern; // what the call's path must match
    std::function<std::string()> run;
    const char *pszPlain; // the outcome without the switch
};

// The outcome a call failed by the switch with ERROR_IO_DEVICE gives, by what the list says it returns.
static std::string SwitchedOutcome(const plat::CheckedCall &c)
{
    return c.fails == plat::Fails::kHresult ? "hr 0x8007045D" : "error 1117";
}

// The units whose every checked call has a case below (the files', registry's and processes' calls have
// theirs in test_file, test_reg and test_process).
static bool CoveredHere(const plat::CheckedCall &c)
{
    for (const char *psz : {"kernel/paths", "kernel/module", "lz", "shell", "shell/lnk"})
        if (strcmp(c.pszUnit, psz) == 0)
            return true;
    return false;
}

static IPersistFile *NewPersistFile()
{
    IShellLinkA *pLink = NewLink();
    IPersistFile *pFile = NULL;
    if (pLink != NULL) {
        pLink->QueryInterface(IID_IPersistFile, (void **)&pFile);
        pLink->Release();
    }
    return pFile;
}

TEST(FaultSwitch, EveryCallOfTheShellLinksLzAndPathsFailsForItsNameAndPath)
{
    ComScope com;
    CreateDirectoryA("C:\\ft", NULL);
    MakeFile("C:\\ft\\a.txt", "alpha");
    MakeFile("C:\\ft\\b.txt", "beta");
    auto Lz = [](INT n) { return n >= 0 ? std::string("ok") : "error " + std::to_string(GetLastError()); };
    auto WithLink = [](std::function<HRESULT(IShellLinkA *)> f) {
        IShellLinkA *pLink = NewLink();
        HRESULT hr = pLink != NULL ? f(pLink) : E_FAIL;
        if (pLink != NULL)
            pLink->Release();
        return HrOutcome(hr);
    };
    // Each call fails with ERROR_IO_DEVICE (1117; 0x8007045D as an HRESULT), as the list of checked calls
    // says it returns its failure.
    const SwitchCase kCases[] = {
        {"FindNextFileA", "C:\\ft\\*.txt",
         [] {
             WIN32_FIND_DATAA fd;
             HANDLE h = FindFirstFileA("C:\\ft\\*.txt", &fd);
             std::string s = Outcome(FindNextFileA(h, &fd));
             FindClose(h);
             return s;
         },
         "ok"},
        {"FindClose", "C:\\ft\\*.txt",
         [] {
             WIN32_FIND_DATAA fd;
             HANDLE h = FindFirstFileA("C:\\ft\\*.txt", &fd);
             std::string s = Outcome(FindClose(h));
             return FindClose(h) ? "closed twice" : s; // closed either way
         },
         "ok"},
        {"GetFullPathNameA", "C:\\ft\\x.txt",
         [] {
             char sz[MAX_PATH];
             return Outcome(GetFullPathNameA("C:\\ft\\sub\\..\\x.txt", sizeof sz, sz, NULL) != 0);
         },
         "ok"},
        {"GetModuleFileNameA", "Z:\\*\\test_shell",
         [] {
             char sz[MAX_PATH];
             return Outcome(GetModuleFileNameA(NULL, sz, sizeof sz) != 0);
         },
         "ok"},
        {"GetTempPathA", "C:\\users\\*\\Temp\\",
         [] {
             char sz[MAX_PATH];
             return Outcome(GetTempPathA(sizeof sz, sz) != 0);
         },
         "ok"},
        {"SHGetSpecialFolderLocation", "C:\\users\\*\\Desktop",
         [] {
             LPITEMIDLIST pidl = (LPITEMIDLIST)1;
             HRESULT hr = SHGetSpecialFolderLocation(NULL, CSIDL_DESKTOPDIRECTORY, &pidl);
             if (FAILED(hr) && pidl != NULL)
                 return std::string("item list left");
             CoTaskMemFree(pidl);
             return HrOutcome(hr);
         },
         "ok"},
        {"SHGetSpecialFolderLocation", "CSIDL 0x007F",
         [] {
             LPITEMIDLIST pidl = NULL;
             return HrOutcome(SHGetSpecialFolderLocation(NULL, 0x7F, &pidl));
         },
         "hr 0x80070057"},
        {"SHGetPathFromIDListA", "C:\\ft",
         [] {
             LPITEMIDLIST pidl = plat::ItemListFromPath("C:\\ft");
             char sz[MAX_PATH] = "x";
             std::string s = Outcome(SHGetPathFromIDListA(pidl, sz));
             CoTaskMemFree(pidl);
             return s;
         },
         "ok"},
        {"SHGetMalloc", "",
         [] {
             LPMALLOC p = NULL;
             HRESULT hr = SHGetMalloc(&p);
             return FAILED(hr) && p != NULL ? std::string("allocator given") : HrOutcome(hr);
         },
         "ok"},
        {"CoInitialize", "",
         [] {
             HRESULT hr = CoInitialize(NULL);
             if (SUCCEEDED(hr))
                 CoUninitialize();
             return HrOutcome(hr);
         },
         "ok"},
        {"CoCreateInstance", "{00021401-0000-0000-C000-000000000046}",
         [] {
             IUnknown *p = (IUnknown *)1;
             HRESULT hr =
                 CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown, (void **)&p);
             if (SUCCEEDED(hr))
                 p->Release();
             else if (p != NULL)
                 return std::string("object left");
             return HrOutcome(hr);
         },
         "ok"},
        {"QueryInterface", "IPersistFile",
         [&] {
             return WithLink([](IShellLinkA *pLink) {
                 IPersistFile *pFile = NULL;
                 HRESULT hr = pLink->QueryInterface(IID_IPersistFile, (void **)&pFile);
                 if (pFile != NULL)
                     pFile->Release();
                 return hr;
             });
         },
         "ok"},
        {"SetPath", "C:\\ft\\a.txt",
         [&] { return WithLink([](IShellLinkA *pLink) { return pLink->SetPath("C:\\ft\\.\\a.txt"); }); },
         "ok"},
        {"SetWorkingDirectory", "C:\\ft",
         [&] { return WithLink([](IShellLinkA *pLink) { return pLink->SetWorkingDirectory("C:\\ft\\"); }); },
         "ok"},
        {"SetArguments", "/quiet",
         [&] { return WithLink([](IShellLinkA *pLink) { return pLink->SetArguments("/quiet"); }); }, "ok"},
        {"Save", "C:\\ft\\l.lnk",
         [] {
             DeleteFileA("C:\\ft\\l.lnk");
             IPersistFile *pFile = NewPersistFile();
             HRESULT hr = pFile != NULL ? pFile->Save(u"C:\\ft\\l.lnk", TRUE) : E_FAIL;
             if (pFile != NULL)
                 pFile->Release();
             bool bThere = GetFileAttributesA("C:\\ft\\l.lnk") != INVALID_FILE_ATTRIBUTES;
             return bThere == SUCCEEDED(hr) ? HrOutcome(hr)
                                            : std::string("file there: ") + (bThere ? "yes" : "no");
         },
         "ok"},
        {"_lopen", "C:\\ft\\a.txt",
         [] {
             HFILE h = _lopen("C:\\ft\\a.txt", OF_READ);
             std::string s = Outcome(h != HFILE_ERROR);
             if (h != HFILE_ERROR)
                 _lclose(h);
             return s;
         },
         "ok"},
        {"LZInit", "C:\\ft\\a.txt",
         [&] {
             HFILE h = _lopen("C:\\ft\\a.txt", OF_READ);
             INT n = LZInit(h);
             std::string s = Lz(n);
             if (n >= 0)
                 LZClose(n);
             else
                 _lclose(h);
             return s;
         },
         "ok"},
        {"LZOpenFileA", "C:\\ft\\a.txt",
         [&] {
             OFSTRUCT of;
             char szName[] = "C:\\ft\\a.txt";
             INT n = LZOpenFileA(szName, &of, OF_READ);
             std::string s = Lz(n);
             if (n >= 0)
                 LZClose(n);
             else if (of.nErrCode != GetLastError())
                 return std::string("record error ") + std::to_string(of.nErrCode);
             return s;
         },
         "ok"},
        {"LZRead", "C:\\ft\\a.txt",
         [&] {
             OFSTRUCT of;
             char szName[] = "C:\\ft\\a.txt", ab[8];
             INT n = LZOpenFileA(szName, &of, OF_READ);
             std::string s = Lz(LZRead(n, ab, sizeof ab));
             LZClose(n);
             return s;
         },
         "ok"},
        {"_lclose", "C:\\ft\\a.txt",
         [] {
             HFILE h = _lopen("C:\\ft\\a.txt", OF_READ);
             std::string s = Outcome(_lclose(h) != HFILE_ERROR);
             return _lclose(h) != HFILE_ERROR ? "closed twice" : s;
         },
         "ok"},
    };
    std::set<std::string> covered;
    for (const SwitchCase &c : kCases) {
        SCOPED_TRACE(std::string(c.pszCall) + " " + c.pszPattern);
        const plat::CheckedCall *pListed = plat::FindCheckedCall(c.pszCall);
        ASSERT_NE(nullptr, pListed) << "not in the list of checked calls";
        covered.insert(c.pszCall);
        unsetenv("PLAT_FAULT");
        EXPECT_EQ(c.pszPlain, c.run());
        setenv("PLAT_FAULT",
               (std::string(c.pszCall) + " 1117 " + (*c.pszPattern ? c.pszPattern : "*")).c_str(), 1);
        EXPECT_EQ(SwitchedOutcome(*pListed), c.run());
        // Another path, or another call's name, leaves it alone.
        setenv("PLAT_FAULT", (std::string(c.pszCall) + " 1117 C:\\nothing\\*").c_str(), 1);
        EXPECT_EQ(c.pszPlain, c.run());
        // (a listed name: the switch refuses others; none of these calls deletes a key)
        setenv("PLAT_FAULT",
               (std::string("RegDeleteKeyA 1117 ") + (*c.pszPattern ? c.pszPattern : "*")).c_str(), 1);
        EXPECT_EQ(c.pszPlain, c.run());
    }
    unsetenv("PLAT_FAULT");
    for (const plat::CheckedCall &c : plat::CheckedCallList()) {
        if (CoveredHere(c)) {
            EXPECT_EQ(1u, covered.count(c.pszName)) << c.pszName << " (" << c.pszUnit << ") has no case";
        }
    }
}
