// machine.cpp - the emulated Windows machine of the Linux build: one folder that holds drive C: and the
// registry, created on first use.

#include "platint.h"

#include <stdlib.h>

#include <filesystem>

namespace plat {

std::string MachineRoot()
{
    static std::string sRoot;

    if (sRoot.empty()) {
        const char *pszRoot = getenv("PLAT_ROOT");
        if (pszRoot != nullptr && *pszRoot != '\0') {
            sRoot = pszRoot;
        } else {
            const char *pszHome = getenv("HOME");
            sRoot = std::string(pszHome != nullptr ? pszHome : "/tmp") + "/.local/share/plat/machine";
        }
        std::error_code ec;
        std::filesystem::create_directories(sRoot + "/drive_c", ec);
    }
    return sRoot;
}

} // namespace plat
