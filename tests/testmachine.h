// testmachine.h - a fresh emulated machine for a Linux test program: a temporary PLAT_ROOT of its own, made
// before the first platform call and removed when the program ends (never the user's machine).
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

// Makes the machine folder and points PLAT_ROOT at it; returns its host path. Processes the test starts
// inherit PLAT_ROOT and so share the machine; only the process that made it removes it.
inline std::string TestMachineMake()
{
    static std::string sRoot;
    static pid_t nOwner;

    if (!sRoot.empty())
        return sRoot;
    const char *pszTmp = getenv("TMPDIR");
    std::string sTemplate =
        std::string(pszTmp != nullptr && *pszTmp != '\0' ? pszTmp : "/tmp") + "/kalmachine.XXXXXX";
    if (mkdtemp(&sTemplate[0]) == nullptr)
        abort();
    sRoot = sTemplate;
    nOwner = getpid();
    setenv("PLAT_ROOT", sRoot.c_str(), 1);
    atexit([] {
        if (getpid() == nOwner) {
            std::error_code ec;
            std::filesystem::remove_all(sRoot, ec);
        }
    });
    return sRoot;
}
