#include "platform/dirscan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

LinkTargetKind TargetKind(int folder, const char *name)
{
    struct stat info;
    if (fstatat(folder, name, &info, 0) != 0)
        return LinkTargetKind::Missing;
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
    identity.volume = static_cast<std::uint64_t>(info.st_dev);
    identity.index = static_cast<std::uint64_t>(info.st_ino);
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
        return;
    }
    while (const dirent *entry = readdir(stream))
        AddEntry(folder, entry->d_name, entry->d_type, listing);
    closedir(stream);
#endif
}

void SetIdentity(const struct stat &info, EntryIdentity &identity)
{
    identity.volume = static_cast<std::uint64_t>(info.st_dev);
    identity.index = static_cast<std::uint64_t>(info.st_ino);
}

} // namespace

bool ReadFolder(const std::string &path, EntryIdentity &identity, DirListing &listing)
{
    listing.Clear();
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    const int folder = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    struct stat info;
    if (folder < 0)
        return IdentifyEntry(path, identity);
    if (fstat(folder, &info) != 0) {
        close(folder);
        return false;
    }
    SetIdentity(info, identity);
    ReadEntries(folder, listing);
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
    identity.volume = static_cast<std::uint64_t>(info.st_dev);
    identity.index = static_cast<std::uint64_t>(info.st_ino);
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

bool OpenFolder::Rename(const char *name, const char *newName)
{
    const auto plainName = [](const char *text) {
        return text[0] != '\0' && std::strchr(text, '/') == nullptr && std::strcmp(text, ".") != 0
            && std::strcmp(text, "..") != 0;
    };
    if (fd_ < 0 || !plainName(name) || !plainName(newName))
        return false;
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (renameat2(fd_, name, fd_, newName, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    // Only where the file system has no atomic no-replace rename: a racing
    // creation between the check and the rename can still be replaced.
    struct stat info;
    if (fstatat(fd_, newName, &info, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT)
        return false;
    return renameat(fd_, name, fd_, newName) == 0;
}
