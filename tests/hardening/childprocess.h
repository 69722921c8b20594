#pragma once

#include <QByteArray>
#include <QList>

#include <sys/types.h>

namespace hardening {

struct ChildResult
{
    bool exited = false;   // ended by itself (not by a signal)
    int exitCode = -1;
    int signal = 0;        // the signal that ended it, if any
    QByteArray output;     // its standard output, when captured
};

// A program started with fork() and execv(), optionally under another user
// (root only), its standard output captured or thrown away. Only
// async-signal-safe calls run between fork() and execv().
class Child
{
public:
    Child() = default;
    ~Child();
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    // uid/gid < 0: as ourselves.
    bool Start(const QList<QByteArray> &argv, int uid = -1, int gid = -1, bool capture = true);
    void Kill();           // SIGKILL
    ChildResult Wait();    // reads the output to its end, then reaps

    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

// Runs the program to its end.
ChildResult Run(const QList<QByteArray> &argv, int uid = -1, int gid = -1);

} // namespace hardening
