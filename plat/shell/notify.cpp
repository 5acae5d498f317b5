// notify.cpp - shell change notifications for the Linux build. No shell listens here: each notification is
// appended as one line to shell-notify.log in the machine folder, for tests and people to read.
//
// A line is the event's name (CREATE, DELETE, MKDIR, RMDIR, ...; 0x... for others) and its items, separated
// by tabs, in UTF-8: paths as given, numbers in hex, an item list as "(item list)".

#include "shell/shell.h"

#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
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

// The record stays open from the first notification on. As on the platform, a notification is queued and
// the call returns: the queue goes to the record in whole lines, by one write with O_APPEND so that lines of
// several processes do not mix, when a notification asks for it (SHCNF_FLUSH, SHCNF_FLUSHNOWAIT), when the
// queue is full or its first line has waited kQueueWaitNs, before the process starts another, when it waits
// for input, and when it ends. A process killed outright loses what it had queued. A record removed meanwhile
// (a test starting afresh, a person clearing it) is made again: lines never go to a file that is no longer
// there. The queue is a plain array, so that it is still there for the flush at exit.
static std::mutex mxRecord;
static int fdRecord = -1;
static char achQueue[16384];
static size_t nQueued;
static long long nQueuedAt;
static bool bAtExit;
static const long long kQueueWaitNs = 100 * 1000000LL;

static long long Now()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static void WriteRecord(const char *p, size_t n)
{
    struct stat st;
    if (fdRecord >= 0 && (fstat(fdRecord, &st) != 0 || st.st_nlink == 0)) {
        close(fdRecord);
        fdRecord = -1;
    }
    if (fdRecord < 0)
        fdRecord = open(NotifyLogPath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fdRecord >= 0) {
        ssize_t nWritten = write(fdRecord, p, n);
        (void)nWritten;
    }
}

static void FlushLocked()
{
    if (nQueued > 0)
        WriteRecord(achQueue, nQueued);
    nQueued = 0;
}

// A forked child starts with an empty queue: its parent's lines are its parent's to write. The lock is
// held across fork(), so that the child's copy is whole.
static void ForgetQueueInChild()
{
    nQueued = 0;
    mxRecord.unlock();
}

void FlushNotifications()
{
    std::lock_guard<std::mutex> lock(mxRecord);
    FlushLocked();
}

static void QueueNotifyLine(const std::string &sLine, bool bFlush)
{
    std::lock_guard<std::mutex> lock(mxRecord);
    if (!bAtExit) {
        bAtExit = true;
        atexit(FlushNotifications);
        pthread_atfork([] { mxRecord.lock(); }, [] { mxRecord.unlock(); }, ForgetQueueInChild);
    }
    if (nQueued + sLine.size() > sizeof achQueue)
        FlushLocked();
    if (sLine.size() > sizeof achQueue) {
        WriteRecord(sLine.data(), sLine.size());
        return;
    }
    if (nQueued == 0)
        nQueuedAt = Now();
    memcpy(achQueue + nQueued, sLine.data(), sLine.size());
    nQueued += sLine.size();
    if (bFlush || Now() - nQueuedAt >= kQueueWaitNs)
        FlushLocked();
}

} // namespace plat

void WINAPI SHChangeNotify(LONG wEventId, UINT uFlags, LPCVOID dwItem1, LPCVOID dwItem2)
{
    UINT nType = uFlags & SHCNF_TYPE;
    if (wEventId == 0 && dwItem1 == NULL && dwItem2 == NULL) { // no event: only the queue's flush
        if (uFlags & SHCNF_FLUSH)
            plat::FlushNotifications();
        return;
    }
    std::string sLine = plat::EventName(wEventId);

    if (dwItem1 != NULL || dwItem2 != NULL)
        sLine += "\t" + plat::ItemText(nType, dwItem1);
    if (dwItem2 != NULL)
        sLine += "\t" + plat::ItemText(nType, dwItem2);
    sLine += "\n";
    plat::QueueNotifyLine(sLine, (uFlags & SHCNF_FLUSH) != 0); // SHCNF_FLUSHNOWAIT holds its bit too
}
