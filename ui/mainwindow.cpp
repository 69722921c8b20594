#include "ui/mainwindow.h"

#include "app/settingsfile.h"
#include "app/startup.h"
#include "app/systemtray.h"
#include "engine/checks.h"
#include "engine/jobparameters.h"
#include "engine/threadobject.h"
#include "ui/mainwindowform.h"
#include "ui/reportviewer.h"
#include "ui/windowplacement.h"

#include <QFile>
#include <QMessageBox>
#include <QThread>

#include <mutex>
#include <utility>
#include <vector>

// Carries the worker's progress texts to the main thread. The worker only
// appends under a lock, never posting an event or waking anything; while a
// job runs the main thread takes what came every kPollInterval ms, and once
// more when the job's end signal arrives, so each text is delivered, in
// order, before the end is.
class ProgressRelay : public QObject
{
public:
    using Deliver = std::function<void(const QString &)>;
    static constexpr int kPollInterval = 20;

    ProgressRelay(Deliver deliver, QObject *parent)
        : QObject(parent), deliver_(std::move(deliver)), poll_(this)
    {
        poll_.setInterval(kPollInterval);
        connect(&poll_, &QTimer::timeout, this, [this] { Drain(); });
    }

    // The worker's last push is ordered before this only through its thread's
    // end; taking the lock makes that order plain to every checker too.
    ~ProgressRelay() override
    {
        const std::lock_guard<std::mutex> locker(lock_);
        texts_.clear();
    }

    // Any thread.
    void Push(const QString &text)
    {
        const std::lock_guard<std::mutex> locker(lock_);
        texts_.push_back(text);
    }

    void StartPolling() { poll_.start(); }

    void Drain()
    {
        std::vector<QString> batch;
        {
            const std::lock_guard<std::mutex> locker(lock_);
            batch.swap(texts_);
        }
        for (const QString &text : batch)
            deliver_(text);
    }

    void StopPolling()
    {
        Drain();
        poll_.stop();
    }

private:
    Deliver deliver_;
    QTimer poll_;
    std::mutex lock_;
    std::vector<QString> texts_;
};

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new MainWindowForm)
    , workThread(nullptr)
    , threadObject(nullptr)
    , progressRelay(nullptr)
    , progressPending(false)
{
    ui->setupUi(this);
    progressRelay = new ProgressRelay([this](const QString &text) { on_ShowDisposingFile(text); }, this);
    progressTimer.setSingleShot(true);
    connect(&progressTimer, &QTimer::timeout, this, &MainWindow::flushProgress);

    const QSize screen = PrimaryScreenSize();
    windowHeight = geometry().height();
    windowWidth = geometry().width();
    move(CentredTopLeft(screen, QSize(windowWidth, windowHeight)));

    setWindowTitle(QStringLiteral("文件批量重命名") + QStringLiteral("2.1"));
    setWindowIcon(QIcon(QStringLiteral(":/images/qzt.ico")));

    SystemTray *tray = new SystemTray(this);
    connect(tray, &SystemTray::showWidget, this, &MainWindow::ShowSoftWindow);
    connect(tray, &QSystemTrayIcon::activated, this, &MainWindow::SystemTrayActivated);

    std::string startupCopy;
    LoadSettingsText(startupCopy, Startup().settingsPath);

    // Centred for the form's height, then made shorter without moving: the
    // window sits a little above the middle of the screen.
    windowHeight = 500;
    resize(windowWidth, windowHeight);

    std::string sourcePath;
    GetSettingValue(sourcePath, startupCopy, "sourcePath");
    ui->lEdt_SourcePath->setText(QString::fromLocal8Bit(sourcePath.data(), int(sourcePath.size())));

    if (Startup().firstArgument != "-autorun")
        show();
}

MainWindow::~MainWindow()
{
    // Quitting mid-job: the pass stops between two entries and writes its
    // report, instead of dying with the process part-way through.
    if (workThread) {
        workThread->requestInterruption();
        workThread->quit();
        workThread->wait();
    }
    delete threadObject;
    delete workThread;
    delete ui;
}

void MainWindow::setFolderChooser(FolderChooser chooser)
{
    folderChooser = std::move(chooser);
}

void MainWindow::ShowSoftWindow()
{
    showNormal();
    resize(windowWidth, windowHeight);
    raise();
    activateWindow();
}

void MainWindow::SystemTrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::Trigger:
        ShowSoftWindow();
        break;
    default:
        break;
    }
}

void MainWindow::on_pBtn_SourcePath_clicked()
{
    const QString caption = QStringLiteral("选择文件夹");
    const QString startDirectory = QStringLiteral(".");
    const QFileDialog::Options options = QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks;
    const QString folder = folderChooser
        ? folderChooser(this, caption, startDirectory, options)
        : QFileDialog::getExistingDirectory(this, caption, startDirectory, options);
    if (folder.isEmpty())
        return;
    ui->lEdt_SourcePath->setText(folder + QLatin1Char('/'));
}

void MainWindow::on_ShowDisposingFile(QString filePath)
{
    pendingProgress = filePath;
    progressPending = true;
    if (progressTimer.isActive())
        return;
    const qint64 since = progressShown.isValid() ? progressShown.elapsed() : kProgressInterval;
    if (since >= kProgressInterval)
        flushProgress();
    else
        progressTimer.start(int(kProgressInterval - since));
}

void MainWindow::flushProgress()
{
    progressTimer.stop();
    if (!progressPending)
        return;
    progressPending = false;
    ui->lb_ShowDisposingFile->setText(pendingProgress);
    pendingProgress.clear();
    progressShown.start();
}

// A text of the window's own replaces whatever progress is still waiting.
void MainWindow::showProgressNow(const QString &text)
{
    progressTimer.stop();
    progressPending = false;
    pendingProgress.clear();
    ui->lb_ShowDisposingFile->setText(text);
}

void MainWindow::on_Set_pBtn_Enable()
{
    // The summary came just before: it is on screen when the buttons return.
    progressRelay->StopPolling();
    flushProgress();
    ui->pBtn_ReplaceExcelText->setEnabled(true);
    ui->pBtn_ReplaceExcelText_2->setEnabled(true);
    ui->pBtn_InsertText->setEnabled(true);
}

void MainWindow::on_Set_pBtn_Disable()
{
    ui->pBtn_ReplaceExcelText->setEnabled(false);
    ui->pBtn_ReplaceExcelText_2->setEnabled(false);
    ui->pBtn_InsertText->setEnabled(false);
}

void MainWindow::on_pBtn_ReplaceExcelText_clicked()
{
    launch(JobKind::Replace, [this](JobParameters &job) {
        job.findText = ui->lEdt_FindText->text();
        job.replacementText = ui->lEdt_ReplaceExcelText->text();
    });
}

void MainWindow::on_pBtn_ReplaceExcelText_2_clicked()
{
    launch(JobKind::Pairs, [this](JobParameters &job) {
        job.findList = SplitLines(ui->pTEdt_FindText->document()->toPlainText());
        job.replacementList = SplitLines(ui->pTEdt_ReplaceExcelText->document()->toPlainText());
    });
}

void MainWindow::on_pBtn_InsertText_clicked()
{
    launch(JobKind::Insert, [this](JobParameters &job) {
        job.insertBefore = ui->rBtn_InsertFront->isChecked();
        job.insertText = ui->lEdt_InsertText->text();
    });
}

// The one launch of the three buttons: the fields every job reads, then the
// job's own (`fill`), the launch check, and the job on its worker thread.
// The pairs job keeps the last progress text until its first rename.
void MainWindow::launch(JobKind kind, const std::function<void(JobParameters &)> &fill)
{
    JobParameters &job = beginLaunch(kind, kind != JobKind::Insert);
    job.folderPath = ui->lEdt_SourcePath->text();
    fill(job);
    if (!checkLaunch(job))
        return;
    switch (kind) {
    case JobKind::Replace:
        startJob(&MainWindow::pBtn_ReplaceExcelText_HasClicked, &ThreadObject::ReplaceExcelText, true);
        break;
    case JobKind::Pairs:
        startJob(&MainWindow::pBtn_ReplaceExcelText_2_HasClicked, &ThreadObject::ReplaceExcelText_2,
                 false);
        break;
    case JobKind::Insert:
        startJob(&MainWindow::pBtn_InsertText_HasClicked, &ThreadObject::InsertText, true);
        break;
    }
}

// Every launch starts here. The pass re-enables the buttons before it has
// written its report, so a quick second click could land while its slot
// still runs: stop the previous worker thread and wait for that slot to
// return before reading or writing anything. The insert job has no use for
// the regular-expression box and leaves that parameter as it was.
JobParameters &MainWindow::beginLaunch(JobKind kind, bool readsRegExpMode)
{
    if (workThread) {
        workThread->quit();
        workThread->wait();
    }
    JobParameters &job = CurrentJobParameters();
    job.kind = kind;
    job.onlyFiles = ui->cBox_JustShow_2->checkState() == Qt::Checked;
    if (readsRegExpMode)
        job.regExpMode = ui->cBox_RegExpMode->isChecked();
    job.onlyExtension = ui->cBox_JustSuffix->isChecked();
    return job;
}

// Old reports go before the folder check, even when the folder turns out
// to be missing.
bool MainWindow::checkLaunch(JobParameters &job)
{
    const LaunchRefusal refusal = CheckLaunch(job, OldReports::Delete);
    switch (refusal.shown) {
    case LaunchRefusal::Shown::None:
        return true;
    case LaunchRefusal::Shown::ProgressLabel:
        showProgressNow(refusal.message);
        break;
    case LaunchRefusal::Shown::AboutBox:
        QMessageBox::about(this, QStringLiteral("注意："), refusal.message);
        break;
    }
    return false;
}

void MainWindow::setReportViewer(ReportViewer viewer)
{
    reportViewer = std::move(viewer);
}

void MainWindow::showRenameReport(const QString &reportPath)
{
    if (reportViewer)
        reportViewer(reportPath);
    else
        StartReportViewer(reportPath);
}

void MainWindow::startJob(StartSignal startSignal, PassSlot passSlot, bool clearLabel)
{
    const QByteArray folder = CurrentJobParameters().folderPath.toLocal8Bit();
    SetSettingValue(Startup().settingsPath, "sourcePath", folder.toStdString());

    if (clearLabel)
        showProgressNow(QString());
    else
        flushProgress();
    on_Set_pBtn_Disable();

    // beginLaunch has already stopped the previous thread: both can go.
    delete threadObject;
    delete workThread;

    workThread = new QThread;
    threadObject = new ThreadObject;
    threadObject->moveToThread(workThread);
    workThread->start(QThread::InheritPriority);

    // Called on the worker thread; the relay delivers on this one.
    connect(threadObject, &ThreadObject::ShowDisposingFile, progressRelay, &ProgressRelay::Push,
            Qt::DirectConnection);
    progressRelay->StartPolling();
    connect(this, startSignal, threadObject, passSlot, Qt::UniqueConnection);
    connect(threadObject, &ThreadObject::Set_pBtn_Enable, this, &MainWindow::on_Set_pBtn_Enable,
            Qt::UniqueConnection);
    // The report of a job that a later launch has replaced is gone (deleted
    // with the old reports): only the current job's opens.
    const unsigned job = ++jobSerial;
    connect(threadObject, &ThreadObject::RenameReportWritten, this, [this, job](const QString &path) {
        if (job == jobSerial)
            showRenameReport(path);
    });

    emit(this->*startSignal)();
}
