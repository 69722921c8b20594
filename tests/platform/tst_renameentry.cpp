#include "tests/support/enginetestsupport.h"

#include "platform/renameentry.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace enginetest;

// The rename every pass relies on: never replaces, copies or writes through.
class RenameEntryTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void renamesFilesFoldersAndLinksThemselves();
    void refusesAnythingAtTarget_data();
    void refusesAnythingAtTarget();
    void refusesMissingSourceAndBadPaths();

private:
    bool Rename(const QString &from, const QString &to)
    {
        return !!RenameEntry(EncodeNativePath(root_ + "/" + from), EncodeNativePath(root_ + "/" + to));
    }

    QScopedPointer<QTemporaryDir> dir_;
    QString root_;
};

void RenameEntryTest::init()
{
    dir_.reset(new QTemporaryDir);
    QVERIFY(dir_->isValid());
    root_ = dir_->path();
}

void RenameEntryTest::renamesFilesFoldersAndLinksThemselves()
{
    QVERIFY(MakeFile(root_, "a.txt", "a"));
    QVERIFY(MakeFile(root_, "d/inner", "i"));
    QVERIFY(MakeLink(root_ + "/a2.txt", root_, "link"));
    QVERIFY(Rename("a.txt", "a2.txt"));
    QVERIFY(Rename("d", QStringLiteral("目录")));
    QVERIFY(Rename("link", "link2"));
    // On Windows the link is a shortcut, a file of its own.
    const QString link = QDir::separator() == QLatin1Char('\\') ? "link2" : "link2@";
    QCOMPARE(Tree(root_), Sorted({"a2.txt", link, QStringLiteral("目录/"),
                                  QStringLiteral("目录/inner")}));
    QCOMPARE(ReadFile(root_ + "/a2.txt"), QByteArray("a"));
    if (link.endsWith(QLatin1Char('@')))
        QCOMPARE(QFileInfo(root_ + "/link2").symLinkTarget(), root_ + "/a2.txt");
}

void RenameEntryTest::refusesAnythingAtTarget_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("blocker");
    QTest::newRow("fileOverFile") << "file" << "file";
    QTest::newRow("folderOverEmptyFolder") << "folder" << "emptyFolder";
    QTest::newRow("fileOverDanglingLink") << "file" << "danglingLink";
    QTest::newRow("fileOverLinkToFile") << "file" << "linkToFile";
    QTest::newRow("folderOverDanglingLink") << "folder" << "danglingLink";
}

void RenameEntryTest::refusesAnythingAtTarget()
{
    QFETCH(QString, source);
    QFETCH(QString, blocker);
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    QVERIFY(MakeFile(outside.path(), "elsewhere", "far"));
    if (source == "file")
        QVERIFY(MakeFile(root_, "src", "mine"));
    else
        QVERIFY(MakeFile(root_, "src/inner", "mine"));
    if (blocker == "file")
        QVERIFY(MakeFile(root_, "dst", "theirs"));
    else if (blocker == "emptyFolder")
        QVERIFY(MakeFolder(root_, "dst"));
    else if (blocker == "danglingLink")
        QVERIFY(MakeLink(outside.path() + "/missing", root_, "dst"));
    else
        QVERIFY(MakeLink(outside.path() + "/elsewhere", root_, "dst"));
    const QStringList before = Tree(root_);

    QVERIFY(!Rename("src", "dst"));

    QCOMPARE(Tree(root_), before);
    QCOMPARE(ReadFile(root_ + (source == "file" ? "/src" : "/src/inner")), QByteArray("mine"));
    QCOMPARE(Tree(outside.path()), QStringList{"elsewhere"});
    QCOMPARE(ReadFile(outside.path() + "/elsewhere"), QByteArray("far"));
}

void RenameEntryTest::refusesMissingSourceAndBadPaths()
{
    QVERIFY(MakeFile(root_, "a", "a"));
    QVERIFY(!Rename("missing", "b"));
    QVERIFY(!RenameEntry("", QFile::encodeName(root_ + "/b").toStdString()));
    QVERIFY(!RenameEntry(QFile::encodeName(root_ + "/a").toStdString(), ""));
    QVERIFY(!RenameEntry(QFile::encodeName(root_ + "/a").toStdString(),
                         std::string(QFile::encodeName(root_ + "/b").constData()) + '\0' + "c"));
    QVERIFY(!Rename("a", "a/b")); // not a folder
    QCOMPARE(Tree(root_), QStringList{"a"});
}

QTEST_GUILESS_MAIN(RenameEntryTest)
#include "tst_renameentry.moc"
