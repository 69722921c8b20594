#include "engine/folderscan.h"

#include "engine/namerules.h"
#include "engine/textencoding.h"

#include <QDir>

#include <algorithm>
#include <cstring>
#include <functional>
#include <unordered_set>
#include <utility>

namespace {

// One listed entry while its folder is sorted. An ASCII name compares on its
// bytes; any other through its UTF-16 code units lower-cased (the sort key)
// and as they are (the tie-break), both in the folder's unit buffer. Ties
// beyond those keep the listing's order.
struct Candidate
{
    const char *name;
    int size;
    bool ascii;
    std::uint32_t key, keyLength, raw, rawLength, order;
    bool exact;
    bool enter;
    bool link;
};

inline ushort LowerAscii(ushort c)
{
    return c >= 'A' && c <= 'Z' ? ushort(c + ('a' - 'A')) : c;
}

// SiblingNameLess on the candidates' names, as QString::toLower and
// QString::compare would order them.
class SiblingOrder
{
public:
    explicit SiblingOrder(const std::vector<ushort> &units) : units_(units.data()) {}

    bool operator()(const Candidate &a, const Candidate &b) const
    {
        int order;
        if (a.ascii && b.ascii) {
            order = Compare(a, b, [&](const Candidate &c, std::uint32_t i) {
                return LowerAscii(static_cast<unsigned char>(c.name[i]));
            });
            if (order == 0)
                order = Compare(a, b, [&](const Candidate &c, std::uint32_t i) {
                    return ushort(static_cast<unsigned char>(c.name[i]));
                });
        } else {
            order = Compare(a, b, [&](const Candidate &c, std::uint32_t i) {
                return c.ascii ? LowerAscii(static_cast<unsigned char>(c.name[i]))
                               : units_[c.key + i];
            });
            if (order == 0)
                order = Compare(a, b, [&](const Candidate &c, std::uint32_t i) {
                    return c.ascii ? ushort(static_cast<unsigned char>(c.name[i]))
                                   : units_[c.raw + i];
                }, false);
        }
        return order != 0 ? order < 0 : a.order < b.order;
    }

private:
    // Code unit by code unit, then the shorter first.
    template <typename Unit>
    static int Compare(const Candidate &a, const Candidate &b, Unit unit, bool folded = true)
    {
        const std::uint32_t lengthA = a.ascii ? std::uint32_t(a.size) : (folded ? a.keyLength : a.rawLength);
        const std::uint32_t lengthB = b.ascii ? std::uint32_t(b.size) : (folded ? b.keyLength : b.rawLength);
        const std::uint32_t common = std::min(lengthA, lengthB);
        for (std::uint32_t i = 0; i < common; ++i) {
            const ushort x = unit(a, i), y = unit(b, i);
            if (x != y)
                return x < y ? -1 : 1;
        }
        return lengthA == lengthB ? 0 : (lengthA < lengthB ? -1 : 1);
    }

    const ushort *units_;
};

} // namespace

class TreeScanner
{
public:
    TreeScanner(PassFileSystem &fs, ScanKind kind, const ScanStopQuestion &stop, ScannedTree &tree)
        : fs_(fs), kind_(kind), stop_(stop), tree_(tree)
    {
    }

    void Run(const ChosenFolder &chosen)
    {
        ScannedTree::Folder root;
        root.native = chosen.native;
        root.path = chosen.shown;
        root.identity = chosen.identity;
        rootFinal_ = chosen.native.substr(0, chosen.native.size() - 1);
        bool listed = false;
        EntryIdentity found;
        if (!FolderPathFits(root.native))
            ++tree_.gaps_.tooLongPaths;
        else if (fs_.ListFolder(root.native, found, listing_) && found == chosen.identity)
            listed = visited_.insert(found).second;
        else
            ++tree_.gaps_.unreadableFolders; // not the folder the launch checked any more
        tree_.folders_.push_back(std::move(root));
        if (listed && !Stopped())
            Collect(0);
    }

private:
    // One subfolder of the folder being collected, kept while its siblings
    // are collected.
    struct Subfolder
    {
        std::string name;
        bool enter;
        bool link;
    };

    bool Stopped() const { return stop_ && stop_(); }

    // Where below the chosen folder the folder a link at `native` leads to
    // lies ("" for the chosen folder itself), by final paths, not the link's
    // text: a ".." after a link goes up from where the link leads, not back
    // to where it stands, so no lexical reading of the text can tell. False
    // when it lies outside, or can't be told (then counted).
    bool PlaceInside(const std::string &native, std::string &below)
    {
        std::string final;
        if (!fs_.FinalPath(native, final)) {
            ++tree_.gaps_.unreadableFolders;
            return false;
        }
        if (final.size() < rootFinal_.size() || final.compare(0, rootFinal_.size(), rootFinal_) != 0)
            return false;
        if (final.size() == rootFinal_.size()) {
            below.clear();
            return true;
        }
        if (final[rootFinal_.size()] != '/')
            return false;
        below = final.substr(rootFinal_.size() + 1);
        return true;
    }

    // Takes in listing_, just read for the folder, and descends.
    void Collect(std::uint32_t folderIndex)
    {
        if (listing_.unreadable)
            ++tree_.gaps_.unreadableFolders;
        tree_.gaps_.undecodableNames += static_cast<int>(listing_.unnamed);
        files_.clear();
        std::vector<Candidate> folders;
        units_.clear();
        QString name;
        std::uint32_t order = 0;
        for (const DirListing::Entry &entry : listing_.entries) {
            const bool file = entry.kind == DirEntryKind::File;
            const bool folder =
                !entry.hidden
                && (entry.kind == DirEntryKind::Folder
                    || (entry.kind == DirEntryKind::Link
                        && (entry.target == LinkTargetKind::Folder
                            || entry.target == LinkTargetKind::Other)));
            if (!entry.hidden && entry.target == LinkTargetKind::Unknown) {
                // Perhaps a folder inside, perhaps not: what is below is not read.
                ++tree_.gaps_.unreadableFolders;
                continue;
            }
            if (!(kind_ == ScanKind::Files ? file || folder : folder))
                continue;
            const char *bytes = listing_.Name(entry);
            Candidate candidate{bytes, entry.nameSize, false, 0, 0, 0, 0, order++, true, false,
                                entry.kind == DirEntryKind::Link};
            if (IsAscii(bytes, entry.nameSize) && NameDecoder::Local().AsciiReadsAsLatin1()) {
                candidate.ascii = true;
            } else {
                if (!NameDecoder::Local().Decode(bytes, entry.nameSize, name, candidate.exact)) {
                    // Left out as the toolkit leaves it out, with all below it.
                    ++tree_.gaps_.undecodableNames;
                    continue;
                }
                const QString lowered = name.toLower();
                candidate.key = static_cast<std::uint32_t>(units_.size());
                candidate.keyLength = static_cast<std::uint32_t>(lowered.size());
                units_.insert(units_.end(), lowered.utf16(), lowered.utf16() + lowered.size());
                candidate.raw = static_cast<std::uint32_t>(units_.size());
                candidate.rawLength = static_cast<std::uint32_t>(name.size());
                units_.insert(units_.end(), name.utf16(), name.utf16() + name.size());
            }
            candidate.enter = folder && candidate.exact;
            if (folder && !candidate.exact)
                ++tree_.gaps_.undecodableNames; // listed, but what is below it is not
            (file ? files_ : folders).push_back(candidate);
        }
        const SiblingOrder less(units_);
        std::sort(folders.begin(), folders.end(), less);
        if (kind_ == ScanKind::Files) {
            std::sort(files_.begin(), files_.end(), less);
            for (const Candidate &file : files_)
                tree_.Add(folderIndex, file.name, static_cast<std::size_t>(file.size), file.exact);
        } else {
            for (const Candidate &folder : folders)
                tree_.Add(folderIndex, folder.name, static_cast<std::size_t>(folder.size),
                          folder.exact);
        }
        // listing_ is read again below: keep the subfolder names apart.
        std::vector<Subfolder> subfolders;
        subfolders.reserve(folders.size());
        for (const Candidate &folder : folders)
            subfolders.push_back({std::string(folder.name, static_cast<std::size_t>(folder.size)),
                                  folder.enter, folder.link});
        for (const Subfolder &sub : subfolders)
            if (sub.enter)
                Descend(folderIndex, sub.name, sub.link);
    }

    // A subfolder is entered as the entry that was listed: opened in its
    // parent without following a link, so a folder swapped for a link
    // meanwhile leads nowhere. A link is entered only when it leads inside
    // the chosen folder, and then by the folders that really lie on the way
    // there from the chosen folder. Each folder is entered once, the first
    // time it is met, so that links can't lead renames elsewhere nor make
    // the scan grow with the number of ways to reach a folder. The stop
    // question comes after those checks, once per folder entered.
    void Descend(std::uint32_t parentIndex, const std::string &name, bool link)
    {
        const ScannedTree::Folder &parent = tree_.folders_[parentIndex];
        ScannedTree::Folder child;
        child.native = parent.native + name;
        // Its entries are renamed in it by this path with a "/".
        if (!FolderPathFits(child.native + '/')) {
            ++tree_.gaps_.tooLongPaths;
            return;
        }
        bool listed;
        if (link) {
            // Asked only for links, so a plain folder costs no more calls.
            EntryIdentity target;
            std::string below;
            if (!PlaceInside(child.native, below)
                || (fs_.Identify(child.native, target) && visited_.count(target)))
                return;
            const ScannedTree::Folder &root = tree_.folders_[0];
            listed = fs_.ListFolderBelow(root.native, root.identity, below, child.identity,
                                         listing_);
            // Handed to the system by where it lies, so that no path the job
            // renames by (nor its journal) passes through a link; shown
            // under the link, where the user sees it.
            child.native = below.empty() ? root.native.substr(0, root.native.size() - 1)
                                         : root.native + below;
        } else {
            listed = fs_.ListFolderBelow(parent.native, parent.identity, name, child.identity,
                                         listing_);
        }
        if (!listed) {
            if (listing_.unreadable)
                ++tree_.gaps_.unreadableFolders; // something else stands there now
            return;
        }
        if (!visited_.insert(child.identity).second)
            return;
        child.native.push_back('/');
        QString nameText;
        bool exact = true;
        NameDecoder::Local().Decode(name.data(), static_cast<int>(name.size()), nameText, exact);
        child.path = tree_.folders_[parentIndex].path + nameText + QLatin1Char('/');
        tree_.folders_.push_back(std::move(child));
        if (!Stopped())
            Collect(static_cast<std::uint32_t>(tree_.folders_.size() - 1));
    }

    PassFileSystem &fs_;
    const ScanKind kind_;
    const ScanStopQuestion &stop_;
    ScannedTree &tree_;
    std::unordered_set<EntryIdentity, EntryIdentityHash> visited_;
    std::string rootFinal_; // the chosen folder's final path, without a closing "/"
    DirListing listing_;
    std::vector<Candidate> files_;
    std::vector<ushort> units_;
};

void ScannedTree::Add(std::uint32_t folder, const char *name, std::size_t size, bool exact)
{
    if (blockUsed_ + size + 1 > kBlockSize) {
        blocks_.emplace_back(new char[kBlockSize]);
        blockUsed_ = 0;
    }
    char *at = blocks_.back().get() + blockUsed_;
    std::memcpy(at, name, size);
    at[size] = '\0';
    const std::uint32_t block = static_cast<std::uint32_t>(blocks_.size() - 1);
    entries_.push_back({folder, block * kBlockSize + blockUsed_, static_cast<std::uint16_t>(size),
                        exact});
    blockUsed_ += static_cast<std::uint32_t>(size + 1);
}

const char *ScannedTree::NativeName(int i) const
{
    const std::uint32_t at = entries_[i].name;
    return blocks_[at / kBlockSize].get() + at % kBlockSize;
}

QString ScannedTree::Name(int i) const
{
    QString name;
    bool exact = true;
    NameDecoder::Local().Decode(NativeName(i), entries_[i].nameSize, name, exact);
    return name;
}

const QString &ScannedTree::FileTargetPrefixOf(int i) const
{
    const Folder &folder = FolderOf(i);
    if (folder.filePrefix.isEmpty())
        folder.filePrefix = FileTargetPrefix(QFileInfo(Path(i)).absoluteFilePath());
    return folder.filePrefix;
}

const QString &ScannedTree::FolderTargetPrefixOf(int i) const
{
    const Folder &folder = FolderOf(i);
    if (folder.folderPrefix.isEmpty())
        folder.folderPrefix = FolderTargetPrefix(QFileInfo(Path(i)).dir().absolutePath());
    return folder.folderPrefix;
}

QList<QFileInfo> ScannedTree::ToFileInfos() const
{
    QList<QFileInfo> result;
    result.reserve(Size());
    for (int i = 0; i < Size(); ++i)
        result.append(QFileInfo(Path(i)));
    return result;
}

ScannedTree ScanTree(PassFileSystem &fs, const ChosenFolder &folder, ScanKind kind,
                     const ScanStopQuestion &stop)
{
    ScannedTree tree;
    if (folder.Found())
        TreeScanner(fs, kind, stop, tree).Run(folder);
    return tree;
}

ScannedTree ScanTree(PassFileSystem &fs, const QString &path, ScanKind kind,
                     const ScanStopQuestion &stop)
{
    return ScanTree(fs, ResolveChosenFolder(fs, path), kind, stop);
}

QList<QFileInfo> ScanFiles(const QString &path, const ScanStopQuestion &stop)
{
    DiskFileSystem disk;
    return ScanTree(disk, path, ScanKind::Files, stop).ToFileInfos();
}

QList<QFileInfo> ScanFolders(const QString &path, const ScanStopQuestion &stop)
{
    DiskFileSystem disk;
    return ScanTree(disk, path, ScanKind::Folders, stop).ToFileInfos();
}
