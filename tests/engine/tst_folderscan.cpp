#include "tests/support/enginetestsupport.h"

#include "engine/folderscan.h"
#include "engine/threadobject.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace enginetest;

class FolderScanTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void exampleTreeOrder();
    void trailingSlashMakesNoDifference();
    void hiddenFilesFoundHiddenFoldersNotEntered();
    void linksToFilesSkippedLinksToFoldersEntered();
    void linkCyclesTerminate();
    void namesEqualButForCaseInFixedOrder();
    void emptyMissingAndEmptyPath();
    void stopQuestionEndsScanEarly();

private:
    QStringList Files(const QString &path) { return Relative(root_, worker_.CollectFiles(path)); }
    QStringList Folders(const QString &path) { return Relative(root_, worker_.CollectFolders(path)); }

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
    QVERIFY(MakeFile(root_, ".hidden.txt"));
    QVERIFY(MakeFile(root_, "A/.inner"));
    QVERIFY(MakeFile(root_, ".secret/inside.txt"));
    QVERIFY(MakeFolder(root_, ".secret/deeper"));
    QCOMPARE(Files(root_), QStringList({".hidden.txt", "A/.inner"}));
    QCOMPARE(Folders(root_), QStringList({"A"}));
}

void FolderScanTest::linksToFilesSkippedLinksToFoldersEntered()
{
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    QVERIFY(MakeFile(outside.path(), "far.txt"));
    QVERIFY(MakeFile(root_, "A/a.txt"));
    QVERIFY(MakeFile(root_, "plain.txt"));
    QVERIFY(MakeLink(root_ + "/plain.txt", root_, "fileLink.txt"));
    QVERIFY(MakeLink(root_ + "/missing", root_, "dangling"));
    QVERIFY(MakeLink(root_ + "/A", root_, "linkToA"));
    QVERIFY(MakeLink(outside.path(), root_, "linkOut"));

    QCOMPARE(Folders(root_), QStringList({"A", "linkOut", "linkToA"}));
    QCOMPARE(Files(root_), QStringList({"plain.txt", "A/a.txt", "linkOut/far.txt", "linkToA/a.txt"}));
}

void FolderScanTest::linkCyclesTerminate()
{
    QVERIFY(MakeFile(root_, "A/a.txt"));
    QVERIFY(MakeFile(root_, "B/b.txt"));
    QVERIFY(MakeLink(root_, root_, "A/up"));       // to the chosen folder
    QVERIFY(MakeLink(root_ + "/A", root_, "A/self")); // to its own folder
    QVERIFY(MakeLink(root_ + "/B", root_, "A/toB"));  // A -> B -> A
    QVERIFY(MakeLink(root_ + "/A", root_, "B/toA"));

    // Every link is listed once per place it is reached from; none is entered
    // again below a folder it leads back to.
    QCOMPARE(Folders(root_), QStringList({"A", "B", "A/self", "A/toB", "A/up", "A/toB/toA",
                                          "B/toA", "B/toA/self", "B/toA/toB", "B/toA/up"}));
    QCOMPARE(Files(root_), QStringList({"A/a.txt", "A/toB/b.txt", "B/b.txt", "B/toA/a.txt"}));
}

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

QTEST_GUILESS_MAIN(FolderScanTest)
#include "tst_folderscan.moc"
