// The dry run against the real run: random trees (links to files and
// folders, inside and outside the chosen folder and back up to it, dangling
// links, hidden entries, case variants, names that collide), each job planned
// in memory and then run on the disk; the plan must be what happened.

#include "cli/dryrun.h"
#include "cli/memoryfilesystem.h"
#include "engine/jobparameters.h"
#include "engine/passfilesystem.h"
#include "engine/renamepass.h"
#include "engine/reportviewer.h"
#include "tests/support/removetree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Relative path -> kind letter, link target letter and hidden flag, as a
// pass file system lists them; only real folders are entered.
using FsTree = QMap<QByteArray, QByteArray>;

void Collect(PassFileSystem &fs, const std::string &path, const QByteArray &relative, FsTree &tree)
{
    DirListing listing;
    EntryIdentity identity;
    if (!fs.ListFolder(path, identity, listing))
        return;
    for (const DirListing::Entry &entry : listing.entries) {
        const QByteArray name(listing.Name(entry), entry.nameSize);
        QByteArray value;
        value += "FDLO"[int(entry.kind)];
        value += "-?fdo"[int(entry.target)];
        value += entry.hidden ? 'h' : '-';
        tree.insert(relative + name, value);
        if (entry.kind == DirEntryKind::Folder)
            Collect(fs, path + name.toStdString() + '/', relative + name + '/', tree);
    }
}

FsTree TreeOf(PassFileSystem &fs, const QByteArray &container)
{
    FsTree tree;
    Collect(fs, container.toStdString() + '/', QByteArray(), tree);
    return tree;
}

QByteArray IdKey(const struct stat &info)
{
    return QByteArray::number(quint64(info.st_dev)) + ':' + QByteArray::number(quint64(info.st_ino));
}

// Which entry stands at each name of each real folder: "folder id/name" ->
// the entry's id.
using Occupants = QMap<QByteArray, QByteArray>;

void CollectOccupants(const QByteArray &folder, Occupants &occupants)
{
    struct stat self;
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return;
    if (::stat(folder.constData(), &self) == 0) {
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            struct stat info;
            if (name == "." || name == ".." || ::lstat((folder + '/' + name).constData(), &info) != 0)
                continue;
            occupants.insert(IdKey(self) + '/' + name, IdKey(info));
            if (S_ISDIR(info.st_mode))
                CollectOccupants(folder + '/' + name, occupants);
        }
    }
    ::closedir(dir);
}

struct Attempt
{
    QString oldPath;
    QString targetPath; // empty when the pass refused the name before trying
    bool tried = false;
    bool renamed = false;
    char occupant = 0; // at the target before the rename: 'o' the original entry, 'n' another
};

class RecordingSink final : public PassSink
{
public:
    explicit RecordingSink(const Occupants &atStart) : atStart_(atStart) {}

    QList<Attempt> attempts;
    QString summary;

    void EntryStarting(const QString &oldPath) override { attempts.append({oldPath, {}, false, false, 0}); }
    void PassEnded(const QString &line) override { summary = line; }
    bool Rename(const QString &oldPath, const QString &targetPath) override
    {
        Attempt &last = attempts.last();
        last.tried = true;
        last.targetPath = targetPath;
        const QByteArray target = QFile::encodeName(targetPath);
        const int cut = target.lastIndexOf('/');
        struct stat folder, entry;
        if (cut >= 0 && ::stat(target.left(cut + 1).constData(), &folder) == 0
            && ::lstat(target.constData(), &entry) == 0)
            last.occupant =
                atStart_.value(IdKey(folder) + '/' + target.mid(cut + 1)) == IdKey(entry) ? 'o' : 'n';
        last.renamed = PassSink::Rename(oldPath, targetPath);
        return last.renamed;
    }

private:
    const Occupants &atStart_;
};

QString WithoutSeconds(QString summary)
{
    return summary.remove(QRegularExpression(QStringLiteral("耗时\\d+秒。$")));
}

struct Job
{
    const char *name;
    CliCommand command;
    QStringList finds, replacements; // one each for replace, the pairs for pairs
    QString insertText;
    bool before = true;
    bool regex = false, filesOnly = false, extensionOnly = false;
};

QList<Job> Jobs()
{
    using C = CliCommand;
    return {
        {"replace a b", C::Replace, {"a"}, {"b"}, {}, true, false, false, false},
        {"replace b a, files only", C::Replace, {"b"}, {"a"}, {}, true, false, true, false},
        {"replace a A (case)", C::Replace, {"a"}, {"A"}, {}, true, false, false, false},
        {"replace o 0 (reaches the container)", C::Replace, {"o"}, {"0"}, {}, true, false, false, false},
        {"replace into a path", C::Replace, {"a"}, {"x/y"}, {}, true, false, false, false},
        {"regex swap", C::Replace, {"^(\\w)(\\w+)"}, {"\\2\\1"}, {}, true, true, false, false},
        {"regex to nothing", C::Replace, {"^b.*"}, {""}, {}, true, true, false, false},
        {"regex to a dot", C::Replace, {"^A$"}, {"."}, {}, true, true, false, false},
        {"extension txt a", C::Replace, {"txt"}, {"a"}, {}, true, false, false, true},
        {"extension dropped", C::Replace, {"txt"}, {""}, {}, true, false, false, true},
        {"pairs chained", C::Pairs, {"a", "b"}, {"b", "c"}, {}, true, false, false, false},
        {"pairs swapped back", C::Pairs, {"b", "a", "c"}, {"a", "b", "b"}, {}, true, false, false, false},
        {"pairs regex, files only", C::Pairs, {"^a", "b$"}, {"b", "a"}, {}, true, true, true, false},
        {"pairs into bad names", C::Pairs, {"^b$", "^A", "a"}, {"..", "", "a/"}, {}, true, true, false, false},
        {"pairs extension only", C::Pairs, {"txt", "TXT"}, {"TXT", "txt"}, {}, true, false, false, true},
        {"insert a before", C::Insert, {}, {}, "a", true, false, false, false},
        {"insert b after", C::Insert, {}, {}, "b", false, false, false, false},
        {"insert after extension", C::Insert, {}, {}, "txt", false, false, false, true},
        {"insert before, files only", C::Insert, {}, {}, "b", true, false, true, false},
    };
}

class TreeMaker
{
public:
    explicit TreeMaker(unsigned seed) : random_(seed) {}

    // The container holds root/ (the chosen folder) and outside/.
    bool Make(const QByteArray &container)
    {
        ok_ = ::mkdir(container.constData(), 0777) == 0;
        Folder(container + "/root", 0, 3);
        Folder(container + "/outside", 0, 1);
        if (Chance(30))
            File(container + "/root/" + QFile::encodeName(RenameReportFileName()));
        if (Chance(30))
            File(container + "/root/"
                 + QFile::encodeName(ReportFileNames().first()));
        return ok_;
    }

private:
    bool Chance(int percent) { return int(random_() % 100) < percent; }
    template <typename T>
    const T &Pick(const QList<T> &list)
    {
        return list.at(int(random_() % unsigned(list.size())));
    }

    QByteArray Name()
    {
        static const QList<QByteArray> bases{"a", "b", "A", "ab", "ba", "B", "o", "x b", "ca"};
        static const QList<QByteArray> extensions{"", "", ".txt", ".TXT", ".a", ".b", ".tar.gz", "."};
        QByteArray name = Pick(bases) + Pick(extensions);
        if (Chance(12))
            name.prepend('.');
        if (Chance(3))
            name += "\xff"; // not UTF-8: left out by every listing
        return name;
    }

    void File(const QByteArray &path)
    {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd >= 0)
            ::close(fd);
    }

    // A link whose text climbs `depth` + 1 levels reaches the container.
    QByteArray LinkText(int depth)
    {
        QByteArray up;
        for (int i = 0; i <= depth; ++i)
            up += "../";
        switch (random_() % 8) {
        case 0:
            return Name(); // a sibling, a dangling name, or one a rename may make
        case 1:
            return "..";
        case 2:
            return ".";
        case 3:
            return up; // the container: root itself is listed from there
        case 4:
            return up + "outside";
        case 5:
            return up + "root/" + Name();
        case 6:
            return "../" + Name();
        default:
            return "nowhere/" + Name();
        }
    }

    void Folder(const QByteArray &path, int depth, int maxDepth)
    {
        if (::mkdir(path.constData(), 0777) != 0 && errno != EEXIST)
            return;
        const int count = 1 + int(random_() % 6);
        for (int i = 0; i < count; ++i) {
            const QByteArray child = path + '/' + Name();
            const unsigned kind = random_() % 10;
            if (kind < 5)
                File(child);
            else if (kind < 8 && depth < maxDepth)
                Folder(child, depth + 1, maxDepth);
            else
                (void)::symlink(LinkText(depth).constData(), child.constData());
        }
    }

    std::mt19937 random_;
    bool ok_ = true;
};


} // namespace

class TestDryRun : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir temp_;
    QByteArray container_;
    int rowsRun_ = 0, rows_ = 0;
    int existsChecked_ = 0, takenChecked_ = 0;

private slots:
    void initTestCase()
    {
        QVERIFY(temp_.isValid());
        SetReportViewer([](const QString &) {});
    }

    // Every row passing must also have met both kinds of taken name.
    void cleanupTestCase()
    {
        if (rowsRun_ == rows_) {
            QVERIFY(existsChecked_ > 0);
            QVERIFY(takenChecked_ > 0);
        }
    }

    void cleanup()
    {
        if (!container_.isEmpty())
            RemoveTree(container_);
    }

    void planEqualsRealRun_data()
    {
        QTest::addColumn<int>("job");
        QTest::addColumn<unsigned>("seed");
        const QList<Job> jobs = Jobs();
        for (int j = 0; j < jobs.size(); ++j)
            for (unsigned seed = 1; seed <= 40; ++seed)
                QTest::addRow("%s, seed %u", jobs.at(j).name, seed) << j << seed;
        rows_ = jobs.size() * 40;
    }

    void planEqualsRealRun()
    {
        QFETCH(int, job);
        QFETCH(unsigned, seed);
        const Job jobToRun = Jobs().at(job);
        const QByteArray container = QFile::encodeName(temp_.path()) + "/j"
            + QByteArray::number(job) + "s" + QByteArray::number(seed);
        container_ = container;
        ++rowsRun_;
        QVERIFY(TreeMaker(seed * 7919u + unsigned(job)).Make(container));

        JobParameters params;
        // Now and then the chosen folder by a path that is not clean.
        params.folderPath = QFile::decodeName(container)
            + QLatin1String(seed % 4 == 0 ? "/outside/../root/" : seed % 4 == 1 ? "/root/./" : "/root/");
        params.regExpMode = jobToRun.regex;
        params.onlyFiles = jobToRun.filesOnly;
        params.onlyExtension = jobToRun.extensionOnly;
        params.insertText = jobToRun.insertText;
        params.insertBefore = jobToRun.before;
        if (jobToRun.command == CliCommand::Pairs) {
            params.findList = jobToRun.finds;
            params.replacementList = jobToRun.replacements;
        } else if (jobToRun.command == CliCommand::Replace) {
            params.findText = jobToRun.finds.first();
            params.replacementText = jobToRun.replacements.first();
        }
        const bool noReport = seed % 3 == 0;

        DiskFileSystem disk;
        const FsTree before = TreeOf(disk, container);
        MemoryFileSystem memory;
        const RenamePlan plan = PlanRenameJob(jobToRun.command, params, !noReport, memory);
        QCOMPARE(TreeOf(disk, container), before); // the dry run touched nothing
        // Taken now: a part of the copy read later would come from the disk
        // as the real run leaves it.
        const FsTree planned = TreeOf(memory, container);

        Occupants atStart;
        CollectOccupants(container, atStart);
        RecordingSink real(atStart);
        if (!noReport)
            DeleteOldReportFiles(params);
        const PassOutcome outcome = jobToRun.command == CliCommand::Pairs
            ? RunMultiPairPass(params, real)
            : jobToRun.command == CliCommand::Insert ? RunInsertPass(params, real)
                                                 : RunReplacePass(params, real);
        if (outcome.reportWritten)
            QCOMPARE(std::remove(QFile::encodeName(params.folderPath + RenameReportFileName())),
                     0);

        QCOMPARE(plan.renames.size(), real.attempts.size());
        for (int i = 0; i < plan.renames.size(); ++i) {
            const PlannedRename &step = plan.renames.at(i);
            const Attempt &attempt = real.attempts.at(i);
            const QString where = QStringLiteral("rename %1: %2").arg(i).arg(attempt.oldPath);
            QVERIFY2(step.oldPath == attempt.oldPath, qPrintable(where));
            if (attempt.tried) {
                QVERIFY2(step.newPath == attempt.targetPath, qPrintable(where));
                QVERIFY2((step.result == PlannedResult::Renamed) == attempt.renamed,
                         qPrintable(where + QLatin1String(" ") + QString::fromUtf8(PlanLine(step))));
                if (attempt.occupant && !attempt.renamed
                    && (step.result == PlannedResult::TargetExists
                        || step.result == PlannedResult::TargetTaken)) {
                    QVERIFY2((step.result == PlannedResult::TargetExists)
                                 == (attempt.occupant == 'o'),
                             qPrintable(where));
                    ++(attempt.occupant == 'o' ? existsChecked_ : takenChecked_);
                }
                QVERIFY2(step.result != PlannedResult::InvalidName
                             && step.result != PlannedResult::InexactName,
                         qPrintable(where));
            } else {
                // In a UTF-8 locale every listed name is exact. The target
                // shown is the refused one: in the same folder, no plain name.
                QVERIFY2(step.result == PlannedResult::InvalidName, qPrintable(where));
                const QString prefix = QDir::cleanPath(QFileInfo(step.oldPath).absolutePath()) + '/';
                const QString name = step.newPath.mid(prefix.size());
                QVERIFY2(step.newPath.startsWith(prefix)
                             && (name.isEmpty() || name == QLatin1String(".")
                                 || name == QLatin1String("..") || name.contains(QLatin1Char('/'))),
                         qPrintable(where + QLatin1String(" -> ") + step.newPath));
            }
        }
        QCOMPARE(plan.filesRenamed, outcome.filesChanged);
        QCOMPARE(plan.foldersRenamed, outcome.foldersChanged);
        QCOMPARE(WithoutSeconds(plan.summary), WithoutSeconds(outcome.summary));
        QCOMPARE(planned, TreeOf(disk, container));
    }
};

QTEST_GUILESS_MAIN(TestDryRun)
#include "tst_dryrun.moc"
