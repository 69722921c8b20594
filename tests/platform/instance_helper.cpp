// Stands in for the program under its fixed executable name. "hold" only
// waits; "start" first applies the single-instance rule, as start-up does.
// Both then print "ready" and answer one line per command line on stdin:
// ping, count, terminate, rule. The helper ends when stdin closes or after a
// minute without input, so a failed test leaves nothing running.

#include "app/startup.h"
#include "platform/processlist.h"

#include <cerrno>
#include <string>

#include <poll.h>
#include <unistd.h>

namespace {

void Reply(const std::string &text)
{
    const std::string line = text + "\n";
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = write(STDOUT_FILENO, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            _exit(3);
        done += static_cast<size_t>(n);
    }
}

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
        return 2;
    Reply("ready");

    std::string pending;
    for (;;) {
        pollfd input = {STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&input, 1, 60000);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return 0;
        char chunk[256];
        const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        pending.append(chunk, static_cast<size_t>(n));
        std::string::size_type end;
        while ((end = pending.find('\n')) != std::string::npos) {
            Reply(Answer(pending.substr(0, end)));
            pending.erase(0, end + 1);
        }
    }
}
