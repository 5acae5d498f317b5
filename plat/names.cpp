// names.cpp - finding a host name without case in a folder, at a cost that does not grow with the folder.
//
// Each folder looked up is read once into an index of its names by their upper case (UpperName, the code
// page's own case tables), and the index is kept while it is known to be right:
//
// - On a local file system the folder is watched with inotify. The kernel queues an event for every entry
//   made, removed or renamed in the folder, by any process, before the call that made the change returns;
//   each lookup first applies the queued events to the indexes (the names are in the events), so a change
//   that was complete before the lookup is always seen, however close in time. A lost event (the queue
//   overflowed) drops every index.
// - Elsewhere (network and user-space file systems, where changes made by other machines raise no events,
//   or when inotify is not to be had) the index holds while the folder's change and modification times are
//   as they were when it was read. A folder's times come from a clock that ticks coarsely (a few
//   milliseconds, whole seconds on some file systems): two changes within one tick leave the same times.
//   So an index is trusted only when it was read more than a tick after the folder's last change; else it
//   answers the lookup that read it and the next lookup reads the folder again.
//
// Indexes are kept by the folder's device and inode, so a folder replaced under the same path (or reached
// through another path) is never answered from another folder's index. At most kMaxFolders folders and
// kMaxNames names are kept, the least recently used going first.

#include "platint.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <list>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace plat {

namespace {

const size_t kMaxFolders = 16;
const size_t kMaxNames = 250000;

struct FolderIndex {
    dev_t dev = 0;
    ino_t ino = 0;
    int wd = -1; // the inotify watch, or -1 when the times check the index
    struct timespec mtim = {}, ctim = {};
    bool bTrusted = false; // (by times) read more than a tick after the folder's last change
    size_t nNames = 0;
    // Upper-case ANSI name -> the host names (UTF-8) that have it; most have one.
    std::unordered_map<std::string, std::vector<std::string>> names;
};

using Key = std::pair<dev_t, ino_t>;

struct Indexes {
    std::mutex mutex;
    pid_t pid = 0;        // the process the inotify descriptor belongs to
    int fd = -1;          // inotify, or -1
    bool bByTimes = false; // for tests: no inotify, the times check every index
    long long nTestTick = 0; // for tests: the folders' times read as if their clock ticked this coarsely
    std::list<FolderIndex> lru; // most recently used first
    std::map<Key, std::list<FolderIndex>::iterator> byKey;
    std::unordered_map<int, std::list<FolderIndex>::iterator> byWatch;
    size_t nNames = 0;
};

Indexes &State()
{
    static Indexes *p = new Indexes; // never destroyed: lookups may come while the process ends
    return *p;
}

// The upper-case ANSI form of a host name; false for a name the platform cannot have (not in the code page).
bool KeyOf(const char *pszHost, std::string *psUpper)
{
    bool bLossy = false;
    std::string sAnsi = Utf8ToAnsi(pszHost, &bLossy);
    if (bLossy)
        return false;
    *psUpper = UpperName(sAnsi);
    return true;
}

void AddName(Indexes &s, FolderIndex &ix, const char *pszHost)
{
    std::string sUpper;
    if (strcmp(pszHost, ".") == 0 || strcmp(pszHost, "..") == 0 || !KeyOf(pszHost, &sUpper))
        return;
    std::vector<std::string> &v = ix.names[sUpper];
    for (const std::string &h : v)
        if (h == pszHost)
            return;
    v.push_back(pszHost);
    ix.nNames++;
    s.nNames++;
}

void RemoveName(Indexes &s, FolderIndex &ix, const char *pszHost)
{
    std::string sUpper;
    if (!KeyOf(pszHost, &sUpper))
        return;
    auto it = ix.names.find(sUpper);
    if (it == ix.names.end())
        return;
    std::vector<std::string> &v = it->second;
    for (size_t i = 0; i < v.size(); i++)
        if (v[i] == pszHost) {
            v.erase(v.begin() + (ptrdiff_t)i);
            ix.nNames--;
            s.nNames--;
            break;
        }
    if (v.empty())
        ix.names.erase(it);
}

void Drop(Indexes &s, std::list<FolderIndex>::iterator it)
{
    if (it->wd >= 0) {
        if (s.fd >= 0)
            inotify_rm_watch(s.fd, it->wd);
        s.byWatch.erase(it->wd);
    }
    s.nNames -= it->nNames;
    s.byKey.erase(Key(it->dev, it->ino));
    s.lru.erase(it);
}

void DropAll(Indexes &s)
{
    while (!s.lru.empty())
        Drop(s, s.lru.begin());
}

// The inotify descriptor of this process; a child of fork() must not read its parent's events.
void OpenWatches(Indexes &s)
{
    pid_t pid = getpid();
    if (s.pid == pid)
        return;
    if (s.fd >= 0) {
        // Inherited: the parent still reads it. The indexes are this process's copies; they go, and so do
        // the watch numbers, which belong to the parent's descriptor.
        s.byWatch.clear();
        for (FolderIndex &ix : s.lru)
            ix.wd = -1;
        close(s.fd);
        DropAll(s);
    }
    s.pid = pid;
    s.fd = s.bByTimes ? -1 : inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

// Applies the events queued since the last lookup.
void ReadEvents(Indexes &s)
{
    if (s.fd < 0)
        return;
    alignas(struct inotify_event) char buf[16384];
    for (;;) {
        ssize_t n = read(s.fd, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN) {
                // The descriptor no longer answers: nothing it watched can be trusted.
                DropAll(s);
                close(s.fd);
                s.fd = -1;
            }
            return;
        }
        for (ssize_t i = 0; i < n;) {
            const struct inotify_event *e = (const struct inotify_event *)(buf + i);
            i += (ssize_t)(sizeof(struct inotify_event) + e->len);
            if (e->mask & IN_Q_OVERFLOW) {
                DropAll(s);
                continue;
            }
            auto w = s.byWatch.find(e->wd);
            if (w == s.byWatch.end())
                continue;
            FolderIndex &ix = *w->second;
            if (e->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
                Drop(s, w->second);
                continue;
            }
            if (e->len == 0)
                continue;
            if (e->mask & (IN_CREATE | IN_MOVED_TO))
                AddName(s, ix, e->name);
            if (e->mask & (IN_DELETE | IN_MOVED_FROM))
                RemoveName(s, ix, e->name);
        }
    }
}

// Whether inotify sees every change of a folder on this file system: local ones only.
bool Watchable(const char *pszDir)
{
    struct statfs sf;
    if (statfs(pszDir, &sf) != 0)
        return false;
    switch ((unsigned long)sf.f_type) {
    case 0xEF53:     // ext2, ext3, ext4
    case 0x01021994: // tmpfs
    case 0x858458F6: // ramfs
    case 0x58465342: // xfs
    case 0x9123683E: // btrfs
    case 0xF2F52010: // f2fs
    case 0x3153464A: // jfs
    case 0x52654973: // reiserfs
    case 0x794C7630: // overlay
    case 0x4D44:     // vfat
    case 0x2011BAB0: // exfat
    case 0x5346544E: // ntfs
        return true;
    }
    return false;
}

long long Ns(const struct timespec &t)
{
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

// A folder time as this process reads it (for tests, cut down to a coarse tick).
long long TimeOf(const Indexes &s, const struct timespec &t)
{
    long long n = Ns(t);
    return s.nTestTick > 0 ? n - n % s.nTestTick : n;
}

// Whether the index is still the folder's: by its watch, else by the folder's times.
bool Current(const Indexes &s, const FolderIndex &ix, const struct stat &st)
{
    if (ix.wd >= 0)
        return true;
    return ix.bTrusted && TimeOf(s, ix.mtim) == TimeOf(s, st.st_mtim) && TimeOf(s, ix.ctim) == TimeOf(s, st.st_ctim);
}

// A tick of the clock the folder's times come from, as far as they tell: whole seconds (2 s, as on FAT)
// when both fall on a whole second, else none beyond the lag below.
long long TickNs(const Indexes &s, const struct stat &st)
{
    if (s.nTestTick > 0)
        return s.nTestTick;
    if (st.st_mtim.tv_nsec == 0 && st.st_ctim.tv_nsec == 0)
        return 2000000000LL;
    return 0;
}

// How far the kernel's clock for file times may run behind the real-time clock: it is read once a timer
// tick (a jiffy, at most 10 ms), so a change made after the index was read may carry a time before it.
const long long kClockLag = 20000000LL;

// Reads the folder into a new index, the most recently used; the end of the list when it cannot be read.
std::list<FolderIndex>::iterator Build(Indexes &s, const std::string &sDir, const struct stat &stDir)
{
    FolderIndex ix;
    ix.dev = stDir.st_dev;
    ix.ino = stDir.st_ino;
    // The watch first: a change while the folder is read is then an event, applied (harmlessly, names
    // are added and removed as sets) at the next lookup.
    if (s.fd >= 0 && Watchable(sDir.c_str())) {
        int wd = inotify_add_watch(s.fd, sDir.c_str(),
                                   IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                       IN_MOVE_SELF | IN_ONLYDIR);
        if (wd >= 0 && s.byWatch.count(wd) != 0) {
            // Already watched as another index: the same folder under a new number, or a number reused.
            Drop(s, s.byWatch[wd]);
            wd = inotify_add_watch(s.fd, sDir.c_str(),
                                   IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                       IN_MOVE_SELF | IN_ONLYDIR);
        }
        ix.wd = wd;
    }
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct stat st;
    DIR *d = opendir(sDir.c_str());
    if (d == nullptr || fstat(dirfd(d), &st) != 0 || st.st_dev != stDir.st_dev || st.st_ino != stDir.st_ino) {
        if (d != nullptr)
            closedir(d);
        if (ix.wd >= 0)
            inotify_rm_watch(s.fd, ix.wd);
        return s.lru.end();
    }
    ix.mtim = st.st_mtim;
    ix.ctim = st.st_ctim;
    long long nLast = std::max(TimeOf(s, st.st_mtim), TimeOf(s, st.st_ctim));
    ix.bTrusted = nLast + TickNs(s, st) + kClockLag < Ns(now);
    s.lru.push_front(std::move(ix));
    auto it = s.lru.begin();
    s.byKey[Key(it->dev, it->ino)] = it;
    if (it->wd >= 0)
        s.byWatch[it->wd] = it;
    while (struct dirent *e = readdir(d))
        AddName(s, *it, e->d_name);
    closedir(d);
    return it;
}

// Keeps the indexes within their bounds, dropping the least recently used; a folder of more names than
// the bound is not kept at all.
void Trim(Indexes &s)
{
    while (!s.lru.empty() && (s.lru.size() > kMaxFolders || s.nNames > kMaxNames))
        Drop(s, std::prev(s.lru.end()));
}

} // namespace

bool FindFoldedName(const std::string &sDir, const std::string &sName, std::string *psHostName,
                    const struct stat *pDirStat)
{
    Indexes &s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    OpenWatches(s);
    ReadEvents(s);

    struct stat st;
    if (pDirStat == nullptr) {
        if (stat(sDir.c_str(), &st) != 0)
            return false;
        pDirStat = &st;
    }
    if (!S_ISDIR(pDirStat->st_mode))
        return false;
    auto k = s.byKey.find(Key(pDirStat->st_dev, pDirStat->st_ino));
    std::list<FolderIndex>::iterator it;
    if (k != s.byKey.end() && Current(s, *k->second, *pDirStat)) {
        it = k->second;
        s.lru.splice(s.lru.begin(), s.lru, it);
    } else {
        if (k != s.byKey.end())
            Drop(s, k->second);
        it = Build(s, sDir, *pDirStat);
        if (it == s.lru.end())
            return false;
    }

    bool bFound = false;
    auto n = it->names.find(UpperName(sName));
    if (n != it->names.end()) {
        for (const std::string &h : n->second) {
            // The same length in ANSI, as the platform compares names (UpperName keeps the length).
            if (!bFound || strcmp(h.c_str(), psHostName->c_str()) < 0)
                *psHostName = h;
            bFound = true;
        }
    }
    // An index read too close to the folder's last change answers this lookup only.
    if (it->wd < 0 && !it->bTrusted)
        Drop(s, it);
    else
        Trim(s);
    return bFound;
}

HostFolder::~HostFolder()
{
    if (fd >= 0)
        close(fd);
}

void NameIndexByTimes(bool bByTimes, long long nTickNs)
{
    Indexes &s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    DropAll(s);
    if (s.fd >= 0)
        close(s.fd);
    s.fd = -1;
    s.pid = 0;
    s.bByTimes = bByTimes;
    s.nTestTick = bByTimes ? nTickNs : 0;
}

size_t NameIndexFolders()
{
    Indexes &s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.lru.size();
}

} // namespace plat
