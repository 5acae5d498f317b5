// machinedir.cpp - where the emulated machine's folder is, its user and the Windows paths of its special
// folders, and the once-only report of what is wrong with it. Nothing here makes or checks the folder (see
// machine.cpp), so tools that must not make a machine can ask where it is.

#include "kernel/kernel.h"

#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <set>

namespace fs = std::filesystem;

namespace plat
{

// The user's name as the host spells it (UTF-8).
static std::string UserNameUtf8()
{
    static std::string sUser;

    if (sUser.empty()) {
        struct passwd *pw = getpwuid(geteuid());
        if (pw != nullptr && pw->pw_name != nullptr && *pw->pw_name != '\0')
            sUser = pw->pw_name;
        else
            sUser = "user";
    }
    return sUser;
}

std::string UserName()
{
    return Utf8ToAnsi(UserNameUtf8());
}

std::string SpecialFolderPath(SpecialFolder nFolder)
{
    return Utf8ToAnsi(SpecialFolderPathUtf8(nFolder));
}

std::string SpecialFolderPathUtf8(SpecialFolder nFolder)
{
    std::string sProfile = "C:\\users\\" + UserNameUtf8();
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

std::string MachineFolderPath()
{
    const char *pszRoot = getenv("PLAT_ROOT");
    std::string s;
    if (pszRoot != nullptr && *pszRoot != '\0') {
        s = pszRoot;
    } else {
        const char *pszHome = getenv("HOME");
        s = std::string(pszHome != nullptr ? pszHome : "/tmp") + "/.local/share/plat/machine";
    }
    std::error_code ec;
    fs::path p = fs::absolute(s, ec).lexically_normal();
    s = p.string();
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

static std::mutex mxDamage;
static std::set<std::string> setReported;

void ReportMachineDamage(const std::string &sMessage)
{
    std::lock_guard<std::mutex> lock(mxDamage);
    if (setReported.insert(sMessage).second)
        fprintf(stderr, "plat: %s\n", sMessage.c_str());
}

bool MachineDamageReported()
{
    std::lock_guard<std::mutex> lock(mxDamage);
    return !setReported.empty();
}

} // namespace plat
