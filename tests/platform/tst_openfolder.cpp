// Folders as the system gives them: their listings, the open folder's
// renames that never replace, and the final paths links and dots lead to.

#include "tests/support/enginetestsupport.h"

#include "engine/passfilesystem.h"
#include "platform/folderlisting.h"
#include "platform/nativepath.h"
#include "platform/openfolder.h"
#include "platform/entryidentity.h"

#include <QTemporaryDir>
#include <QtTest>

#ifdef _WIN32
#include <windows.h>
#else
#include "tests/support/treesnapshot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

using namespace enginetest;

namespace {

#ifdef _WIN32

bool MakeHidden(const QString &path)
{
    return SetFileAttributesW(WideOf(path).c_str(), FILE_ATTRIBUTE_HIDDEN) != 0;
}

#else

#endif

} // namespace

class OpenFolderTest : public QObject
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
    void finalPathsTakeDotsAsTheSystemDoes();
#else
    void finalPathsFollowLinksAsTheSystemDoes();
#endif

private:
#ifdef _WIN32
    std::wstring Wide(const QString &relative) const { return WideOf(root_ + "/" + relative); }
#else
    QByteArray Raw(const QString &relative) const { return QFile::encodeName(root_ + "/" + relative); }
#endif

    QScopedPointer<QTemporaryDir> dir_;
    QString root_;
};

void OpenFolderTest::initTestCase()
{
}

void OpenFolderTest::init()
{
    dir_.reset(new QTemporaryDir);
    QVERIFY(dir_->isValid());
    root_ = dir_->path();
}

void OpenFolderTest::cleanup()
{
#ifndef _WIN32
    testtree::RemoveTree(QFile::encodeName(root_));
#endif
}

void OpenFolderTest::readsKindsWithoutAskingPerEntry()
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

void OpenFolderTest::missingUnreadableAndNoFolder()
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

void OpenFolderTest::renameInFolderNeverReplaces_data()
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

void OpenFolderTest::renameInFolderNeverReplaces()
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

void OpenFolderTest::renameRefusesNamesThatAreNoNames()
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

void OpenFolderTest::finalPathsTakeDotsAsTheSystemDoes()
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

void OpenFolderTest::finalPathsFollowLinksAsTheSystemDoes()
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

QTEST_GUILESS_MAIN(OpenFolderTest)
#include "tst_openfolder.moc"
