// package.h - the installation package: nameless entries of a 32-byte header and the file's bytes, and the
// streams that write a package and read it back (plain, or compressed as a whole with the platform's LZ).
#pragma once

#include "platform.h"

#define PKG_MAX_STREAMS 8
#define PKG_BUFFER_SIZE 0x10000

// Status codes of PkgPackFile and PkgUnpackFile
#define PKG_OK 0
#define PKG_ERR_OPEN 1
#define PKG_ERR_CREATE 2
#define PKG_ERR_WRITE 3
#define PKG_ERR_READ 4
#define PKG_ERR_MEMORY 5
#define PKG_EXISTS 6 // PkgUnpackNewFile: a file is there already and stays

// The attribute bits an entry carries: read-only, hidden and system.
#define PKG_ATTRIBUTES 7

// One entry's header, 32 bytes, little-endian, followed by dwSize bytes of the file.
struct PkgHeader {
    DWORD dwAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwSize;
};

// Opens a package for writing (bWrite non-zero: created or replaced) or for reading (plain or LZ-compressed).
// Returns a stream handle 1..PKG_MAX_STREAMS, or 0 when no slot is free or the file does not open.
int PkgOpen(const char *szFileName, int bWrite);

// Raw transfer on a stream of the right direction: the count moved (0 for nSize 0, and at the end of a
// package when reading), or -1 for a bad handle, a stream of the other direction or a platform failure.
int PkgWrite(int hPkg, const void *pData, int nSize);
int PkgRead(int hPkg, void *pData, int nSize);

// A function PkgRead calls after each successful read with the count read (more than 0), so that a long
// read of the package can show its progress and keep the window answering. NULL (the default) calls none.
typedef void (*PkgReadHook)(int nBytes);
void PkgSetReadHook(PkgReadHook pfnHook);

// Ends a stream. 1 on success and for handle 0; 0 for a handle that is not open, or when the package
// written cannot be closed.
int PkgClose(int hPkg);

// Appends the file as one entry to a write stream, or extracts the next entry of a read stream into the
// file (created or replaced, with the entry's attributes and times). Return a status code; after any
// status but PKG_OK the stream is out of step and is only fit to be closed. Unpacking writes the file whole
// under its name with ".~pk" appended and then puts it in place in one step: a file being replaced keeps
// its bytes until then, and after a failure it is as it was (a new file is not there).
int PkgPackFile(int hPkg, const char *szFileName);
int PkgUnpackFile(int hPkg, const char *szFileName);
// The same, but a file already at szFileName is never replaced: the entry is then passed over, the file left
// as it is, and the status is PKG_EXISTS (the stream stays in step). Only the platform's move that refuses
// to replace decides, and a file must be found there after it refused: any other answer is PKG_ERR_CREATE.
int PkgUnpackNewFile(int hPkg, const char *szFileName);

// Called by PkgRead after each successful read with the count read, so that a long read of the package can
// show its progress and keep the window answering; NULL (the default) for none.
typedef void (*PkgReadHook)(int nBytes);
void PkgSetReadHook(PkgReadHook pfnHook);

// ---------------------------------------------------------------------------------------------------------
// The package's sum: a trailer after the last entry (docs/package.md) with the XXH3-128 of each entry
// (header and data), of all the entries together (the hash of their hashes, in order), and of the trailer
// itself. A reader that reads only the entries it expects never reaches it.

#define PKG_SUM_MARK_SIZE 16
#define PKG_SUM_HASH_SIZE 16
#define PKG_SUM_FIXED 32          // mark, algorithm, entry count, the trailer's size, FFFFFFFF
#define PKG_SUM_MAX_ENTRIES 65536 // the most entries a sum covers
#define PKG_SUM_ALGORITHM 1       // XXH3-128
#define PKG_CHECK_BLOCK 0x100000  // PkgCheck reads the package in blocks of this many bytes
// The trailer's size for a package of n entries.
#define PKG_SUM_SIZE(n) (PKG_SUM_FIXED + PKG_SUM_HASH_SIZE * (n) + 2 * PKG_SUM_HASH_SIZE + PKG_SUM_MARK_SIZE)

// What a check of the package found. Only PKG_SUM_OK and PKG_SUM_NONE let it be installed.
#define PKG_SUM_OK 0     // the sum is there and every byte matches it
#define PKG_SUM_NONE 1   // no sum (as a package of any other writer); the entries asked for are whole
#define PKG_SUM_OPEN 2   // the package does not open
#define PKG_SUM_READ 3   // a read failed
#define PKG_SUM_MEMORY 4 // no memory for the check
#define PKG_SUM_SHORT 5 // the package ends early: inside an entry or its sum, or before the entries asked for
#define PKG_SUM_EXTRA 6 // bytes follow the sum
#define PKG_SUM_DAMAGED 7  // the sum itself is damaged
#define PKG_SUM_MISMATCH 8 // an entry's bytes differ from its sum, or the entries do not lead to the sum

// A reader of the sum, fed the package's bytes in order, in pieces of any size. Opaque; one per package.
struct PkgSum;

// A new reader, or NULL when there is no memory. PkgSumFree takes it back (NULL is allowed).
PkgSum *PkgSumBegin(void);
void PkgSumFree(PkgSum *pSum);
// Feeds the next nSize bytes of the package.
void PkgSumFeed(PkgSum *pSum, const void *pData, int nSize);
// Ends the feeding and says what the package is (PKG_SUM_OK ... PKG_SUM_MISMATCH, not OPEN or READ). A
// package without a sum passes when its first nNeeded entries are whole; nNeeded 0 asks for every byte to be
// in whole entries. A package with a sum passes only when it is exactly the entries and the sum they match.
int PkgSumEnd(PkgSum *pSum, int nNeeded);
// After PkgSumEnd: the number of whole entries read, and whether entry i (1-based) differs from its sum
// (always 0 when the package has no sum, or its sum is damaged).
int PkgSumEntries(const PkgSum *pSum);
int PkgSumEntryDamaged(const PkgSum *pSum, int i);

// Reads the whole package once through PkgRead, in blocks of PKG_CHECK_BLOCK bytes (so the read hook sees
// it), and says what it is: PkgSumEnd's answer, or PKG_SUM_OPEN, PKG_SUM_READ, PKG_SUM_MEMORY.
int PkgCheck(const char *szFileName, int nNeeded);

// Appends the sum to a plain package that has none, read back from the disk: the producing half of the
// check. Returns PKG_OK; PKG_ERR_OPEN when it does not open, PKG_ERR_READ when it cannot be read, is not
// whole entries, carries a sum already, holds more than PKG_SUM_MAX_ENTRIES or starts as a compressed file
// does (it would be read expanded: the sum goes on before compressing); PKG_ERR_WRITE when the
// trailer cannot be written (the package may then end in part of one); PKG_ERR_MEMORY.
int PkgAddSum(const char *szFileName);

// The package's size once expanded: the size its header gives when it is compressed in the platform's LZ
// format, else the file's size; 0 when it cannot be read. For progress only: the stream is what reads it.
DWORD PkgExpandedSize(const char *szPackagePath);

// Whether nSize bytes (up to a mark's size) are the start of the sum's mark, as far as they go, allowing for
// a few damaged bits: what a reader of entries meets where it expected a header.
int PkgSumIsMark(const void *pData, int nSize);
