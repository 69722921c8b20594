// The raw folder reader and renamer under the passes, names the locale's
// encoding can't read, what a scan could not reach as the pass counts it,
// and the scan and a pass run against a file system that is not the disk.

#include "tests/support/enginetestsupport.h"

#include "engine/folderscan.h"
#include "engine/passfilesystem.h"
#include "engine/renamepass.h"
#include "platform/dirscan.h"

#include <QTemporaryDir>
#include <QtTest>

#ifdef _WIN32
#include <windows.h>

#include <sddl.h>
#else
#include "tests/support/treesnapshot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <vector>

using namespace enginetest;

namespace {

std::string Native(const QString &path)
{
    return EncodeNativePath(path);
}

// A path as a pass shows it: with the system's own separators.
QString Shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

#ifdef _WIN32
std::wstring WideOf(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

bool MakeHidden(const QString &path)
{
    return SetFileAttributesW(WideOf(path).c_str(), FILE_ATTRIBUTE_HIDDEN) != 0;
}

// By wide names as given, for names that no QString path would keep.
bool MakeWide(const std::wstring &path, bool folder = false)
{
    if (folder)
        return CreateDirectoryW(path.c_str(), nullptr) != 0;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE && CloseHandle(file);
}

bool ExistsWide(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Everyone may do anything with the folder but, when `deny`, list it: a
// deny entry comes first and wins. Not inherited, so what is inside stays
// as it was.
bool DenyListing(const QString &path, bool deny)
{
    const wchar_t *rules = deny ? L"D:P(D;;0x1;;;WD)(A;OICI;FA;;;WD)" : L"D:P(A;OICI;FA;;;WD)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(rules, SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return false;
    const bool ok =
        SetFileSecurityW(WideOf(path).c_str(), DACL_SECURITY_INFORMATION, descriptor) != 0;
    LocalFree(descriptor);
    return ok;
}

// Whether the system itself lists the folder.
bool Listable(const QString &path)
{
    WIN32_FIND_DATAW data;
    const HANDLE search = FindFirstFileW((WideOf(path) + L"\\*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    FindClose(search);
    return true;
}
#else
bool MakeRaw(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_EXCL, 0644);
    return fd >= 0 && ::close(fd) == 0;
}

bool ExistsRaw(const QByteArray &path)
{
    struct stat info;
    return ::lstat(path.constData(), &info) == 0;
}

#endif

// A tree held in memory: folders by native path (ending in "/"), each with
// its entries. Enough of a file system for a pass; it never touches the disk.
// A link leads to a folder of the tree, to one outside it (an empty
// target), or to one whose final path can't be told ("?").
class MemoryFileSystem final : public PassFileSystem
{
public:
    struct Node
    {
        DirEntryKind kind;
        EntryIdentity identity;
        std::string target; // a link's: a folder path ending in "/", "" or "?"
    };

    void AddFolder(const std::string &path)
    {
        folders_[path].clear();
        ids_[path] = Next();
    }
    void AddFile(const std::string &folder, const std::string &name)
    {
        folders_[folder][name] = Node{DirEntryKind::File, Next(), {}};
    }
    void AddSubfolder(const std::string &folder, const std::string &name)
    {
        AddFolder(folder + name + "/");
        folders_[folder][name] = Node{DirEntryKind::Folder, ids_[folder + name + "/"], {}};
    }
    void AddLink(const std::string &folder, const std::string &name, const std::string &target)
    {
        folders_[folder][name] = Node{DirEntryKind::Link, Next(), target};
    }

    bool Identify(const std::string &path, EntryIdentity &identity) override
    {
        const std::string folder = Resolved(path);
        if (folder.empty()) {
            identity = kOutside;
            return true;
        }
        const auto found = ids_.find(folder);
        if (found == ids_.end())
            return false;
        identity = found->second;
        return true;
    }
    bool ListFolder(const std::string &path, EntryIdentity &identity, DirListing &listing) override
    {
        listing.Clear();
        if (!Identify(path, identity))
            return false;
        const std::string folder = Resolved(path);
        if (folder.empty()) {
            listing.Add("outside.txt", 11, DirEntryKind::File, LinkTargetKind::None, false);
            ++outsideListed;
            return true;
        }
        listing.unreadable = unreadable.count(folder) != 0;
        if (listing.unreadable)
            return true;
        for (const auto &entry : folders_[folder])
            listing.Add(entry.first.data(), entry.first.size(), entry.second.kind,
                        entry.second.kind == DirEntryKind::Link ? LinkTargetKind::Folder
                                                                : LinkTargetKind::None,
                        entry.first[0] == '.');
        return true;
    }
    bool ListFolderBelow(const std::string &base, const EntryIdentity &baseIdentity,
                         const std::string &below, EntryIdentity &identity,
                         DirListing &listing) override
    {
        listing.Clear();
        EntryIdentity found;
        std::string folder = base;
        listing.unreadable = true;
        if (!Identify(folder, found) || !(found == baseIdentity) || Resolved(folder) != folder)
            return false;
        for (std::size_t at = 0; at < below.size();) {
            std::size_t end = below.find('/', at);
            if (end == std::string::npos)
                end = below.size();
            const auto entry = folders_[folder].find(below.substr(at, end - at));
            if (entry == folders_[folder].end() || entry->second.kind != DirEntryKind::Folder)
                return false;
            folder += entry->first + "/";
            at = end + 1;
        }
        return ListFolder(folder, identity, listing);
    }
    RenameResult RenameIn(const std::string &folder, const EntryIdentity &identity,
                          const char *name, const char *newName) override
    {
        RenameResult result;
        EntryIdentity found;
        if (!Identify(folder, found) || !(found == identity)) {
            result.outcome = RenameOutcome::FolderMoved;
            return result;
        }
        auto &entries = folders_[folder];
        const auto from = entries.find(name);
        if (from == entries.end() || entries.count(newName)) {
            result.outcome =
                from == entries.end() ? RenameOutcome::Vanished : RenameOutcome::TargetExists;
            return result;
        }
        const Node node = from->second;
        entries.erase(from);
        entries[newName] = node;
        renames.push_back(folder + name + " -> " + newName);
        return result;
    }
    bool IdentifyIn(const std::string &, const EntryIdentity &, const char *,
                    EntryIdentity &) override
    {
        return false;
    }
    TextFileStatus CreateNewFile(const std::string &folder, const std::string &name,
                                 const std::vector<std::string> &) override
    {
        TextFileStatus status;
        auto &entries = folders_[folder];
        if (entries.count(name))
            return status;
        entries[name] = Node{DirEntryKind::File, Next(), {}};
        status.result = TextFileResult::Written;
        return status;
    }
    bool RemoveReport(const std::string &folder, const std::string &name) override
    {
        const auto found = folders_.find(folder);
        if (found == folders_.end() || !found->second.count(name)
            || found->second[name].kind != DirEntryKind::File)
            return false;
        found->second.erase(name);
        return true;
    }
    bool FinalPath(const std::string &path, std::string &final) override
    {
        ++finalPathsAsked;
        final = Resolved(path);
        if (final == "?")
            return false;
        if (final.empty())
            final = "/elsewhere";
        else if (final.size() > 1)
            final.pop_back(); // as the disk gives it: no trailing "/"
        return true;
    }

    std::vector<std::string> renames;
    std::set<std::string> unreadable; // folders whose listings say so
    int finalPathsAsked = 0;
    int outsideListed = 0;

private:
    static EntryIdentity Numbered(std::uint64_t volume, std::uint64_t index)
    {
        EntryIdentity identity;
        identity.volume = volume;
        identity.index = index;
        return identity;
    }
    const EntryIdentity kOutside = Numbered(2, 1);
    EntryIdentity Next() { return Numbered(1, ++count_); }
    // The folder (a path ending in "/") that `path` leads to: where a link
    // leads when its last name is one.
    std::string Resolved(const std::string &path)
    {
        const std::string folder = path.back() == '/' ? path : path + "/";
        const std::size_t at = folder.rfind('/', folder.size() - 2) + 1;
        const auto holder = folders_.find(folder.substr(0, at));
        if (holder != folders_.end()) {
            const auto entry = holder->second.find(folder.substr(at, folder.size() - 1 - at));
            if (entry != holder->second.end() && entry->second.kind == DirEntryKind::Link)
                return entry->second.target;
        }
        return folder;
    }
    std::map<std::string, std::map<std::string, Node>> folders_;
    std::map<std::string, EntryIdentity> ids_;
    std::uint64_t count_ = 0;
};

} // namespace

class DirScanTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void readsKindsWithoutAskingPerEntry();
    void missingUnreadableAndNoFolder();
    void renameInFolderNeverReplaces_data();
    void renameInFolderNeverReplaces();
    void renameRefusesNamesThatAreNoNames();
#ifdef _WIN32
    void folderSwappedForAnotherIsNotRenamedIn();
    void finalPathsTakeDotsAsTheSystemDoes();
#else
    // Symbolic links: on Windows QFile::link makes shortcuts instead.
    void folderSwappedForLinkIsNotRenamedIn();
    void finalPathsFollowLinksAsTheSystemDoes();
#endif
    void unreadableNamesLeftAloneBesideLookalikes();
    void unreadableFoldersFlaggedAndCounted();
    void passRunsOnAnyFileSystem();
    void passCountsWhatItCouldNotReach();

private:
#ifdef _WIN32
    std::wstring Wide(const QString &relative) const { return WideOf(root_ + "/" + relative); }
#else
    QByteArray Raw(const QString &relative) const { return QFile::encodeName(root_ + "/" + relative); }
#endif

    QScopedPointer<QTemporaryDir> dir_;
    QString root_;
};

void DirScanTest::initTestCase()
{
}

void DirScanTest::init()
{
    dir_.reset(new QTemporaryDir);
    QVERIFY(dir_->isValid());
    root_ = dir_->path();
}

void DirScanTest::cleanup()
{
#ifndef _WIN32
    testtree::RemoveTree(QFile::encodeName(root_));
#endif
}

void DirScanTest::readsKindsWithoutAskingPerEntry()
{
#ifdef _WIN32
    // What the folder's listing says: the hidden attribute, which a leading
    // dot does not give of itself (Wine gives it); a shortcut, which
    // QFile::link makes, is a link to a file by its ending alone, whatever
    // it holds.
    QVERIFY(MakeFile(root_, "file.txt"));
    QVERIFY(MakeFile(root_, "hidden"));
    QVERIFY(MakeFile(root_, ".dotted"));
    QVERIFY(MakeFolder(root_, "folder"));
    QVERIFY(MakeFolder(root_, "hiddenFolder"));
    QVERIFY(MakeHidden(root_ + "/hidden"));
    QVERIFY(MakeHidden(root_ + "/hiddenFolder"));
    QVERIFY(MakeLink(root_ + "/folder", root_, "toFolder.lnk"));
    QVERIFY(MakeFile(root_, "noShortcut.LNK"));
    QVERIFY(MakeFile(root_, QStringLiteral("照片.jpg")));
#else
    QVERIFY(MakeFile(root_, "file.txt"));
    QVERIFY(MakeFile(root_, ".hidden"));
    QVERIFY(MakeFolder(root_, "folder"));
    QVERIFY(MakeFolder(root_, ".hiddenFolder"));
    QVERIFY(MakeLink(root_ + "/file.txt", root_, "toFile"));
    QVERIFY(MakeLink(root_ + "/folder", root_, "toFolder"));
    QVERIFY(MakeLink(root_ + "/missing", root_, "dangling"));
    QVERIFY(::mkfifo(Raw("fifo").constData(), 0644) == 0);
    QVERIFY(MakeLink(root_ + "/fifo", root_, "toFifo"));
    QVERIFY(MakeFile(root_, QStringLiteral("照片.jpg")));
#endif

    DirListing listing;
    EntryIdentity identity;
    QVERIFY(ReadFolder(Native(root_), identity, listing));
    std::map<std::string, std::string> seen;
    for (const DirListing::Entry &entry : listing.entries) {
        const char *kinds[] = {"file", "folder", "link", "other"};
        const char *targets[] = {"", ">missing", ">file", ">folder", ">other"};
        seen[listing.Name(entry)] = std::string(kinds[int(entry.kind)]) + targets[int(entry.target)]
            + (entry.hidden ? " hidden" : "");
        QCOMPARE(int(std::strlen(listing.Name(entry))), int(entry.nameSize));
    }
#ifdef _WIN32
    const bool dotHidden =
        GetFileAttributesW(Wide(".dotted").c_str()) & FILE_ATTRIBUTE_HIDDEN;
    const std::map<std::string, std::string> expected{
        {"file.txt", "file"}, {"hidden", "file hidden"}, {".dotted", dotHidden ? "file hidden" : "file"},
        {"folder", "folder"},
        {"hiddenFolder", "folder hidden"}, {"toFolder.lnk", "link>file"},
        {"noShortcut.LNK", "link>file"}, {Native(QStringLiteral("照片.jpg")), "file"}};
#else
    const std::map<std::string, std::string> expected{
        {"file.txt", "file"}, {".hidden", "file hidden"}, {"folder", "folder"},
        {".hiddenFolder", "folder hidden"}, {"toFile", "link>file"}, {"toFolder", "link>folder"},
        {"dangling", "link>missing"}, {"fifo", "other"}, {"toFifo", "link>other"},
        {Native(QStringLiteral("照片.jpg")), "file"}};
#endif
    QCOMPARE(seen, expected);

    EntryIdentity viaFolder, viaLink, other;
    QVERIFY(IdentifyEntry(Native(root_ + "/folder"), viaFolder));
#ifdef _WIN32
    // Either separator, and one at the end, lead to the same folder.
    QVERIFY(IdentifyEntry(Native(QDir::toNativeSeparators(root_ + "/folder/")), viaLink));
#else
    // A link and its folder are one folder.
    QVERIFY(IdentifyEntry(Native(root_ + "/toFolder/"), viaLink));
#endif
    QVERIFY(IdentifyEntry(Native(root_ + "/file.txt"), other));
    QVERIFY(viaFolder == viaLink);
    QVERIFY(!(viaFolder == other));
}

void DirScanTest::missingUnreadableAndNoFolder()
{
    QVERIFY(MakeFile(root_, "file.txt"));
    DirListing listing;
    listing.Add("stale", 5, DirEntryKind::File, LinkTargetKind::None, false);
    EntryIdentity identity;
    QVERIFY(!ReadFolder(Native(root_ + "/missing"), identity, listing));
    QVERIFY(listing.entries.empty());
    // An entry that is there but is no folder: known, with nothing listed.
    QVERIFY(ReadFolder(Native(root_ + "/file.txt"), identity, listing));
    QVERIFY(listing.entries.empty());
    QVERIFY(!ReadFolder(std::string(), identity, listing));
    QVERIFY(!ReadFolder(std::string("a\0b", 3), identity, listing));
}

void DirScanTest::renameInFolderNeverReplaces_data()
{
    QTest::addColumn<QString>("blocker");
    QTest::newRow("file") << "file";
    QTest::newRow("emptyFolder") << "emptyFolder";
#ifdef _WIN32
    // Names equal ignoring case are one name: another entry so named
    // blocks the rename as much as one of the very name.
    QTest::newRow("fileInOtherCase") << "fileInOtherCase";
    QTest::newRow("folderInOtherCase") << "folderInOtherCase";
#else
    QTest::newRow("danglingLink") << "danglingLink";
    QTest::newRow("linkToFile") << "linkToFile";
#endif
}

void DirScanTest::renameInFolderNeverReplaces()
{
    QFETCH(QString, blocker);
    QVERIFY(MakeFile(root_, "src", "mine"));
    QVERIFY(MakeFile(root_, "elsewhere", "far"));
    if (blocker == "file")
        QVERIFY(MakeFile(root_, "dst", "theirs"));
    else if (blocker == "emptyFolder")
        QVERIFY(MakeFolder(root_, "dst"));
#ifdef _WIN32
    else if (blocker == "fileInOtherCase")
        QVERIFY(MakeFile(root_, "DsT", "theirs"));
    else if (blocker == "folderInOtherCase")
        QVERIFY(MakeFolder(root_, "DST"));
#else
    else if (blocker == "danglingLink")
        QVERIFY(MakeLink(root_ + "/missing", root_, "dst"));
    else
        QVERIFY(MakeLink(root_ + "/elsewhere", root_, "dst"));
#endif
    const QStringList before = Tree(root_);
    OpenFolder folder;
    EntryIdentity identity;
    QVERIFY(folder.Open(Native(root_), identity));
    QVERIFY(!folder.Rename("src", "dst"));
    QCOMPARE(Tree(root_), before);
    QCOMPARE(ReadFile(root_ + "/src"), QByteArray("mine"));
    QCOMPARE(ReadFile(root_ + "/elsewhere"), QByteArray("far"));
#ifdef _WIN32
    if (blocker == "fileInOtherCase")
        QCOMPARE(ReadFile(root_ + "/DsT"), QByteArray("theirs"));
#endif
    QVERIFY(folder.Rename("src", "free"));
    QCOMPARE(ReadFile(root_ + "/free"), QByteArray("mine"));
}

void DirScanTest::renameRefusesNamesThatAreNoNames()
{
    QVERIFY(MakeFile(root_, "a"));
    QVERIFY(MakeFolder(root_, "sub"));
    OpenFolder folder;
    EntryIdentity identity;
    QVERIFY(!folder.Rename("a", "b")); // nothing open
    QVERIFY(folder.Open(Native(root_), identity));
    std::vector<const char *> bad{"", ".", "..", "sub/a", "../a"};
#ifdef _WIN32
    // "\\" separates as "/" does; a rename through it would move the entry.
    bad.insert(bad.end(), {"sub\\a", "..\\a", "\\a", "sub\\"});
    QVERIFY(MakeFile(root_, "sub/inner"));
    QVERIFY(!folder.Rename("sub\\inner", "y"));
#endif
    for (const char *name : bad)
        QVERIFY2(!folder.Rename("a", name), name);
    QVERIFY(!folder.Rename("sub/x", "y"));
    QVERIFY(!folder.Rename("missing", "b"));
#ifdef _WIN32
    QCOMPARE(Tree(root_), Sorted({"a", "sub/", "sub/inner"}));
#else
    QCOMPARE(Tree(root_), Sorted({"a", "sub/"}));
#endif
}

#ifdef _WIN32
void DirScanTest::folderSwappedForAnotherIsNotRenamedIn()
{
    QVERIFY(MakeFile(root_, "d/a.txt", "inside"));
    QVERIFY(MakeFile(root_, "other/a.txt", "other"));
    EntryIdentity scanned;
    QVERIFY(IdentifyEntry(Native(root_ + "/d"), scanned));
    // After the scan the folder is put aside and another takes its name.
    QVERIFY(QFile::rename(root_ + "/d", root_ + "/moved"));
    QVERIFY(QFile::rename(root_ + "/other", root_ + "/d"));
    DiskFileSystem disk;
    const RenameResult swapped = disk.RenameIn(Native(root_ + "/d/"), scanned, "a.txt", "b.txt");
    QVERIFY(!swapped);
    QCOMPARE(int(swapped.outcome), int(RenameOutcome::FolderMoved));
    QCOMPARE(Tree(root_ + "/d"), QStringList{"a.txt"});
    QCOMPARE(ReadFile(root_ + "/d/a.txt"), QByteArray("other"));
    QCOMPARE(ReadFile(root_ + "/moved/a.txt"), QByteArray("inside"));
    // The folder it was: still renamed in by its own path.
    QVERIFY(disk.RenameIn(Native(root_ + "/moved/"), scanned, "a.txt", "b.txt"));
    QCOMPARE(ReadFile(root_ + "/moved/b.txt"), QByteArray("inside"));
}
#else
void DirScanTest::folderSwappedForLinkIsNotRenamedIn()
{
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    QVERIFY(MakeFile(outside.path(), "a.txt", "outside"));
    QVERIFY(MakeFile(root_, "d/a.txt", "inside"));
    EntryIdentity scanned;
    QVERIFY(IdentifyEntry(Native(root_ + "/d"), scanned));
    // After the scan the folder is put aside and a link to a folder outside
    // takes its name.
    QVERIFY(QFile::rename(root_ + "/d", root_ + "/moved"));
    QVERIFY(MakeLink(outside.path(), root_, "d"));
    DiskFileSystem disk;
    QVERIFY(!disk.RenameIn(Native(root_ + "/d/"), scanned, "a.txt", "b.txt"));
    QCOMPARE(Tree(outside.path()), QStringList{"a.txt"});
    QCOMPARE(ReadFile(root_ + "/moved/a.txt"), QByteArray("inside"));
    // The folder it was: still renamed in by its own path.
    QVERIFY(disk.RenameIn(Native(root_ + "/moved/"), scanned, "a.txt", "b.txt"));
    QCOMPARE(ReadFile(root_ + "/moved/b.txt"), QByteArray("inside"));
}
#endif

#ifdef _WIN32
void DirScanTest::unreadableNamesLeftAloneBesideLookalikes()
{
    // A lone surrogate has no UTF-8 form; U+FFFD is what a lossy reading of
    // it would show. Likewise for the folders.
    if (!MakeWide(Wide("a") + L"\xD800 draft.txt"))
        QSKIP("the file system refuses names with a lone surrogate");
    QVERIFY(MakeWide(Wide("a") + L"\xFFFD draft.txt"));
    QVERIFY(MakeWide(Wide("f") + L"\xDC00 draft", true));
    QVERIFY(MakeWide(Wide("f") + L"\xDC00 draft\\inner draft"));
    QVERIFY(MakeWide(Wide("f") + L"\xFFFD draft", true));
    QVERIFY(MakeWide(Wide("f") + L"\xFFFD draft\\inner draft"));
    // A name a lone decoding would change: a leading byte order mark.
    QVERIFY(MakeWide(Wide(QString()) + L"\xFEFF" L"draft"));
    QVERIFY(MakeWide(Wide("draft")));

    JobParameters params;
    params.folderPath = root_ + "/";
    params.findText = QStringLiteral("draft");
    params.replacementText = QStringLiteral("final");
    RecordingSink sink;
    const PassOutcome out = RunJob(JobKind::Replace, params, sink);

    // Neither scanned nor shown nor renamed, nor anything below such a
    // folder; said, though, each once.
    QCOMPARE(out.filesScanned, 4);
    QCOMPARE(out.foldersScanned, 1);
    QCOMPARE(out.filesChanged, 4);
    QCOMPARE(out.foldersChanged, 1);
    QCOMPARE(out.undecodableNames, 2);
    QCOMPARE(out.unreadableFolders + out.tooLongPaths, 0);
    QVERIFY(ExistsWide(Wide("a") + L"\xD800 draft.txt"));
    QVERIFY(ExistsWide(Wide("f") + L"\xDC00 draft\\inner draft"));
    QVERIFY(ExistsWide(Wide("a") + L"\xFFFD final.txt"));
    QVERIFY(ExistsWide(Wide("f") + L"\xFFFD final\\inner final"));
    QVERIFY(ExistsWide(Wide(QString()) + L"\xFEFF" L"final"));
    QVERIFY(ExistsWide(Wide("final")));
    // Every path shown is a whole one: it survives UTF-8.
    for (const QString &path : sink.progress)
        QVERIFY2(QString::fromUtf8(path.toUtf8()) == path, qPrintable(path));
    QCOMPARE(sink.progress.size(), 5);
}
#else
void DirScanTest::unreadableNamesLeftAloneBesideLookalikes()
{
    // "\xff" is no UTF-8; "\xef\xbf\xbd" is U+FFFD, what a lossy reading of
    // the first would show. Likewise for the folders.
    QVERIFY(MakeRaw(Raw("a") + "\xff" + " draft.txt"));
    QVERIFY(MakeRaw(Raw("a") + "\xef\xbf\xbd" + " draft.txt"));
    QVERIFY(::mkdir((Raw("f") + "\xff" + " draft").constData(), 0755) == 0);
    QVERIFY(MakeRaw(Raw("f") + "\xff" + " draft/inner draft"));
    QVERIFY(::mkdir((Raw("f") + "\xef\xbf\xbd" + " draft").constData(), 0755) == 0);
    QVERIFY(MakeRaw(Raw("f") + "\xef\xbf\xbd" + " draft/inner draft"));
    // Valid UTF-8 that a lone decoding of the name would change: a leading
    // byte order mark.
    QVERIFY(MakeRaw(Raw(QString()) + "\xef\xbb\xbf" "draft"));
    QVERIFY(MakeRaw(Raw("draft")));

    JobParameters params;
    params.folderPath = root_ + "/";
    params.findText = QStringLiteral("draft");
    params.replacementText = QStringLiteral("final");
    RecordingSink sink;
    const PassOutcome out = RunJob(JobKind::Replace, params, sink);

    // The toolkit's listing leaves the unreadable names out: neither scanned
    // nor shown nor renamed, and nothing below such a folder.
    QCOMPARE(out.filesScanned, 4);
    QCOMPARE(out.foldersScanned, 1);
    QCOMPARE(out.filesChanged, 4);
    QCOMPARE(out.foldersChanged, 1);
    // Said, though: the file and the folder, each once.
    QCOMPARE(out.undecodableNames, 2);
    QCOMPARE(out.unreadableFolders + out.tooLongPaths, 0);
    QVERIFY(ExistsRaw(Raw("a") + "\xff" + " draft.txt"));
    QVERIFY(ExistsRaw(Raw("f") + "\xff" + " draft/inner draft"));
    QVERIFY(ExistsRaw(Raw("a") + "\xef\xbf\xbd" + " final.txt"));
    QVERIFY(ExistsRaw(Raw("f") + "\xef\xbf\xbd" + " final/inner final"));
    QVERIFY(ExistsRaw(Raw(QString()) + "\xef\xbb\xbf" "final"));
    QVERIFY(ExistsRaw(Raw("final")));
    for (const QString &path : sink.progress)
        QVERIFY2(!path.contains(QChar(0xFFFD)) || QFile::encodeName(path).contains("\xef\xbf\xbd"),
                 qPrintable(path));
    QCOMPARE(sink.progress.size(), 5);
}
#endif

void DirScanTest::passRunsOnAnyFileSystem()
{
    const std::string root = Native(root_) + "/";
    MemoryFileSystem memory;
    memory.AddFolder(root);
    memory.AddFile(root, "a draft.txt");
    memory.AddFile(root, "b.txt");
    memory.AddFile(root, ".draft");
    memory.AddSubfolder(root, "sub");
    memory.AddFile(root + "sub/", "c draft.txt");
    memory.AddSubfolder(root, "draft dir");
    memory.AddSubfolder(root, ".draft hidden");

    JobParameters params;
    params.folderPath = root_ + "/";
    params.findText = QStringLiteral("draft");
    params.replacementText = QStringLiteral("final");
    RecordingSink sink;
    const PassOutcome out = RunPass(params, sink, memory);

    const std::vector<std::string> expected{root + ".draft -> .final",
                                            root + "a draft.txt -> a final.txt",
                                            root + "sub/c draft.txt -> c final.txt",
                                            root + "draft dir -> final dir"};
    QCOMPARE(memory.renames, expected);
    QCOMPARE(out.filesScanned, 4);
    QCOMPARE(out.foldersScanned, 2);
    QCOMPARE(sink.progress, QStringList({Shown(root_ + "/.draft"), Shown(root_ + "/a draft.txt"),
                                         Shown(root_ + "/sub/c draft.txt"),
                                         Shown(root_ + "/draft dir")}));
    // The report too went to the tree in memory: nothing reached the disk.
    QVERIFY(out.reportWritten);
    QVERIFY(Tree(root_).isEmpty());
    DirListing listing;
    EntryIdentity identity;
    QVERIFY(memory.ListFolder(root, identity, listing));
    QVERIFY(std::any_of(listing.entries.begin(), listing.entries.end(), [&](const auto &entry) {
        return QString::fromUtf8(listing.Name(entry), int(entry.nameSize)) == RenameReportFileName();
    }));
}

#ifdef _WIN32
void DirScanTest::unreadableFoldersFlaggedAndCounted()
{
    QVERIFY(MakeFile(root_, "locked/a draft.txt"));
    QVERIFY(MakeFile(root_, "open/b draft.txt"));
    QVERIFY(MakeFile(root_, "file draft.txt"));
    DirListing listing;
    EntryIdentity identity;
    QVERIFY(ReadFolder(Native(root_ + "/open"), identity, listing));
    QVERIFY(!listing.unreadable);
    // No folder is nothing to read, not a folder that can't be read.
    QVERIFY(ReadFolder(Native(root_ + "/file draft.txt"), identity, listing));
    QVERIFY(listing.entries.empty());
    QVERIFY(!listing.unreadable);

    QVERIFY(DenyListing(root_ + "/locked", true));
    if (Listable(root_ + "/locked")) {
        QVERIFY(DenyListing(root_ + "/locked", false));
        QSKIP("a deny entry in a folder's ACL is kept but not enforced here (Wine)");
    }
    const bool lockedRead = ReadFolder(Native(root_ + "/locked"), identity, listing);
    const bool lockedFlagged = listing.unreadable;

    JobParameters params;
    params.folderPath = root_ + "/";
    params.findText = QStringLiteral("draft");
    params.replacementText = QStringLiteral("final");
    params.writeReport = false;
    RecordingSink sink;
    const PassOutcome out = RunJob(JobKind::Replace, params, sink);
    // The chosen folder itself can't be read: nothing is scanned, and that
    // is said too.
    QVERIFY(DenyListing(root_, true));
    const PassOutcome blind = RunJob(JobKind::Replace, params, sink);
    QVERIFY(DenyListing(root_, false));
    QVERIFY(DenyListing(root_ + "/locked", false));

    QVERIFY(lockedRead);
    QVERIFY(lockedFlagged);
    QCOMPARE(out.filesChanged, 2);
    QCOMPARE(out.foldersScanned, 2); // "locked" is listed, only not entered
    QCOMPARE(out.unreadableFolders, 1);
    QCOMPARE(blind.filesScanned + blind.foldersScanned, 0);
    QCOMPARE(blind.unreadableFolders, 1);
    QVERIFY(ExistsWide(Wide("locked/a draft.txt")));
}

void DirScanTest::finalPathsTakeDotsAsTheSystemDoes()
{
    QVERIFY(MakeFolder(root_, "in/x"));
    std::string in, x, final;
    QVERIFY(FinalPathOf(Native(root_ + "/in"), in));
    QVERIFY(FinalPathOf(Native(root_ + "/in/x"), x));
    QCOMPARE(x, in + "/x");
    // "/" between names, whichever separators the path came with; and the
    // folder the toolkit names canonically, a "\\?\" the system puts first
    // aside.
    QVERIFY2(in.find('\\') == std::string::npos, in.c_str());
    QString plain = QString::fromStdString(in);
    if (plain.startsWith(QLatin1String("//?/")))
        plain.remove(0, 4);
    QCOMPARE(plain.toLower(), QFileInfo(root_ + "/in").canonicalFilePath().toLower());
    for (const QString &path : {root_ + "/in/x/..", root_ + "/in/./x/../", root_ + "/in/x/../x/.."}) {
        QVERIFY2(FinalPathOf(Native(path), final), qPrintable(path));
        QCOMPARE(final, in);
        QVERIFY2(FinalPathOf(Native(QDir::toNativeSeparators(path)), final), qPrintable(path));
        QCOMPARE(final, in);
    }
    QVERIFY(!FinalPathOf(Native(root_ + "/missing"), final));
    QVERIFY(!FinalPathOf(std::string(), final));
    // Relative paths from the current folder, as the scan may be handed them.
    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(root_));
    const bool relative = FinalPathOf("in/x/..", final);
    QVERIFY(QDir::setCurrent(saved));
    QVERIFY(relative);
    QCOMPARE(final, in);

    // The disk's answer through the pass's interface is the same.
    DiskFileSystem disk;
    QVERIFY(disk.FinalPath(Native(root_ + "/in/x/.."), final));
    QCOMPARE(final, in);

    // Every path goes to the system as an extended-length path ("\\?\" and
    // the path), listed with a "*" and the terminating NUL: anything up to
    // the system's longest path fits, MAX_PATH is no bound.
    QVERIFY(FolderPathFits("C:/" + std::string(32758, 'd')));
    QVERIFY(!FolderPathFits("C:/" + std::string(32759, 'd')));
    QVERIFY(FolderPathFits(QString(QStringLiteral("C:/") + QString(32758, QChar(0x76EE))).toStdString()));
    QVERIFY(FolderPathFits("\\\\?\\C:\\" + std::string(32758, 'd')));
    QVERIFY(!FolderPathFits("\\\\?\\C:\\" + std::string(32759, 'd')));
}
#else
void DirScanTest::unreadableFoldersFlaggedAndCounted()
{
    QVERIFY(MakeFile(root_, "locked/a draft.txt"));
    QVERIFY(MakeFolder(root_, "locked/in"));
    // Where it leads can't be told: not a dangling link, a folder not read.
    QVERIFY(MakeLink("locked/in", root_, "toLocked"));
    QVERIFY(MakeLink("missing", root_, "dangling"));
    QVERIFY(MakeFile(root_, "open/b draft.txt"));
    QVERIFY(MakeFile(root_, "file draft.txt"));
    QVERIFY(::mkfifo(Raw("fifo").constData(), 0644) == 0);
    QVERIFY(::chmod(Raw("locked").constData(), 0) == 0);
    if (!testtree::DropReadOverride(true))
        QSKIP("running as root and the read-override capabilities can't be dropped");
    DirListing listing;
    EntryIdentity identity;
    const bool lockedRead = ReadFolder(Native(root_ + "/locked"), identity, listing);
    const bool lockedFlagged = listing.unreadable;
    QVERIFY(ReadFolder(Native(root_ + "/open"), identity, listing));
    const bool openFlagged = listing.unreadable;
    // No folder is nothing to read, not a folder that can't be read.
    QVERIFY(ReadFolder(Native(root_ + "/file draft.txt"), identity, listing));
    const bool fileFlagged = listing.unreadable;
    QVERIFY(ReadFolder(Native(root_ + "/fifo"), identity, listing));
    const bool fifoFlagged = listing.unreadable;

    JobParameters params;
    params.folderPath = root_ + "/";
    params.findText = QStringLiteral("draft");
    params.replacementText = QStringLiteral("final");
    params.writeReport = false;
    RecordingSink sink;
    const PassOutcome out = RunJob(JobKind::Replace, params, sink);
    // The chosen folder itself can't be read: nothing is scanned, and that
    // is said too.
    QVERIFY(::chmod(QFile::encodeName(root_).constData(), 0) == 0);
    const PassOutcome blind = RunJob(JobKind::Replace, params, sink);
    QVERIFY(::chmod(QFile::encodeName(root_).constData(), 0755) == 0);
    QVERIFY(testtree::DropReadOverride(false));
    QVERIFY(::chmod(Raw("locked").constData(), 0755) == 0);

    QVERIFY(lockedRead);
    QVERIFY(lockedFlagged);
    QVERIFY(!openFlagged && !fileFlagged && !fifoFlagged);
    QCOMPARE(out.filesChanged, 2);
    QCOMPARE(out.foldersScanned, 2); // "locked" is listed, only not entered
    QCOMPARE(out.unreadableFolders, 2); // "locked", and the link into it
    QCOMPARE(blind.filesScanned + blind.foldersScanned, 0);
    QCOMPARE(blind.unreadableFolders, 1);
    QVERIFY(ExistsRaw(Raw("locked/a draft.txt")));
}

void DirScanTest::finalPathsFollowLinksAsTheSystemDoes()
{
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    const QString far = QFileInfo(outside.path()).canonicalFilePath();
    const QString here = QFileInfo(root_).canonicalFilePath();
    QVERIFY(MakeFolder(far, "deep"));
    QVERIFY(MakeFolder(here, "in/x"));
    QVERIFY(MakeLink(far + "/deep", root_, "toFar"));
    QVERIFY(MakeLink("toFar/..", root_, "esc"));     // up from where toFar leads
    QVERIFY(MakeLink("in/x/../..", root_, "self"));
    QVERIFY(MakeLink("esc", root_, "chain"));
    QVERIFY(MakeLink("missing", root_, "dangling"));

    std::string final;
    QVERIFY(FinalPathOf(Native(root_ + "/esc"), final));
    QCOMPARE(QString::fromStdString(final), far);
    QVERIFY(FinalPathOf(Native(root_ + "/chain/deep/"), final));
    QCOMPARE(QString::fromStdString(final), far + "/deep");
    QVERIFY(FinalPathOf(Native(root_ + "/self"), final));
    QCOMPARE(QString::fromStdString(final), here);
    QVERIFY(!FinalPathOf(Native(root_ + "/dangling"), final));
    QVERIFY(!FinalPathOf(std::string(), final));
    // Relative paths from the current folder, as the scan may be handed them.
    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(root_));
    const bool relative = FinalPathOf("in/x/..", final);
    QVERIFY(QDir::setCurrent(saved));
    QVERIFY(relative);
    QCOMPARE(QString::fromStdString(final), here + "/in");

    // The disk's answer through the pass's interface is the same.
    DiskFileSystem disk;
    QVERIFY(disk.FinalPath(Native(root_ + "/esc"), final));
    QCOMPARE(QString::fromStdString(final), far);

    // A folder is opened by its path with the terminating NUL: 4,095 bytes fit.
    QVERIFY(FolderPathFits("/" + std::string(4094, 'd')));
    QVERIFY(!FolderPathFits("/" + std::string(4095, 'd')));
}
#endif

void DirScanTest::passCountsWhatItCouldNotReach()
{
    const std::string root = Native(root_) + "/";
    MemoryFileSystem memory;
    memory.AddFolder(root);
    memory.AddFile(root, "a draft.txt");
    memory.AddFile(root, "bad\xff draft.txt");
    memory.AddSubfolder(root, "locked");
    memory.AddFile(root + "locked/", "unseen draft.txt");
    memory.unreadable.insert(root + "locked/");
    memory.AddSubfolder(root, "sub");
    memory.AddFile(root + "sub/", "b draft.txt");
    memory.AddLink(root, "out", "");          // a folder outside
    memory.AddLink(root, "unknown", "?");     // where it leads can't be told
    memory.AddLink(root, "zin", root + "sub/"); // met after sub itself
    // A chain of long names past the longest path a folder is opened by.
    std::string deep = root;
    const std::string name(255, 'L');
#ifdef _WIN32
    const std::size_t longest = 32767; // every path goes extended-length
#else
    const std::size_t longest = 4096;
#endif
    while (deep.size() < longest + 600) {
        memory.AddSubfolder(deep, name);
        deep += name + "/";
    }
    memory.AddFile(deep, "deep draft.txt");

    JobParameters params;
    params.kind = JobKind::Pairs;
    params.folderPath = root_ + "/";
    params.findList = QStringList({"draft", "final"});
    params.replacementList = QStringList({"final", "done"});
    params.writeReport = false;
    RecordingSink sink;
    const PassOutcome out = RunPass(params, sink, memory);

    // Four scans met each gap: each is counted once.
    QCOMPARE(out.unreadableFolders, 2); // "locked" and "unknown"
    QCOMPARE(out.undecodableNames, 1);
    QCOMPARE(out.tooLongPaths, 1);
    // Nothing outside was read, and only links were asked where they lead:
    // the chosen folder once for the job, then three links in each of four
    // scans.
    QCOMPARE(memory.outsideListed, 0);
    QCOMPARE(memory.finalPathsAsked, 1 + 4 * 3);
    QStringList renames;
    for (const std::string &rename : memory.renames)
        renames << QString::fromStdString(rename).mid(int(root.size()));
    QCOMPARE(renames, QStringList({"a draft.txt -> a final.txt", "sub/b draft.txt -> b final.txt",
                                   "a final.txt -> a done.txt", "sub/b final.txt -> b done.txt"}));
}

QTEST_GUILESS_MAIN(DirScanTest)
#include "tst_dirscan.moc"
