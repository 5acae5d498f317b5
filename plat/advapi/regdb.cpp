// regdb.cpp - the registry's database: one SQLite file in the machine folder, registry.db, made and filled
// with a new machine, opened once per process in write-ahead-log mode with full syncs, and the tables of
// keys and values the registry calls work on.
//
// Names are stored as given (code page 1251) next to a folded form (upper case, UTF-16 big-endian) that
// lookups and the order of sub-keys use, so names match case-insensitively and keep their case.

#include "advapi/regdb.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

namespace plat::regdb
{

const char *const kRootNames[kRoots] = {
    "HKEY_CLASSES_ROOT",  "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS", nullptr,
    "HKEY_CURRENT_CONFIG"};

namespace
{

const int kBusyTimeoutMs = 30000;
const int kSchemaVersion = 1;

sqlite3 *pDb;
sqlite3_int64 aRootIds[kRoots];
// The connection a new machine's registry is being made on, by this thread (MakeNewRegistry).
thread_local sqlite3 *pNewDb;

// The database connection, closed when the process ends so that its log is folded into the file.
struct DbCloser {
    ~DbCloser()
    {
        if (pDb != nullptr)
            sqlite3_close(pDb);
        pDb = nullptr;
    }
} theCloser;

} // namespace

sqlite3 *Db()
{
    return pNewDb != nullptr ? pNewDb : pDb;
}

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

bool Exec(const char *pszSql)
{
    return CheckDamage(sqlite3_exec(Db(), pszSql, nullptr, nullptr, nullptr)) == SQLITE_OK;
}

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

namespace
{

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
        bReady = st.Step() == SQLITE_ROW &&
                 sqlite3_stricmp((const char *)sqlite3_column_text(st.p, 0), "wal") == 0;
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

} // namespace

bool RegistryOpen()
{
    return pDb != nullptr;
}

bool OpenRegistry(const std::string &sRoot)
{
    OpenLock lock(sRoot + "/registry.lock");
    std::string sWhy;
    pDb = OpenFile(sRoot + "/registry.db", SQLITE_OPEN_READWRITE, &sWhy);
    if (pDb == nullptr) {
        // Said with its cause, unless the machine's damage (met here by CheckDamage, or a machine folder that
        // could not be made) was said already: this failure is its consequence.
        if (!plat::MachineDamageReported())
            plat::ReportMachineDamage("the registry of the machine folder cannot be opened: " + sRoot +
                                      "/registry.db (" + sWhy + ")");
        return false;
    }
    bool bReady;
    {
        Stmt st("PRAGMA user_version");
        bReady = st.Step() == SQLITE_ROW;
        if (bReady && st.Int(0) != kSchemaVersion) {
            plat::ReportMachineDamage("the registry of the machine folder is damaged: " + sRoot +
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

sqlite3_int64 RootId(int i)
{
    return aRootIds[i];
}

} // namespace plat::regdb

// Called by MachineRoot, holding registry.lock, for a new machine only: on a connection of its own, so that
// it takes no lock of the registry calls.
bool plat::MakeNewRegistry(const std::string &sPath)
{
    using namespace regdb;
    sqlite3 *p = OpenFile(sPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (p == nullptr)
        return false;
    pNewDb = p;
    bool bMade = Exec("BEGIN IMMEDIATE") && FillNewMachine() && Exec("COMMIT");
    pNewDb = nullptr;
    return sqlite3_close(p) == SQLITE_OK && bMade;
}
