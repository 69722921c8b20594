// The dry run against the real run: random trees (links to files and
// folders, inside and outside the chosen folder and back up to it, dangling
// links, hidden entries, case variants, names that collide), each job planned
// in memory and then run on the disk; the plan must be what happened. Then
// the same on small trees at the file system's limits: names one byte too
// long, and sticky folders holding other users' entries.

#include "cli/dryrun.h"
#include "cli/memoryfilesystem.h"
#include "engine/jobparameters.h"
#include "engine/passfilesystem.h"
#include "engine/renamepass.h"
#include "tests/support/treesnapshot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
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
    QString targetPath;
    bool tried = false;
    bool renamed = false;
    char occupant = 0; // at the target before the rename: 'o' the original entry, 'n' another
    RenameOutcome outcome = RenameOutcome::Renamed;
};

class RecordingSink final : public PassSink
{
public:
    explicit RecordingSink(const Occupants &atStart) : atStart_(atStart) {}

    QList<Attempt> attempts;
    QString summary;

    void RenameStarting(const RenameAttempt &attempt) override
    {
        attempts.append({attempt.oldPath, attempt.targetPath, false, false, 0});
        Attempt &last = attempts.last();
        const QByteArray target = QFile::encodeName(attempt.targetPath);
        const int cut = target.lastIndexOf('/');
        struct stat folder, entry;
        if (cut >= 0 && ::stat(target.left(cut + 1).constData(), &folder) == 0
            && ::lstat(target.constData(), &entry) == 0)
            last.occupant =
                atStart_.value(IdKey(folder) + '/' + target.mid(cut + 1)) == IdKey(entry) ? 'o' : 'n';
    }
    void RenameFinished(const RenameAttempt &, const RenameResult &result) override
    {
        Attempt &last = attempts.last();
        last.tried = result.outcome != RenameOutcome::InvalidName
            && result.outcome != RenameOutcome::InexactName;
        last.renamed = result.Succeeded();
        last.outcome = result.outcome;
    }
    void PassEnded(const QString &line) override { summary = line; }

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
    JobKind kind;
    QStringList finds, replacements; // one each for replace, the pairs for pairs
    QString insertText;
    bool before = true;
    bool regex = false, filesOnly = false, extensionOnly = false;
};

QList<Job> Jobs()
{
    using C = JobKind;
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
            else if (::symlink(LinkText(depth).constData(), child.constData()) != 0)
                continue; // the name is taken already: what stands there stays
        }
    }

    std::mt19937 random_;
    bool ok_ = true;
};


// Acts as another user while it lives, through the effective ids only, so
// that the test is root again afterwards.
class ActingAs
{
public:
    ActingAs(uid_t uid, gid_t gid) : uid_(::geteuid()), gid_(::getegid())
    {
        ok_ = ::setegid(gid) == 0;
        if (ok_ && ::seteuid(uid) != 0) {
            ok_ = false;
            if (::setegid(gid_) != 0)
                std::abort();
        }
    }
    ~ActingAs()
    {
        if (ok_ && (::seteuid(uid_) != 0 || ::setegid(gid_) != 0))
            std::abort(); // the rest of the tests must not run as someone else
    }
    ActingAs(const ActingAs &) = delete;
    ActingAs &operator=(const ActingAs &) = delete;
    bool Ok() const { return ok_; }

private:
    uid_t uid_;
    gid_t gid_;
    bool ok_ = false;
};

bool MakeFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    return fd >= 0 && ::close(fd) == 0;
}

struct Comparison
{
    RenamePlan plan;
    QList<Attempt> real;
    int existsChecked = 0, takenChecked = 0; // taken names whose kind was compared
};

// Plans the job on a copy of the disk, then runs it on the disk, and checks
// rename by rename that the plan is what happened, and that the copy ends as
// the disk does.
void PlanAndRun(JobParameters params, bool deleteOldReports, const QByteArray &container,
                Comparison &out)
{
    DiskFileSystem disk;
    const FsTree before = TreeOf(disk, container);
    MemoryFileSystem memory;
    out.plan = PlanRenameJob(params, deleteOldReports, memory);
    const RenamePlan &plan = out.plan;
    QCOMPARE(TreeOf(disk, container), before); // the dry run touched nothing
    // Taken now: what the copy reads later would come from the disk
    // as the real run leaves it.
    const FsTree planned = TreeOf(memory, container);

    Occupants atStart;
    CollectOccupants(container, atStart);
    RecordingSink real(atStart);
    if (deleteOldReports)
        DeleteOldReportFiles(params);
    const PassOutcome outcome = RunPass(params, real);
    out.real = real.attempts;
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
            QVERIFY2(step.result.Succeeded() == attempt.renamed,
                     qPrintable(where + QLatin1String(" ") + QString::fromUtf8(PlanLine(step))));
            if (attempt.occupant && !attempt.renamed
                && (step.result.outcome == RenameOutcome::TargetExists
                    || step.result.outcome == RenameOutcome::TargetTaken)) {
                QVERIFY2((step.result.outcome == RenameOutcome::TargetExists)
                             == (attempt.occupant == 'o'),
                         qPrintable(where));
                ++(attempt.occupant == 'o' ? out.existsChecked : out.takenChecked);
            }
            QVERIFY2(step.result.outcome != RenameOutcome::InvalidName
                         && step.result.outcome != RenameOutcome::InexactName,
                     qPrintable(where));
        } else {
            // In a UTF-8 locale every listed name is exact. The target
            // shown is the refused one: in the same folder, no plain name.
            QVERIFY2(step.result.outcome == RenameOutcome::InvalidName, qPrintable(where));
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

// Each planned rename's outcome must be the real run's, by old path.
void CompareOutcomes(const Comparison &compared)
{
    QCOMPARE(compared.plan.renames.size(), compared.real.size());
    for (int i = 0; i < compared.real.size(); ++i)
        QVERIFY2(compared.plan.renames.at(i).result.outcome == compared.real.at(i).outcome,
                 qPrintable(compared.real.at(i).oldPath + QLatin1String(": planned ")
                            + QString::fromUtf8(FailureReason(compared.plan.renames.at(i).result))
                            + QLatin1String(", real ")
                            + QString::number(int(compared.real.at(i).outcome))));
}

// The real run's outcome for the entry whose old path ends in `tail`.
RenameOutcome RealOutcome(const Comparison &compared, const QString &tail)
{
    for (const Attempt &attempt : compared.real)
        if (attempt.oldPath.endsWith(tail))
            return attempt.outcome;
    return RenameOutcome::Vanished; // never tried: no outcome the cases expect
}

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
    }

    // Every row passing must also have met both kinds of taken name.
    void cleanupTestCase()
    {
        if (rows_ > 0 && rowsRun_ == rows_) {
            QVERIFY(existsChecked_ > 0);
            QVERIFY(takenChecked_ > 0);
        }
    }

    void cleanup()
    {
        if (!container_.isEmpty())
            testtree::RemoveTree(container_);
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
        params.kind = jobToRun.kind;
        // Now and then the chosen folder by a path that is not clean.
        params.folderPath = QFile::decodeName(container)
            + QLatin1String(seed % 4 == 0 ? "/outside/../root/" : seed % 4 == 1 ? "/root/./" : "/root/");
        params.regExpMode = jobToRun.regex;
        params.onlyFiles = jobToRun.filesOnly;
        params.onlyExtension = jobToRun.extensionOnly;
        params.insertText = jobToRun.insertText;
        params.insertBefore = jobToRun.before;
        if (jobToRun.kind == JobKind::Pairs) {
            params.findList = jobToRun.finds;
            params.replacementList = jobToRun.replacements;
        } else if (jobToRun.kind == JobKind::Replace) {
            params.findText = jobToRun.finds.first();
            params.replacementText = jobToRun.replacements.first();
        }
        const bool noReport = seed % 3 == 0;

        Comparison compared;
        PlanAndRun(params, !noReport, container, compared);
        existsChecked_ += compared.existsChecked;
        takenChecked_ += compared.takenChecked;
    }

    // The file system's longest name, counted in bytes: 255 here fits, 256
    // doesn't, for a file, a folder and a name of two-byte characters (128
    // characters, 256 bytes) alike.
    void longNamesFailAsOnTheDisk()
    {
        const QByteArray container = QFile::encodeName(temp_.path()) + "/long";
        container_ = container;
        QVERIFY(::mkdir(container.constData(), 0777) == 0);
        const QByteArray root = container + "/root/";
        QVERIFY(::mkdir(root.constData(), 0777) == 0);
        if (MakeFile(root + QByteArray(256, 'z')))
            QSKIP("this file system takes names of 256 bytes");
        QVERIFY(errno == ENAMETOOLONG);
        QByteArray twoByte = "@";
        for (int i = 0; i < 127; ++i)
            twoByte += "\xc3\xa9"; // é
        QVERIFY(MakeFile(root + '@' + QByteArray(253, 'x'))); // 254 bytes, 255 renamed
        QVERIFY(MakeFile(root + '@' + QByteArray(254, 'x'))); // 255, 256 renamed
        QVERIFY(::mkdir(root + '@' + QByteArray(254, 'y'), 0777) == 0);
        QVERIFY(MakeFile(root + twoByte)); // 255 bytes, 256 renamed

        JobParameters params;
        params.kind = JobKind::Replace;
        params.folderPath = QFile::decodeName(root);
        params.findText = QStringLiteral("@");
        params.replacementText = QStringLiteral("ab");
        params.writeReport = false;
        Comparison compared;
        PlanAndRun(params, false, container, compared);
        if (QTest::currentTestFailed())
            return;
        CompareOutcomes(compared);
        QCOMPARE(RealOutcome(compared, QString(253, 'x')), RenameOutcome::Renamed);
        QCOMPARE(RealOutcome(compared, QString(254, 'x')), RenameOutcome::NameTooLong);
        QCOMPARE(RealOutcome(compared, QString(254, 'y')), RenameOutcome::NameTooLong);
        QCOMPARE(RealOutcome(compared, QFile::decodeName(twoByte)), RenameOutcome::NameTooLong);
    }

    // In a sticky folder only the entry's owner, the folder's owner or a
    // privileged process may rename an entry. Run as an unprivileged user,
    // since root may rename anything there.
    void stickyFoldersKeepOthersEntries()
    {
        if (::geteuid() != 0)
            QSKIP("needs root, to give entries to several users");
        const struct passwd *nobody = ::getpwnam("nobody");
        const uid_t user = nobody ? nobody->pw_uid : 65534;
        const gid_t group = nobody ? nobody->pw_gid : 65534;
        const uid_t stranger = user == 4242 ? 4243 : 4242; // neither root nor the user
        QVERIFY(::chmod(QFile::encodeName(temp_.path()).constData(), 0711) == 0);
        const QByteArray container = QFile::encodeName(temp_.path()) + "/sticky";
        container_ = container;
        const QByteArray root = container + "/root/";
        QVERIFY(::mkdir(container.constData(), 0755) == 0);
        QVERIFY(::mkdir(root.constData(), 0755) == 0);
        // sticky: root's, for everyone; own: the user's, for everyone; open:
        // for everyone, not sticky.
        for (const char *folder : {"sticky", "own", "open"}) {
            QVERIFY(::mkdir(root + folder, 0777) == 0);
            QVERIFY(::chmod(root + folder, std::strcmp(folder, "open") ? 01777 : 0777) == 0);
        }
        QVERIFY(::chown(root + "own", user, group) == 0);
        QVERIFY(MakeFile(root + "sticky/a1"));                          // root's
        QVERIFY(MakeFile(root + "sticky/a2"));
        QVERIFY(::chown(root + "sticky/a2", user, group) == 0);         // the user's
        QVERIFY(::mkdir(root + "sticky/a3", 0777) == 0);
        QVERIFY(::chown(root + "sticky/a3", stranger, stranger) == 0);  // a third user's
        QVERIFY(MakeFile(root + "sticky/a4"));
        QVERIFY(::chown(root + "sticky/a4", stranger, stranger) == 0);  // the third user's
        QVERIFY(MakeFile(root + "own/a5"));                             // root's, in the user's folder
        QVERIFY(MakeFile(root + "open/a6"));                            // root's, not sticky
        // Old reports in the chosen folder, sticky too: root's stays, the
        // user's goes.
        QVERIFY(::chmod(root.constData(), 01777) == 0);
        const QByteArray rootsReport = root + QFile::encodeName(ReportFileNames().at(0));
        const QByteArray usersReport = root + QFile::encodeName(ReportFileNames().at(2));
        QVERIFY(MakeFile(rootsReport));
        QVERIFY(MakeFile(usersReport));
        QVERIFY(::chown(usersReport.constData(), user, group) == 0);

        JobParameters params;
        params.kind = JobKind::Replace;
        params.folderPath = QFile::decodeName(root);
        params.findText = QStringLiteral("a");
        params.replacementText = QStringLiteral("b");
        params.writeReport = false;
        Comparison compared;
        {
            const ActingAs acting(user, group);
            if (!acting.Ok())
                QSKIP("can't act as another user");
            QCOMPARE(::geteuid(), user);
            PlanAndRun(params, true, container, compared);
        }
        if (QTest::currentTestFailed())
            return;
        CompareOutcomes(compared);
        QCOMPARE(RealOutcome(compared, QStringLiteral("sticky/a1")), RenameOutcome::NotPermitted);
        QCOMPARE(RealOutcome(compared, QStringLiteral("sticky/a2")), RenameOutcome::Renamed);
        QCOMPARE(RealOutcome(compared, QStringLiteral("sticky/a3")), RenameOutcome::NotPermitted);
        QCOMPARE(RealOutcome(compared, QStringLiteral("sticky/a4")), RenameOutcome::NotPermitted);
        QCOMPARE(RealOutcome(compared, QStringLiteral("own/a5")), RenameOutcome::Renamed);
        QCOMPARE(RealOutcome(compared, QStringLiteral("open/a6")), RenameOutcome::Renamed);
        struct stat info;
        QVERIFY(::lstat(rootsReport.constData(), &info) == 0);
        QVERIFY(::lstat(usersReport.constData(), &info) != 0);

        // As root, the same tree renames whole: the rule is the owners', not
        // the folder's.
        testtree::RemoveTree(container);
        QVERIFY(::mkdir(container.constData(), 0755) == 0);
        QVERIFY(::mkdir(root.constData(), 0755) == 0);
        QVERIFY(::mkdir(root + "sticky", 0777) == 0 && ::chmod(root + "sticky", 01777) == 0);
        QVERIFY(MakeFile(root + "sticky/a1"));
        QVERIFY(::chown(root + "sticky/a1", stranger, stranger) == 0);
        Comparison asRoot;
        PlanAndRun(params, false, container, asRoot);
        if (QTest::currentTestFailed())
            return;
        CompareOutcomes(asRoot);
        QCOMPARE(RealOutcome(asRoot, QStringLiteral("sticky/a1")), RenameOutcome::Renamed);
    }
};

QTEST_GUILESS_MAIN(TestDryRun)
#include "tst_dryrun.moc"
