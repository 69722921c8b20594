#pragma once

#include "platform/folderlisting.h"
#include "platform/entryidentity.h"

#include <cstddef>
#include <string>

// Single entries and the rules of the file system, read from the disk for a
// copy of it kept in memory (the dry run), which must predict what the
// system would do without asking it to do anything. Paths and names are
// native (see platform/nativepath.h).

struct DiskEntry
{
    DirEntryKind kind = DirEntryKind::Other; // as ReadFolder would list it
    EntryIdentity identity;
    bool hidden = false; // as ReadFolder would list it
    // This process may act as the entry's owner: it owns the entry, or it is
    // privileged to act as any owner (CAP_FOWNER on Linux, root on other
    // POSIX systems). Always true on Windows, where no rename asks for it.
    bool actsAsOwner = false;
    // For a folder: only an entry's owner, the folder's owner or a
    // privileged process may rename or remove its entries (the sticky bit
    // on POSIX). Never on Windows.
    bool ownersOnly = false;
    // No one, however privileged, may rename or remove the entry, nor, for a
    // folder, take any entry out of it: it is immutable or append-only
    // (Linux's inode flags, the like st_flags elsewhere). Never on Windows.
    bool lockedInPlace = false;
};

// The entry at `path` itself (a link at its end is not followed). False when
// nothing stands there.
bool ReadDiskEntry(const std::string &path, DiskEntry &entry);

enum class LinkTextStatus : unsigned char {
    Read,        // `text` holds where the link leads, as stored
    NotFollowed, // the system never follows it while resolving a path (a
                 // shortcut file on Windows): to a path it is an ordinary file
    Unreadable   // a link whose target can't be read: see `systemError`
};

// What the link at `path` stores, for resolving it as the system does: the
// POSIX link text; on Windows the target of a symbolic link (relative ones
// relative to the link's folder) or of a junction, as a native path.
LinkTextStatus ReadLinkText(const std::string &path, std::string &text, int &systemError);

// The process's current folder as an absolute native path.
bool CurrentFolderPath(std::string &path);

// Whether the folder's own rights let this process add entries to it and
// take entries out: write and search rights on POSIX; the rights to add
// files and folders on Windows. The entry's side is ReadDiskEntry's.
bool FolderWritable(const std::string &folderPath);

// The longest name the file system holding the folder takes, in the units
// of NameLength; 0 when it sets none or can't be told.
std::size_t LongestNameIn(const std::string &folderPath);

// A native name's length in the units the file system limits: bytes on
// POSIX, UTF-16 code units on Windows.
std::size_t NameLength(const std::string &name);

// How many leading characters of the native `path` name the root it starts
// from: "/" on POSIX; on Windows a drive ("C:\"), a share ("\\host\share\"),
// a "\\?\" path's volume, or "\" (the current drive's root). 0 for a path
// relative to the current folder.
std::size_t RootLength(const std::string &path);

// Whether an entry is hidden by its name (a leading dot, POSIX), so that a
// rename can hide or show it; on Windows it is an attribute that a rename
// keeps.
bool HiddenFollowsName();

// Whether the file system takes names that differ only in case for one name
// (Windows), so that such a name is taken by the other.
bool NamesFoldCase();

// The form in which two native names that the file system takes for one
// are equal: the name itself on POSIX; upper-cased code unit by code unit,
// as NTFS compares, on Windows.
std::string NameKey(const std::string &name);
