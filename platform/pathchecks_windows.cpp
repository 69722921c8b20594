#include "platform/pathchecks.h"

#include <windows.h>

namespace {

// The directory search takes wildcards, so "D:\data\*" would find some entry
// although no entry has that name. Only the "\\?\" prefix may hold a '?'.
bool NamesOneEntry(const std::string &path)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    const std::string::size_type start = path.compare(0, 4, "\\\\?\\") == 0 ? 4 : 0;
    return path.find_first_of("*?", start) == std::string::npos;
}

bool FindEntry(const std::string &path, WIN32_FIND_DATAA &data)
{
    if (!NamesOneEntry(path))
        return false;
    HANDLE search = FindFirstFileA(path.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}

} // namespace

bool FileExists(const std::string &path)
{
    WIN32_FIND_DATAA data;
    return FindEntry(path, data);
}

bool FolderExists(const std::string &path)
{
    std::string folder = path;
    if (!folder.empty() && folder.back() == '/')
        folder.pop_back();
    WIN32_FIND_DATAA data;
    return FindEntry(folder, data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
