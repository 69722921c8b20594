// The three launches from the window: what each checks before a job starts,
// what it leaves behind when it refuses, and how the worker thread comes and
// goes around real jobs on real trees.
#include "app/startup.h"
#include "app/systemtray.h"
#include "engine/jobparameters.h"
#include "tests/support/enginetestsupport.h"
#include "ui/mainwindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>

using namespace enginetest;

namespace {

const QString kRenameReport = QStringLiteral("包含内容并成功修改的文件目录.txt");

QByteArray ReadSettings(const QString &folder)
{
    return ReadFile(folder + QStringLiteral("/Quillbarrow.qzt"));
}

} // namespace

class TestMainWindowJobs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        QVERIFY(home.isValid());
        QByteArray program = QFile::encodeName(QDir::toNativeSeparators(home.filePath(QStringLiteral("Quillbarrow"))));
        char *argv[] = {program.data(), nullptr};
        InitStartupFields(1, argv);
    }

    void init()
    {
        QVERIFY(MakeFile(home.path(), QStringLiteral("Quillbarrow.qzt"), "sourcePath=\r\n"));
        shown.clear();
        tree.reset(new QTemporaryDir);
        QVERIFY(tree->isValid());
        window.reset(new MainWindow);
        // No test opens an editor.
        window->setReportViewer([this](const QString &path) { shown << path; });
    }

    void cleanup()
    {
        window.reset();
        tree.reset();
    }

    void replaceJobRunsOnTheWorkerAndReports()
    {
        QVERIFY(MakeFile(root(), QStringLiteral("a.txt")));
        QVERIFY(MakeFile(root(), QStringLiteral("sub/a2.txt")));
        QVERIFY(MakeFile(root(), QStringLiteral("sub/keep.txt")));
        label()->setText(QStringLiteral("earlier text"));
        edit("lEdt_SourcePath")->setText(root() + QLatin1Char('/'));
        edit("lEdt_FindText")->setText(QStringLiteral("a"));
        edit("lEdt_ReplaceExcelText")->setText(QStringLiteral("b"));

        button("pBtn_ReplaceExcelText")->click();
        // Synchronously: label cleared, buttons off, folder remembered.
        QCOMPARE(label()->text(), QString());
        QVERIFY(!anyActionButtonEnabled());
        QCOMPARE(ReadSettings(home.path()), "sourcePath=" + QFile::encodeName(root()) + "/\r\n");

        QTRY_COMPARE(shown.size(), 1);
        QTRY_VERIFY(allActionButtonsEnabled());
        QTRY_VERIFY(label()->text().contains(
            QRegularExpression(QStringLiteral("^扫描文件3个,扫描文件夹1个,修改文件名2个,修改文件夹名0个,耗时\\d+秒。$"))));
        QCOMPARE(Tree(root()), Sorted({QStringLiteral("b.txt"), QStringLiteral("sub/"), QStringLiteral("sub/b2.txt"),
                                       QStringLiteral("sub/keep.txt"), kRenameReport}));
        QCOMPARE(shown.first(), QDir::toNativeSeparators(root() + QLatin1Char('/') + kRenameReport));
        QCOMPARE(ReadFile(root() + QLatin1Char('/') + kRenameReport),
                 ReportText({root() + QStringLiteral("/a.txt"), root() + QStringLiteral("/sub/a2.txt")}));
    }

    void launchDeletesOldReportsBeforeTheFolderCheck()
    {
        // A folder typed without its trailing "/": the report names are
        // joined straight to it, so they lie beside the folder.
        const QString missing = root() + QStringLiteral("/photos");
        const QStringList besideNames = {missing + ReportFileNames().at(0), missing + ReportFileNames().at(2)};
        for (const QString &name : {QStringLiteral("photos") + ReportFileNames().at(0),
                                    QStringLiteral("photos") + ReportFileNames().at(2)})
            QVERIFY(MakeFile(root(), name));
        edit("lEdt_SourcePath")->setText(missing);
        button("pBtn_ReplaceExcelText")->click();

        QCOMPARE(label()->text(), QStringLiteral("文件夹不存在,请选择正确路径!"));
        QVERIFY(allActionButtonsEnabled());
        for (const QString &path : besideNames)
            QVERIFY2(!QFile::exists(path), qPrintable(path));
        // A refused job does not remember its folder.
        QCOMPARE(ReadSettings(home.path()), QByteArray("sourcePath=\r\n"));
    }

    void folderCheckTakesOneTrailingSlashOnly_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("no slash") << QString() << true;
        QTest::newRow("one slash") << QStringLiteral("/") << true;
        QTest::newRow("two slashes") << QStringLiteral("//") << false;
        QTest::newRow("backslash") << QStringLiteral("\\") << false;
    }

    void folderCheckTakesOneTrailingSlashOnly()
    {
        QFETCH(QString, suffix);
        QFETCH(bool, accepted);
        edit("lEdt_SourcePath")->setText(root() + suffix);
        button("pBtn_InsertText")->click();
        QCOMPARE(label()->text() == QStringLiteral("文件夹不存在,请选择正确路径!"), !accepted);
        QTRY_VERIFY(allActionButtonsEnabled());
    }

    void topOfADriveIsRefusedHoweverReached()
    {
        // A job there would rename the whole drive.
#ifdef _WIN32
        const QString top = QStringLiteral("C:/qb-rootlink/"); // made by the test script
        if (!QFileInfo::exists(top))
            QSKIP("no link to the top of drive C here");
#else
        QVERIFY(MakeLink(QStringLiteral("/"), root(), QStringLiteral("rootlink")));
        const QString top = root() + QStringLiteral("/rootlink/");
#endif
        edit("lEdt_SourcePath")->setText(top);
        edit("lEdt_FindText")->setText(QStringLiteral("\u0001never"));
        button("pBtn_ReplaceExcelText")->click();
        QCOMPARE(label()->text(), QStringLiteral("文件夹不存在,请选择正确路径!"));
        QVERIFY(allActionButtonsEnabled());
    }

    void insertTextWithAnIllegalCharacterIsRefusedFirst()
    {
        QVERIFY(MakeFile(root(), kRenameReport));
        QVERIFY(MakeFile(root(), QStringLiteral("a.txt")));
        edit("lEdt_SourcePath")->setText(root() + QLatin1Char('/'));
        edit("lEdt_InsertText")->setText(QStringLiteral("why?"));
        button("pBtn_InsertText")->click();

        QCOMPARE(label()->text(), QStringLiteral("插入内容包含非法字符,无法用于文件名!"));
        QVERIFY(allActionButtonsEnabled());
        QCOMPARE(Tree(root()), Sorted({QStringLiteral("a.txt"), kRenameReport}));
        QCOMPARE(ReadSettings(home.path()), QByteArray("sourcePath=\r\n"));
    }

    void insertJobRenamesBehindTheBaseName()
    {
        QVERIFY(MakeFile(root(), QStringLiteral("photo.jpg")));
        QVERIFY(MakeFolder(root(), QStringLiteral("album.2020")));
        edit("lEdt_SourcePath")->setText(root() + QLatin1Char('/'));
        edit("lEdt_InsertText")->setText(QStringLiteral("_1"));
        window->findChild<QAbstractButton *>(QStringLiteral("rBtn_InsertBehind"))->click();
        button("pBtn_InsertText")->click();

        QTRY_COMPARE(shown.size(), 1);
        QCOMPARE(Tree(root()), Sorted({QStringLiteral("album.2020_1/"), kRenameReport, QStringLiteral("photo_1.jpg")}));
        QTRY_VERIFY(label()->text().startsWith(QStringLiteral("扫描文件1个,扫描文件夹1个,修改文件名1个,修改文件夹名1个,")));
    }

    void pairCountMismatchShowsTheBoxAndNothingElse()
    {
        QVERIFY(MakeFile(root(), kRenameReport));
        QVERIFY(MakeFile(root(), QStringLiteral("a.txt")));
        label()->setText(QStringLiteral("earlier text"));
        edit("lEdt_SourcePath")->setText(root() + QLatin1Char('/'));
        plainEdit("pTEdt_FindText")->setPlainText(QStringLiteral("a\nb"));
        plainEdit("pTEdt_ReplaceExcelText")->setPlainText(QStringLiteral("c\nd\n"));

        QString title;
        QString text;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            title = box->windowTitle();
            text = box->text();
            box->accept();
        });
        button("pBtn_ReplaceExcelText_2")->click();

        QCOMPARE(title, QStringLiteral("注意："));
        QCOMPARE(text, QStringLiteral("查找数和替换数不一致,请核对!"));
        QCOMPARE(label()->text(), QStringLiteral("earlier text"));
        QVERIFY(allActionButtonsEnabled());
        QCOMPARE(Tree(root()), Sorted({QStringLiteral("a.txt"), kRenameReport}));
        QCOMPARE(ReadSettings(home.path()), QByteArray("sourcePath=\r\n"));
    }

    void pairsJobKeepsTheEarlierLabelAndChainsThePairs()
    {
        QVERIFY(MakeFile(root(), QStringLiteral("a.txt")));
        label()->setText(QStringLiteral("earlier text"));
        edit("lEdt_SourcePath")->setText(root() + QLatin1Char('/'));
        plainEdit("pTEdt_FindText")->setPlainText(QStringLiteral("a\nb"));
        plainEdit("pTEdt_ReplaceExcelText")->setPlainText(QStringLiteral("b\nc"));
        button("pBtn_ReplaceExcelText_2")->click();
        QCOMPARE(label()->text(), QStringLiteral("earlier text"));
        QVERIFY(!anyActionButtonEnabled());

        QTRY_COMPARE(shown.size(), 1);
        QTRY_VERIFY(label()->text().startsWith(QStringLiteral("修改文件名2个,修改文件夹名0个,耗时")));
        QCOMPARE(Tree(root()), Sorted({QStringLiteral("c.txt"), kRenameReport}));
        QCOMPARE(ReadFile(root() + QLatin1Char('/') + kRenameReport),
                 ReportText({root() + QStringLiteral("/a.txt"), root() + QStringLiteral("/b.txt")}));
    }

    void secondJobReplacesTheFirstWorkerAfterItEnds()
    {
        QVERIFY(MakeFile(root(), QStringLiteral("a.txt")));
        edit("lEdt_SourcePath")->setText(root() + QLatin1Char('/'));

        // The viewer is called on this thread once the worker has written its
        // report; the second job's report holds only its own rename.
        std::atomic<int> jobsSeen{0};
        QList<QByteArray> reportsSeen;
        window->setReportViewer([&](const QString &path) {
            reportsSeen << ReadFile(QDir::fromNativeSeparators(path));
            ++jobsSeen;
        });

        edit("lEdt_FindText")->setText(QStringLiteral("a"));
        edit("lEdt_ReplaceExcelText")->setText(QStringLiteral("b"));
        button("pBtn_ReplaceExcelText")->click();
        QTRY_COMPARE(jobsSeen.load(), 1);
        QTRY_VERIFY(allActionButtonsEnabled());

        edit("lEdt_FindText")->setText(QStringLiteral("b"));
        edit("lEdt_ReplaceExcelText")->setText(QStringLiteral("c"));
        button("pBtn_ReplaceExcelText")->click();
        QTRY_COMPARE(jobsSeen.load(), 2);

        QCOMPARE(reportsSeen, QList<QByteArray>({ReportText({root() + QStringLiteral("/a.txt")}),
                                                 ReportText({root() + QStringLiteral("/b.txt")})}));
        QCOMPARE(Tree(root()), Sorted({QStringLiteral("c.txt"), kRenameReport}));
        // The second launch deleted the first report; the second one lists c's old name only.
        QCOMPARE(ReadFile(root() + QLatin1Char('/') + kRenameReport),
                 ReportText({root() + QStringLiteral("/b.txt")}));
    }

    void progressLineFollowsTheJobInOrderAndEndsWithTheSummary()
    {
        QStringList expected;
        for (int i = 0; i < 3000; ++i) {
            const QString name = QStringLiteral("d%1/f%2.txt").arg(i / 100, 2, 10, QLatin1Char('0')).arg(i, 4, 10, QLatin1Char('0'));
            QVERIFY(MakeFile(root(), name));
            expected << QDir::toNativeSeparators(root() + QLatin1Char('/') + name);
        }
        edit("lEdt_SourcePath")->setText(root() + QLatin1Char('/'));
        edit("lEdt_FindText")->setText(QStringLiteral(".txt"));
        edit("lEdt_ReplaceExcelText")->setText(QStringLiteral(".done"));
        QStringList seen;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (seen.isEmpty() || seen.last() != label()->text())
                seen << label()->text();
        });
        poll.start(1);
        button("pBtn_ReplaceExcelText")->click();
        QTRY_VERIFY(allActionButtonsEnabled());
        // With the buttons back, the summary is already on the line.
        QVERIFY2(label()->text().startsWith(QStringLiteral("扫描文件3000个,扫描文件夹30个,修改文件名3000个,")),
                 qPrintable(label()->text()));
        poll.stop();
        int last = -1;
        for (const QString &text : seen) {
            if (text.isEmpty() || text.startsWith(QStringLiteral("扫描文件")))
                continue;
            const int at = expected.indexOf(text);
            QVERIFY2(at > last, qPrintable(text));
            last = at;
        }
    }

    void quittingMidJobStopsBetweenEntriesAndExitsWithZero()
    {
        const int count = 20000;
        QStringList expected;
        for (int i = 0; i < count; ++i) {
            const QString name = QStringLiteral("d%1/f%2.txt").arg(i / 500).arg(i);
            QVERIFY(MakeFile(root(), name));
            expected << name;
        }
        edit("lEdt_SourcePath")->setText(root() + QLatin1Char('/'));
        edit("lEdt_FindText")->setText(QStringLiteral(".txt"));
        edit("lEdt_ReplaceExcelText")->setText(QStringLiteral(".done"));

        // Quit through the tray as soon as the first entry is under way.
        SystemTray *tray = window->findChild<SystemTray *>();
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (!label()->text().isEmpty()) {
                poll.stop();
                tray->contextMenu()->actions().at(1)->trigger();
            }
        });
        poll.start(0);
        button("pBtn_ReplaceExcelText")->click();
        QCOMPARE(QCoreApplication::exec(), 0);
        window.reset(); // waits for the pass to stop

        // Every file is there exactly once, under its old name or its new one.
        QStringList files;
        int renamed = 0;
        for (const QString &entry : Tree(root())) {
            if (entry.endsWith(QLatin1Char('/')) || entry == kRenameReport)
                continue;
            if (entry.endsWith(QStringLiteral(".done"))) {
                ++renamed;
                files << entry.left(entry.size() - 5) + QStringLiteral(".txt");
            } else {
                files << entry;
            }
        }
        QCOMPARE(Sorted(files), Sorted(expected));
        QVERIFY(renamed > 0);
        qInfo("renamed %d of %d before the stop", renamed, count);
        // What was renamed is in the report, and nothing was opened.
        const QList<QByteArray> lines = ReadFile(root() + QLatin1Char('/') + kRenameReport).split('\n');
        QCOMPARE(lines.size() - 1, renamed);
        QVERIFY(shown.isEmpty());
    }

private:
    QString root() const { return tree->path(); }
    QLabel *label() const { return window->findChild<QLabel *>(QStringLiteral("lb_ShowDisposingFile")); }
    QLineEdit *edit(const char *name) const { return window->findChild<QLineEdit *>(QString::fromLatin1(name)); }
    QPlainTextEdit *plainEdit(const char *name) const
    {
        return window->findChild<QPlainTextEdit *>(QString::fromLatin1(name));
    }
    QAbstractButton *button(const char *name) const
    {
        return window->findChild<QAbstractButton *>(QString::fromLatin1(name));
    }
    QList<QAbstractButton *> actionButtons() const
    {
        return {button("pBtn_ReplaceExcelText"), button("pBtn_ReplaceExcelText_2"), button("pBtn_InsertText")};
    }
    bool allActionButtonsEnabled() const
    {
        for (QAbstractButton *b : actionButtons())
            if (!b->isEnabled())
                return false;
        return true;
    }
    bool anyActionButtonEnabled() const
    {
        for (QAbstractButton *b : actionButtons())
            if (b->isEnabled())
                return true;
        return false;
    }

    QTemporaryDir home;
    QScopedPointer<QTemporaryDir> tree;
    QScopedPointer<MainWindow> window;
    QStringList shown; // the reports the window would have opened
};

QTEST_MAIN(TestMainWindowJobs)
#include "tst_mainwindowjobs.moc"
