// The raw folder reader and renamer under the passes, names the locale's
// encoding can't read, the sink's rename seam, and a pass run against a
// file system that is not the disk.

#include "tests/support/enginetestsupport.h"

#include "engine/folderscan.h"
#include "engine/passfilesystem.h"
#include "engine/renamepass.h"
#include "platform/dirscan.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>

using namespace enginetest;

namespace {

std::string Native(const QString &path)
{
    return EncodeNativePath(path);
}

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

// By bytes: QDir would not see the names it can't read.
void RemoveRaw(const QString &path)
{
    ::nftw(QFile::encodeName(path).constData(),
           [](const char *entry, const struct stat *, int type, FTW *) {
               return type == FTW_DP ? ::rmdir(entry) : ::unlink(entry);
           },
           16, FTW_DEPTH | FTW_PHYS);
}

// A tree held in memory: folders by native path (ending in "/"), each with
// its entries. Enough of a file system for a pass; it never touches the disk.
class MemoryFileSystem final : public PassFileSystem
{
public:
    struct Node
    {
        DirEntryKind kind;
        EntryIdentity identity;
    };

    void AddFolder(const std::string &path)
    {
        folders_[path].clear();
        ids_[path] = Next();
    }
    void AddFile(const std::string &folder, const std::string &name)
    {
        folders_[folder][name] = Node{DirEntryKind::File, Next()};
    }
    void AddSubfolder(const std::string &folder, const std::string &name)
    {
        AddFolder(folder + name + "/");
        folders_[folder][name] = Node{DirEntryKind::Folder, ids_[folder + name + "/"]};
    }

    bool Identify(const std::string &path, EntryIdentity &identity) override
    {
        const std::string folder = path.back() == '/' ? path : path + "/";
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
        for (const auto &entry : folders_[path.back() == '/' ? path : path + "/"])
            listing.Add(entry.first.data(), entry.first.size(), entry.second.kind,
                        LinkTargetKind::None, entry.first[0] == '.');
        return true;
    }
    bool RenameIn(const std::string &folder, const EntryIdentity &identity, const char *name,
                  const char *newName) override
    {
        EntryIdentity found;
        if (!Identify(folder, found) || !(found == identity))
            return false;
        auto &entries = folders_[folder];
        const auto from = entries.find(name);
        if (from == entries.end() || entries.count(newName))
            return false;
        const Node node = from->second;
        entries.erase(from);
        entries[newName] = node;
        renames.push_back(folder + name + " -> " + newName);
        return true;
    }

    std::vector<std::string> renames;

private:
    EntryIdentity Next() { return EntryIdentity{1, ++count_}; }
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
    void folderSwappedForLinkIsNotRenamedIn();
    void unreadableNamesLeftAloneBesideLookalikes();
    void sinkSeamWithOtherPaths();
    void passRunsOnAnyFileSystem();

private:
    QByteArray Raw(const QString &relative) const { return QFile::encodeName(root_ + "/" + relative); }

    QScopedPointer<QTemporaryDir> dir_;
    QString root_;
    ViewerRecorder viewer_;
};

void DirScanTest::initTestCase()
{
    viewer_.Install();
}

void DirScanTest::init()
{
    dir_.reset(new QTemporaryDir);
    QVERIFY(dir_->isValid());
    root_ = dir_->path();
    viewer_.Clear();
}

void DirScanTest::cleanup()
{
    RemoveRaw(root_);
}

void DirScanTest::readsKindsWithoutAskingPerEntry()
{
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
    const std::map<std::string, std::string> expected{
        {"file.txt", "file"}, {".hidden", "file hidden"}, {"folder", "folder"},
        {".hiddenFolder", "folder hidden"}, {"toFile", "link>file"}, {"toFolder", "link>folder"},
        {"dangling", "link>missing"}, {"fifo", "other"}, {"toFifo", "link>other"},
        {Native(QStringLiteral("照片.jpg")), "file"}};
    QCOMPARE(seen, expected);

    // A link and its folder are one folder.
    EntryIdentity viaFolder, viaLink, other;
    QVERIFY(IdentifyEntry(Native(root_ + "/folder"), viaFolder));
    QVERIFY(IdentifyEntry(Native(root_ + "/toFolder/"), viaLink));
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
    QTest::newRow("danglingLink") << "danglingLink";
    QTest::newRow("linkToFile") << "linkToFile";
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
    else if (blocker == "danglingLink")
        QVERIFY(MakeLink(root_ + "/missing", root_, "dst"));
    else
        QVERIFY(MakeLink(root_ + "/elsewhere", root_, "dst"));
    const QStringList before = Tree(root_);
    OpenFolder folder;
    EntryIdentity identity;
    QVERIFY(folder.Open(Native(root_), identity));
    QVERIFY(!folder.Rename("src", "dst"));
    QCOMPARE(Tree(root_), before);
    QCOMPARE(ReadFile(root_ + "/src"), QByteArray("mine"));
    QCOMPARE(ReadFile(root_ + "/elsewhere"), QByteArray("far"));
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
    for (const char *bad : {"", ".", "..", "sub/a", "../a"})
        QVERIFY2(!folder.Rename("a", bad), bad);
    QVERIFY(!folder.Rename("sub/x", "y"));
    QVERIFY(!folder.Rename("missing", "b"));
    QCOMPARE(Tree(root_), Sorted({"a", "sub/"}));
}

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
    const PassOutcome out = RunReplacePass(params, sink);

    // The toolkit's listing leaves the unreadable names out: neither scanned
    // nor shown nor renamed, and nothing below such a folder.
    QCOMPARE(out.filesScanned, 4);
    QCOMPARE(out.foldersScanned, 1);
    QCOMPARE(out.filesChanged, 4);
    QCOMPARE(out.foldersChanged, 1);
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

void DirScanTest::sinkSeamWithOtherPaths()
{
    QVERIFY(MakeFile(root_, "a.txt", "a"));
    QVERIFY(MakeFile(root_, "sub/b.txt", "b"));
    // Outside a pass the default rename works on the disk, within a folder.
    RecordingSink sink;
    QVERIFY(sink.PassSink::Rename(root_ + "/a.txt", root_ + "/c.txt"));
    QVERIFY(!sink.PassSink::Rename(root_ + "/c.txt", root_ + "/sub/c.txt"));
    QVERIFY(!sink.PassSink::Rename(root_ + "/sub/b.txt", root_ + "/e.txt"));
    QVERIFY(!sink.PassSink::Rename(root_ + "/c.txt", root_ + "/c" + QChar(0) + "d"));
    QVERIFY(!sink.PassSink::Rename(root_ + "/c.txt", root_ + "/"));

    // Inside a pass a sink may hand other paths of the same folder.
    class Redirecting final : public PassSink
    {
    public:
        void EntryStarting(const QString &) override {}
        void PassEnded(const QString &) override {}
        bool Rename(const QString &oldPath, const QString &targetPath) override
        {
            return PassSink::Rename(oldPath, targetPath + QStringLiteral(".x"));
        }
    } redirecting;
    JobParameters params;
    params.folderPath = root_ + "/";
    params.findText = QStringLiteral("b");
    params.replacementText = QStringLiteral("d");
    params.onlyFiles = true;
    const PassOutcome out = RunReplacePass(params, redirecting);
    QCOMPARE(out.filesChanged, 1);
    QCOMPARE(Tree(root_), Sorted({"c.txt", "sub/", "sub/d.txt.x", RenameReportFileName()}));
}

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
    const PassOutcome out = RunReplacePassOn(params, sink, memory);

    const std::vector<std::string> expected{root + ".draft -> .final",
                                            root + "a draft.txt -> a final.txt",
                                            root + "sub/c draft.txt -> c final.txt",
                                            root + "draft dir -> final dir"};
    QCOMPARE(memory.renames, expected);
    QCOMPARE(out.filesScanned, 4);
    QCOMPARE(out.foldersScanned, 2);
    QCOMPARE(sink.progress, QStringList({root_ + "/.draft", root_ + "/a draft.txt",
                                         root_ + "/sub/c draft.txt", root_ + "/draft dir"}));
    // Only the report reached the disk.
    QCOMPARE(Tree(root_), QStringList{RenameReportFileName()});
}

QTEST_GUILESS_MAIN(DirScanTest)
#include "tst_dirscan.moc"
