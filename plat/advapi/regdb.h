// regdb.h - what the registry calls (reg.cpp) need from the registry's database (regdb.cpp): the
// connection, prepared statements, the folded form of names, the keys and values tables.
#pragma once

#include "advapi/advapi.h"

#include <sqlite3.h>

#include <string>

namespace plat::regdb
{

// The predefined roots, in the order of their handles' low bits (HKEY_PERFORMANCE_DATA, 4, is not kept).
extern const char *const kRootNames[];
const int kRoots = 6;

// The connection statements run on: the one a new machine's registry is being made on by this thread, else
// the registry's (null while it is not open).
sqlite3 *Db();
// A database file that SQLite finds malformed, or that is no database, is said once per process; rc is
// passed through.
int CheckDamage(int rc);

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

bool Exec(const char *pszSql);

// The folded form of a name (upper case by the code page, UTF-16 big-endian), which lookups and the order
// of sub-keys use.
std::string Fold(const std::string &sName);
// The time a key was written, as a FILETIME count.
sqlite3_int64 Now();

LSTATUS InsertKey(sqlite3_int64 nParent, const std::string &sName, const std::string &sClass,
                  sqlite3_int64 *pnId);
LSTATUS SetValue(sqlite3_int64 nKey, const std::string &sName, DWORD nType, const void *pData, size_t nData);
// Finds the sub-key nParent\sName; 0 when there is none, -1 on a database error.
sqlite3_int64 FindChild(sqlite3_int64 nParent, const std::string &sName);

// Whether the registry of the machine is open in this process.
bool RegistryOpen();
// Opens the registry of the machine folder sRoot, made with the machine (MakeNewRegistry); false, with the
// reason said once on standard error, when it cannot: a registry.db that is missing, empty or damaged is
// never made anew here.
bool OpenRegistry(const std::string &sRoot);
// The key id of the predefined root with index i (kRootNames), once the registry is open.
sqlite3_int64 RootId(int i);

} // namespace plat::regdb
