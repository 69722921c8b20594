#include "platform/folderlisting.h"
#include "platform/folderlisting_system.h"

#include "platform/entryidentity_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

} // namespace

void ReadOpenFolder(int folder, DirListing &listing)
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
    ReadOpenFolder(folder, listing);
    return true;
}
