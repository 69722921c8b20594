#include "platform/renameentry.h"

#include <windows.h>

namespace {

bool UsablePath(const std::string &path)
{
    return !path.empty() && path.find('\0') == std::string::npos;
}

// Opens the entry itself, a folder or a link included, without following it.
HANDLE OpenEntry(const char *path)
{
    return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                       nullptr);
}

// True when both paths name one directory entry: a change of case only, which
// the file system reports as "already there".
bool SameEntry(const char *a, const char *b)
{
    HANDLE first = OpenEntry(a);
    if (first == INVALID_HANDLE_VALUE)
        return false;
    HANDLE second = OpenEntry(b);
    bool same = false;
    if (second != INVALID_HANDLE_VALUE) {
        BY_HANDLE_FILE_INFORMATION x, y;
        same = GetFileInformationByHandle(first, &x) && GetFileInformationByHandle(second, &y)
            && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber
            && x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
        CloseHandle(second);
    }
    CloseHandle(first);
    return same;
}

// Anything at `to`, a dangling link included, or a path that can't be looked at.
bool SomethingAt(const char *to)
{
    if (GetFileAttributesA(to) != INVALID_FILE_ATTRIBUTES)
        return true;
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

} // namespace

bool RenameEntry(const std::string &from, const std::string &to)
{
    if (!UsablePath(from) || !UsablePath(to))
        return false;
    if (SomethingAt(to.c_str()) && !SameEntry(from.c_str(), to.c_str()))
        return false;
    // No MOVEFILE_REPLACE_EXISTING and no MOVEFILE_COPY_ALLOWED: never
    // replaces, never copies across volumes.
    return MoveFileExA(from.c_str(), to.c_str(), 0) != 0;
}
