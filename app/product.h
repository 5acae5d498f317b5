// product.h - the installed application's identity and what belongs to it: its names, its uninstall entry,
// its folders and files, and the patterns of the user's data. One table for the installer and the
// uninstaller, so that what one makes the other removes.
#pragma once

extern const char szInstallKey[];     // the application folder's name and the uninstall entry's key name
extern const char szDisplayName[];    // the entry's DisplayName
extern const char szDisplayVersion[]; // the entry's DisplayVersion
extern const char szPublisher[];      // the entry's Publisher, given to the build; empty: none is written
extern const char szLinkName[];       // the shortcuts' file name: the display name followed by ".lnk"
extern const char szProgramName[];    // the program the shortcuts start
extern const char szUninstaller[];    // the uninstaller's file name in the application folder
extern const char szPackage[];        // the package beside the installer
extern const char szUninstallArea[];  // the uninstall area under HKEY_LOCAL_MACHINE
extern const char szInstallEntry[];   // this version's entry under HKEY_LOCAL_MACHINE
extern const char szOlderVersions[];  // key names of older versions, ";" between them, in order of preference

extern const char *const pszInstallDirs[];   // sub-folders of the application folder; null ends the list
extern const char *const pszInstallFiles[];  // the package's n-th file goes to the n-th path; null ends it
extern const char *const pszTakeOverFiles[]; // the user's data: "FOLDER\MASK" relative to the application folder

// Whether a path relative to the application folder names one of the user's data files: its folder part is
// the folder of a pattern of pszTakeOverFiles (case ignored) and its name matches the pattern's mask.
int ProdIsUserData(const char *szRelPath);

// The same, telling which pattern: 1 for the first of pszTakeOverFiles, 2 for the second, ...; 0 for none.
int ProdUserDataPattern(const char *szRelPath);

// Whether a file name, wherever the file lies, is of the kinds of the user's data: it matches the mask of a
// pattern of pszTakeOverFiles (case ignored), as "dom.SC1" does and "x.sc1x" does not.
int ProdIsDataName(const char *szName);
