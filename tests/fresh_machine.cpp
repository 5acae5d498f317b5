// fresh_machine.cpp - linked into the Linux test programs that touch the emulated machine: before main runs,
// PLAT_ROOT names a new temporary folder, so that the first platform call makes a fresh machine there; the
// folder goes again when the program ends (KAL_KEEP_MACHINE=1 keeps it for a look).

#include <stdlib.h>
#include <stdio.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace {

struct FreshMachine {
    std::string sDir;
    pid_t nOwner = 0;
    FreshMachine()
    {
        // A test that starts processes of its own hands them its machine with KAL_TEST_MACHINE_INHERIT=1.
        const char *pszInherit = getenv("KAL_TEST_MACHINE_INHERIT");
        if (pszInherit != nullptr && *pszInherit == '1' && getenv("PLAT_ROOT") != nullptr)
            return;
        const char *pszTmp = getenv("TMPDIR");
        std::string sTemplate =
            std::string(pszTmp != nullptr && *pszTmp ? pszTmp : "/tmp") + "/kalmachine.XXXXXX";
        if (mkdtemp(&sTemplate[0]) == nullptr) {
            perror("mkdtemp");
            exit(2);
        }
        sDir = sTemplate;
        nOwner = getpid();
        setenv("PLAT_ROOT", sDir.c_str(), 1);
    }
    ~FreshMachine()
    {
        if (sDir.empty() || getpid() != nOwner) // inherited, or a forked child of the owner
            return;
        const char *pszKeep = getenv("KAL_KEEP_MACHINE");
        if (pszKeep != nullptr && *pszKeep == '1') {
            fprintf(stderr, "machine kept in %s\n", sDir.c_str());
            return;
        }
        std::error_code ec;
        // Read-only files go with their folder; folders are never made unwritable by the platform layer.
        std::filesystem::remove_all(sDir, ec);
    }
} theMachine;

} // namespace
