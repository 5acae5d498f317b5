// pending.cpp - file operations left for the machine's next start (MoveFileExA with
// MOVEFILE_DELAY_UNTIL_REBOOT): their record in the registry, as the platform keeps them. boot.cpp carries
// them out.

#include "kernel/kernel.h"
#include "advapi/advapi.h"

#include <algorithm>

namespace plat
{

const char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingValue[] = "PendingFileRenameOperations";

const char kNtPrefix[] = "\\??\\";

std::vector<PendingOperation> ParsePendingOperations(const std::string &sData, size_t *pnUsed)
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
                                             ParsePendingOperations(*psData, &nUsed);
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

} // namespace plat
