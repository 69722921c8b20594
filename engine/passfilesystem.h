#pragma once

#include "platform/dirscan.h"

#include <QString>

#include <string>

// The file-system side of a rename pass, kept behind this interface so that
// the same scan and pass logic can run against a tree held in memory.
// Paths and names are native (see platform/dirscan.h); EncodeNativePath
// gives a path's native form.
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

    // Renames the entry `name` of the folder at `folder` to `newName` in the
    // same folder, provided the folder found there is still `identity` (so a
    // folder swapped for a link after the scan can't lead a rename
    // elsewhere). Fails, changing nothing, when it isn't, when either name is
    // no plain name (empty, ".", "..", a separator in it) or when any entry
    // already stands at `newName`.
    virtual bool RenameIn(const std::string &folder, const EntryIdentity &identity,
                          const char *name, const char *newName) = 0;
};

// The disk. One per pass: it keeps the folder of the last rename open, so a
// run of renames in one folder costs one system call each.
class DiskFileSystem final : public PassFileSystem
{
public:
    bool Identify(const std::string &path, EntryIdentity &identity) override;
    bool ListFolder(const std::string &path, EntryIdentity &identity,
                    DirListing &listing) override;
    bool RenameIn(const std::string &folder, const EntryIdentity &identity, const char *name,
                  const char *newName) override;

private:
    OpenFolder open_;
    std::string openPath_;
    EntryIdentity openIdentity_;
    bool openMatches_ = false;
};

// The native form of a path or a name (QFile::encodeName on POSIX, UTF-8 on
// Windows), and back for a whole path.
std::string EncodeNativePath(const QString &path);
QString DecodeNativePath(const std::string &path);
