#include "app/startup.h"

#include "platform/processlist.h"
#include "platform/system.h"

#ifdef _WIN32
#include <windows.h>
#endif

const char *const kInstanceExecutableName = InstanceExecutableName();

namespace {

StartupFields &Fields()
{
    static StartupFields fields;
    return fields;
}

void ReadArguments(int argc, char **argv, StartupFields &fields)
{
    // A program may be started with no argument vector at all.
    if (argc >= 1 && argv && argv[0])
        fields.programPath = argv[0];
    if (argc >= 2 && argv && argv[1])
        fields.firstArgument = argv[1];
}

} // namespace

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

void InitStartupFields(int argc, char **argv, const std::wstring &modulePath)
{
    StartupFields fields;
    ReadArguments(argc, argv, fields);
    // No look-alike path is ever handed on: with no settings path the settings
    // file counts as missing.
    if (ProgramFolderFor(fields.programPath, modulePath, CP_ACP, fields.programFolder))
        fields.settingsPath = fields.programFolder + "Quillbarrow.qzt";
    Fields() = fields;
}

void InitStartupFields(int argc, char **argv)
{
    InitStartupFields(argc, argv, ModulePath());
}

#else

void InitStartupFields(int argc, char **argv)
{
    StartupFields fields;
    ReadArguments(argc, argv, fields);
    fields.programFolder = ProgramFolderOf(fields.programPath, NativeSeparator());
    fields.settingsPath = fields.programFolder + "Quillbarrow.qzt";
    Fields() = fields;
}

#endif

const StartupFields &Startup()
{
    return Fields();
}

void ApplySingleInstanceRule()
{
    // The count includes this starting copy.
    if (CountProcessesByName(kInstanceExecutableName) >= 2)
        TerminateProcessByName(kInstanceExecutableName);
}
