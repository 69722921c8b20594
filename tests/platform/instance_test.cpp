// The single-instance rule against real processes: copies of a helper built
// from the program's own start-up code, under the fixed name and others.

#include "app/startup.h"
#include "platform/processlist.h"

#include "tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
// Generous: sanitizer builds on a loaded machine start slowly.
const std::chrono::seconds kPatience(30);

struct Child
{
    pid_t pid = -1;
    int toChild = -1;
    int fromChild = -1;
    std::string pending;
    bool reaped = false;
    int status = 0;
};

class InstanceTest : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // A helper that died must fail a check, not end the test program.
        std::signal(SIGPIPE, SIG_IGN);
    }

    void SetUp() override
    {
        // Readable by another user for the copy started under that user.
        std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    }

    void TearDown() override
    {
        for (const auto &child : children) {
            if (child->reaped || child->pid <= 0)
                continue;
            kill(child->pid, SIGKILL);
            waitpid(child->pid, &child->status, 0);
        }
        for (const auto &child : children) {
            close(child->toChild);
            close(child->fromChild);
        }
    }

    // The helper copied under `name` into the test's own folder.
    std::string CopyHelper(const std::string &name)
    {
        const std::string path = dir / name;
        std::filesystem::copy_file(QB_INSTANCE_HELPER, path);
        std::filesystem::permissions(path, std::filesystem::perms(0755));
        return path;
    }

    // Starts `program mode`, optionally as another user, and waits for it to
    // say it is ready.
    Child &Spawn(const std::string &program, const char *mode, uid_t uid = 0, bool asOther = false)
    {
        int in[2];
        int out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        const std::vector<std::string> args = {program, mode};
        std::vector<char *> argv = {const_cast<char *>(args[0].c_str()),
                                    const_cast<char *>(args[1].c_str()), nullptr};
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            if (asOther && (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0))
                _exit(126);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        if (pid < 0) {
            close(in[1]);
            close(out[0]);
            throw std::runtime_error("fork");
        }
        children.push_back(std::make_unique<Child>());
        Child &child = *children.back();
        child.pid = pid;
        child.toChild = in[1];
        child.fromChild = out[0];
        const std::string line = ReadLine(child);
        if (line != "ready")
            ADD_FAILURE() << program << ' ' << mode << " did not start: \"" << line << '"';
        return child;
    }

    // One line from the child, or empty when it ends or takes too long.
    static std::string ReadLine(Child &child)
    {
        const Clock::time_point deadline = Clock::now() + kPatience;
        for (;;) {
            const std::string::size_type end = child.pending.find('\n');
            if (end != std::string::npos) {
                const std::string line = child.pending.substr(0, end);
                child.pending.erase(0, end + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - Clock::now());
            if (left.count() <= 0)
                return std::string();
            pollfd output = {child.fromChild, POLLIN, 0};
            const int ready = poll(&output, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return std::string();
            char chunk[256];
            const ssize_t n = read(child.fromChild, chunk, sizeof chunk);
            if (n <= 0)
                return std::string();
            child.pending.append(chunk, static_cast<size_t>(n));
        }
    }

    static std::string Ask(Child &child, const std::string &command)
    {
        const std::string line = command + "\n";
        if (write(child.toChild, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            return std::string();
        return ReadLine(child);
    }

    // A child that answers after the ending was requested is still running.
    static bool Alive(Child &child)
    {
        return !child.reaped && Ask(child, "ping") == "pong"
               && waitpid(child.pid, &child.status, WNOHANG) == 0;
    }

    static bool EndedBySigkill(Child &child)
    {
        const Clock::time_point deadline = Clock::now() + kPatience;
        while (!child.reaped) {
            const pid_t done = waitpid(child.pid, &child.status, WNOHANG);
            if (done == child.pid)
                child.reaped = true;
            else if (done < 0 || Clock::now() > deadline)
                return false;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return WIFSIGNALED(child.status) && WTERMSIG(child.status) == SIGKILL;
    }

    // The fixed-name tests see every copy of the program run by this user;
    // give another test's copy time to go, else skip rather than hit it.
    static bool NoStrayInstances()
    {
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
        while (CountProcessesByName(kInstanceExecutableName) != 0) {
            if (Clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
    }

    // A name no other test uses, longer than the 15 bytes of a process's
    // short name, so only the executable's file name can match it.
    static std::string UniqueName(const std::string &tag)
    {
        return "qb-instance-test-" + std::to_string(getpid()) + "-" + tag;
    }

    TempDir dir;
    std::vector<std::unique_ptr<Child>> children;
};

class SingleInstanceRuleTest : public InstanceTest, public testing::WithParamInterface<int>
{
};

TEST_P(SingleInstanceRuleTest, StarterEndsOnlyTheFirstOtherCopy)
{
    if (!NoStrayInstances())
        GTEST_SKIP() << "another copy of " << kInstanceExecutableName << " keeps running";
    const int others = GetParam();
    std::vector<Child *> holders;
    for (int i = 0; i < others; ++i)
        holders.push_back(&Spawn(QB_INSTANCE_HELPER, "hold"));
    ASSERT_EQ(CountProcessesByName(kInstanceExecutableName), others);

    Child &starter = Spawn(QB_INSTANCE_HELPER, "start");

    // The process list is walked in pid order, so the lowest pid goes.
    const auto first = std::min_element(holders.begin(), holders.end(),
                                        [](Child *a, Child *b) { return a->pid < b->pid; });
    for (Child *holder : holders) {
        if (holder == *first)
            EXPECT_TRUE(EndedBySigkill(*holder)) << "pid " << holder->pid;
        else
            EXPECT_TRUE(Alive(*holder)) << "pid " << holder->pid;
    }
    EXPECT_TRUE(Alive(starter));
    // The starter counts itself.
    EXPECT_EQ(Ask(starter, "count"), std::to_string(std::max(others, 1)));
}

INSTANTIATE_TEST_SUITE_P(OtherCopies, SingleInstanceRuleTest, testing::Values(0, 1, 2, 3));

TEST_F(InstanceTest, CallerListedFirstIsNeverEnded)
{
    if (!NoStrayInstances())
        GTEST_SKIP() << "another copy of " << kInstanceExecutableName << " keeps running";
    Child &caller = Spawn(QB_INSTANCE_HELPER, "hold");
    Child &other = Spawn(QB_INSTANCE_HELPER, "hold");
    if (other.pid < caller.pid)
        std::cout << "pids wrapped: the caller is not listed first this time\n";

    EXPECT_EQ(Ask(caller, "count"), "2");
    EXPECT_EQ(Ask(caller, "terminate"), "1");
    EXPECT_TRUE(EndedBySigkill(other));
    EXPECT_TRUE(Alive(caller));

    // Alone: nothing to end, whichever way it is asked.
    EXPECT_EQ(Ask(caller, "count"), "1");
    EXPECT_EQ(Ask(caller, "terminate"), "0");
    EXPECT_EQ(Ask(caller, "rule"), "done");
    EXPECT_TRUE(Alive(caller));
}

TEST_F(InstanceTest, CopiesUnderOtherNamesAreNeverMatched)
{
    if (!NoStrayInstances())
        GTEST_SKIP() << "another copy of " << kInstanceExecutableName << " keeps running";
    std::vector<Child *> strangers;
    for (const char *name : {"quillbarrow", "QUILLBARROW", "Quillbarrow2", "Quillbarrow.exe",
                             "xQuillbarrow", "Quillbarro"})
        strangers.push_back(&Spawn(CopyHelper(name), "hold"));

    Child &starter = Spawn(QB_INSTANCE_HELPER, "start");
    EXPECT_EQ(Ask(starter, "count"), "1");
    EXPECT_EQ(Ask(starter, "terminate"), "0");
    for (Child *stranger : strangers)
        EXPECT_TRUE(Alive(*stranger)) << "pid " << stranger->pid;
    EXPECT_TRUE(Alive(starter));
    // A copy counts its fixed name, not its own.
    EXPECT_EQ(Ask(*strangers.front(), "count"), "1");
}

TEST_F(InstanceTest, CountsAndEndsByExactExecutableName)
{
    const std::string name = UniqueName("held");
    const std::string program = CopyHelper(name);
    Child &a = Spawn(program, "hold");
    Child &b = Spawn(program, "hold");
    Child &lower = a.pid < b.pid ? a : b;
    Child &higher = a.pid < b.pid ? b : a;

    EXPECT_EQ(CountProcessesByName(name.c_str()), 2);
    EXPECT_EQ(CountProcessesByName(name.substr(0, name.size() - 1).c_str()), 0);
    EXPECT_EQ(CountProcessesByName((name + "x").c_str()), 0);
    EXPECT_EQ(CountProcessesByName(program.c_str()), 0);
    EXPECT_EQ(CountProcessesByName(""), 0);
    EXPECT_EQ(CountProcessesByName(nullptr), 0);
    EXPECT_EQ(TerminateProcessByName(nullptr), 0);
    EXPECT_EQ(TerminateProcessByName(""), 0);
    EXPECT_EQ(TerminateProcessByName((name + "x").c_str()), 0);
    EXPECT_TRUE(Alive(lower));
    EXPECT_TRUE(Alive(higher));

    EXPECT_EQ(TerminateProcessByName(name.c_str()), 1);
    EXPECT_TRUE(EndedBySigkill(lower));
    EXPECT_TRUE(Alive(higher));
    EXPECT_EQ(CountProcessesByName(name.c_str()), 1);

    EXPECT_EQ(TerminateProcessByName(name.c_str()), 1);
    EXPECT_TRUE(EndedBySigkill(higher));
    EXPECT_EQ(CountProcessesByName(name.c_str()), 0);
    EXPECT_EQ(TerminateProcessByName(name.c_str()), 0);
}

TEST_F(InstanceTest, CallingProcessCountsItself)
{
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").filename().string();
    EXPECT_GE(CountProcessesByName(self.c_str()), 1);
}

TEST_F(InstanceTest, CopyWhoseFileWasRemovedStillCounts)
{
    const std::string name = UniqueName("removed");
    const std::string program = CopyHelper(name);
    Child &child = Spawn(program, "hold");
    std::filesystem::remove(program);

    EXPECT_EQ(CountProcessesByName(name.c_str()), 1);
    EXPECT_EQ(TerminateProcessByName(name.c_str()), 1);
    EXPECT_TRUE(EndedBySigkill(child));
}

TEST_F(InstanceTest, AnotherUsersCopyIsUntouched)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to start a copy as another user";
    const uid_t nobody = 65534;
    const std::string name = UniqueName("foreign");
    const std::string program = CopyHelper(name);
    Child &foreign = Spawn(program, "hold", nobody, true);

    EXPECT_EQ(CountProcessesByName(name.c_str()), 0);
    EXPECT_EQ(TerminateProcessByName(name.c_str()), 0);
    EXPECT_TRUE(Alive(foreign));

    // The same file run by this user is matched.
    Child &own = Spawn(program, "hold");
    EXPECT_EQ(CountProcessesByName(name.c_str()), 1);
    EXPECT_EQ(TerminateProcessByName(name.c_str()), 1);
    EXPECT_TRUE(EndedBySigkill(own));
    EXPECT_TRUE(Alive(foreign));
}

} // namespace
