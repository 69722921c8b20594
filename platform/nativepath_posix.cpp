#include "platform/nativepath.h"

#include <climits>
#include <cstdlib>

#ifndef PATH_MAX
#define PATH_MAX 4096 // where the system sets no limit, the usual one
#endif

bool NativeNamesAreUtf8()
{
    return false;
}

bool FolderPathFits(const std::string &folderPath)
{
    // PATH_MAX counts the terminating NUL.
    return folderPath.size() < static_cast<std::size_t>(PATH_MAX);
}

bool FinalPathOf(const std::string &path, std::string &final)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    char *resolved = realpath(path.c_str(), nullptr);
    if (!resolved)
        return false;
    final = resolved;
    std::free(resolved);
    return true;
}
