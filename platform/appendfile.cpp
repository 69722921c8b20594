#include "platform/appendfile.h"

#ifdef _WIN32
#include "platform/entryidentity_windows.h"
#include "platform/widestring_windows.h"
#else
#include "platform/entryidentity_posix.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32

AppendFile::~AppendFile()
{
    if (handle_)
        CloseHandle(static_cast<HANDLE>(handle_));
}

bool AppendFile::Create(const std::string &path, int &systemCode, bool &exists)
{
    exists = false;
    const std::wstring wide = SystemPath(path);
    if (wide.empty()) {
        systemCode = ERROR_INVALID_NAME;
        return false;
    }
    // CREATE_NEW fails on any entry at the path; a reparse point is not followed.
    HANDLE handle = CreateFileW(wide.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ,
                                nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        systemCode = static_cast<int>(GetLastError());
        exists = systemCode == ERROR_FILE_EXISTS || systemCode == ERROR_ALREADY_EXISTS;
        return false;
    }
    handle_ = handle;
    return true;
}

bool AppendFile::Append(const char *data, std::size_t size, int &systemCode)
{
    if (!handle_) {
        systemCode = ERROR_INVALID_HANDLE;
        return false;
    }
    while (size > 0) {
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(static_cast<HANDLE>(handle_), data, chunk, &written, nullptr)
            || written == 0) {
            systemCode = static_cast<int>(GetLastError());
            if (systemCode == 0)
                systemCode = ERROR_DISK_FULL;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool AppendFile::Identify(EntryIdentity &identity) const
{
    return handle_ && IdentityOfHandle(static_cast<HANDLE>(handle_), identity);
}

bool AppendFile::SyncAndClose(int &systemCode)
{
    if (!handle_) {
        systemCode = ERROR_INVALID_HANDLE;
        return false;
    }
    HANDLE handle = static_cast<HANDLE>(handle_);
    handle_ = nullptr;
    bool ok = FlushFileBuffers(handle) != 0;
    if (!ok)
        systemCode = static_cast<int>(GetLastError());
    if (!CloseHandle(handle) && ok) {
        systemCode = static_cast<int>(GetLastError());
        ok = false;
    }
    return ok;
}

bool AppendFile::IsOpen() const
{
    return handle_ != nullptr;
}

#else

AppendFile::~AppendFile()
{
    if (fd_ >= 0)
        close(fd_);
}

bool AppendFile::Create(const std::string &path, int &systemCode, bool &exists)
{
    exists = false;
    if (path.empty() || path.find('\0') != std::string::npos) {
        systemCode = ENOENT;
        return false;
    }
    // O_EXCL: never over an entry, and a link at the path is not followed.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) {
        systemCode = errno;
        exists = systemCode == EEXIST;
        return false;
    }
    fd_ = fd;
    return true;
}

bool AppendFile::Append(const char *data, std::size_t size, int &systemCode)
{
    if (fd_ < 0) {
        systemCode = EBADF;
        return false;
    }
    while (size > 0) {
        const ssize_t written = write(fd_, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            systemCode = written < 0 ? errno : ENOSPC;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool AppendFile::Identify(EntryIdentity &identity) const
{
    struct stat info;
    if (fd_ < 0 || fstat(fd_, &info) != 0)
        return false;
    identity = IdentityOfStat(info);
    return true;
}

bool AppendFile::SyncAndClose(int &systemCode)
{
    if (fd_ < 0) {
        systemCode = EBADF;
        return false;
    }
    const int fd = fd_;
    fd_ = -1;
    bool ok = fsync(fd) == 0;
    if (!ok)
        systemCode = errno;
    if (close(fd) != 0 && ok) {
        systemCode = errno;
        ok = false;
    }
    return ok;
}

bool AppendFile::IsOpen() const
{
    return fd_ >= 0;
}

#endif
