// process.cpp - the programs the sweep runs: their environment, a run with its output to a file and a time
// limit, and its wait status as text.

#include "faultsweep.h"

namespace faultsweep
{

std::string gUser;
pid_t gaChildren[64];
int gnChildren;

// The environment of the installer's runs: this process's, without the platform's variables and the
// display, with the ones given.
std::vector<std::string> BaseEnv()
{
    std::vector<std::string> a;
    for (char **p = environ; *p != nullptr; p++) {
        std::string s = *p;
        if (s.compare(0, 5, "PLAT_") == 0 || s.compare(0, 8, "DISPLAY=") == 0 ||
            s.compare(0, 16, "WAYLAND_DISPLAY=") == 0)
            continue;
        a.push_back(s);
    }
    return a;
}

// Runs a program with its output (both streams) to sOut; returns the wait status, or -1.
int Spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env, const std::string &sOut,
          int nTimeout)
{
    std::vector<char *> av, ev;
    for (const std::string &s : argv)
        av.push_back(const_cast<char *>(s.c_str()));
    av.push_back(nullptr);
    for (const std::string &s : env)
        ev.push_back(const_cast<char *>(s.c_str()));
    ev.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        int fd = open(sOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        int in = open("/dev/null", O_RDONLY);
        if (in >= 0) {
            dup2(in, 0);
            close(in);
        }
        alarm((unsigned)nTimeout); // survives the exec: a run that hangs ends with SIGALRM
        execve(av[0], av.data(), ev.data());
        _exit(127);
    }
    gaChildren[0] = pid;
    gnChildren = 1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) {
            gnChildren = 0;
            return -1;
        }
    gnChildren = 0;
    return status;
}

std::string StatusText(int status)
{
    char sz[64];
    if (status == -1)
        return "not started";
    if (WIFSIGNALED(status))
        snprintf(sz, sizeof sz, "killed by signal %d", WTERMSIG(status));
    else
        snprintf(sz, sizeof sz, "exit code %d", WEXITSTATUS(status));
    return sz;
}

} // namespace faultsweep
