// A rename job killed outright (SIGKILL) at many moments of its run: whatever
// the moment, the tree must hold exactly the entries it held before, each in
// its folder under its old or its new name.
//
// The jobs cycle through replace a -> b, insert "a" before, and the pairs job
// with ^[ab]+ -> a (a regular expression). Every name is a prefix of a's and
// b's followed by a number of its own, so names stay unique however far a
// killed job got, and the same tree serves every run.
//
// QB_KILL_RUNS and QB_KILL_ENTRIES in the environment change the number of
// kills (default 60) and the size of the tree (default 20000).

#include "tests/hardening/childprocess.h"
#include "tests/hardening/hardeningsupport.h"
#include "tests/support/treesnapshot.h"

#include "engine/jobparameters.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <unistd.h>

using namespace hardening;

namespace {

int FromEnvironment(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

void SleepNanoseconds(qint64 ns)
{
    timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

} // namespace

class HardeningKillTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void killedAtManyMoments();

private:
    // Compares with the last state, checks every entry, then forgets the
    // report and makes the new state the last. False (with a failure
    // recorded) on any fault. `renamed` gets the number of entries renamed.
    bool Check(const Job &job, const char *what, int *renamed, int *renamable);
    QList<QByteArray> Arguments(const Job &job) const
    {
        return QList<QByteArray>{QByteArray(QB_PASS_DRIVER)} << job.DriverArguments(chosen_, true);
    }

    QTemporaryDir dir_;
    QByteArray chosen_;
    Snapshot last_;
    int entries_ = 0;
};

void HardeningKillTest::initTestCase()
{
    QVERIFY(dir_.isValid());
    chosen_ = QFile::encodeName(dir_.path()) + "/a_chosen";
    QVERIFY(MakeFolder(QFile::encodeName(dir_.path()), "a_chosen"));
    entries_ = FromEnvironment("QB_KILL_ENTRIES", 20000);
    // Top folders, each with ten subfolders, files spread over these.
    const int tops = qMax(1, entries_ / 500);
    QList<QByteArray> folders;
    int serial = 0;
    for (int t = 0; t < tops; ++t) {
        const QByteArray top = "a_f" + QByteArray::number(serial++);
        QVERIFY(MakeFolder(chosen_, top));
        for (int s = 0; s < 10; ++s) {
            folders << top + "/a_f" + QByteArray::number(serial++);
            QVERIFY(MakeFolder(chosen_, folders.last()));
        }
    }
    for (int i = 0; serial < entries_; ++i) {
        const QByteArray file = folders.at(i % folders.size()) + "/a_" + QByteArray::number(serial++) + ".txt";
        QVERIFY(MakeFile(chosen_, file, QByteArray()));
    }
    last_ = TakeSnapshot(chosen_, false);
    QVERIFY(last_.problems.isEmpty());
    QCOMPARE(int(last_.nodes.size()), entries_ + 1);  // and the chosen folder
}

bool HardeningKillTest::Check(const Job &job, const char *what, int *renamed, int *renamable)
{
    const Snapshot now = TakeSnapshot(chosen_, false);
    Comparison cmp = Compare(last_, now, [&job](quint64, const Node &node) { return NamesAfter(job, node); });
    const QByteArray report = QFile::encodeName(RenameReportFileName());
    quint64 reportInode = 0;
    for (const quint64 inode : cmp.created) {
        const Node &node = now.nodes.at(inode);
        if (node.parent == now.root && node.name == report && node.kind == Kind::File)
            reportInode = inode;
        else
            cmp.problems << QStringLiteral("new entry %1").arg(QString::fromUtf8(now.PathOf(inode)));
    }
    if (int(now.nodes.size()) - (reportInode ? 1 : 0) != entries_ + 1)
        cmp.problems << QStringLiteral("%1 entries instead of %2")
                            .arg(now.nodes.size() - (reportInode ? 1 : 0))
                            .arg(entries_ + 1);
    if (!cmp.problems.isEmpty()) {
        const QStringList first = cmp.problems.mid(0, 20);
        QTest::qFail(qPrintable(QStringLiteral("%1: %2 faults, first:\n%3")
                                    .arg(QLatin1String(what))
                                    .arg(cmp.problems.size())
                                    .arg(first.join(QLatin1Char('\n')))),
                     __FILE__, __LINE__);
        return false;
    }
    *renamed = cmp.renamed.size();
    *renamable = 0;
    for (const auto &entry : last_.nodes)
        if (entry.first != last_.root && !NamesAfter(job, entry.second).isEmpty())
            ++*renamable;
    last_ = now;
    if (reportInode) {
        // The next launch deletes it anyway; out of the way for the next check.
        unlink((chosen_ + '/' + report).constData());
        last_.nodes.erase(reportInode);
    }
    return true;
}

void HardeningKillTest::killedAtManyMoments()
{
    const int runs = FromEnvironment("QB_KILL_RUNS", 60);
    const Job jobs[] = {Job::Replacing("a", "b"), Job::Inserting("a", true),
                        Job::Pairs({"^[ab]+"}, {"a"}, true)};

    // One whole run of each job first, to learn how long each takes; the three
    // bring every name back to where it started.
    qint64 durations[3];
    for (int j = 0; j < 3; ++j) {
        QElapsedTimer clock;
        clock.start();
        const ChildResult full = Run(Arguments(jobs[j]));
        durations[j] = clock.nsecsElapsed();
        QVERIFY2(full.exited && full.exitCode == 0, full.output.constData());
        int renamed = 0;
        int renamable = 0;
        QVERIFY(Check(jobs[j], "a whole run", &renamed, &renamable));
        QCOMPARE(renamed, entries_);
        qInfo("a whole run of job %d on %d entries took %.3f s", j, entries_, durations[j] / 1e9);
    }

    int killed = 0, untouched = 0, partial = 0, finished = 0;
    for (int i = 0; i < runs; ++i) {
        const Job &job = jobs[i % 3];
        // Spread over the run, start-up and scan included; the last tenth is
        // the report, which a later launch deletes anyway.
        const qint64 delay = durations[i % 3] * 9 / 10 * (2 * i + 1) / (2 * runs);
        Child child;
        QVERIFY(child.Start(Arguments(job), -1, -1, false));
        SleepNanoseconds(delay);
        child.Kill();
        const ChildResult result = child.Wait();
        if (result.signal == SIGKILL)
            ++killed;
        else
            QVERIFY2(result.exited && result.exitCode == 0, "the driver failed on its own");
        const QByteArray what = "run " + QByteArray::number(i) + " killed after "
            + QByteArray::number(delay / 1000000) + " ms";
        int renamed = 0;
        int renamable = 0;
        QVERIFY(Check(job, what.constData(), &renamed, &renamable));
        if (renamed == 0)
            ++untouched;
        else if (renamed < renamable)
            ++partial;
        else
            ++finished;
    }
    qInfo("kill points: %d runs, %d killed; afterwards %d untouched, %d part-renamed, %d complete",
          runs, killed, untouched, partial, finished);
    // The kills must have landed among the renames, not only before or after.
    QVERIFY2(partial >= runs / 4, "too few kills landed while entries were being renamed");
}

QTEST_GUILESS_MAIN(HardeningKillTest)
#include "tst_hardening_kill.moc"
