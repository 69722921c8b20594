#include "platform/diskentry.h"

#include "platform/nativepath.h"
#include "platform/entryidentity_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#if defined(__linux__)
#include <linux/capability.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#endif

namespace {


// The privilege the kernel asks for when the owner's rights are needed and
// the caller is not the owner. Asked each time: a process may drop it.
bool MayActAsAnyOwner()
{
#if defined(__linux__)
    __user_cap_header_struct header;
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return geteuid() == 0;
    return (data[CAP_FOWNER / 32].effective >> (CAP_FOWNER % 32)) & 1u;
#else
    return geteuid() == 0;
#endif
}

// Whether the entry is immutable or append-only, so that the kernel refuses
// to rename it, or to take anything out of it, to everyone.
bool LockedInPlace(const std::string &path, const struct stat &info)
{
#if defined(__linux__)
    // The flags are read through an open descriptor. Only files and folders:
    // a link can't carry them, and an ioctl on a device or a FIFO would go
    // to its driver rather than the file system.
    if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode))
        return false;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    const bool read = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    close(fd);
    return read && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
#elif defined(UF_IMMUTABLE) && defined(SF_IMMUTABLE) && defined(UF_APPEND) && defined(SF_APPEND)
    (void)path;
    return (info.st_flags & (UF_IMMUTABLE | SF_IMMUTABLE | UF_APPEND | SF_APPEND)) != 0;
#else
    (void)path;
    (void)info;
    return false;
#endif
}

} // namespace

bool ReadDiskEntry(const std::string &path, DiskEntry &entry)
{
    struct stat info;
    if (!IsUsablePath(path) || lstat(path.c_str(), &info) != 0)
        return false;
    entry.kind = S_ISREG(info.st_mode)   ? DirEntryKind::File
        : S_ISDIR(info.st_mode)          ? DirEntryKind::Folder
        : S_ISLNK(info.st_mode)          ? DirEntryKind::Link
                                         : DirEntryKind::Other;
    entry.identity = IdentityOfStat(info);
    entry.actsAsOwner = info.st_uid == geteuid() || MayActAsAnyOwner();
    entry.ownersOnly = S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0;
    entry.lockedInPlace = LockedInPlace(path, info);
    const std::size_t cut = path.find_last_of('/', path.size() - 2);
    entry.hidden = path[cut == std::string::npos ? 0 : cut + 1] == '.';
    return true;
}

LinkTextStatus ReadLinkText(const std::string &path, std::string &text, int &systemError)
{
    systemError = 0;
    if (!IsUsablePath(path)) {
        systemError = ENOENT;
        return LinkTextStatus::Unreadable;
    }
    text.assign(256, '\0');
    for (;;) {
        const ssize_t size = readlink(path.c_str(), &text[0], text.size());
        if (size < 0) {
            systemError = errno;
            text.clear();
            return LinkTextStatus::Unreadable;
        }
        if (static_cast<std::size_t>(size) < text.size()) {
            text.resize(static_cast<std::size_t>(size));
            return LinkTextStatus::Read;
        }
        text.resize(text.size() * 2); // it may have been cut: read again with room
    }
}

bool CurrentFolderPath(std::string &path)
{
    path.assign(4096, '\0');
    while (!getcwd(&path[0], path.size())) {
        if (errno != ERANGE || path.size() > (1u << 20)) {
            path.clear();
            return false;
        }
        path.resize(path.size() * 2);
    }
    path.resize(std::strlen(path.c_str()));
    return true;
}

bool FolderWritable(const std::string &folderPath)
{
    // The effective user's rights, as the rename is checked against them.
    return IsUsablePath(folderPath)
        && faccessat(AT_FDCWD, folderPath.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

std::size_t LongestNameIn(const std::string &folderPath)
{
    if (!IsUsablePath(folderPath))
        return 0;
    errno = 0;
    const long longest = pathconf(folderPath.c_str(), _PC_NAME_MAX);
    return longest > 0 ? static_cast<std::size_t>(longest) : 0;
}

std::size_t NameLength(const std::string &name)
{
    return name.size();
}

std::size_t RootLength(const std::string &path)
{
    return !path.empty() && path[0] == '/' ? 1 : 0;
}

bool HiddenFollowsName()
{
    return true;
}

bool NamesFoldCase()
{
    return false;
}

std::string NameKey(const std::string &name)
{
    return name;
}
