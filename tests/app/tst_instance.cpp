// The single-instance rule against real processes: copies of a helper built
// from the program's own start-up code, under the fixed name and others.

#include "app/startup.h"
#include "platform/processlist.h"
#include "platform/processlist_choice.h"

#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <tlhelp32.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

// The choice behind the rule, on listed entries as the system would give
// them: on Windows the list holds every session's processes, owners that
// can't be read, and copies that can't be opened.
ListedProcess Listed(unsigned long pid, const char *name, unsigned long session, bool sameUser)
{
    ListedProcess process;
    process.pid = pid;
    process.executableName = name;
    process.sessionKnown = true;
    process.session = session;
    process.userKnown = true;
    process.sameUser = sameUser;
    return process;
}

const char kName[] = "Quillbarrow.exe";
const unsigned long kCallerPid = 500;
const unsigned long kCallerSession = 1;

// Entries of every kind the rule must leave alone, then the caller.
std::vector<ListedProcess> ForeignThenCaller()
{
    ListedProcess unknownSession = Listed(103, kName, kCallerSession, true);
    unknownSession.sessionKnown = false;
    ListedProcess unknownUser = Listed(104, kName, kCallerSession, true);
    unknownUser.userKnown = false;  // could not be opened for a look
    return {Listed(101, kName, kCallerSession, false),  // another user, same session
            Listed(102, kName, 2, true),                // this user, another session
            unknownSession,
            unknownUser,
            Listed(105, "quillbarrow.exe", kCallerSession, true),
            Listed(kCallerPid, kName, kCallerSession, true)};
}

// Runs the choice with an ending that fails for the pids in `refusing`.
struct Ending
{
    std::vector<unsigned long> refusing;
    std::vector<unsigned long> tried;

    long Run(const std::vector<ListedProcess> &listed)
    {
        return EndFirstOwnCopy(listed, kName, kCallerPid, kCallerSession,
                               [this](const ListedProcess &process) {
                                   tried.push_back(process.pid);
                                   return std::find(refusing.begin(), refusing.end(), process.pid)
                                          == refusing.end();
                               });
    }
};

TEST(OwnCopyChoiceTest, OnlyTheCallersSessionAndUserCount)
{
    std::vector<ListedProcess> listed = ForeignThenCaller();
    EXPECT_EQ(CountOwnCopies(listed, kName, kCallerSession), 1);
    listed.push_back(Listed(600, kName, kCallerSession, true));
    EXPECT_EQ(CountOwnCopies(listed, kName, kCallerSession), 2);
    // Seen from the other session, only that session's copy of this user is one.
    EXPECT_EQ(CountOwnCopies(listed, kName, 2), 1);
}

TEST(OwnCopyChoiceTest, OtherUsersSessionsAndUnknownOwnersAreNeverEnded)
{
    Ending alone;
    EXPECT_EQ(alone.Run(ForeignThenCaller()), -1);
    EXPECT_TRUE(alone.tried.empty());

    // Listed before this user's copy, they neither are ended nor stop the walk.
    std::vector<ListedProcess> listed = ForeignThenCaller();
    listed.push_back(Listed(600, kName, kCallerSession, true));
    listed.push_back(Listed(601, kName, kCallerSession, true));
    Ending ending;
    EXPECT_EQ(ending.Run(listed), 6);
    EXPECT_EQ(ending.tried, std::vector<unsigned long>({600}));
}

TEST(OwnCopyChoiceTest, ACopyThatCannotBeEndedIsPassedOver)
{
    std::vector<ListedProcess> listed = {Listed(600, kName, kCallerSession, true),
                                         Listed(kCallerPid, kName, kCallerSession, true),
                                         Listed(601, kName, kCallerSession, true),
                                         Listed(602, kName, kCallerSession, true)};
    Ending ending;
    ending.refusing = {600};
    EXPECT_EQ(ending.Run(listed), 2);
    EXPECT_EQ(ending.tried, std::vector<unsigned long>({600, 601}));

    Ending none;
    none.refusing = {600, 601, 602};
    EXPECT_EQ(none.Run(listed), -1);
    EXPECT_EQ(none.tried, std::vector<unsigned long>({600, 601, 602}));
}

using Clock = std::chrono::steady_clock;
// Generous: sanitizer builds and Wine on a loaded machine start slowly.
const std::chrono::seconds kPatience(30);

int MillisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long long>(left.count(), 0));
}

// A running helper with a pipe to its stdin and one from its stdout.
struct Child
{
#ifdef _WIN32
    HANDLE process = nullptr;
    HANDLE toChild = INVALID_HANDLE_VALUE;
    HANDLE fromChild = INVALID_HANDLE_VALUE;
    DWORD pid = 0;
#else
    pid_t pid = -1;
    int toChild = -1;
    int fromChild = -1;
    int status = 0;
#endif
    std::string pending;
    bool reaped = false;
};

#ifdef _WIN32

std::string SelfPath()
{
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            throw std::runtime_error("GetModuleFileNameA");
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// Built next to this test program.
std::string HelperProgram()
{
    const std::string self = SelfPath();
    return self.substr(0, self.find_last_of("\\/") + 1) + QB_INSTANCE_HELPER;
}

bool StartProcess(Child &child, const std::string &program, const char *mode)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE inRead, inWrite, outRead, outWrite;
    if (!CreatePipe(&inRead, &inWrite, &inherit, 0))
        return false;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) {
        CloseHandle(inRead);
        CloseHandle(inWrite);
        return false;
    }
    // Only the child's ends are inherited, so its stdin closes with ours.
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string commandLine = "\"" + program + "\" " + mode;
    PROCESS_INFORMATION info = {};
    const bool started = CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &info);
    CloseHandle(inRead);
    CloseHandle(outWrite);
    if (!started) {
        CloseHandle(inWrite);
        CloseHandle(outRead);
        return false;
    }
    CloseHandle(info.hThread);
    child.process = info.hProcess;
    child.pid = info.dwProcessId;
    child.toChild = inWrite;
    child.fromChild = outRead;
    return true;
}

bool WriteAll(Child &child, const std::string &text)
{
    DWORD written = 0;
    return WriteFile(child.toChild, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)
           && written == text.size();
}

// Some output of the child, or 0 when it ended or the deadline passed.
size_t ReadSome(Child &child, char *chunk, size_t size, Clock::time_point deadline)
{
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(child.fromChild, nullptr, 0, nullptr, &available, nullptr))
            return 0;
        if (available > 0)
            break;
        if (Clock::now() > deadline)
            return 0;
        Sleep(2);
    }
    DWORD got = 0;
    return ReadFile(child.fromChild, chunk, static_cast<DWORD>(size), &got, nullptr) ? got : 0;
}

bool StillRunning(Child &child)
{
    return !child.reaped && WaitForSingleObject(child.process, 0) == WAIT_TIMEOUT;
}

// Ended as the rule ends a copy: TerminateProcess with exit code 0. The
// helper never ends by itself with 0.
bool EndedByTheRule(Child &child)
{
    if (WaitForSingleObject(child.process, MillisecondsUntil(Clock::now() + kPatience)) != WAIT_OBJECT_0)
        return false;
    child.reaped = true;
    DWORD code = 1;
    return GetExitCodeProcess(child.process, &code) && code == 0;
}

void EndAndRelease(Child &child)
{
    if (!child.reaped && child.process) {
        TerminateProcess(child.process, 99);
        WaitForSingleObject(child.process, INFINITE);
    }
    if (child.process)
        CloseHandle(child.process);
    CloseHandle(child.toChild);
    CloseHandle(child.fromChild);
}

// Process ids in the order the system's process list gives them.
std::vector<DWORD> ListedPids()
{
    std::vector<DWORD> pids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return pids;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        pids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return pids;
}

// The first of `children` in the system's process-list order.
Child *FirstListed(const std::vector<Child *> &children)
{
    for (DWORD pid : ListedPids()) {
        for (Child *child : children) {
            if (child->pid == pid)
                return child;
        }
    }
    return nullptr;
}

#else

std::string HelperProgram()
{
    return QB_INSTANCE_HELPER;
}

std::string SelfPath()
{
    return std::filesystem::read_symlink("/proc/self/exe").string();
}

bool StartProcess(Child &child, const std::string &program, const char *mode, uid_t uid = 0,
                  bool asOther = false)
{
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        return false;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return false;
    }
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
        return false;
    }
    child.pid = pid;
    child.toChild = in[1];
    child.fromChild = out[0];
    return true;
}

bool WriteAll(Child &child, const std::string &text)
{
    return write(child.toChild, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

size_t ReadSome(Child &child, char *chunk, size_t size, Clock::time_point deadline)
{
    for (;;) {
        const int left = MillisecondsUntil(deadline);
        if (left <= 0)
            return 0;
        pollfd output = {child.fromChild, POLLIN, 0};
        const int ready = poll(&output, 1, left);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return 0;
        const ssize_t n = read(child.fromChild, chunk, size);
        return n <= 0 ? 0 : static_cast<size_t>(n);
    }
}

bool StillRunning(Child &child)
{
    return !child.reaped && waitpid(child.pid, &child.status, WNOHANG) == 0;
}

// Ended as the rule ends a copy: SIGKILL.
bool EndedByTheRule(Child &child)
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

void EndAndRelease(Child &child)
{
    if (!child.reaped && child.pid > 0) {
        kill(child.pid, SIGKILL);
        waitpid(child.pid, &child.status, 0);
    }
    close(child.toChild);
    close(child.fromChild);
}

// The process list is walked in pid order.
Child *FirstListed(const std::vector<Child *> &children)
{
    const auto first = std::min_element(children.begin(), children.end(),
                                        [](Child *a, Child *b) { return a->pid < b->pid; });
    return first == children.end() ? nullptr : *first;
}

#endif

std::string BaseName(const std::string &path)
{
    return path.substr(path.find_last_of("\\/") + 1);
}

class InstanceTest : public testing::Test
{
protected:
#ifndef _WIN32
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
#endif

    void TearDown() override
    {
        for (const auto &child : children)
            EndAndRelease(*child);
    }

    // The helper copied under `name`. Each copy gets a folder of its own: on
    // Windows names differing only in case are one file.
    std::string CopyHelper(const std::string &name)
    {
        const std::string folder = dir / ("copy" + std::to_string(copies++));
        std::filesystem::create_directory(folder);
        const std::string path = folder + "/" + name;
        std::filesystem::copy_file(HelperProgram(), path);
#ifndef _WIN32
        std::filesystem::permissions(folder, std::filesystem::perms(0755));
        std::filesystem::permissions(path, std::filesystem::perms(0755));
#endif
        return path;
    }

    // Starts `program mode` and waits for it to say it is ready.
    Child &Spawn(const std::string &program, const char *mode)
    {
        children.push_back(std::make_unique<Child>());
        Child &child = *children.back();
        if (!StartProcess(child, program, mode)) {
            children.pop_back();
            throw std::runtime_error("cannot start " + program);
        }
        ExpectReady(child, program, mode);
        return child;
    }

#ifndef _WIN32
    Child &SpawnAs(uid_t uid, const std::string &program, const char *mode)
    {
        children.push_back(std::make_unique<Child>());
        Child &child = *children.back();
        if (!StartProcess(child, program, mode, uid, true)) {
            children.pop_back();
            throw std::runtime_error("cannot start " + program);
        }
        ExpectReady(child, program, mode);
        return child;
    }
#endif

    static void ExpectReady(Child &child, const std::string &program, const char *mode)
    {
        const std::string line = ReadLine(child);
        if (line != "ready")
            ADD_FAILURE() << program << ' ' << mode << " did not start: \"" << line << '"';
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
            char chunk[256];
            const size_t n = ReadSome(child, chunk, sizeof chunk, deadline);
            if (n == 0)
                return std::string();
            child.pending.append(chunk, n);
        }
    }

    static std::string Ask(Child &child, const std::string &command)
    {
        if (!WriteAll(child, command + "\n"))
            return std::string();
        return ReadLine(child);
    }

    // A child that answers after the ending was requested is still running.
    static bool Alive(Child &child)
    {
        return !child.reaped && Ask(child, "ping") == "pong" && StillRunning(child);
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
    // short name on Linux, so only the executable's file name can match it.
    static std::string UniqueName(const std::string &tag)
    {
#ifdef _WIN32
        return "qb-instance-test-" + std::to_string(GetCurrentProcessId()) + "-" + tag + ".exe";
#else
        return "qb-instance-test-" + std::to_string(getpid()) + "-" + tag;
#endif
    }

    TempDir dir;
    int copies = 0;
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
        holders.push_back(&Spawn(HelperProgram(), "hold"));
    ASSERT_EQ(CountProcessesByName(kInstanceExecutableName), others);
    Child *const first = FirstListed(holders);
    ASSERT_EQ(first == nullptr, others == 0);

    Child &starter = Spawn(HelperProgram(), "start");

    for (Child *holder : holders) {
        if (holder == first)
            EXPECT_TRUE(EndedByTheRule(*holder)) << "pid " << holder->pid;
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
    Child &caller = Spawn(HelperProgram(), "hold");
    Child &other = Spawn(HelperProgram(), "hold");
    if (FirstListed({&caller, &other}) != &caller)
        std::cout << "the caller is not listed first this time\n";

    EXPECT_EQ(Ask(caller, "count"), "2");
    EXPECT_EQ(Ask(caller, "terminate"), "1");
    EXPECT_TRUE(EndedByTheRule(other));
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
#ifdef _WIN32
    const char *const names[] = {"quillbarrow.exe", "QUILLBARROW.EXE", "Quillbarrow.EXE",
                                 "Quillbarrow2.exe", "xQuillbarrow.exe", "Quillbarro.exe"};
#else
    const char *const names[] = {"quillbarrow", "QUILLBARROW", "Quillbarrow2", "Quillbarrow.exe",
                                 "xQuillbarrow", "Quillbarro"};
#endif
    std::vector<Child *> strangers;
    for (const char *name : names) {
        strangers.push_back(&Spawn(CopyHelper(name), "hold"));
        // Listed under its own name, exactly as spelt: not a vacuous check.
        EXPECT_EQ(CountProcessesByName(name), 1) << name;
    }

    Child &starter = Spawn(HelperProgram(), "start");
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
    Child &first = *FirstListed({&a, &b});
    Child &second = &first == &a ? b : a;

    EXPECT_EQ(CountProcessesByName(name.c_str()), 2);
    EXPECT_EQ(CountProcessesByName(name.substr(0, name.size() - 1).c_str()), 0);
    EXPECT_EQ(CountProcessesByName((name + "x").c_str()), 0);
    EXPECT_EQ(CountProcessesByName(program.c_str()), 0);
    EXPECT_EQ(CountProcessesByName(""), 0);
    EXPECT_EQ(CountProcessesByName(nullptr), 0);
    EXPECT_EQ(TerminateProcessByName(nullptr), 0);
    EXPECT_EQ(TerminateProcessByName(""), 0);
    EXPECT_EQ(TerminateProcessByName((name + "x").c_str()), 0);
    EXPECT_TRUE(Alive(first));
    EXPECT_TRUE(Alive(second));

    EXPECT_EQ(TerminateProcessByName(name.c_str()), 1);
    EXPECT_TRUE(EndedByTheRule(first));
    EXPECT_TRUE(Alive(second));
    EXPECT_EQ(CountProcessesByName(name.c_str()), 1);

    EXPECT_EQ(TerminateProcessByName(name.c_str()), 1);
    EXPECT_TRUE(EndedByTheRule(second));
    EXPECT_EQ(CountProcessesByName(name.c_str()), 0);
    EXPECT_EQ(TerminateProcessByName(name.c_str()), 0);
}

TEST_F(InstanceTest, CallingProcessCountsItself)
{
    const std::string self = BaseName(SelfPath());
    EXPECT_GE(CountProcessesByName(self.c_str()), 1) << self;
#ifdef _WIN32
    // Never the one ended, even when it is the only match. (Only in Wine's
    // private prefix: on a shared Linux machine another build's copy of this
    // test program could be the match.)
    if (CountProcessesByName(self.c_str()) == 1) {
        EXPECT_EQ(TerminateProcessByName(self.c_str()), 0);
    }
#endif
}

#ifdef _WIN32
// Wine lists no idle process: its first entry is a real process and counts.
TEST_F(InstanceTest, FirstListedProcessCounts)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    std::vector<PROCESSENTRY32> listed;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        listed.push_back(entry);
    CloseHandle(snapshot);
    ASSERT_FALSE(listed.empty());
    // The idle placeholder of a real Windows system is no process.
    if (listed.front().th32ProcessID == 0)
        listed.erase(listed.begin());
    ASSERT_FALSE(listed.empty());

    const std::string name = listed.front().szExeFile;
    const auto same = std::count_if(listed.begin(), listed.end(), [&](const PROCESSENTRY32 &e) {
        return name == e.szExeFile;
    });
    EXPECT_EQ(CountProcessesByName(name.c_str()), same) << name;
}
#else
TEST_F(InstanceTest, CopyWhoseFileWasRemovedStillCounts)
{
    const std::string name = UniqueName("removed");
    const std::string program = CopyHelper(name);
    Child &child = Spawn(program, "hold");
    std::filesystem::remove(program);

    EXPECT_EQ(CountProcessesByName(name.c_str()), 1);
    EXPECT_EQ(TerminateProcessByName(name.c_str()), 1);
    EXPECT_TRUE(EndedByTheRule(child));
}

TEST_F(InstanceTest, AnotherUsersCopyIsUntouched)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to start a copy as another user";
    const uid_t nobody = 65534;
    const std::string name = UniqueName("foreign");
    const std::string program = CopyHelper(name);
    Child &foreign = SpawnAs(nobody, program, "hold");

    EXPECT_EQ(CountProcessesByName(name.c_str()), 0);
    EXPECT_EQ(TerminateProcessByName(name.c_str()), 0);
    EXPECT_TRUE(Alive(foreign));

    // The same file run by this user is matched.
    Child &own = Spawn(program, "hold");
    EXPECT_EQ(CountProcessesByName(name.c_str()), 1);
    EXPECT_EQ(TerminateProcessByName(name.c_str()), 1);
    EXPECT_TRUE(EndedByTheRule(own));
    EXPECT_TRUE(Alive(foreign));
}
#endif

} // namespace
