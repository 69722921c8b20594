#include "tests/support/enginetestsupport.h"
#include "tests/support/scriptedfilesystem.h"

#include "engine/folderscan.h"
#include "engine/renamepass.h"
#include "engine/threadobject.h"

#include <QTemporaryDir>
#include <QtTest>

#ifdef _WIN32
#include <windows.h>

#include <string>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace enginetest;

namespace {

#ifdef _WIN32

// Hidden on Windows is an attribute, not a leading dot.
bool MakeHidden(const QString &path)
{
    return SetFileAttributesW(WideOf(path).c_str(), FILE_ATTRIBUTE_HIDDEN) != 0;
}

// By its wide name as given, for names that no QString path would keep.
bool MakeWideFile(const std::wstring &path)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE && CloseHandle(file);
}
#else

// A chain of folders named `name`, `depth` deep below `root`, with a file
// in each; made relative to the one above, so it may go past the longest
// path the system opens.
bool MakeChain(const QString &root, const QByteArray &name, int depth)
{
    int at = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY);
    bool ok = at >= 0;
    for (int i = 0; ok && i < depth; ++i) {
        const int next = ::mkdirat(at, name.constData(), 0755) == 0
            ? ::openat(at, name.constData(), O_RDONLY | O_DIRECTORY)
            : -1;
        ::close(at);
        at = next;
        ok = at >= 0;
        const int file = ok ? ::openat(at, "f.txt", O_CREAT | O_WRONLY, 0644) : -1;
        ok = ok && file >= 0 && ::close(file) == 0;
    }
    if (at >= 0)
        ::close(at);
    return ok;
}

// Removes such a chain from the bottom up, relative all the way.
void RemoveChain(int at, const char *name)
{
    const int below = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (below >= 0) {
        RemoveChain(below, name);
        ::unlinkat(below, "f.txt", 0);
        ::close(below);
    }
    ::unlinkat(at, name, AT_REMOVEDIR);
}
#endif

} // namespace

class FolderScanTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void exampleTreeOrder();
    void trailingSlashMakesNoDifference();
    void hiddenFilesFoundHiddenFoldersNotEntered();
    void linksToFilesSkipped();
#ifndef _WIN32
    // Links to folders: on Windows QFile::link makes shortcuts, which the
    // scan never enters.
    void linksListedButEnteredOnlyInside();
    void eachFolderEnteredOnce();
    void linksBetweenSiblingsDoNotMultiply();
#endif
    void pathsPastTheLimitCounted();
    void undecodableNamesCounted();
#ifdef _WIN32
    void namesInOrderIgnoringCase();
#else
    // Names equal but for case are one name on Windows.
    void namesEqualButForCaseInFixedOrder();
#endif
    void emptyMissingAndEmptyPath();
    void stopQuestionEndsScanEarly();
    // The scan and a pass on a file system that is not the disk.
    void passRunsOnAnyFileSystem();
    void passCountsWhatItCouldNotReach();

private:
    QStringList Files(const QString &path) { return Relative(root_, worker_.CollectFiles(path)); }
    QStringList Folders(const QString &path) { return Relative(root_, worker_.CollectFolders(path)); }
    // A scan that runs away (through a link to "/") is stopped after 100
    // folders entered, and then lists too little, rather than walking the
    // whole disk.
    QStringList Bounded(const QString &path, ScanKind kind)
    {
        int entered = 0;
        const auto stop = [&entered] { return ++entered > 100; };
        return Relative(path, kind == ScanKind::Files ? ScanFiles(path, stop) : ScanFolders(path, stop));
    }

    QScopedPointer<QTemporaryDir> dir_;
    QString root_;
    ThreadObject worker_;
};

void FolderScanTest::init()
{
    dir_.reset(new QTemporaryDir);
    QVERIFY(dir_->isValid());
    root_ = dir_->path();
}

void FolderScanTest::exampleTreeOrder()
{
    // Created out of order, so creation order can't pass for name order.
    for (const char *file : {"B/B1/b1.txt", "A/A2/a2.txt", "A/A1/A11/a11.txt", "A/A1/a1.txt",
                             "B/b.txt", "A/a.txt", "r2.txt", "R1.txt"})
        QVERIFY(MakeFile(root_, file));

    QCOMPARE(Folders(root_), QStringList({"A", "B", "A/A1", "A/A2", "A/A1/A11", "B/B1"}));
    QCOMPARE(Files(root_), QStringList({"R1.txt", "r2.txt", "A/a.txt", "A/A1/a1.txt",
                                        "A/A1/A11/a11.txt", "A/A2/a2.txt", "B/b.txt",
                                        "B/B1/b1.txt"}));
    for (const QFileInfo &entry : worker_.CollectFiles(root_))
        QVERIFY2(entry.isAbsolute() && entry.isFile(), qPrintable(entry.filePath()));
}

void FolderScanTest::trailingSlashMakesNoDifference()
{
    QVERIFY(MakeFile(root_, "A/a.txt"));
    QVERIFY(MakeFile(root_, "b.txt"));
    QCOMPARE(Files(root_ + "/"), Files(root_));
    QCOMPARE(Folders(root_ + "/"), Folders(root_));
    QCOMPARE(Files(root_ + "/"), QStringList({"b.txt", "A/a.txt"}));
}

void FolderScanTest::hiddenFilesFoundHiddenFoldersNotEntered()
{
#ifdef _WIN32
    // The attribute hides, below the chosen folder too. A leading dot
    // hides nothing of itself, but Wine gives such names the attribute:
    // whatever the system says is what counts.
    QVERIFY(MakeFile(root_, "hidden.txt"));
    QVERIFY(MakeFile(root_, "A/inner"));
    QVERIFY(MakeFile(root_, "secret/inside.txt"));
    QVERIFY(MakeFolder(root_, "secret/deeper"));
    QVERIFY(MakeFile(root_, ".dotted/in.txt"));
    for (const char *entry : {"hidden.txt", "A/inner", "secret"})
        QVERIFY2(MakeHidden(root_ + "/" + entry), entry);
    const DWORD dotted = GetFileAttributesW(WideOf(root_ + "/.dotted").c_str());
    QVERIFY(dotted != INVALID_FILE_ATTRIBUTES);
    if (dotted & FILE_ATTRIBUTE_HIDDEN) {
        QCOMPARE(Files(root_), QStringList({"hidden.txt", "A/inner"}));
        QCOMPARE(Folders(root_), QStringList({"A"}));
    } else {
        QCOMPARE(Files(root_), QStringList({"hidden.txt", ".dotted/in.txt", "A/inner"}));
        QCOMPARE(Folders(root_), QStringList({".dotted", "A"}));
    }
#else
    QVERIFY(MakeFile(root_, ".hidden.txt"));
    QVERIFY(MakeFile(root_, "A/.inner"));
    QVERIFY(MakeFile(root_, ".secret/inside.txt"));
    QVERIFY(MakeFolder(root_, ".secret/deeper"));
    QCOMPARE(Files(root_), QStringList({".hidden.txt", "A/.inner"}));
    QCOMPARE(Folders(root_), QStringList({"A"}));
#endif
}

void FolderScanTest::linksToFilesSkipped()
{
    QVERIFY(MakeFile(root_, "A/a.txt"));
    QVERIFY(MakeFile(root_, "plain.txt"));
#ifdef _WIN32
    // Shortcuts, which the toolkit takes for links by their ending alone:
    // a file so named that is none is left out too.
    QVERIFY(MakeLink(root_ + "/plain.txt", root_, "fileLink.lnk"));
    QVERIFY(MakeLink(root_ + "/missing", root_, "dangling.lnk"));
    QVERIFY(MakeFile(root_, "A/noShortcut.LNK"));
#else
    QVERIFY(MakeLink(root_ + "/plain.txt", root_, "fileLink.txt"));
    QVERIFY(MakeLink(root_ + "/missing", root_, "dangling"));
#endif
    QCOMPARE(Folders(root_), QStringList({"A"}));
    QCOMPARE(Files(root_), QStringList({"plain.txt", "A/a.txt"}));
}

#ifndef _WIN32
void FolderScanTest::linksListedButEnteredOnlyInside()
{
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    QVERIFY(MakeFile(outside.path(), "deep/far.txt"));
    QVERIFY(MakeFile(root_, "A/a.txt"));
    QVERIFY(MakeFile(root_, ".h/x/y/y.txt"));
    QVERIFY(MakeLink(outside.path(), root_, "linkOut"));
    QVERIFY(MakeLink("../..", root_, "A/up"));  // above the chosen folder
    QVERIFY(MakeLink("/", root_, "top"));
    // ".." goes up from where a link leads. Read as text, "toFar/.." would
    // stay in the chosen folder, but it leads to the outside folder; and
    // "toY/../.." would leave it, but it leads to ".h", inside.
    QVERIFY(MakeLink(outside.path() + "/deep", root_, "toFar"));
    QVERIFY(MakeLink("toFar/..", root_, "esc"));
    QVERIFY(MakeLink(root_ + "/.h/x/y", root_, "toY"));
    QVERIFY(MakeLink("toY/../..", root_, "lex"));

    // Every link to a folder is listed; only those leading inside are
    // entered, and "toY" leads to a folder entered through "lex" already.
    QCOMPARE(Bounded(root_, ScanKind::Folders),
             QStringList({"A", "esc", "lex", "linkOut", "toFar", "top", "toY", "A/up", "lex/x",
                          "lex/x/y"}));
    QCOMPARE(Bounded(root_, ScanKind::Files), QStringList({"A/a.txt", "lex/x/y/y.txt"}));
    DiskFileSystem disk;
    int entered = 0;
    for (const ScanKind kind : {ScanKind::Files, ScanKind::Folders})
        QVERIFY(!ScanTree(disk, root_, kind, [&entered] { return ++entered > 100; }).Gaps().Any());

    // The same when the chosen folder is itself reached through a link.
    QTemporaryDir elsewhere;
    QVERIFY(elsewhere.isValid());
    QVERIFY(MakeLink(root_, elsewhere.path(), "chosen"));
    const QString viaLink = elsewhere.path() + "/chosen";
    QCOMPARE(Bounded(viaLink, ScanKind::Files), QStringList({"A/a.txt", "lex/x/y/y.txt"}));
}

void FolderScanTest::eachFolderEnteredOnce()
{
    QVERIFY(MakeFile(root_, "A/a.txt"));
    QVERIFY(MakeFile(root_, "B/b.txt"));
    QVERIFY(MakeLink(root_, root_, "A/up"));       // to the chosen folder
    QVERIFY(MakeLink(root_ + "/A", root_, "A/self")); // to its own folder
    QVERIFY(MakeLink(root_ + "/B", root_, "A/toB"));  // A -> B -> A
    QVERIFY(MakeLink(root_ + "/A", root_, "B/toA"));

    // Every link is listed where it is met; a folder is entered where the
    // scan meets it first: B through A/toB, before B itself comes up.
    QCOMPARE(Folders(root_), QStringList({"A", "B", "A/self", "A/toB", "A/up", "A/toB/toA"}));
    QCOMPARE(Files(root_), QStringList({"A/a.txt", "A/toB/b.txt"}));
}

void FolderScanTest::linksBetweenSiblingsDoNotMultiply()
{
    // Each of six folders links to the other five: reached by every path
    // through them, the scan would enter 1,956 folders.
    const int count = 6;
    for (int i = 0; i < count; ++i)
        QVERIFY(MakeFile(root_, QStringLiteral("s%1/f%1.txt").arg(i)));
    for (int i = 0; i < count; ++i)
        for (int j = 0; j < count; ++j)
            if (i != j)
                QVERIFY(MakeLink(QStringLiteral("../s%1").arg(j), root_,
                                 QStringLiteral("s%1/to%2").arg(i).arg(j)));
    QCOMPARE(Folders(root_).size(), count + count * (count - 1));
    QStringList names;
    for (const QFileInfo &file : worker_.CollectFiles(root_))
        names << file.fileName();
    names.sort();
    QCOMPARE(names, QStringList({"f0.txt", "f1.txt", "f2.txt", "f3.txt", "f4.txt", "f5.txt"}));
}
#endif

#ifdef _WIN32
void FolderScanTest::pathsPastTheLimitCounted()
{
    // Every path goes to the system in its extended-length form, so a chain
    // well past MAX_PATH (260 units) is entered to its end and nothing is
    // counted as missed; only the system's own longest path (32,767) bounds it.
    const QString name(10, QLatin1Char('d'));
    const int depth = 30; // 11 units a level: past 260 by level 24 at the latest
    QString chain;
    for (int i = 0; i < depth; ++i) {
        chain += name + QLatin1Char('/');
        QVERIFY(MakeFile(root_, chain + "f.txt"));
    }
    DiskFileSystem disk;
    const ScannedTree folders = ScanTree(disk, root_, ScanKind::Folders);
    const ScannedTree files = ScanTree(disk, root_, ScanKind::Files);

    QCOMPARE(folders.Size(), depth);
    QCOMPARE(files.Size(), depth);
    for (const ScannedTree *tree : {&folders, &files}) {
        QCOMPARE(tree->Gaps().tooLongPaths, 0);
        QCOMPARE(tree->Gaps().unreadableFolders, 0);
    }
    QVERIFY(QString::fromStdString(files.FolderOf(depth - 1).native).size() > MAX_PATH);
}
#else
void FolderScanTest::pathsPastTheLimitCounted()
{
    const QByteArray name(100, 'd');
    const int depth = 48; // 101 bytes a level: past 4,096 at level 41
    QVERIFY(MakeChain(root_, name, depth));
    DiskFileSystem disk;
    const ScannedTree folders = ScanTree(disk, root_, ScanKind::Folders);
    const ScannedTree files = ScanTree(disk, root_, ScanKind::Files);
    const int fd = ::open(QFile::encodeName(root_).constData(), O_RDONLY | O_DIRECTORY);
    RemoveChain(fd, name.constData());
    ::close(fd);

    // The first folder whose path does not fit is listed, not entered, and
    // counted once; every folder entered has a path that fits.
    const int fits = int((4095 - QFile::encodeName(root_).size()) / 101);
    QCOMPARE(folders.Size(), fits + 1);
    QCOMPARE(files.Size(), fits);
    for (const ScannedTree *tree : {&folders, &files}) {
        QCOMPARE(tree->Gaps().tooLongPaths, 1);
        QCOMPARE(tree->Gaps().unreadableFolders, 0);
        for (int i = 0; i < tree->Size(); ++i)
            QVERIFY(tree->FolderOf(i).native.size() < 4096);
    }
    QVERIFY(folders.FolderOf(fits).native.size() + name.size() + 1 >= 4096);
}
#endif

#ifdef _WIN32
void FolderScanTest::undecodableNamesCounted()
{
    // No UTF-8 form: a name with a lone surrogate, which NTFS keeps as it
    // keeps any other code unit.
    const std::wstring root = WideOf(root_);
    const std::wstring bad = root + L"\\bad\xD800";
    if (!CreateDirectoryW(bad.c_str(), nullptr))
        QSKIP("the file system refuses names with a lone surrogate (Wine does)");
    QVERIFY(MakeFile(root_, "ok/in.txt"));
    QVERIFY(MakeWideFile(root + L"\\ok\\worse\xDC00.txt"));
    QVERIFY(MakeWideFile(bad + L"\\unseen.txt"));

    DiskFileSystem disk;
    const ScannedTree files = ScanTree(disk, root_, ScanKind::Files);
    const ScannedTree folders = ScanTree(disk, root_, ScanKind::Folders);
    QCOMPARE(Relative(root_, files.ToFileInfos()), QStringList({"ok/in.txt"}));
    QCOMPARE(Relative(root_, folders.ToFileInfos()), QStringList({"ok"}));
    QCOMPARE(files.Gaps().undecodableNames, 2);
    // A listing gives no kind for a name it can't give, so the folder scan
    // may count the file's name as well as the folder's.
    QVERIFY(folders.Gaps().undecodableNames >= 1);
    QCOMPARE(files.Gaps().tooLongPaths + files.Gaps().unreadableFolders, 0);
    DeleteFileW((bad + L"\\unseen.txt").c_str());
    RemoveDirectoryW(bad.c_str());
}
#else
void FolderScanTest::undecodableNamesCounted()
{
    // Not UTF-8: "\xff"; exactly decodable: everything else.
    const QByteArray raw = QFile::encodeName(root_);
    QVERIFY(::mkdir(raw + "/bad\xff", 0755) == 0);
    QVERIFY(MakeFile(root_, "ok/in.txt"));
    const int file = ::open(raw + "/ok/worse\xff.txt", O_CREAT | O_WRONLY, 0644);
    QVERIFY(file >= 0 && ::close(file) == 0);
    const int inside = ::open(raw + "/bad\xff/unseen.txt", O_CREAT | O_WRONLY, 0644);
    QVERIFY(inside >= 0 && ::close(inside) == 0);

    DiskFileSystem disk;
    const ScannedTree files = ScanTree(disk, root_, ScanKind::Files);
    const ScannedTree folders = ScanTree(disk, root_, ScanKind::Folders);
    QCOMPARE(Relative(root_, files.ToFileInfos()), QStringList({"ok/in.txt"}));
    QCOMPARE(Relative(root_, folders.ToFileInfos()), QStringList({"ok"}));
    // The file scan meets both names, the folder scan only the folder's.
    QCOMPARE(files.Gaps().undecodableNames, 2);
    QCOMPARE(folders.Gaps().undecodableNames, 1);
    QCOMPARE(files.Gaps().tooLongPaths + files.Gaps().unreadableFolders, 0);
    ::unlink(raw + "/ok/worse\xff.txt");
    ::unlink(raw + "/bad\xff/unseen.txt");
    ::rmdir(raw + "/bad\xff");
}
#endif

#ifdef _WIN32
void FolderScanTest::namesInOrderIgnoringCase()
{
    // Two names here are never equal but for case, so no tie is broken;
    // the order must still ignore case, beyond ASCII too, where plain
    // code-unit order would put "ABCE", "Abc", "Zeta" and "Äc" first.
    const QStringList names = {QStringLiteral("abcd"), QStringLiteral("ABCE"), QStringLiteral("Abc"),
                               QStringLiteral("aBcF"), QStringLiteral("äb"), QStringLiteral("Äc"),
                               QStringLiteral("_x"), QStringLiteral("Zeta")};
    for (const QString &name : names)
        QVERIFY(MakeFile(root_, name));
    QCOMPARE(Files(root_), QStringList({QStringLiteral("_x"), QStringLiteral("Abc"),
                                        QStringLiteral("abcd"), QStringLiteral("ABCE"),
                                        QStringLiteral("aBcF"), QStringLiteral("Zeta"),
                                        QStringLiteral("äb"), QStringLiteral("Äc")}));
}
#else
void FolderScanTest::namesEqualButForCaseInFixedOrder()
{
    // All sixteen case variants of one name: whatever order the file system
    // lists them in, they come out in code-unit order.
    QStringList variants;
    for (int bits = 0; bits < 16; ++bits) {
        QString name = QStringLiteral("abcd");
        for (int i = 0; i < 4; ++i)
            if (bits & (1 << i))
                name[i] = name.at(i).toUpper();
        variants << name;
        QVERIFY(MakeFile(root_, name));
    }
    QVERIFY(MakeFile(root_, "Abc"));
    QVERIFY(MakeFile(root_, "abce"));
    variants.sort(Qt::CaseSensitive);
    QCOMPARE(Files(root_), QStringList{"Abc"} + variants + QStringList{"abce"});
}
#endif

void FolderScanTest::emptyMissingAndEmptyPath()
{
    QVERIFY(Files(root_).isEmpty());
    QVERIFY(Folders(root_).isEmpty());
    QVERIFY(Files(root_ + "/missing").isEmpty());
    QVERIFY(Folders(root_ + "/missing").isEmpty());
    // An empty path is no folder, not the current directory.
    QVERIFY(QDir::setCurrent(root_));
    QVERIFY(MakeFile(root_, "A/a.txt"));
    QVERIFY(worker_.CollectFiles(QString()).isEmpty());
    QVERIFY(worker_.CollectFolders(QString()).isEmpty());
    QVERIFY(QDir::setCurrent(QDir::tempPath()));
}

void FolderScanTest::stopQuestionEndsScanEarly()
{
    for (const char *file : {"a.txt", "A/a.txt", "B/b.txt", "C/c.txt"})
        QVERIFY(MakeFile(root_, file));
    int asked = 0;
    // Asked once per folder: the chosen folder and A are scanned, then it stops.
    const QList<QFileInfo> files = ScanFiles(root_, [&asked] { return ++asked > 2; });
    QCOMPARE(Relative(root_, files), QStringList({"a.txt", "A/a.txt"}));
    QCOMPARE(ScanFolders(root_, [] { return true; }).size(), 0);
}

namespace {

// A path as a pass shows it: with the system's own separators.
QString Shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

void FolderScanTest::passRunsOnAnyFileSystem()
{
    const std::string root = Native(root_) + "/";
    ScriptedFileSystem memory;
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

void FolderScanTest::passCountsWhatItCouldNotReach()
{
    const std::string root = Native(root_) + "/";
    ScriptedFileSystem memory;
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

QTEST_GUILESS_MAIN(FolderScanTest)
#include "tst_folderscan.moc"
