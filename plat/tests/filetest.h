// filetest.h - what the file tests share: the host path of a test file, opening and making files, reading
// one back, and the fixture every test works in (a fresh C:\\t, the current directory, no fault switch).
#pragma once

#include "kernel/kernel.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <string>

inline std::string Host(const std::string &sRel)
{
    return plat::MachineRoot() + "/drive_c/t/" + sRel;
}

inline HANDLE Open(const char *psz, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition, DWORD dwFlags = 0)
{
    return CreateFileA(psz, dwAccess, dwShare, NULL, dwDisposition, dwFlags, NULL);
}

// Makes a file with the given bytes and attributes.
inline void Make(const char *psz, const std::string &sData = "hello", DWORD dwAttributes = 0)
{
    HANDLE h = Open(psz, GENERIC_WRITE, 0, CREATE_ALWAYS, dwAttributes);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << psz << " error " << GetLastError();
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(h, sData.data(), (DWORD)sData.size(), &n, NULL));
    ASSERT_TRUE(CloseHandle(h));
}

inline std::string ReadAll(const char *psz)
{
    HANDLE h = Open(psz, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE)
        return "<error " + std::to_string(GetLastError()) + ">";
    std::string s;
    char sz[100];
    DWORD n;
    while (ReadFile(h, sz, sizeof sz, &n, NULL) && n > 0)
        s.append(sz, n);
    CloseHandle(h);
    return s;
}

// Every test works in a fresh C:\t, the current directory.
class Files : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        for (const char *psz : {"PLAT_FAULT", "PLAT_FAULT_AT", "PLAT_FAULT_CUT", "PLAT_FAULT_TRACE"})
            unsetenv(psz);
        std::filesystem::remove_all(plat::MachineRoot() + "/drive_c/t");
        ASSERT_TRUE(CreateDirectoryA("C:\\t", NULL));
        ASSERT_TRUE(SetCurrentDirectoryA("C:\\t"));
    }
    void TearDown() override
    {
        for (const char *psz : {"PLAT_FAULT", "PLAT_FAULT_AT", "PLAT_FAULT_CUT", "PLAT_FAULT_TRACE"})
            unsetenv(psz);
        SetCurrentDirectoryA("C:\\");
    }
};
