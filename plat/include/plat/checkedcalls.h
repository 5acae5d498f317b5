// checkedcalls.h - the one list of the platform calls that check the fault switch (PLAT_FAULT, described in
// docs/checked-calls.md, which is made from this list): each call's name, the unit that implements it, what
// it returns when it fails, what the switch's pattern is matched against, and the errors the call can give
// in the order the fault sweep rotates through them. The switch refuses any other name, and the sweep, the
// fault switch's tests and the documentation take the calls from here.
//
// PLAT_CHECKED_CALLS(X) expands X(NAME, UNIT, FAILS, MATCHED, ERROR...) once per call; FAILS is one of the
// enumerators of plat::Fails. CheckedCallList() is the list as a table.

#ifndef PLAT_CHECKEDCALLS_H
#define PLAT_CHECKEDCALLS_H

#include <string.h>

#include <vector>

// clang-format off
#define PLAT_CHECKED_CALLS(X) \
    X("CreateFileA", "kernel/file", kInvalidHandle, "the full path", 5, 32, 112, 2, 3, 1450, 206, 87) \
    X("ReadFile", "kernel/handle", kFalse, "the path the handle was opened with", 23, 1450, 33, 5, 38) \
    X("WriteFile", "kernel/handle", kFalse, "the path the handle was opened with", 112, 1450, 33, 23, 5) \
    X("CloseHandle", "kernel/handle", kFalse, "the path the handle was opened with, or the process's program; the handle is closed, the error reported", 112, 1450, 6) \
    X("GetFileSize", "kernel/file", kInvalidSize, "the path the handle was opened with", 5, 1450, 6) \
    X("GetFileTime", "kernel/file", kFalse, "the path the handle was opened with", 5, 1450, 6) \
    X("SetFileTime", "kernel/file", kFalse, "the path the handle was opened with", 5, 87, 1450, 112) \
    X("GetFileAttributesA", "kernel/file", kInvalidAttributes, "the full path", 2, 3, 5, 32, 1450) \
    X("SetFileAttributesA", "kernel/file", kFalse, "the full path", 5, 2, 32, 87, 1450) \
    X("DeleteFileA", "kernel/file", kFalse, "the full path", 5, 32, 2, 3, 1450) \
    X("CreateDirectoryA", "kernel/file", kFalse, "the full path", 5, 183, 3, 112, 1450) \
    X("RemoveDirectoryA", "kernel/file", kFalse, "the full path", 5, 32, 145, 2, 3) \
    X("CopyFileA", "kernel/file", kFalse, "either full path (two checks)", 5, 32, 112, 2, 3, 1450, 87) \
    X("MoveFileA", "kernel/file", kFalse, "either full path (two checks)", 5, 32, 183, 2, 3, 17, 112) \
    X("MoveFileExA", "kernel/file", kFalse, "either full path (two checks; one when there is no target)", 5, 32, 183, 80, 2, 3, 17, 112, 1450) \
    X("FindFirstFileA", "kernel/file", kInvalidHandle, "the full pattern", 5, 2, 3, 1450, 32) \
    X("FindNextFileA", "kernel/file", kFalse, "the search's full pattern", 1450, 5, 59) \
    X("FindClose", "kernel/file", kFalse, "the search's full pattern; the search is closed, the error reported", 6, 1450) \
    X("GetFullPathNameA", "kernel/paths", kZero, "the full path", 5, 1450, 31, 87) \
    X("GetTempPathA", "kernel/paths", kZero, "the temp folder, with its final \\", 5, 1450, 31, 87) \
    X("GetModuleFileNameA", "kernel/module", kZero, "the program's path", 5, 1450, 31, 87) \
    X("CreateProcessA", "kernel/process", kFalse, "the program's full path; when none is found, the full form of the name read first", 5, 1450, 31, 87) \
    X("OpenProcess", "kernel/process", kNull, "the process's program, empty when the host does not show it", 5, 1450, 31, 87) \
    X("WaitForSingleObject", "kernel/process", kWaitFailed, "the process's program", 5, 1450, 31, 87) \
    X("GetExitCodeProcess", "kernel/process", kFalse, "the process's program", 5, 1450, 31, 87) \
    X("TerminateProcess", "kernel/process", kFalse, "the process's program", 5, 1450, 31, 87) \
    X("RegOpenKeyExA", "advapi/reg", kStatus, "the key's full path", 5, 2, 1016, 1011, 1450) \
    X("RegCreateKeyExA", "advapi/reg", kStatus, "the key's full path (for a key to be made, the path it would have)", 5, 1016, 1010, 1450, 112) \
    X("RegQueryValueExA", "advapi/reg", kStatus, "the key's full path, \\ and the value's name", 5, 2, 1016, 1450) \
    X("RegSetValueExA", "advapi/reg", kStatus, "the key's full path, \\ and the value's name", 5, 1016, 112, 1450) \
    X("RegDeleteValueA", "advapi/reg", kStatus, "the key's full path, \\ and the value's name", 5, 2, 1016) \
    X("RegDeleteKeyA", "advapi/reg", kStatus, "the key's full path", 5, 2, 1016, 1018) \
    X("RegQueryInfoKeyA", "advapi/reg", kStatus, "the key's full path", 5, 1016, 1450) \
    X("RegEnumKeyExA", "advapi/reg", kStatus, "the key's full path", 5, 1016, 1450) \
    X("RegEnumValueA", "advapi/reg", kStatus, "the key's full path", 5, 1016, 1450) \
    X("_lopen", "lz", kHfileError, "the full path", 5, 1450, 31, 87) \
    X("_lclose", "lz", kHfileError, "the file's path; the file is closed, the error reported (LZClose checks it through its _lclose)", 5, 1450, 31, 87) \
    X("LZInit", "lz", kLzReadError, "the file's path", 5, 1450, 31, 87) \
    X("LZOpenFileA", "lz", kLzBadHandle, "the full path", 5, 1450, 31, 87) \
    X("LZRead", "lz", kLzReadError, "the file's path", 5, 1450, 31, 87) \
    X("SHGetMalloc", "shell", kHresult, "an empty path (match it with *)", 5, 1450, 31, 87) \
    X("SHGetSpecialFolderLocation", "shell", kHresult, "the folder's path, CSIDL 0x00NN for a CSIDL that names none", 5, 1450, 31, 87) \
    X("SHGetPathFromIDListA", "shell", kFalse, "the item list's path", 5, 1450, 31, 87) \
    X("CoInitialize", "shell", kHresult, "an empty path (match it with *)", 5, 1450, 31, 87) \
    X("CoCreateInstance", "shell", kHresult, "the class id, {00021401-0000-0000-C000-000000000046} for ShellLink", 5, 1450, 31, 87) \
    X("QueryInterface", "shell/lnk", kHresult, "the interface: IShellLinkA, IPersistFile, IPersist, IUnknown, or its id", 5, 1450, 31, 87) \
    X("SetPath", "shell/lnk", kHresult, "the full path", 5, 1450, 31, 87) \
    X("SetWorkingDirectory", "shell/lnk", kHresult, "the full path", 5, 1450, 31, 87) \
    X("SetArguments", "shell/lnk", kHresult, "the arguments", 5, 1450, 31, 87) \
    X("Save", "shell/lnk", kHresult, "the link file's full path (IPersistFile::Save)", 5, 1450, 31, 87)
// clang-format on

namespace plat
{

// What a checked call returns when it fails; the error goes where the call puts its errors.
enum class Fails {
    kFalse,             // FALSE, the error as last error
    kInvalidHandle,     // INVALID_HANDLE_VALUE, the error as last error
    kNull,              // NULL, the error as last error
    kInvalidSize,       // INVALID_FILE_SIZE, the error as last error
    kInvalidAttributes, // INVALID_FILE_ATTRIBUTES, the error as last error
    kZero,              // 0 (no length), the error as last error
    kWaitFailed,        // WAIT_FAILED, the error as last error
    kStatus,            // the error itself as the LSTATUS returned
    kHresult,           // HRESULT_FROM_WIN32(error); no object or item list given
    kHfileError,        // HFILE_ERROR, the error as last error
    kLzReadError,       // LZERROR_READ, the error as last error
    kLzBadHandle,       // LZERROR_BADINHANDLE, the error as last error and in the record's nErrCode
};

struct CheckedCall {
    const char *pszName;
    const char *pszUnit;           // the unit of plat/ that implements it
    Fails fails;                   // what it returns when it fails
    const char *pszMatched;        // what a PLAT_FAULT pattern is matched against
    std::vector<unsigned> aErrors; // the errors it can give, in the order the sweep takes them
};

// The list, in its order.
inline const std::vector<CheckedCall> &CheckedCallList()
{
#define PLAT_CHECKED_CALL_ENTRY(name, unit, fails, matched, ...)                                             \
    {name, unit, Fails::fails, matched, {__VA_ARGS__}},
    static const std::vector<CheckedCall> aList = {PLAT_CHECKED_CALLS(PLAT_CHECKED_CALL_ENTRY)};
#undef PLAT_CHECKED_CALL_ENTRY
    return aList;
}

// The call of that name (exactly as spelt), or null.
inline const CheckedCall *FindCheckedCall(const char *pszName)
{
    for (const CheckedCall &c : CheckedCallList())
        if (strcmp(c.pszName, pszName) == 0)
            return &c;
    return nullptr;
}

// The failure value of a kind as the documentation writes it.
inline const char *FailsText(Fails fails)
{
    switch (fails) {
    case Fails::kFalse:
        return "FALSE, last error";
    case Fails::kInvalidHandle:
        return "INVALID_HANDLE_VALUE, last error";
    case Fails::kNull:
        return "NULL, last error";
    case Fails::kInvalidSize:
        return "INVALID_FILE_SIZE, last error";
    case Fails::kInvalidAttributes:
        return "INVALID_FILE_ATTRIBUTES, last error";
    case Fails::kZero:
        return "0, last error";
    case Fails::kWaitFailed:
        return "WAIT_FAILED, last error";
    case Fails::kStatus:
        return "the error as LSTATUS";
    case Fails::kHresult:
        return "HRESULT_FROM_WIN32(error)";
    case Fails::kHfileError:
        return "HFILE_ERROR, last error";
    case Fails::kLzReadError:
        return "LZERROR_READ, last error";
    case Fails::kLzBadHandle:
        return "LZERROR_BADINHANDLE, last error and nErrCode";
    }
    return "?";
}

} // namespace plat

#endif
