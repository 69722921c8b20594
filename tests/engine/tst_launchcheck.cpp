// The one launch check of the window and the command line: which refusal
// comes first, how it is shown, and what it touches.

#include "engine/checks.h"
#include "engine/jobparameters.h"
#include "tests/support/enginetestsupport.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace enginetest;

class LaunchCheckTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void refusalsComeInTheirOrder_data();
    void refusalsComeInTheirOrder();
    void oldReportsGoOnlyWhenAskedAndBeforeTheFolderCheck();
    void acceptedJobKeepsAFolderNamedAsAReport();
    void topsOfDrivesRefusedHoweverReached();

private:
    QString ReportBeside(const QString &folder, int index) const
    {
        return folder + ReportFileNames().at(index);
    }

    QScopedPointer<QTemporaryDir> dir_;
    QString root_;
};

void LaunchCheckTest::init()
{
    dir_.reset(new QTemporaryDir);
    QVERIFY(dir_->isValid());
    root_ = dir_->path();
}

void LaunchCheckTest::refusalsComeInTheirOrder_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("folderExists");
    QTest::addColumn<QString>("insertText");
    QTest::addColumn<int>("finds");
    QTest::addColumn<int>("replacements");
    QTest::addColumn<int>("shown");
    QTest::addColumn<QString>("message");

    const int label = int(LaunchRefusal::Shown::ProgressLabel);
    const int box = int(LaunchRefusal::Shown::AboutBox);
    const int none = int(LaunchRefusal::Shown::None);
    const QString illegal = QStringLiteral("插入内容包含非法字符,无法用于文件名!");
    const QString mismatch = QStringLiteral("查找数和替换数不一致,请核对!");
    const QString missing = QStringLiteral("文件夹不存在,请选择正确路径!");
    const int insert = int(JobKind::Insert), pairs = int(JobKind::Pairs),
              replace = int(JobKind::Replace);
    QTest::newRow("illegal insert text before missing folder")
        << insert << false << "a|b" << 1 << 1 << label << illegal;
    QTest::newRow("illegal insert text, folder there") << insert << true << "a*" << 1 << 1 << label << illegal;
    QTest::newRow("legal insert text, missing folder") << insert << false << "_1" << 1 << 1 << label << missing;
    QTest::newRow("insert ignores the pair lists") << insert << true << "_1" << 2 << 1 << none << QString();
    QTest::newRow("pair mismatch before missing folder") << pairs << false << "a|b" << 2 << 3 << box << mismatch;
    QTest::newRow("pairs ignore the insert text") << pairs << true << "a|b" << 2 << 2 << none << QString();
    QTest::newRow("replace, missing folder") << replace << false << "a|b" << 2 << 1 << label << missing;
    QTest::newRow("replace accepted") << replace << true << "a|b" << 2 << 1 << none << QString();
}

void LaunchCheckTest::refusalsComeInTheirOrder()
{
    QFETCH(int, kind);
    QFETCH(bool, folderExists);
    QFETCH(QString, insertText);
    QFETCH(int, finds);
    QFETCH(int, replacements);
    QFETCH(int, shown);
    QFETCH(QString, message);

    JobParameters params;
    params.kind = JobKind(kind);
    params.folderPath = root_ + (folderExists ? "/" : "/missing/");
    params.insertText = insertText;
    for (int i = 0; i < finds; ++i)
        params.findList << QStringLiteral("f%1").arg(i);
    for (int i = 0; i < replacements; ++i)
        params.replacementList << QStringLiteral("r%1").arg(i);

    const LaunchRefusal refusal = CheckLaunch(params, OldReports::Delete);
    QCOMPARE(int(refusal.shown), shown);
    QCOMPARE(refusal.message, message);
    QCOMPARE(refusal.Refused(), shown != int(LaunchRefusal::Shown::None));
}

void LaunchCheckTest::oldReportsGoOnlyWhenAskedAndBeforeTheFolderCheck()
{
    // A folder typed without its "/": the report names are glued to it, so
    // its reports lie beside it even when it does not exist.
    const QString missing = root_ + "/photos";
    for (int i : {0, 1, 2})
        QVERIFY(MakeFile(root_, QFileInfo(ReportBeside(missing, i)).fileName()));

    JobParameters params;
    params.kind = JobKind::Replace;
    params.folderPath = missing;
    QVERIFY(CheckLaunch(params, OldReports::Keep).Refused());
    for (int i : {0, 1, 2})
        QVERIFY(QFileInfo::exists(ReportBeside(missing, i)));

    // A refusal before the folder check leaves them too.
    params.kind = JobKind::Insert;
    params.insertText = QStringLiteral("?");
    QVERIFY(CheckLaunch(params, OldReports::Delete).Refused());
    for (int i : {0, 1, 2})
        QVERIFY(QFileInfo::exists(ReportBeside(missing, i)));

    params.kind = JobKind::Replace;
    const LaunchRefusal refusal = CheckLaunch(params, OldReports::Delete);
    QCOMPARE(refusal.message, QStringLiteral("文件夹不存在,请选择正确路径!"));
    for (int i : {0, 1, 2})
        QVERIFY(!QFileInfo::exists(ReportBeside(missing, i)));
}

void LaunchCheckTest::acceptedJobKeepsAFolderNamedAsAReport()
{
    QVERIFY(MakeFolder(root_, "chosen/" + ReportFileNames().at(1))); // a folder, not a report
    JobParameters params;
    params.kind = JobKind::Replace;
    params.folderPath = root_ + "/chosen/";
    QVERIFY(!CheckLaunch(params, OldReports::Delete).Refused());
    QVERIFY(QFileInfo(ReportPathsIn(params.folderPath).at(1)).isDir());
}

void LaunchCheckTest::topsOfDrivesRefusedHoweverReached()
{
    // A job there would rename the whole drive. Links to tops are made by
    // the test scripts where they can (on the Linux side of Wine's drive).
    QStringList tops;
#ifdef _WIN32
    tops << "C:/" << "C:\\" << "C:/qb-rootlink/" << "C:/qb-fsroot/" << "C:/qb-fsroot\\";
#else
    QVERIFY(MakeLink("/", root_, "rootlink"));
    tops << "/" << "/." << "/tmp/.." << root_ + "/rootlink/" << root_ + "/rootlink/tmp/..";
#endif
    int tried = 0;
    for (const QString &top : tops) {
        if (!QFileInfo::exists(top))
            continue; // a link the script could not make
        ++tried;
        JobParameters params;
        params.kind = JobKind::Replace;
        params.folderPath = top;
        const LaunchRefusal refusal = CheckLaunch(params, OldReports::Keep);
        QVERIFY2(refusal.Refused(), qPrintable(top));
        QCOMPARE(refusal.message, QStringLiteral("文件夹不存在,请选择正确路径!"));
        QVERIFY(!params.chosen.Found());
    }
    QVERIFY(tried >= 2);
}

QTEST_GUILESS_MAIN(LaunchCheckTest)
#include "tst_launchcheck.moc"
