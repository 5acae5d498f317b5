// plat-boot.cpp - the start of the emulated machine ($PLAT_ROOT) on Linux: carries out the file operations
// programs left for the next start (MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT) in the order they were
// made, then removes them from the registry, as the platform's session manager does before anything else
// runs. Prints nothing when all went; one line on standard error for each operation that failed (it is
// removed all the same, as at the platform's start). Exit code 0, or 1 when the machine folder is missing
// or damaged (nothing is carried out then), 2 for bad usage.

#include "kernel/kernel.h"

#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

int main(int argc, char **argv)
{
    (void)argv;
    if (argc != 1) {
        fprintf(stderr, "usage: plat-boot\n"
                        "Carries out the file operations left for the start of the machine $PLAT_ROOT\n"
                        "(default ~/.local/share/plat/machine).\n");
        return 2;
    }
    // A machine that is not there is not made by starting it.
    std::string sFolder = plat::MachineFolderPath();
    struct stat st;
    if (stat(sFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        fprintf(stderr, "plat-boot: there is no machine folder %s (PLAT_ROOT)\n", sFolder.c_str());
        return 1;
    }
    // A damaged folder is said by the platform itself, once; its operations wait for it to be mended.
    if (plat::RegistryFileDamaged() || plat::DriveCMissing())
        return 1;
    std::vector<std::string> aFailures;
    bool bDone = plat::RunPendingFileOperations(&aFailures);
    for (const std::string &s : aFailures)
        fprintf(stderr, "plat-boot: %s\n", s.c_str());
    if (!bDone && !plat::MachineDamageReported())
        fprintf(stderr, "plat-boot: the registry of the machine cannot be read or changed\n");
    return bDone && !plat::MachineDamageReported() ? 0 : 1;
}
