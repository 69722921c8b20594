#include "platform/pathchecks.h"

#include <sys/stat.h>
#include <unistd.h>

// Answers as the Windows directory search does: it lists the entry itself
// (a link, not what it points to), refuses a path that ends in a separator,
// and a zero byte can't be part of a name.

namespace {

bool Searchable(const std::string &path)
{
    return !path.empty() && path.back() != '/' && path.find('\0') == std::string::npos;
}

} // namespace

bool FileExists(const std::string &path)
{
    struct stat info;
    return Searchable(path) && lstat(path.c_str(), &info) == 0;
}

bool FolderExists(const std::string &path)
{
    std::string folder = path;
    if (!folder.empty() && folder.back() == '/')
        folder.pop_back();
    // A link to a folder counts as one, as a directory link does on Windows.
    struct stat info;
    if (!Searchable(folder) || stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    // The root is no entry of any folder, so the directory search never finds
    // it (a drive root is refused on Windows). Stripping the "/" leaves ""
    // for "/" itself, but "/." or "/tmp/.." or a link to "/" reach it too: a
    // job there would rename the whole system. Compared by identity.
    struct stat root;
    return stat("/", &root) == 0 && (root.st_dev != info.st_dev || root.st_ino != info.st_ino);
}

bool IsSystemRoot(const std::string &path)
{
    struct stat info, root;
    return !path.empty() && path.find('\0') == std::string::npos
        && stat(path.c_str(), &info) == 0 && stat("/", &root) == 0 && root.st_dev == info.st_dev
        && root.st_ino == info.st_ino;
}

bool RemoveNonFolder(const std::string &path)
{
    struct stat info;
    if (path.empty() || path.find('\0') != std::string::npos || lstat(path.c_str(), &info) != 0
        || S_ISDIR(info.st_mode) || (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)))
        return false;
    return unlink(path.c_str()) == 0;
}
