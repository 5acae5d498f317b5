// notify.cpp - shell change notifications for the Linux build. No shell listens here: each notification is
// appended as one line to shell-notify.log in the machine folder, for tests and people to read.
//
// A line is the event's name (CREATE, DELETE, MKDIR, RMDIR, ...; 0x... for others) and its items, separated
// by tabs, in UTF-8: paths as given, numbers in hex, an item list as "(item list)".

#include "platint.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include <shlobj.h>

namespace plat {

std::string NotifyLogPath()
{
    return MachineRoot() + "/shell-notify.log";
}

static std::string EventName(LONG nEvent)
{
    static const struct {
        LONG nEvent;
        const char *pszName;
    } aNames[] = {
        {SHCNE_RENAMEITEM, "RENAMEITEM"},
        {SHCNE_CREATE, "CREATE"},
        {SHCNE_DELETE, "DELETE"},
        {SHCNE_MKDIR, "MKDIR"},
        {SHCNE_RMDIR, "RMDIR"},
        {SHCNE_ATTRIBUTES, "ATTRIBUTES"},
        {SHCNE_UPDATEDIR, "UPDATEDIR"},
        {SHCNE_UPDATEITEM, "UPDATEITEM"},
        {SHCNE_RENAMEFOLDER, "RENAMEFOLDER"},
        {SHCNE_ASSOCCHANGED, "ASSOCCHANGED"},
    };
    for (const auto &n : aNames)
        if (n.nEvent == nEvent)
            return n.pszName;
    char sz[16];
    snprintf(sz, sizeof sz, "0x%08lx", (unsigned long)(DWORD)nEvent);
    return sz;
}

static std::string ItemText(UINT nType, LPCVOID pItem)
{
    if (pItem == NULL)
        return std::string();
    switch (nType) {
    case SHCNF_PATHA:
        return AnsiToUtf8((const char *)pItem);
    case SHCNF_PATHW: {
        const WCHAR *pw = (const WCHAR *)pItem;
        int n = WideCharToMultiByte(CP_UTF8, 0, pw, -1, NULL, 0, NULL, NULL);
        std::string s(n > 0 ? (size_t)n : 1, '\0');
        if (n > 0)
            WideCharToMultiByte(CP_UTF8, 0, pw, -1, &s[0], n, NULL, NULL);
        s.resize(strlen(s.c_str()));
        return s;
    }
    case SHCNF_DWORD: {
        char sz[16];
        snprintf(sz, sizeof sz, "0x%08lx", (unsigned long)*(const DWORD *)pItem);
        return sz;
    }
    case SHCNF_IDLIST:
        return "(item list)";
    default:
        return "(item)";
    }
}

// The record stays open from the first notification on. Each line is one write with O_APPEND, so that lines
// of several processes do not mix. A record removed meanwhile (a test starting afresh, a person clearing it)
// is made again: a notification never goes to a file that is no longer there.
static std::mutex mxRecord;
static int fdRecord = -1;

static void AppendNotifyLine(const std::string &sLine)
{
    std::lock_guard<std::mutex> lock(mxRecord);
    struct stat st;
    if (fdRecord >= 0 && (fstat(fdRecord, &st) != 0 || st.st_nlink == 0)) {
        close(fdRecord);
        fdRecord = -1;
    }
    if (fdRecord < 0)
        fdRecord = open(NotifyLogPath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fdRecord >= 0) {
        ssize_t n = write(fdRecord, sLine.data(), sLine.size());
        (void)n;
    }
}

} // namespace plat

void WINAPI SHChangeNotify(LONG wEventId, UINT uFlags, LPCVOID dwItem1, LPCVOID dwItem2)
{
    UINT nType = uFlags & SHCNF_TYPE;
    std::string sLine = plat::EventName(wEventId);

    if (dwItem1 != NULL || dwItem2 != NULL)
        sLine += "\t" + plat::ItemText(nType, dwItem1);
    if (dwItem2 != NULL)
        sLine += "\t" + plat::ItemText(nType, dwItem2);
    sLine += "\n";
    plat::AppendNotifyLine(sLine);
}
