// reg.cpp - the registry of the Linux build: the Win32 registry calls over the machine's registry database
// (regdb.cpp), so that every change is on disk when the call returns and several processes share one
// machine.
//
// Names match case-insensitively and keep their case. Values keep their type and bytes exactly as
// RegSetValueExA received them. Every change runs in one immediate transaction; a process waits (busy
// timeout) while another one writes.
//
// The parts of this file, in order: the handle table and the transaction (opening the registry on first
// need); handles and rights (predefined roots, granted access, resolving a handle to its key); paths and
// the fault switch (the key's full path as the switch sees it); copying data and names out; the calls'
// bodies (RegOpenKeyExA ... RegEnumValueA, RegCloseKey); ChangeRegistryValue for pending.cpp; the traced
// calls. The database (tables, folding, the connection) is regdb.cpp's.

#include "advapi/regdb.h"

#include <stdio.h>
#include <string.h>

#include <mutex>
#include <string>
#include <unordered_map>

namespace
{

using namespace plat::regdb;

const size_t kMaxKeyName = 255;       // characters of one path component
const size_t kMaxValueName = 16383;   // characters of a value name
const DWORD kMaxValueData = 1u << 29; // bytes of a value's data: the platform's limit is its memory

// An open key: the key's row and the rights granted when it was opened. Handles are numbers that are not
// used again, so a handle kept after it was closed stays invalid.
struct RegKey {
    sqlite3_int64 nId;
    REGSAM nAccess;
};

std::recursive_mutex mxReg;
std::unordered_map<uintptr_t, RegKey> mapKeys;
uintptr_t nLastHandle = 0x1000;

bool OpenDatabase();

// A transaction: immediate (holding the write lock from the start) for changes, deferred for reads that
// take more than one statement. Rolled back unless committed.
struct Txn {
    bool bOpen;
    explicit Txn(bool bWrite)
    {
        bOpen = OpenDatabase() && Exec(bWrite ? "BEGIN IMMEDIATE" : "BEGIN");
    }
    ~Txn()
    {
        if (bOpen)
            Exec("ROLLBACK");
    }
    LSTATUS Commit()
    {
        if (!bOpen)
            return ERROR_REGISTRY_IO_FAILED;
        bOpen = false;
        if (Exec("COMMIT"))
            return ERROR_SUCCESS;
        Exec("ROLLBACK");
        return ERROR_REGISTRY_IO_FAILED;
    }
};

// Opens the machine's database: the machine folder is made first when it is new (RegistryFileDamaged asks
// for it), and its registry, made with it, opened (regdb.cpp).
bool OpenDatabase()
{
    if (RegistryOpen())
        return true;
    if (plat::RegistryFileDamaged())
        return false;
    return OpenRegistry(plat::MachineRoot());
}

} // namespace

namespace
{

// The predefined roots' handles are 32-bit negative numbers, sign-extended in a 64-bit handle. Returns the
// root's index, or -1.
int PredefinedIndex(HKEY hKey)
{
    intptr_t n = (intptr_t)hKey - (intptr_t)(LONG)0x80000000;
    return n >= 0 && n < kRoots && kRootNames[n] != nullptr ? (int)n : -1;
}

// The rights a requested access grants: the generic rights map to the key rights.
REGSAM GrantedAccess(REGSAM sam)
{
    REGSAM nGranted = sam & (KEY_ALL_ACCESS | KEY_WOW64_64KEY | KEY_WOW64_32KEY);
    if (sam & (GENERIC_READ | GENERIC_EXECUTE))
        nGranted |= KEY_READ;
    if (sam & GENERIC_WRITE)
        nGranted |= KEY_WRITE;
    if (sam & (GENERIC_ALL | MAXIMUM_ALLOWED))
        nGranted |= KEY_ALL_ACCESS;
    return nGranted;
}

// Resolves a handle to its key, under the lock. ERROR_SUCCESS, or the error for the caller, tested in this
// order: an invalid handle, rights the handle lacks, a database that cannot be opened, a key deleted since
// the handle was opened.
LSTATUS Resolve(HKEY hKey, REGSAM nNeed, sqlite3_int64 *pnId)
{
    int nRoot = PredefinedIndex(hKey);
    if (nRoot >= 0) {
        if (!OpenDatabase())
            return ERROR_CANTOPEN;
        *pnId = RootId(nRoot);
        return ERROR_SUCCESS;
    }
    auto it = mapKeys.find((uintptr_t)hKey);
    if (it == mapKeys.end())
        return ERROR_INVALID_HANDLE;
    const RegKey *pKey = &it->second;
    if ((pKey->nAccess & nNeed) != nNeed)
        return ERROR_ACCESS_DENIED;
    if (!OpenDatabase())
        return ERROR_CANTOPEN;
    Stmt st("SELECT 1 FROM keys WHERE id = ?");
    st.Bind(1, pKey->nId);
    int rc = st.Step();
    if (rc == SQLITE_DONE)
        return ERROR_KEY_DELETED;
    if (rc != SQLITE_ROW)
        return ERROR_REGISTRY_IO_FAILED;
    *pnId = pKey->nId;
    return ERROR_SUCCESS;
}

// Splits a sub-key path into its names: empty components (doubled or trailing backslashes) are skipped, a
// leading backslash is refused as on the platform, and so is a name longer than a key name may be.
LSTATUS SplitPath(LPCSTR pszPath, std::vector<std::string> *pNames)
{
    pNames->clear();
    if (pszPath == NULL)
        return ERROR_SUCCESS;
    if (*pszPath == '\\')
        return ERROR_BAD_PATHNAME;
    const char *p = pszPath;
    while (*p != '\0') {
        const char *pEnd = strchr(p, '\\');
        size_t n = pEnd != nullptr ? (size_t)(pEnd - p) : strlen(p);
        if (n > kMaxKeyName)
            return ERROR_INVALID_PARAMETER;
        if (n > 0)
            pNames->push_back(std::string(p, n));
        p += n;
        if (*p == '\\')
            p++;
    }
    return ERROR_SUCCESS;
}

// Walks the names below nId. On ERROR_SUCCESS *pnId is the last key; ERROR_FILE_NOT_FOUND leaves in
// *pnDepth how many names were found.
LSTATUS Walk(sqlite3_int64 *pnId, const std::vector<std::string> &aNames, size_t *pnDepth)
{
    *pnDepth = 0;
    for (const std::string &sName : aNames) {
        sqlite3_int64 nChild = FindChild(*pnId, sName);
        if (nChild < 0)
            return ERROR_REGISTRY_IO_FAILED;
        if (nChild == 0)
            return ERROR_FILE_NOT_FOUND;
        *pnId = nChild;
        ++*pnDepth;
    }
    return ERROR_SUCCESS;
}

// The fault switch for tests (PLAT_FAULT, see fault.cpp): the error the call is to fail with, matched
// against the full path of the key nId with the names in aMore after it (a key still to be made, or a
// value's name), or ERROR_SUCCESS.
LSTATUS Fault(const char *pszCall, sqlite3_int64 nId, const std::vector<std::string> &aMore)
{
    auto Path = [&]() {
        std::string sPath;
        for (sqlite3_int64 n = nId; n != 0;) {
            Stmt st("SELECT parent, name FROM keys WHERE id = ?");
            st.Bind(1, n);
            if (st.Step() != SQLITE_ROW)
                break;
            sPath = sPath.empty() ? st.Blob(1) : st.Blob(1) + "\\" + sPath;
            n = st.Int(0);
        }
        for (const std::string &s : aMore)
            sPath += "\\" + s;
        return sPath;
    };
    DWORD nError = ERROR_SUCCESS;
    return plat::InjectedFault(pszCall, Path, &nError) ? (LSTATUS)nError : ERROR_SUCCESS;
}

// The key of a call's handle, once the handle grants nNeed, the registry is open for the call's
// transaction and the fault switch lets the call go on (aMore as for Fault).
static LSTATUS EnterKey(const Txn &txn, HKEY hKey, REGSAM nNeed, const char *pszCall,
                        const std::vector<std::string> &aMore, sqlite3_int64 *pnId)
{
    LSTATUS rc = Resolve(hKey, nNeed, pnId);
    if (rc == ERROR_SUCCESS && !txn.bOpen)
        rc = ERROR_REGISTRY_IO_FAILED;
    if (rc == ERROR_SUCCESS)
        rc = Fault(pszCall, *pnId, aMore);
    return rc;
}

HKEY NewHandle(sqlite3_int64 nId, REGSAM sam)
{
    nLastHandle += 4;
    mapKeys[nLastHandle] = RegKey{nId, GrantedAccess(sam)};
    return (HKEY)nLastHandle;
}

bool IsStringType(DWORD nType)
{
    return nType == REG_SZ || nType == REG_EXPAND_SZ || nType == REG_MULTI_SZ;
}

// Copies stored value data out as RegQueryValueExA does: ERROR_MORE_DATA (buffer untouched, *pcbData the
// size needed) when it does not fit; a string that lacks its terminator gets one when the buffer has room
// for it, though the size reported stays the stored one.
LSTATUS CopyData(const std::string &sData, DWORD nType, LPBYTE pData, LPDWORD pcbData)
{
    LSTATUS rc = ERROR_SUCCESS;
    if (pData != NULL && !sData.empty()) {
        if (sData.size() > *pcbData) {
            rc = ERROR_MORE_DATA;
        } else {
            memcpy(pData, sData.data(), sData.size());
            if (IsStringType(nType) && sData.size() < *pcbData && sData.back() != '\0')
                pData[sData.size()] = 0;
        }
    }
    if (pcbData != NULL)
        *pcbData = (DWORD)sData.size();
    return rc;
}

// Copies a name into a buffer of *pcch characters (terminator included); ERROR_MORE_DATA leaves both
// untouched when it does not fit.
LSTATUS CopyName(const std::string &sName, LPSTR pszName, LPDWORD pcch)
{
    if (sName.size() >= *pcch)
        return ERROR_MORE_DATA;
    memcpy(pszName, sName.c_str(), sName.size() + 1);
    *pcch = (DWORD)sName.size();
    return ERROR_SUCCESS;
}

void FileTimeFrom(sqlite3_int64 n, PFILETIME pft)
{
    pft->dwLowDateTime = (DWORD)(n & 0xffffffff);
    pft->dwHighDateTime = (DWORD)((uint64_t)n >> 32);
}

} // namespace

static LSTATUS RegOpenKeyExAImpl(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                 PHKEY phkResult)
{
    std::lock_guard<std::recursive_mutex> lock(mxReg);
    sqlite3_int64 nId;
    std::vector<std::string> aNames;
    size_t nDepth;

    (void)ulOptions;
    if (phkResult == NULL)
        return ERROR_INVALID_PARAMETER;
    *phkResult = NULL;
    LSTATUS rc = Resolve(hKey, 0, &nId);
    if (rc == ERROR_SUCCESS)
        rc = SplitPath(lpSubKey, &aNames);
    if (rc == ERROR_SUCCESS)
        rc = Walk(&nId, aNames, &nDepth);
    if (rc == ERROR_SUCCESS)
        rc = Fault("RegOpenKeyExA", nId, {});
    if (rc == ERROR_SUCCESS)
        *phkResult = NewHandle(nId, samDesired);
    return rc;
}

static LSTATUS RegCreateKeyExAImpl(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                                   REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                   PHKEY phkResult, LPDWORD lpdwDisposition)
{
    std::lock_guard<std::recursive_mutex> lock(mxReg);
    sqlite3_int64 nParent = 0, nId;
    std::vector<std::string> aNames;
    size_t nDepth = 0;

    (void)Reserved;
    (void)dwOptions; // a volatile key is kept like any other: the emulated machine never restarts
    (void)lpSecurityAttributes;
    if (phkResult == NULL)
        return ERROR_INVALID_PARAMETER;
    *phkResult = NULL;
    Txn txn(true);
    LSTATUS rc = Resolve(hKey, 0, &nParent);
    if (rc == ERROR_SUCCESS)
        rc = SplitPath(lpSubKey, &aNames);
    if (rc == ERROR_SUCCESS && !txn.bOpen)
        rc = ERROR_REGISTRY_IO_FAILED;
    if (rc == ERROR_SUCCESS)
        rc = Fault("RegCreateKeyExA", nParent, aNames);
    nId = nParent;
    if (rc == ERROR_SUCCESS)
        rc = Walk(&nId, aNames, &nDepth);
    DWORD nDisposition = REG_OPENED_EXISTING_KEY;
    if (rc == ERROR_FILE_NOT_FOUND) {
        // Making a key needs the right to make sub-keys of the key the caller names.
        sqlite3_int64 nUnused;
        rc = Resolve(hKey, KEY_CREATE_SUB_KEY, &nUnused);
        std::string sClass = lpClass != NULL ? lpClass : "";
        for (size_t i = nDepth; rc == ERROR_SUCCESS && i < aNames.size(); i++) {
            sqlite3_int64 nChild;
            rc = InsertKey(nId, aNames[i], i + 1 == aNames.size() ? sClass : std::string(), &nChild);
            if (rc == ERROR_SUCCESS) {
                Stmt st("UPDATE keys SET written = ? WHERE id = ?");
                st.Bind(1, Now()).Bind(2, nId);
                rc = st.Step() == SQLITE_DONE ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
            }
            nId = nChild;
        }
        nDisposition = REG_CREATED_NEW_KEY;
    }
    if (rc == ERROR_SUCCESS)
        rc = txn.Commit();
    if (rc != ERROR_SUCCESS)
        return rc;
    *phkResult = NewHandle(nId, samDesired);
    if (lpdwDisposition != NULL)
        *lpdwDisposition = nDisposition;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey)
{
    std::lock_guard<std::recursive_mutex> lock(mxReg);

    if (PredefinedIndex(hKey) >= 0)
        return ERROR_SUCCESS;
    return mapKeys.erase((uintptr_t)hKey) > 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

static LSTATUS RegQueryValueExAImpl(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                    LPBYTE lpData, LPDWORD lpcbData)
{
    std::lock_guard<std::recursive_mutex> lock(mxReg);
    sqlite3_int64 nId;

    if ((lpData != NULL && lpcbData == NULL) || lpReserved != NULL)
        return ERROR_INVALID_PARAMETER;
    LSTATUS rc = Resolve(hKey, KEY_QUERY_VALUE, &nId);
    if (rc == ERROR_SUCCESS)
        rc = Fault("RegQueryValueExA", nId, {lpValueName != NULL ? lpValueName : ""});
    if (rc != ERROR_SUCCESS)
        return rc;
    if (lpData == NULL && lpcbData != NULL)
        *lpcbData = 0;
    if (lpType != NULL)
        *lpType = REG_NONE;
    Stmt st("SELECT type, data FROM vals WHERE key = ? AND fold = ?");
    st.Bind(1, nId).Bind(2, Fold(lpValueName != NULL ? lpValueName : ""));
    int nStep = st.Step();
    if (nStep == SQLITE_DONE)
        return ERROR_FILE_NOT_FOUND;
    if (nStep != SQLITE_ROW)
        return ERROR_REGISTRY_IO_FAILED;
    DWORD nType = (DWORD)st.Int(0);
    if (lpType != NULL)
        *lpType = nType;
    return CopyData(st.Blob(1), nType, lpData, lpcbData);
}

static LSTATUS RegSetValueExAImpl(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                  const BYTE *lpData, DWORD cbData)
{
    std::lock_guard<std::recursive_mutex> lock(mxReg);
    sqlite3_int64 nId;

    (void)Reserved;
    if (lpData == NULL && cbData != 0)
        return ERROR_NOACCESS;
    if (cbData > kMaxValueData)
        return ERROR_NOT_ENOUGH_MEMORY;
    std::string sName = lpValueName != NULL ? lpValueName : "";
    if (sName.size() > kMaxValueName)
        return ERROR_INVALID_PARAMETER;
    // The platform counts a string's terminator that the caller left out when it follows the data.
    if (cbData > 0 && IsStringType(dwType) && lpData[cbData - 1] != 0 && lpData[cbData] == 0)
        cbData++;
    Txn txn(true);
    LSTATUS rc = EnterKey(txn, hKey, KEY_SET_VALUE, "RegSetValueExA", {sName}, &nId);
    if (rc == ERROR_SUCCESS)
        rc = SetValue(nId, sName, dwType, lpData, cbData);
    if (rc == ERROR_SUCCESS)
        rc = txn.Commit();
    return rc;
}

static LSTATUS RegDeleteValueAImpl(HKEY hKey, LPCSTR lpValueName)
{
    std::lock_guard<std::recursive_mutex> lock(mxReg);
    sqlite3_int64 nId;

    Txn txn(true);
    LSTATUS rc =
        EnterKey(txn, hKey, KEY_SET_VALUE, "RegDeleteValueA", {lpValueName != NULL ? lpValueName : ""}, &nId);
    if (rc != ERROR_SUCCESS)
        return rc;
    Stmt st("DELETE FROM vals WHERE key = ? AND fold = ?");
    st.Bind(1, nId).Bind(2, Fold(lpValueName != NULL ? lpValueName : ""));
    if (st.Step() != SQLITE_DONE)
        return ERROR_REGISTRY_IO_FAILED;
    if (sqlite3_changes(Db()) == 0)
        return ERROR_FILE_NOT_FOUND;
    Stmt stTouch("UPDATE keys SET written = ? WHERE id = ?");
    stTouch.Bind(1, Now()).Bind(2, nId);
    if (stTouch.Step() != SQLITE_DONE)
        return ERROR_REGISTRY_IO_FAILED;
    return txn.Commit();
}

// Deletes a key without sub-keys, with its values. An empty name deletes the key the handle names itself;
// a root is never deleted.
static LSTATUS RegDeleteKeyAImpl(HKEY hKey, LPCSTR lpSubKey)
{
    std::lock_guard<std::recursive_mutex> lock(mxReg);
    sqlite3_int64 nId;
    std::vector<std::string> aNames;
    size_t nDepth;

    if (lpSubKey == NULL)
        return ERROR_INVALID_PARAMETER;
    LSTATUS rc = SplitPath(lpSubKey, &aNames);
    if (rc != ERROR_SUCCESS)
        return rc;
    Txn txn(true);
    rc = Resolve(hKey, 0, &nId);
    if (rc == ERROR_SUCCESS && !txn.bOpen)
        rc = ERROR_REGISTRY_IO_FAILED;
    if (rc == ERROR_SUCCESS)
        rc = Walk(&nId, aNames, &nDepth);
    if (rc == ERROR_SUCCESS)
        rc = Fault("RegDeleteKeyA", nId, {});
    if (rc != ERROR_SUCCESS)
        return rc;
    Stmt stKey(
        "SELECT parent, (SELECT COUNT(*) FROM keys AS k WHERE k.parent = keys.id) FROM keys WHERE id = ?");
    stKey.Bind(1, nId);
    if (stKey.Step() != SQLITE_ROW)
        return ERROR_REGISTRY_IO_FAILED;
    sqlite3_int64 nParent = stKey.Int(0);
    if (nParent == 0 || stKey.Int(1) > 0)
        return ERROR_ACCESS_DENIED;
    Stmt stValues("DELETE FROM vals WHERE key = ?");
    Stmt stDelete("DELETE FROM keys WHERE id = ?");
    Stmt stTouch("UPDATE keys SET written = ? WHERE id = ?");
    stValues.Bind(1, nId);
    stDelete.Bind(1, nId);
    stTouch.Bind(1, Now()).Bind(2, nParent);
    if (stValues.Step() != SQLITE_DONE || stDelete.Step() != SQLITE_DONE || stTouch.Step() != SQLITE_DONE)
        return ERROR_REGISTRY_IO_FAILED;
    return txn.Commit();
}

static LSTATUS RegQueryInfoKeyAImpl(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                                    LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                    LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                    LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime)
{
    std::lock_guard<std::recursive_mutex> lock(mxReg);
    sqlite3_int64 nId;

    if (lpReserved != NULL || (lpClass != NULL && lpcchClass == NULL))
        return ERROR_INVALID_PARAMETER;
    Txn txn(false);
    LSTATUS rc = EnterKey(txn, hKey, KEY_QUERY_VALUE, "RegQueryInfoKeyA", {}, &nId);
    if (rc != ERROR_SUCCESS)
        return rc;
    Stmt stKey("SELECT class, written,"
               " (SELECT COUNT(*) FROM keys WHERE parent = ?1),"
               " (SELECT IFNULL(MAX(LENGTH(name)), 0) FROM keys WHERE parent = ?1),"
               " (SELECT IFNULL(MAX(LENGTH(class)), 0) FROM keys WHERE parent = ?1),"
               " (SELECT COUNT(*) FROM vals WHERE key = ?1),"
               " (SELECT IFNULL(MAX(LENGTH(name)), 0) FROM vals WHERE key = ?1),"
               " (SELECT IFNULL(MAX(LENGTH(data)), 0) FROM vals WHERE key = ?1)"
               " FROM keys WHERE id = ?1");
    stKey.Bind(1, nId);
    if (stKey.Step() != SQLITE_ROW)
        return ERROR_REGISTRY_IO_FAILED;
    std::string sClass = stKey.Blob(0);
    if (lpClass != NULL) {
        if (sClass.size() >= *lpcchClass) {
            *lpcchClass = (DWORD)sClass.size();
            return ERROR_MORE_DATA;
        }
        memcpy(lpClass, sClass.c_str(), sClass.size() + 1);
    }
    if (lpcchClass != NULL)
        *lpcchClass = (DWORD)sClass.size();
    if (lpftLastWriteTime != NULL)
        FileTimeFrom(stKey.Int(1), lpftLastWriteTime);
    LPDWORD apOut[] = {lpcSubKeys, lpcbMaxSubKeyLen,    lpcbMaxClassLen,
                       lpcValues,  lpcbMaxValueNameLen, lpcbMaxValueLen};
    for (int i = 0; i < 6; i++)
        if (apOut[i] != NULL)
            *apOut[i] = (DWORD)stKey.Int(2 + i);
    if (lpcbSecurityDescriptor != NULL)
        *lpcbSecurityDescriptor = 0;
    return ERROR_SUCCESS;
}

// Sub-keys come in the order of their names, compared without case.
static LSTATUS RegEnumKeyExAImpl(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                                 LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                                 PFILETIME lpftLastWriteTime)
{
    std::lock_guard<std::recursive_mutex> lock(mxReg);
    sqlite3_int64 nId;

    if (lpName == NULL || lpcchName == NULL || lpReserved != NULL || (lpClass != NULL && lpcchClass == NULL))
        return ERROR_INVALID_PARAMETER;
    Txn txn(false);
    LSTATUS rc = EnterKey(txn, hKey, KEY_ENUMERATE_SUB_KEYS, "RegEnumKeyExA", {}, &nId);
    if (rc != ERROR_SUCCESS)
        return rc;
    Stmt st("SELECT name, class, written FROM keys WHERE parent = ? ORDER BY fold LIMIT 1 OFFSET ?");
    st.Bind(1, nId).Bind(2, (sqlite3_int64)dwIndex);
    int nStep = st.Step();
    if (nStep == SQLITE_DONE)
        return ERROR_NO_MORE_ITEMS;
    if (nStep != SQLITE_ROW)
        return ERROR_REGISTRY_IO_FAILED;
    std::string sName = st.Blob(0), sClass = st.Blob(1);
    if (sName.size() >= *lpcchName || (lpClass != NULL && sClass.size() >= *lpcchClass))
        return ERROR_MORE_DATA;
    CopyName(sName, lpName, lpcchName);
    if (lpClass != NULL)
        CopyName(sClass, lpClass, lpcchClass);
    else if (lpcchClass != NULL)
        *lpcchClass = (DWORD)sClass.size();
    if (lpftLastWriteTime != NULL)
        FileTimeFrom(st.Int(2), lpftLastWriteTime);
    return ERROR_SUCCESS;
}

// Values come in the order they were made in; overwriting a value keeps its place.
static LSTATUS RegEnumValueAImpl(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                                 LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    std::lock_guard<std::recursive_mutex> lock(mxReg);
    sqlite3_int64 nId;

    if (lpValueName == NULL || lpcchValueName == NULL || lpReserved != NULL ||
        (lpData != NULL && lpcbData == NULL))
        return ERROR_INVALID_PARAMETER;
    Txn txn(false);
    LSTATUS rc = EnterKey(txn, hKey, KEY_QUERY_VALUE, "RegEnumValueA", {}, &nId);
    if (rc != ERROR_SUCCESS)
        return rc;
    Stmt st("SELECT name, type, data FROM vals WHERE key = ? ORDER BY id LIMIT 1 OFFSET ?");
    st.Bind(1, nId).Bind(2, (sqlite3_int64)dwIndex);
    int nStep = st.Step();
    if (nStep == SQLITE_DONE)
        return ERROR_NO_MORE_ITEMS;
    if (nStep != SQLITE_ROW)
        return ERROR_REGISTRY_IO_FAILED;
    std::string sName = st.Blob(0);
    DWORD nType = (DWORD)st.Int(1);
    rc = CopyName(sName, lpValueName, lpcchValueName);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (lpType != NULL)
        *lpType = nType;
    return CopyData(st.Blob(2), nType, lpData, lpcbData);
}

LSTATUS plat::ChangeRegistryValue(HKEY hRoot, const std::string &sKeyPath, const std::string &sName,
                                  const ValueChanger &change)
{
    std::lock_guard<std::recursive_mutex> lock(mxReg);
    sqlite3_int64 nId;
    std::vector<std::string> aNames;
    size_t nDepth = 0;

    if (PredefinedIndex(hRoot) < 0)
        return ERROR_INVALID_HANDLE;
    LSTATUS rc = SplitPath(sKeyPath.c_str(), &aNames);
    if (rc != ERROR_SUCCESS)
        return rc;
    Txn txn(true);
    rc = Resolve(hRoot, 0, &nId);
    if (rc == ERROR_SUCCESS && !txn.bOpen)
        rc = ERROR_REGISTRY_IO_FAILED;
    if (rc == ERROR_SUCCESS)
        rc = Walk(&nId, aNames, &nDepth);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
        return rc;
    bool bKey = rc == ERROR_SUCCESS;
    bool bExists = false;
    DWORD nType = REG_NONE;
    std::string sData;
    if (bKey) {
        Stmt st("SELECT type, data FROM vals WHERE key = ? AND fold = ?");
        st.Bind(1, nId).Bind(2, Fold(sName));
        int nStep = st.Step();
        if (nStep != SQLITE_ROW && nStep != SQLITE_DONE)
            return ERROR_REGISTRY_IO_FAILED;
        bExists = nStep == SQLITE_ROW;
        if (bExists) {
            nType = (DWORD)st.Int(0);
            sData = st.Blob(1);
        }
    }
    ValueChange nChange = change(bExists, &nType, &sData);
    if (nChange == VALUE_KEEP || (nChange == VALUE_DELETE && !bExists))
        return ERROR_SUCCESS;
    if (nChange == VALUE_SET) {
        // The keys missing on the way are made, as RegCreateKeyExA would.
        for (size_t i = nDepth; !bKey && i < aNames.size(); i++) {
            sqlite3_int64 nChild;
            rc = InsertKey(nId, aNames[i], std::string(), &nChild);
            Stmt stTouch("UPDATE keys SET written = ? WHERE id = ?");
            stTouch.Bind(1, Now()).Bind(2, nId);
            if (rc == ERROR_SUCCESS && stTouch.Step() != SQLITE_DONE)
                rc = ERROR_REGISTRY_IO_FAILED;
            if (rc != ERROR_SUCCESS)
                return rc;
            nId = nChild;
        }
        rc = SetValue(nId, sName, nType, sData.data(), sData.size());
    } else {
        Stmt st("DELETE FROM vals WHERE key = ? AND fold = ?");
        st.Bind(1, nId).Bind(2, Fold(sName));
        Stmt stTouch("UPDATE keys SET written = ? WHERE id = ?");
        stTouch.Bind(1, Now()).Bind(2, nId);
        rc = st.Step() == SQLITE_DONE && stTouch.Step() == SQLITE_DONE ? ERROR_SUCCESS
                                                                       : ERROR_REGISTRY_IO_FAILED;
    }
    return rc == ERROR_SUCCESS ? txn.Commit() : rc;
}

// The calls themselves: each one run as a traced call of the fault switch.

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    plat::TracedCall call("RegOpenKeyExA");
    return call.Status(RegOpenKeyExAImpl(hKey, lpSubKey, ulOptions, samDesired, phkResult));
}

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition)
{
    plat::TracedCall call("RegCreateKeyExA");
    return call.Status(RegCreateKeyExAImpl(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired,
                                           lpSecurityAttributes, phkResult, lpdwDisposition));
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData)
{
    plat::TracedCall call("RegQueryValueExA");
    return call.Status(RegQueryValueExAImpl(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData));
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE *lpData,
                              DWORD cbData)
{
    plat::TracedCall call("RegSetValueExA");
    return call.Status(RegSetValueExAImpl(hKey, lpValueName, Reserved, dwType, lpData, cbData));
}

LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName)
{
    plat::TracedCall call("RegDeleteValueA");
    return call.Status(RegDeleteValueAImpl(hKey, lpValueName));
}

LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    plat::TracedCall call("RegDeleteKeyA");
    return call.Status(RegDeleteKeyAImpl(hKey, lpSubKey));
}

LSTATUS WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                                LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime)
{
    plat::TracedCall call("RegQueryInfoKeyA");
    return call.Status(RegQueryInfoKeyAImpl(hKey, lpClass, lpcchClass, lpReserved, lpcSubKeys,
                                            lpcbMaxSubKeyLen, lpcbMaxClassLen, lpcValues, lpcbMaxValueNameLen,
                                            lpcbMaxValueLen, lpcbSecurityDescriptor, lpftLastWriteTime));
}

LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                             LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    plat::TracedCall call("RegEnumKeyExA");
    return call.Status(RegEnumKeyExAImpl(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                                         lpftLastWriteTime));
}

LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                             LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    plat::TracedCall call("RegEnumValueA");
    return call.Status(
        RegEnumValueAImpl(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData));
}
