// Someone with write access to the chosen folder plants a link at the
// report's path while jobs run, pointing to a file of the user's outside the
// folder. However the two interleave, that file must never be written.

#include "engine/jobparameters.h"
#include "engine/renamepass.h"
#include "tests/support/enginetestsupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using namespace enginetest;

class ReportRaceTest : public QObject
{
    Q_OBJECT

private slots:
    void plantedLinkNeverLeadsTheReportOutside();
};

void ReportRaceTest::plantedLinkNeverLeadsTheReportOutside()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path() + "/chosen";
    const QString secret = dir.path() + "/secret.txt";
    const QByteArray secretBytes = "the user's own file\n";
    QVERIFY(MakeFile(dir.path(), "secret.txt", secretBytes));
    QVERIFY(::chmod(QFile::encodeName(secret).constData(), 0600) == 0);
    for (int i = 0; i < 20; ++i)
        QVERIFY(MakeFile(root, QStringLiteral("f%1_a.txt").arg(i)));

    const QByteArray reportPath = QFile::encodeName(root + "/" + RenameReportFileName());
    const QByteArray target = QFile::encodeName(secret);
    std::atomic<bool> done{false};
    std::atomic<long> planted{0};
    std::thread racer([&] {
        while (!done.load()) {
            if (::symlink(target.constData(), reportPath.constData()) == 0)
                ++planted;
            std::this_thread::yield();
            ::unlink(reportPath.constData());
        }
    });

    int written = 0, refused = 0;
    const int jobs = 200;
    for (int job = 0; job < jobs; ++job) {
        JobParameters params;
        params.kind = JobKind::Replace;
        params.folderPath = root + "/";
        // Back and forth, so that every job renames every file.
        params.findText = job % 2 == 0 ? QStringLiteral("_a") : QStringLiteral("_b");
        params.replacementText = job % 2 == 0 ? QStringLiteral("_b") : QStringLiteral("_a");
        params.onlyFiles = true;
        DeleteOldReportFiles(params);
        RecordingSink sink;
        const PassOutcome out = RunPass(params, sink);
        if (out.filesChanged != 20) {
            done = true;
            racer.join();
            QFAIL(qPrintable(QStringLiteral("job %1 renamed %2 files").arg(job).arg(out.filesChanged)));
        }
        out.reportWritten ? ++written : ++refused;
        // A report that was written is a file of its own, never the link.
        struct stat info;
        if (out.reportWritten && ::lstat(reportPath.constData(), &info) == 0)
            QVERIFY(!S_ISLNK(info.st_mode) || ReadFile(secret) == secretBytes);
    }
    done = true;
    racer.join();

    QCOMPARE(ReadFile(secret), secretBytes);
    QFileInfo info(secret);
    QCOMPARE(info.size(), qint64(secretBytes.size()));
    qInfo("%d jobs: %d reports written, %d refused at a planted link; %ld links planted", jobs,
          written, refused, planted.load());
    QVERIFY(planted.load() > 0);
    QCOMPARE(written + refused, jobs);
}

QTEST_GUILESS_MAIN(ReportRaceTest)
#include "tst_hardening_reportrace.moc"
