#include "tests/support/enginetestsupport.h"

#include "engine/checks.h"
#include "engine/jobparameters.h"
#include "engine/namerules.h"
#include "engine/renamepass.h"
#include "platform/system.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace enginetest;

namespace {

const bool dropsDot = PlatformTrailingDot() == TrailingDot::DropWhenNoExtension;

// The summary without its elapsed seconds, which depend on the machine.
QString WithoutSeconds(const QString &summary)
{
    QString text = summary;
    return text.replace(QRegularExpression(QStringLiteral("耗时\\d+秒。$")), QStringLiteral("耗时"));
}

} // namespace

class RenamePassTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void replaceRenamesFilesThenFoldersAndReports();
    void replaceSingleFile_data();
    void replaceSingleFile();
    void onlyFilesAndOnlyExtensionLeaveFolders_data();
    void onlyFilesAndOnlyExtensionLeaveFolders();
    void insertSingleFile_data();
    void insertSingleFile();
    void insertIntoFolderNames();
    void emptyInsertChangesNothing();
    void existingTargetLeftAloneAndUncounted();
    void danglingLinkAtTargetLeftAlone();
    void targetAppearingAfterScanNotOverwritten();
    void newNamesThatAreNoNamesRefused_data();
    void newNamesThatAreNoNamesRefused();
    void noRenameNoReport();
    void reportNotCreatable();
    void reportNeverOverwritesARenamedEntry();
    void stopBetweenEntries();
    void stopBeforeFirstEntry();
    void journalNotWrittenStopsThePass_data();
    void journalNotWrittenStopsThePass();

    void multiPairChainsOnRenamedTree();
    void everyAttemptIsAnnouncedWithItsPlaceAndOutcome();
    void multiPairReversedOrder();
    void multiPairEmptyPairs_data();
    void multiPairEmptyPairs();
    void multiPairEmptyFindInserts();
    void multiPairOnlyExtensionStillRenamesFolders();
    void multiPairOnlyFiles();
    void multiPairMismatchedListsChangeNothing();

    void deleteOldReportFiles();
    void deleteOldReportFilesWithoutFolder();

#ifndef _WIN32
    // Symbolic links: on Windows QFile::link makes shortcuts instead.
    void folderSwappedForLinkMidJobIsNotEntered();
    void folderWrittenThroughLinkAndDotDotIsTheOneScanned();
    void folderSwappedAfterLaunchIsNotScanned();
#endif

private:
    JobParameters Params() const
    {
        JobParameters params;
        params.folderPath = root_ + QLatin1Char('/');
        return params;
    }
    QString ReportPath() const { return root_ + QLatin1Char('/') + RenameReportFileName(); }
    QString Native(const QString &relative) const
    {
        return QDir::toNativeSeparators(root_ + QLatin1Char('/') + relative);
    }

    QScopedPointer<QTemporaryDir> dir_;
    QString root_;
    RecordingSink sink_;
};

void RenamePassTest::initTestCase()
{
}

void RenamePassTest::init()
{
    dir_.reset(new QTemporaryDir);
    QVERIFY(dir_->isValid());
    root_ = dir_->path();
    sink_ = RecordingSink();
}

void RenamePassTest::replaceRenamesFilesThenFoldersAndReports()
{
    QVERIFY(MakeFile(root_, "photo.jpg", "one"));
    QVERIFY(MakeFile(root_, "photo.JPG", "two"));
    if (ReadFile(root_ + "/photo.jpg") != "one")
        QSKIP("names equal but for case are one name on this file system");
    QVERIFY(MakeFile(root_, "jpg_dir/inner.jpg", "three"));
    QVERIFY(MakeFile(root_, "jpg_dir/jpg_sub/keep.txt"));
    JobParameters params = Params();
    params.findText = "jpg";
    params.replacementText = "png";

    const PassOutcome out = RunJob(JobKind::Replace, params, sink_);

    QCOMPARE(Tree(root_), Sorted(QStringList({"photo.JPG", "photo.png", "png_dir/", "png_dir/inner.png",
                                       "png_dir/png_sub/", "png_dir/png_sub/keep.txt",
                                       RenameReportFileName()})));
    QCOMPARE(ReadFile(root_ + "/photo.png"), QByteArray("one"));
    QCOMPARE(ReadFile(root_ + "/png_dir/inner.png"), QByteArray("three"));
    // Files in scan order, then folders deepest first; each old path as it
    // stood when its rename was tried.
    const QStringList expected{Native("photo.jpg"), Native("jpg_dir/inner.jpg"),
                               Native("jpg_dir/jpg_sub"), Native("jpg_dir")};
    QCOMPARE(sink_.progress, expected);
    QCOMPARE(out.renameLog, expected);
    QCOMPARE(sink_.summaries.size(), 1);
    QCOMPARE(sink_.summaries.first(), out.summary);
    QCOMPARE(WithoutSeconds(out.summary),
             QStringLiteral("扫描文件4个,扫描文件夹2个,修改文件名2个,修改文件夹名2个,耗时"));
    QCOMPARE(ReadFile(ReportPath()), ReportText(expected));
    QVERIFY(out.reportWritten);
    QVERIFY(!out.stopped);
    QCOMPARE(sink_.reports, QStringList{QDir::toNativeSeparators(ReportPath())});
}

void RenamePassTest::replaceSingleFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("find");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<bool>("regExp");
    QTest::addColumn<bool>("onlyExtension");
    QTest::addColumn<QString>("expected"); // equal to name: left alone

    QTest::newRow("caseSensitive") << "photo.JPG" << "jpg" << "png" << false << false << "photo.JPG";
    QTest::newRow("backReference") << "a12b" << "(\\d+)" << "[\\1]" << true << false << "a[12]b";
    QTest::newRow("emptyFind") << "ab" << "" << "x" << false << false << "xaxbx";
    QTest::newRow("replacementEqualsMatch") << "abc" << "b" << "b" << false << false << "abc";
    // Not a change of case only, which Wine can't make (tst_windowsbranch).
    QTest::newRow("dotFileWholeName") << ".profile" << "pro" << "PRX" << false << false
                                      << ".PRXfile";
    QTest::newRow("extension_multiDot") << "a.tar.gz" << "gz" << "zip" << false << true
                                        << "a.tar.zip";
    QTest::newRow("extension_baseUntouched") << "gz.gz" << "gz" << "bz" << false << true << "gz.bz";
    QTest::newRow("extension_emptyPatternGivesOne") << "README" << "^$" << "txt" << true << true
                                                    << "README.txt";
    QTest::newRow("extension_noDotNeverMatchesText") << "README" << "R" << "X" << false << true
                                                     << "README";
    QTest::newRow("extension_emptied") << "a.txt" << "txt" << "" << false << true
                                       << (dropsDot ? "a" : "a.");
    QTest::newRow("extension_dotFile") << ".profile" << "profile" << "rc" << false << true << ".rc";
}

void RenamePassTest::replaceSingleFile()
{
    QFETCH(QString, name);
    QFETCH(QString, find);
    QFETCH(QString, replacement);
    QFETCH(bool, regExp);
    QFETCH(bool, onlyExtension);
    QFETCH(QString, expected);
    // Windows stores a name without the dots it ends in.
    while (SystemDropsTrailingDots() && expected.endsWith(QLatin1Char('.')))
        expected.chop(1);
    QVERIFY(MakeFile(root_, name, "content"));
    JobParameters params = Params();
    params.findText = find;
    params.replacementText = replacement;
    params.regExpMode = regExp;
    params.onlyExtension = onlyExtension;

    const PassOutcome out = RunJob(JobKind::Replace, params, sink_);

    const bool changes = expected != name;
    QCOMPARE(out.filesChanged, changes ? 1 : 0);
    QCOMPARE(sink_.progress.size(), changes ? 1 : 0);
    QCOMPARE(ReadFile(root_ + "/" + expected), QByteArray("content"));
    QStringList tree{expected};
    if (changes)
        tree << RenameReportFileName();
    tree.sort();
    QCOMPARE(Tree(root_), tree);
    QCOMPARE(out.filesScanned, 1);
}

void RenamePassTest::onlyFilesAndOnlyExtensionLeaveFolders_data()
{
    QTest::addColumn<bool>("onlyFiles");
    QTest::addColumn<bool>("onlyExtension");
    QTest::addColumn<QString>("expectedFile");
    QTest::newRow("onlyFiles") << true << false << "a_dir/b.b";
    QTest::newRow("onlyExtension") << false << true << "a_dir/a.b";
}

void RenamePassTest::onlyFilesAndOnlyExtensionLeaveFolders()
{
    QFETCH(bool, onlyFiles);
    QFETCH(bool, onlyExtension);
    QFETCH(QString, expectedFile);
    QVERIFY(MakeFile(root_, "a_dir/a.a"));
    JobParameters params = Params();
    params.findText = "a";
    params.replacementText = "b";
    params.onlyFiles = onlyFiles;
    params.onlyExtension = onlyExtension;

    const PassOutcome out = RunJob(JobKind::Replace, params, sink_);
    QCOMPARE(Tree(root_), Sorted(QStringList({RenameReportFileName(), "a_dir/", expectedFile})));
    QCOMPARE(out.foldersScanned, 0);
    QCOMPARE(out.foldersChanged, 0);
    QCOMPARE(WithoutSeconds(out.summary),
             QStringLiteral("扫描文件1个,扫描文件夹0个,修改文件名1个,修改文件夹名0个,耗时"));
}

void RenamePassTest::insertSingleFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("before");
    QTest::addColumn<bool>("onlyExtension");
    QTest::addColumn<QString>("expected");
    QTest::newRow("after") << "photo.jpg" << "_1" << false << false << "photo_1.jpg";
    QTest::newRow("before") << "photo.jpg" << "_1" << true << false << "_1photo.jpg";
    QTest::newRow("multiDot") << "a.tar.gz" << "_x" << false << false << "a.tar_x.gz";
    QTest::newRow("noDot") << "README" << "_1" << false << false
                           << (dropsDot ? "README_1" : "README_1.");
    QTest::newRow("dotFileBefore") << ".profile" << "X" << true << false << "X.profile";
    QTest::newRow("dotFileAfter") << ".profile" << "X" << false << false << "X.profile";
    QTest::newRow("extension_after") << "a.txt" << "2" << false << true << "a.txt2";
    QTest::newRow("extension_before") << "a.txt" << "b" << true << true << "a.btxt";
    QTest::newRow("extension_noDot") << "README" << "X" << true << true << "README.X";
    QTest::newRow("chinese") << QStringLiteral("照片.jpg") << QStringLiteral("_新") << false << false
                             << QStringLiteral("照片_新.jpg");
}

void RenamePassTest::insertSingleFile()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(bool, before);
    QFETCH(bool, onlyExtension);
    QFETCH(QString, expected);
    // Windows stores a name without the dots it ends in.
    while (SystemDropsTrailingDots() && expected.endsWith(QLatin1Char('.')))
        expected.chop(1);
    QVERIFY(MakeFile(root_, name, "content"));
    JobParameters params = Params();
    params.insertText = text;
    params.insertBefore = before;
    params.onlyExtension = onlyExtension;

    const PassOutcome out = RunJob(JobKind::Insert, params, sink_);

    QCOMPARE(Tree(root_), Sorted(QStringList({expected, RenameReportFileName()})));
    QCOMPARE(ReadFile(root_ + "/" + expected), QByteArray("content"));
    QCOMPARE(out.renameLog, QStringList{Native(name)});
    QCOMPARE(ReadFile(ReportPath()), ReportText({Native(name)}));
}

void RenamePassTest::insertIntoFolderNames()
{
    QVERIFY(MakeFile(root_, "album.2020/p.jpg"));
    JobParameters params = Params();
    params.insertText = "_old";
    params.insertBefore = false;

    const PassOutcome out = RunJob(JobKind::Insert, params, sink_);

    QCOMPARE(Tree(root_), Sorted(QStringList({RenameReportFileName(), "album.2020_old/",
                                       "album.2020_old/p_old.jpg"})));
    QCOMPARE(sink_.progress, QStringList({Native("album.2020/p.jpg"), Native("album.2020")}));
    QCOMPARE(WithoutSeconds(out.summary),
             QStringLiteral("扫描文件1个,扫描文件夹1个,修改文件名1个,修改文件夹名1个,耗时"));
}

void RenamePassTest::emptyInsertChangesNothing()
{
    QVERIFY(MakeFile(root_, "d/a.txt"));
    JobParameters params = Params();
    const PassOutcome out = RunJob(JobKind::Insert, params, sink_);
    QCOMPARE(Tree(root_), Sorted(QStringList({"d/", "d/a.txt"})));
    QVERIFY(sink_.progress.isEmpty());
    QCOMPARE(WithoutSeconds(out.summary),
             QStringLiteral("扫描文件1个,扫描文件夹1个,修改文件名0个,修改文件夹名0个,耗时"));
    QVERIFY(sink_.reports.isEmpty());
}

void RenamePassTest::existingTargetLeftAloneAndUncounted()
{
    QVERIFY(MakeFile(root_, "a.txt", "first"));
    QVERIFY(MakeFile(root_, "a_1.txt", "second"));
    JobParameters params = Params();
    params.insertText = "_1";
    params.insertBefore = false;

    const PassOutcome out = RunJob(JobKind::Insert, params, sink_);

    // a.txt -> a_1.txt is refused (taken); a_1.txt -> a_1_1.txt goes through.
    QCOMPARE(Tree(root_), Sorted(QStringList({"a.txt", "a_1_1.txt", RenameReportFileName()})));
    QCOMPARE(ReadFile(root_ + "/a.txt"), QByteArray("first"));
    QCOMPARE(ReadFile(root_ + "/a_1_1.txt"), QByteArray("second"));
    QCOMPARE(sink_.progress, QStringList({Native("a.txt"), Native("a_1.txt")}));
    QCOMPARE(out.filesChanged, 1);
    QCOMPARE(out.renameLog, QStringList{Native("a_1.txt")});
}

void RenamePassTest::danglingLinkAtTargetLeftAlone()
{
    QTemporaryDir outside;
    QVERIFY(outside.isValid());
    const QString far = outside.path() + "/far";
    QVERIFY(MakeFile(root_, "a", "precious"));
    QVERIFY(MakeLink(far, root_, "b"));
    if (!QFileInfo(root_ + "/b").isSymLink())
        QSKIP("no symbolic links here (Windows makes a shortcut file)");
    JobParameters params = Params();
    params.findText = "a";
    params.replacementText = "b";

    const PassOutcome out = RunJob(JobKind::Replace, params, sink_);

    QCOMPARE(out.filesChanged, 0);
    QCOMPARE(Tree(root_), Sorted(QStringList({"a", "b@"})));
    QCOMPARE(ReadFile(root_ + "/a"), QByteArray("precious"));
    QCOMPARE(QFileInfo(root_ + "/b").symLinkTarget(), far);
    QVERIFY(!QFileInfo::exists(far));
}

void RenamePassTest::targetAppearingAfterScanNotOverwritten()
{
    QVERIFY(MakeFile(root_, "a.txt", "mine"));
    JobParameters params = Params();
    params.findText = "a";
    params.replacementText = "b";
    // Between the scan and the rename someone else creates the target.
    sink_.beforeRename = [](const QString &, const QString &target) {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("theirs");
    };

    const PassOutcome out = RunJob(JobKind::Replace, params, sink_);

    QCOMPARE(out.filesChanged, 0);
    QCOMPARE(ReadFile(root_ + "/a.txt"), QByteArray("mine"));
    QCOMPARE(ReadFile(root_ + "/b.txt"), QByteArray("theirs"));
    QVERIFY(!QFileInfo::exists(ReportPath()));
}

void RenamePassTest::newNamesThatAreNoNamesRefused_data()
{
    QTest::addColumn<QString>("find");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<bool>("regExp");
    QTest::newRow("intoSubfolder") << "a" << "sub/a" << false;
    QTest::newRow("outOfTheFolder") << "a" << "../a" << false;
    QTest::newRow("backslash") << "a" << "sub\\a" << false;
    QTest::newRow("dotDot") << "^.*$" << ".." << true;
    QTest::newRow("dot") << "^.*$" << "." << true;
    QTest::newRow("empty") << "^.*$" << "" << true;
}

void RenamePassTest::newNamesThatAreNoNamesRefused()
{
    QFETCH(QString, find);
    QFETCH(QString, replacement);
    QFETCH(bool, regExp);
    // The chosen folder is one below the temporary folder, so a rename out of
    // it would show in the tree.
    QVERIFY(MakeFile(root_, "chosen/a.txt", "content"));
    QVERIFY(MakeFolder(root_, "chosen/sub"));
    JobParameters params;
    params.folderPath = root_ + "/chosen/";
    params.findText = find;
    params.replacementText = replacement;
    params.regExpMode = regExp;
    params.onlyFiles = true;

    const PassOutcome out = RunJob(JobKind::Replace, params, sink_);

    // Shown as tried, like any failed rename, but never handed to the system.
    QCOMPARE(sink_.progress, QStringList{Native("chosen/a.txt")});
    QCOMPARE(sink_.results.size(), 1);
    QCOMPARE(sink_.results.first().outcome, RenameOutcome::InvalidName);
    QCOMPARE(out.filesChanged, 0);
    QCOMPARE(Tree(root_), QStringList({"chosen/", "chosen/a.txt", "chosen/sub/"}));
}

void RenamePassTest::noRenameNoReport()
{
    QVERIFY(MakeFile(root_, "a.txt"));
    JobParameters params = Params();
    params.findText = "zzz";
    params.replacementText = "y";

    const PassOutcome out = RunJob(JobKind::Replace, params, sink_);

    QVERIFY(sink_.progress.isEmpty());
    QCOMPARE(sink_.summaries.size(), 1);
    QVERIFY(!out.reportWritten);
    QCOMPARE(Tree(root_), Sorted(QStringList{"a.txt"}));
    QVERIFY(sink_.reports.isEmpty());
}

void RenamePassTest::reportNotCreatable()
{
    // Without a trailing "/" the report name is glued to the folder's name;
    // with a long folder name that is too long a name: the report can't be
    // created (even by root, unlike a read-only folder).
    const QString longName(230, QLatin1Char('n'));
    if (QDir::separator() == QLatin1Char('\\'))
        QSKIP("the folder's own path is past MAX_PATH, which the Windows branch can't rename in yet");
    QVERIFY(MakeFile(root_, longName + "/a.txt"));
    JobParameters params;
    params.folderPath = root_ + "/" + longName;
    params.findText = "a";
    params.replacementText = "b";

    const PassOutcome out = RunJob(JobKind::Replace, params, sink_);

    QCOMPARE(out.filesChanged, 1);
    QVERIFY(!out.reportWritten);
    QCOMPARE(sink_.summaries.size(), 1);
    QVERIFY(sink_.reports.isEmpty());
    QCOMPARE(sink_.failedReports,
             QStringList{QDir::toNativeSeparators(params.folderPath + RenameReportFileName())});
    QCOMPARE(Tree(root_), Sorted(QStringList({longName + "/", longName + "/b.txt"})));
}

void RenamePassTest::reportNeverOverwritesARenamedEntry()
{
    QVERIFY(MakeFile(root_, "notes.txt", "user data"));
    JobParameters params = Params();
    params.findText = "notes.txt";
    params.replacementText = RenameReportFileName();

    const PassOutcome out = RunJob(JobKind::Replace, params, sink_);

    QCOMPARE(out.filesChanged, 1);
    QVERIFY(!out.reportWritten);
    QCOMPARE(ReadFile(ReportPath()), QByteArray("user data"));
    QVERIFY(sink_.reports.isEmpty());
}

void RenamePassTest::stopBetweenEntries()
{
    for (const char *file : {"f1", "f2", "f3", "f4", "d_f/f5"})
        QVERIFY(MakeFile(root_, file));
    JobParameters params = Params();
    params.findText = "f";
    params.replacementText = "g";
    sink_.stopWhen = [](const RecordingSink &sink) { return sink.progress.size() >= 2; };

    const PassOutcome out = RunJob(JobKind::Replace, params, sink_);

    QVERIFY(out.stopped);
    QCOMPARE(Tree(root_), Sorted(QStringList({RenameReportFileName(), "d_f/", "d_f/f5", "f3", "f4", "g1",
                                       "g2"})));
    QCOMPARE(out.renameLog, QStringList({Native("f1"), Native("f2")}));
    QCOMPARE(out.filesScanned, 2);
    // The report tells what changed (whether to open it on the way out is
    // the front end's choice).
    QVERIFY(out.reportWritten);
    QCOMPARE(ReadFile(ReportPath()), ReportText({Native("f1"), Native("f2")}));
    QCOMPARE(sink_.reports, QStringList{QDir::toNativeSeparators(ReportPath())});
    QCOMPARE(sink_.summaries.size(), 1);
}

void RenamePassTest::stopBeforeFirstEntry()
{
    QVERIFY(MakeFile(root_, "a/a"));
    sink_.stopWhen = [](const RecordingSink &) { return true; };
    for (int pass = 0; pass < 3; ++pass) {
        JobParameters params = Params();
        params.findText = params.insertText = "a";
        params.findList = params.replacementList = QStringList{"a"};
        params.replacementText = "b";
        const PassOutcome out = pass == 0   ? RunJob(JobKind::Replace, params, sink_)
                                : pass == 1 ? RunJob(JobKind::Pairs, params, sink_)
                                            : RunJob(JobKind::Insert, params, sink_);
        QVERIFY(out.stopped);
        QVERIFY(!out.reportWritten);
    }
    QVERIFY(sink_.progress.isEmpty());
    QCOMPARE(sink_.summaries.size(), 3);
    QCOMPARE(Tree(root_), Sorted(QStringList({"a/", "a/a"})));
}

// A rename the journal could not record is reported as it came back, and
// the pass ends there as a stopped one does; one that stands counts as made.
void RenamePassTest::journalNotWrittenStopsThePass_data()
{
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QStringList>("renamed");
    QTest::addColumn<QStringList>("tree"); // beside the report
    QTest::newRow("left as it was") << int(RenameOutcome::JournalNotWritten) << QStringList{"f1"}
                                    << QStringList{"f2", "f3", "f4", "g1"};
    QTest::newRow("renamed, not taken back")
        << int(RenameOutcome::RenamedJournalNotWritten) << QStringList{"f1", "f2"}
        << QStringList{"f3", "f4", "g1", "g2"};
}

void RenamePassTest::journalNotWrittenStopsThePass()
{
    QFETCH(int, outcome);
    QFETCH(QStringList, renamed);
    QFETCH(QStringList, tree);
    for (const char *file : {"f1", "f2", "f3", "f4"})
        QVERIFY(MakeFile(root_, file));
    JobParameters params = Params();
    params.findText = "f";
    params.replacementText = "g";
    WatchedDisk disk;
    disk.renamesAllowed = 1;
    disk.refusal = RenameOutcome(outcome);

    const PassOutcome out = RunPass(params, sink_, disk);

    QVERIFY(out.stopped);
    QCOMPARE(sink_.results.size(), 2);
    QCOMPARE(int(sink_.results.at(1).outcome), outcome);
    QCOMPARE(out.filesChanged, renamed.size());
    QStringList log;
    for (const QString &name : renamed)
        log << Native(name);
    QCOMPARE(out.renameLog, log);
    QCOMPARE(ReadFile(ReportPath()), ReportText(log));
    QCOMPARE(Tree(root_), Sorted(tree << RenameReportFileName()));
}

void RenamePassTest::everyAttemptIsAnnouncedWithItsPlaceAndOutcome()
{
    QVERIFY(MakeFile(root_, "a.txt"));
    QVERIFY(MakeFile(root_, "b.txt", "already there"));
    QVERIFY(MakeFolder(root_, "a_dir"));
    JobParameters params = Params();
    params.kind = JobKind::Pairs;
    params.findList = QStringList{"a", "q"};
    params.replacementList = QStringList{"b", "a/"};
    // Pair 0: a.txt runs into b.txt, a_dir becomes b_dir. Pair 1 gives q a
    // new name that is no name: announced, refused untried.
    QVERIFY(MakeFile(root_, "q"));

    const PassOutcome out = RunPass(params, sink_);

    QCOMPARE(sink_.progress, QStringList({Native("a.txt"), Native("a_dir"), Native("q")}));
    QCOMPARE(sink_.phases,
             QList<RenamePhase>({RenamePhase::Files, RenamePhase::Folders, RenamePhase::Files}));
    QCOMPARE(sink_.pairs, QList<int>({0, 0, 1}));
    QCOMPARE(sink_.targets, QStringList({Native("b.txt"), QDir::toNativeSeparators(root_) + "/b_dir",
                                         QDir::toNativeSeparators(root_ + "/") + "a/"}));
    QCOMPARE(sink_.results.size(), 3);
    QCOMPARE(sink_.results.at(0).outcome, RenameOutcome::TargetExists);
    // The system's own code: errno, or GetLastError()'s ERROR_ALREADY_EXISTS (183).
    QCOMPARE(sink_.results.at(0).systemError, QDir::separator() == QLatin1Char('\\') ? 183 : EEXIST);
    QCOMPARE(sink_.results.at(1).outcome, RenameOutcome::Renamed);
    QCOMPARE(sink_.results.at(2).outcome, RenameOutcome::InvalidName);
    QCOMPARE(out.filesChanged, 0);
    QCOMPARE(out.foldersChanged, 1);
    QCOMPARE(ReadFile(root_ + "/b.txt"), QByteArray("already there"));
}

void RenamePassTest::multiPairChainsOnRenamedTree()
{
    QVERIFY(MakeFile(root_, "a.txt", "content"));
    JobParameters params = Params();
    params.findList = QStringList{"a", "b"};
    params.replacementList = QStringList{"b", "c"};

    const PassOutcome out = RunJob(JobKind::Pairs, params, sink_);

    QCOMPARE(Tree(root_), Sorted(QStringList({"c.txt", RenameReportFileName()})));
    QCOMPARE(ReadFile(root_ + "/c.txt"), QByteArray("content"));
    QCOMPARE(out.renameLog, QStringList({Native("a.txt"), Native("b.txt")}));
    QCOMPARE(ReadFile(ReportPath()), ReportText({Native("a.txt"), Native("b.txt")}));
    QCOMPARE(WithoutSeconds(out.summary), QStringLiteral("修改文件名2个,修改文件夹名0个,耗时"));
    QCOMPARE(sink_.reports.size(), 1);
}

void RenamePassTest::multiPairReversedOrder()
{
    QVERIFY(MakeFile(root_, "a.txt"));
    JobParameters params = Params();
    params.findList = QStringList{"b", "a"};
    params.replacementList = QStringList{"c", "b"};
    const PassOutcome out = RunJob(JobKind::Pairs, params, sink_);
    QCOMPARE(Tree(root_), Sorted(QStringList({"b.txt", RenameReportFileName()})));
    QCOMPARE(out.filesChanged, 1);
}

void RenamePassTest::multiPairEmptyPairs_data()
{
    QTest::addColumn<QString>("findEdit");
    QTest::addColumn<QString>("replacementEdit");
    QTest::addColumn<QString>("expected");
    QTest::newRow("bothEmpty") << "" << "" << "a_dir/a.txt";
    QTest::newRow("emptyLineOppositeEmptyLine") << "a\n\nz" << "b\n\ny" << "b_dir/b.txt";
    QTest::newRow("finalLineFeedInBoth") << "a\n" << "b\n" << "b_dir/b.txt";
}

void RenamePassTest::multiPairEmptyPairs()
{
    QFETCH(QString, findEdit);
    QFETCH(QString, replacementEdit);
    QFETCH(QString, expected);
    QVERIFY(MakeFile(root_, "a_dir/a.txt"));
    JobParameters params = Params();
    params.findList = SplitLines(findEdit);
    params.replacementList = SplitLines(replacementEdit);

    const PassOutcome out = RunJob(JobKind::Pairs, params, sink_);

    QCOMPARE(Tree(root_).filter(".txt").filter("/"), QStringList{expected});
    const int renames = expected.startsWith("b") ? 2 : 0;
    QCOMPARE(out.filesChanged + out.foldersChanged, renames);
    QCOMPARE(sink_.progress.size(), renames);
}

void RenamePassTest::multiPairEmptyFindInserts()
{
    QVERIFY(MakeFile(root_, "ab"));
    JobParameters params = Params();
    params.findList = QStringList{""};
    params.replacementList = QStringList{"x"};
    RunJob(JobKind::Pairs, params, sink_);
    QCOMPARE(Tree(root_), Sorted(QStringList({RenameReportFileName(), "xaxbx"})));
}

void RenamePassTest::multiPairOnlyExtensionStillRenamesFolders()
{
    QVERIFY(MakeFile(root_, "a/a.a"));
    JobParameters params = Params();
    params.findList = QStringList{"a"};
    params.replacementList = QStringList{"b"};
    params.onlyExtension = true;

    const PassOutcome out = RunJob(JobKind::Pairs, params, sink_);

    QCOMPARE(Tree(root_), Sorted(QStringList({RenameReportFileName(), "b/", "b/a.b"})));
    QCOMPARE(out.renameLog, QStringList({Native("a/a.a"), Native("a")}));
}

void RenamePassTest::multiPairOnlyFiles()
{
    QVERIFY(MakeFile(root_, "a/a.a"));
    JobParameters params = Params();
    params.findList = QStringList{"a", "b"};
    params.replacementList = QStringList{"b", "c"};
    params.onlyFiles = true;

    const PassOutcome out = RunJob(JobKind::Pairs, params, sink_);

    QCOMPARE(Tree(root_), Sorted(QStringList({RenameReportFileName(), "a/", "a/c.c"})));
    QCOMPARE(WithoutSeconds(out.summary), QStringLiteral("修改文件名2个,修改文件夹名0个,耗时"));
}

void RenamePassTest::multiPairMismatchedListsChangeNothing()
{
    QVERIFY(MakeFile(root_, "a.txt"));
    JobParameters params = Params();
    params.findList = QStringList{"a", "t"};
    params.replacementList = QStringList{"b"};
    const PassOutcome out = RunJob(JobKind::Pairs, params, sink_);
    QCOMPARE(Tree(root_), Sorted(QStringList{"a.txt"}));
    QCOMPARE(out.filesChanged, 0);
    QCOMPARE(sink_.summaries.size(), 1);
}

void RenamePassTest::deleteOldReportFiles()
{
    const QStringList names = ReportFileNames();
    QCOMPARE(names, QStringList({QStringLiteral("无法打开修改的文件目录(文件格式有误).txt"),
                                 QStringLiteral("包含内容并成功修改的文件目录.txt"),
                                 QStringLiteral("不包含内容无修改的文件目录.txt")}));
    QVERIFY(MakeFile(root_, "inner/" + names.at(0)));
    QVERIFY(MakeFile(root_, "inner/" + names.at(1)));
    QVERIFY(MakeFolder(root_, "inner/" + names.at(2))); // a folder is no report of ours
    QVERIFY(MakeFile(root_, "inner/other.txt"));
    QVERIFY(MakeFile(root_, "inner" + names.at(0)));    // beside the folder

    JobParameters params;
    params.folderPath = root_ + "/inner/";
    QCOMPARE(ReportPathsIn(params.folderPath), QStringList({params.folderPath + names.at(0),
                                                            params.folderPath + names.at(1),
                                                            params.folderPath + names.at(2)}));
    DeleteOldReportFiles(params);
    QCOMPARE(Tree(root_), Sorted(QStringList({"inner/", "inner/" + names.at(2) + "/", "inner/other.txt",
                                       "inner" + names.at(0)})));

    // A folder path typed without "/" names report files beside the folder.
    params.folderPath = root_ + "/inner";
    DeleteOldReportFiles(params);
    QCOMPARE(Tree(root_), Sorted(QStringList({"inner/", "inner/" + names.at(2) + "/", "inner/other.txt"})));
}

void RenamePassTest::deleteOldReportFilesWithoutFolder()
{
    // With no folder the names would be relative to the current directory.
    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(root_));
    QVERIFY(MakeFile(root_, ReportFileNames().at(1)));
    JobParameters params;
    DeleteOldReportFiles(params);
    QVERIFY(QDir::setCurrent(saved));
    QCOMPARE(Tree(root_), Sorted(QStringList{ReportFileNames().at(1)}));
}

#ifndef _WIN32
void RenamePassTest::folderSwappedForLinkMidJobIsNotEntered()
{
    // At every moment a job asks whether to stop (each folder entered, each
    // entry, each rename) a folder of the tree, already listed, is swapped
    // for a link out of the tree: nothing out there may change.
    const QString tree = root_ + "/T", outside = root_ + "/outside";
    int jobs = 0;
    for (const JobKind kind : {JobKind::Replace, JobKind::Pairs}) {
        for (const bool onlyFiles : {true, false}) {
            for (int swapAt = 1;; ++swapAt) {
                QVERIFY(QDir(tree).removeRecursively() && QDir(outside).removeRecursively());
                for (const char *file : {"a/s1_x/f_x", "a/s2_x/f_x", "a/s3_x/f_x", "a/f_x",
                                         "c/d_x/in_x.txt", "b_x/in_x.txt",
                                         "b_x/sub_x/in_x.txt", "c/in_x.txt"})
                    QVERIFY(MakeFile(tree, file));
                QVERIFY(MakeFile(outside, "victim_x.txt"));
                QVERIFY(MakeFile(outside, "sub_x/victim_x.txt"));
                const QStringList outsideBefore = Tree(outside);
                JobParameters params;
                params.kind = kind;
                params.folderPath = tree + "/";
                params.onlyFiles = onlyFiles;
                params.findText = "_x";
                params.replacementText = "_Y";
                params.findList = QStringList{"_x", "_Y"};
                params.replacementList = QStringList{"_Y", "_Z"};
                params.writeReport = false;
                QVERIFY(!CheckLaunch(params, OldReports::Keep).Refused());
                int asked = 0;
                RecordingSink sink;
                sink.stopWhen = [&](const RecordingSink &) {
                    if (++asked == swapAt)
                        for (const char *name : {"/b_x", "/b_Y", "/b_Z"})
                            if (QFile::rename(tree + name, tree + "/.moved"))
                                QFile::link("../outside", tree + name);
                    return false;
                };
                RunPass(params, sink);
                ++jobs;
                QCOMPARE(Tree(outside), outsideBefore);
                if (asked < swapAt)
                    break; // the job ended before this moment: every moment tried
            }
        }
    }
    QVERIFY2(jobs >= 200, qPrintable(QString::number(jobs)));
}

void RenamePassTest::folderWrittenThroughLinkAndDotDotIsTheOneScanned()
{
    // "lnk/.." is the folder holding where the link leads, not the link's
    // own folder: the system's answer, which cleaning the text gets wrong.
    const QString top = root_ + "/e1";
    QVERIFY(MakeFile(top, "deep/a/s/in_x.txt"));
    QVERIFY(MakeFolder(top, "deep/a/b"));
    QVERIFY(MakeFile(top, "s/victim_x.txt"));
    QVERIFY(MakeLink("deep/a/b", top, "lnk"));
    JobParameters params;
    params.kind = JobKind::Replace;
    params.folderPath = top + "/lnk/../";
    params.findText = "_x";
    params.replacementText = "_Y";
    QVERIFY(!CheckLaunch(params, OldReports::Keep).Refused());
    const PassOutcome out = RunPass(params, sink_);

    QCOMPARE(Tree(top + "/s"), QStringList{"victim_x.txt"});
    QCOMPARE(Tree(top + "/deep/a"),
             Sorted(QStringList({"b/", "s/", "s/in_Y.txt", RenameReportFileName()})));
    // Shown by the folder's own path, since the text cleaned names another.
    const QString shown = QDir::toNativeSeparators(top + "/deep/a/s/in_x.txt");
    QCOMPARE(out.renameLog, QStringList{shown});
    QCOMPARE(sink_.reports,
             QStringList{QDir::toNativeSeparators(top + "/deep/a/" + RenameReportFileName())});
}

void RenamePassTest::folderSwappedAfterLaunchIsNotScanned()
{
    // The launch checked one folder; the job finds a link to another at its
    // path: it renames nothing, and says it could not read the folder.
    QVERIFY(MakeFile(root_, "T/in_x.txt"));
    QVERIFY(MakeFile(root_, "outside/victim_x.txt"));
    JobParameters params = Params();
    params.folderPath = root_ + "/T/";
    params.findText = "_x";
    params.replacementText = "_Y";
    QVERIFY(!CheckLaunch(params, OldReports::Keep).Refused());
    QVERIFY(QFile::rename(root_ + "/T", root_ + "/T.old"));
    QVERIFY(MakeLink("outside", root_, "T"));

    const PassOutcome out = RunJob(JobKind::Replace, params, sink_);

    QCOMPARE(Tree(root_ + "/outside"), QStringList{"victim_x.txt"});
    QCOMPARE(Tree(root_ + "/T.old"), QStringList{"in_x.txt"});
    QVERIFY(out.renameLog.isEmpty());
    QVERIFY(out.unreadableFolders > 0);
}
#endif

QTEST_GUILESS_MAIN(RenamePassTest)
#include "tst_renamepass.moc"
