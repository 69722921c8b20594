#include "platform/pathchecks.h"

#include "platform/widestring_windows.h"

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

namespace {

// For comparing two forms of one path: no extended-length prefix, "\\"
// between names, no closing separator.
std::wstring Plain(std::wstring path)
{
    path = WithoutExtendedPrefix(path);
    for (wchar_t &c : path)
        if (c == L'/')
            c = L'\\';
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    return path;
}

} // namespace

bool IsSystemRoot(const std::string &path)
{
    if (path.empty())
        return false;
    const std::wstring wide = SystemPath(path);
    if (wide.empty())
        return true; // can't be told: not to be risked
    std::wstring volume(wide.size() + 2, L'\0');
    if (!GetVolumePathNameW(wide.c_str(), &volume[0], static_cast<DWORD>(volume.size())))
        return true; // can't be told: not to be risked
    volume.resize(std::wcslen(volume.c_str()));
    const std::wstring a = Plain(wide), b = Plain(volume);
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE)
        == CSTR_EQUAL;
}

bool RemoveNonFolder(const std::string &path)
{
    const std::wstring wide = SystemPath(path);
    // A link to a folder carries the folder attribute too.
    const DWORD attributes = wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)
        && DeleteFileW(wide.c_str()) != 0;
}
