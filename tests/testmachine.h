// testmachine.h - what the tests of the installer and the uninstaller share about the machine they run on:
// the program-files folder this process sees, and small files made through the platform.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

// The program-files folder as this process sees it: a 32-bit process on 64-bit Windows is given the folder
// of 32-bit programs.
static inline std::string ProgramFiles()
{
#if defined(_WIN32) && !defined(_WIN64)
    BOOL bWow64 = FALSE;
    if (IsWow64Process(GetCurrentProcess(), &bWow64) && bWow64)
        return "C:\\Program Files (x86)";
#endif
    return "C:\\Program Files";
}

static inline void PutFile(const std::string &sPath, const std::string &sData)
{
    HANDLE h = CreateFileA(sPath.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << sPath;
    DWORD n;
    WriteFile(h, sData.data(), (DWORD)sData.size(), &n, NULL);
    CloseHandle(h);
}

static inline bool IsThere(const std::string &sPath)
{
    return GetFileAttributesA(sPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}
