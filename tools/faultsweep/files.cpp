// files.cpp - the host side of the sweep's machines: small string and file helpers, copying and removing
// host trees with their modes, extended attributes and times, and snapshots of a machine folder to compare.

#include "faultsweep.h"

namespace faultsweep
{

std::string Lower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return s;
}

std::vector<std::string> Split(const std::string &s, char c)
{
    std::vector<std::string> a;
    size_t i = 0;
    for (;;) {
        size_t j = s.find(c, i);
        a.push_back(s.substr(i, j == std::string::npos ? std::string::npos : j - i));
        if (j == std::string::npos)
            return a;
        i = j + 1;
    }
}

bool ReadAll(const std::string &sPath, std::string *ps)
{
    int fd = open(sPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ps->clear();
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        ps->append(buf, (size_t)n);
    close(fd);
    return n == 0;
}

bool WriteAll(const std::string &sPath, const std::string &s, mode_t mode)
{
    int fd = open(sPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    bool bOk = write(fd, s.data(), s.size()) == (ssize_t)s.size();
    return close(fd) == 0 && bOk;
}

void MakeDirs(const std::string &sPath)
{
    for (size_t i = 1; i <= sPath.size(); i++)
        if (i == sPath.size() || sPath[i] == '/')
            mkdir(sPath.substr(0, i).c_str(), 0755);
}

std::string Hex(const std::string &s)
{
    static const char d[] = "0123456789abcdef";
    std::string r;
    for (unsigned char c : s) {
        r += d[c >> 4];
        r += d[c & 15];
    }
    return r;
}

// FNV-1a over a file's bytes, read without moving its access time where the host allows; "unreadable" when
// it cannot be read.
std::string HashFile(const std::string &sPath, uint64_t *pnSize)
{
    int fd = open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME);
    if (fd < 0 && errno == EPERM)
        fd = open(sPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "unreadable";
    uint64_t x = 14695981039346656037ull, nSize = 0;
    static unsigned char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) {
        nSize += (uint64_t)n;
        for (ssize_t i = 0; i < n; i++)
            x = (x ^ buf[i]) * 1099511628211ull;
    }
    close(fd);
    if (pnSize != nullptr)
        *pnSize = nSize;
    char sz[32];
    snprintf(sz, sizeof sz, "%016llx", (unsigned long long)x);
    return sz;
}

// At most n bytes of UTF-8 text, cut before a whole character, with "..." when cut.
std::string Cap(const std::string &s, size_t n)
{
    if (s.size() <= n)
        return s;
    while (n > 0 && (s[n] & 0xc0) == 0x80)
        n--;
    return s.substr(0, n) + "...";
}

std::string HashBytes(const std::string &s)
{
    uint64_t x = 14695981039346656037ull;
    for (unsigned char c : s)
        x = (x ^ c) * 1099511628211ull;
    char sz[32];
    snprintf(sz, sizeof sz, "%016llx", (unsigned long long)x);
    return sz;
}

double Now()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// ---------------------------------------------------------------------------------------------------------
// Host trees: copy, removal, snapshot

static void CopyXattrs(const std::string &sFrom, const std::string &sTo)
{
    char names[4096];
    ssize_t n = llistxattr(sFrom.c_str(), names, sizeof names);
    for (ssize_t i = 0; i < n;) {
        const char *pszName = names + i;
        char value[4096];
        ssize_t v = lgetxattr(sFrom.c_str(), pszName, value, sizeof value);
        if (v >= 0)
            lsetxattr(sTo.c_str(), pszName, value, (size_t)v, 0);
        i += (ssize_t)strlen(pszName) + 1;
    }
}

// Copies a tree with modes, extended attributes and times (a folder's times after its entries).
bool CopyTree(const std::string &sFrom, const std::string &sTo)
{
    struct stat st;
    if (lstat(sFrom.c_str(), &st) != 0)
        return false;
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (S_ISLNK(st.st_mode)) {
        char target[4096];
        ssize_t n = readlink(sFrom.c_str(), target, sizeof target - 1);
        if (n < 0)
            return false;
        target[n] = '\0';
        return symlink(target, sTo.c_str()) == 0;
    }
    if (S_ISDIR(st.st_mode)) {
        if (mkdir(sTo.c_str(), 0700) != 0)
            return false;
        DIR *d = opendir(sFrom.c_str());
        if (d == nullptr)
            return false;
        bool bOk = true;
        while (struct dirent *e = readdir(d)) {
            if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0)
                continue;
            bOk = CopyTree(sFrom + "/" + e->d_name, sTo + "/" + e->d_name) && bOk;
        }
        closedir(d);
        CopyXattrs(sFrom, sTo);
        chmod(sTo.c_str(), st.st_mode & 07777);
        utimensat(AT_FDCWD, sTo.c_str(), times, AT_SYMLINK_NOFOLLOW);
        return bOk;
    }
    if (!S_ISREG(st.st_mode))
        return false;
    int in = open(sFrom.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME);
    if (in < 0 && errno == EPERM)
        in = open(sFrom.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    int out = open(sTo.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        close(in);
        return false;
    }
    bool bOk = true;
    char buf[65536];
    ssize_t n;
    while ((n = read(in, buf, sizeof buf)) > 0)
        if (write(out, buf, (size_t)n) != n)
            bOk = false;
    if (n < 0)
        bOk = false;
    close(in);
    CopyXattrs(sFrom, sTo);
    fchmod(out, st.st_mode & 07777);
    futimens(out, times);
    close(out);
    return bOk;
}

void RemoveTree(const std::string &sPath)
{
    struct stat st;
    if (lstat(sPath.c_str(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        chmod(sPath.c_str(), 0700);
        if (DIR *d = opendir(sPath.c_str())) {
            std::vector<std::string> names;
            while (struct dirent *e = readdir(d))
                if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                    names.push_back(e->d_name);
            closedir(d);
            for (const std::string &s : names)
                RemoveTree(sPath + "/" + s);
        }
        rmdir(sPath.c_str());
    } else {
        unlink(sPath.c_str());
    }
}

// One host entry as the sweep compares it: kind, mode, size, last write time, extended attributes, bytes.
// Access times are left out (reading moves them) and so are a folder's times (its entries move them).

static std::string XattrText(const std::string &sPath)
{
    char names[4096];
    ssize_t n = llistxattr(sPath.c_str(), names, sizeof names);
    std::vector<std::string> a;
    for (ssize_t i = 0; i < n;) {
        const char *pszName = names + i;
        char value[4096];
        ssize_t v = lgetxattr(sPath.c_str(), pszName, value, sizeof value);
        a.push_back(std::string(pszName) + "=" + (v >= 0 ? Hex(std::string(value, (size_t)v)) : "?"));
        i += (ssize_t)strlen(pszName) + 1;
    }
    std::sort(a.begin(), a.end());
    std::string s;
    for (const std::string &x : a)
        s += " " + x;
    return s;
}

static void Walk(const std::string &sRoot, const std::string &sRel, Snapshot *pSnap)
{
    std::string sPath = sRel.empty() ? sRoot : sRoot + "/" + sRel;
    DIR *d = opendir(sPath.c_str());
    if (d == nullptr)
        return;
    std::vector<std::string> names;
    while (struct dirent *e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            names.push_back(e->d_name);
    closedir(d);
    for (const std::string &sName : names) {
        std::string sChildRel = sRel.empty() ? sName : sRel + "/" + sName;
        std::string sChild = sRoot + "/" + sChildRel;
        struct stat st;
        if (lstat(sChild.c_str(), &st) != 0)
            continue;
        HostEntry e;
        char sz[128];
        if (S_ISDIR(st.st_mode)) {
            e.cKind = 'D';
            snprintf(sz, sizeof sz, "folder mode %o", (unsigned)(st.st_mode & 07777));
            e.sDesc = sz + XattrText(sChild);
            (*pSnap)[sChildRel] = e;
            Walk(sRoot, sChildRel, pSnap);
        } else if (S_ISLNK(st.st_mode)) {
            e.cKind = 'L';
            char target[4096];
            ssize_t n = readlink(sChild.c_str(), target, sizeof target - 1);
            e.sDesc = "link to " + std::string(target, n > 0 ? (size_t)n : 0);
            (*pSnap)[sChildRel] = e;
        } else if (S_ISREG(st.st_mode)) {
            e.cKind = 'F';
            e.sHash = HashFile(sChild, &e.nSize);
            snprintf(sz, sizeof sz, "file mode %o size %lld written %lld.%09ld hash ",
                     (unsigned)(st.st_mode & 07777), (long long)st.st_size, (long long)st.st_mtim.tv_sec,
                     st.st_mtim.tv_nsec);
            e.sDesc = sz + e.sHash + XattrText(sChild);
            (*pSnap)[sChildRel] = e;
        } else {
            e.cKind = 'O';
            snprintf(sz, sizeof sz, "other mode %o", (unsigned)st.st_mode);
            e.sDesc = sz;
            (*pSnap)[sChildRel] = e;
        }
    }
}

Snapshot TakeSnapshot(const std::string &sMachine)
{
    Snapshot snap;
    Walk(sMachine, "", &snap);
    return snap;
}

const HostEntry *FindNoCase(const Snapshot &snap, const std::string &sRel)
{
    auto it = snap.find(sRel);
    if (it != snap.end())
        return &it->second;
    std::string sLow = Lower(sRel);
    for (const auto &kv : snap)
        if (Lower(kv.first) == sLow)
            return &kv.second;
    return nullptr;
}

} // namespace faultsweep
