// hostfloor.cpp - the host calls that the platform cannot do without, made by a bare program, as the floor of
// the tree-deletion and unpack benchmarks (deltree.sh, takeover.sh). No platform code: what this takes, no
// program keeping the same promises can go under.
// Usage: hostfloor delete HOSTDIR  - deletes the tree with, per entry, the calls of a search that hands out
//                                    the entry's details (statx, listxattrat) and of a deletion that sees the
//                                    file's mode and the renames on its path (an inotify read, newfstatat),
//                                    beside the unlinkat that rm -rf makes alone;
//        hostfloor read HOSTDIR    - reads the folder's names once (what a lookup without case needs).
// Exit code 0 when done, 1 on a host error (said on standard error), 2 on bad usage.

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>
#include <vector>

#ifndef SYS_listxattrat
#define SYS_listxattrat 465
#endif

static int fdEvents = -1;

static bool Fail(const char *pszCall, const std::string &sName)
{
    fprintf(stderr, "hostfloor: %s %s: %s\n", pszCall, sName.c_str(), strerror(errno));
    return false;
}

// Every name of the open folder fd, "." and ".." left out.
static bool ReadNames(int fd, std::vector<std::string> *paNames)
{
    DIR *pDir = fdopendir(fd);
    if (pDir == nullptr)
        return false;
    errno = 0;
    for (struct dirent *p = readdir(pDir); p != nullptr; p = readdir(pDir))
        if (strcmp(p->d_name, ".") != 0 && strcmp(p->d_name, "..") != 0)
            paNames->push_back(p->d_name);
    bool bOk = errno == 0;
    closedir(pDir);
    return bOk;
}

// The details a search hands out for a name of the folder fd: its status and its extended attributes.
static bool Details(int fd, const char *pszName, struct statx *pStat)
{
    char aList[512];
    if (statx(fd, pszName, AT_SYMLINK_NOFOLLOW, STATX_ALL, pStat) != 0)
        return false;
    return syscall(SYS_listxattrat, fd, pszName, AT_SYMLINK_NOFOLLOW, aList, sizeof aList) >= 0 ||
           errno == ENOSYS || errno == EOPNOTSUPP;
}

// The deletion's own look before it removes a name: the events of renames since the last call, the mode.
static bool Look(int fd, const char *pszName)
{
    char aEvents[4096];
    if (read(fdEvents, aEvents, sizeof aEvents) < 0 && errno != EAGAIN)
        return false;
    struct stat st;
    return fstatat(fd, pszName, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

static bool DeleteTree(int fdParent, const std::string &sName)
{
    int fd = openat(fdParent, sName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return Fail("open", sName);
    int fdKept = dup(fd); // the names are read through fd, which closes with the reading
    std::vector<std::string> aNames;
    struct statx st;
    if (fdKept < 0 || !ReadNames(fd, &aNames) || !Details(fdKept, ".", &st) || !Details(fdKept, "..", &st))
        return Fail("read", sName);
    bool bOk = true;
    for (size_t i = 0; i < aNames.size() && bOk; i++) {
        const char *pszName = aNames[i].c_str();
        if (!Details(fdKept, pszName, &st))
            bOk = Fail("statx", aNames[i]);
        else if (S_ISDIR(st.stx_mode))
            bOk = DeleteTree(fdKept, aNames[i]);
        else if (!Look(fdKept, pszName) || unlinkat(fdKept, pszName, 0) != 0)
            bOk = Fail("unlink", aNames[i]);
    }
    close(fdKept);
    if (bOk && (!Look(fdParent, sName.c_str()) || unlinkat(fdParent, sName.c_str(), AT_REMOVEDIR) != 0))
        bOk = Fail("rmdir", sName);
    return bOk;
}

int main(int argc, char **argv)
{
    if (argc != 3 || (strcmp(argv[1], "delete") != 0 && strcmp(argv[1], "read") != 0)) {
        fprintf(stderr, "usage: hostfloor delete|read HOSTDIR\n");
        return 2;
    }
    if (strcmp(argv[1], "read") == 0) {
        std::vector<std::string> aNames;
        int fd = open(argv[2], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0 || !ReadNames(fd, &aNames)) {
            Fail("read", argv[2]);
            return 1;
        }
        printf("%zu names\n", aNames.size());
        return 0;
    }
    fdEvents = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fdEvents < 0) {
        Fail("inotify_init1", argv[2]);
        return 1;
    }
    return DeleteTree(AT_FDCWD, argv[2]) ? 0 : 1;
}
