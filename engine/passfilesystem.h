#pragma once

#include "engine/textencoding.h"
#include "platform/entryidentity.h"
#include "platform/folderlisting.h"
#include "platform/nativepath.h"
#include "platform/openfolder.h"
#include "platform/textfile.h"

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

// How one rename of a pass ended.
enum class RenameOutcome : std::uint8_t {
    Renamed,
    TargetExists,   // an entry already stands at the new name
    TargetTaken,    // an earlier rename of this job put the entry at the new name there
    InvalidName,    // the new name is no plain name: not even tried
    NameTooLong,    // the new name is longer than the file system takes
    InexactName,    // the old name's bytes can't be told exactly: never touched
    EntryMoved,     // an earlier rename of this job moved the entry (reached twice, through a link)
    FolderMoved,    // the folder it was listed in is no longer at its path
    NotPermitted,   // the folder or the entry may not be changed by this process
    Vanished,       // nothing stands at the old name any more
    OtherError,     // see RenameResult::systemError
    // The run's journal could not be written (RenameResult::systemError says
    // why): nothing more may be renamed unrecorded, so the pass stops here.
    JournalNotWritten,       // and the entry is as it was (not renamed, or taken back)
    RenamedJournalNotWritten // after the rename, which stands: it could not be taken back
};

struct RenameResult
{
    RenameOutcome outcome = RenameOutcome::Renamed;
    int systemError = 0; // the system's error code, when it gave one
    // The entry has its new name.
    bool Succeeded() const
    {
        return outcome == RenameOutcome::Renamed
            || outcome == RenameOutcome::RenamedJournalNotWritten;
    }
    bool StopsPass() const
    {
        return outcome == RenameOutcome::JournalNotWritten
            || outcome == RenameOutcome::RenamedJournalNotWritten;
    }
    explicit operator bool() const { return Succeeded(); }
};

// The outcome of a rename the system was asked for.
RenameResult ResultOf(const RenameStatus &status);

// The file-system side of a rename pass, kept behind this interface so that
// the same scan and pass logic can run against a tree held in memory.
// Paths and names are native (see platform/nativepath.h); EncodeNativePath
// (engine/textencoding.h) gives a path's native form.
class PassFileSystem
{
public:
    virtual ~PassFileSystem();

    // Whether `path` leads to an entry (links followed; a trailing "/" after
    // a folder allowed), and that entry's identity.
    virtual bool Identify(const std::string &path, EntryIdentity &identity) = 0;

    // As Identify, and when the entry is a folder that can be read, its
    // entries in any order ("." and ".." left out), each with its name, its
    // kind, where a link leads and whether it is hidden (an empty listing
    // otherwise). The scan makes
    // the toolkit's listings out of this and sorts them itself; it never
    // enters a folder whose identity is already on its way down, and
    // remembers each folder's identity for RenameIn.
    virtual bool ListFolder(const std::string &path, EntryIdentity &identity,
                            DirListing &listing) = 0;

    // As ListFolder, for the folder reached from the folder at `base` (which
    // must still be `baseIdentity`) by the names of `below` in turn ("a/b",
    // empty for `base` itself), none of them followed when it is a link: so
    // a folder swapped for a link after its parent was listed is not
    // entered. False when nothing was read there; `listing.unreadable` then
    // tells something in the way (a link, a file, a base moved, no right to
    // pass) from nothing at all.
    virtual bool ListFolderBelow(const std::string &base, const EntryIdentity &baseIdentity,
                                 const std::string &below, EntryIdentity &identity,
                                 DirListing &listing) = 0;

    // Renames the entry `name` of the folder at `folder` to `newName` in the
    // same folder, provided the folder found there is still `identity` (so a
    // folder swapped for a link after the scan can't lead a rename
    // elsewhere). Fails, changing nothing, when it isn't (FolderMoved), when
    // either name is no plain name (empty, ".", "..", a separator in it) or
    // when any entry already stands at `newName`.
    virtual RenameResult RenameIn(const std::string &folder, const EntryIdentity &identity,
                                  const char *name, const char *newName) = 0;

    // The identity of the entry `name` itself (a link not followed) in the
    // folder at `folder`, provided that folder is still `identity`.
    virtual bool IdentifyIn(const std::string &folder, const EntryIdentity &identity,
                            const char *name, EntryIdentity &entry) = 0;

    // Where `path` really leads, as an absolute path with "/" between names:
    // every link followed, "." and ".." taken as the system takes them
    // (FinalPathOf in platform/nativepath.h). The scan compares a link's final
    // path with the chosen folder's to tell whether the link stays inside.
    // False when the path leads nowhere or its final path can't be told.
    virtual bool FinalPath(const std::string &path, std::string &final) = 0;

    // Creates the file `name` new in the folder at `folder` and writes
    // `blocks` into it, as CreateTextFile (platform/textfile.h) does: never
    // over or through anything that stands at that name. The rename report
    // goes through here, so that a copy of the tree can tell whether it
    // would be written.
    virtual TextFileStatus CreateNewFile(const std::string &folder, const std::string &name,
                                         const std::vector<std::string> &blocks) = 0;

    // Removes the old report `name` from the folder at `folder` (ending in a
    // separator) when what stands there is neither a folder nor a link to
    // one: our reports are files, and a folder of that name is not one. True
    // when one was removed. Old reports go through here, so that a copy of
    // the tree loses them as the disk would.
    virtual bool RemoveReport(const std::string &folder, const std::string &name) = 0;
};

// The disk. One per pass: it keeps the folder of the last rename open, so a
// run of renames in one folder costs one system call each.
class DiskFileSystem final : public PassFileSystem
{
public:
    bool Identify(const std::string &path, EntryIdentity &identity) override;
    bool ListFolder(const std::string &path, EntryIdentity &identity,
                    DirListing &listing) override;
    bool ListFolderBelow(const std::string &base, const EntryIdentity &baseIdentity,
                         const std::string &below, EntryIdentity &identity,
                         DirListing &listing) override;
    RenameResult RenameIn(const std::string &folder, const EntryIdentity &identity,
                          const char *name, const char *newName) override;
    bool IdentifyIn(const std::string &folder, const EntryIdentity &identity, const char *name,
                    EntryIdentity &entry) override;
    bool FinalPath(const std::string &path, std::string &final) override;
    TextFileStatus CreateNewFile(const std::string &folder, const std::string &name,
                                 const std::vector<std::string> &blocks) override;
    bool RemoveReport(const std::string &folder, const std::string &name) override;

private:
    bool Hold(const std::string &folder, const EntryIdentity &identity);

    OpenFolder open_;
    std::string openPath_;
    EntryIdentity openIdentity_;
    bool openMatches_ = false;
};
