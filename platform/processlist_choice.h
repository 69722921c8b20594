#pragma once

// Which listed processes the single-instance rule counts and which one it
// ends, apart from how the system lists them, so that the choice can be
// checked without real sessions and users. No system calls here.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// One entry of the system's process list, as far as it could be told.
struct ListedProcess
{
    unsigned long pid = 0;
    std::string executableName;  // file name only, as the list reports it
    bool sessionKnown = false;
    unsigned long session = 0;
    bool userKnown = false;      // the owner could be read
    bool sameUser = false;       // the owner is the caller's user
};

// A copy of the caller's own: the name matches byte for byte, and the process
// is known to run in `callerSession` for the caller's user. A process whose
// session or user can't be told is never one.
inline bool IsOwnCopy(const ListedProcess &process, const std::string &name,
                      unsigned long callerSession)
{
    return process.executableName == name && process.sessionKnown
           && process.session == callerSession && process.userKnown && process.sameUser;
}

// The number of own copies in `listed`, the caller's entry included.
inline int CountOwnCopies(const std::vector<ListedProcess> &listed, const std::string &name,
                          unsigned long callerSession)
{
    int count = 0;
    for (const ListedProcess &process : listed) {
        if (IsOwnCopy(process, name, callerSession))
            ++count;
    }
    return count;
}

// Tries `end` on the own copies other than `callerPid`, in list order, until
// one is ended; one that can't be opened or ended is passed over. The index
// in `listed` of the copy ended, or -1 when none was.
inline long EndFirstOwnCopy(const std::vector<ListedProcess> &listed, const std::string &name,
                            unsigned long callerPid, unsigned long callerSession,
                            const std::function<bool(const ListedProcess &)> &end)
{
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const ListedProcess &process = listed[i];
        if (process.pid != callerPid && IsOwnCopy(process, name, callerSession) && end(process))
            return static_cast<long>(i);
    }
    return -1;
}
