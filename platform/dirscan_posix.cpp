#include "platform/dirscan.h"
#include "platform/entryidentity_posix.h"
#include "platform/renameentry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef PATH_MAX
#define PATH_MAX 4096 // where the system sets no limit, the usual one
#endif

namespace {

LinkTargetKind TargetKind(int folder, const char *name)
{
    struct stat info;
    if (fstatat(folder, name, &info, 0) != 0)
        return errno == ENOENT || errno == ENOTDIR || errno == ELOOP ? LinkTargetKind::Missing
                                                                     : LinkTargetKind::Unknown;
    if (S_ISREG(info.st_mode))
        return LinkTargetKind::File;
    if (S_ISDIR(info.st_mode))
        return LinkTargetKind::Folder;
    return LinkTargetKind::Other;
}

DirEntryKind KindOfMode(mode_t mode)
{
    if (S_ISREG(mode))
        return DirEntryKind::File;
    if (S_ISDIR(mode))
        return DirEntryKind::Folder;
    if (S_ISLNK(mode))
        return DirEntryKind::Link;
    return DirEntryKind::Other;
}

} // namespace

bool NativeNamesAreUtf8()
{
    return false;
}

bool IdentifyEntry(const std::string &path, EntryIdentity &identity)
{
    struct stat info;
    if (path.empty() || path.find('\0') != std::string::npos || stat(path.c_str(), &info) != 0)
        return false;
    identity = IdentityOfStat(info);
    return true;
}

namespace {

// One entry as the folder stores it; asks the system only where the folder
// can't tell the kind.
void AddEntry(int folder, const char *name, unsigned char type, DirListing &listing)
{
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
        return;
    DirEntryKind kind;
    switch (type) {
    case DT_REG:
        kind = DirEntryKind::File;
        break;
    case DT_DIR:
        kind = DirEntryKind::Folder;
        break;
    case DT_LNK:
        kind = DirEntryKind::Link;
        break;
    case DT_UNKNOWN: {
        struct stat info;
        kind = fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) == 0 ? KindOfMode(info.st_mode)
                                                                      : DirEntryKind::Other;
        break;
    }
    default:
        kind = DirEntryKind::Other;
        break;
    }
    const LinkTargetKind target =
        kind == DirEntryKind::Link ? TargetKind(folder, name) : LinkTargetKind::None;
    listing.Add(name, std::strlen(name), kind, target, name[0] == '.');
}

void ReadEntries(int folder, DirListing &listing)
{
#if defined(__linux__)
    // The folder's records straight from the system, without a DIR stream.
    alignas(8) char buffer[32768];
    for (;;) {
        const ssize_t size = getdents64(folder, buffer, sizeof buffer);
        if (size < 0)
            listing.unreadable = true;
        if (size <= 0)
            break;
        for (ssize_t at = 0; at < size;) {
            const auto *entry = reinterpret_cast<const dirent64 *>(buffer + at);
            AddEntry(folder, entry->d_name, entry->d_type, listing);
            at += entry->d_reclen;
        }
    }
    close(folder);
#else
    DIR *stream = fdopendir(folder);
    if (!stream) {
        close(folder);
        listing.unreadable = true;
        return;
    }
    // readdir tells its end from an error only through errno.
    for (;;) {
        errno = 0;
        const dirent *entry = readdir(stream);
        if (!entry) {
            listing.unreadable = errno != 0;
            break;
        }
        AddEntry(folder, entry->d_name, entry->d_type, listing);
    }
    closedir(stream);
#endif
}

} // namespace

bool ReadFolder(const std::string &path, EntryIdentity &identity, DirListing &listing)
{
    listing.Clear();
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    const int folder = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    struct stat info;
    if (folder < 0) {
        // No folder at all (a file, a FIFO) is nothing to read, not a folder
        // that can't be read.
        const int error = errno;
        if (!IdentifyEntry(path, identity))
            return false;
        listing.unreadable = error != ENOTDIR;
        return true;
    }
    if (fstat(folder, &info) != 0) {
        close(folder);
        return false;
    }
    identity = IdentityOfStat(info);
    ReadEntries(folder, listing);
    return true;
}

bool FolderPathFits(const std::string &folderPath)
{
    // PATH_MAX counts the terminating NUL.
    return folderPath.size() < static_cast<std::size_t>(PATH_MAX);
}

bool FinalPathOf(const std::string &path, std::string &final)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    char *resolved = realpath(path.c_str(), nullptr);
    if (!resolved)
        return false;
    final = resolved;
    std::free(resolved);
    return true;
}

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

bool OpenFolder::IsOpen() const
{
    return fd_ >= 0;
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

bool PlainName(const char *text)
{
    return text[0] != '\0' && std::strchr(text, '/') == nullptr && std::strcmp(text, ".") != 0
        && std::strcmp(text, "..") != 0;
}

} // namespace

bool StoredNameOf(const char *newName, std::string &stored)
{
    if (!PlainName(newName))
        return false;
    stored = newName;
    return true;
}

RenameStatus OpenFolder::Rename(const char *name, const char *newName)
{
    RenameStatus status;
    if (!PlainName(name) || !PlainName(newName)) {
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
        if (PlainName(name.c_str())) {
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
    ReadEntries(held, listing);
    return true;
}

bool OpenFolder::IdentifyEntry(const char *name, EntryIdentity &identity) const
{
    struct stat info;
    if (fd_ < 0 || !PlainName(name) || fstatat(fd_, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    identity = IdentityOfStat(info);
    return true;
}

bool IdentifyEntryItself(const std::string &path, EntryIdentity &identity)
{
    struct stat info;
    if (path.empty() || path.find('\0') != std::string::npos || lstat(path.c_str(), &info) != 0)
        return false;
    identity = IdentityOfStat(info);
    return true;
}
