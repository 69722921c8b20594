#include "tests/support/enginetestsupport.h"

#include "engine/jobparameters.h"
#include "engine/threadobject.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaMethod>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>

using namespace enginetest;

namespace {

// Stands in for the window: starts a job by a signal, receives the worker's
// signals as queued calls on the main thread.
class FakeWindow : public QObject
{
    Q_OBJECT

public:
    QStringList texts;
    int enables = 0;
    bool allOnMainThread = true;
    int textsAtFirstEnable = -1;

signals:
    void Start();

public slots:
    void on_ShowDisposingFile(QString text)
    {
        allOnMainThread &= QThread::currentThread() == qApp->thread();
        texts << text;
    }
    void on_Set_pBtn_Enable()
    {
        allOnMainThread &= QThread::currentThread() == qApp->thread();
        if (enables++ == 0)
            textsAtFirstEnable = texts.size();
    }
};

} // namespace

class ThreadObjectTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void metaObjectLayout();
    void passRunsOnWorkerThread_data();
    void passRunsOnWorkerThread();
    void interruptionStopsBetweenEntries();

private:
    // Runs `slot` on a fresh worker thread as a launch does, and waits for the
    // end signal and for the thread.
    void RunJob(const char *slot, const std::function<void(ThreadObject *)> &prepare = {});

    QScopedPointer<QTemporaryDir> dir_;
    QString root_;
    FakeWindow window_;
    QScopedPointer<QSignalSpy> progressSpy_;
    QScopedPointer<QSignalSpy> endSpy_;
    QStringList reports_; // what the worker said it wrote, received on this thread
};

void ThreadObjectTest::initTestCase()
{
}

void ThreadObjectTest::init()
{
    dir_.reset(new QTemporaryDir);
    QVERIFY(dir_->isValid());
    root_ = dir_->path();
    reports_.clear();
    window_.texts.clear();
    window_.enables = 0;
    window_.textsAtFirstEnable = -1;
    window_.allOnMainThread = true;
    CurrentJobParameters() = JobParameters();
    CurrentJobParameters().folderPath = root_ + "/";
}

void ThreadObjectTest::cleanup()
{
    progressSpy_.reset();
    endSpy_.reset();
}

void ThreadObjectTest::metaObjectLayout()
{
    const QMetaObject &meta = ThreadObject::staticMetaObject;
    QCOMPARE(meta.className(), "ThreadObject");
    QCOMPARE(meta.superClass(), &QObject::staticMetaObject);
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 6);
    const struct
    {
        const char *signature;
        QMetaMethod::MethodType type;
    } expected[] = {{"ShowDisposingFile(QString)", QMetaMethod::Signal},
                    {"Set_pBtn_Enable()", QMetaMethod::Signal},
                    {"RenameReportWritten(QString)", QMetaMethod::Signal},
                    {"ReplaceExcelText()", QMetaMethod::Slot},
                    {"ReplaceExcelText_2()", QMetaMethod::Slot},
                    {"InsertText()", QMetaMethod::Slot}};
    for (int i = 0; i < 6; ++i) {
        const QMetaMethod method = meta.method(meta.methodOffset() + i);
        QCOMPARE(method.methodSignature(), QByteArray(expected[i].signature));
        QCOMPARE(method.methodType(), expected[i].type);
        QCOMPARE(method.access(), QMetaMethod::Public);
    }
    QCOMPARE(meta.method(meta.methodOffset()).parameterNames(), QList<QByteArray>{"filePath"});
    // The worker keeps no state of its own between jobs.
    QCOMPARE(sizeof(ThreadObject), sizeof(QObject));
}

void ThreadObjectTest::RunJob(const char *slot, const std::function<void(ThreadObject *)> &prepare)
{
    QThread thread;
    auto *worker = new ThreadObject;
    worker->moveToThread(&thread);
    progressSpy_.reset(new QSignalSpy(worker, &ThreadObject::ShowDisposingFile));
    endSpy_.reset(new QSignalSpy(worker, &ThreadObject::Set_pBtn_Enable));

    // The order the queued start call and QThread::wait() guarantee, stated
    // once more in standard atomics: Qt's own locks are invisible to
    // ThreadSanitizer when Qt itself is not instrumented.
    std::atomic<bool> launched{false};
    std::atomic<bool> finished{false};
    connect(&window_, &FakeWindow::Start, worker,
            [&launched] { (void)launched.load(std::memory_order_acquire); });
    connect(&thread, &QThread::finished, worker,
            [&finished] { finished.store(true, std::memory_order_release); }, Qt::DirectConnection);

    connect(worker, &ThreadObject::ShowDisposingFile, &window_, &FakeWindow::on_ShowDisposingFile,
            Qt::UniqueConnection);
    connect(&window_, SIGNAL(Start()), worker, slot, Qt::UniqueConnection);
    connect(worker, &ThreadObject::Set_pBtn_Enable, &window_, &FakeWindow::on_Set_pBtn_Enable,
            Qt::UniqueConnection);
    connect(worker, &ThreadObject::RenameReportWritten, &window_,
            [this](const QString &path) { reports_ << path; });
    if (prepare)
        prepare(worker);
    thread.start();
    launched.store(true, std::memory_order_release);
    emit window_.Start();
    QElapsedTimer clock;
    clock.start();
    while (window_.enables == 0 && clock.elapsed() < 30000)
        QTest::qWait(5);
    // Quit, then wait: the pass's tail (report, viewer) runs after the end
    // signal and must be over before the worker goes.
    thread.quit();
    thread.wait();
    delete worker;
    QCoreApplication::processEvents();
    QVERIFY(finished.load(std::memory_order_acquire));
    QCOMPARE(window_.enables, 1);
}

void ThreadObjectTest::passRunsOnWorkerThread_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QStringList>("renamed");
    QTest::addColumn<QString>("summaryStart");
    QTest::newRow("replace") << QByteArray(SLOT(ReplaceExcelText())) << QStringList{"k/k.txt", "k"}
                             << QStringLiteral("扫描文件2个,扫描文件夹1个,修改文件名1个,修改文件夹名1个,耗时");
    QTest::newRow("multiPair") << QByteArray(SLOT(ReplaceExcelText_2()))
                               << QStringList{"k/k.txt", "k"}
                               << QStringLiteral("修改文件名1个,修改文件夹名1个,耗时");
    QTest::newRow("insert") << QByteArray(SLOT(InsertText()))
                            << QStringList{"k/k.txt", "k/m.txt", "k"}
                            << QStringLiteral("扫描文件2个,扫描文件夹1个,修改文件名2个,修改文件夹名1个,耗时");
}

void ThreadObjectTest::passRunsOnWorkerThread()
{
    QFETCH(QByteArray, slot);
    QFETCH(QStringList, renamed);
    QFETCH(QString, summaryStart);
    QVERIFY(MakeFile(root_, "k/k.txt"));
    QVERIFY(MakeFile(root_, "k/m.txt"));
    JobParameters &params = CurrentJobParameters();
    params.findText = "k";
    params.replacementText = "kx";
    params.findList = QStringList{"k"};
    params.replacementList = QStringList{"kx"};
    params.insertText = "x";
    params.insertBefore = false;

    RunJob(slot.constData());

    QVERIFY(window_.allOnMainThread);
    QCOMPARE(window_.enables, 1);
    QCOMPARE(endSpy_->count(), 1);
    // One progress per renamed entry, then the summary, then the end signal.
    QCOMPARE(window_.textsAtFirstEnable, window_.texts.size());
    QStringList expected;
    for (const QString &path : renamed)
        expected << QDir::toNativeSeparators(root_ + "/" + path);
    QCOMPARE(window_.texts.mid(0, window_.texts.size() - 1), expected);
    QVERIFY2(window_.texts.last().startsWith(summaryStart), qPrintable(window_.texts.last()));
    QStringList spied;
    for (const QList<QVariant> &args : *progressSpy_)
        spied << args.first().toString();
    QCOMPARE(spied, window_.texts);
    QVERIFY(Tree(root_).contains("kx/"));
    QCOMPARE(reports_,
             QStringList{QDir::toNativeSeparators(root_ + "/" + RenameReportFileName())});
}

void ThreadObjectTest::interruptionStopsBetweenEntries()
{
    for (const char *file : {"a1", "a2", "a3"})
        QVERIFY(MakeFile(root_, file));
    CurrentJobParameters().findText = "a";
    CurrentJobParameters().replacementText = "b";

    // As the program does on its way out: the first progress asks the worker
    // thread to stop.
    RunJob(SLOT(ReplaceExcelText()), [](ThreadObject *worker) {
        connect(
            worker, &ThreadObject::ShowDisposingFile, worker,
            [] { QThread::currentThread()->requestInterruption(); }, Qt::DirectConnection);
    });

    QCOMPARE(Tree(root_), Sorted({"a2", "a3", "b1", RenameReportFileName()}));
    QCOMPARE(window_.texts.size(), 2);
    QCOMPARE(window_.enables, 1);
    QCOMPARE(ReadFile(root_ + "/" + RenameReportFileName()),
             ReportText({root_ + "/a1"}));
    // A window on its way out opens nothing.
    QVERIFY(reports_.isEmpty());
}

QTEST_GUILESS_MAIN(ThreadObjectTest)
#include "tst_threadobject.moc"
