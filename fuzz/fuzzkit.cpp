// fuzzkit.cpp - what the fuzz targets share: a machine of their own.

#include "fuzzkit.h"

#include <stdlib.h>

#include <string>

void FuzzMachine(void)
{
    const char *pszTmp = getenv("TMPDIR");
    static std::string sRoot = std::string(pszTmp != NULL && *pszTmp ? pszTmp : "/tmp") + "/kalfuzz.XXXXXX";
    if (mkdtemp(&sRoot[0]) == NULL)
        abort();
    setenv("PLAT_ROOT", sRoot.c_str(), 1);
}
