// The Windows branch as a Windows user meets it, run under Wine in a Chinese
// locale (ANSI code page 936, GBK): the wide-name scanner against QDir's own
// listings on random trees, renames that never replace anything, the rename
// report in GBK with CR LF, the settings file in GBK, the command line on
// Chinese names, and names that the code page can't hold.
#include "app/startup.h"
#include "engine/checks.h"
#include "engine/folderscan.h"
#include "engine/jobparameters.h"
#include "engine/renamepass.h"
#include "tests/support/enginetestsupport.h"
#include "ui/mainwindow.h"
#include "tests/support/referencemodels.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <windows.h>

#include <atomic>
#include <mutex>
#include <random>
#include <thread>

using namespace enginetest;

namespace {

const QString kReport = QStringLiteral("包含内容并成功修改的文件目录.txt");

// GBK itself, whatever the process's code page: the expectations must not
// follow a program that picked the wrong one.
QByteArray Gbk(const QString &text)
{
    QTextCodec *codec = QTextCodec::codecForName("GBK");
    return codec ? codec->fromUnicode(text) : QByteArray("<no GBK codec>");
}

// The report as it must be: one old path a line, native separators, GBK,
// every line ended by CR LF.
QByteArray ReportOf(const QStringList &paths)
{
    QByteArray bytes;
    for (const QString &path : paths)
        bytes += Gbk(QDir::toNativeSeparators(path)) + "\r\n";
    return bytes;
}

bool MakeHidden(const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    return SetFileAttributesW(reinterpret_cast<const wchar_t *>(native.utf16()),
                              FILE_ATTRIBUTE_HIDDEN) != 0;
}

class Sink : public PassSink
{
public:
    void RenameStarting(const RenameAttempt &attempt) override { progress << attempt.oldPath; }
    void PassEnded(const QString &text) override { summary = text; }
    QStringList progress;
    QString summary;
};

// quillbarrow-cli.exe run to its end; code -1 when it did not end normally.
struct CliRun
{
    int code = -1;
    QByteArray out;
    QByteArray err;
};

CliRun RunCli(const QStringList &arguments)
{
    QProcess cli;
    cli.start(QStringLiteral(QB_CLI_PROGRAM), arguments);
    CliRun run;
    if (!cli.waitForFinished(60000) || cli.exitStatus() != QProcess::NormalExit)
        return run;
    run.code = cli.exitCode();
    run.out = cli.readAllStandardOutput();
    run.err = cli.readAllStandardError();
    return run;
}

PassOutcome Replace(const QString &folder, const QString &find, const QString &replacement,
                    Sink &sink)
{
    JobParameters params;
    params.kind = JobKind::Replace;
    params.folderPath = folder;
    params.findText = find;
    params.replacementText = replacement;
    DeleteOldReportFiles(params);
    return RunPass(params, sink);
}

// The plain way to list a tree, as the scanner must list it: a folder's own
// files (hidden ones too), or its visible subfolders, then each visible
// subfolder's collection in turn; siblings in the scanner's order.
QStringList Reference(const QString &path, bool files)
{
    QStringList result;
    const QDir dir(path);
    QList<QFileInfo> folders = dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    SortSiblings(folders);
    if (files) {
        QList<QFileInfo> own =
            dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::Unsorted);
        SortSiblings(own);
        for (const QFileInfo &file : own)
            result << file.filePath();
    } else {
        for (const QFileInfo &folder : folders)
            result << folder.filePath();
    }
    for (const QFileInfo &folder : folders)
        result << Reference(folder.filePath(), files);
    return result;
}

QStringList PathsOf(const QList<QFileInfo> &entries)
{
    QStringList paths;
    for (const QFileInfo &entry : entries)
        paths << entry.filePath();
    return paths;
}

// A random tree: Chinese, ASCII and mixed names, letters in both cases,
// dots and spaces, hidden files and folders, empty folders.
void RandomTree(const QString &root, std::mt19937 &random, int depth)
{
    static const QStringList stems = {
        QStringLiteral("旅行"), QStringLiteral("照片 01"), QStringLiteral("Data"), QStringLiteral("b"),
        QStringLiteral("数据.old"), QStringLiteral("Ab"), QStringLiteral("_x"), QStringLiteral("文件夹"),
        QStringLiteral(".hidden"), QStringLiteral("说明 (2)"), QStringLiteral("Z9"), QStringLiteral("e.tar.gz")};
    const int count = int(random() % 7);
    QSet<QString> taken; // Windows names are equal ignoring case
    for (int i = 0; i < count; ++i) {
        QString name = stems.at(int(random() % stems.size()));
        if (random() % 2)
            name += QString::number(random() % 3);
        if (taken.contains(name.toLower()))
            continue;
        taken.insert(name.toLower());
        const QString path = root + QLatin1Char('/') + name;
        const bool folder = depth < 3 && random() % 3 == 0;
        if (folder) {
            QVERIFY(QDir().mkpath(path));
            RandomTree(path, random, depth + 1);
        } else {
            QVERIFY(MakeFile(root, name));
        }
        if (random() % 6 == 0)
            QVERIFY(MakeHidden(path));
    }
}

} // namespace

class WindowsBranchTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        // Everything below is about the GBK code page: say so plainly when
        // the run was set up in another one.
        QVERIFY2(GetACP() == 936, "the ANSI code page must be 936 (run Wine with LANG=zh_CN.UTF-8)");
        QCOMPARE(QString::fromUtf8("旅行").toLocal8Bit(), QByteArray("\xC2\xC3\xD0\xD0"));
    }

    void init()
    {
        tree.reset(new QTemporaryDir);
        QVERIFY(tree->isValid());
    }

    // --- the scanner -----------------------------------------------------------

    void scannerListsAsQDirDoes()
    {
        for (unsigned seed = 1; seed <= 25; ++seed) {
            QTemporaryDir dir;
            QVERIFY(dir.isValid());
            std::mt19937 random(seed);
            RandomTree(dir.path(), random, 0);
            if (QTest::currentTestFailed())
                return;
            QCOMPARE(PathsOf(ScanFiles(dir.path())), Reference(dir.path(), true));
            QCOMPARE(PathsOf(ScanFolders(dir.path())), Reference(dir.path(), false));
            // The chosen folder as the window gives it, with its "/".
            QCOMPARE(PathsOf(ScanFiles(dir.path() + QLatin1Char('/'))), Reference(dir.path(), true));
        }
    }

    void hiddenFilesListedHiddenFoldersNot()
    {
        QVERIFY(MakeFile(root(), QStringLiteral("隐藏.txt")));
        QVERIFY(MakeFile(root(), QStringLiteral("藏/里面.txt")));
        QVERIFY(MakeHidden(root() + QStringLiteral("/隐藏.txt")));
        QVERIFY(MakeHidden(root() + QStringLiteral("/藏")));
        QCOMPARE(PathsOf(ScanFiles(root())), QStringList{root() + QStringLiteral("/隐藏.txt")});
        QCOMPARE(PathsOf(ScanFolders(root())), QStringList());
    }

    // --- the rename --------------------------------------------------------------

    void renameNeverReplacesAFile()
    {
        QVERIFY(MakeFile(root(), QStringLiteral("旅行a.txt"), "moved"));
        QVERIFY(MakeFile(root(), QStringLiteral("旅行b.txt"), "kept"));
        Sink sink;
        const PassOutcome outcome = Replace(root() + QLatin1Char('/'), QStringLiteral("a"),
                                            QStringLiteral("b"), sink);
        QCOMPARE(outcome.filesChanged, 0);
        QCOMPARE(ReadFile(root() + QStringLiteral("/旅行a.txt")), QByteArray("moved"));
        QCOMPARE(ReadFile(root() + QStringLiteral("/旅行b.txt")), QByteArray("kept"));
        QVERIFY(!QFile::exists(root() + QLatin1Char('/') + kReport));
    }

    void renameNeverReplacesAFolder()
    {
        QVERIFY(MakeFile(root(), QStringLiteral("旧1/a.txt"), "inside"));
        QVERIFY(MakeFolder(root(), QStringLiteral("新1")));
        Sink sink;
        const PassOutcome outcome = Replace(root() + QLatin1Char('/'), QStringLiteral("旧"),
                                            QStringLiteral("新"), sink);
        QCOMPARE(outcome.foldersChanged, 0);
        QCOMPARE(Tree(root()), Sorted({QStringLiteral("旧1/"), QStringLiteral("旧1/a.txt"),
                                       QStringLiteral("新1/")}));
    }

    // Someone else makes each target just as the pass reaches it: whether
    // that lands before the check for an existing target, between the check
    // and the rename, or after the rename, a file they made is never
    // replaced. Only the rename call guards the middle case, so this is the
    // test of that call; it needs the timing to fall there at least once to
    // tell anything, which over a thousand entries it does here.
    void renameNeverReplacesAnEntryMadeMeanwhile()
    {
        const int count = 1000;
        for (int i = 0; i < count; ++i)
            QVERIFY(MakeFile(root(), QStringLiteral("旧%1.txt").arg(i), "renamed"));
        std::mutex lock;
        QString next;
        std::atomic<bool> done{false};
        QStringList made;
        std::thread other([&] {
            QString last;
            while (!done) {
                QString target;
                {
                    const std::lock_guard<std::mutex> locker(lock);
                    target = next;
                }
                if (target.isEmpty() || target == last)
                    continue;
                last = target;
                // A different moment for each entry, swept across the few
                // hundred microseconds that a rename takes here.
                QElapsedTimer wait;
                wait.start();
                const qint64 delay = (qint64(made.size()) * 7919 % 400) * 1000;
                while (wait.nsecsElapsed() < delay) {
                }
                HANDLE file = CreateFileW(reinterpret_cast<const wchar_t *>(target.utf16()),
                                          GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
                if (file == INVALID_HANDLE_VALUE)
                    continue;
                DWORD written = 0;
                WriteFile(file, "theirs", 6, &written, nullptr);
                CloseHandle(file);
                made << target;
            }
        });
        class RacingSink : public Sink
        {
        public:
            RacingSink(std::mutex &lock, QString &next) : lock_(lock), next_(next) {}
            void RenameStarting(const RenameAttempt &attempt) override
            {
                const std::lock_guard<std::mutex> locker(lock_);
                next_ = attempt.targetPath;
            }

        private:
            std::mutex &lock_;
            QString &next_;
        } sink(lock, next);
        const PassOutcome outcome = Replace(root() + QLatin1Char('/'), QStringLiteral("旧"),
                                            QStringLiteral("新"), sink);
        done = true;
        other.join();
        qInfo("%d of %d targets made by the other thread, %d renames made", int(made.size()),
              count, outcome.filesChanged);
        for (const QString &target : made)
            QCOMPARE(ReadFile(target), QByteArray("theirs"));
        // Every entry still there once: renamed, or beside the file that won.
        int old = 0;
        for (int i = 0; i < count; ++i)
            old += QFile::exists(root() + QStringLiteral("/旧%1.txt").arg(i)) ? 1 : 0;
        QCOMPARE(old + outcome.filesChanged, count);
        QCOMPARE(old, int(made.size()));
    }

    // Windows takes a change of case only for a rename of the entry itself,
    // not for a clash with an entry already there. (Wine, on a file system
    // that tells cases apart, keeps the old case and reports success; real
    // Windows changes it.)
    void changeOfCaseOnlyIsARename()
    {
        QVERIFY(MakeFile(root(), QStringLiteral("Photo旅行.JPG"), "p"));
        Sink sink;
        const PassOutcome outcome = Replace(root() + QLatin1Char('/'), QStringLiteral("Photo"),
                                            QStringLiteral("photo"), sink);
        QCOMPARE(outcome.filesChanged, 1);
        const QStringList after = Tree(root());
        QCOMPARE(after.size(), 2);
        QVERIFY(after.contains(kReport));
        QCOMPARE(QStringList(after).filter(QStringLiteral("photo旅行.JPG"), Qt::CaseInsensitive).size(), 1);
        QCOMPARE(ReadFile(root() + QStringLiteral("/photo旅行.JPG")), QByteArray("p"));
        QCOMPARE(ReadFile(root() + QLatin1Char('/') + kReport),
                 ReportOf({root() + QStringLiteral("/Photo旅行.JPG")}));
    }

    // --- the report ----------------------------------------------------------------

    void reportIsGbkWithCrLf()
    {
        QVERIFY(MakeFile(root(), QStringLiteral("旅行old.txt")));
        QVERIFY(MakeFile(root(), QStringLiteral("照片/old 说明.txt")));
        QVERIFY(MakeFile(root(), QStringLiteral("照片/不变.txt")));
        QVERIFY(MakeFolder(root(), QStringLiteral("数据old")));
        Sink sink;
        const PassOutcome outcome = Replace(root() + QLatin1Char('/'), QStringLiteral("old"),
                                            QStringLiteral("新"), sink);
        QCOMPARE(outcome.filesChanged, 2);
        QCOMPARE(outcome.foldersChanged, 1);
        const QString r = root() + QLatin1Char('/');
        const QStringList renamed = {r + QStringLiteral("旅行old.txt"), r + QStringLiteral("照片/old 说明.txt"),
                                     r + QStringLiteral("数据old")};
        QCOMPARE(sink.progress, QStringList({QDir::toNativeSeparators(renamed.at(0)),
                                             QDir::toNativeSeparators(renamed.at(1)),
                                             QDir::toNativeSeparators(renamed.at(2))}));
        QCOMPARE(ReadFile(r + kReport), ReportOf(renamed));
        QCOMPARE(Tree(root()), Sorted({QStringLiteral("旅行新.txt"), QStringLiteral("照片/"),
                                       QStringLiteral("照片/新 说明.txt"), QStringLiteral("照片/不变.txt"),
                                       QStringLiteral("数据新/"), kReport}));
    }

    // --- the window ------------------------------------------------------------------

    void windowRemembersTheFolderInGbk()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QByteArray program = QDir::toNativeSeparators(home.filePath(QStringLiteral("Quillbarrow.exe"))).toLocal8Bit();
        char *argv[] = {program.data(), nullptr};
        InitStartupFields(1, argv);
        QVERIFY(MakeFile(home.path(), QStringLiteral("Quillbarrow.qzt"), "sourcePath=\r\n"));

        const QString folder = root() + QStringLiteral("/相册 2024");
        QVERIFY(MakeFile(folder, QStringLiteral("旅行old.jpg")));
        QStringList shown;
        MainWindow window;
        window.setReportViewer([&shown](const QString &path) { shown << path; });
        window.findChild<QLineEdit *>(QStringLiteral("lEdt_SourcePath"))->setText(folder + QLatin1Char('/'));
        window.findChild<QLineEdit *>(QStringLiteral("lEdt_FindText"))->setText(QStringLiteral("old"));
        window.findChild<QLineEdit *>(QStringLiteral("lEdt_ReplaceExcelText"))->setText(QStringLiteral("新"));
        window.findChild<QAbstractButton *>(QStringLiteral("pBtn_ReplaceExcelText"))->click();

        QCOMPARE(ReadFile(home.filePath(QStringLiteral("Quillbarrow.qzt"))),
                 "sourcePath=" + Gbk(folder) + "/\r\n");
        QTRY_COMPARE(shown.size(), 1);
        QCOMPARE(shown.first(), QDir::toNativeSeparators(folder + QLatin1Char('/') + kReport));
        QCOMPARE(ReadFile(folder + QLatin1Char('/') + kReport),
                 ReportOf({folder + QStringLiteral("/旅行old.jpg")}));
        QCOMPARE(Tree(folder), Sorted({QStringLiteral("旅行新.jpg"), kReport}));
    }

    void windowReadsTheRememberedFolderAsGbk()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QByteArray program = QDir::toNativeSeparators(home.filePath(QStringLiteral("Quillbarrow.exe"))).toLocal8Bit();
        char *argv[] = {program.data(), nullptr};
        InitStartupFields(1, argv);
        const QString folder = QDir::toNativeSeparators(root() + QStringLiteral("/旅行/"));
        QVERIFY(MakeFile(home.path(), QStringLiteral("Quillbarrow.qzt"), "sourcePath=" + Gbk(folder) + "\r\n"));
        MainWindow window;
        QCOMPARE(window.findChild<QLineEdit *>(QStringLiteral("lEdt_SourcePath"))->text(), folder);
    }

    // --- names the code page can't hold ----------------------------------------------------

    // An emoji and a Hangul syllable have no GBK form: toLocal8Bit makes "?"
    // of them, and "?" is a wildcard to the 8-bit directory search. Such
    // entries are renamed by their wide names, each exactly once, next to
    // ordinary neighbours that a "?" would match; their report lines carry
    // "?" where GBK has nothing, which no Windows name can hold, so no line
    // names another entry.
    void namesOutsideGbkRenamedByTheirWideNames()
    {
        const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
        const QString hangul = QString::fromUtf8("\xED\x95\x9C");
        const QStringList files = {QStringLiteral("a") + emoji + QStringLiteral("o.txt"),
                                   QStringLiteral("a") + hangul + QStringLiteral("o.txt"),
                                   QStringLiteral("axo.txt"), QStringLiteral("a中o.txt"),
                                   QStringLiteral("a??o.txt").replace(QLatin1Char('?'), QLatin1Char('x')),
                                   QStringLiteral("d") + emoji + QStringLiteral("o/1o.txt"),
                                   QStringLiteral("dxo/2o.txt")};
        for (const QString &file : files)
            QVERIFY(MakeFile(root(), file, file.toUtf8()));
        Sink sink;
        const PassOutcome outcome = Replace(root() + QLatin1Char('/'), QStringLiteral("o"),
                                            QStringLiteral("p"), sink);
        QCOMPARE(outcome.filesChanged, 7);
        QCOMPARE(outcome.foldersChanged, 2);
        // Each entry under its own new name, with its own content.
        for (const QString &file : files) {
            QString renamed = file;
            renamed.replace(QLatin1Char('o'), QLatin1Char('p'));
            QCOMPARE(ReadFile(root() + QLatin1Char('/') + renamed), file.toUtf8());
        }
        QCOMPARE(Tree(root()).size(), files.size() + 2 + 1);

        const QList<QByteArray> lines = ReadFile(root() + QLatin1Char('/') + kReport).split('\n');
        QCOMPARE(lines.size(), outcome.renameLog.size() + 1);
        QCOMPARE(lines.last(), QByteArray());
        QTextCodec *gbk = QTextCodec::codecForName("GBK");
        for (int i = 0; i < outcome.renameLog.size(); ++i) {
            const QString path = outcome.renameLog.at(i);
            QVERIFY2(lines.at(i).endsWith('\r'), lines.at(i).constData());
            const QByteArray line = lines.at(i).chopped(1);
            const bool representable = gbk->canEncode(path);
            if (representable) {
                QCOMPARE(line, Gbk(path));
            } else {
                // "?" stands for each character GBK lacks, and only there.
                QVERIFY2(line.contains('?'), line.constData());
                QString readable = path;
                readable.remove(emoji).remove(hangul);
                QByteArray rest = line;
                rest.replace("?", "");
                QCOMPARE(rest, Gbk(readable));
            }
        }
    }

    // A chosen folder that GBK can't name can't be remembered or checked in
    // the local code page: the window refuses it and changes nothing.
    void windowRefusesAFolderGbkCannotName()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QByteArray program = QDir::toNativeSeparators(home.filePath(QStringLiteral("Quillbarrow.exe"))).toLocal8Bit();
        char *argv[] = {program.data(), nullptr};
        InitStartupFields(1, argv);
        QVERIFY(MakeFile(home.path(), QStringLiteral("Quillbarrow.qzt"), "sourcePath=\r\n"));
        const QString folder = root() + QStringLiteral("/相册") + QString::fromUtf8("\xF0\x9F\x98\x80");
        QVERIFY(MakeFile(folder, QStringLiteral("old.txt")));
        QStringList shown;
        MainWindow window;
        window.setReportViewer([&shown](const QString &path) { shown << path; });
        window.findChild<QLineEdit *>(QStringLiteral("lEdt_SourcePath"))->setText(folder + QLatin1Char('/'));
        window.findChild<QLineEdit *>(QStringLiteral("lEdt_FindText"))->setText(QStringLiteral("old"));
        window.findChild<QLineEdit *>(QStringLiteral("lEdt_ReplaceExcelText"))->setText(QStringLiteral("new"));
        window.findChild<QAbstractButton *>(QStringLiteral("pBtn_ReplaceExcelText"))->click();
        QTest::qWait(500);
        QCOMPARE(Tree(folder), QStringList{QStringLiteral("old.txt")});
        QCOMPARE(ReadFile(home.filePath(QStringLiteral("Quillbarrow.qzt"))), QByteArray("sourcePath=\r\n"));
        QVERIFY(shown.isEmpty());
    }

    // Code page 936 has no superscript one: the system's best fit writes it
    // as "1". A path so converted names another, existing folder, which must
    // be neither checked, nor cleared of its reports, nor named in a report.
    void bestFitLookAlikesNameNoOtherEntry()
    {
        const QString sup = QString::fromUtf8("bf\xC2\xB9"), plain = QStringLiteral("bf1");
        for (const QString &folder : {sup, plain}) {
            QVERIFY(MakeFile(root(), folder + QString::fromUtf8("/x\xC2\xB9o.txt")));
            QVERIFY(MakeFile(root(), folder + QLatin1Char('/') + kReport, "old report"));
        }
        QCOMPARE(sup.toLocal8Bit(), QByteArray("bf1")); // the look-alike this is about
        JobParameters params;
        params.kind = JobKind::Replace;
        params.folderPath = root() + QLatin1Char('/') + sup + QLatin1Char('/');
        const LaunchRefusal refusal = CheckLaunch(params, OldReports::Delete);
        QCOMPARE(refusal.message, QStringLiteral("文件夹不存在,请选择正确路径!"));
        // Its own old report went, by its wide name; the look-alike's stays.
        QVERIFY(!QFile::exists(root() + QLatin1Char('/') + sup + QLatin1Char('/') + kReport));
        QCOMPARE(ReadFile(root() + QLatin1Char('/') + plain + QLatin1Char('/') + kReport),
                 QByteArray("old report"));

        // A report line shows "?" for the superscript, never the "1" of
        // another name.
        QVERIFY(QFile::remove(root() + QLatin1Char('/') + plain + QLatin1Char('/') + kReport));
        Sink sink;
        const PassOutcome outcome =
            Replace(root() + QLatin1Char('/') + plain + QLatin1Char('/'), QStringLiteral("o"),
                    QStringLiteral("p"), sink);
        QCOMPARE(outcome.filesChanged, 1);
        const QByteArray report = ReadFile(root() + QLatin1Char('/') + plain + QLatin1Char('/') + kReport);
        QVERIFY2(report.endsWith("\\x?o.txt\r\n"), report.toHex().constData());
    }

    // --- the command line ---------------------------------------------------------------

    void commandLineRenamesChineseNames()
    {
        QVERIFY(MakeFile(root(), QStringLiteral("旅行 old.txt")));
        QVERIFY(MakeFile(root(), QStringLiteral("照片old/a.txt")));
        const CliRun cli = RunCli({QStringLiteral("replace"), root(), QStringLiteral("old"), QStringLiteral("新")});
        const QByteArray &out = cli.out;
        QVERIFY2(cli.code == 0, cli.err.constData());
        // The summary in the console's code page, GBK, as the window shows it.
        QVERIFY2(out.contains(Gbk(QStringLiteral("修改文件名1个,修改文件夹名1个"))), out.constData());
        QCOMPARE(Tree(root()), Sorted({QStringLiteral("旅行 新.txt"), QStringLiteral("照片新/"),
                                       QStringLiteral("照片新/a.txt"), kReport}));
        QCOMPARE(ReadFile(root() + QLatin1Char('/') + kReport),
                 ReportOf({root() + QStringLiteral("/旅行 old.txt"), root() + QStringLiteral("/照片old")}));
    }

    // A journal kept beside the tree, then undo from it: every Chinese name
    // back as it was, by the wide names the journal holds as UTF-8.
    void commandLineUndoesFromTheJournal()
    {
        QVERIFY(MakeFile(root(), QStringLiteral("旅行 old.txt")));
        QVERIFY(MakeFile(root(), QStringLiteral("照片old/a old.txt")));
        QVERIFY(MakeFile(root(), QStringLiteral("表情😀old.txt")));
        const QStringList before = Tree(root());
        QTemporaryDir outside;
        const QString journal = outside.filePath(QStringLiteral("日志.journal"));

        const CliRun run = RunCli({QStringLiteral("replace"), root(), QStringLiteral("old"), QStringLiteral("新"),
                                   QStringLiteral("--journal"), journal});
        QVERIFY2(run.code == 0, run.err.constData());
        QCOMPARE(Tree(root()), Sorted({QStringLiteral("旅行 新.txt"), QStringLiteral("照片新/"),
                                       QStringLiteral("照片新/a 新.txt"), QStringLiteral("表情😀新.txt"),
                                       kReport}));
        // The journal names the entries by their UTF-8 bytes, the emoji included.
        QVERIFY(ReadFile(journal).contains(QStringLiteral("%F0%9F%98%80").toLatin1()));

        const CliRun undo = RunCli({QStringLiteral("undo"), journal});
        QVERIFY2(undo.code == 0, undo.err.constData());
        QCOMPARE(undo.out.count("restored: "), 4);
        QCOMPARE(Tree(root()), Sorted(before + QStringList{kReport}));
    }

    // The dry run models the Windows branch: its plan is what the real run
    // then does, and it changes nothing itself.
    void commandLineDryRunPlansTheRealRun()
    {
        QVERIFY(MakeFile(root(), QStringLiteral("旅行 old.txt")));
        QVERIFY(MakeFile(root(), QStringLiteral("照片old/b.txt")));
        // "A new.txt" is taken on Windows, where names are equal ignoring case.
        QVERIFY(MakeFile(root(), QStringLiteral("A old.txt")));
        QVERIFY(MakeFile(root(), QStringLiteral("a new.txt")));
        const QStringList before = Tree(root());
        const QStringList arguments{QStringLiteral("replace"), root(), QStringLiteral("old"), QStringLiteral("new")};

        const CliRun plan = RunCli(QStringList(arguments) << QStringLiteral("--dry-run"));
        const QByteArray &planned = plan.out;
        QCOMPARE(Tree(root()), before);
        QCOMPARE(planned.count("rename: "), 2); // the file and the folder
        QVERIFY2(planned.contains("would fail, target exists: "), planned.constData());

        const CliRun real = RunCli(arguments);
        const QByteArray &failures = real.err;
        QCOMPARE(plan.code, real.code);
        QCOMPARE(real.code, 1);
        QVERIFY2(failures.contains("not renamed, target exists"), failures.constData());
        // The summary the plan gave is the one the real run printed.
        const QByteArray summary = real.out.trimmed();
        QVERIFY2(!summary.isEmpty() && planned.trimmed().endsWith(summary), planned.constData());
        QCOMPARE(Tree(root()), Sorted({QStringLiteral("旅行 new.txt"), QStringLiteral("照片new/"),
                                       QStringLiteral("照片new/b.txt"), QStringLiteral("A old.txt"),
                                       QStringLiteral("a new.txt"), kReport}));
    }

private:
    QString root() const { return tree->path(); }
    std::unique_ptr<QTemporaryDir> tree;
};

QTEST_MAIN(WindowsBranchTest)
#include "tst_windowsbranch.moc"
