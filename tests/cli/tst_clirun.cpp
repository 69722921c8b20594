// quillbarrow-cli as a user runs it: a child process on real trees in
// temporary folders. Names are handled as raw bytes throughout, so that tabs,
// line feeds and bytes that are not UTF-8 are compared exactly.

#include "tests/support/treesnapshot.h"

#include <QElapsedTimer>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// QB_CLI_UNDER_TEST may name another build of the program, to see a test
// fail on a build without its fix.
const QString Program = qEnvironmentVariable("QB_CLI_UNDER_TEST", QStringLiteral(QB_CLI_PROGRAM));
const QString Report = QStringLiteral("包含内容并成功修改的文件目录.txt");
const QStringList OldReports{QStringLiteral("无法打开修改的文件目录(文件格式有误).txt"), Report,
                             QStringLiteral("不包含内容无修改的文件目录.txt")};

using Tree = QMap<QByteArray, char>; // relative path -> 'd' folder, 'f' file

struct Result
{
    int code = -1;
    QByteArray out, err;
};

// A run still going after `timeoutMs` is killed (by QProcess) and counts as
// a crash: code -1.
Result RunCli(const QStringList &arguments, int timeoutMs = 300000)
{
    QProcess process;
    process.start(Program, arguments);
    Result result;
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.code = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// How a child's standard stream is set up by RunCliWithStreams.
enum class Stream {
    Captured,   // read back into the result (standard input: the null device)
    Closed,     // no descriptor at all
    BrokenPipe, // a pipe whose reader is gone
    FullDisk    // /dev/full: every write fails with ENOSPC
};

// Runs the program with its standard streams set up as asked and SIGPIPE
// at its default, as from a shell. Code -1: killed by a signal, or still
// running after `timeoutMs` (then killed). `peakKb`: the child's peak
// resident memory.
Result RunCliWithStreams(const QStringList &arguments, Stream in, Stream out, Stream err,
                         long *peakKb = nullptr, int timeoutMs = 120000)
{
    Result result;
    std::FILE *captured[3] = {nullptr, std::tmpfile(), std::tmpfile()};
    int fds[3] = {-1, -1, -1};
    const Stream modes[3] = {in, out, err};
    for (int i = 0; i < 3; ++i) {
        if (modes[i] == Stream::Captured)
            fds[i] = i == 0 ? ::open("/dev/null", O_RDONLY) : ::fileno(captured[i]);
        else if (modes[i] == Stream::FullDisk)
            fds[i] = ::open("/dev/full", O_WRONLY);
        else if (modes[i] == Stream::BrokenPipe) {
            int ends[2];
            if (::pipe(ends) != 0)
                return result;
            ::close(ends[0]);
            fds[i] = ends[1];
        }
    }
    QList<QByteArray> bytes{QFile::encodeName(Program)};
    for (const QString &argument : arguments)
        bytes << QFile::encodeName(argument);
    std::vector<char *> argv;
    for (QByteArray &argument : bytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        // Each target number first gets its own copy, then the rest are closed.
        int copies[3];
        for (int i = 0; i < 3; ++i)
            copies[i] = fds[i] >= 0 ? ::fcntl(fds[i], F_DUPFD, 10) : -1;
        for (int i = 0; i < 3; ++i) {
            if (copies[i] >= 0)
                ::dup2(copies[i], i);
            else
                ::close(i);
        }
        ::signal(SIGPIPE, SIG_DFL);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    for (int i = 0; i < 3; ++i)
        if (fds[i] >= 0 && !(i > 0 && modes[i] == Stream::Captured))
            ::close(fds[i]);
    int status = 0;
    rusage usage{};
    QElapsedTimer timer;
    timer.start();
    pid_t done = 0;
    while (child > 0 && (done = ::wait4(child, &status, WNOHANG, &usage)) == 0) {
        if (timer.elapsed() > timeoutMs) {
            ::kill(child, SIGKILL);
            ::wait4(child, &status, 0, &usage);
            done = -1;
            break;
        }
        ::usleep(1000);
    }
    if (done == child && WIFEXITED(status))
        result.code = WEXITSTATUS(status);
    if (peakKb)
        *peakKb = usage.ru_maxrss;
    for (int i = 1; i < 3; ++i) {
        QByteArray &target = i == 1 ? result.out : result.err;
        std::rewind(captured[i]);
        char buffer[65536];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, captured[i])) > 0;)
            target.append(buffer, int(n));
        std::fclose(captured[i]);
    }
    return result;
}

// Entries ending in "/" are folders, "NAME -> TEXT" links; parents must come
// first.
bool Make(const QByteArray &root, const QList<QByteArray> &entries)
{
    for (const QByteArray &entry : entries) {
        const QByteArray path = root + '/' + entry;
        const int arrow = entry.indexOf(" -> ");
        if (arrow > 0) {
            if (::symlink(entry.mid(arrow + 4).constData(), (root + '/' + entry.left(arrow)).constData()) != 0)
                return false;
        } else if (entry.endsWith('/')) {
            if (::mkdir(path.constData(), 0777) != 0)
                return false;
        } else {
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0666);
            if (fd < 0 || ::write(fd, entry.constData(), entry.size()) != entry.size())
                return false;
            ::close(fd);
        }
    }
    return true;
}

Tree Snapshot(const QByteArray &root)
{
    Tree tree;
    const testtree::Snapshot snapshot = testtree::TakeSnapshot(root, false);
    for (const auto &entry : snapshot.nodes)
        if (entry.first != snapshot.root)
            tree.insert(snapshot.PathOf(entry.first),
                        entry.second.kind == testtree::Kind::Folder ? 'd' : 'f');
    return tree;
}

Tree TreeOf(const QList<QByteArray> &entries)
{
    Tree tree;
    for (const QByteArray &entry : entries)
        tree.insert(entry.endsWith('/') ? entry.left(entry.size() - 1) : entry,
                    entry.endsWith('/') ? 'd' : 'f');
    return tree;
}

QList<QByteArray> Listing(const Tree &tree)
{
    QList<QByteArray> list;
    for (auto it = tree.cbegin(); it != tree.cend(); ++it)
        list << (it.value() == 'd' ? it.key() + '/' : it.key());
    return list;
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A journal decoded on its own terms: the version-2 header, then
// "intent N VOLUME INDEX OLD NEW" and its "done N" or "failed N", fields
// %XX-escaped.
struct JournalText
{
    bool wellFormed = false;
    QList<QPair<QByteArray, QByteArray>> made; // renames confirmed, in order
    int failed = 0;
    bool pending = false; // the last intent has no result
    QPair<QByteArray, QByteArray> pendingPaths;
    bool cutOff = false; // the last line has no line feed
};

JournalText ReadJournalText(const QString &path)
{
    JournalText text;
    QList<QByteArray> lines = ReadAll(path).split('\n');
    text.cutOff = !lines.last().isEmpty();
    lines.removeLast();
    if (lines.isEmpty() || lines.first() != "quillbarrow-cli journal 2")
        return text;
    QPair<QByteArray, QByteArray> open;
    int number = 0;
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines.at(i).split(' ');
        if (fields.size() == 6 && fields.at(0) == "intent" && !text.pending
            && fields.at(1).toInt() == number + 1) {
            ++number;
            text.pending = true;
            open = qMakePair(QByteArray::fromPercentEncoding(fields.at(4)),
                             QByteArray::fromPercentEncoding(fields.at(5)));
        } else if (fields.size() == 2 && text.pending && fields.at(1).toInt() == number
                   && (fields.at(0) == "done" || fields.at(0) == "failed")) {
            text.pending = false;
            if (fields.at(0) == "done")
                text.made << open;
            else
                ++text.failed;
        } else {
            return text;
        }
    }
    if (text.pending)
        text.pendingPaths = open;
    text.wellFormed = true;
    return text;
}

// The renames a journal confirms; empty unless it is well formed.
QList<QPair<QByteArray, QByteArray>> JournalRecords(const QString &path, bool *cutOff = nullptr)
{
    const JournalText text = ReadJournalText(path);
    if (cutOff)
        *cutOff = text.cutOff;
    return text.wellFormed ? text.made : QList<QPair<QByteArray, QByteArray>>();
}

// Moves `from` and everything below it to `to`; false unless `from` is there
// and `to` is free.
bool Move(Tree &tree, const QByteArray &from, const QByteArray &to)
{
    if (!tree.contains(from) || tree.contains(to))
        return false;
    Tree moved;
    moved.insert(to, tree.take(from));
    // Everything below `from` sorts together, right after `from` + "/".
    const QByteArray below = from + '/';
    for (auto it = tree.lowerBound(below); it != tree.end() && it.key().startsWith(below);) {
        moved.insert(to + it.key().mid(from.size()), it.value());
        it = tree.erase(it);
    }
    for (auto it = moved.cbegin(); it != moved.cend(); ++it)
        tree.insert(it.key(), it.value());
    return true;
}

// Replays journal records (absolute paths) on a tree below `root`; an empty
// result says which record could not have happened.
QString Replay(Tree &tree, const QByteArray &root,
               const QList<QPair<QByteArray, QByteArray>> &records)
{
    for (int i = 0; i < records.size(); ++i) {
        const QByteArray from = records.at(i).first, to = records.at(i).second;
        if (!from.startsWith(root + '/') || !to.startsWith(root + '/')
            || !Move(tree, from.mid(root.size() + 1), to.mid(root.size() + 1)))
            return QStringLiteral("record %1 did not happen: %2 -> %3")
                .arg(i)
                .arg(QString::fromUtf8(from), QString::fromUtf8(to));
    }
    return QString();
}

// Empty when both snapshots hold the same entries (by inode), each under the
// same name in the same folder, of the same kind and with the same bytes;
// otherwise the first difference.
QString SameTree(const testtree::Snapshot &before, const testtree::Snapshot &after)
{
    if (!after.problems.isEmpty())
        return after.problems.first();
    for (const auto &entry : before.nodes) {
        const auto found = after.nodes.find(entry.first);
        const QString path = QString::fromUtf8(before.PathOf(entry.first));
        if (found == after.nodes.end())
            return QStringLiteral("gone: ") + path;
        const testtree::Node &was = entry.second, &is = found->second;
        if (is.name != was.name || is.parent != was.parent)
            return QStringLiteral("moved: %1 is now %2").arg(path, QString::fromUtf8(after.PathOf(entry.first)));
        if (is.kind != was.kind || is.content != was.content)
            return QStringLiteral("changed: ") + path;
    }
    if (after.nodes.size() != before.nodes.size())
        return QStringLiteral("%1 new entries").arg(after.nodes.size() - before.nodes.size());
    return QString();
}

} // namespace

class TestCliRun : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir temp_;
    QByteArray root_; // the folder a test renames, fresh for each test function
    int serial_ = 0;

    QString Root() const { return QFile::decodeName(root_); }

    void FreshRoot()
    {
        root_ = QFile::encodeName(temp_.path()) + "/tree" + QByteArray::number(++serial_);
        QVERIFY(::mkdir(root_.constData(), 0777) == 0);
    }

    QStringList WithRoot(QStringList arguments) const
    {
        arguments.replaceInStrings(QStringLiteral("ROOT"), Root());
        return arguments;
    }

    QByteArray ReportLines(const QList<QByteArray> &relative) const
    {
        QByteArray content;
        for (const QByteArray &path : relative)
            content += root_ + '/' + path + '\n';
        return content;
    }

private slots:
    void init() { FreshRoot(); }
    void cleanup() { testtree::RemoveTree(root_); }

    void subcommands_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QList<QByteArray>>("before");
        QTest::addColumn<QList<QByteArray>>("after");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<int>("code");
        QTest::addColumn<QList<QByteArray>>("report"); // old paths; empty: no report

        using L = QList<QByteArray>;
        const QList<QByteArray> tree{"a.txt", "adir/", "adir/a.jpg", "keep.txt"};
        QTest::newRow("replace")
            << QStringList{"replace", "ROOT", "a", "b"} << tree
            << L{"b.txt", "bdir/", "bdir/b.jpg", "keep.txt"}
            << "扫描文件3个,扫描文件夹1个,修改文件名2个,修改文件夹名1个,耗时0秒。" << 0
            << L{"a.txt", "adir/a.jpg", "adir"};
        QTest::newRow("replace, files only")
            << QStringList{"replace", "ROOT", "a", "b", "--files-only"} << tree
            << L{"adir/", "adir/b.jpg", "b.txt", "keep.txt"}
            << "扫描文件3个,扫描文件夹0个,修改文件名2个,修改文件夹名0个,耗时0秒。" << 0
            << L{"a.txt", "adir/a.jpg"};
        QTest::newRow("replace, regex with back-reference")
            << QStringList{"replace", "--regex", "ROOT", "(\\d+)", "[\\1]"} << L{"a12b.txt", "x/"}
            << L{"a[12]b.txt", "x/"}
            << "扫描文件1个,扫描文件夹1个,修改文件名1个,修改文件夹名0个,耗时0秒。" << 0
            << L{"a12b.txt"};
        QTest::newRow("replace, extension only")
            << QStringList{"replace", "ROOT", "gz", "zip", "--extension-only"}
            << L{"a.tar.gz", "gz/", "gz/gz"} << L{"a.tar.zip", "gz/", "gz/gz"}
            << "扫描文件2个,扫描文件夹0个,修改文件名1个,修改文件夹名0个,耗时0秒。" << 0
            << L{"a.tar.gz"};
        QTest::newRow("replace, a single dash is a text")
            << QStringList{"replace", "ROOT", "-", "_"} << L{"a-b.txt"} << L{"a_b.txt"}
            << "扫描文件1个,扫描文件夹0个,修改文件名1个,修改文件夹名0个,耗时0秒。" << 0
            << L{"a-b.txt"};
        QTest::newRow("replace, texts after --")
            << QStringList{"replace", "ROOT", "--", "--x", "y"} << L{"a--x.txt"} << L{"ay.txt"}
            << "扫描文件1个,扫描文件夹0个,修改文件名1个,修改文件夹名0个,耗时0秒。" << 0
            << L{"a--x.txt"};
        QTest::newRow("replace, target taken: exit 1, nothing replaced")
            << QStringList{"replace", "ROOT", "a", "b"} << L{"a.txt", "b.txt", "ca.txt"}
            << L{"b.txt", "a.txt", "cb.txt"}
            << "扫描文件3个,扫描文件夹0个,修改文件名1个,修改文件夹名0个,耗时0秒。" << 1
            << L{"ca.txt"};
        QTest::newRow("replace, nothing matches")
            << QStringList{"replace", "ROOT", "zzz", "b"} << tree << tree
            << "扫描文件3个,扫描文件夹1个,修改文件名0个,修改文件夹名0个,耗时0秒。" << 0 << L{};
        QTest::newRow("pairs inline, chained")
            << QStringList{"pairs", "ROOT", "--pair", "a", "b", "--pair", "b", "c"}
            << L{"a.txt", "adir/"} << L{"c.txt", "cdir/"}
            << "修改文件名2个,修改文件夹名2个,耗时0秒。" << 0
            << L{"a.txt", "adir", "b.txt", "bdir"};
        QTest::newRow("pairs inline, opposite order")
            << QStringList{"pairs", "ROOT", "--pair", "b", "c", "--pair", "a", "b", "--files-only"}
            << L{"a.txt", "adir/"} << L{"adir/", "b.txt"}
            << "修改文件名1个,修改文件夹名0个,耗时0秒。" << 0 << L{"a.txt"};
        QTest::newRow("pairs from files, final line feeds")
            << QStringList{"pairs", "ROOT", "FIND_FILE", "REPLACEMENT_FILE"}
            << L{"a.txt", "adir/"} << L{"c.txt", "cdir/"}
            << "修改文件名2个,修改文件夹名2个,耗时0秒。" << 0
            << L{"a.txt", "adir", "b.txt", "bdir"};
        QTest::newRow("pairs, regex, extension only (folders still whole)")
            << QStringList{"pairs", "ROOT", "--pair", "^t.t$", "md", "--regex", "--extension-only"}
            << L{"a.txt", "txt/"} << L{"a.md", "md/"}
            << "修改文件名1个,修改文件夹名1个,耗时0秒。" << 0 << L{"a.txt", "txt"};
        QTest::newRow("insert after")
            << QStringList{"insert", "ROOT", "_1", "--after"} << L{"photo.jpg", "album.2020/"}
            << L{"album.2020_1/", "photo_1.jpg"}
            << "扫描文件1个,扫描文件夹1个,修改文件名1个,修改文件夹名1个,耗时0秒。" << 0
            << L{"photo.jpg", "album.2020"};
        QTest::newRow("insert before, extension only")
            << QStringList{"insert", "ROOT", "b", "--before", "--extension-only"}
            << L{"a.txt", "d/"} << L{"a.btxt", "d/"}
            << "扫描文件1个,扫描文件夹0个,修改文件名1个,修改文件夹名0个,耗时0秒。" << 0
            << L{"a.txt"};
        QTest::newRow("insert, empty text")
            << QStringList{"insert", "ROOT", "", "--before"} << tree << tree
            << "扫描文件3个,扫描文件夹1个,修改文件名0个,修改文件夹名0个,耗时0秒。" << 0 << L{};
    }

    void subcommands()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QList<QByteArray>, before);
        QFETCH(QList<QByteArray>, after);
        QFETCH(QString, summary);
        QFETCH(int, code);
        QFETCH(QList<QByteArray>, report);

        QVERIFY(Make(root_, before));
        const QString findFile = temp_.path() + QStringLiteral("/find.txt");
        const QString replacementFile = temp_.path() + QStringLiteral("/replacement.txt");
        QVERIFY(WriteAll(findFile, "a\nb\n") && WriteAll(replacementFile, "b\nc\n"));
        arguments.replaceInStrings(QStringLiteral("REPLACEMENT_FILE"), replacementFile);
        arguments.replaceInStrings(QStringLiteral("FIND_FILE"), findFile);

        const Result run = RunCli(WithRoot(arguments));
        // Not a terminal: no progress. Each failed rename gets its line.
        QCOMPARE(run.err, code == 0 ? QByteArray()
                                    : QByteArray("quillbarrow-cli: not renamed, target exists: ")
                     + QFile::encodeName(Root()) + "/a.txt -> " + QFile::encodeName(Root())
                     + "/b.txt\n");
        QCOMPARE(run.out, summary.toUtf8() + '\n');
        QCOMPARE(run.code, code);
        Tree tree = Snapshot(root_);
        const bool reported = tree.remove(Report.toUtf8()) == 1;
        QCOMPARE(Listing(tree), Listing(TreeOf(after)));
        QCOMPARE(reported, !report.isEmpty());
        if (reported)
            QCOMPARE(ReadAll(Root() + QLatin1Char('/') + Report), ReportLines(report));
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("stderrText"); // exact, or "usage" for the usage text
        QTest::addColumn<bool>("withJournal");

        QTest::newRow("folder missing")
            << QStringList{"replace", "ROOT/missing", "a", "b"}
            << "文件夹不存在,请选择正确路径!\n" << true;
        QTest::newRow("folder empty") << QStringList{"insert", "", "x", "--after"}
                                      << "文件夹不存在,请选择正确路径!\n" << false;
        QTest::newRow("folder with two trailing slashes")
            << QStringList{"replace", "ROOT//", "a", "b"} << "文件夹不存在,请选择正确路径!\n" << false;
        QTest::newRow("folder is a file") << QStringList{"replace", "ROOT/a.txt", "a", "b"}
                                          << "文件夹不存在,请选择正确路径!\n" << false;
        // The root of the file system names no folder, as for the directory
        // search. Dry runs only: a build without the check must not rename
        // anything outside the test's folder.
        QTest::newRow("folder is the root") << QStringList{"replace", "/", "a", "b", "--dry-run"}
                                            << "文件夹不存在,请选择正确路径!\n" << false;
        QTest::newRow("folder is the root, as /.")
            << QStringList{"replace", "/.", "a", "b", "--dry-run"} << "文件夹不存在,请选择正确路径!\n"
            << false;
        QTest::newRow("folder is the root, as a folder's /../..")
            << QStringList{"insert", "ROOT/adir/../../../../../../../../../../../../../../../..", "x",
                           "--after", "--dry-run"}
            << "文件夹不存在,请选择正确路径!\n" << false;
        QTest::newRow("insert text with ?")
            << QStringList{"insert", "ROOT", "a?", "--before"}
            << "插入内容包含非法字符,无法用于文件名!\n" << true;
        QTest::newRow("insert text checked before the folder")
            << QStringList{"insert", "ROOT/missing", "a/b", "--before"}
            << "插入内容包含非法字符,无法用于文件名!\n" << false;
        QTest::newRow("pair counts differ")
            << QStringList{"pairs", "ROOT", "TWO_LINES", "ONE_LINE"}
            << "查找数和替换数不一致,请核对!\n" << true;
        QTest::newRow("pair counts checked before the folder")
            << QStringList{"pairs", "ROOT/missing", "TWO_LINES", "ONE_LINE"}
            << "查找数和替换数不一致,请核对!\n" << false;
        QTest::newRow("dry run with a journal")
            << QStringList{"replace", "ROOT", "a", "b", "--dry-run"} << "usage" << true;
        QTest::newRow("dry run, folder missing")
            << QStringList{"replace", "ROOT/missing", "a", "b", "--dry-run"}
            << "文件夹不存在,请选择正确路径!\n" << false;
        QTest::newRow("dry run, pair counts differ")
            << QStringList{"pairs", "ROOT", "TWO_LINES", "ONE_LINE", "--dry-run"}
            << "查找数和替换数不一致,请核对!\n" << false;
        QTest::newRow("pair file missing")
            << QStringList{"pairs", "ROOT", "ROOT/none.txt", "ONE_LINE"}
            << "quillbarrow-cli: cannot read ROOT/none.txt: no such file\n" << false;
        // Read whole or not at all: before, a file over 2 GB read as empty
        // (one empty find text), /dev/zero ran out of memory, a FIFO blocked.
        QTest::newRow("pair file over the size limit")
            << QStringList{"pairs", "ROOT", "BIG_FILE", "ONE_LINE"}
            << "quillbarrow-cli: cannot read BIG_FILE: it is larger than the 16777216 bytes a pair "
               "file may hold\n"
            << true;
        QTest::newRow("pair file is a device")
            << QStringList{"pairs", "ROOT", "/dev/zero", "ONE_LINE"}
            << "quillbarrow-cli: cannot read /dev/zero: it is not a regular file\n" << false;
        QTest::newRow("pair file is a FIFO") << QStringList{"pairs", "ROOT", "ONE_LINE", "FIFO"}
                                             << "quillbarrow-cli: cannot read FIFO: it is not a "
                                                "regular file\n"
                                             << false;
        QTest::newRow("pair file is a folder")
            << QStringList{"pairs", "ROOT", "ROOT/adir", "ONE_LINE", "--dry-run"}
            << "quillbarrow-cli: cannot read ROOT/adir: it is not a regular file\n" << false;
        QTest::newRow("pair file neither UTF-8 nor the local code page")
            << QStringList{"pairs", "ROOT", "ONE_LINE", "NOT_TEXT"}
            << "quillbarrow-cli: cannot read NOT_TEXT: it is neither valid UTF-8 nor valid in the "
               "local code page"
            << true;
        QTest::newRow("pair file with a zero byte")
            << QStringList{"pairs", "ROOT", "ZERO_BYTE", "ONE_LINE"}
            << "quillbarrow-cli: cannot read ZERO_BYTE: it holds a zero byte" << false;
        // A pattern that can't be used is a mistake to report, not a job
        // that matches nothing; an explosive one is refused before QRegExp
        // spends seconds and gigabytes compiling it.
        QTest::newRow("regex that does not compile")
            << QStringList{"replace", "ROOT", "(", "x", "--regex"}
            << "quillbarrow-cli: the regular expression ( does not compile: unexpected end\n" << true;
        QTest::newRow("regex that does not compile, in a pair file")
            << QStringList{"pairs", "ROOT", "BAD_PATTERN_LINES", "TWO_LINES", "--regex"}
            << "quillbarrow-cli: line 2 of BAD_PATTERN_LINES: the regular expression [a does not "
               "compile: unexpected end\n"
            << true;
        QTest::newRow("regex that does not compile, in an inline pair")
            << QStringList{"pairs", "ROOT", "--regex", "--pair", "a", "b", "--pair", "a)", "c"}
            << "quillbarrow-cli: pair 2: the regular expression a) does not compile: missing left "
               "delim\n"
            << true;
        QTest::newRow("regex over the budget")
            << QStringList{"replace", "ROOT", "((a{0,30}){0,30}){0,30}", "x", "--regex"}
            << "quillbarrow-cli: the regular expression ((a{0,30}){0,30}){0,30} is over the budget "
               "for regular expressions: QRegExp would build more than 2048 transitions"
            << true;
        // An option is never an option's value: before, this was a real run
        // with a journal named --dry-run.
        QTest::newRow("journal value is an option")
            << QStringList{"replace", "ROOT", "a", "b", "--journal", "--dry-run"} << "usage" << false;
        QTest::newRow("pair value is an option")
            << QStringList{"pairs", "ROOT", "--pair", "a", "--dry-run", "--pair", "b", "c"} << "usage"
            << false;
        QTest::newRow("journal inside the folder")
            << QStringList{"replace", "ROOT", "a", "b", "--journal", "ROOT/adir/j.txt"}
            << "quillbarrow-cli: the journal " << false;
        QTest::newRow("journal exists") << QStringList{"replace", "ROOT", "a", "b", "--journal", "OLD_JOURNAL"}
                                        << "quillbarrow-cli: cannot create the journal " << false;
        QTest::newRow("no arguments") << QStringList{} << "usage" << false;
        QTest::newRow("unknown subcommand") << QStringList{"rename", "ROOT"} << "usage" << false;
    }

    // Refused input changes nothing: not a name, not an old report.
    void refusals()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, stderrText);
        QFETCH(bool, withJournal);

        QVERIFY(Make(root_, {"a.txt", "adir/", "adir/a.jpg"}));
        for (const QString &name : OldReports)
            QVERIFY(WriteAll(Root() + QLatin1Char('/') + name, "old"));
        const QString twoLines = temp_.path() + QStringLiteral("/two.txt");
        const QString oneLine = temp_.path() + QStringLiteral("/one.txt");
        const QString oldJournal = temp_.path() + QStringLiteral("/old-journal.txt");
        QVERIFY(WriteAll(twoLines, "a\nb") && WriteAll(oneLine, "x\n") && WriteAll(oldJournal, "keep"));
        // Pair files that must be refused; the big one is sparse.
        const QString big = temp_.path() + QStringLiteral("/big.txt");
        const QString fifo = temp_.path() + QStringLiteral("/fifo");
        const QString notText = temp_.path() + QStringLiteral("/not-text.txt");
        const QString zeroByte = temp_.path() + QStringLiteral("/zero-byte.txt");
        const QString badPatterns = temp_.path() + QStringLiteral("/bad-patterns.txt");
        QFile bigFile(big);
        QVERIFY(bigFile.open(QIODevice::WriteOnly) && bigFile.resize(qint64(3) << 30));
        bigFile.close();
        QVERIFY(QFile::exists(fifo) || ::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        QVERIFY(WriteAll(notText, "\xFF\xFE\n") && WriteAll(zeroByte, QByteArray("a\0b\n", 4))
                && WriteAll(badPatterns, "a\n[a\n"));
        const QList<QPair<QString, QString>> files{
            {QStringLiteral("TWO_LINES"), twoLines},     {QStringLiteral("ONE_LINE"), oneLine},
            {QStringLiteral("OLD_JOURNAL"), oldJournal}, {QStringLiteral("BIG_FILE"), big},
            {QStringLiteral("FIFO"), fifo},              {QStringLiteral("NOT_TEXT"), notText},
            {QStringLiteral("ZERO_BYTE"), zeroByte},     {QStringLiteral("BAD_PATTERN_LINES"), badPatterns},
            {QStringLiteral("ROOT"), Root()}};
        for (const auto &file : files) {
            arguments.replaceInStrings(file.first, file.second);
            stderrText.replace(file.first, file.second);
        }
        const QString journal = temp_.path() + QStringLiteral("/refused-journal.txt");
        if (withJournal)
            arguments << QStringLiteral("--journal") << journal;
        const Tree before = Snapshot(root_);

        // Refusals are immediate; a run that hangs (on a FIFO) is a failure.
        const Result run = RunCli(arguments, 60000);
        QFile::remove(big);
        QCOMPARE(run.code, 2);
        QCOMPARE(run.out, QByteArray());
        if (stderrText == QLatin1String("usage"))
            QVERIFY2(run.err.contains("\nusage: quillbarrow-cli replace"), run.err.constData());
        else if (stderrText.endsWith(QLatin1Char('\n')))
            QCOMPARE(QString::fromUtf8(run.err), stderrText);
        else
            QVERIFY2(run.err.startsWith(stderrText.toUtf8()), run.err.constData());
        QCOMPARE(Listing(Snapshot(root_)), Listing(before));
        for (const QString &name : OldReports)
            QCOMPARE(ReadAll(Root() + QLatin1Char('/') + name), QByteArray("old"));
        QVERIFY(!QFile::exists(journal));
        QCOMPARE(ReadAll(oldJournal), QByteArray("keep"));
    }

    void reports_data()
    {
        using Files = QMap<QByteArray, QByteArray>; // every file afterwards, with its content
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("oldReports");
        QTest::addColumn<Files>("after");
        const QByteArray report = Report.toUtf8();
        const QByteArray first = OldReports.at(0).toUtf8(), third = OldReports.at(2).toUtf8();
        const auto withOne = [](QByteArray name) { return name.insert(name.lastIndexOf('.'), "_1"); };
        QTest::newRow("old reports deleted, new one written")
            << QStringList{"replace", "ROOT", "a", "b"} << true
            << Files{{"b.txt", "a.txt"}, {report, "ROOT/a.txt\n"}};
        QTest::newRow("--no-report keeps old reports")
            << QStringList{"replace", "ROOT", "a", "b", "--no-report"} << true
            << Files{{"b.txt", "a.txt"}, {first, "old"}, {report, "old"}, {third, "old"}};
        QTest::newRow("--no-report writes none")
            << QStringList{"replace", "ROOT", "a", "b", "--no-report"} << false
            << Files{{"b.txt", "a.txt"}};
        QTest::newRow("--no-report: old reports are files like any other")
            << QStringList{"insert", "ROOT", "_1", "--after", "--no-report"} << true
            << Files{{"a_1.txt", "a.txt"}, {withOne(first), "old"}, {withOne(report), "old"},
                     {withOne(third), "old"}};
    }

    void reports()
    {
        using Files = QMap<QByteArray, QByteArray>;
        QFETCH(QStringList, arguments);
        QFETCH(bool, oldReports);
        QFETCH(Files, after);
        QVERIFY(Make(root_, {"a.txt"}));
        if (oldReports)
            for (const QString &name : OldReports)
                QVERIFY(WriteAll(Root() + QLatin1Char('/') + name, "old"));
        const Result run = RunCli(WithRoot(arguments));
        QCOMPARE(run.code, 0);
        Files files;
        for (const QByteArray &name : Snapshot(root_).keys())
            files.insert(name, ReadAll(Root() + QLatin1Char('/') + QFile::decodeName(name)));
        for (auto it = after.begin(); it != after.end(); ++it)
            it.value().replace("ROOT", root_);
        QCOMPARE(files, after);
    }

    void dryRun_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QList<QByteArray>>("tree");
        QTest::addColumn<bool>("oldReports");
        QTest::addColumn<QByteArray>("plan"); // ROOT for the folder
        QTest::addColumn<int>("code");

        using L = QList<QByteArray>;
        const L tree{"a.txt", "adir/", "adir/a.jpg", "keep.txt"};
        QTest::newRow("all would succeed; old reports stay")
            << QStringList{"replace", "ROOT", "a", "b", "--dry-run"} << tree << true
            << QByteArray("rename: ROOT/a.txt -> ROOT/b.txt\n"
                          "rename: ROOT/adir/a.jpg -> ROOT/adir/b.jpg\n"
                          "rename: ROOT/adir -> ROOT/bdir\n"
                          "扫描文件3个,扫描文件夹1个,修改文件名2个,修改文件夹名1个,耗时0秒。\n")
            << 0;
        QTest::newRow("--no-report: the old reports are scanned too")
            << QStringList{"replace", "ROOT", "a", "b", "--dry-run", "--no-report"} << tree << true
            << QByteArray("rename: ROOT/a.txt -> ROOT/b.txt\n"
                          "rename: ROOT/adir/a.jpg -> ROOT/adir/b.jpg\n"
                          "rename: ROOT/adir -> ROOT/bdir\n"
                          "扫描文件6个,扫描文件夹1个,修改文件名2个,修改文件夹名1个,耗时0秒。\n")
            << 0;
        QTest::newRow("target exists")
            << QStringList{"replace", "ROOT", "a", "b", "--dry-run"} << L{"a.txt", "b.txt", "ca.txt"}
            << false
            << QByteArray("would fail, target exists: ROOT/a.txt -> ROOT/b.txt\n"
                          "rename: ROOT/ca.txt -> ROOT/cb.txt\n"
                          "扫描文件3个,扫描文件夹0个,修改文件名1个,修改文件夹名0个,耗时0秒。\n")
            << 1;
        QTest::newRow("an earlier rename takes the name (names differ in case only)")
            << QStringList{"replace", "ROOT", "--regex", "[aA]", "b", "--dry-run"}
            << L{"a.txt", "A.txt"} << false
            << QByteArray("rename: ROOT/A.txt -> ROOT/b.txt\n"
                          "would fail, an earlier rename of this job takes that name: "
                          "ROOT/a.txt -> ROOT/b.txt\n"
                          "扫描文件2个,扫描文件夹0个,修改文件名1个,修改文件夹名0个,耗时0秒。\n")
            << 1;
        QTest::newRow("not a valid name: a separator")
            << QStringList{"replace", "ROOT", "a", "x/y", "--dry-run"} << L{"a.txt", "adir/"} << false
            << QByteArray("would fail, not a valid name: ROOT/a.txt -> ROOT/x/y.txt\n"
                          "would fail, not a valid name: ROOT/adir -> ROOT/x/ydir\n"
                          "扫描文件1个,扫描文件夹1个,修改文件名0个,修改文件夹名0个,耗时0秒。\n")
            << 1;
        QTest::newRow("not a valid name: empty, or \"..\" (pairs)")
            << QStringList{"pairs", "ROOT", "--regex", "--pair", "^a\\.txt$", "", "--pair", "^b$", "..",
                           "--dry-run"}
            << L{"a.txt", "b/"} << false
            << QByteArray("would fail, not a valid name: ROOT/a.txt -> ROOT/\n"
                          "would fail, not a valid name: ROOT/b -> ROOT/..\n"
                          "修改文件名0个,修改文件夹名0个,耗时0秒。\n")
            << 1;
        QTest::newRow("pairs chain through folder renames")
            << QStringList{"pairs", "ROOT", "--pair", "a", "b", "--pair", "b", "c", "--dry-run"}
            << L{"a.txt", "adir/", "adir/a.jpg"} << false
            << QByteArray("rename: ROOT/a.txt -> ROOT/b.txt\n"
                          "rename: ROOT/adir/a.jpg -> ROOT/adir/b.jpg\n"
                          "rename: ROOT/adir -> ROOT/bdir\n"
                          "rename: ROOT/b.txt -> ROOT/c.txt\n"
                          "rename: ROOT/bdir/b.jpg -> ROOT/bdir/c.jpg\n"
                          "rename: ROOT/bdir -> ROOT/cdir\n"
                          "修改文件名4个,修改文件夹名2个,耗时0秒。\n")
            << 0;
        // Each folder is entered once: through the link it would be a second time.
        QTest::newRow("a folder and a link to it: entered once")
            << QStringList{"replace", "ROOT", "x", "y", "--dry-run"} << L{"a/", "a/x", "l -> a"}
            << false
            << QByteArray("rename: ROOT/a/x -> ROOT/a/y\n"
                          "扫描文件1个,扫描文件夹2个,修改文件名1个,修改文件夹名0个,耗时0秒。\n")
            << 0;
        QTest::newRow("a dangling link mended by an earlier pair")
            << QStringList{"pairs", "ROOT", "--pair", "a", "b", "--pair", "x", "y", "--dry-run"}
            << L{"a/", "a/x", "l -> b"} << false
            << QByteArray("rename: ROOT/a -> ROOT/b\n"
                          "rename: ROOT/b/x -> ROOT/b/y\n"
                          "修改文件名1个,修改文件夹名1个,耗时0秒。\n")
            << 0;
        QTest::newRow("control bytes shown escaped")
            << QStringList{"insert", "ROOT", "_1", "--after", "--dry-run"} << L{"a\tb.txt"} << false
            << QByteArray("rename: ROOT/a\\x09b.txt -> ROOT/a\\x09b_1.txt\n"
                          "扫描文件1个,扫描文件夹0个,修改文件名1个,修改文件夹名0个,耗时0秒。\n")
            << 0;
    }

    // The plan, its marks and its exit code; nothing on the disk changes.
    void dryRun()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QList<QByteArray>, tree);
        QFETCH(bool, oldReports);
        QFETCH(QByteArray, plan);
        QFETCH(int, code);

        QVERIFY(Make(root_, tree));
        if (oldReports)
            for (const QString &name : OldReports)
                QVERIFY(WriteAll(Root() + QLatin1Char('/') + name, "old"));
        const Tree before = Snapshot(root_);

        const Result run = RunCli(WithRoot(arguments));
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.out, plan.replace("ROOT", root_));
        QCOMPARE(run.code, code);
        QCOMPARE(Listing(Snapshot(root_)), Listing(before));
        if (oldReports)
            for (const QString &name : OldReports)
                QCOMPARE(ReadAll(Root() + QLatin1Char('/') + name), QByteArray("old"));
    }

    void dryRunThenRealRun_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("replace") << QStringList{"replace", "ROOT", "a", "b"};
        QTest::newRow("pairs there and back")
            << QStringList{"pairs", "ROOT", "--pair", "a", "b", "--pair", "b", "a"};
        QTest::newRow("insert before") << QStringList{"insert", "ROOT", "b", "--before"};
        QTest::newRow("regex, files only")
            << QStringList{"replace", "ROOT", "--regex", "^(.)", "\\1\\1", "--files-only"};
        QTest::newRow("extension only") << QStringList{"replace", "ROOT", "txt", "TXT", "--extension-only"};
    }

    // The real program, dry and then for real on the same tree: the plan's
    // renames are the journal's, and the summary and exit code are the same.
    void dryRunThenRealRun()
    {
        QFETCH(QStringList, arguments);
        QVERIFY(Make(root_, {"a.txt", "b.txt", "A.txt", "aa.TXT", ".a", "adir/", "adir/a.jpg",
                             "adir/b.jpg", "adir/.hid/", "adir/.hid/a", "adir/up -> ..", "bdir/",
                             "ab/", "ab/a b.txt", "la -> adir", "lf -> a.txt", "dang -> nowhere",
                             "lb -> bb"}));
        const Result dry = RunCli(WithRoot(arguments + QStringList{"--dry-run"}));
        QCOMPARE(dry.err, QByteArray());
        QList<QByteArray> lines = dry.out.split('\n');
        QVERIFY(lines.size() > 2 && lines.takeLast().isEmpty());
        const QByteArray summary = lines.takeLast();
        QList<QPair<QByteArray, QByteArray>> planned;
        int failing = 0;
        for (const QByteArray &line : lines) {
            if (line.startsWith("would fail, ")) {
                ++failing;
                continue;
            }
            QVERIFY2(line.startsWith("rename: "), line.constData());
            const int arrow = line.indexOf(" -> ");
            QVERIFY(arrow > 0 && line.indexOf(" -> ", arrow + 1) < 0);
            planned << qMakePair(line.mid(8, arrow - 8), line.mid(arrow + 4));
        }
        QVERIFY(!planned.isEmpty());

        const QString journal = temp_.path() + QStringLiteral("/real-after-dry-%1.txt").arg(serial_);
        const Result real = RunCli(WithRoot(arguments + QStringList{"--journal", journal}));
        QCOMPARE(JournalRecords(journal), planned);
        QCOMPARE(real.out, summary + '\n');
        QCOMPARE(real.code, dry.code);
        QCOMPARE(real.code, failing ? 1 : 0);
    }

    // Odd names survive the journal byte for byte (it holds the bytes the
    // system was given, so even a name holding U+FFFD is exact); names that
    // are not valid in the locale's encoding are left exactly as they were.
    void undoRestoresTheTreeExactly()
    {
        const QList<QByteArray> odd{"a\tb.txt", "a\nb.txt", "a\rb", " a ", "100%a.txt", "%41a",
                                    "\xC3\xA4" "a.txt", "a\xFF.txt", "adir\t/", "adir\t/a\n/",
                                    "adir\t/a\n/a.txt", "a\xFE/", "a\xFE/a.txt", "keep",
                                    "\xEF\xBF\xBD" "a"};
        QVERIFY(Make(root_, odd));
        const Tree original = Snapshot(root_);
        const QString journal = temp_.path() + QStringLiteral("/odd-journal.txt");

        const Result run =
            RunCli(WithRoot({"replace", "ROOT", "a", "Z", "--journal", journal, "--no-report"}));
        // The two names that are no UTF-8 are left alone, and said to be.
        QCOMPARE(run.err, QByteArray("quillbarrow-cli: not reached, left as they are: 2 entries "
                                     "whose names are not text in the locale's encoding (and "
                                     "everything below such a folder)\n"));
        QCOMPARE(run.code, 1);
        const Tree renamed = Snapshot(root_);
        QVERIFY(renamed.contains("Z\tb.txt") && renamed.contains("Zdir\t/Z\n/Z.txt")
                && renamed.contains("100%Z.txt") && renamed.contains("\xC3\xA4Z.txt")
                && renamed.contains("\xEF\xBF\xBD" "Z"));
        QVERIFY(renamed.contains("a\xFF.txt") && renamed.contains("a\xFE/a.txt"));

        Tree replayed = original;
        QCOMPARE(Replay(replayed, root_, JournalRecords(journal)), QString());
        QCOMPARE(Listing(replayed), Listing(renamed));

        const Result undo = RunCli({"undo", journal});
        QCOMPARE(undo.err, QByteArray());
        QCOMPARE(undo.code, 0);
        QVERIFY(undo.out.endsWith("undo: 11 restored, 0 skipped, 0 failed\n"));
        QVERIFY(undo.out.contains("restored: " + root_ + "/Z\\x09b.txt -> " + root_ + "/a\\x09b.txt\n"));
        QCOMPARE(Listing(Snapshot(root_)), Listing(original));
    }

    void undoSkipsAndNeverOverwrites()
    {
        QVERIFY(Make(root_, {"a1.txt", "a2.txt", "a3.txt", "a4.txt", "b4.txt"}));
        const QString journal = temp_.path() + QStringLiteral("/skip-journal.txt");
        const Result run = RunCli(WithRoot({"replace", "ROOT", "a", "b", "--journal", journal}));
        QCOMPARE(run.code, 1); // a4.txt: b4.txt stands in the way
        const auto records = JournalRecords(journal);
        QCOMPARE(records.size(), 3); // failed renames leave no record
        QCOMPARE(records.last().second, root_ + "/b3.txt");
        QVERIFY(QFile::remove(Root() + QStringLiteral("/b1.txt")));    // gone
        QVERIFY(WriteAll(Root() + QStringLiteral("/a2.txt"), "mine")); // taken

        const Result undo = RunCli({"undo", journal});
        QCOMPARE(undo.code, 1);
        QVERIFY(undo.out.endsWith("undo: 1 restored, 2 skipped, 0 failed\n"));
        QVERIFY(undo.err.contains("skipped, gone: " + root_ + "/b1.txt\n"));
        QVERIFY(undo.err.contains("skipped, taken: " + root_ + "/a2.txt"));
        QCOMPARE(ReadAll(Root() + QStringLiteral("/a2.txt")), QByteArray("mine"));
        QCOMPARE(ReadAll(Root() + QStringLiteral("/b2.txt")), QByteArray("a2.txt"));
        QCOMPARE(ReadAll(Root() + QStringLiteral("/a3.txt")), QByteArray("a3.txt"));
        QCOMPARE(ReadAll(Root() + QStringLiteral("/a4.txt")), QByteArray("a4.txt"));
        QCOMPARE(ReadAll(Root() + QStringLiteral("/b4.txt")), QByteArray("b4.txt"));
    }

    void undoRefusesWhatIsNoJournal()
    {
        QVERIFY(Make(root_, {"b.txt"}));
        const QString bad = temp_.path() + QStringLiteral("/bad-journal.txt");
        const QByteArray record = root_ + "/a.txt " + root_ + "/b.txt\n";
        for (const QByteArray &content :
             {QByteArray("not a journal\n") + record,
              QByteArray("quillbarrow-cli journal 1\n") + record + "one-field\n"}) {
            QVERIFY(WriteAll(bad, content));
            const Result undo = RunCli({"undo", bad});
            QCOMPARE(undo.code, 2);
            QVERIFY2(undo.err.startsWith("quillbarrow-cli: cannot use the journal"), undo.err.constData());
            QVERIFY(QFile::exists(Root() + QStringLiteral("/b.txt"))); // nothing taken back
        }
        QCOMPARE(RunCli({"undo", temp_.path() + QStringLiteral("/none.txt")}).code, 2);
    }

    // The last intent of a killed run has no result: undo tells by the
    // identity it recorded whether the rename was made. Before it, one
    // confirmed rename (c.txt -> d.txt) is undone as always.
    void undoResolvesTheLastIntent_data()
    {
        QTest::addColumn<QList<QByteArray>>("tree");
        QTest::addColumn<QByteArray>("recorded"); // whose identity the intent holds; "ghost": none here
        QTest::addColumn<QByteArray>("ending");   // "pending", "result cut off" or "intent cut off"
        QTest::addColumn<QList<QByteArray>>("after");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("message"); // ROOT for the folder; "" when none

        using L = QList<QByteArray>;
        QTest::newRow("renamed: put back")
            << L{"b.txt", "d.txt"} << QByteArray("b.txt") << QByteArray("pending")
            << L{"a.txt", "c.txt"} << 0 << QByteArray("restored: ROOT/b.txt -> ROOT/a.txt\n");
        QTest::newRow("renamed, its result cut off: put back")
            << L{"b.txt", "d.txt"} << QByteArray("b.txt") << QByteArray("result cut off")
            << L{"a.txt", "c.txt"} << 0 << QByteArray("restored: ROOT/b.txt -> ROOT/a.txt\n");
        QTest::newRow("not renamed: nothing to undo")
            << L{"a.txt", "d.txt"} << QByteArray("a.txt") << QByteArray("pending")
            << L{"a.txt", "c.txt"} << 0
            << QByteArray("not made, nothing to undo: ROOT/a.txt -> ROOT/b.txt\n");
        QTest::newRow("intent cut off: never asked for")
            << L{"a.txt", "d.txt"} << QByteArray("a.txt") << QByteArray("intent cut off")
            << L{"a.txt", "c.txt"} << 0 << QByteArray();
        QTest::newRow("new path taken by another entry: left, reported")
            << L{"b.txt", "d.txt"} << QByteArray("ghost") << QByteArray("pending")
            << L{"b.txt", "c.txt"} << 1
            << QByteArray("skipped, last rename unresolved: ROOT/b.txt (");
        QTest::newRow("renamed, old path taken since: left, reported")
            << L{"a.txt", "b.txt", "d.txt"} << QByteArray("b.txt") << QByteArray("pending")
            << L{"a.txt", "b.txt", "c.txt"} << 1
            << QByteArray("skipped, last rename unresolved: ROOT/b.txt (");
        QTest::newRow("both names gone: reported")
            << L{"d.txt"} << QByteArray("ghost") << QByteArray("pending") << L{"c.txt"} << 1
            << QByteArray("skipped, last rename unresolved: ROOT/b.txt (");
    }

    void undoResolvesTheLastIntent()
    {
        QFETCH(QList<QByteArray>, tree);
        QFETCH(QByteArray, recorded);
        QFETCH(QByteArray, ending);
        QFETCH(QList<QByteArray>, after);
        QFETCH(int, code);
        QFETCH(QByteArray, message);

        QVERIFY(Make(root_, tree));
        const QByteArray ghost = QFile::encodeName(temp_.path()) + "/ghost" + QByteArray::number(serial_);
        QVERIFY(WriteAll(QFile::decodeName(ghost), "ghost"));
        const auto identity = [&](const QByteArray &path) {
            struct stat info;
            return ::lstat(path.constData(), &info) == 0
                ? QByteArray::number(quint64(info.st_dev)) + ' ' + QByteArray::number(quint64(info.st_ino))
                : QByteArray("0 0");
        };
        const auto field = [](const QByteArray &path) { return path.toPercentEncoding("/"); };
        const QByteArray a = root_ + "/a.txt", b = root_ + "/b.txt";
        QByteArray journal = "quillbarrow-cli journal 2\n";
        journal += "intent 1 " + identity(root_ + "/d.txt") + ' ' + field(root_ + "/c.txt") + ' '
            + field(root_ + "/d.txt") + "\ndone 1\n";
        const QByteArray intent = "intent 2 " + identity(recorded == "ghost" ? ghost : root_ + '/' + recorded)
            + ' ' + field(a) + ' ' + field(b) + '\n';
        if (ending == "intent cut off")
            journal += intent.left(intent.size() - 5);
        else
            journal += intent + (ending == "result cut off" ? "don" : "");
        const QString path = temp_.path() + QStringLiteral("/intent-journal%1.txt").arg(serial_);
        QVERIFY(WriteAll(path, journal));
        QList<QByteArray> contents;
        for (const QByteArray &name : tree)
            contents << ReadAll(Root() + '/' + QString::fromUtf8(name));

        const Result undo = RunCli({"undo", path});
        QCOMPARE(undo.code, code);
        message.replace("ROOT", root_);
        const QByteArray &stream = code == 0 ? undo.out : undo.err;
        if (!message.isEmpty())
            QVERIFY2(stream.contains(message), stream.constData());
        if (code == 0)
            QCOMPARE(undo.err, QByteArray());
        if (ending == "intent cut off")
            QVERIFY(!undo.out.contains("a.txt"));
        QVERIFY(undo.out.contains("restored: " + root_ + "/d.txt -> " + root_ + "/c.txt\n"));
        QCOMPARE(Listing(Snapshot(root_)), Listing(TreeOf(after)));
        // Each entry kept its content under whatever name it ended with.
        for (int i = 0; i < tree.size(); ++i) {
            QByteArray now = tree.at(i);
            if (!after.contains(now))
                now = now == "b.txt" ? "a.txt" : now == "d.txt" ? "c.txt" : now;
            QCOMPARE(ReadAll(Root() + '/' + QString::fromUtf8(now)), contents.at(i));
        }
    }

    // Journals written before the intent records came still undo.
    void undoTakesAVersion1Journal()
    {
        QVERIFY(Make(root_, {"b1.txt", "b 2/", "b 2/b%3"}));
        const QString path = temp_.path() + QStringLiteral("/v1-journal.txt");
        const QByteArray r = root_;
        QVERIFY(WriteAll(path, "quillbarrow-cli journal 1\n" + r + "/a1.txt " + r + "/b1.txt\n" + r
                                   + "/a%202/a%253 " + r + "/a%202/b%253\n" + r + "/a%202 " + r
                                   + "/b%202\n"));
        Result undo = RunCli({"undo", path});
        QCOMPARE(undo.err, QByteArray());
        QCOMPARE(undo.code, 0);
        QVERIFY(undo.out.endsWith("undo: 3 restored, 0 skipped, 0 failed\n"));
        QCOMPARE(Listing(Snapshot(root_)), Listing(TreeOf({"a1.txt", "a 2/", "a 2/a%3"})));
        QCOMPARE(ReadAll(Root() + QStringLiteral("/a 2/a%3")), QByteArray("b 2/b%3"));

        // In version 1 a cut-off last line is a rename made and not recorded.
        QVERIFY(WriteAll(path, "quillbarrow-cli journal 1\n" + r + "/a1.txt " + r + "/c1.txt\n" + r
                                   + "/a%202 /x"));
        QVERIFY(::rename((r + "/a1.txt").constData(), (r + "/c1.txt").constData()) == 0);
        undo = RunCli({"undo", path});
        QCOMPARE(undo.code, 1);
        QVERIFY(undo.err.contains("the last line of the journal was cut off"));
        QVERIFY(undo.out.endsWith("undo: 1 restored, 0 skipped, 0 failed\n"));
        QVERIFY(QFile::exists(Root() + QStringLiteral("/a1.txt")));
    }

    // Standard streams closed, or whose reader went away, or on a full disk:
    // the job runs to its end all the same and keeps its journal whole; output
    // that could not be written makes the exit code 1.
    void lostOutput_data()
    {
        QTest::addColumn<int>("in");
        QTest::addColumn<int>("out");
        QTest::addColumn<int>("err");
        QTest::addColumn<bool>("dryRun");    // else a run with a journal
        QTest::addColumn<bool>("conflicts"); // every second rename fails (target taken)
        QTest::addColumn<int>("code");
        const int captured = int(Stream::Captured), closed = int(Stream::Closed),
                  broken = int(Stream::BrokenPipe), full = int(Stream::FullDisk);
        // Before, the journal took descriptor 1 and got the summary.
        QTest::newRow("input and output closed") << closed << closed << captured << false << false << 0;
        // Before, SIGPIPE ended the run at its first line, without summary or report.
        QTest::newRow("output to a pipe nobody reads") << captured << broken << captured << false
                                                       << false << 1;
        QTest::newRow("errors to a pipe nobody reads") << captured << captured << broken << false
                                                       << true << 1;
        QTest::newRow("output to a full disk") << captured << full << captured << false << false << 1;
        QTest::newRow("dry run to a full disk") << captured << full << captured << true << false << 1;
    }

    void lostOutput()
    {
        QFETCH(int, in);
        QFETCH(int, out);
        QFETCH(int, err);
        QFETCH(bool, dryRun);
        QFETCH(bool, conflicts);
        QFETCH(int, code);
        QList<QByteArray> tree, after;
        for (int i = 0; i < 300; ++i) {
            const QByteArray name = "f" + QByteArray::number(i);
            tree << name + "_x.txt";
            const bool taken = conflicts && i % 2 == 0;
            if (taken)
                tree << name + "_Y.txt";
            after << name + (dryRun || taken ? "_x.txt" : "_Y.txt");
            if (taken)
                after << name + "_Y.txt";
        }
        QVERIFY(Make(root_, tree));
        const QString journal = temp_.path() + QStringLiteral("/lost-output%1.txt").arg(serial_);
        QStringList arguments = WithRoot({"replace", "ROOT", "_x", "_Y", "--no-report"});
        arguments << (dryRun ? QStringList{"--dry-run"} : QStringList{"--journal", journal});

        const Result run = RunCliWithStreams(arguments, Stream(in), Stream(out), Stream(err));
        QCOMPARE(run.code, code);
        QCOMPARE(Listing(Snapshot(root_)), Listing(TreeOf(after)));
        if (dryRun)
            return;
        const JournalText text = ReadJournalText(journal);
        QVERIFY2(text.wellFormed && !text.pending && !text.cutOff, ReadAll(journal).left(300).constData());
        QCOMPARE(text.made.size(), conflicts ? 150 : 300);
        QCOMPARE(text.failed, conflicts ? 150 : 0);
    }

    // Undo likewise runs to its end when its output is lost, and a second
    // undo finds every entry already back: restored, exit code 0.
    void undoWithLostOutput()
    {
        QList<QByteArray> tree;
        for (int i = 0; i < 300; ++i)
            tree << "f" + QByteArray::number(i) + "_x.txt";
        QVERIFY(Make(root_, tree));
        const QString journal = temp_.path() + QStringLiteral("/undo-lost-output.txt");
        QCOMPARE(RunCli(WithRoot({"replace", "ROOT", "_x", "_Y", "--no-report", "--journal", journal})).code, 0);

        const Result cut = RunCliWithStreams({"undo", journal}, Stream::Captured, Stream::BrokenPipe,
                                             Stream::Captured);
        QCOMPARE(cut.code, 1);
        QCOMPARE(cut.err, QByteArray("quillbarrow-cli: standard output could not be written whole\n"));
        QCOMPARE(Listing(Snapshot(root_)), Listing(TreeOf(tree)));

        const Result again = RunCli({"undo", journal});
        QCOMPARE(again.err, QByteArray());
        QCOMPARE(again.code, 0);
        QCOMPARE(again.out.count("already restored: " + root_ + "/f"), 300);
        QVERIFY(again.out.endsWith("undo: 300 restored, 0 skipped, 0 failed\n"));

        const Result full = RunCliWithStreams({"undo", journal}, Stream::Captured, Stream::FullDisk,
                                              Stream::Captured);
        QCOMPARE(full.code, 1);
    }

    // Undo keeps the records, not the journal's text: a journal of 64 MB
    // of renames that failed costs little more memory than an empty one.
    void undoReadsTheJournalAsAStream()
    {
        const QString small = temp_.path() + QStringLiteral("/small-journal.txt");
        const QString big = temp_.path() + QStringLiteral("/big-journal.txt");
        QByteArray content = "quillbarrow-cli journal 2\n";
        QVERIFY(WriteAll(small, content));
        QFile file(big);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray path = root_ + '/' + QByteArray(100, 'p');
        for (int i = 1; file.size() + content.size() < (64 << 20); ++i) {
            content += "intent " + QByteArray::number(i) + " 1 2 " + path + "a " + path + "b\nfailed "
                + QByteArray::number(i) + '\n';
            if (content.size() > (1 << 20)) {
                QVERIFY(file.write(content) == content.size());
                content.clear();
            }
        }
        QVERIFY(file.write(content) == content.size());
        file.close();
        long emptyKb = 0, bigKb = 0;
        QCOMPARE(RunCliWithStreams({"undo", small}, Stream::Captured, Stream::Captured,
                                   Stream::Captured, &emptyKb).code, 0);
        const Result undo = RunCliWithStreams({"undo", big}, Stream::Captured, Stream::Captured,
                                              Stream::Captured, &bigKb);
        QFile::remove(big);
        QCOMPARE(undo.code, 0);
        QCOMPARE(undo.out, QByteArray("undo: 0 restored, 0 skipped, 0 failed\n"));
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("AddressSanitizer keeps freed memory in its quarantine: peak memory is its own");
#endif
        QVERIFY2(bigKb < emptyKb + 24 * 1024,
                 qPrintable(QStringLiteral("%1 kB against %2 kB").arg(bigKb).arg(emptyKb)));
    }

    // A pair file swapped for a FIFO between any two steps of reading it:
    // each run is refused or reads the file, at once; none waits for a writer.
    void pairFileSwappedForAFifo()
    {
        QVERIFY(Make(root_, {"a.txt"}));
        const QByteArray find = root_ + "-find.txt", fifo = root_ + "-fifo";
        QVERIFY(WriteAll(QFile::decodeName(find), "a\n")
                && WriteAll(Root() + QStringLiteral("-replacement.txt"), "b\n"));
        QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
        std::atomic<bool> stop{false};
        std::thread swapper([&] {
            while (!stop)
                if (::renameat2(AT_FDCWD, find.constData(), AT_FDCWD, fifo.constData(), RENAME_EXCHANGE) == 0)
                    std::this_thread::yield();
        });
        int refused = 0, read = 0;
        for (int i = 0; i < 200 && !QTest::currentTestFailed(); ++i) {
            const Result run = RunCli({"pairs", Root(), QFile::decodeName(find),
                                       Root() + QStringLiteral("-replacement.txt"), "--dry-run"},
                                      3000);
            if (run.code == 2 && run.err.endsWith("it is not a regular file\n"))
                ++refused;
            else if (run.code == 0 && run.out.startsWith("rename: "))
                ++read;
            else
                QFAIL(qPrintable(QStringLiteral("run %1: code %2, %3").arg(i).arg(run.code)
                                     .arg(QString::fromLocal8Bit(run.err))));
        }
        stop = true;
        swapper.join();
        QCOMPARE(refused + read, 200);
        QCOMPARE(Listing(Snapshot(root_)), Listing(TreeOf({"a.txt"})));
    }

    // A journal the job could reach is refused, however its path gets there:
    // through a link inside the folder, a link outside leading in, the
    // folder's own link, or "..". Folders are compared by identity.
    void journalReachedThroughALink_data()
    {
        QTest::addColumn<QByteArray>("link");    // OUT/NAME -> TARGET or ROOT/NAME -> TARGET
        QTest::addColumn<QByteArray>("folder");  // the folder argument
        QTest::addColumn<QByteArray>("journal"); // the --journal argument
        QTest::addColumn<bool>("refused");
        QTest::newRow("a link inside the folder, to a folder outside")
            << QByteArray("ROOT/out -> OUT") << QByteArray("ROOT")
            << QByteArray("ROOT/out/a-journal.txt") << true;
        QTest::newRow("a link outside, to a folder inside")
            << QByteArray("OUT/in -> ROOT/adir") << QByteArray("ROOT")
            << QByteArray("OUT/in/a-journal.txt") << true;
        QTest::newRow("the folder named through a link")
            << QByteArray("OUT/root -> ROOT") << QByteArray("OUT/root")
            << QByteArray("ROOT/a-journal.txt") << true;
        QTest::newRow("the folder reached by ..")
            << QByteArray("OUT/in -> ROOT/adir") << QByteArray("ROOT")
            << QByteArray("OUT/in/../a-journal.txt") << true;
        // The job records the folder's path without links, for undo to check.
        QTest::newRow("the folder named through a link, the journal outside: allowed")
            << QByteArray("OUT/root -> ROOT") << QByteArray("OUT/root")
            << QByteArray("OUT2/a-journal.txt") << false;
        QTest::newRow("a link outside, to another folder outside: allowed")
            << QByteArray("OUT/l -> OUT2") << QByteArray("ROOT")
            << QByteArray("OUT/l/a-journal.txt") << false;
    }

    void journalReachedThroughALink()
    {
        QFETCH(QByteArray, link);
        QFETCH(QByteArray, folder);
        QFETCH(QByteArray, journal);
        QFETCH(bool, refused);

        QVERIFY(Make(root_, {"a.txt", "adir/", "adir/a.jpg"}));
        const QByteArray out = QFile::encodeName(temp_.path()) + "/out" + QByteArray::number(serial_);
        const QByteArray out2 = out + "-2";
        QVERIFY(::mkdir(out.constData(), 0777) == 0 && ::mkdir(out2.constData(), 0777) == 0);
        const auto expand = [&](QByteArray text) {
            return text.replace("OUT2", out2).replace("OUT", out).replace("ROOT", root_);
        };
        const QList<QByteArray> parts = link.split(' ');
        QVERIFY(::symlink(expand(parts.at(2)).constData(), expand(parts.at(0)).constData()) == 0);
        const Tree before = Snapshot(root_);
        const QString journalPath = QFile::decodeName(expand(journal));

        const Result run = RunCli({"replace", QFile::decodeName(expand(folder)), "a", "b",
                                   "--journal", journalPath, "--no-report"});
        if (refused) {
            QCOMPARE(run.code, 2);
            QVERIFY2(run.err.startsWith("quillbarrow-cli: the journal "), run.err.constData());
            QCOMPARE(Listing(Snapshot(root_)), Listing(before));
            QVERIFY(!QFile::exists(journalPath));
            // Nothing written outside either, beside the link made here.
            const QByteArray linkPath = expand(parts.at(0));
            const Tree outside = Snapshot(out);
            QVERIFY(outside.isEmpty() || outside.keys() == QList<QByteArray>{linkPath.mid(out.size() + 1)});
            QVERIFY(Snapshot(out2).isEmpty());
            return;
        }
        QCOMPARE(run.code, 0);
        QVERIFY(QFile::exists(QFile::decodeName(out2 + "/a-journal.txt")));
        const auto records = JournalRecords(journalPath);
        QCOMPARE(records.size(), 3);
        for (const auto &record : records)
            QVERIFY2(record.first.startsWith(root_ + '/') && record.second.startsWith(root_ + '/'),
                     record.first.constData());
        const Result undo = RunCli({"undo", journalPath});
        QCOMPARE(undo.code, 0);
        QCOMPARE(Listing(Snapshot(root_)), Listing(before));
    }

    // A replace with a journal on a tree of 30,000 entries, killed outright
    // (SIGKILL) at moments spread over the measured length of a whole run, and
    // stopped with SIGTERM: each time the journal holds just what happened,
    // and undo gives back the start tree byte for byte, same entries, names
    // and contents. Each undo restores the tree for the next run.
    void killedRunsUndoExactly()
    {
        QList<QByteArray> entries{"odd a/", "odd a/a\tb", "odd a/100%a", "odd a/a\nb",
                                  "odd a/\xC3\xA4" "a"};
        for (int d = 0; d < 30; ++d) {
            const QByteArray top = "da" + QByteArray::number(d).rightJustified(2, '0');
            entries << top + '/';
            for (int s = 0; s < 10; ++s) {
                const QByteArray sub = top + "/sa" + QByteArray::number(s);
                entries << sub + '/';
                for (int f = 0; f < 100; ++f)
                    entries << sub + "/fa" + QByteArray::number(f).rightJustified(3, '0') + ".dat";
            }
        }
        QVERIFY(Make(root_, entries));
        const Tree startNames = Snapshot(root_);
        QVERIFY(startNames.size() >= 30000);
        const testtree::Snapshot start = testtree::TakeSnapshot(root_, true);
        QVERIFY(start.problems.isEmpty());
        const int renamable = startNames.size(); // every name holds an "a"

        int runs = 0;
        const auto journalPath = [&] {
            return temp_.path() + QStringLiteral("/kill-journal%1.txt").arg(++runs);
        };
        const auto arguments = [&](const QString &journal) {
            return QStringList{"replace", Root(), "a", "b", "--journal", journal, "--no-report"};
        };
        // After a run, undone: the tree must be the start tree again.
        const auto undoneExactly = [&](const QString &journal, QString *why) {
            const Result undo = RunCli({"undo", journal});
            if (undo.code != 0 || !undo.err.isEmpty()) {
                *why = QStringLiteral("undo exit %1: %2").arg(undo.code).arg(QString::fromUtf8(undo.err.left(500)));
                return false;
            }
            const testtree::Snapshot now = testtree::TakeSnapshot(root_, true);
            *why = SameTree(start, now);
            return why->isEmpty();
        };

        // One whole run, measured.
        QString why;
        const QString whole = journalPath();
        QElapsedTimer clock;
        clock.start();
        const Result run = RunCli(arguments(whole));
        const qint64 duration = clock.elapsed();
        QCOMPARE(run.code, 0);
        QCOMPARE(JournalRecords(whole).size(), renamable);
        QVERIFY2(undoneExactly(whole, &why), qPrintable(why));

#ifdef QB_FEWER_KILL_POINTS
        // Each point costs several times as much under the sanitizers; ten
        // spread over the run still take the journal and undo through it.
        const int kills = 8, terms = 2;
#else
        const int kills = 32, terms = 6;
#endif
        int partRenamed = 0, pendingLeft = 0;
        for (int point = 0; point < kills + terms; ++point) {
            const bool hard = point < kills;
            const int signal = hard ? SIGKILL : SIGTERM;
            const qint64 at = hard ? duration * (2 * point + 1) / (2 * kills)
                                   : duration * (2 * (point - kills) + 1) / (2 * terms);
            const QString journal = journalPath();
            QProcess process;
            process.start(Program, arguments(journal));
            QVERIFY(process.waitForStarted());
            QElapsedTimer since;
            since.start();
            while (since.elapsed() < at && process.state() == QProcess::Running)
                QThread::usleep(200);
            ::kill(static_cast<pid_t>(process.processId()), signal);
            QVERIFY(process.waitForFinished(60000));
            const QByteArray out = process.readAllStandardOutput();
            const QString where = QStringLiteral("%1 at %2 ms").arg(hard ? "SIGKILL" : "SIGTERM").arg(at);

            // Killed before its header was written: it had not begun to rename.
            if (!ReadAll(journal).contains('\n')) {
                why = SameTree(start, testtree::TakeSnapshot(root_, true));
                QVERIFY2(why.isEmpty(), qPrintable(where + QStringLiteral(": ") + why));
                continue;
            }
            const JournalText text = ReadJournalText(journal);
            QVERIFY2(text.wellFormed, qPrintable(where));
            QCOMPARE(text.failed, 0);
            // The tree is the start tree with the confirmed renames made, and
            // the pending one made or not.
            Tree expected = startNames;
            QCOMPARE(Replay(expected, root_, text.made), QString());
            const Tree now = Snapshot(root_);
            const bool pendingMade = text.pending && now != expected;
            if (pendingMade) {
                QCOMPARE(Replay(expected, root_, QList<QPair<QByteArray, QByteArray>>{text.pendingPaths}),
                         QString());
                ++pendingLeft;
            }
            QVERIFY2(now == expected, qPrintable(where));
            const int renamed = text.made.size() + (pendingMade ? 1 : 0);
            if (renamed > 0 && renamed < renamable)
                ++partRenamed;
            if (!hard) {
                // Stopped between two renames: every intent has its result,
                // and the summary counts just the renames made.
                QVERIFY2(!text.pending, qPrintable(where));
                const QRegularExpression counts(QStringLiteral("修改文件名(\\d+)个,修改文件夹名(\\d+)个"));
                const QRegularExpressionMatch match = counts.match(QString::fromUtf8(out));
                // No summary: stopped before its handler was in place, so before any rename.
                QVERIFY2(match.hasMatch() || (out.isEmpty() && text.made.isEmpty()), out.constData());
                if (match.hasMatch())
                    QCOMPARE(match.captured(1).toInt() + match.captured(2).toInt(), text.made.size());
            }
            QVERIFY2(undoneExactly(journal, &why), qPrintable(where + QStringLiteral(": ") + why));
        }
        qInfo("whole run %lld ms; %d kill points (%d SIGKILL, %d SIGTERM), %d part-renamed, "
              "%d left an intent whose rename was made",
              duration, kills + terms, kills, terms, partRenamed, pendingLeft);
        // Points spread over the run land inside it, not before or after.
        QVERIFY2(partRenamed >= (kills + terms) / 2, qPrintable(QString::number(partRenamed)));
    }

    // A journal that can't take a record stops the run: a rename whose intent
    // can't be written is not made, and one whose result can't be is taken
    // back, so the journal still tells the whole story and undo restores all.
    void fullJournalStopsTheRun()
    {
        QList<QByteArray> entries;
        for (int i = 0; i < 40; ++i)
            entries << "a" + QByteArray::number(i) + ".txt";
        QVERIFY(Make(root_, entries));
        const Tree original = Snapshot(root_);
        const QString journal = temp_.path() + QStringLiteral("/full-journal.txt");
        // One block of 512 bytes at most; writing past it fails with EFBIG.
        QProcess shell;
        shell.start(QStringLiteral("/bin/sh"),
                    {QStringLiteral("-c"), QStringLiteral("ulimit -f 1; trap '' XFSZ; exec \"$@\""),
                     QStringLiteral("sh"), Program, QStringLiteral("replace"), Root(),
                     QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("--journal"), journal,
                     QStringLiteral("--no-report")});
        QVERIFY(shell.waitForFinished(60000));
        QCOMPARE(shell.exitCode(), 1);
        const QByteArray err = shell.readAllStandardError();
        QVERIFY2(err.contains("cannot write the journal (") && err.contains("was left as it was, stopping"),
                 err.constData());
        QVERIFY(QFileInfo(journal).size() <= 512);
        const JournalText text = ReadJournalText(journal);
        QVERIFY(text.wellFormed);
        QVERIFY(text.made.size() >= 2 && text.made.size() < 40);
        // The rename the journal broke at was not made, or was taken back.
        Tree replayed = original;
        QCOMPARE(Replay(replayed, root_, text.made), QString());
        QCOMPARE(Listing(Snapshot(root_)), Listing(replayed));
        QVERIFY(shell.readAllStandardOutput().contains(
            QStringLiteral("修改文件名%1个").arg(text.made.size()).toUtf8()));
        const Result undo = RunCli({"undo", journal});
        QCOMPARE(undo.err, QByteArray());
        QCOMPARE(undo.code, 0);
        QCOMPARE(Listing(Snapshot(root_)), Listing(original));
    }

    // On a terminal: a counter rewritten in place at most ten times a second,
    // wiped before the summary.
    void progressOnATerminal()
    {
        QList<QByteArray> entries;
        for (int i = 0; i < 3000; ++i)
            entries << "p" + QByteArray::number(i);
        QVERIFY(Make(root_, entries));
        int master = -1;
        QElapsedTimer clock;
        clock.start();
        const pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
        QVERIFY(child >= 0);
        if (child == 0) {
            const QByteArray program = QFile::encodeName(Program);
            ::execl(program.constData(), "quillbarrow-cli", "insert", root_.constData(), "_x",
                    "--after", "--no-report", static_cast<char *>(nullptr));
            ::_exit(127);
        }
        QByteArray screen;
        char buffer[4096];
        for (ssize_t got; (got = ::read(master, buffer, sizeof buffer)) > 0;)
            screen.append(buffer, static_cast<int>(got));
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        const qint64 elapsed = clock.elapsed();
        ::close(master);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);

        const QByteArray summary =
            QStringLiteral("扫描文件3000个,扫描文件夹0个,修改文件名3000个").toUtf8();
        const int summaryAt = screen.indexOf(summary);
        QVERIFY2(summaryAt > 0, screen.constData());
        // "\rN renamed, M failed" draws, then "\r", blanks over the last one, "\r".
        const QList<QByteArray> pieces = screen.left(summaryAt).split('\r');
        QVERIFY2(pieces.size() >= 4 && pieces.first().isEmpty() && pieces.last().isEmpty(),
                 screen.constData());
        const int draws = pieces.size() - 3;
        QVERIFY2(draws <= 2 + elapsed / 100, screen.constData());
        int lastCount = -1;
        for (int i = 1; i <= draws; ++i) {
            const QList<QByteArray> words = pieces.at(i).split(' ');
            QVERIFY2(words.size() == 4 && words.at(1) == "renamed," && words.at(2) == "0"
                         && words.at(3) == "failed" && words.at(0).toInt() >= lastCount,
                     pieces.at(i).constData());
            lastCount = words.at(0).toInt();
        }
        QCOMPARE(pieces.at(draws + 1), QByteArray(pieces.at(draws).size(), ' '));
    }
};

QTEST_GUILESS_MAIN(TestCliRun)
#include "tst_clirun.moc"
