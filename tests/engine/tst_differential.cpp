// The raw scan and the passes built on it, compared entry by entry with the
// straightforward way (QDir::entryInfoList listings, one QFileInfo per
// entry, a rename by path) on random trees: links to files and folders,
// link cycles, links out of the tree, dangling links, FIFOs, hidden files
// and folders, unreadable folders, names equal but for case, non-ASCII
// names, names the locale's encoding can't read. The scan through the dry
// run's in-memory copy of the disk is compared with the scan of the disk.

#include "tests/support/enginetestsupport.h"

#include "engine/memoryfilesystem.h"
#include "engine/folderscan.h"
#include "engine/jobparameters.h"
#include "engine/namerules.h"
#include "engine/renamepass.h"
#include "platform/renameentry.h"
#include "tests/support/referencemodels.h"
#include "tests/support/treesnapshot.h"

#include <QDir>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>

using namespace enginetest;

namespace {

// --- The straightforward scan ------------------------------------------------

QList<QFileInfo> RefListing(const QDir &dir, QDir::Filters filters)
{
    QList<QFileInfo> entries = dir.entryInfoList(filters, QDir::Unsorted);
    SortSiblings(entries);
    return entries;
}

// The toolkit's listings, except that a link to a folder is entered only
// when its canonical path is the chosen folder's or lies below it, and a
// folder (by canonical path) only the first time it is met.
class RefScan
{
public:
    RefScan(const QString &root, bool files) : files_(files)
    {
        if (root.isEmpty())
            return;
        root_ = QFileInfo(root).canonicalFilePath();
        entered_ << root_;
        // Shown as typed, made absolute and clean (it names the same folder
        // in these trees).
        Collect(QDir::cleanPath(QDir(root).absolutePath()));
    }
    QList<QFileInfo> result;
    ScanGaps gaps; // as the scan counts them

private:
    // What the toolkit's listings of `path` leave out in silence: it can't
    // be read, or names in it that are not UTF-8.
    void CountGaps(const QString &path)
    {
        DIR *raw = ::opendir(QFile::encodeName(path).constData());
        if (!raw) {
            gaps.unreadableFolders += errno != ENOTDIR;
            return;
        }
        while (const dirent *entry = ::readdir(raw)) {
            const QByteArray name = entry->d_name;
            // A leading byte order mark is part of the name.
            QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
            QTextCodec::codecForMib(106)->toUnicode(name.constData(), name.size(), &state);
            if (state.invalidChars == 0 && state.remainingChars == 0)
                continue;
            struct stat info, target;
            const QByteArray at = QFile::encodeName(path) + '/' + name;
            if (::lstat(at.constData(), &info) != 0)
                continue;
            const bool folder = name[0] != '.'
                && (S_ISDIR(info.st_mode)
                    || (S_ISLNK(info.st_mode) && ::stat(at.constData(), &target) == 0
                        && !S_ISREG(target.st_mode)));
            gaps.undecodableNames += folder || (files_ && S_ISREG(info.st_mode));
        }
        ::closedir(raw);
    }

    void Collect(const QString &path)
    {
        CountGaps(path);
        const QDir dir(path);
        const QList<QFileInfo> folders = RefListing(dir, QDir::Dirs | QDir::NoDotAndDotDot);
        if (files_)
            result += RefListing(dir, QDir::Files | QDir::Hidden | QDir::NoSymLinks);
        else
            result += folders;
        for (const QFileInfo &folder : folders) {
            const QString canonical = folder.canonicalFilePath();
            if (canonical.isEmpty() || entered_.contains(canonical))
                continue;
            if (folder.isSymLink() && canonical != root_
                && !canonical.startsWith(root_ + QLatin1Char('/')))
                continue;
            entered_ << canonical;
            Collect(folder.absoluteFilePath());
        }
    }
    bool files_;
    QString root_;
    QSet<QString> entered_;
};

// --- The straightforward pass ------------------------------------------------

struct RefOutcome
{
    QStringList progress, targets, log;
    int filesScanned = 0, foldersScanned = 0, filesChanged = 0, foldersChanged = 0;
};

bool RefRename(RefOutcome &out, const QString &oldPath, const QString &prefix,
               const QString &newPart, const QString &newName)
{
    // Every announced rename has its target, even one refused untried.
    out.targets << prefix + newName;
    if (!IsAcceptableNewName(newPart, newName))
        return false;
    // Both absolute: a rename by path takes two paths of one folder only.
    if (!RenameEntry(QFile::encodeName(QFileInfo(oldPath).absoluteFilePath()).toStdString(),
                     QFile::encodeName(prefix + newName).toStdString()))
        return false;
    out.log << oldPath;
    return true;
}

// rule(name part) -> new name part; insert passes split base and suffix.
void RefFilePhase(const JobParameters &params, RefOutcome &out, bool count, bool insert,
                  const std::function<QString(const QString &)> &rule)
{
    const TrailingDot dot = PlatformTrailingDot();
    for (const QFileInfo &file : RefScan(params.folderPath, true).result) {
        if (count)
            ++out.filesScanned;
        const FileNameParts parts{file.fileName(), file.completeBaseName(), file.suffix()};
        const QString part =
            params.onlyExtension ? parts.suffix : (insert ? parts.base : parts.name);
        const QString newPart = rule(part);
        if (newPart == part)
            continue;
        const QString oldPath = QDir::toNativeSeparators(file.filePath());
        out.progress << oldPath;
        const QString newName = params.onlyExtension ? NameWithNewSuffix(parts, newPart, dot)
            : insert                                 ? NameWithNewBase(parts, newPart, dot)
                                                     : newPart;
        if (RefRename(out, oldPath, FileTargetPrefix(file.absoluteFilePath()), newPart, newName))
            ++out.filesChanged;
    }
}

void RefFolderPhase(const JobParameters &params, RefOutcome &out, bool count,
                    const std::function<QString(const QString &)> &rule)
{
    const QList<QFileInfo> folders = RefScan(params.folderPath, false).result;
    if (count)
        out.foldersScanned = folders.size();
    for (int i = folders.size() - 1; i >= 0; --i) {
        const QString name = folders.at(i).fileName();
        const QString newName = rule(name);
        if (newName == name)
            continue;
        const QString oldPath = QDir::toNativeSeparators(folders.at(i).filePath());
        out.progress << oldPath;
        if (RefRename(out, oldPath, FolderTargetPrefix(folders.at(i).dir().absolutePath()), newName,
                      newName))
            ++out.foldersChanged;
    }
}

enum class PassKind { Replace, MultiPair, Insert };

RefOutcome RefPass(PassKind kind, const JobParameters &p)
{
    RefOutcome out;
    const auto replace = [&p](const QString &find, const QString &replacement) {
        return [=](const QString &part) { return ReplaceInName(part, find, replacement, p.regExpMode); };
    };
    if (kind == PassKind::Replace) {
        RefFilePhase(p, out, true, false, replace(p.findText, p.replacementText));
        if (!p.onlyFiles && !p.onlyExtension)
            RefFolderPhase(p, out, true, replace(p.findText, p.replacementText));
    } else if (kind == PassKind::MultiPair) {
        for (int k = 0; k < p.findList.size(); ++k) {
            RefFilePhase(p, out, false, false, replace(p.findList.at(k), p.replacementList.at(k)));
            if (!p.onlyFiles)
                RefFolderPhase(p, out, false, replace(p.findList.at(k), p.replacementList.at(k)));
        }
    } else {
        const auto insert = [&p](const QString &part) {
            return InsertIntoName(part, p.insertText, p.insertBefore);
        };
        RefFilePhase(p, out, true, true, insert);
        if (!p.onlyFiles && !p.onlyExtension)
            RefFolderPhase(p, out, true, insert);
    }
    if (!out.log.isEmpty()) {
        QString text;
        for (const QString &line : out.log)
            text += line + QLatin1Char('\n');
        QFile report(p.folderPath + RenameReportFileName());
        if (report.open(QIODevice::WriteOnly))
            report.write(text.toLocal8Bit());
    }
    return out;
}

// --- Random trees --------------------------------------------------------------

const char *const kNames[] = {
    "abc", "ABC", "aBc", "abc.txt", "ABC.TXT", "a.tar.gz", "README", ".profile", "a.", "x y z",
    "draft 1.jpg", "Draft 2.JPG", "draft_draft", "照片", "照片.jpg", "报告 draft.docx", "Éclair",
    "éclair", "écu", "İstanbul", "ißen", "Straße", "𝒜lpha", "zeta", "Zeta", "_under", "~tilde",
    "10", "9", "b.2020", ".hidden draft", "..dots", "\xef\xbb\xbf" "bom"};
// Bytes that are not UTF-8: the toolkit lists no such name.
const char *const kBadNames[] = {"bad\xff draft", "d\xe9j\xe0", "half\xe4\xb8"};

class TreeMaker
{
public:
    TreeMaker(const QByteArray &root, unsigned seed) : root_(root), random_(seed) {}

    // A folder beside the tree, with names the jobs would change.
    static QByteArray Outside(const QByteArray &root) { return root + " outside"; }

    void Build()
    {
        const QByteArray outside = Outside(root_);
        ::mkdir(outside.constData(), 0755);
        ::mkdir((outside + "/abc draft").constData(), 0755);
        for (const char *name : {"/abc.txt", "/draft 1.jpg", "/abc draft/照片 a.jpg"})
            ::close(::open((outside + name).constData(), O_CREAT | O_WRONLY | O_EXCL, 0644));
        std::vector<QByteArray> folders{root_};
        for (int i = 0; i < 70; ++i) {
            const QByteArray folder = folders[Below(int(folders.size()))];
            const QByteArray path = folder + '/' + Name();
            const int what = Below(100);
            if (what < 45) {
                ::close(::open(path.constData(), O_CREAT | O_WRONLY | O_EXCL, 0644));
            } else if (what < 65) {
                if (::mkdir(path.constData(), 0755) == 0 && folders.size() < 14)
                    folders.push_back(path);
            } else if (what < 72) {
                // To a folder of the tree (an ancestor among them), or out of
                // it: to a folder beside it, or two levels up, which is out of
                // the tree from its top two levels only.
                const int where = Below(5);
                const QByteArray target = where == 0 ? Outside(root_)
                    : where == 1                     ? QByteArray("../..")
                                                     : folders[Below(int(folders.size()))];
                ::symlink(target.constData(), path.constData());
            } else if (what < 77) {
                ::symlink((root_ + "/no such entry").constData(), path.constData());
            } else if (what < 81) {
                ::mkfifo(path.constData(), 0644);
            } else if (what < 84) {
                const QByteArray fifo = folder + "/fifo target";
                ::mkfifo(fifo.constData(), 0644);
                ::symlink(fifo.constData(), path.constData());
            } else if (what < 90) {
                const QByteArray bad = folder + '/' + kBadNames[Below(3)];
                ::close(::open(bad.constData(), O_CREAT | O_WRONLY | O_EXCL, 0644));
            } else if (what < 94) {
                // Unreadable: listed by its parent, but it lists nothing.
                if (::mkdir(path.constData(), 0755) == 0) {
                    ::close(::open((path + "/inside draft").constData(), O_CREAT | O_WRONLY, 0644));
                    ::chmod(path.constData(), 0);
                }
            } else {
                // A folder one can list but not enter (no search right).
                if (::mkdir(path.constData(), 0755) == 0) {
                    ::close(::open((path + "/seen draft").constData(), O_CREAT | O_WRONLY, 0644));
                    ::chmod(path.constData(), 0444);
                }
            }
        }
    }

    // Gives back every right below `path` (folders renamed since included),
    // so the tree can be compared and removed.
    static void Unlock(const QByteArray &path)
    {
        ::chmod(path.constData(), 0755);
        DIR *dir = ::opendir(path.constData());
        if (!dir)
            return;
        QList<QByteArray> folders;
        while (const dirent *entry = ::readdir(dir))
            if (entry->d_type == DT_DIR && qstrcmp(entry->d_name, ".") != 0
                && qstrcmp(entry->d_name, "..") != 0)
                folders << path + '/' + entry->d_name;
        ::closedir(dir);
        for (const QByteArray &folder : folders)
            Unlock(folder);
    }
    void Unlock() { Unlock(root_); }

private:
    int Below(int n) { return int(random_() % unsigned(n)); }
    QByteArray Name()
    {
        QByteArray name = kNames[Below(int(sizeof kNames / sizeof *kNames))];
        return Below(3) == 0 ? name + ' ' + QByteArray::number(Below(5)) : name;
    }
    QByteArray root_;
    std::mt19937 random_;
};

QByteArray RawTree(const QByteArray &root, const QByteArray &relative = QByteArray())
{
    // Byte names, so that names the toolkit can't read are compared too.
    QByteArray out;
    DIR *dir = ::opendir((relative.isEmpty() ? root : root + '/' + relative).constData());
    if (!dir)
        return out;
    QList<QByteArray> names;
    while (const dirent *entry = ::readdir(dir))
        if (qstrcmp(entry->d_name, ".") != 0 && qstrcmp(entry->d_name, "..") != 0)
            names << entry->d_name;
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const QByteArray &name : names) {
        const QByteArray rel = relative.isEmpty() ? name : relative + '/' + name;
        struct stat info;
        ::lstat((root + '/' + rel).constData(), &info);
        out += rel + (S_ISDIR(info.st_mode) ? "/" : S_ISLNK(info.st_mode) ? "@" : "") + '\n';
        if (S_ISDIR(info.st_mode))
            out += RawTree(root, rel);
    }
    return out;
}


QString WithoutSeconds(const QString &summary)
{
    QString text = summary;
    return text.replace(QRegularExpression(QStringLiteral("\\d+秒。$")), QString());
}

} // namespace

class DifferentialTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void scanMatchesToolkitListings_data();
    void scanMatchesToolkitListings();
    void passMatchesStraightforwardPass_data();
    void passMatchesStraightforwardPass();

private:
    void Build(unsigned seed);
    void Clear();

    QTemporaryDir dir_;
    QString box_;
    QString root_;
    QScopedPointer<TreeMaker> maker_;
    int renamesSeen_ = 0;
    int gapsSeen_ = 0;
};

void DifferentialTest::initTestCase()
{
    QVERIFY(dir_.isValid());
    // One level down, so that no link of the tree ("../.." included) leads
    // above the temporary folder: a scan that wrongly follows one out of the
    // tree must not find the rest of the disk to rename.
    box_ = dir_.path() + QStringLiteral("/box");
    QVERIFY(QDir().mkpath(box_));
    root_ = box_ + QStringLiteral("/tree");
    if (!testtree::DropReadOverride(true))
        QSKIP("running as root and the read-override capabilities can't be dropped: "
              "unreadable folders would read like any other");
}

void DifferentialTest::cleanupTestCase()
{
    testtree::DropReadOverride(false);
    // The trees are rich enough that the passes really rename, and that the
    // scans meet what they can't take in.
    QVERIFY2(renamesSeen_ > 300, qPrintable(QString::number(renamesSeen_)));
    QVERIFY2(gapsSeen_ > 50, qPrintable(QString::number(gapsSeen_)));
}

void DifferentialTest::Build(unsigned seed)
{
    Clear();
    QVERIFY(QDir().mkpath(root_));
    maker_.reset(new TreeMaker(QFile::encodeName(root_), seed));
    maker_->Build();
}

void DifferentialTest::Clear()
{
    if (maker_)
        maker_->Unlock();
    testtree::RemoveTree(QFile::encodeName(root_));
    testtree::RemoveTree(TreeMaker::Outside(QFile::encodeName(root_)));
}

void DifferentialTest::scanMatchesToolkitListings_data()
{
    QTest::addColumn<unsigned>("seed");
    for (unsigned seed = 1; seed <= 24; ++seed)
        QTest::newRow(qPrintable(QString::number(seed))) << seed;
}

void DifferentialTest::scanMatchesToolkitListings()
{
    QFETCH(unsigned, seed);
    Build(seed);
    // Relative and unclean paths as typed list the folder they name.
    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(box_));
    for (const QString &root : {root_, root_ + QLatin1Char('/'), root_ + QStringLiteral("/../tree"),
                                QStringLiteral("tree/"), QStringLiteral("./tree//")}) {
        for (const bool files : {true, false}) {
            const RefScan expected(root, files);
            const ScanKind kind = files ? ScanKind::Files : ScanKind::Folders;
            DiskFileSystem disk;
            const ScannedTree actual = ScanTree(disk, root, kind);
            MemoryFileSystem memory;
            const ScannedTree inMemory = ScanTree(memory, root, kind);
            QStringList expectedPaths, actualPaths, memoryPaths;
            for (const QFileInfo &entry : expected.result)
                expectedPaths << entry.filePath();
            for (int i = 0; i < actual.Size(); ++i)
                actualPaths << actual.Path(i);
            for (int i = 0; i < inMemory.Size(); ++i)
                memoryPaths << inMemory.Path(i);
            QCOMPARE(actualPaths, expectedPaths);
            QCOMPARE(memoryPaths, expectedPaths);
            for (const ScannedTree *tree : {&actual, &inMemory}) {
                QCOMPARE(tree->Gaps().unreadableFolders, expected.gaps.unreadableFolders);
                QCOMPARE(tree->Gaps().undecodableNames, expected.gaps.undecodableNames);
                QCOMPARE(tree->Gaps().tooLongPaths, 0);
            }
            gapsSeen_ += expected.gaps.unreadableFolders + expected.gaps.undecodableNames;
        }
    }
    QVERIFY(QDir::setCurrent(saved));
    Clear();
}

void DifferentialTest::passMatchesStraightforwardPass_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("find");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<bool>("regExp");
    QTest::addColumn<bool>("onlyFiles");
    QTest::addColumn<bool>("onlyExtension");
    QTest::addColumn<bool>("before");
    QTest::addColumn<bool>("relative");
    const int replace = int(PassKind::Replace), pairs = int(PassKind::MultiPair),
              insert = int(PassKind::Insert);
    struct Row
    {
        const char *name;
        int kind;
        const char *find, *replacement;
        bool regExp, onlyFiles, onlyExtension, before;
        bool relative = false;
    };
    const Row rows[] = {
        {"replace", replace, "draft", "final", false, false, false, false},
        {"replaceCase", replace, "abc", "ABC", false, false, false, false},
        {"replaceIntoTaken", replace, "ABC", "abc", false, false, false, false},
        {"replaceChinese", replace, "照片", "photo", false, false, false, false},
        {"replaceRegExp", replace, "^(\\w)(.*)$", "\\2\\1", true, false, false, false},
        {"replaceDots", replace, ".", "", false, false, false, false},
        {"replaceOnlyFiles", replace, "a", "b", false, true, false, false},
        {"replaceExtension", replace, "txt", "", false, false, true, false},
        {"pairs", pairs, "a\nb\n照", "b\nc\n相", false, false, false, false},
        {"pairsExtension", pairs, "gz\ntxt", "tgz\ngz", false, false, true, false},
        {"insertBefore", insert, "_1", "", false, false, false, true},
        {"insertAfter", insert, " draft", "", false, false, false, false},
        {"insertExtension", insert, "x", "", false, false, true, false},
        {"replaceRelativeFolder", replace, "a", "A", false, false, false, false, true},
        {"insertRelativeFolder", insert, "_", "", false, false, false, true, true},
    };
    for (unsigned seed = 1; seed <= 4; ++seed)
        for (const Row &row : rows)
            QTest::newRow(qPrintable(QStringLiteral("%1/%2").arg(row.name).arg(seed)))
                << row.kind << QString::fromUtf8(row.find) << QString::fromUtf8(row.replacement)
                << row.regExp << row.onlyFiles << row.onlyExtension << row.before << row.relative;
}

void DifferentialTest::passMatchesStraightforwardPass()
{
    QFETCH(int, kind);
    QFETCH(QString, find);
    QFETCH(QString, replacement);
    QFETCH(bool, regExp);
    QFETCH(bool, onlyFiles);
    QFETCH(bool, onlyExtension);
    QFETCH(bool, before);
    QFETCH(bool, relative);
    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(box_));
    JobParameters params;
    params.folderPath = relative ? QStringLiteral("tree/") : root_ + QLatin1Char('/');
    params.findText = find;
    params.replacementText = replacement;
    params.findList = SplitLines(find);
    params.replacementList = SplitLines(replacement);
    params.insertText = find;
    params.insertBefore = before;
    params.regExpMode = regExp;
    params.onlyFiles = onlyFiles;
    params.onlyExtension = onlyExtension;
    const unsigned seed = unsigned(QString::fromLatin1(QTest::currentDataTag()).section('/', 1).toUInt());

    // The same tree at the same path, once for each pass.
    Build(seed);
    const RefOutcome expected = RefPass(PassKind(kind), params);
    maker_->Unlock();
    const QByteArray expectedTree = RawTree(QFile::encodeName(root_));
    const QByteArray expectedReport = ReadFile(root_ + QLatin1Char('/') + RenameReportFileName());

    Build(seed);
    const QByteArray outside = TreeMaker::Outside(QFile::encodeName(root_));
    const QByteArray outsideBefore = RawTree(outside);
    RecordingSink sink;
    const JobKind kinds[] = {JobKind::Replace, JobKind::Pairs, JobKind::Insert};
    const PassOutcome out = RunJob(kinds[kind], params, sink);
    maker_->Unlock();

    QCOMPARE(sink.progress, expected.progress);
    QCOMPARE(sink.targets, expected.targets);
    QCOMPARE(out.renameLog, expected.log);
    QCOMPARE(out.filesScanned, expected.filesScanned);
    QCOMPARE(out.foldersScanned, expected.foldersScanned);
    QCOMPARE(out.filesChanged, expected.filesChanged);
    QCOMPARE(out.foldersChanged, expected.foldersChanged);
    const QString summary = kind == int(PassKind::MultiPair)
        ? ChangedSummary(expected.filesChanged, expected.foldersChanged, 0)
        : ScannedSummary(expected.filesScanned, expected.foldersScanned, expected.filesChanged,
                         expected.foldersChanged, 0);
    QCOMPARE(WithoutSeconds(out.summary), WithoutSeconds(summary));
    QCOMPARE(RawTree(QFile::encodeName(root_)), expectedTree);
    QCOMPARE(RawTree(outside), outsideBefore);
    QCOMPARE(ReadFile(root_ + QLatin1Char('/') + RenameReportFileName()), expectedReport);
    renamesSeen_ += expected.log.size();
    QVERIFY(QDir::setCurrent(saved));
    Clear();
}

QTEST_GUILESS_MAIN(DifferentialTest)
#include "tst_differential.moc"
