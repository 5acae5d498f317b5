// error.cpp - the last-error value of each thread, and the platform's error for a failed host call.

#include "kernel/kernel.h"

#include <errno.h>

namespace plat
{

DWORD ErrorFromErrno(int nErrno)
{
    switch (nErrno) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case EROFS:
        return ERROR_WRITE_PROTECT;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case EBUSY:
    case ETXTBSY:
        return ERROR_SHARING_VIOLATION;
    case EXDEV:
        return ERROR_NOT_SAME_DEVICE;
    case EINVAL:
    case EOVERFLOW:
        return ERROR_INVALID_PARAMETER;
    case EOPNOTSUPP:
        return ERROR_NOT_SUPPORTED;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ELOOP:
        return ERROR_CANT_RESOLVE_FILENAME;
    case EFBIG:
        return ERROR_DISK_FULL;
    default:
        return ERROR_GEN_FAILURE;
    }
}

} // namespace plat

static thread_local DWORD dwLastError;

DWORD WINAPI GetLastError(void)
{
    return dwLastError;
}

void WINAPI SetLastError(DWORD dwErrCode)
{
    dwLastError = dwErrCode;
}
