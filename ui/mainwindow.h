#pragma once

#include <QElapsedTimer>
#include <QFileDialog>
#include <QMainWindow>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>

class MainWindowForm;
class ProgressRelay;
class QThread;
struct JobParameters;
enum class JobKind;
class ThreadObject;

// The program's only window: the form, the folder choice, the progress line
// and the three launches of a rename job on a worker thread.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Answers the folder dialog; tests put their own in place of the real one.
    using FolderChooser = std::function<QString(QWidget *parent, const QString &caption,
                                                const QString &startDirectory,
                                                QFileDialog::Options options)>;
    void setFolderChooser(FolderChooser chooser);

    // Opens a rename report once a job has written it; by default the
    // system's plain-text editor. Tests put their own in place.
    using ReportViewer = std::function<void(const QString &reportPath)>;
    void setReportViewer(ReportViewer viewer);

signals:
    void pBtn_ReplaceExcelText_HasClicked();
    void pBtn_ReplaceExcelText_2_HasClicked();
    void pBtn_InsertText_HasClicked();

public slots:
    void ShowSoftWindow();
    void SystemTrayActivated(QSystemTrayIcon::ActivationReason reason);

private slots:
    void on_pBtn_SourcePath_clicked();
    void on_pBtn_ReplaceExcelText_clicked();
    void on_ShowDisposingFile(QString filePath);
    void on_Set_pBtn_Enable();
    void on_Set_pBtn_Disable();
    void on_pBtn_ReplaceExcelText_2_clicked();
    void on_pBtn_InsertText_clicked();

private:
    using StartSignal = void (MainWindow::*)();
    using PassSlot = void (ThreadObject::*)();

    // The progress line: a job sends one text per renamed entry, far more
    // than a label can show. The texts reach on_ShowDisposingFile in batches
    // (progressRelay), one by one and in order, all before the end signal;
    // the latest one is shown at most every kProgressInterval ms, and at once
    // when the job ends.
    static constexpr int kProgressInterval = 50;
    void showProgressNow(const QString &text);
    void flushProgress();

    void launch(JobKind kind, const std::function<void(JobParameters &)> &fill);
    JobParameters &beginLaunch(JobKind kind, bool readsRegExpMode);
    bool checkLaunch(JobParameters &job);
    void startJob(StartSignal startSignal, PassSlot passSlot, bool clearLabel);
    void showRenameReport(const QString &reportPath);

    MainWindowForm *ui;
    int windowHeight;
    int windowWidth;
    QThread *workThread;
    ThreadObject *threadObject;
    FolderChooser folderChooser;
    ReportViewer reportViewer;
    unsigned jobSerial = 0;
    ProgressRelay *progressRelay;
    QString pendingProgress;
    bool progressPending;
    QTimer progressTimer;
    QElapsedTimer progressShown;
};
