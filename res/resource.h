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
