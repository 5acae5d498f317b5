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
