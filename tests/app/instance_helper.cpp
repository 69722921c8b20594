// Stands in for the program under its fixed executable name. "hold" only
// waits; "start" first applies the single-instance rule, as start-up does.
// Both then print "ready" and answer one line per command line on stdin:
// ping, count, terminate, rule. The helper ends when stdin closes or after a
// minute without input, so a failed test leaves nothing running. It then
// exits with kInputEnded, never 0: 0 is the code the rule ends a copy with.

#include "app/startup.h"
#include "platform/processlist.h"

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <poll.h>
#include <unistd.h>
#endif

namespace {

const int kBadMode = 2;
const int kInputEnded = 3;
const int kWriteFailed = 4;
const int kIdleMilliseconds = 60000;

#ifdef _WIN32

void Reply(const std::string &text)
{
    const std::string line = text + "\n";
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    size_t done = 0;
    while (done < line.size()) {
        DWORD written = 0;
        if (!WriteFile(out, line.data() + done, static_cast<DWORD>(line.size() - done), &written,
                       nullptr)
            || written == 0)
            ExitProcess(kWriteFailed);
        done += written;
    }
}

// Some input, or 0 once stdin has closed or stayed silent for a minute.
// Anonymous pipes have no wait with a time limit: look at them now and then.
size_t ReadInput(char *chunk, size_t size)
{
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    const ULONGLONG deadline = GetTickCount64() + kIdleMilliseconds;
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr))
            return 0;
        if (available > 0)
            break;
        if (GetTickCount64() > deadline)
            return 0;
        Sleep(5);
    }
    DWORD got = 0;
    if (!ReadFile(in, chunk, static_cast<DWORD>(size), &got, nullptr))
        return 0;
    return got;
}

#else

void Reply(const std::string &text)
{
    const std::string line = text + "\n";
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = write(STDOUT_FILENO, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            _exit(kWriteFailed);
        done += static_cast<size_t>(n);
    }
}

size_t ReadInput(char *chunk, size_t size)
{
    for (;;) {
        pollfd input = {STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&input, 1, kIdleMilliseconds);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return 0;
        const ssize_t n = read(STDIN_FILENO, chunk, size);
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 ? 0 : static_cast<size_t>(n);
    }
}

#endif

std::string Answer(const std::string &command)
{
    if (command == "ping")
        return "pong";
    if (command == "count")
        return std::to_string(CountProcessesByName(kInstanceExecutableName));
    if (command == "terminate")
        return std::to_string(TerminateProcessByName(kInstanceExecutableName));
    if (command == "rule") {
        ApplySingleInstanceRule();
        return "done";
    }
    return "unknown";
}

} // namespace

int main(int argc, char **argv)
{
    InitStartupFields(argc, argv);
    const std::string mode = Startup().firstArgument;
    if (mode == "start")
        ApplySingleInstanceRule();
    else if (mode != "hold")
        return kBadMode;
    Reply("ready");

    std::string pending;
    for (;;) {
        char chunk[256];
        const size_t n = ReadInput(chunk, sizeof chunk);
        if (n == 0)
            return kInputEnded;
        pending.append(chunk, n);
        std::string::size_type end;
        while ((end = pending.find('\n')) != std::string::npos) {
            Reply(Answer(pending.substr(0, end)));
            pending.erase(0, end + 1);
        }
    }
}
