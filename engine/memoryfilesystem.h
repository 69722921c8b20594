#pragma once

#include "engine/passfilesystem.h"
#include "platform/diskentry.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

// A copy of the file system held in memory, for running a rename pass
// without renaming anything. Each folder is copied from the disk the first
// time a path leads through it or a listing asks for it, and from then on
// only the copy is read and changed; since nothing is ever written to the
// disk, that is the tree as it stood when the copy began. The disk is read
// only through platform/diskentry.h and platform/folderlisting.h. Paths resolve
// as the POSIX system resolves them: every link on the way followed by its
// stored text (so a rename can break or mend a link), ".." taken to the
// folder that really holds a folder, at most 40 links per path; a path may
// start from any root the system has (a Windows drive or share too; Windows
// itself takes a ".." after a link by the path's text, which the copy does
// not follow). Names are compared byte for byte; where the file system
// takes names that differ only in case for one (Windows), a rename's new
// name is taken by any such variant, except of the entry's own name.
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
    bool ListFolderBelow(const std::string &base, const EntryIdentity &baseIdentity,
                         const std::string &below, EntryIdentity &identity,
                         DirListing &listing) override;
    // The folder's path in the copy as it stands now (renames in the copy
    // included), or a file's: that folder's and its name.
    bool FinalPath(const std::string &path, std::string &final) override;
    // As the disk's file system: the folder of the last rename is held, so a
    // rename by the same folder path and identity lands in it even after an
    // earlier rename moved it from that path. As the system, it refuses a
    // new name longer than the folder's file system takes (NameTooLong),
    // every rename in a folder the process may not write to, and, in a
    // folder whose entries only their owners may rename (sticky), the
    // renaming of an entry that is neither the process's nor its folder's
    // (NotPermitted), unless the process is privileged; and, privileged or
    // not, the renaming of an entry that is immutable or append-only, and
    // every rename in a folder that is (NotPermitted). A folder reached
    // through a link whose target can't be read fails with OtherError.
    RenameResult RenameIn(const std::string &folder, const EntryIdentity &identity,
                          const char *name, const char *newName) override;
    bool IdentifyIn(const std::string &folder, const EntryIdentity &identity, const char *name,
                    EntryIdentity &entry) override;
    // Adds a file to the copy, writing nothing anywhere; refused (NotCreated)
    // as the system would refuse it: when anything stands at the name, when
    // the folder is not there or the process may not add to it, or when the
    // name is longer than its file system takes. CreateRefusal() then says
    // why, as a rename's outcome would.
    TextFileStatus CreateNewFile(const std::string &folder, const std::string &name,
                                 const std::vector<std::string> &blocks) override;
    RenameOutcome CreateRefusal() const { return createRefusal_; }

    // Removes the report from the copy only, refused where the system would
    // refuse to remove it (the folder may not be written to, or only owners
    // may take entries out of it).
    bool RemoveReport(const std::string &folder, const std::string &name) override;

private:
    struct Folder;
    struct Entry;
    struct Place;

    Folder *RootOf(const std::string &path, std::size_t length);
    Folder *Hold(const std::string &folderPath, const EntryIdentity &identity);
    Folder *Enter(Folder *holder, Entry &entry);
    Folder *FolderById(const EntryIdentity &identity, Folder *parent, const std::string &diskPath);
    Entry *Lookup(Folder *folder, const std::string &name);
    void EnsureListed(Folder *folder);
    void ListInto(Folder *folder, DirListing &listing);
    bool Resolve(const std::string &path, Folder *base, bool followLast, int &linkBudget,
                 Place &place);
    bool ResolveFromTop(const std::string &path, bool followLast, Place &place);
    LinkTextStatus ReadLink(Folder *holder, Entry &entry);
    LinkTargetKind TargetKind(Folder *holder, Entry &entry);
    EntryIdentity IdentityOf(const Place &place);
    bool Writable(Folder *folder);
    bool MayTakeOut(Folder *folder, Entry &entry);
    bool NameFits(Folder *folder, const std::string &name);
    Entry *FoldedOccupant(Folder *folder, const std::string &name, const Entry *self);
    void Unkey(Folder *folder, const std::string &name, const Entry *entry);

    std::vector<std::unique_ptr<Folder>> folders_;
    std::unordered_map<EntryIdentity, Folder *, EntryIdentityHash> byIdentity_;
    std::map<std::string, Folder *> roots_; // by the root's spelling, ending in "/"
    std::uint64_t madeUp_ = 0; // identities for folders the disk no longer shows
    EntryIdentity MadeUpIdentity()
    {
        EntryIdentity identity;
        identity.volume = ~std::uint64_t(0);
        identity.index = ++madeUp_;
        return identity;
    }
    std::string heldPath_;
    EntryIdentity heldIdentity_;
    Folder *held_ = nullptr;
    // A link met while resolving a path that could not be read: its system
    // error, -1 without one; 0 when none was met.
    int unfollowed_ = 0;
    int heldUnfollowed_ = 0;
    RenameOutcome createRefusal_ = RenameOutcome::Renamed;
};
