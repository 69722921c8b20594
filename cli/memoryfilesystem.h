#pragma once

#include "engine/passfilesystem.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

// A copy of the file system held in memory, for running a rename pass
// without renaming anything. Each folder is copied from the disk the first
// time a path leads through it or a listing asks for it, and from then on
// only the copy is read and changed; since nothing is ever written to the
// disk, that is the tree as it stood when the copy began. Paths resolve as
// the POSIX system resolves them: every link on the way followed by its
// stored text (so a rename can break or mend a link), ".." taken to the
// folder that really holds a folder, at most 40 links per path. Names are
// compared byte for byte, case-sensitively.
class MemoryFileSystem final : public PassFileSystem
{
public:
    MemoryFileSystem();
    ~MemoryFileSystem() override;
    MemoryFileSystem(const MemoryFileSystem &) = delete;
    MemoryFileSystem &operator=(const MemoryFileSystem &) = delete;

    bool Identify(const std::string &path, EntryIdentity &identity) override;
    bool ListFolder(const std::string &path, EntryIdentity &identity,
                    DirListing &listing) override;
    // As the disk's file system: the folder of the last rename is held, so a
    // rename by the same folder path and identity lands in it even after an
    // earlier rename moved it from that path. A folder the process may not
    // write to refuses every rename.
    bool RenameIn(const std::string &folder, const EntryIdentity &identity, const char *name,
                  const char *newName) override;

    // Why the last RenameIn failed (None after a success).
    enum class Failure {
        None,
        InvalidName,    // empty, ".", "..", or holding "/"
        FolderMoved,    // the folder path no longer leads to that folder
        EntryGone,      // nothing stands at the old name any more
        TargetExists,   // the new name is held by the entry that held it from the start
        TargetTaken,    // an earlier RenameIn put the entry that holds the new name there
        NotPermitted    // the process may not change that folder
    };
    Failure LastFailure() const { return lastFailure_; }
    // Whether the entry the last successful RenameIn moved is anything but a
    // regular file (a folder, a link, a system file).
    bool LastRenamedNonFile() const { return lastRenamedNonFile_; }

    // As deleting an old report does: removes the entry `name` of the folder
    // at `folder` when one stands there that is neither a folder nor a link
    // to one. True when one was removed.
    bool RemoveNonFolder(const std::string &folder, const char *name);

private:
    struct Folder;
    struct Entry;
    struct Place;

    Folder *Root();
    Folder *Enter(Folder *holder, Entry &entry);
    Folder *FolderById(const EntryIdentity &identity, Folder *parent, const std::string &diskPath);
    Entry *Lookup(Folder *folder, const std::string &name);
    void EnsureListed(Folder *folder);
    bool Resolve(const std::string &path, Folder *base, bool followLast, int &linkBudget,
                 Place &place);
    bool ResolveFromTop(const std::string &path, bool followLast, Place &place);
    const std::string &LinkText(Folder *holder, Entry &entry);
    LinkTargetKind TargetKind(Folder *holder, Entry &entry);
    EntryIdentity IdentityOf(const Place &place);
    bool Writable(Folder *folder);

    std::vector<std::unique_ptr<Folder>> folders_;
    std::map<std::pair<std::uint64_t, std::uint64_t>, Folder *> byIdentity_;
    Folder *root_ = nullptr;
    std::uint64_t madeUp_ = 0; // identities for folders the disk no longer shows
    std::string heldPath_;
    EntryIdentity heldIdentity_;
    Folder *held_ = nullptr;
    Failure lastFailure_ = Failure::None;
    bool lastRenamedNonFile_ = false;
};
