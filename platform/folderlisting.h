#pragma once

#include "platform/entryidentity.h"

#include <cstdint>
#include <string>
#include <vector>

// What a folder holds, as the system lists it. Paths and names are native
// (platform/nativepath.h).

enum class DirEntryKind : std::uint8_t {
    File,   // a regular file
    Folder, // a folder (not a link to one)
    Link,   // a symbolic link, junction or shortcut; see LinkTargetKind
    Other   // FIFO, socket, device: the toolkit calls these system files
};

// What a link leads to, following every link on the way. Unknown: the
// system would not say (no right to pass a folder on the way, a kind of link
// it is set not to follow, a cloud provider not running), which is not the
// same as leading nowhere (Missing).
enum class LinkTargetKind : std::uint8_t { None, Missing, File, Folder, Other, Unknown };

// One folder's entries in the order the system gives them, "." and ".."
// left out. Names are kept in one buffer, each followed by a NUL, so that a
// folder of many entries costs a few allocations, not one per entry.
class DirListing
{
public:
    struct Entry
    {
        std::uint32_t nameOffset;
        std::uint16_t nameSize;
        DirEntryKind kind;
        LinkTargetKind target; // None unless kind is Link
        bool hidden;           // a leading dot on POSIX, the hidden attribute on Windows
    };

    std::vector<Entry> entries;
    std::string names;
    // The folder is there but could not be read, or not to its end: the
    // entries hold what was read before the error.
    bool unreadable = false;
    // Names the system gave that have no native form (on Windows, names
    // with a lone surrogate), left out of `entries`.
    std::uint32_t unnamed = 0;

    const char *Name(const Entry &entry) const { return names.data() + entry.nameOffset; }
    void Clear();
    void Add(const char *name, std::size_t size, DirEntryKind kind, LinkTargetKind target,
             bool hidden);
};

// Reads the folder at the native `path` (links followed): false when the
// path leads to no entry; otherwise its identity, and its entries when it
// is a folder that can be read (an empty listing when not, and `unreadable`
// set when it is a folder; a read error part-way keeps what was read before
// it and sets `unreadable`). Asks the system about single entries only
// where the folder can't tell: the targets of links, and entries of a kind
// the file system doesn't store.
bool ReadFolder(const std::string &path, EntryIdentity &identity, DirListing &listing);
