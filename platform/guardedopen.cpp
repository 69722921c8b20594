#include "platform/guardedopen.h"

#include "platform/dirscan.h"
#include "platform/renameentry.h"

#ifdef _WIN32
#include "platform/entryidentity_windows.h"
#include "platform/widestring_windows.h"

#include <cerrno>
#include <io.h>
#else
#include "platform/entryidentity_posix.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32

namespace {

// The system's final path of a folder without its "\\?\" prefix, so that it
// reads as the paths the program is given.
std::wstring Comparable(std::wstring path)
{
    for (wchar_t &c : path)
        if (c == L'/')
            c = L'\\';
    while (path.size() > 1 && path.back() == L'\\' && path[path.size() - 2] != L':')
        path.pop_back();
    return path;
}

// `attributes` are the path's as looked up before the open: the runtime
// fails to open a folder with a plain "no access".
std::FILE *Checked(std::FILE *file, DWORD attributes, RegularFileStatus &status)
{
    status = RegularFileStatus();
    if (!file) {
        status.missing = errno == ENOENT;
        status.notRegular = attributes != INVALID_FILE_ATTRIBUTES
            && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        status.systemCode = errno;
        return nullptr;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info)
        || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::fclose(file);
        status.notRegular = true;
        return nullptr;
    }
    status.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return file;
}

} // namespace

std::FILE *OpenRegularFile(const std::string &path, bool forUpdate, RegularFileStatus &status)
{
    if (path.empty() || path.find('\0') != std::string::npos) {
        status = RegularFileStatus();
        status.missing = true;
        return nullptr;
    }
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return Checked(std::fopen(path.c_str(), forUpdate ? "rb+" : "rb"), attributes, status);
}

std::FILE *OpenRegularNativeFile(const std::string &path, RegularFileStatus &status)
{
    const std::wstring wide = SystemPath(path);
    if (wide.empty()) {
        status = RegularFileStatus();
        status.missing = true;
        return nullptr;
    }
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return Checked(_wfopen(wide.c_str(), L"rb"), attributes, status);
}

FolderReach OpenFolder::OpenWithoutLinks(const std::string &path, EntryIdentity &identity,
                                         int &systemCode)
{
    Close();
    systemCode = 0;
    std::wstring folder = path.find('\0') == std::string::npos ? SystemPath(path)
                                                                : std::wstring();
    if (folder.empty() || !IsAbsoluteNativePath(path)) {
        systemCode = ERROR_INVALID_NAME;
        return FolderReach::Failed;
    }
    // Held as Open holds it: the folder can't be moved while it is open.
    HANDLE handle = CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return FolderReach::Missing;
        systemCode = static_cast<int>(error);
        return FolderReach::Failed;
    }
    DWORD attributes = 0;
    if (!IdentityOfHandle(handle, identity, &attributes)
        || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(handle);
        return FolderReach::Missing;
    }
    // A link or junction on the way leaves its mark on the final path: it
    // names the folder the link leads to, not the path asked for.
    std::wstring final;
    if (!FinalPathOfHandle(handle, final)) {
        systemCode = static_cast<int>(GetLastError());
        CloseHandle(handle);
        return FolderReach::Failed;
    }
    const std::wstring asked = Comparable(WithoutExtendedPrefix(folder));
    const std::wstring found = Comparable(WithoutExtendedPrefix(final));
    if (CompareStringOrdinal(asked.c_str(), static_cast<int>(asked.size()), found.c_str(),
                             static_cast<int>(found.size()), TRUE)
        != CSTR_EQUAL) {
        CloseHandle(handle);
        return FolderReach::ThroughLink;
    }
    if (folder.back() != L'/' && folder.back() != L'\\')
        folder += L'\\';
    handle_ = handle;
    path_ = folder;
    return FolderReach::Opened;
}

#else

std::FILE *OpenRegularFile(const std::string &path, bool forUpdate, RegularFileStatus &status)
{
    status = RegularFileStatus();
    if (path.empty() || path.find('\0') != std::string::npos) {
        status.missing = true;
        return nullptr;
    }
    // Non-blocking: opening a FIFO for reading would wait for a writer.
    const int fd =
        open(path.c_str(), (forUpdate ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        status.missing = errno == ENOENT;
        status.notRegular = errno == EISDIR;
        status.systemCode = errno;
        return nullptr;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        status.systemCode = errno;
        status.notRegular = true;
        close(fd);
        return nullptr;
    }
    status.size = static_cast<std::uint64_t>(info.st_size);
    const int flags = fcntl(fd, F_GETFL);
    std::FILE *file = flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0
        ? nullptr
        : fdopen(fd, forUpdate ? "rb+" : "rb");
    if (!file) {
        status.systemCode = errno;
        close(fd);
    }
    return file;
}

std::FILE *OpenRegularNativeFile(const std::string &path, RegularFileStatus &status)
{
    return OpenRegularFile(path, false, status);
}

FolderReach OpenFolder::OpenWithoutLinks(const std::string &path, EntryIdentity &identity,
                                         int &systemCode)
{
    Close();
    systemCode = 0;
    if (!IsAbsoluteNativePath(path) || path.find('\0') != std::string::npos) {
        systemCode = EINVAL;
        return FolderReach::Failed;
    }
#ifdef O_PATH
    // Renaming needs write and search rights on the folder, not read rights.
    const int flags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#else
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
#endif
    // One part at a time from the root, each opened in the one before it:
    // no link is followed, and no part is looked up by path twice.
    int fd = open("/", flags);
    if (fd < 0) {
        systemCode = errno;
        return FolderReach::Failed;
    }
    for (std::size_t at = 0; at < path.size();) {
        std::size_t end = path.find('/', at);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(at, end - at);
        at = end + 1;
        if (part.empty())
            continue;
        if (part == "." || part == "..") {
            // The paths asked for are resolved ones: ".." may lead anywhere.
            close(fd);
            systemCode = EINVAL;
            return FolderReach::Failed;
        }
        const int next = openat(fd, part.c_str(), flags);
        if (next < 0) {
            const int error = errno;
            struct stat info;
            FolderReach reach = FolderReach::Failed;
            if (fstatat(fd, part.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
                reach = FolderReach::ThroughLink;
            else if (error == ENOENT || error == ENOTDIR)
                reach = FolderReach::Missing;
            else
                systemCode = error;
            close(fd);
            return reach;
        }
        close(fd);
        fd = next;
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        systemCode = errno;
        close(fd);
        return FolderReach::Failed;
    }
    identity = IdentityOfStat(info);
    fd_ = fd;
    return FolderReach::Opened;
}

#endif
