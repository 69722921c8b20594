#pragma once

#include "platform/entryidentity.h"
#include "platform/folderlisting.h"

#include <cstdint>
#include <string>

// The one rename of the program: never replaces an existing entry (a link of
// any kind, even a dangling one, or an empty folder included), never copies,
// never writes through a link, and never moves an entry to another folder.
// Paths and names are native (see platform/nativepath.h).

enum class RenameError : std::uint8_t {
    None,
    InvalidName,  // no name an entry can bear: see StoredNameOf
    NameTooLong,  // longer than the file system takes
    TargetExists, // something already stands at the new name
    Vanished,     // nothing stands at the old name (or its folder is gone)
    NotPermitted, // the folder or the entry may not be changed by this process
    Other         // see systemCode
};

struct RenameStatus
{
    RenameError error = RenameError::None;
    int systemCode = 0; // errno, or GetLastError() on Windows; 0 when none applies
    bool Succeeded() const { return error == RenameError::None; }
    explicit operator bool() const { return Succeeded(); }
};

// How OpenFolder::OpenWithoutLinks ended.
enum class FolderReach : std::uint8_t {
    Opened,
    ThroughLink, // a link (or junction) stands on the way, or at the end
    Missing,     // a part of the path is not there, or is no folder
    Failed       // see the system code
};

// A folder held open so that its entries can be renamed by name: the rename
// lands in the folder that was opened, whatever its path leads to by then.
class OpenFolder
{
public:
    OpenFolder() = default;
    ~OpenFolder();
    OpenFolder(const OpenFolder &) = delete;
    OpenFolder &operator=(const OpenFolder &) = delete;

    // Opens the folder at the native `path` (links followed) and tells its
    // identity; closes whatever was open before.
    bool Open(const std::string &path, EntryIdentity &identity);
    // Opens the folder at the absolute native `path` only when no link stands
    // anywhere on it: on POSIX each part is opened inside the one before it
    // from the root, never following a link; on Windows the folder's final
    // path must be the path asked for, case aside. `path` holds no "." or
    // "..". Closes whatever was open before.
    FolderReach OpenWithoutLinks(const std::string &path, EntryIdentity &identity,
                                 int &systemCode);
    void Close();

    // Renames the entry `name` of this folder to `newName` in this folder,
    // with one system call that fails, changing nothing, when any entry
    // already stands at `newName`. On Windows a change of case only is
    // allowed, since there the old entry answers to the new name too.
    RenameStatus Rename(const char *name, const char *newName);

    // The identity of the entry `name` of this folder itself (a link is not
    // followed).
    bool IdentifyEntry(const char *name, EntryIdentity &identity) const;

    // Reads the folder reached from this one by the names of `below` in turn
    // ("a/b"; empty for this folder itself), none of them followed when it
    // is a link, so that only a folder that really lies there is read. As
    // ReadFolder otherwise: true with its identity and entries (`unreadable`
    // set when it could not be read, or not to its end). False when it was
    // not read; `unreadable` then tells whether something stands in the way
    // (a link, a file, no right to pass) rather than nothing at all.
    bool ReadBelow(const std::string &below, EntryIdentity &identity, DirListing &listing) const;

private:
#ifdef _WIN32
    void *handle_ = nullptr; // keeps the folder from being moved meanwhile
    std::wstring path_;      // ends in a separator
#else
    int fd_ = -1;
#endif
};
