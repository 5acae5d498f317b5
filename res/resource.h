// resource.h - the identifiers of the installer's resources: the wizard dialog and its controls, the
// welcome bitmap, the program icon and the string table.
#pragma once

#define IDD_WIZARD 20000

#define IDC_BACK 100
#define IDC_NEXT 101
#define IDC_PICTURE 200
#define IDC_PICTURE_TEXT 201
#define IDC_TEXT 300
#define IDC_TEXT_LABEL 301
#define IDC_OPTION_TEXT 400
#define IDC_OPTION_CHECK 401
#define IDC_FINAL_TEXT 500

#define IDB_WELCOME 1100
#define IDI_SETUP 1150

// IDS_TITLE to IDS_CLOSE, and IDS_UN_TITLE to IDS_UN_CLOSE, are consecutive in the order of the wizard's
// configuration record (WizConfigLoad).
#define IDS_TITLE 1000
#define IDS_BACK 1001
#define IDS_NEXT 1002
#define IDS_FINISH 1003
#define IDS_CANCEL 1004
#define IDS_CLOSE 1005
#define IDS_WELCOME 1010
#define IDS_REINSTALL 1011
#define IDS_REINSTALL_CHECK 1012
#define IDS_INSTALLING 1017
#define IDS_UPGRADE 1018
#define IDS_UPGRADE_CHECK 1019
// The progress line while the package is checked (by percent, or MB read when its size is unknown), then
// unpacked (file n of m, with the percent of the package's bytes when known)
#define IDS_PROGRESS_CHECK 1020
#define IDS_PROGRESS_CHECK_MB 1021
#define IDS_PROGRESS_FILES 1022
#define IDS_PROGRESS_FILES_COUNT 1023
// A folder the program needs cannot be named in the system's code page (the installer's, the uninstaller's).
#define IDS_NO_NAMES 1030
#define IDS_UN_NO_NAMES 1031
#define IDS_DONE 1050
#define IDS_CANCELLED 1051
#define IDS_INCOMPLETE 1052
#define IDS_NO_SHORTCUT 1061
#define IDS_OLDER_LEFT 1062
#define IDS_NO_PATHS 1071
#define IDS_NO_ENTRY 1072
#define IDS_NO_FOLDER 1073
#define IDS_NO_COPY 1074
#define IDS_NO_OPEN 1075
#define IDS_NO_CREATE 1076
#define IDS_NO_WRITE 1077
#define IDS_NO_READ 1078
#define IDS_NO_MEMORY 1079
#define IDS_NO_TAKEOVER 1083
#define IDS_DATA_LEFT 1084
// The check of the package before anything changes: damaged (contents, cut, bytes over, sum), unreadable.
#define IDS_PKG_DAMAGED 1085
#define IDS_PKG_SHORT 1086
#define IDS_PKG_EXTRA 1087
#define IDS_PKG_SUM 1088
#define IDS_PKG_UNREADABLE 1089
// Another installer or uninstaller runs, or whether one does cannot be told (runlock.cpp).
#define IDS_BUSY 1090
#define IDS_LOCK_FAILED 1091

// The uninstaller's texts (uninst.rc), in the same order as the installer's.
#define IDS_UN_TITLE 2000
#define IDS_UN_BACK 2001
#define IDS_UN_NEXT 2002
#define IDS_UN_FINISH 2003
#define IDS_UN_CANCEL 2004
#define IDS_UN_CLOSE 2005
#define IDS_UN_WELCOME 2010
#define IDS_UN_DATA 2011
#define IDS_UN_DATA_CHECK 2012
#define IDS_UN_WORKING 2017
#define IDS_UN_NOTHING 2020
#define IDS_UN_UNREADABLE 2021
// The progress line while the files and folders are removed (their count)
#define IDS_UN_PROGRESS 2022
#define IDS_UN_DONE 2050
#define IDS_UN_CANCELLED 2051
#define IDS_UN_INCOMPLETE 2052
#define IDS_UN_NOT_INSTALLED 2060
#define IDS_UN_FILE_LEFT 2061
#define IDS_UN_DIR_LEFT 2062
#define IDS_UN_DIR_LINK 2063
#define IDS_UN_LINK_LEFT 2064
#define IDS_UN_ENTRY_LEFT 2065
#define IDS_UN_DATA_KEPT 2066
#define IDS_UN_NO_PATHS 2067
#define IDS_UN_DIR_BUSY 2068
#define IDS_UN_OTHER_DIR 2069
#define IDS_UN_NO_REGISTRY 2070
// Another installer or uninstaller runs, or whether one does cannot be told (runlock.cpp).
#define IDS_UN_BUSY 2071
#define IDS_UN_LOCK_FAILED 2072
