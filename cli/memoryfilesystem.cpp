#include "cli/memoryfilesystem.h"

#include <cstring>
#include <utility>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// The kernel's limit of links followed while resolving one path.
constexpr int kLinkBudget = 40;

bool PlainName(const char *name)
{
    return name[0] != '\0' && std::strchr(name, '/') == nullptr && std::strcmp(name, ".") != 0
        && std::strcmp(name, "..") != 0;
}

// One entry as the disk has it, without following a link at its end.
struct DiskEntry
{
    DirEntryKind kind = DirEntryKind::Other;
    EntryIdentity identity;
};

bool ReadDiskEntry(const std::string &path, DiskEntry &entry)
{
#ifdef _WIN32
    (void)path;
    (void)entry;
    return false; // the copy is only ever filled from whole listings there
#else
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return false;
    entry.kind = S_ISREG(info.st_mode)   ? DirEntryKind::File
        : S_ISDIR(info.st_mode)          ? DirEntryKind::Folder
        : S_ISLNK(info.st_mode)          ? DirEntryKind::Link
                                         : DirEntryKind::Other;
    entry.identity.volume = static_cast<std::uint64_t>(info.st_dev);
    entry.identity.index = static_cast<std::uint64_t>(info.st_ino);
    return true;
#endif
}

std::string ReadLinkText(const std::string &path)
{
#ifdef _WIN32
    (void)path;
    return std::string();
#else
    std::string text(256, '\0');
    for (;;) {
        const ssize_t size = readlink(path.c_str(), &text[0], text.size());
        if (size < 0)
            return std::string();
        if (static_cast<std::size_t>(size) < text.size()) {
            text.resize(static_cast<std::size_t>(size));
            return text;
        }
        text.resize(text.size() * 2);
    }
#endif
}

bool DiskWritable(const std::string &folderPath)
{
#ifdef _WIN32
    (void)folderPath;
    return true;
#else
    return access(folderPath.c_str(), W_OK | X_OK) == 0;
#endif
}

std::string CurrentFolder()
{
#ifdef _WIN32
    return std::string();
#else
    std::string path(4096, '\0');
    while (!getcwd(&path[0], path.size())) {
        if (path.size() > (1u << 20))
            return std::string();
        path.resize(path.size() * 2);
    }
    path.resize(std::strlen(path.c_str()));
    return path;
#endif
}

} // namespace

struct MemoryFileSystem::Entry
{
    DirEntryKind kind = DirEntryKind::Other;
    bool hidden = false;
    std::string diskName;      // its name on the disk: where it stood from the start
    Folder *folder = nullptr;  // a folder, once a path led into it
    bool identityKnown = false;
    EntryIdentity identity;    // a file's or system file's own
    bool linkRead = false;
    std::string linkText;
};

struct MemoryFileSystem::Folder
{
    EntryIdentity identity;
    Folder *parent = nullptr; // the folder that really holds it; the top holds itself
    std::string diskPath;     // where the disk has it, ending in "/"
    bool listed = false;
    // Whether `entries` holds every entry. Until then (and for a folder that
    // can't be read, whose listing is empty) a name missing there is looked
    // up on the disk, and `absent` remembers names found missing or renamed
    // away.
    bool complete = false;
    std::map<std::string, Entry> entries;
    std::set<std::string> absent;
    int writable = -1; // unknown until a rename asks
};

// Where a path leads: a folder, or an entry that is not one (with the folder
// holding it).
struct MemoryFileSystem::Place
{
    Folder *folder = nullptr;
    Folder *holder = nullptr;
    Entry *entry = nullptr;
};

MemoryFileSystem::MemoryFileSystem() = default;
MemoryFileSystem::~MemoryFileSystem() = default;

MemoryFileSystem::Folder *MemoryFileSystem::FolderById(const EntryIdentity &identity,
                                                       Folder *parent, const std::string &diskPath)
{
    const auto key = std::make_pair(identity.volume, identity.index);
    const auto found = byIdentity_.find(key);
    if (found != byIdentity_.end())
        return found->second;
    folders_.emplace_back(new Folder);
    Folder *folder = folders_.back().get();
    folder->identity = identity;
    folder->parent = parent ? parent : folder;
    folder->diskPath = diskPath;
    byIdentity_.emplace(key, folder);
    return folder;
}

MemoryFileSystem::Folder *MemoryFileSystem::Root()
{
    if (!root_) {
        EntryIdentity identity;
        if (!IdentifyEntry("/", identity))
            identity = {~std::uint64_t(0), ++madeUp_};
        root_ = FolderById(identity, nullptr, "/");
    }
    return root_;
}

MemoryFileSystem::Folder *MemoryFileSystem::Enter(Folder *holder, Entry &entry)
{
    if (!entry.folder) {
        const std::string diskPath = holder->diskPath + entry.diskName;
        EntryIdentity identity;
        if (!IdentifyEntry(diskPath, identity)) {
            // Gone from the disk since it was listed: an empty folder here.
            identity = {~std::uint64_t(0), ++madeUp_};
            entry.folder = FolderById(identity, holder, diskPath + '/');
            entry.folder->listed = true;
        } else {
            entry.folder = FolderById(identity, holder, diskPath + '/');
        }
    }
    return entry.folder;
}

void MemoryFileSystem::EnsureListed(Folder *folder)
{
    if (folder->listed)
        return;
    folder->listed = true;
    DirListing listing;
    EntryIdentity identity;
    if (!ReadFolder(folder->diskPath, identity, listing) || listing.entries.empty())
        return;
    // Names looked up or renamed before stay as the copy has them.
    for (const DirListing::Entry &item : listing.entries) {
        std::string name(listing.Name(item), item.nameSize);
        if (folder->absent.count(name) || folder->entries.count(name))
            continue;
        Entry entry;
        entry.kind = item.kind;
        entry.hidden = item.hidden;
        entry.diskName = name;
        folder->entries.emplace(std::move(name), std::move(entry));
    }
    folder->complete = true;
    folder->absent.clear();
}

MemoryFileSystem::Entry *MemoryFileSystem::Lookup(Folder *folder, const std::string &name)
{
    const auto found = folder->entries.find(name);
    if (found != folder->entries.end())
        return &found->second;
    if (folder->complete || folder->absent.count(name))
        return nullptr;
    DiskEntry disk;
    if (!ReadDiskEntry(folder->diskPath + name, disk)) {
        folder->absent.insert(name);
        return nullptr;
    }
    Entry entry;
    entry.kind = disk.kind;
    entry.hidden = name[0] == '.';
    entry.diskName = name;
    if (disk.kind != DirEntryKind::Link && disk.kind != DirEntryKind::Folder) {
        entry.identity = disk.identity;
        entry.identityKnown = true;
    }
    return &folder->entries.emplace(name, std::move(entry)).first->second;
}

const std::string &MemoryFileSystem::LinkText(Folder *holder, Entry &entry)
{
    if (!entry.linkRead) {
        entry.linkRead = true;
        entry.linkText = ReadLinkText(holder->diskPath + entry.diskName);
    }
    return entry.linkText;
}

bool MemoryFileSystem::Resolve(const std::string &path, Folder *base, bool followLast,
                               int &linkBudget, Place &place)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    Folder *current = path[0] == '/' ? Root() : base;
    const bool trailingSlash = path.back() == '/';
    std::size_t at = 0;
    place = Place();
    for (;;) {
        while (at < path.size() && path[at] == '/')
            ++at;
        if (at == path.size()) {
            place.folder = current;
            return true;
        }
        std::size_t end = path.find('/', at);
        if (end == std::string::npos)
            end = path.size();
        const std::string name = path.substr(at, end - at);
        at = end;
        std::size_t rest = at;
        while (rest < path.size() && path[rest] == '/')
            ++rest;
        const bool last = rest == path.size();
        if (name == ".")
            continue;
        if (name == "..") {
            current = current->parent;
            continue;
        }
        Entry *entry = Lookup(current, name);
        if (!entry)
            return false;
        if (entry->kind == DirEntryKind::Link && (!last || followLast || trailingSlash)) {
            if (--linkBudget < 0)
                return false;
            const std::string &text = LinkText(current, *entry);
            Place target;
            if (text.empty() || !Resolve(text, current, true, linkBudget, target))
                return false;
            if ((!last || trailingSlash) && !target.folder)
                return false;
            if (last) {
                place = target;
                return true;
            }
            current = target.folder;
            continue;
        }
        if (entry->kind == DirEntryKind::Folder) {
            current = Enter(current, *entry);
            continue; // a last name ends the loop above with this folder
        }
        if (!last || trailingSlash)
            return false; // not a folder: nothing can follow it
        place.holder = current;
        place.entry = entry;
        return true;
    }
}

bool MemoryFileSystem::ResolveFromTop(const std::string &path, bool followLast, Place &place)
{
    int budget = kLinkBudget;
    if (!path.empty() && path[0] != '/') {
        const std::string current = CurrentFolder();
        if (current.empty())
            return false;
        return Resolve(current + '/' + path, nullptr, followLast, budget, place);
    }
    return Resolve(path, nullptr, followLast, budget, place);
}

LinkTargetKind MemoryFileSystem::TargetKind(Folder *holder, Entry &entry)
{
    int budget = kLinkBudget - 1;
    Place target;
    const std::string &text = LinkText(holder, entry);
    if (text.empty() || !Resolve(text, holder, true, budget, target))
        return LinkTargetKind::Missing;
    if (target.folder)
        return LinkTargetKind::Folder;
    return target.entry->kind == DirEntryKind::File ? LinkTargetKind::File : LinkTargetKind::Other;
}

EntryIdentity MemoryFileSystem::IdentityOf(const Place &place)
{
    if (place.folder)
        return place.folder->identity;
    Entry &entry = *place.entry;
    if (!entry.identityKnown) {
        entry.identityKnown = true;
        DiskEntry disk;
        if (ReadDiskEntry(place.holder->diskPath + entry.diskName, disk))
            entry.identity = disk.identity;
        else
            entry.identity = {~std::uint64_t(0), ++madeUp_};
    }
    return entry.identity;
}

bool MemoryFileSystem::Writable(Folder *folder)
{
    if (folder->writable < 0)
        folder->writable = DiskWritable(folder->diskPath) ? 1 : 0;
    return folder->writable == 1;
}

bool MemoryFileSystem::Identify(const std::string &path, EntryIdentity &identity)
{
    Place place;
    if (!ResolveFromTop(path, true, place))
        return false;
    identity = IdentityOf(place);
    return true;
}

bool MemoryFileSystem::ListFolder(const std::string &path, EntryIdentity &identity,
                                  DirListing &listing)
{
    listing.Clear();
    Place place;
    if (!ResolveFromTop(path, true, place))
        return false;
    identity = IdentityOf(place);
    if (!place.folder)
        return true; // as the disk answers for a file: there, but nothing to list
    Folder *folder = place.folder;
    EnsureListed(folder);
    if (!folder->complete)
        return true;
    for (auto &item : folder->entries) {
        Entry &entry = item.second;
        const LinkTargetKind target =
            entry.kind == DirEntryKind::Link ? TargetKind(folder, entry) : LinkTargetKind::None;
        listing.Add(item.first.data(), item.first.size(), entry.kind, target, entry.hidden);
    }
    return true;
}

bool MemoryFileSystem::RenameIn(const std::string &folderPath, const EntryIdentity &identity,
                                const char *name, const char *newName)
{
    lastFailure_ = Failure::None;
    if (folderPath != heldPath_ || !(identity == heldIdentity_)) {
        heldPath_ = folderPath;
        heldIdentity_ = identity;
        Place place;
        held_ = ResolveFromTop(folderPath, true, place) && place.folder
                && place.folder->identity == identity
            ? place.folder
            : nullptr;
    }
    if (!held_) {
        lastFailure_ = Failure::FolderMoved;
        return false;
    }
    if (!PlainName(name) || !PlainName(newName)) {
        lastFailure_ = Failure::InvalidName;
        return false;
    }
    Folder *folder = held_;
    if (!Lookup(folder, name)) {
        lastFailure_ = Failure::EntryGone;
        return false;
    }
    if (const Entry *occupant = Lookup(folder, newName)) {
        lastFailure_ =
            occupant->diskName == newName ? Failure::TargetExists : Failure::TargetTaken;
        return false;
    }
    if (!Writable(folder)) {
        lastFailure_ = Failure::NotPermitted;
        return false;
    }
    auto node = folder->entries.extract(name);
    if (!folder->complete)
        folder->absent.insert(name);
    folder->absent.erase(newName);
    node.key() = newName;
    Entry &moved = node.mapped();
    moved.hidden = newName[0] == '.';
    lastRenamedNonFile_ = moved.kind != DirEntryKind::File;
    folder->entries.insert(std::move(node));
    return true;
}

bool MemoryFileSystem::RemoveNonFolder(const std::string &folderPath, const char *name)
{
    Place place;
    if (!PlainName(name) || !ResolveFromTop(folderPath, true, place) || !place.folder)
        return false;
    Folder *folder = place.folder;
    Entry *entry = Lookup(folder, name);
    if (!entry || entry->kind == DirEntryKind::Folder
        || (entry->kind == DirEntryKind::Link
            && TargetKind(folder, *entry) == LinkTargetKind::Folder)
        || !Writable(folder))
        return false;
    folder->entries.erase(name);
    if (!folder->complete)
        folder->absent.insert(name);
    return true;
}
