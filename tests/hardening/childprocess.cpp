#include "tests/hardening/childprocess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace hardening {

Child::~Child()
{
    if (pid_ > 0) {
        Kill();
        Wait();
    }
}

bool Child::Start(const QList<QByteArray> &argv, int uid, int gid, bool capture)
{
    if (argv.isEmpty() || pid_ > 0)
        return false;
    // Everything the child needs is prepared before the fork.
    std::vector<char *> args;
    for (const QByteArray &arg : argv)
        args.push_back(const_cast<char *>(arg.constData()));
    args.push_back(nullptr);
    int pipeFds[2] = {-1, -1};
    if (capture && pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;
    const int devNull = capture ? -1 : open("/dev/null", O_WRONLY | O_CLOEXEC);

    const pid_t pid = fork();
    if (pid < 0) {
        if (capture) {
            close(pipeFds[0]);
            close(pipeFds[1]);
        }
        if (devNull >= 0)
            close(devNull);
        return false;
    }
    if (pid == 0) {
        const int target = capture ? pipeFds[1] : devNull;
        if (target < 0 || dup2(target, STDOUT_FILENO) < 0)
            _exit(125);
        if (uid >= 0) {
            if (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(gid)) != 0
                || setuid(static_cast<uid_t>(uid)) != 0)
                _exit(126);
        }
        execv(args[0], args.data());
        _exit(127);
    }
    pid_ = pid;
    if (capture) {
        close(pipeFds[1]);
        out_ = pipeFds[0];
    }
    if (devNull >= 0)
        close(devNull);
    return true;
}

void Child::Kill()
{
    if (pid_ > 0)
        kill(pid_, SIGKILL);
}

ChildResult Child::Wait()
{
    ChildResult result;
    if (out_ >= 0) {
        char chunk[65536];
        for (;;) {
            const ssize_t got = read(out_, chunk, sizeof chunk);
            if (got > 0)
                result.output.append(chunk, static_cast<int>(got));
            else if (got == 0 || errno != EINTR)
                break;
        }
        close(out_);
        out_ = -1;
    }
    if (pid_ > 0) {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        if (WIFEXITED(status)) {
            result.exited = true;
            result.exitCode = WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            result.signal = WTERMSIG(status);
        }
    }
    return result;
}

ChildResult Run(const QList<QByteArray> &argv, int uid, int gid)
{
    Child child;
    if (!child.Start(argv, uid, gid))
        return ChildResult();
    return child.Wait();
}

} // namespace hardening
