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

namespace {

// Far more than any real nesting: only a broken file system loops.
const int kMaxDepth = 100000;

} // namespace

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

bool RealFolderChain(const std::string &path, std::vector<EntryIdentity> &chain)
{
    // ".." is taken by its text on Windows: walk the final path instead, which
    // has no link left in it, so each shorter prefix is a real parent.
    chain.clear();
    std::string final;
    if (!FinalPathOf(path, final))
        return false;
    // "C:/x" or "//server/share/x", with "/" between names.
    std::size_t top = 0;
    if (final.compare(0, 2, "//") == 0) {
        const std::size_t share = final.find('/', 2);
        top = share == std::string::npos ? final.size() : final.find('/', share + 1);
        if (top == std::string::npos)
            top = final.size();
    } else {
        top = final.find('/');
        if (top == std::string::npos)
            top = final.size();
    }
    while (static_cast<int>(chain.size()) < kMaxDepth) {
        EntryIdentity identity;
        // The top of a volume needs its separator ("C:/"), a folder doesn't mind one.
        if (!IdentifyEntry(final + '/', identity))
            return !chain.empty();
        chain.push_back(identity);
        const std::size_t last = final.find_last_of('/');
        if (final.size() <= top || last == std::string::npos || last < top)
            break;
        final.resize(last > top ? last : top);
    }
    return true;
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

bool RealFolderChain(const std::string &path, std::vector<EntryIdentity> &chain)
{
    // ".." from an open folder is the folder that really holds it, whatever
    // path led there, so no path is put together and none grows too long.
    chain.clear();
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
#ifdef O_PATH
    // A folder may be searched without being readable.
    const int flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
    int fd = open(path.c_str(), flags);
    if (fd < 0)
        return false;
    while (static_cast<int>(chain.size()) < kMaxDepth) {
        struct stat info;
        if (fstat(fd, &info) != 0)
            break;
        EntryIdentity identity;
        identity = IdentityOfStat(info);
        if (!chain.empty() && chain.back() == identity)
            break; // the top: its ".." is itself
        chain.push_back(identity);
        const int parent = openat(fd, "..", flags);
        close(fd);
        fd = parent;
        if (fd < 0)
            return !chain.empty();
    }
    if (fd >= 0)
        close(fd);
    return !chain.empty();
}

#endif
