// The 8-bit forms of the process-list calls are meant here, whatever the
// build says about UNICODE: the names we compare are 8-bit texts.
#undef UNICODE
#undef _UNICODE

#include "platform/processlist.h"
#include "platform/processlist_choice.h"

#include <cstring>
#include <string>
#include <vector>

#include <windows.h>
#include <tlhelp32.h>

namespace {

// The TOKEN_USER of `process`'s token, in a buffer sized for it; empty when
// the token can't be read.
std::vector<BYTE> TokenUserOf(HANDLE process)
{
    std::vector<BYTE> buffer;
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return buffer;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size >= sizeof(TOKEN_USER)) {
        buffer.resize(size);
        if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
            buffer.clear();
    }
    CloseHandle(token);
    return buffer;
}

PSID SidOf(std::vector<BYTE> &tokenUser)
{
    return reinterpret_cast<TOKEN_USER *>(tokenUser.data())->User.Sid;
}

// What the caller is compared with.
struct Caller
{
    DWORD pid = 0;
    DWORD session = 0;
    std::vector<BYTE> user;  // empty when the caller's own user can't be read
};

bool IdentifyCaller(Caller &caller)
{
    caller.pid = GetCurrentProcessId();
    caller.user = TokenUserOf(GetCurrentProcess());
    return !caller.user.empty() && ProcessIdToSessionId(caller.pid, &caller.session);
}

// Whether the process behind `handle` runs for the caller's user. False in
// `known` when its token can't be read.
void CompareUser(HANDLE handle, Caller &caller, ListedProcess &process)
{
    std::vector<BYTE> user = TokenUserOf(handle);
    process.userKnown = !user.empty();
    process.sameUser = process.userKnown && EqualSid(SidOf(user), SidOf(caller.user));
}

// Session and user of the listed process `process.pid`. Both stay unknown when
// the process can't be opened for a look.
void LookAt(ListedProcess &process, Caller &caller)
{
    DWORD session = 0;
    process.sessionKnown = ProcessIdToSessionId(process.pid, &session) != 0;
    process.session = session;
    HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process.pid);
    if (!handle)
        return;
    CompareUser(handle, caller, process);
    CloseHandle(handle);
}

// The snapshot's entries, leaving out the idle-process placeholder (pid 0)
// that heads it on Windows. Not simply the first entry: Wine lists no
// placeholder, and its first entry is a real process, maybe a copy of this
// program. Only entries named `name` are looked at more closely: opening
// every process would be slow and is never needed.
bool ListProcesses(const char *name, Caller &caller, std::vector<ListedProcess> &listed)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32 entry;
    std::memset(&entry, 0, sizeof entry);
    // The size differs between 32- and 64-bit builds; a wrong one makes
    // Process32First fail.
    entry.dwSize = sizeof(PROCESSENTRY32);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == 0)
            continue;
        ListedProcess process;
        process.pid = entry.th32ProcessID;
        process.executableName = entry.szExeFile;
        if (process.executableName == name)
            LookAt(process, caller);
        listed.push_back(process);
    }
    CloseHandle(snapshot);
    return true;
}

// File name of the executable behind `handle`, in the 8-bit form the
// snapshot gives it.
bool ExecutableFileName(HANDLE handle, std::string &fileName)
{
    std::string path(32768, '\0');
    DWORD size = static_cast<DWORD>(path.size());
    if (!QueryFullProcessImageNameA(handle, 0, &path[0], &size))
        return false;
    path.resize(size);
    const std::string::size_type slash = path.find_last_of("\\/");
    fileName = slash == std::string::npos ? path : path.substr(slash + 1);
    return true;
}

// Ends `listed` at once. The process is opened first and then checked again:
// while it is held open its id can't pass to another process, so one that
// ended after the snapshot and whose id went to someone else's is not hit.
bool EndProcess(const ListedProcess &listed, Caller &caller)
{
    HANDLE handle = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                listed.pid);
    if (!handle)
        return false;
    ListedProcess now = listed;
    DWORD session = 0;
    now.sessionKnown = ProcessIdToSessionId(listed.pid, &session) != 0;
    now.session = session;
    CompareUser(handle, caller, now);
    const bool ended = ExecutableFileName(handle, now.executableName)
                       && IsOwnCopy(now, listed.executableName, caller.session)
                       && TerminateProcess(handle, 0);
    CloseHandle(handle);
    return ended;
}

} // namespace

int CountProcessesByName(const char *name)
{
    Caller caller;
    std::vector<ListedProcess> listed;
    if (!name || !IdentifyCaller(caller) || !ListProcesses(name, caller, listed))
        return 0;
    return CountOwnCopies(listed, name, caller.session);
}

int TerminateProcessByName(const char *name)
{
    Caller caller;
    std::vector<ListedProcess> listed;
    if (!name || !IdentifyCaller(caller) || !ListProcesses(name, caller, listed))
        return 0;
    const long ended = EndFirstOwnCopy(listed, name, caller.pid, caller.session,
                                       [&](const ListedProcess &process) {
                                           return EndProcess(process, caller);
                                       });
    return ended >= 0 ? 1 : 0;
}
