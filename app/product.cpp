// product.cpp - the installed application's identity, its folders and files, and the user's data patterns,
// shared by the installer and the uninstaller.

#include "product.h"
#include "charstr.h"
#include "platform.h"
#include "sysassert.h"
#include "utils.h"
#include "version.h"

static const char szThisModule[] = "app\\PRODUCT";

// The installed application's identity.
const char szInstallKey[] = "Kalmor61";
const char szDisplayName[] = "Kalmorist 6.1";
const char szDisplayVersion[] = KAL_DISPLAY_VERSION;
#ifdef KAL_PUBLISHER
const char szPublisher[] = KAL_PUBLISHER;
#else
const char szPublisher[] = "";
#endif
const char szLinkName[] = "Kalmorist 6.1.lnk"; // the display name followed by ".lnk"
const char szProgramName[] = "Kalmori.exe";
const char szUninstaller[] = "Uninst.exe";
const char szPackage[] = "Install.pkg";
const char szUninstallArea[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char szInstallEntry[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kalmor61";

// Key names of older versions in the uninstall area, in order of preference.
const char szOlderVersions[] = "Kalmori6; Kalmori5";

// Sub-folders of the application folder, created in this order.
const char *const pszInstallDirs[] = {"Katalogy", "Modely", NULL};

// The n-th file of the package is written to the n-th path of this table.
const char *const pszInstallFiles[] = {
    "Kalmori.exe",
    "Kalmori.hlp",
    "Kalmori.cnt",
    "Kalmori.lgo",
    "Trevan.lgo",
    "Trevan.pdf",
    "Katalogy\\StavPrv.kmc",
    "Katalogy\\StavPrv.bak",
    "Katalogy\\TvAgreg.kmc",
    "Katalogy\\TvAgreg.bak",
    "Modely\\Stul.gim",
    "Modely\\Stul.pdf",
    "Modely\\Zidle.gim",
    "Modely\\Zidle.pdf",
    "Modely\\Skrin.gim",
    "Modely\\Skrin.pdf",
    "Modely\\Postel.gim",
    "Modely\\Postel.pdf",
    "Modely\\Regal.gim",
    "Modely\\Regal.pdf",
    "Modely\\Komoda.gim",
    "Modely\\Komoda.pdf",
    "Modely\\Lavice.gim",
    "Modely\\Lavice.pdf",
    "Modely\\Police.gim",
    "Modely\\Police.pdf",
    "Modely\\Dvere.gim",
    "Modely\\Dvere.pdf",
    "Modely\\Okno.gim",
    "Modely\\Okno.pdf",
    "Modely\\Schody.gim",
    "Modely\\Schody.pdf",
    "Modely\\Kuchyn.gim",
    "Modely\\Kuchyn.pdf",
    "Modely\\Koupelna.gim",
    "Modely\\Koupelna.pdf",
    "Modely\\Garaz.gim",
    "Modely\\Garaz.pdf",
    "Modely\\Terasa.gim",
    "Modely\\Terasa.pdf",
    "Modely\\Plot.gim",
    "Modely\\Strecha.gim",
    "Modely\\Strecha.pdf",
    "Modely\\Sklep.gim",
    "Modely\\Podkrovi.gim",
    "Modely\\Podkrovi.pdf",
    "Modely\\Zahrada.gim",
    "Modely\\Zahrada.pdf",
    NULL,
};

// The user's data files of an older version, relative to its application folder.
const char *const pszTakeOverFiles[] = {"Katalogy\\*.kmc", "*.sc1", NULL};

int ProdIsUserData(const char *szRelPath)
{
    ASSERT(szRelPath != NULL);
    return ProdUserDataPattern(szRelPath) != 0;
}

int ProdUserDataPattern(const char *szRelPath)
{
    char szDir[UTL_PATH_SIZE];
    char szName[UTL_PATH_SIZE];

    ASSERT(szRelPath != NULL);
    if (!UtlGetDir(szDir, szRelPath, sizeof szDir) || !UtlGetName(szName, szRelPath, sizeof szName))
        return 0;
    for (int i = 0; pszTakeOverFiles[i] != NULL; i++) {
        char szPart[UTL_PATH_SIZE];
        char szMask[UTL_PATH_SIZE];
        if (UtlGetDir(szPart, pszTakeOverFiles[i], sizeof szPart) &&
            UtlGetName(szMask, pszTakeOverFiles[i], sizeof szMask) &&
            StrMatch(szDir, szPart, STR_NOCASE) && StrMatch(szName, szMask, STR_NOCASE | STR_WILDCARDS))
            return i + 1;
    }
    return 0;
}

int ProdIsDataName(const char *szName)
{
    ASSERT(szName != NULL);
    for (int i = 0; pszTakeOverFiles[i] != NULL; i++) {
        char szMask[UTL_PATH_SIZE];
        if (UtlGetName(szMask, pszTakeOverFiles[i], sizeof szMask) &&
            StrMatch(szName, szMask, STR_NOCASE | STR_WILDCARDS))
            return 1;
    }
    return 0;
}
