// names.cpp - finding host folders and names without case, at a cost that grows neither with the folder
// nor with the path.
//
// Names. Each folder looked up is read once into an index of its names by their upper case (UpperName, the
// code page's own case tables), and the index is kept while it is known to be right:
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
//
// Folders. The folder of a Windows path ("C:\Program Files\Kalmor61") is kept open, found from the path as
// spelt, so that the calls on names in it (fstatat, openat, unlinkat, ...) neither walk its whole host path
// nor look up its names again. A kept folder is reached from its parent's, name by name from the host's
// root; a folder is watched (by the same inotify descriptor) from when a folder below it is kept, before
// the name is looked up in it. A kept folder is dropped, with every folder kept below it, when an event
// says that an entry of its parent with its name (or, for a name found without case, any name that equals
// it without case) was removed, renamed or made, or that the folder itself went. So a kept folder is the
// one its path names whenever the events queued before the call have been applied. The folder where files
// come and go needs no watch of its own for this: a file deleted there raises no event to be read; a folder
// is watched only while a folder below it is kept. Only what can be watched is kept: with a link on the
// way, a name that is no folder, a file system without events, or without inotify, the path is resolved by
// host paths as before. A file system mounted or unmounted on the way raises no event and is not seen. At
// most kMaxKept folders (each an open descriptor) are kept; the least recently used without kept folders
// below it goes first.
//
// The parts of this file, in order:
//   NameTable   the names of one folder by their upper case
//   state       FolderIndex (one folder's names), Kept (a folder held open), Indexes (all of them, one
//               lock), the folder's key
//   watches     the inotify watches, dropping indexes and kept folders, reading the queued events
//   times       where events cannot be had: whether a folder's times still vouch for its index
//   indexes     Build, Trim, FindFolded (a name without case in one folder)
//   kept        KeepChild, KeepRoot, TrimKept
//   kernel.h    FindFoldedName, KeptFolder, and the counts and switches for tests

#include "kernel/kernel.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <stdint.h>
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

HostFolder::~HostFolder()
{
    if (fd >= 0)
        close(fd);
}

namespace {

const size_t kMaxFolders = 16;
const size_t kMaxNames = 250000;
const size_t kMaxKept = 48;

// One mask for every watch: the kernel keeps one watch per folder and descriptor, and a second
// inotify_add_watch on the same folder replaces the mask.
const uint32_t kWatchMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

bool KeyOf(const char *pszHost, std::string *psUpper);

// The names of one folder: its host names (UTF-8) one after another in one buffer, found by the hash of
// their upper-case ANSI form in a table of open addressing that is at most half full. A removed name leaves
// a mark in the table and its bytes in the buffer until the table is made again (when it grows, or when
// half the buffer is such bytes). So a folder's names cost two allocations, not two a name.
class NameTable {
public:
    void Reserve(size_t nNames)
    {
        sNames.reserve(nNames * 16);
        Rebuild(SlotsFor(nNames));
    }

    // Adds a host name with its upper-case form; false when it is there already.
    bool Add(const char *pszHost, const std::string &sUpper)
    {
        if ((nUsed + 1) * 2 > aSlots.size())
            Rebuild(SlotsFor(nLive + 1));
        uint32_t nHash = Hash(sUpper);
        size_t nMask = aSlots.size() - 1;
        size_t nFree = SIZE_MAX;
        size_t i = nHash & nMask;
        for (;; i = (i + 1) & nMask) {
            const Slot &slot = aSlots[i];
            if (slot.nName == kEmpty)
                break;
            if (slot.nName == kRemoved) {
                if (nFree == SIZE_MAX)
                    nFree = i;
            } else if (slot.nHash == nHash && strcmp(NameAt(slot), pszHost) == 0) {
                return false;
            }
        }
        if (nFree == SIZE_MAX) {
            nFree = i;
            nUsed++;
        }
        aSlots[nFree].nHash = nHash;
        aSlots[nFree].nName = (uint32_t)sNames.size() + 1;
        sNames.append(pszHost, strlen(pszHost) + 1);
        nLive++;
        return true;
    }

    // Removes a host name with its upper-case form; false when it is not there.
    bool Remove(const char *pszHost, const std::string &sUpper)
    {
        if (aSlots.empty())
            return false;
        uint32_t nHash = Hash(sUpper);
        size_t nMask = aSlots.size() - 1;
        for (size_t i = nHash & nMask; aSlots[i].nName != kEmpty; i = (i + 1) & nMask) {
            Slot &slot = aSlots[i];
            if (slot.nName != kRemoved && slot.nHash == nHash && strcmp(NameAt(slot), pszHost) == 0) {
                nGarbage += strlen(NameAt(slot)) + 1;
                slot.nName = kRemoved;
                nLive--;
                if (nGarbage > 4096 && nGarbage * 2 > sNames.size())
                    Rebuild(aSlots.size());
                return true;
            }
        }
        return false;
    }

    // The first host name (in byte order) whose upper-case form is sUpper; false when there is none.
    bool Find(const std::string &sUpper, std::string *psHost) const
    {
        if (aSlots.empty())
            return false;
        uint32_t nHash = Hash(sUpper);
        size_t nMask = aSlots.size() - 1;
        const char *pszBest = nullptr;
        std::string sKey;
        for (size_t i = nHash & nMask; aSlots[i].nName != kEmpty; i = (i + 1) & nMask) {
            const Slot &slot = aSlots[i];
            if (slot.nName == kRemoved || slot.nHash != nHash)
                continue;
            const char *psz = NameAt(slot);
            if (KeyOf(psz, &sKey) && sKey == sUpper && (pszBest == nullptr || strcmp(psz, pszBest) < 0))
                pszBest = psz;
        }
        if (pszBest == nullptr)
            return false;
        *psHost = pszBest;
        return true;
    }

private:
    struct Slot {
        uint32_t nHash;
        uint32_t nName; // kEmpty, kRemoved, or the name's offset in sNames plus one
    };
    static const uint32_t kEmpty = 0;
    static const uint32_t kRemoved = UINT32_MAX;

    std::string sNames;
    std::vector<Slot> aSlots; // a power of two long
    size_t nLive = 0;         // names in the table
    size_t nUsed = 0;         // slots not empty: the names and the marks of removed ones
    size_t nGarbage = 0;      // bytes of removed names in sNames

    static uint32_t Hash(const std::string &s) // FNV-1a
    {
        uint32_t n = 2166136261u;
        for (unsigned char c : s)
            n = (n ^ c) * 16777619u;
        return n;
    }

    static size_t SlotsFor(size_t nNames)
    {
        size_t n = 16;
        while (n < nNames * 2 + 2)
            n *= 2;
        return n;
    }

    const char *NameAt(const Slot &slot) const { return sNames.c_str() + slot.nName - 1; }

    // Makes the table again at nSlots, with the buffer holding only the names that are there.
    void Rebuild(size_t nSlots)
    {
        std::vector<Slot> aOld;
        aOld.swap(aSlots);
        std::string sOld;
        sOld.swap(sNames);
        sNames.reserve(sOld.size() - nGarbage);
        aSlots.assign(nSlots, Slot{0, kEmpty});
        size_t nMask = nSlots - 1;
        for (const Slot &slot : aOld) {
            if (slot.nName == kEmpty || slot.nName == kRemoved)
                continue;
            size_t i = slot.nHash & nMask;
            while (aSlots[i].nName != kEmpty)
                i = (i + 1) & nMask;
            const char *psz = sOld.c_str() + slot.nName - 1;
            aSlots[i].nHash = slot.nHash;
            aSlots[i].nName = (uint32_t)sNames.size() + 1;
            sNames.append(psz, strlen(psz) + 1);
        }
        nUsed = nLive;
        nGarbage = 0;
    }
};

struct FolderIndex {
    dev_t dev = 0;
    ino_t ino = 0;
    int wd = -1; // the inotify watch, or -1 when the times check the index
    struct timespec mtim = {}, ctim = {};
    bool bTrusted = false; // (by times) read more than a tick after the folder's last change
    size_t nNames = 0;
    NameTable names;
};

using Key = std::pair<dev_t, ino_t>;

// A kept folder: a node of the tree of kept folders, from the host's root down.
struct Kept {
    std::string sKey; // the Windows path as spelt ("C:\A\B"), or the host path for the folders above drive C:
    std::shared_ptr<HostFolder> folder;
    Kept *pParent = nullptr;
    std::vector<Kept *> aChildren;
    std::string sName;   // the host name in the parent
    std::string sUpper;  // for a name found without case: its upper-case ANSI form, which events are matched by
    int wd = -1;         // watched from when a folder below it is kept: its own changes show in its parent's

    std::list<Kept *>::iterator lru;
};

struct Indexes {
    std::mutex mutex;
    bool bStarted = false; // the inotify descriptor was asked for in this process
    bool bForked = false;  // this is a child of fork(): what was kept is the parent's
    int fd = -1;           // inotify, or -1
    bool bByTimes = false; // for tests: no inotify, the times check every index
    long long nTestTick = 0; // for tests: the folders' times read as if their clock ticked this coarsely
    std::list<FolderIndex> lru; // most recently used first
    std::map<Key, std::list<FolderIndex>::iterator> byKey;
    std::unordered_map<int, std::list<FolderIndex>::iterator> byWatch;
    size_t nNames = 0;
    std::unordered_map<int, int> watchUsers; // watch -> indexes and kept folders that watch through it
    std::unordered_map<std::string, std::unique_ptr<Kept>> kept;
    std::list<Kept *> keptLru; // most recently used first
    std::unordered_multimap<int, Kept *> keptByWatch;
    bool bDriveCUnkept = false; // drive C: cannot be kept: its host path has a link or no events
};

Indexes &State()
{
    static Indexes *p = [] {
        Indexes *s = new Indexes; // never destroyed: lookups may come while the process ends
        // The lock is held across fork(), so that the child's copy is consistent; the child then knows
        // that the watches and descriptors it inherited are its parent's.
        pthread_atfork([] { State().mutex.lock(); }, [] { State().mutex.unlock(); },
                       [] {
                           State().bForked = true;
                           State().mutex.unlock();
                       });
        return s;
    }();
    return *p;
}

// The upper-case ANSI form of a host name; false for a name the platform cannot have (not in the code page).
// A name in ASCII, the usual case, is the same in UTF-8 and in the code page, whose upper case of ASCII is
// ASCII's.
bool KeyOf(const char *pszHost, std::string *psUpper)
{
    size_t n = 0;
    while (pszHost[n] != '\0' && (unsigned char)pszHost[n] < 0x80)
        n++;
    if (pszHost[n] == '\0') {
        psUpper->assign(pszHost, n);
        for (char &c : *psUpper)
            if (c >= 'a' && c <= 'z')
                c = (char)(c - 'a' + 'A');
        return true;
    }
    bool bLossy = false;
    std::string sAnsi = Utf8ToAnsi(pszHost, &bLossy);
    if (bLossy)
        return false;
    *psUpper = UpperName(sAnsi);
    return true;
}

// Watches, shared by the indexes and kept folders of one folder: the kernel gives the same number for it.

int AddWatch(Indexes &s, const char *pszPath)
{
    int wd = inotify_add_watch(s.fd, pszPath, kWatchMask);
    if (wd >= 0)
        s.watchUsers[wd]++;
    return wd;
}

// The watch of an open folder, by the descriptor's own entry in /proc: never another folder that took its
// path meanwhile.
int AddWatch(Indexes &s, int fdFolder)
{
    return AddWatch(s, ("/proc/self/fd/" + std::to_string(fdFolder)).c_str());
}

void ReleaseWatch(Indexes &s, int wd)
{
    auto it = s.watchUsers.find(wd);
    if (it == s.watchUsers.end())
        return;
    if (--it->second == 0) {
        s.watchUsers.erase(it);
        if (s.fd >= 0)
            inotify_rm_watch(s.fd, wd);
    }
}

// sUpper is work space, kept by the caller from one name to the next.
void AddName(Indexes &s, FolderIndex &ix, const char *pszHost, std::string &sUpper)
{
    if (strcmp(pszHost, ".") == 0 || strcmp(pszHost, "..") == 0 || !KeyOf(pszHost, &sUpper))
        return;
    if (ix.names.Add(pszHost, sUpper)) {
        ix.nNames++;
        s.nNames++;
    }
}

void RemoveName(Indexes &s, FolderIndex &ix, const char *pszHost)
{
    std::string sUpper;
    if (KeyOf(pszHost, &sUpper) && ix.names.Remove(pszHost, sUpper)) {
        ix.nNames--;
        s.nNames--;
    }
}

void Drop(Indexes &s, std::list<FolderIndex>::iterator it)
{
    if (it->wd >= 0) {
        s.byWatch.erase(it->wd);
        ReleaseWatch(s, it->wd);
    }
    s.nNames -= it->nNames;
    s.byKey.erase(Key(it->dev, it->ino));
    s.lru.erase(it);
}

// Ends a kept folder's own watch: it has no kept folder below it to watch for.
void Unwatch(Indexes &s, Kept *k)
{
    if (k->wd < 0)
        return;
    auto range = s.keptByWatch.equal_range(k->wd);
    for (auto it = range.first; it != range.second; ++it)
        if (it->second == k) {
            s.keptByWatch.erase(it);
            break;
        }
    ReleaseWatch(s, k->wd);
    k->wd = -1;
}

// Drops a kept folder and every folder kept below it. Those who hold the folder keep its descriptor. A
// parent left with no kept folder below it is no longer watched, so that the files that come and go in it
// raise no events to be read.
void DropKept(Indexes &s, Kept *k)
{
    while (!k->aChildren.empty())
        DropKept(s, k->aChildren.back());
    if (k->pParent != nullptr) {
        std::vector<Kept *> &v = k->pParent->aChildren;
        v.erase(std::find(v.begin(), v.end(), k));
        if (v.empty())
            Unwatch(s, k->pParent);
    }
    Unwatch(s, k);
    s.keptLru.erase(k->lru);
    std::string sKey = k->sKey; // not a reference into what erase destroys
    s.kept.erase(sKey);         // k is gone
}

// Drops every kept folder whose own watch is wd.
void DropKeptWatched(Indexes &s, int wd)
{
    for (;;) {
        auto it = s.keptByWatch.find(wd);
        if (it == s.keptByWatch.end())
            return;
        DropKept(s, it->second);
    }
}

void DropAll(Indexes &s)
{
    while (!s.lru.empty())
        Drop(s, s.lru.begin());
    while (!s.keptLru.empty()) {
        Kept *k = s.keptLru.back();
        while (k->pParent != nullptr)
            k = k->pParent;
        DropKept(s, k);
    }
}

// The inotify descriptor of this process; a child of fork() must not read its parent's events, nor remove
// its parent's watches (the inherited descriptor is the same inotify instance).
void OpenWatches(Indexes &s)
{
    if (s.bForked) {
        s.bForked = false;
        if (s.fd >= 0)
            close(s.fd);
        s.fd = -1;
        s.watchUsers.clear(); // nothing is removed from the parent's instance
        s.byWatch.clear();
        for (FolderIndex &ix : s.lru)
            ix.wd = -1;
        DropAll(s);
        s.bStarted = false;
    }
    if (s.bStarted)
        return;
    s.bStarted = true;
    s.fd = s.bByTimes ? -1 : inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
}

// The longest event the kernel queues: the name padded to the event's alignment.
const size_t kMaxEvent = sizeof(struct inotify_event) + NAME_MAX + 1 + sizeof(struct inotify_event);

// Applies an entry event (a name made, removed or renamed in the watched folder) to what is kept.
void EntryEvent(Indexes &s, const struct inotify_event *e)
{
    auto w = s.byWatch.find(e->wd);
    if (w != s.byWatch.end()) {
        std::string sUpper;
        if (e->mask & (IN_CREATE | IN_MOVED_TO))
            AddName(s, *w->second, e->name, sUpper);
        if (e->mask & (IN_DELETE | IN_MOVED_FROM))
            RemoveName(s, *w->second, e->name);
    }
    // Kept folders below the watched one that the name may have been: by their host name, and, for a name
    // found without case, by any name equal to it without case (a new spelling may now be the one found).
    std::vector<std::string> aGone;
    std::string sUpper;
    bool bUpper = false;
    auto range = s.keptByWatch.equal_range(e->wd);
    for (auto it = range.first; it != range.second; ++it) {
        for (Kept *c : it->second->aChildren) {
            bool bGone = c->sName == e->name;
            if (!bGone && !c->sUpper.empty()) {
                if (!bUpper && !KeyOf(e->name, &sUpper))
                    sUpper.clear(); // a name outside the code page equals no Windows name
                bUpper = true;
                bGone = sUpper == c->sUpper;
            }
            if (bGone)
                aGone.push_back(c->sKey);
        }
    }
    for (const std::string &sKey : aGone) {
        auto k = s.kept.find(sKey);
        if (k != s.kept.end())
            DropKept(s, k->second.get());
    }
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
                s.watchUsers.clear();
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
            if (e->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
                auto w = s.byWatch.find(e->wd);
                if (w != s.byWatch.end())
                    Drop(s, w->second);
                DropKeptWatched(s, e->wd);
                continue;
            }
            if (e->len != 0)
                EntryEvent(s, e);
        }
        // The kernel hands out every queued event that fits: room left for the longest one means none was
        // left, and no second read is needed to learn it.
        if ((size_t)n + kMaxEvent <= sizeof buf)
            return;
    }
}

// Whether inotify sees every change of a folder on this file system: local ones only.
bool Watchable(const struct statfs &sf)
{
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

// Reads a folder into a new index, the most recently used; the end of the list when it cannot be read.
// The folder is named by its host path, or, when fdFolder >= 0, by that open descriptor.
std::list<FolderIndex>::iterator Build(Indexes &s, const std::string &sDir, int fdFolder, const struct stat &stDir)
{
    FolderIndex ix;
    ix.dev = stDir.st_dev;
    ix.ino = stDir.st_ino;
    // The watch first: a change while the folder is read is then an event, applied (harmlessly, names
    // are added and removed as sets) at the next lookup.
    struct statfs sf;
    if (s.fd >= 0 && (fdFolder >= 0 ? fstatfs(fdFolder, &sf) : statfs(sDir.c_str(), &sf)) == 0 && Watchable(sf))
        ix.wd = fdFolder >= 0 ? AddWatch(s, fdFolder) : AddWatch(s, sDir.c_str());
    if (ix.wd >= 0 && s.byWatch.count(ix.wd) != 0) {
        // Already the watch of another index: the same folder reached as another (an index dropped as
        // not current by its times), or a number reused. That one goes.
        Drop(s, s.byWatch[ix.wd]);
    }
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct stat st;
    int fdRead = fdFolder >= 0 ? openat(fdFolder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                               : open(sDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *d = fdRead >= 0 ? fdopendir(fdRead) : nullptr;
    if (d == nullptr && fdRead >= 0)
        close(fdRead);
    if (d == nullptr || fstat(dirfd(d), &st) != 0 || st.st_dev != stDir.st_dev || st.st_ino != stDir.st_ino) {
        if (d != nullptr)
            closedir(d);
        if (ix.wd >= 0)
            ReleaseWatch(s, ix.wd);
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
    // The names first, so that the table is made once at its size.
    std::string sNames;
    size_t nCount = 0;
    while (struct dirent *e = readdir(d)) {
        sNames.append(e->d_name, strlen(e->d_name) + 1);
        nCount++;
    }
    closedir(d);
    it->names.Reserve(nCount);
    std::string sUpper;
    for (size_t i = 0; i < sNames.size(); i += strlen(sNames.c_str() + i) + 1)
        AddName(s, *it, sNames.c_str() + i, sUpper);
    return it;
}

// Keeps the indexes within their bounds, dropping the least recently used; a folder of more names than
// the bound is not kept at all.
void Trim(Indexes &s)
{
    while (!s.lru.empty() && (s.lru.size() > kMaxFolders || s.nNames > kMaxNames))
        Drop(s, std::prev(s.lru.end()));
}

// FindFoldedName with the lock held and the events applied.
bool FindFolded(Indexes &s, const std::string &sDir, int fdFolder, const struct stat &stDir,
                const std::string &sName, std::string *psHostName)
{
    if (!S_ISDIR(stDir.st_mode))
        return false;
    auto k = s.byKey.find(Key(stDir.st_dev, stDir.st_ino));
    std::list<FolderIndex>::iterator it;
    if (k != s.byKey.end() && Current(s, *k->second, stDir)) {
        it = k->second;
        s.lru.splice(s.lru.begin(), s.lru, it);
    } else {
        if (k != s.byKey.end())
            Drop(s, k->second);
        it = Build(s, sDir, fdFolder, stDir);
        if (it == s.lru.end())
            return false;
    }

    bool bFound = it->names.Find(UpperName(sName), psHostName);
    // An index read too close to the folder's last change answers this lookup only.
    if (it->wd < 0 && !it->bTrusted)
        Drop(s, it);
    else
        Trim(s);
    return bFound;
}

// Keeps an open folder as the child of a kept one (null for the host's root) under sKey, the most recently
// used. Null when its file system cannot be watched: its descriptor is closed.
Kept *Keep(Indexes &s, Kept *pParent, const std::string &sKey, int fd, const std::string &sName,
           const std::string &sUpper)
{
    struct stat st;
    struct statfs sf;
    if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) ||
        ((pParent == nullptr || st.st_dev != pParent->folder->dev) && (fstatfs(fd, &sf) != 0 || !Watchable(sf)))) {
        close(fd);
        return nullptr;
    }
    auto k = std::make_unique<Kept>();
    k->sKey = sKey;
    k->folder = std::make_shared<HostFolder>();
    k->folder->fd = fd;
    k->folder->sHost = pParent == nullptr ? "/"
                       : pParent->folder->sHost == "/" ? "/" + sName
                                                       : pParent->folder->sHost + "/" + sName;
    k->folder->dev = st.st_dev;
    k->folder->ino = st.st_ino;
    k->pParent = pParent;
    k->sName = sName;
    k->sUpper = sUpper;
    Kept *p = k.get();
    s.keptLru.push_front(p);
    p->lru = s.keptLru.begin();
    if (pParent != nullptr)
        pParent->aChildren.push_back(p);
    s.kept[sKey] = std::move(k);
    return p;
}

// The kept child of a kept folder by a Windows name (bWindows: its exact spelling, else one equal to it
// without case) or by a host name; null when it is no folder of its own (missing, a file, a link) or
// cannot be watched.
Kept *KeepChild(Indexes &s, Kept *pParent, const std::string &sKey, const std::string &sName, bool bWindows)
{
    std::string sHostName = bWindows ? AnsiToUtf8(sName) : sName;
    std::string sUpper;
    if (sHostName.size() > NAME_MAX)
        return nullptr;
    // The parent is watched before the name is looked up in it: a change after the lookup is an event.
    if (pParent->wd < 0) {
        pParent->wd = AddWatch(s, pParent->folder->fd);
        if (pParent->wd < 0)
            return nullptr;
        s.keptByWatch.emplace(pParent->wd, pParent);
    }
    int fd = openat(pParent->folder->fd, sHostName.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && bWindows) {
        struct stat st;
        if (fstat(pParent->folder->fd, &st) != 0 ||
            !FindFolded(s, pParent->folder->sHost, pParent->folder->fd, st, sName, &sHostName))
            return nullptr;
        sUpper = UpperName(sName);
        fd = openat(pParent->folder->fd, sHostName.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0)
        return nullptr;
    return Keep(s, pParent, sKey, fd, sHostName, sUpper);
}

// The kept root of a drive: Z: is the host's root; C: the machine's drive_c, reached from the host's root
// by host names (keyed by its host path: such a key is never a Windows path).
Kept *KeepRoot(Indexes &s, const std::string &sKey)
{
    auto it = s.kept.find(sKey);
    if (it != s.kept.end())
        return it->second.get();
    if (sKey == "Z:\\" || sKey == "/") {
        int fd = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
        return fd >= 0 ? Keep(s, nullptr, sKey, fd, "", "") : nullptr;
    }
    if (sKey != "C:\\" || s.bDriveCUnkept)
        return nullptr;
    std::string sDriveC = MachineRoot() + "/drive_c";
    Kept *p = KeepRoot(s, "/");
    size_t i = 1;
    while (p != nullptr && i < sDriveC.size()) {
        size_t j = sDriveC.find('/', i);
        if (j == std::string::npos)
            j = sDriveC.size();
        std::string sName = sDriveC.substr(i, j - i);
        std::string sChildKey = j == sDriveC.size() ? sKey : sDriveC.substr(0, j);
        auto c = s.kept.find(sChildKey);
        p = c != s.kept.end() ? c->second.get() : KeepChild(s, p, sChildKey, sName, false);
        i = j + 1;
    }
    // A machine folder reached through a link (or on a file system without events) stays so: not tried
    // again on every call.
    s.bDriveCUnkept = p == nullptr;
    return p;
}

// Keeps the kept folders within their bound: the least recently used that has none kept below it goes.
void TrimKept(Indexes &s)
{
    while (s.kept.size() > kMaxKept) {
        auto it = std::find_if(s.keptLru.rbegin(), s.keptLru.rend(), [](Kept *k) { return k->aChildren.empty(); });
        if (it == s.keptLru.rend())
            return;
        DropKept(s, *it);
    }
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
    return FindFolded(s, sDir, -1, *pDirStat, sName, psHostName);
}

bool FindFoldedName(const HostFolder &dir, const std::string &sName, std::string *psHostName, bool bEventsRead)
{
    Indexes &s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    OpenWatches(s);
    if (!bEventsRead)
        ReadEvents(s);

    // A watched index needs no look at the folder's times.
    struct stat st;
    auto k = s.byKey.find(Key(dir.dev, dir.ino));
    if (k != s.byKey.end() && k->second->wd >= 0) {
        st.st_dev = dir.dev;
        st.st_ino = dir.ino;
        st.st_mode = S_IFDIR;
    } else if (fstat(dir.fd, &st) != 0) {
        return false;
    }
    return FindFolded(s, dir.sHost, dir.fd, st, sName, psHostName);
}

std::shared_ptr<const HostFolder> KeptFolder(const std::string &sWinDir, bool bEventsRead)
{
    Indexes &s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    OpenWatches(s);
    if (!bEventsRead)
        ReadEvents(s);
    if (s.fd < 0 || sWinDir.size() < 3)
        return nullptr;

    // The longest kept folder on the way, then the names below it.
    std::string sKey = sWinDir;
    std::vector<std::string> aBelow;
    Kept *p = nullptr;
    for (;;) {
        auto it = s.kept.find(sKey);
        if (it != s.kept.end()) {
            p = it->second.get();
            break;
        }
        if (sKey.size() == 3) {
            p = KeepRoot(s, sKey);
            break;
        }
        size_t n = sKey.rfind('\\');
        aBelow.push_back(sKey.substr(n + 1));
        sKey.resize(n == 2 ? 3 : n);
    }
    while (p != nullptr && !aBelow.empty()) {
        sKey += (sKey.size() == 3 ? "" : "\\") + aBelow.back();
        p = KeepChild(s, p, sKey, aBelow.back(), true);
        aBelow.pop_back();
    }
    if (p == nullptr)
        return nullptr;
    s.keptLru.splice(s.keptLru.begin(), s.keptLru, p->lru);
    std::shared_ptr<const HostFolder> folder = p->folder;
    TrimKept(s);
    return folder;
}

size_t KeptFolders()
{
    Indexes &s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.kept.size();
}

void NameIndexByTimes(bool bByTimes, long long nTickNs)
{
    Indexes &s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    DropAll(s);
    if (s.fd >= 0)
        close(s.fd);
    s.fd = -1;
    s.watchUsers.clear();
    s.bStarted = false;
    s.bDriveCUnkept = false;
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
