// machine.cpp - the emulated Windows machine of the Linux build: one folder that holds drive C: and the
// registry, created with its special folders on first use.

#include "platint.h"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

namespace plat {

std::string UserName()
{
    static std::string sUser;

    if (sUser.empty()) {
        struct passwd *pw = getpwuid(geteuid());
        if (pw != nullptr && pw->pw_name != nullptr && *pw->pw_name != '\0')
            sUser = Utf8ToAnsi(pw->pw_name);
        else
            sUser = "user";
    }
    return sUser;
}

std::string SpecialFolderPath(SpecialFolder nFolder)
{
    std::string sProfile = "C:\\users\\" + UserName();
    switch (nFolder) {
    case FolderProgramFiles:
        return "C:\\Program Files";
    case FolderCommonFiles:
        return "C:\\Program Files\\Common Files";
    case FolderPrograms:
        return sProfile + "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
    case FolderDesktop:
        return sProfile + "\\Desktop";
    case FolderDocuments:
        return sProfile + "\\Documents";
    case FolderTemp:
        return sProfile + "\\AppData\\Local\\Temp";
    }
    return std::string();
}

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
        static const SpecialFolder aFolders[] = {FolderProgramFiles, FolderCommonFiles, FolderPrograms,
                                                 FolderDesktop,      FolderDocuments,   FolderTemp};
        for (SpecialFolder nFolder : aFolders) {
            std::string sPath = AnsiToUtf8(SpecialFolderPath(nFolder).substr(3));
            for (char &c : sPath)
                if (c == '\\')
                    c = '/';
            std::error_code ec;
            std::filesystem::create_directories(sRoot + "/drive_c/" + sPath, ec);
        }
    }
    return sRoot;
}

} // namespace plat
