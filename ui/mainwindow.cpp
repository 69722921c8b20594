#include "ui/mainwindow.h"

#include "app/settingsfile.h"
#include "app/startup.h"
#include "app/systemtray.h"
#include "engine/checks.h"
#include "engine/jobparameters.h"
#include "engine/threadobject.h"
#include "ui/mainwindowform.h"
#include "ui/windowplacement.h"

#include <QFile>
#include <QMessageBox>
#include <QThread>

namespace {

std::string LocalPath(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new MainWindowForm)
    , workThread(nullptr)
    , threadObject(nullptr)
{
    ui->setupUi(this);

    const QSize screen = PrimaryScreenSize();
    screenWidth = screen.width();
    screenHeight = screen.height();
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
    ui->lb_ShowDisposingFile->setText(filePath);
}

void MainWindow::on_Set_pBtn_Enable()
{
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
    JobParameters &job = beginLaunch(true);
    job.folderPath = ui->lEdt_SourcePath->text();
    job.findText = ui->lEdt_FindText->text();
    job.replacementText = ui->lEdt_ReplaceExcelText->text();
    if (!clearReportsAndCheckFolder(job))
        return;
    startJob(&MainWindow::pBtn_ReplaceExcelText_HasClicked, &ThreadObject::ReplaceExcelText, true);
}

void MainWindow::on_pBtn_ReplaceExcelText_2_clicked()
{
    JobParameters &job = beginLaunch(true);
    job.folderPath = ui->lEdt_SourcePath->text();
    job.findText = ui->pTEdt_FindText->document()->toPlainText();
    job.replacementText = ui->pTEdt_ReplaceExcelText->document()->toPlainText();
    job.findList = SplitLines(job.findText);
    job.replacementList = SplitLines(job.replacementText);
    if (job.findList.size() != job.replacementList.size()) {
        QMessageBox::about(this, QStringLiteral("注意："), QStringLiteral("查找数和替换数不一致,请核对!"));
        return;
    }
    if (!clearReportsAndCheckFolder(job))
        return;
    startJob(&MainWindow::pBtn_ReplaceExcelText_2_HasClicked, &ThreadObject::ReplaceExcelText_2, false);
}

void MainWindow::on_pBtn_InsertText_clicked()
{
    JobParameters &job = beginLaunch(false);
    job.insertBefore = ui->rBtn_InsertFront->isChecked();
    job.insertText = ui->lEdt_InsertText->text();
    if (!IsLegalFileName(job.insertText)) {
        ui->lb_ShowDisposingFile->setText(QStringLiteral("插入内容包含非法字符,无法用于文件名!"));
        return;
    }
    job.folderPath = ui->lEdt_SourcePath->text();
    if (!clearReportsAndCheckFolder(job))
        return;
    startJob(&MainWindow::pBtn_InsertText_HasClicked, &ThreadObject::InsertText, true);
}

// Every launch starts here. The pass re-enables the buttons before it has
// written its report, so a quick second click could land while its slot
// still runs: stop the previous worker thread and wait for that slot to
// return before reading or writing anything. The insert job has no use for
// the regular-expression box and leaves that parameter as it was.
JobParameters &MainWindow::beginLaunch(bool readsRegExpMode)
{
    if (workThread) {
        workThread->quit();
        workThread->wait();
    }
    JobParameters &job = CurrentJobParameters();
    job.onlyFiles = ui->cBox_JustShow_2->checkState() == Qt::Checked;
    if (readsRegExpMode)
        job.regExpMode = ui->cBox_RegExpMode->isChecked();
    job.onlyExtension = ui->cBox_JustSuffix->isChecked();
    return job;
}

// Old reports go first, even when the folder turns out to be missing.
bool MainWindow::clearReportsAndCheckFolder(JobParameters &job)
{
    DeleteOldReportFiles(job);
    if (FolderExists(LocalPath(job.folderPath)))
        return true;
    ui->lb_ShowDisposingFile->setText(QStringLiteral("文件夹不存在,请选择正确路径!"));
    return false;
}

void MainWindow::startJob(StartSignal startSignal, PassSlot passSlot, bool clearLabel)
{
    const QByteArray folder = CurrentJobParameters().folderPath.toLocal8Bit();
    SetSettingValue(Startup().settingsPath, "sourcePath", folder.toStdString());

    if (clearLabel)
        ui->lb_ShowDisposingFile->setText(QString());
    on_Set_pBtn_Disable();

    // beginLaunch has already stopped the previous thread: both can go.
    delete threadObject;
    delete workThread;

    workThread = new QThread;
    threadObject = new ThreadObject;
    threadObject->moveToThread(workThread);
    workThread->start(QThread::InheritPriority);

    connect(threadObject, &ThreadObject::ShowDisposingFile, this, &MainWindow::on_ShowDisposingFile,
            Qt::UniqueConnection);
    connect(this, startSignal, threadObject, passSlot, Qt::UniqueConnection);
    connect(threadObject, &ThreadObject::Set_pBtn_Enable, this, &MainWindow::on_Set_pBtn_Enable,
            Qt::UniqueConnection);

    emit(this->*startSignal)();
}
