// boot.cpp - the machine's start: the file operations programs left for it (MoveFileExA with
// MOVEFILE_DELAY_UNTIL_REBOOT), kept in the registry as the platform keeps them, and carried out in the
// order they were made before anything else runs on the machine (plat-boot), as the platform's session
// manager does at its start.

#include "kernel/kernel.h"
#include "advapi/advapi.h"

#include <algorithm>

namespace plat
{

const char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingValue[] = "PendingFileRenameOperations";

static const char kNtPrefix[] = "\\??\\";

struct PendingOperation {
    std::string sSource, sTarget; // as stored
};

// The operations in REG_MULTI_SZ data: pairs of strings, each string ended by a NUL, the list by one more
// (an empty source). *pnUsed is how many bytes the pairs take, the list's end not counted. A string cut
// short by the data's end ends there.
static std::vector<PendingOperation> ParseOperations(const std::string &sData, size_t *pnUsed)
{
    std::vector<PendingOperation> aOps;
    size_t i = 0;
    *pnUsed = 0;
    auto Next = [&](std::string *ps) {
        size_t j = sData.find('\0', i);
        if (j == std::string::npos)
            j = sData.size();
        *ps = sData.substr(i, j - i);
        i = std::min(j + 1, sData.size());
    };
    while (i < sData.size()) {
        PendingOperation op;
        Next(&op.sSource);
        if (op.sSource.empty())
            break;
        Next(&op.sTarget);
        aOps.push_back(op);
        *pnUsed = i;
    }
    return aOps;
}

bool RecordPendingFileOperation(const std::string &sSourceFull, const std::string *psTargetFull,
                                bool bReplace, DWORD *pnError)
{
    std::string sPair = kNtPrefix + sSourceFull + '\0';
    if (psTargetFull != nullptr)
        sPair += (bReplace ? "!" : "") + (kNtPrefix + *psTargetFull);
    sPair += '\0';
    LSTATUS rc = ChangeRegistryValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingValue,
                                     [&](bool bExists, DWORD *pnType, std::string *psData) {
                                         size_t nUsed = 0;
                                         if (bExists && *pnType == REG_MULTI_SZ)
                                             ParseOperations(*psData, &nUsed);
                                         *psData = psData->substr(0, nUsed) + sPair + '\0';
                                         *pnType = REG_MULTI_SZ;
                                         return VALUE_SET;
                                     });
    if (rc != ERROR_SUCCESS) {
        *pnError = (DWORD)rc;
        return false;
    }
    return true;
}

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
    for (const PendingOperation &op : ParseOperations(sData, &nUsed)) {
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
                                 if (ParseOperations(*psData, &nRest).empty())
                                     return VALUE_DELETE;
                                 return VALUE_SET;
                             });
    return rc == ERROR_SUCCESS;
}

} // namespace plat
