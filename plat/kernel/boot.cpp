// boot.cpp - the machine's start: the file operations programs left for it (pending.cpp), carried out in the
// order they were made before anything else runs on the machine (plat-boot), as the platform's session
// manager does at its start.

#include "kernel/kernel.h"
#include "advapi/advapi.h"

namespace plat
{

// A stored path as a Windows path: without the prefix of the platform's object names.
static std::string WindowsPathOf(const std::string &s)
{
    return s.compare(0, 4, kNtPrefix) == 0 ? s.substr(4) : s;
}

// Carries out one operation with the machine's own file calls: a deletion removes a file, a link, or an
// empty folder; a rename is MoveFileExA's, over a file in the way when the target starts with "!". The
// message of a failure, or empty.
static std::string CarryOut(const PendingOperation &op)
{
    std::string sSource = WindowsPathOf(op.sSource);
    if (op.sTarget.empty()) {
        DWORD dw = GetFileAttributesA(sSource.c_str());
        bool bDone = dw != INVALID_FILE_ATTRIBUTES &&
                     ((dw & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryA(sSource.c_str())
                                                      : DeleteFileA(sSource.c_str()));
        if (bDone)
            return std::string();
        return "cannot delete " + AnsiToUtf8(sSource) + " (error " + std::to_string(GetLastError()) + ")";
    }
    bool bReplace = op.sTarget[0] == '!';
    std::string sTarget = WindowsPathOf(op.sTarget.substr(bReplace ? 1 : 0));
    if (MoveFileExA(sSource.c_str(), sTarget.c_str(), bReplace ? MOVEFILE_REPLACE_EXISTING : 0))
        return std::string();
    return "cannot rename " + AnsiToUtf8(sSource) + " to " + AnsiToUtf8(sTarget) + " (error " +
           std::to_string(GetLastError()) + ")";
}

bool RunPendingFileOperations(std::vector<std::string> *paFailures)
{
    std::string sData;
    LSTATUS rc = ChangeRegistryValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingValue,
                                     [&](bool bExists, DWORD *pnType, std::string *psData) {
                                         if (bExists && *pnType == REG_MULTI_SZ)
                                             sData = *psData;
                                         return VALUE_KEEP;
                                     });
    if (rc != ERROR_SUCCESS)
        return false;
    size_t nUsed = 0;
    for (const PendingOperation &op : ParsePendingOperations(sData, &nUsed)) {
        std::string sFailure = CarryOut(op);
        if (!sFailure.empty())
            paFailures->push_back(sFailure);
    }
    if (sData.empty())
        return true;
    // The operations carried out go from the value, failed or not, as at the platform's start; what another
    // process added meanwhile stays for the next start.
    rc = ChangeRegistryValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingValue,
                             [&](bool bExists, DWORD *pnType, std::string *psData) {
                                 (void)pnType;
                                 if (!bExists || psData->compare(0, nUsed, sData, 0, nUsed) != 0)
                                     return VALUE_KEEP;
                                 *psData = psData->substr(nUsed);
                                 size_t nRest = 0;
                                 if (ParsePendingOperations(*psData, &nRest).empty())
                                     return VALUE_DELETE;
                                 return VALUE_SET;
                             });
    return rc == ERROR_SUCCESS;
}

} // namespace plat
