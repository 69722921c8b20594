#pragma once

#include "engine/chosenfolder.h"
#include "engine/passfilesystem.h"

#include <QFileInfo>
#include <QList>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Asked once for every folder the scan enters (the chosen one included),
// after the checks that decide whether to enter it; true leaves that folder
// and everything below it out.
using ScanStopQuestion = std::function<bool()>;

enum class ScanKind { Files, Folders };

// What a scan met but could not take in, by why. Each is counted where the
// scan met it; whatever lies below it is unknown and not counted.
struct ScanGaps
{
    // Folders it was to enter but could not read, or not to their end (the
    // chosen folder included), links to folders it could not tell to lead
    // inside the chosen folder or not, and links whose target the system
    // would not tell (LinkTargetKind::Unknown).
    int unreadableFolders = 0;
    // Entries it left out because their names can't be decoded (what is
    // below such a folder included), and folders it listed but did not
    // enter because their names can't be decoded exactly.
    int undecodableNames = 0;
    // Folders it did not enter because their paths are longer than the
    // system opens (FolderPathFits); they are listed and may be renamed.
    int tooLongPaths = 0;

    bool Any() const { return unreadableFolders + undecodableNames + tooLongPaths > 0; }
};

// The result of one scan, kept small: names in shared blocks and a few bytes
// per entry; paths are put together only when asked for. Entries, their
// order and their paths are exactly those of the toolkit's listings (see
// ScanFiles and ScanFolders).
class ScannedTree
{
public:
    // A folder the scan entered; entries name it as the folder holding them.
    struct Folder
    {
        QString path;       // how the paths of its entries are shown, ending in "/"
        std::string native; // how they are handed to the system, ending in "/"
        EntryIdentity identity; // as found when the scan entered it
        mutable QString filePrefix, folderPrefix; // target prefixes, made once when needed
    };

    int Size() const { return static_cast<int>(entries_.size()); }
    const Folder &FolderOf(int i) const { return folders_[entries_[i].folder]; }
    QString Name(int i) const;
    QString Path(int i) const { return FolderOf(i).path + Name(i); }
    const char *NativeName(int i) const;
    // False when the name is listed by the toolkit but its decoded form does
    // not give back the same bytes: such an entry must never be renamed.
    bool Exact(int i) const { return entries_[i].exact; }

    // The target folder prefix of entry i as a file (FileTargetPrefix of its
    // absolute path) and as a folder (FolderTargetPrefix of its folder).
    const QString &FileTargetPrefixOf(int i) const;
    const QString &FolderTargetPrefixOf(int i) const;

    QList<QFileInfo> ToFileInfos() const;

    const ScanGaps &Gaps() const { return gaps_; }

private:
    friend class TreeScanner;

    struct Entry
    {
        std::uint32_t folder;
        std::uint32_t name; // block * kBlockSize + offset
        std::uint16_t nameSize;
        bool exact;
    };
    static constexpr std::uint32_t kBlockSize = 1u << 18;

    void Add(std::uint32_t folder, const char *name, std::size_t size, bool exact);

    std::deque<Folder> folders_;
    std::deque<Entry> entries_;
    std::vector<std::unique_ptr<char[]>> blocks_;
    std::uint32_t blockUsed_ = kBlockSize;
    ScanGaps gaps_;
};

// Every file (ScanKind::Files) or every folder (ScanKind::Folders) below
// `folder`, read through `fs`:
// - files: a folder's own files (hidden ones included, links left out), then
//   the whole collection of each subfolder in turn;
// - folders: a folder's subfolders (hidden ones left out, links to folders
//   listed), then the collection of each in turn, so every folder stands
//   after the folder that holds it.
// Siblings are ordered by name ignoring case (lower-cased, then compared by
// UTF-16 code units), ties broken case-sensitively. Hidden folders are not
// entered. The chosen folder is read only while it is still `folder`
// (identity); each subfolder is read as the entry that was listed, opened in
// its parent without following a link. A link to a folder is listed wherever
// a folder would be, but entered only when where it finally leads
// (PassFileSystem::FinalPath) is the chosen folder or lies in it, and then
// by the folders on the way there; and no folder is entered twice in one
// scan (by identity; the first time the scan meets it, by its path then,
// wins). Paths below the folder are its native and shown paths and the
// names on the way. A name the locale's encoding can't read is left out, as
// the toolkit's listings leave it out. What the scan could not take in is in
// Gaps().
ScannedTree ScanTree(PassFileSystem &fs, const ChosenFolder &folder, ScanKind kind,
                     const ScanStopQuestion &stop = {});

// The same below the folder `path` leads to (ResolveChosenFolder).
ScannedTree ScanTree(PassFileSystem &fs, const QString &path, ScanKind kind,
                     const ScanStopQuestion &stop = {});

// ScanTree on the disk, as file-information records.
QList<QFileInfo> ScanFiles(const QString &path, const ScanStopQuestion &stop = {});
QList<QFileInfo> ScanFolders(const QString &path, const ScanStopQuestion &stop = {});
