#include "platform/programfolder.h"

#ifdef _WIN32
#include <windows.h>
#endif

std::string ProgramFolderOf(const std::string &programPath, char separator)
{
    const std::string::size_type last = programPath.rfind(separator);
    return last == std::string::npos ? std::string() : programPath.substr(0, last + 1);
}

#ifdef _WIN32

namespace {

// The 8-bit form of `wide` in `codePage`, only when it converts back to
// exactly `wide`: a '?' or a best-fit look-alike would name another path.
bool ExactNarrow(const std::wstring &wide, unsigned codePage, std::string &narrow)
{
    narrow.clear();
    if (wide.empty())
        return true;
    const int wideLength = static_cast<int>(wide.size());
    const int size = WideCharToMultiByte(codePage, 0, wide.data(), wideLength, nullptr, 0,
                                         nullptr, nullptr);
    if (size <= 0)
        return false;
    narrow.resize(static_cast<std::size_t>(size));
    WideCharToMultiByte(codePage, 0, wide.data(), wideLength, &narrow[0], size, nullptr, nullptr);
    const int backSize = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, narrow.data(), size,
                                             nullptr, 0);
    std::wstring back(static_cast<std::size_t>(backSize > 0 ? backSize : 0), L'\0');
    if (backSize <= 0
        || MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, narrow.data(), size, &back[0],
                               backSize) != backSize
        || back != wide) {
        narrow.clear();
        return false;
    }
    return true;
}

std::wstring ShortPathOf(const std::wstring &path)
{
    std::wstring shortPath(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = GetShortPathNameW(path.c_str(), &shortPath[0],
                                             static_cast<DWORD>(shortPath.size()));
        if (size == 0)
            return std::wstring();
        if (size < shortPath.size()) {
            shortPath.resize(size);
            return shortPath;
        }
        shortPath.resize(size);
    }
}

std::wstring ModulePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (size == 0)
            return std::wstring();
        if (size < path.size()) {
            path.resize(size);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

} // namespace

bool ProgramFolderFor(const std::string &argv0, const std::wstring &modulePath,
                      unsigned codePage, std::string &folder)
{
    folder = ProgramFolderOf(argv0, '\\');
    const std::wstring::size_type last = modulePath.rfind(L'\\');
    if (folder.empty() || last == std::wstring::npos)
        return true;
    const std::wstring moduleFolder = modulePath.substr(0, last + 1);
    std::string narrow;
    // Every character of the path has its 8-bit form: argv[0] lost nothing.
    if (ExactNarrow(moduleFolder, codePage, narrow))
        return true;
    // The short names of the same folders, where the volume keeps them.
    if (ExactNarrow(ShortPathOf(moduleFolder), codePage, narrow) && !narrow.empty()) {
        if (narrow.back() != '\\')
            narrow += '\\';
        folder = narrow;
        return true;
    }
    folder.clear();
    return false;
}

bool ProgramFolder(const std::string &argv0, std::string &folder)
{
    return ProgramFolderFor(argv0, ModulePath(), CP_ACP, folder);
}

#else

bool ProgramFolder(const std::string &argv0, std::string &folder)
{
    folder = ProgramFolderOf(argv0, '/');
    return true;
}

#endif
