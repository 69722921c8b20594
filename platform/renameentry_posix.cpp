#include "platform/renameentry.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

bool UsablePath(const std::string &path)
{
    return !path.empty() && path.find('\0') == std::string::npos;
}

// Only for file systems without an atomic no-replace rename: a racing
// creation between the check and the rename can still be replaced.
bool CheckedRename(const char *from, const char *to)
{
    struct stat info;
    if (lstat(to, &info) == 0 || errno != ENOENT)
        return false;
    return std::rename(from, to) == 0;
}

} // namespace

bool RenameEntry(const std::string &from, const std::string &to)
{
    if (!UsablePath(from) || !UsablePath(to))
        return false;
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    // EINVAL also means "a folder into itself"; the plain rename refuses that too.
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    return CheckedRename(from.c_str(), to.c_str());
}
