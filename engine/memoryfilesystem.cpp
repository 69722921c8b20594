#include "engine/memoryfilesystem.h"

#include "platform/diskentry.h"
#include "platform/storedname.h"
#include "platform/nativepath.h"
#include "platform/entryidentity.h"

#include <cstring>
#include <utility>

namespace {

// The kernel's limit of links followed while resolving one path.
constexpr int kLinkBudget = 40;

bool PlainName(const char *name)
{
    if (name[0] == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
        return false;
    for (const char *c = name; *c; ++c)
        if (IsNativeSeparator(*c))
            return false;
    return true;
}

std::size_t NextSeparator(const std::string &path, std::size_t at)
{
    while (at < path.size() && !IsNativeSeparator(path[at]))
        ++at;
    return at;
}

// Where `entries` holds `entry`, looked up by `name`, which may be another
// case of its name where case is folded.
template <typename Entries, typename Entry>
typename Entries::iterator Holding(Entries &entries, const std::string &name, const Entry *entry)
{
    auto at = entries.find(name);
    if (at == entries.end() || &at->second != entry)
        for (at = entries.begin(); &at->second != entry; ++at) {
        }
    return at;
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
    int actsAsOwner = -1;      // unknown until a rename in a folder of owners only asks
    int locked = -1;           // immutable or append-only; unknown until a rename asks
    bool targetUnknown = false; // the disk's listing could not tell where it leads
    bool linkRead = false;
    LinkTextStatus linkStatus = LinkTextStatus::Unreadable;
    int linkError = 0;
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
    bool unreadable = false; // the disk could not list it, or not to its end
    // Unknown (-1) until a rename asks: whether the process may change it,
    // whether only the owners of its entries may rename them (the process
    // being neither the folder's owner nor privileged), whether nothing may
    // be taken out of it by anyone, the longest name
    // its file system takes (0: no limit told).
    int writable = -1;
    int ownersOnly = -1;
    int locked = -1; // immutable or append-only: nothing may be taken out
    // Where the file system takes names differing in case for one: the
    // entries by NameKey, built when a rename first asks.
    bool keysBuilt = false;
    std::multimap<std::string, Entry *> keys;
    bool longestKnown = false;
    std::size_t longest = 0;
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
    const auto found = byIdentity_.find(identity);
    if (found != byIdentity_.end())
        return found->second;
    folders_.emplace_back(new Folder);
    Folder *folder = folders_.back().get();
    folder->identity = identity;
    folder->parent = parent ? parent : folder;
    folder->diskPath = diskPath;
    byIdentity_.emplace(identity, folder);
    return folder;
}

MemoryFileSystem::Folder *MemoryFileSystem::RootOf(const std::string &path, std::size_t length)
{
    // One spelling per root ("C:\" and "C:/" alike); two roots that are one
    // folder meet in FolderById.
    std::string root = path.substr(0, length);
    for (char &c : root)
        if (IsNativeSeparator(c))
            c = '/';
    if (root.back() != '/')
        root += '/';
    const auto found = roots_.find(root);
    if (found != roots_.end())
        return found->second;
    EntryIdentity identity;
    if (!IdentifyEntry(root, identity))
        identity = MadeUpIdentity();
    Folder *folder = FolderById(identity, nullptr, root);
    roots_.emplace(std::move(root), folder);
    return folder;
}

MemoryFileSystem::Folder *MemoryFileSystem::Enter(Folder *holder, Entry &entry)
{
    if (!entry.folder) {
        const std::string diskPath = holder->diskPath + entry.diskName;
        EntryIdentity identity;
        if (!IdentifyEntry(diskPath, identity)) {
            // Gone from the disk since it was listed: an empty folder here.
            identity = MadeUpIdentity();
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
    if (!ReadFolder(folder->diskPath, identity, listing))
        return;
    folder->unreadable = listing.unreadable;
    if (listing.entries.empty())
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
        entry.targetUnknown = item.target == LinkTargetKind::Unknown;
        folder->entries.emplace(std::move(name), std::move(entry));
    }
    folder->keysBuilt = false;
    folder->complete = true;
    folder->absent.clear();
}

MemoryFileSystem::Entry *MemoryFileSystem::Lookup(Folder *folder, const std::string &name)
{
    const auto found = folder->entries.find(name);
    if (found != folder->entries.end())
        return &found->second;
    if (NamesFoldCase()) {
        // Copied whole first: a name renamed away in the copy must not come
        // back from the disk, where it answers to any case.
        EnsureListed(folder);
        if (folder->complete)
            return FoldedOccupant(folder, name, nullptr);
    }
    if (folder->complete || folder->absent.count(name))
        return nullptr;
    DiskEntry disk;
    if (!ReadDiskEntry(folder->diskPath + name, disk)) {
        folder->absent.insert(name);
        return nullptr;
    }
    Entry entry;
    entry.kind = disk.kind;
    entry.hidden = disk.hidden;
    entry.diskName = name;
    entry.actsAsOwner = disk.actsAsOwner ? 1 : 0;
    entry.locked = disk.lockedInPlace ? 1 : 0;
    if (disk.kind != DirEntryKind::Link && disk.kind != DirEntryKind::Folder) {
        entry.identity = disk.identity;
        entry.identityKnown = true;
    }
    folder->keysBuilt = false;
    return &folder->entries.emplace(name, std::move(entry)).first->second;
}

LinkTextStatus MemoryFileSystem::ReadLink(Folder *holder, Entry &entry)
{
    if (!entry.linkRead) {
        entry.linkRead = true;
        entry.linkStatus =
            ReadLinkText(holder->diskPath + entry.diskName, entry.linkText, entry.linkError);
    }
    return entry.linkStatus;
}

bool MemoryFileSystem::Resolve(const std::string &path, Folder *base, bool followLast,
                               int &linkBudget, Place &place)
{
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    const std::size_t rootLength = RootLength(path);
    Folder *current = rootLength ? RootOf(path, rootLength) : base;
    const bool trailingSlash = IsNativeSeparator(path.back());
    std::size_t at = rootLength;
    place = Place();
    for (;;) {
        while (at < path.size() && IsNativeSeparator(path[at]))
            ++at;
        if (at == path.size()) {
            place.folder = current;
            return true;
        }
        const std::size_t end = NextSeparator(path, at);
        const std::string name = path.substr(at, end - at);
        at = end;
        std::size_t rest = at;
        while (rest < path.size() && IsNativeSeparator(path[rest]))
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
        // A link the system never follows is an ordinary entry to a path.
        if (entry->kind == DirEntryKind::Link && (!last || followLast || trailingSlash)
            && ReadLink(current, *entry) != LinkTextStatus::NotFollowed) {
            if (entry->linkStatus == LinkTextStatus::Unreadable) {
                unfollowed_ = entry->linkError ? entry->linkError : -1;
                return false;
            }
            if (--linkBudget < 0)
                return false;
            const std::string &text = entry->linkText;
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
    if (!path.empty() && RootLength(path) == 0) {
        std::string current;
        if (!CurrentFolderPath(current) || RootLength(current) == 0)
            return false;
        return Resolve(current + '/' + path, nullptr, followLast, budget, place);
    }
    return Resolve(path, nullptr, followLast, budget, place);
}

LinkTargetKind MemoryFileSystem::TargetKind(Folder *holder, Entry &entry)
{
    int budget = kLinkBudget - 1;
    Place target;
    const LinkTextStatus status = ReadLink(holder, entry);
    if (status == LinkTextStatus::NotFollowed)
        return LinkTargetKind::File; // as ReadFolder lists a shortcut
    const std::string &text = entry.linkText;
    if (status != LinkTextStatus::Read || text.empty()
        || !Resolve(text, holder, true, budget, target))
        // Where the disk would not say, the copy can't either: what is in
        // the way was never read into it.
        return entry.targetUnknown ? LinkTargetKind::Unknown : LinkTargetKind::Missing;
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
        if (ReadDiskEntry(place.holder->diskPath + entry.diskName, disk)) {
            entry.identity = disk.identity;
            entry.actsAsOwner = disk.actsAsOwner ? 1 : 0;
            entry.locked = disk.lockedInPlace ? 1 : 0;
        } else
            entry.identity = MadeUpIdentity();
    }
    return entry.identity;
}

bool MemoryFileSystem::Writable(Folder *folder)
{
    if (folder->writable < 0)
        folder->writable = FolderWritable(folder->diskPath) ? 1 : 0;
    return folder->writable == 1;
}

bool MemoryFileSystem::MayTakeOut(Folder *folder, Entry &entry)
{
    if (!Writable(folder))
        return false;
    if (folder->ownersOnly < 0) {
        DiskEntry disk;
        const bool read = ReadDiskEntry(folder->diskPath, disk);
        folder->ownersOnly = read && disk.ownersOnly && !disk.actsAsOwner ? 1 : 0;
        folder->locked = read && disk.lockedInPlace ? 1 : 0;
    }
    if (folder->locked == 1)
        return false;
    if (entry.locked < 0 || (folder->ownersOnly == 1 && entry.actsAsOwner < 0)) {
        // One the disk no longer has was the copy's own to begin with.
        DiskEntry disk;
        const bool read = ReadDiskEntry(folder->diskPath + entry.diskName, disk);
        entry.actsAsOwner = !read || disk.actsAsOwner ? 1 : 0;
        entry.locked = read && disk.lockedInPlace ? 1 : 0;
    }
    if (entry.locked == 1)
        return false;
    return folder->ownersOnly == 0 || entry.actsAsOwner == 1;
}

MemoryFileSystem::Entry *MemoryFileSystem::FoldedOccupant(Folder *folder,
                                                          const std::string &name,
                                                          const Entry *self)
{
    if (!NamesFoldCase())
        return nullptr;
    EnsureListed(folder);
    if (!folder->keysBuilt) {
        folder->keys.clear();
        for (auto &item : folder->entries)
            folder->keys.emplace(NameKey(item.first), &item.second);
        folder->keysBuilt = true;
    }
    // The entry itself may take a new case of its own name.
    const auto range = folder->keys.equal_range(NameKey(name));
    for (auto item = range.first; item != range.second; ++item)
        if (item->second != self)
            return item->second;
    return nullptr;
}

void MemoryFileSystem::Unkey(Folder *folder, const std::string &name, const Entry *entry)
{
    const auto range = folder->keys.equal_range(NameKey(name));
    for (auto item = range.first; item != range.second; ++item)
        if (item->second == entry) {
            folder->keys.erase(item);
            return;
        }
}

bool MemoryFileSystem::NameFits(Folder *folder, const std::string &name)
{
    if (!folder->longestKnown) {
        folder->longestKnown = true;
        folder->longest = LongestNameIn(folder->diskPath);
    }
    return folder->longest == 0 || NameLength(name) <= folder->longest;
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
    if (place.folder)
        ListInto(place.folder, listing);
    // else as the disk answers for a file: there, but nothing to list
    return true;
}

void MemoryFileSystem::ListInto(Folder *folder, DirListing &listing)
{
    EnsureListed(folder);
    listing.unreadable = folder->unreadable;
    if (!folder->complete)
        return;
    for (auto &item : folder->entries) {
        Entry &entry = item.second;
        const LinkTargetKind target =
            entry.kind == DirEntryKind::Link ? TargetKind(folder, entry) : LinkTargetKind::None;
        listing.Add(item.first.data(), item.first.size(), entry.kind, target, entry.hidden);
    }
}

bool MemoryFileSystem::ListFolderBelow(const std::string &base,
                                       const EntryIdentity &baseIdentity,
                                       const std::string &below, EntryIdentity &identity,
                                       DirListing &listing)
{
    listing.Clear();
    Folder *folder = Hold(base, baseIdentity);
    listing.unreadable = true;
    if (!folder)
        return false;
    // As the disk walks it: each name a folder of its own, never a link.
    for (std::size_t at = 0; at < below.size();) {
        std::size_t end = below.find('/', at);
        if (end == std::string::npos)
            end = below.size();
        const std::string name = below.substr(at, end - at);
        at = end + 1;
        Entry *entry = PlainName(name.c_str()) ? Lookup(folder, name) : nullptr;
        if (!entry) {
            listing.unreadable = !PlainName(name.c_str());
            return false;
        }
        if (entry->kind != DirEntryKind::Folder) {
            listing.unreadable = entry->kind == DirEntryKind::Link || at < below.size();
            return false;
        }
        folder = Enter(folder, *entry);
    }
    listing.unreadable = false;
    identity = folder->identity;
    ListInto(folder, listing);
    return true;
}

bool MemoryFileSystem::FinalPath(const std::string &path, std::string &final)
{
    Place place;
    if (!ResolveFromTop(path, true, place))
        return false;
    // Names from the entry up to the top, each as the copy has it now.
    std::vector<const std::string *> names;
    const auto nameIn = [](Folder *holder, const auto &holds) -> const std::string * {
        for (const auto &item : holder->entries)
            if (holds(item.second))
                return &item.first;
        return nullptr;
    };
    Folder *folder = place.folder;
    if (!folder) {
        folder = place.holder;
        names.push_back(nameIn(folder, [&](const Entry &e) { return &e == place.entry; }));
    }
    for (; folder->parent != folder; folder = folder->parent) {
        // Most often the name it was entered by: looked up, not searched.
        const std::string &disk = folder->diskPath;
        const std::size_t at = disk.rfind('/', disk.size() - 2) + 1;
        const auto found = folder->parent->entries.find(disk.substr(at, disk.size() - 1 - at));
        names.push_back(found != folder->parent->entries.end() && found->second.folder == folder
                            ? &found->first
                            : nameIn(folder->parent,
                                     [&](const Entry &e) { return e.folder == folder; }));
    }
    // The top as its root is spelt, without the closing "/": "" or "C:".
    final.assign(folder->diskPath, 0, folder->diskPath.size() - 1);
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (!*name)
            return false; // no entry of its holder leads to it any more
        final += '/';
        final += **name;
    }
    if (names.empty())
        final += '/';
    return true;
}

MemoryFileSystem::Folder *MemoryFileSystem::Hold(const std::string &folderPath,
                                                 const EntryIdentity &identity)
{
    if (folderPath != heldPath_ || !(identity == heldIdentity_)) {
        heldPath_ = folderPath;
        heldIdentity_ = identity;
        Place place;
        unfollowed_ = 0;
        held_ = ResolveFromTop(folderPath, true, place) && place.folder
                && place.folder->identity == identity
            ? place.folder
            : nullptr;
        heldUnfollowed_ = held_ ? 0 : unfollowed_;
    }
    return held_;
}

RenameResult MemoryFileSystem::RenameIn(const std::string &folderPath,
                                        const EntryIdentity &identity, const char *name,
                                        const char *newName)
{
    RenameResult result;
    Folder *folder = Hold(folderPath, identity);
    if (!folder) {
        // A link on the way that can't be read: what the system would do
        // there is unknown, so the copy does not guess.
        result.outcome = heldUnfollowed_ ? RenameOutcome::OtherError : RenameOutcome::FolderMoved;
        result.systemError = heldUnfollowed_ > 0 ? heldUnfollowed_ : 0;
        return result;
    }
    // The entry takes the name the system stores (Windows drops trailing
    // dots and spaces), and no entry can bear some names at all.
    std::string stored;
    if (!PlainName(name) || !StoredNameOf(newName, stored)) {
        result.outcome = RenameOutcome::InvalidName;
        return result;
    }
    Entry *entry = Lookup(folder, name);
    if (!entry) {
        result.outcome = RenameOutcome::EntryMoved;
        return result;
    }
    // As the system checks: the old name is looked up first, then the new
    // one, which is refused by its length before anything stands there.
    if (!NameFits(folder, stored)) {
        result.outcome = RenameOutcome::NameTooLong;
        return result;
    }
    // Where case is folded the entry may take another case of its own name.
    const Entry *occupant = Lookup(folder, stored);
    if (NamesFoldCase() && occupant == entry)
        occupant = FoldedOccupant(folder, stored, entry);
    if (occupant) {
        result.outcome = NameKey(occupant->diskName) == NameKey(stored)
            ? RenameOutcome::TargetExists
            : RenameOutcome::TargetTaken;
        return result;
    }
    if (!MayTakeOut(folder, *entry)) {
        result.outcome = RenameOutcome::NotPermitted;
        return result;
    }
    const auto at = Holding(folder->entries, name, entry);
    const std::string oldName = at->first;
    auto node = folder->entries.extract(at);
    if (!folder->complete)
        folder->absent.insert(oldName);
    folder->absent.erase(stored);
    node.key() = stored;
    Entry &moved = node.mapped();
    if (HiddenFollowsName())
        moved.hidden = stored[0] == '.';
    folder->entries.insert(std::move(node)); // the same node: `moved` stays where it was
    if (folder->keysBuilt) {
        Unkey(folder, oldName, &moved);
        folder->keys.emplace(NameKey(stored), &moved);
    }
    return result;
}

bool MemoryFileSystem::IdentifyIn(const std::string &folderPath, const EntryIdentity &identity,
                                  const char *name, EntryIdentity &entry)
{
    Folder *folder = Hold(folderPath, identity);
    Entry *found = folder && PlainName(name) ? Lookup(folder, name) : nullptr;
    if (!found)
        return false;
    Place place;
    place.holder = folder;
    place.entry = found;
    place.folder = found->kind == DirEntryKind::Folder ? found->folder : nullptr;
    entry = IdentityOf(place);
    return true;
}

bool MemoryFileSystem::RemoveReport(const std::string &folderPath, const std::string &name)
{
    Place place;
    if (!PlainName(name.c_str()) || name.find('\0') != std::string::npos
        || !ResolveFromTop(folderPath, true, place) || !place.folder)
        return false;
    Folder *folder = place.folder;
    Entry *entry = Lookup(folder, name);
    if (!entry || entry->kind == DirEntryKind::Folder
        || (entry->kind == DirEntryKind::Link
            && TargetKind(folder, *entry) == LinkTargetKind::Folder)
        || !MayTakeOut(folder, *entry))
        return false;
    const auto at = Holding(folder->entries, name, entry);
    if (folder->keysBuilt)
        Unkey(folder, at->first, entry);
    if (!folder->complete)
        folder->absent.insert(at->first);
    folder->entries.erase(at);
    return true;
}

TextFileStatus MemoryFileSystem::CreateNewFile(const std::string &folderPath,
                                               const std::string &name,
                                               const std::vector<std::string> &)
{
    TextFileStatus status; // NotCreated, with no system code: the copy has none
    Place place;
    std::string stored;
    if (!PlainName(name.c_str()) || name.find('\0') != std::string::npos
        || !StoredNameOf(name.c_str(), stored)) {
        createRefusal_ = RenameOutcome::InvalidName;
        return status;
    }
    if (!ResolveFromTop(folderPath, true, place) || !place.folder) {
        createRefusal_ = RenameOutcome::Vanished;
        return status;
    }
    Folder *folder = place.folder;
    // As the system checks: the name's length, then whether anything
    // stands there, and only then the right to add to the folder.
    if (!NameFits(folder, stored)) {
        createRefusal_ = RenameOutcome::NameTooLong;
        return status;
    }
    if (Lookup(folder, stored)) {
        createRefusal_ = RenameOutcome::TargetExists;
        return status;
    }
    if (!Writable(folder)) {
        createRefusal_ = RenameOutcome::NotPermitted;
        return status;
    }
    Entry entry;
    entry.kind = DirEntryKind::File;
    entry.hidden = HiddenFollowsName() && stored[0] == '.';
    entry.diskName = stored;
    // Nothing on the disk stands for it: whatever the disk has at that name
    // is another entry.
    entry.identityKnown = true;
    entry.identity = MadeUpIdentity();
    entry.actsAsOwner = 1;
    entry.locked = 0;
    Entry &added = folder->entries.emplace(stored, std::move(entry)).first->second;
    folder->absent.erase(stored);
    if (folder->keysBuilt)
        folder->keys.emplace(NameKey(stored), &added);
    createRefusal_ = RenameOutcome::Renamed;
    status.result = TextFileResult::Written;
    return status;
}
