// version.h - the version of the programs and what they say of themselves: the version resource of both
// programs (version.rc) and the uninstall entry's DisplayVersion take their values from here.
#pragma once

#define KAL_VERSION 6, 1, 0, 0        // file and product version, as four numbers
#define KAL_VERSION_TEXT "6.1.0.0"    // the same, as the version resource's strings say it
#define KAL_DISPLAY_VERSION "6.1"     // the uninstall entry's DisplayVersion
#define KAL_PRODUCT_NAME "Kalmorist 6.1"

// Each program's description and file name: its script names the pair it shows before including
// wizard.rc (KAL_FILE_DESCRIPTION, KAL_FILE_NAME).
#define KAL_SETUP_DESCRIPTION "Установка Kalmorist 6.1"
#define KAL_SETUP_NAME "Setup"
#define KAL_UNINST_DESCRIPTION "Удаление Kalmorist 6.1"
#define KAL_UNINST_NAME "Uninst"
