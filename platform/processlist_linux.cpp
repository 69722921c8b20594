#include "platform/processlist.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

// Running processes in ascending pid order, the closest thing Linux has to the
// snapshot order of the Windows process list. Empty when /proc can't be read.
std::vector<pid_t> ListPids()
{
    std::vector<pid_t> pids;
    DIR *dir = opendir("/proc");
    if (!dir)
        return pids;
    while (const dirent *entry = readdir(dir)) {
        const char *name = entry->d_name;
        if (*name == '\0' || std::strspn(name, "0123456789") != std::strlen(name))
            continue;
        errno = 0;
        char *end = nullptr;
        const long value = std::strtol(name, &end, 10);
        if (errno == 0 && *end == '\0' && value > 0)
            pids.push_back(static_cast<pid_t>(value));
    }
    closedir(dir);
    std::sort(pids.begin(), pids.end());
    return pids;
}

// The real and effective user of the process must both be ours. The owner of
// /proc/PID is not enough: a process that made itself non-dumpable shows up
// as owned by root, so root would take another user's copy for its own.
bool BelongsToCaller(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 4, "Uid:") != 0)
            continue;
        std::istringstream fields(line.substr(4));
        unsigned long realUid = 0;
        unsigned long effectiveUid = 0;
        if (!(fields >> realUid >> effectiveUid))
            return false;
        return realUid == getuid() && effectiveUid == geteuid();
    }
    return false;
}

// Base name of the process's executable; false for kernel threads, zombies and
// processes we may not look at.
bool ExecutableFileName(pid_t pid, std::string &fileName)
{
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    std::string target(256, '\0');
    for (;;) {
        const ssize_t length = readlink(link.c_str(), &target[0], target.size());
        if (length < 0)
            return false;
        if (static_cast<size_t>(length) < target.size()) {
            target.resize(static_cast<size_t>(length));
            break;
        }
        target.resize(target.size() * 2);
    }
    // A running program whose file was replaced or removed keeps its name.
    static const std::string deleted = " (deleted)";
    if (target.size() > deleted.size()
        && target.compare(target.size() - deleted.size(), deleted.size(), deleted) == 0)
        target.resize(target.size() - deleted.size());
    const size_t slash = target.rfind('/');
    fileName = slash == std::string::npos ? target : target.substr(slash + 1);
    return true;
}

bool Matches(pid_t pid, const char *name)
{
    std::string fileName;
    return BelongsToCaller(pid) && ExecutableFileName(pid, fileName) && fileName == name;
}

// Ends the process at once. Through a pidfd, the match is checked again after
// the process is pinned, so a pid reused in between is never hit.
bool KillMatching(pid_t pid, const char *name)
{
#if defined(SYS_pidfd_open) && defined(SYS_pidfd_send_signal)
    const long pidfd = syscall(SYS_pidfd_open, pid, 0);
    if (pidfd >= 0) {
        bool sent = false;
        if (Matches(pid, name))
            sent = syscall(SYS_pidfd_send_signal, static_cast<int>(pidfd), SIGKILL, nullptr, 0) == 0;
        close(static_cast<int>(pidfd));
        return sent;
    }
    if (errno != ENOSYS)
        return false;
#endif
    return kill(pid, SIGKILL) == 0;
}

} // namespace

int CountProcessesByName(const char *name)
{
    if (!name)
        return 0;
    int count = 0;
    for (const pid_t pid : ListPids()) {
        if (Matches(pid, name))
            ++count;
    }
    return count;
}

int TerminateProcessByName(const char *name)
{
    if (!name)
        return 0;
    const pid_t self = getpid();
    for (const pid_t pid : ListPids()) {
        if (pid == self || !Matches(pid, name))
            continue;
        return KillMatching(pid, name) ? 1 : 0;
    }
    return 0;
}
