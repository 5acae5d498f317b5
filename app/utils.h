// utils.h - file and path utilities: folder and name of a path, joining, full paths, the program's folder,
// and copying, deleting, making and removing files and folders, each change announced to the shell.
//
// Paths are ANSI strings of at most 259 characters. An operation that produces a path takes its output
// buffer first and the buffer's capacity nSize (bytes, terminator included) last; it empties the output on
// entry when nSize is above 0, never writes it when nSize is 0, and returns 0 when the result does not fit
// whole (the output then holds as much as fits).
#pragma once

#include "platform.h"

#define UTL_PATH_SIZE 260

// The deepest UtlDeleteTree enters a tree below its root.
#define UTL_TREE_DEPTH 100

int UtlGetDir(char *szDir, const char *szPath, int nSize);
int UtlGetName(char *szName, const char *szPath, int nSize);
int UtlJoinPath(char *szPath, const char *szDir, const char *szName, int nSize);
int UtlGetFullPath(char *szPath, const char *szName, int nSize);
int UtlGetModuleDir(char *szDir, int nSize);
int UtlNameable(const WCHAR *wszPath);
int UtlPathsNameable(void);
int UtlJoinEntry(char *szPath, const char *szDir, const char *szName, int nSize);

int UtlCopyFile(const char *szFileName, const char *szDestName);
int UtlCopyFileTo(const char *szFileName, const char *szTarget);
int UtlDeleteFile(const char *szFileName);
int UtlCreateDir(const char *szDirName);
int UtlRemoveDir(const char *szDirName);
int UtlDeleteTree(const char *szDirName);
