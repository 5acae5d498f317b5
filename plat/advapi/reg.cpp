// reg.cpp - the registry of the Linux build: keys and values kept in an SQLite database in the machine
// folder, so that every change is on disk when the call returns and several processes share one machine.
//
// Names are stored as given (code page 1251) next to a folded form (upper case, UTF-16 big-endian) that
// lookups and the order of sub-keys use, so names match case-insensitively and keep their case. Values
// keep their type and bytes exactly as RegSetValueExA received them. Every change runs in one immediate
// transaction; a process waits (busy timeout) while another one writes.

#include "advapi/advapi.h"

#include <errno.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <mutex>
#include <string>
#include <unordered_map>

namespace
{

const int kBusyTimeoutMs = 30000;
const size_t kMaxKeyName = 255;       // characters of one path component
const size_t kMaxValueName = 16383;   // characters of a value name
const DWORD kMaxValueData = 1u << 29; // bytes of a value's data: the platform's limit is its memory
const int kSchemaVersion = 1;

// The predefined roots, in the order of their handles' low bits (HKEY_PERFORMANCE_DATA, 4, is not kept).
const char *const kRootNames[] = {
    "HKEY_CLASSES_ROOT",  "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS", nullptr,
    "HKEY_CURRENT_CONFIG"};
const int kRoots = sizeof kRootNames / sizeof kRootNames[0];

// An open key: the key's row and the rights granted when it was opened. Handles are numbers that are not
// used again, so a handle kept after it was closed stays invalid.
struct RegKey {
    sqlite3_int64 nId;
    REGSAM nAccess;
};

std::recursive_mutex mxReg;
std::unordered_map<uintptr_t, RegKey> mapKeys;
uintptr_t nLastHandle = 0x1000;
sqlite3 *pDb;
sqlite3_int64 aRootIds[kRoots];
// The connection a new machine's registry is being made on, by this thread (MakeNewRegistry).
thread_local sqlite3 *pNewDb;

sqlite3 *Db()
{
    return pNewDb != nullptr ? pNewDb : pDb;
}

// A database file that SQLite finds malformed, or that is no database, is said once per process; the
// calls fail as they do on any other error of the database.
int CheckDamage(int rc)
{
    if (((rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB) && Db() != nullptr) {
        const char *pszFile = sqlite3_db_filename(Db(), "main");
        plat::ReportMachineDamage(std::string("the registry of the machine folder is damaged: ") +
                                  (pszFile != nullptr ? pszFile : "registry.db") + " (" + sqlite3_errstr(rc) +
                                  ")");
    }
    return rc;
}

// The database connection, closed when the process ends so that its log is folded into the file.
struct DbCloser {
    ~DbCloser()
    {
        if (pDb != nullptr)
            sqlite3_close(pDb);
        pDb = nullptr;
    }
} theCloser;

std::string Fold(const std::string &sName)
{
    std::string sFold;
    sFold.reserve(sName.size() * 2);
    for (unsigned char c : sName) {
        char chUpper = (char)c;
        LCMapStringA(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE, (const char *)&c, 1, &chUpper, 1);
        char16_t w = plat::AnsiToUnicode((unsigned char)chUpper);
        sFold.push_back((char)(w >> 8));
        sFold.push_back((char)(w & 0xff));
    }
    return sFold;
}

sqlite3_int64 Now()
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return ((sqlite3_int64)ts.tv_sec + 11644473600LL) * 10000000LL + ts.tv_nsec / 100;
}

// One prepared statement, finalized when it goes out of scope.
struct Stmt {
    sqlite3_stmt *p = nullptr;
    bool bOk;
    Stmt(const char *pszSql)
    {
        bOk = CheckDamage(sqlite3_prepare_v2(Db(), pszSql, -1, &p, nullptr)) == SQLITE_OK;
    }
    ~Stmt()
    {
        sqlite3_finalize(p);
    }
    Stmt &Bind(int i, sqlite3_int64 n)
    {
        sqlite3_bind_int64(p, i, n);
        return *this;
    }
    Stmt &Bind(int i, const std::string &s)
    {
        sqlite3_bind_blob(p, i, s.data(), (int)s.size(), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt &Bind(int i, const void *pData, size_t n)
    {
        sqlite3_bind_blob(p, i, pData != nullptr ? pData : "", (int)n, SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error
    int Step()
    {
        return bOk ? CheckDamage(sqlite3_step(p)) : SQLITE_ERROR;
    }
    sqlite3_int64 Int(int i)
    {
        return sqlite3_column_int64(p, i);
    }
    std::string Blob(int i)
    {
        const void *pData = sqlite3_column_blob(p, i);
        int n = sqlite3_column_bytes(p, i);
        return pData != nullptr ? std::string((const char *)pData, (size_t)n) : std::string();
    }
};

bool OpenDatabase();

bool Exec(const char *pszSql)
{
    return CheckDamage(sqlite3_exec(Db(), pszSql, nullptr, nullptr, nullptr)) == SQLITE_OK;
}

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

LSTATUS InsertKey(sqlite3_int64 nParent, const std::string &sName, const std::string &sClass,
                  sqlite3_int64 *pnId)
{
    Stmt st("INSERT INTO keys(parent, name, fold, class, written) VALUES(?, ?, ?, ?, ?)");
    st.Bind(1, nParent).Bind(2, sName).Bind(3, Fold(sName)).Bind(4, sClass).Bind(5, Now());
    if (st.Step() != SQLITE_DONE)
        return ERROR_REGISTRY_IO_FAILED;
    *pnId = sqlite3_last_insert_rowid(Db());
    return ERROR_SUCCESS;
}

LSTATUS SetValue(sqlite3_int64 nKey, const std::string &sName, DWORD nType, const void *pData, size_t nData)
{
    Stmt st("INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
            "ON CONFLICT(key, fold) DO UPDATE SET type = ?4, data = ?5");
    st.Bind(1, nKey).Bind(2, sName).Bind(3, Fold(sName)).Bind(4, (sqlite3_int64)nType).Bind(5, pData, nData);
    if (st.Step() != SQLITE_DONE)
        return ERROR_REGISTRY_IO_FAILED;
    Stmt stTouch("UPDATE keys SET written = ? WHERE id = ?");
    stTouch.Bind(1, Now()).Bind(2, nKey);
    return stTouch.Step() == SQLITE_DONE ? ERROR_SUCCESS : ERROR_REGISTRY_IO_FAILED;
}

// Finds the sub-key nParent\sName; 0 when there is none, -1 on a database error.
sqlite3_int64 FindChild(sqlite3_int64 nParent, const std::string &sName)
{
    Stmt st("SELECT id FROM keys WHERE parent = ? AND fold = ?");
    st.Bind(1, nParent).Bind(2, Fold(sName));
    int rc = st.Step();
    if (rc == SQLITE_ROW)
        return st.Int(0);
    return rc == SQLITE_DONE ? 0 : -1;
}

// Creates the path below a root inside the current transaction (used to fill a new machine).
sqlite3_int64 MakePath(sqlite3_int64 nId, const char *pszPath)
{
    std::string sPath = pszPath;
    size_t nStart = 0;
    while (nStart <= sPath.size() && nId > 0) {
        size_t nEnd = sPath.find('\\', nStart);
        if (nEnd == std::string::npos)
            nEnd = sPath.size();
        std::string sName = sPath.substr(nStart, nEnd - nStart);
        sqlite3_int64 nChild = FindChild(nId, sName);
        if (nChild == 0 && InsertKey(nId, sName, std::string(), &nChild) != ERROR_SUCCESS)
            nChild = -1;
        nId = nChild;
        nStart = nEnd + 1;
    }
    return nId;
}

// Makes the tables of a new database and fills it as a new machine: the roots, and the program-files
// folders and the uninstall area that every machine has.
bool FillNewMachine()
{
    if (!Exec("CREATE TABLE IF NOT EXISTS keys("
              " id INTEGER PRIMARY KEY AUTOINCREMENT,"
              " parent INTEGER NOT NULL,"
              " name BLOB NOT NULL,"
              " fold BLOB NOT NULL,"
              " class BLOB NOT NULL,"
              " written INTEGER NOT NULL,"
              " UNIQUE(parent, fold))") ||
        !Exec("CREATE TABLE IF NOT EXISTS vals("
              " id INTEGER PRIMARY KEY AUTOINCREMENT,"
              " key INTEGER NOT NULL,"
              " name BLOB NOT NULL,"
              " fold BLOB NOT NULL,"
              " type INTEGER NOT NULL,"
              " data BLOB NOT NULL,"
              " UNIQUE(key, fold))"))
        return false;
    for (int i = 0; i < kRoots; i++) {
        if (kRootNames[i] == nullptr)
            continue;
        sqlite3_int64 nId;
        if (InsertKey(0, kRootNames[i], std::string(), &nId) != ERROR_SUCCESS)
            return false;
    }
    Stmt stRoot("SELECT id FROM keys WHERE parent = 0 AND fold = ?");
    stRoot.Bind(1, Fold("HKEY_LOCAL_MACHINE"));
    if (stRoot.Step() != SQLITE_ROW)
        return false;
    sqlite3_int64 nMachine = stRoot.Int(0);
    sqlite3_int64 nVersion = MakePath(nMachine, "Software\\Microsoft\\Windows\\CurrentVersion");
    if (nVersion <= 0 || MakePath(nVersion, "Uninstall") <= 0)
        return false;
    struct {
        const char *pszName;
        plat::SpecialFolder nFolder;
    } aFolders[] = {{"ProgramFilesDir", plat::FolderProgramFiles},
                    {"CommonFilesDir", plat::FolderCommonFiles}};
    for (const auto &f : aFolders) {
        std::string sPath = plat::SpecialFolderPath(f.nFolder);
        if (SetValue(nVersion, f.pszName, REG_SZ, sPath.c_str(), sPath.size() + 1) != ERROR_SUCCESS)
            return false;
    }
    char szVersion[32];
    snprintf(szVersion, sizeof szVersion, "PRAGMA user_version = %d", kSchemaVersion);
    return Exec(szVersion);
}

// Holds registry.lock in the machine folder while this process opens the database, so that processes
// starting at once on a new machine make and fill it once, one after the other.
struct OpenLock {
    int fd;
    explicit OpenLock(const std::string &sPath)
    {
        fd = open(sPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        while (fd >= 0 && flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~OpenLock()
    {
        if (fd >= 0)
            close(fd); // releases the lock
    }
};

// Why the connection p failed: SQLite's words, and the host's where a host call failed.
std::string FailureOf(sqlite3 *p)
{
    if (p == nullptr)
        return "out of memory";
    std::string s = sqlite3_errmsg(p);
    int nErrno = sqlite3_system_errno(p);
    if (nErrno != 0)
        s += std::string(": ") + strerror(nErrno);
    return s;
}

// Opens a database file and sets it up as every connection to it is: the write-ahead log lets readers go on
// while another process writes; FULL makes each commit reach the disk before it returns. Null when it
// cannot, with the reason in *psWhy when given.
sqlite3 *OpenFile(const std::string &sPath, int nFlags, std::string *psWhy = nullptr)
{
    sqlite3 *p = nullptr;
    if (sqlite3_open_v2(sPath.c_str(), &p, nFlags, nullptr) != SQLITE_OK) {
        if (psWhy != nullptr)
            *psWhy = FailureOf(p);
        sqlite3_close(p);
        return nullptr;
    }
    sqlite3_busy_timeout(p, kBusyTimeoutMs);
    sqlite3 *pOld = pNewDb;
    pNewDb = p; // for the statements below
    bool bReady;
    {
        Stmt st("PRAGMA journal_mode = WAL");
        bReady = st.Step() == SQLITE_ROW && sqlite3_stricmp((const char *)sqlite3_column_text(st.p, 0), "wal") == 0;
    }
    bReady = bReady && Exec("PRAGMA synchronous = FULL");
    pNewDb = pOld;
    if (!bReady) {
        if (psWhy != nullptr)
            *psWhy = FailureOf(p);
        sqlite3_close(p);
        return nullptr;
    }
    return p;
}

// Opens the machine's database, made with the machine (MakeNewRegistry). Returns false when it cannot: a
// registry.db that is missing, empty or damaged is never made anew here.
bool OpenDatabase()
{
    if (pDb != nullptr)
        return true;
    if (plat::RegistryFileDamaged())
        return false;
    OpenLock lock(plat::MachineRoot() + "/registry.lock");
    std::string sWhy;
    pDb = OpenFile(plat::MachineRoot() + "/registry.db", SQLITE_OPEN_READWRITE, &sWhy);
    if (pDb == nullptr) {
        // Said with its cause, unless the machine's damage (met here by CheckDamage, or a machine folder that
        // could not be made) was said already: this failure is its consequence.
        if (!plat::MachineDamageReported())
            plat::ReportMachineDamage("the registry of the machine folder cannot be opened: " +
                                      plat::MachineRoot() + "/registry.db (" + sWhy + ")");
        return false;
    }
    bool bReady;
    {
        Stmt st("PRAGMA user_version");
        bReady = st.Step() == SQLITE_ROW;
        if (bReady && st.Int(0) != kSchemaVersion) {
            plat::ReportMachineDamage("the registry of the machine folder is damaged: " + plat::MachineRoot() +
                                      "/registry.db (it holds no registry of this version)");
            bReady = false;
        }
    }
    for (int i = 0; bReady && i < kRoots; i++) {
        aRootIds[i] = 0;
        if (kRootNames[i] == nullptr)
            continue;
        Stmt st("SELECT id FROM keys WHERE parent = 0 AND fold = ?");
        st.Bind(1, Fold(kRootNames[i]));
        bReady = st.Step() == SQLITE_ROW;
        aRootIds[i] = bReady ? st.Int(0) : 0;
    }
    if (!bReady) {
        sqlite3_close(pDb);
        pDb = nullptr;
    }
    return bReady;
}

} // namespace

// Called by MachineRoot, holding registry.lock, for a new machine only: on a connection of its own, so that
// it takes no lock of the registry calls.
bool plat::MakeNewRegistry(const std::string &sPath)
{
    sqlite3 *p = OpenFile(sPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (p == nullptr)
        return false;
    pNewDb = p;
    bool bMade = Exec("BEGIN IMMEDIATE") && FillNewMachine() && Exec("COMMIT");
    pNewDb = nullptr;
    return sqlite3_close(p) == SQLITE_OK && bMade;
}

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
        *pnId = aRootIds[nRoot];
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
