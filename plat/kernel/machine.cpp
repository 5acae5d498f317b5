// machine.cpp - the emulated Windows machine of the Linux build: one folder that holds drive C: and the
// registry, made with its special folders and its registry on first use when it is new, and checked
// otherwise: a damaged folder is never made anew.

#include "kernel/kernel.h"
#include "advapi/advapi.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;

namespace plat {

// What MachineRoot found wrong with the machine folder: the message for each part, empty when it is sound.
static std::string sRegistryDamage, sDriveCDamage;

// Marks a machine folder being made, until it is whole: a making cut short is taken up again.
static const char kUnfinished[] = "machine.unfinished";

// Whether the machine folder is new: nothing in it but the locks and the mark of an unfinished making.
static bool IsNewMachineFolder(const std::string &sRoot)
{
    DIR *d = opendir(sRoot.c_str());
    if (d == nullptr)
        return false;
    bool bEmpty = true;
    while (struct dirent *e = readdir(d)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0 &&
            strcmp(e->d_name, "registry.lock") != 0 && strcmp(e->d_name, kUnfinished) != 0 &&
            strcmp(e->d_name, "objects.lock") != 0)
            bEmpty = false;
    }
    closedir(d);
    return bEmpty;
}

// Makes the special folders under drive_c; false (and the reason in *pec) when one cannot be made.
static bool MakeSpecialFolders(const std::string &sRoot, std::error_code *pec)
{
    static const SpecialFolder aFolders[] = {FolderProgramFiles, FolderCommonFiles, FolderPrograms,
                                             FolderDesktop,      FolderDocuments,   FolderTemp};
    for (SpecialFolder nFolder : aFolders) {
        std::string sPath = AnsiToUtf8(SpecialFolderPath(nFolder).substr(3));
        for (char &c : sPath)
            if (c == '\\')
                c = '/';
        fs::create_directories(sRoot + "/drive_c/" + sPath, *pec);
        if (*pec && !fs::is_directory(sRoot + "/drive_c/" + sPath))
            return false;
    }
    pec->clear();
    return true;
}

// Makes a new machine in sRoot, or checks an existing one. Runs holding registry.lock, so that processes
// starting at once on a new machine make it once.
static void MakeOrCheckMachine(const std::string &sRoot)
{
    std::string sMark = sRoot + "/" + kUnfinished;
    std::string sRegistry = sRoot + "/registry.db";
    struct stat st;
    if (lstat(sMark.c_str(), &st) == 0 || IsNewMachineFolder(sRoot)) {
        std::error_code ec;
        int fd = open(sMark.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0)
            close(fd);
        // What an unfinished making left of the registry holds nothing yet: it is made again.
        for (const char *pszSuffix : {"", "-wal", "-shm", "-journal"})
            unlink((sRegistry + pszSuffix).c_str());
        bool bMade = fd >= 0 && MakeSpecialFolders(sRoot, &ec) && MakeNewRegistry(sRegistry);
        if (bMade && unlink(sMark.c_str()) == 0)
            return;
        // Every later call on the machine fails; say once why.
        std::string sWhy = ec ? ec.message() : fd < 0 ? strerror(errno) : "the registry cannot be made";
        ReportMachineDamage("cannot make the machine folder " + sRoot + " (PLAT_ROOT): " + sWhy);
        return;
    }
    // An existing machine: its registry and drive C: must be there; neither is made anew, so that a
    // damaged folder is never taken for a new machine and the record of what is installed kept.
    bool bRegistry = stat(sRegistry.c_str(), &st) == 0;
    bool bDriveC = stat((sRoot + "/drive_c").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    if (!bRegistry)
        sRegistryDamage = "the registry of the machine folder is missing: " + sRegistry +
                          (bDriveC ? " (drive_c is there: the folder is no new machine)"
                                   : " (the folder is not empty: it is no new machine)");
    else if (stat(sRegistry.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0)
        sRegistryDamage = "the registry of the machine folder is damaged: " + sRegistry + " (the file is empty)";
    if (!bDriveC)
        sDriveCDamage = "drive C: of the machine folder is missing: " + sRoot + "/drive_c" +
                        (bRegistry ? " (the registry is there: the folder is no new machine)"
                                   : " (the folder is not empty: it is no new machine)");
    std::error_code ec;
    if (bDriveC) // the special folders every machine has
        MakeSpecialFolders(sRoot, &ec);
}

std::string MachineRoot()
{
    static std::string sRoot;
    static std::once_flag once;

    std::call_once(once, [] {
        std::string s = MachineFolderPath();
        std::error_code ec;
        sRoot = s;
        fs::create_directories(s, ec);
        if (!fs::is_directory(s)) {
            ReportMachineDamage("cannot make the machine folder " + s +
                                " (PLAT_ROOT): " + (ec ? ec.message() : std::string("not a folder")));
            return;
        }
        // The lock cannot be had in a folder this process may not write; such a machine is only looked at.
        int fd = open((s + "/registry.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        while (fd >= 0 && flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        MakeOrCheckMachine(s);
        // The named objects' locks (sync.cpp), made with the machine so that it is there before anything
        // runs on it: locks change nothing in it after that.
        int fdObjects = open(ObjectLockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fdObjects >= 0)
            close(fdObjects);
        if (fd >= 0)
            close(fd);
    });
    return sRoot;
}

std::string ObjectLockPath()
{
    return MachineFolderPath() + "/objects.lock";
}

bool RegistryFileDamaged()
{
    MachineRoot();
    if (sRegistryDamage.empty())
        return false;
    ReportMachineDamage(sRegistryDamage);
    return true;
}

bool DriveCMissing()
{
    MachineRoot();
    if (sDriveCDamage.empty())
        return false;
    ReportMachineDamage(sDriveCDamage);
    return true;
}

} // namespace plat
