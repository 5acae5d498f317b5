// testkit.cpp - what the test programs share: the machine, small files, the string table's texts.

#include "testkit.h"
#include "shlutl.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>

std::string ProgramFiles()
{
#if defined(_WIN32) && !defined(_WIN64)
    BOOL bWow64 = FALSE;
    if (IsWow64Process(GetCurrentProcess(), &bWow64) && bWow64)
        return "C:\\Program Files (x86)";
#endif
    return "C:\\Program Files";
}

std::string HostPath(const std::string &sWin)
{
#ifdef _WIN32
    const char *pszRoot = getenv("WINEPREFIX");
    std::string sRest = sWin.size() >= 3 ? sWin.substr(3) : std::string();
#else
    const char *pszRoot = getenv("PLAT_ROOT");
    WCHAR w[1024];
    char sz[2048];
    if (MultiByteToWideChar(CP_ACP, 0, sWin.c_str() + (sWin.size() >= 3 ? 3 : sWin.size()), -1, w, 1024) ==
            0 ||
        WideCharToMultiByte(CP_UTF8, 0, w, -1, sz, sizeof sz, NULL, NULL) == 0)
        return std::string();
    std::string sRest = sz;
#endif
    if (pszRoot == NULL || sWin.size() < 3 || (sWin[0] != 'C' && sWin[0] != 'c'))
        return std::string();
    std::string s = std::string(pszRoot) + "/drive_c/" + sRest;
    for (char &c : s)
        if (c == '\\')
            c = '/';
    return s;
}

std::string DataPath(const char *pszName)
{
    std::string s = std::string("Z:") + KAL_TEST_DATA + "/" + pszName;
    for (char &c : s)
        if (c == '/')
            c = '\\';
    return s;
}

std::string TestName()
{
    return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

bool WriteBytes(const std::string &sPath, const std::string &sData, DWORD dwAttributes)
{
    HANDLE h = CreateFileA(sPath.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, dwAttributes, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD n = 0;
    BOOL bOk = sData.empty() || WriteFile(h, sData.data(), (DWORD)sData.size(), &n, NULL);
    CloseHandle(h);
    return bOk && n == sData.size();
}

void PutFile(const std::string &sPath, const std::string &sData, DWORD dwAttributes)
{
    ASSERT_TRUE(WriteBytes(sPath, sData, dwAttributes)) << sPath << " error " << GetLastError();
}

std::string ReadBytes(const std::string &sPath)
{
    std::string s;
    HANDLE h = CreateFileA(sPath.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return "<cannot open>";
    char a[65536];
    DWORD n;
    while (ReadFile(h, a, sizeof a, &n, NULL) && n > 0)
        s.append(a, n);
    CloseHandle(h);
    return s;
}

bool Exists(const std::string &sPath)
{
    return GetFileAttributesA(sPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void Remove(const std::string &sPath)
{
    SetFileAttributesA(sPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(sPath.c_str());
}

static void ListInto(const std::string &sDir, const std::string &sRel, std::vector<std::string> *pList)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((sDir + "\\*.*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string sName = fd.cFileName;
        if (sName == "." || sName == "..")
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListInto(sDir + "\\" + sName, sRel + sName + "\\", pList);
        else
            pList->push_back(sRel + sName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

std::vector<std::string> FilesUnder(const std::string &sDir)
{
    std::vector<std::string> a;
    ListInto(sDir, "", &a);
    std::sort(a.begin(), a.end());
    return a;
}

std::string ShortcutPath(int nFolder, const std::string &sName)
{
    char sz[MAX_PATH];
    EXPECT_TRUE(ShlGetFolder(nFolder, sz, sizeof sz)) << nFolder;
    return std::string(sz) + "\\" + sName;
}

std::string Text(int nId)
{
    char sz[512];
    return LoadStringA(GetModuleHandleA(NULL), (UINT)nId, sz, sizeof sz) > 0 ? sz : "";
}

std::string Formatted(int nId, const std::string &sArg)
{
    std::string s = Text(nId);
    size_t n = s.find("%s");
    if (n != std::string::npos)
        s.replace(n, 2, sArg);
    return s;
}
