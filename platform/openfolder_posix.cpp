#include "platform/openfolder.h"

#include "platform/entryidentity_posix.h"
#include "platform/folderlisting_system.h"
#include "platform/nativepath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

OpenFolder::~OpenFolder()
{
    Close();
}

bool OpenFolder::Open(const std::string &path, EntryIdentity &identity)
{
    Close();
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
#ifdef O_PATH
    // Renaming needs write and search rights on the folder, not read rights.
    const int flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK;
#endif
    const int fd = open(path.c_str(), flags);
    if (fd < 0)
        return false;
    struct stat info;
    if (fstat(fd, &info) != 0) {
        close(fd);
        return false;
    }
    identity = IdentityOfStat(info);
    fd_ = fd;
    return true;
}

void OpenFolder::Close()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
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

namespace {

RenameStatus StatusOfErrno(int code)
{
    RenameStatus status;
    status.systemCode = code;
    switch (code) {
    case EEXIST:
    case ENOTEMPTY:
        status.error = RenameError::TargetExists;
        break;
    case ENOENT:
    case ENOTDIR:
        status.error = RenameError::Vanished;
        break;
    case EACCES:
    case EPERM:
    case EROFS:
    case EBUSY:
        status.error = RenameError::NotPermitted;
        break;
    case ENAMETOOLONG:
        status.error = RenameError::NameTooLong;
        break;
    default:
        status.error = RenameError::Other;
        break;
    }
    return status;
}

} // namespace

RenameStatus OpenFolder::Rename(const char *name, const char *newName)
{
    RenameStatus status;
    if (!IsPlainName(name) || !IsPlainName(newName)) {
        status.error = RenameError::InvalidName;
        return status;
    }
    if (fd_ < 0)
        return StatusOfErrno(EBADF);
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (renameat2(fd_, name, fd_, newName, RENAME_NOREPLACE) == 0)
        return status;
    if (errno != EINVAL && errno != ENOSYS)
        return StatusOfErrno(errno);
#endif
    // Only where the file system has no atomic no-replace rename: a racing
    // creation between the check and the rename can still be replaced.
    struct stat info;
    if (fstatat(fd_, newName, &info, AT_SYMLINK_NOFOLLOW) == 0)
        return StatusOfErrno(EEXIST);
    if (errno != ENOENT)
        return StatusOfErrno(errno);
    if (renameat(fd_, name, fd_, newName) != 0)
        return StatusOfErrno(errno);
    return status;
}

bool OpenFolder::ReadBelow(const std::string &below, EntryIdentity &identity,
                           DirListing &listing) const
{
    listing.Clear();
    if (fd_ < 0 || below.find('\0') != std::string::npos) {
        listing.unreadable = true;
        return false;
    }
    // Each name opened in the folder before it, never through a link: a
    // folder swapped for a link after it was listed leads nowhere.
    int at = fd_;
    int held = -1;
    std::size_t begin = 0;
    while (begin < below.size()) {
        std::size_t end = below.find('/', begin);
        if (end == std::string::npos)
            end = below.size();
        const std::string name = below.substr(begin, end - begin);
        begin = end + 1;
        const bool last = begin >= below.size();
        int next = -1;
        if (IsPlainName(name.c_str())) {
#ifdef O_PATH
            const int passFlags = O_PATH;
#else
            const int passFlags = O_RDONLY | O_NONBLOCK;
#endif
            next = openat(at, name.c_str(),
                          (last ? O_RDONLY | O_NONBLOCK : passFlags) | O_DIRECTORY | O_NOFOLLOW
                              | O_CLOEXEC);
        } else {
            errno = EINVAL;
        }
        if (next < 0) {
            const int error = errno;
            struct stat info;
            // A folder there that may not be read is still a folder met.
            const bool folder = last && error == EACCES
                && fstatat(at, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0
                && S_ISDIR(info.st_mode);
            if (folder)
                identity = IdentityOfStat(info);
            if (held >= 0)
                close(held);
            // Nothing there, or no folder (a file, a FIFO): nothing missed.
            // A link there now, or no right to pass: a folder not reached.
            listing.unreadable = error != ENOENT && !(last && error == ENOTDIR);
            return folder;
        }
        if (held >= 0)
            close(held);
        held = at = next;
    }
    if (held < 0)
        held = openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    struct stat info;
    if (held < 0 || fstat(held, &info) != 0) {
        if (held >= 0)
            close(held);
        listing.unreadable = true;
        return false;
    }
    identity = IdentityOfStat(info);
    ReadOpenFolder(held, listing);
    return true;
}

bool OpenFolder::IdentifyEntry(const char *name, EntryIdentity &identity) const
{
    struct stat info;
    if (fd_ < 0 || !IsPlainName(name) || fstatat(fd_, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    identity = IdentityOfStat(info);
    return true;
}
