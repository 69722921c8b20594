#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Tells entries apart: equal for two paths that lead to the same entry.
// Mostly the system's own number for the entry on its volume: device and
// inode on POSIX; on Windows the volume's 64-bit serial number and the
// 128-bit file id, which ReFS needs whole. Where the system gives no number
// (a file id of 0 or of all ones, as SMB servers without file ids do), the
// entry's final path stands in. Such an identity holds only while the entry
// keeps its path: it tells folders apart within a scan, but it can't follow
// an entry through a rename, so a journal records it as unknown.
struct EntryIdentity
{
    std::uint64_t volume = 0;
    std::uint64_t index = 0;     // the number; on Windows the file id's low half
    std::uint64_t indexHigh = 0; // the Windows file id's high half
    std::string finalPath;       // only where the system gives no number

    bool ByPath() const { return !finalPath.empty(); }
    // No system numbers an entry 0: a default identity is none.
    bool Known() const { return index != 0 || indexHigh != 0 || ByPath(); }

    bool operator==(const EntryIdentity &other) const
    {
        return volume == other.volume && index == other.index && indexHigh == other.indexHigh
            && finalPath == other.finalPath;
    }
    bool operator!=(const EntryIdentity &other) const { return !(*this == other); }
};

struct EntryIdentityHash
{
    std::size_t operator()(const EntryIdentity &identity) const;
};

// The identity of an entry from its file id as the system gives it: `size`
// bytes at `id`, lowest first (Windows: the 16 of FILE_ID_INFO, or the 8 of
// the older file index). An id of all zeros or all ones is no id: then the
// entry's final path, from `finalPath`, stands in. False when that can't be
// told either.
bool IdentityFromFileId(std::uint64_t volume, const unsigned char *id, std::size_t size,
                        const std::function<bool(std::string &)> &finalPath,
                        EntryIdentity &identity);

// Whether the native `path` leads to an entry, every link on the way and at
// its end followed; if so, that entry's identity.
bool IdentifyEntry(const std::string &path, EntryIdentity &identity);

// Whether the native `path` names an entry, its last part not followed when
// it is a link; if so, that entry's own identity.
bool IdentifyEntryItself(const std::string &path, EntryIdentity &identity);
