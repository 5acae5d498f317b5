// testkit.h - what the test programs share: the machine they run on (the program-files folder this process
// sees, host paths, the shell's folders), small files made and read through the platform, and the texts
// of the program's string table. The same calls on Linux over plat/ and on Windows.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The program-files folder as this process sees it: a 32-bit process on 64-bit Windows is given the folder
// of 32-bit programs.
std::string ProgramFiles();

// The host's path of a Windows path on drive C: of this machine: the Linux build's machine folder
// (PLAT_ROOT), or the Wine prefix the Windows build runs in. On Linux it is UTF-8, as the host names files;
// on Windows it stays in the ANSI code page, which CreateProcessA turns into the host's UTF-8. Empty for a
// path elsewhere, or when there is no machine folder.
std::string HostPath(const std::string &sWin);

// A file of the source tree's test data as a path of the platform: drive Z: is the host's root both under
// Wine and in the Linux build.
std::string DataPath(const char *pszName);

// The name of the running test.
std::string TestName();

// Creates or replaces a file holding sData, with the attribute bits given. False when it cannot be made or
// written whole.
bool WriteBytes(const std::string &sPath, const std::string &sData, DWORD dwAttributes = 0);
// The same as a step of a test: a file that cannot be made fails the test.
void PutFile(const std::string &sPath, const std::string &sData = "data", DWORD dwAttributes = 0);
// A file's whole contents; "<cannot open>" when it does not open.
std::string ReadBytes(const std::string &sPath);
// Whether anything (file or folder) is at the path.
bool Exists(const std::string &sPath);
// Deletes a file, read-only or not; the outcome is not looked at.
void Remove(const std::string &sPath);
// The files below a folder, relative to it ("Sub\\name"), sorted; folders are entered, not listed.
std::vector<std::string> FilesUnder(const std::string &sDir);

// The path of a shortcut named sName (with its ".lnk") in one of the shell's folders (FOLDER_PROGRAMS,
// FOLDER_DESKTOP); a folder that cannot be had fails the test.
std::string ShortcutPath(int nFolder, const std::string &sName);

// A text of the running program's string table; empty when it has none of that number.
std::string Text(int nId);
// The same with its "%s" replaced by sArg.
std::string Formatted(int nId, const std::string &sArg);
