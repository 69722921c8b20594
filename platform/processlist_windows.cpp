// The 8-bit forms of the process-list calls are meant here, whatever the
// build says about UNICODE: the names we compare are 8-bit texts.
#undef UNICODE
#undef _UNICODE

#include "platform/processlist.h"

#include <cstring>

#include <windows.h>
#include <tlhelp32.h>

namespace {

// Walks the snapshot, leaving out the idle-process placeholder (pid 0) that
// heads it on Windows. Not simply the first entry: Wine lists no placeholder,
// and its first entry is a real process, maybe a copy of this program.
// `visit` returns true to stop the walk.
template <typename Visit>
bool WalkProcessList(Visit visit)
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
        if (entry.th32ProcessID != 0 && visit(entry))
            break;
    }
    CloseHandle(snapshot);
    return true;
}

} // namespace

int CountProcessesByName(const char *name)
{
    if (!name)
        return 0;
    int count = 0;
    WalkProcessList([&](const PROCESSENTRY32 &entry) {
        if (std::strcmp(entry.szExeFile, name) == 0)
            ++count;
        return false;
    });
    return count;
}

int TerminateProcessByName(const char *name)
{
    if (!name)
        return 0;
    const DWORD self = GetCurrentProcessId();
    int result = 0;
    WalkProcessList([&](const PROCESSENTRY32 &entry) {
        // The starting copy may be listed before the one to end.
        if (entry.th32ProcessID == self || std::strcmp(entry.szExeFile, name) != 0)
            return false;
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID);
        if (process) {
            if (TerminateProcess(process, 0))
                result = 1;
            CloseHandle(process);
        }
        return true;
    });
    return result;
}
