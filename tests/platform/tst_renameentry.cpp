#include "tests/support/enginetestsupport.h"

#include "platform/renameentry.h"
#include "platform/storedname.h"

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
    void storedNames_data();
    void storedNames();

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

// The name an entry bears after a rename: what the dry run predicts and the
// rename itself uses. Rows hold the POSIX answer, then the Windows one
// ("-" for no name an entry can bear).
void RenameEntryTest::storedNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("posix");
    QTest::addColumn<QString>("windows");
    QTest::newRow("plain") << "a.txt" << "a.txt" << "a.txt";
    QTest::newRow("Chinese") << QStringLiteral("旅行") << QStringLiteral("旅行") << QStringLiteral("旅行");
    QTest::newRow("empty") << "" << "-" << "-";
    QTest::newRow("dot") << "." << "-" << "-";
    QTest::newRow("dot-dot") << ".." << "-" << "-";
    QTest::newRow("slash") << "a/b" << "-" << "-";
    QTest::newRow("backslash") << "a\\b" << "a\\b" << "-";
    QTest::newRow("trailing dot") << "ba." << "ba." << "ba";
    QTest::newRow("trailing dots and spaces") << "b . ." << "b . ." << "b";
    QTest::newRow("leading dot and space kept") << " .a" << " .a" << " .a";
    QTest::newRow("only dots") << "..." << "..." << "-";
    QTest::newRow("only a space") << " " << " " << "-";
    for (const char *reserved : {"a<b", "a>b", "a:b", "a\"b", "a|b", "a?b", "a*b", "a\tb"})
        QTest::newRow(reserved) << reserved << reserved << "-";
    QTest::newRow("device") << "con" << "con" << "-";
    QTest::newRow("device, upper case, extension") << "NUL.txt" << "NUL.txt" << "-";
    QTest::newRow("device and a space") << "com1 .log" << "com1 .log" << "-";
    QTest::newRow("console input") << "CONIN$" << "CONIN$" << "-";
    QTest::newRow("device with a trailing dot") << "aux." << "aux." << "-";
    QTest::newRow("not a device: COM0") << "COM0" << "COM0" << "COM0";
    QTest::newRow("not a device: longer") << "console" << "console" << "console";
    QTest::newRow("not a device: after a dot") << "a.con" << "a.con" << "a.con";
}

void RenameEntryTest::storedNames()
{
    QFETCH(QString, name);
    QFETCH(QString, posix);
    QFETCH(QString, windows);
    const QString expected = QDir::separator() == QLatin1Char('\\') ? windows : posix;
    std::string stored;
    const bool bears = StoredNameOf(EncodeNativePath(name).c_str(), stored);
    QCOMPARE(bears ? QString::fromStdString(stored) : QStringLiteral("-"), expected);
    if (!bears)
        return;
    // The rename gives the entry that very name, and no other one.
    QVERIFY(MakeFile(root_, "old", "x"));
    QVERIFY2(Rename("old", name), qPrintable(name));
    QCOMPARE(Tree(root_), QStringList{expected});
}

QTEST_GUILESS_MAIN(RenameEntryTest)
#include "tst_renameentry.moc"
