#include "engine/reportviewer.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <mutex>

namespace {

std::mutex viewerLock;

ReportViewer &InstalledViewer()
{
    static ReportViewer viewer;
    return viewer;
}

void StartDefaultViewer(const QString &reportPath)
{
#ifdef Q_OS_WIN
    const QString program = QStringLiteral("notepad.exe");
#else
    const QString program = QStringLiteral("xdg-open");
#endif
    // A full path: given a bare name, QProcess searches PATH after fork(),
    // where it can block on a lock another thread held at the fork.
    const QString executable = QStandardPaths::findExecutable(program);
    if (!executable.isEmpty())
        QProcess::startDetached(executable, QStringList{reportPath});
}

} // namespace

void SetReportViewer(ReportViewer viewer)
{
    const std::lock_guard<std::mutex> locker(viewerLock);
    InstalledViewer() = std::move(viewer);
}

void ShowRenameReport(const QString &reportPath)
{
    ReportViewer viewer;
    {
        const std::lock_guard<std::mutex> locker(viewerLock);
        viewer = InstalledViewer();
    }
    if (viewer)
        viewer(reportPath);
    else
        StartDefaultViewer(reportPath);
}
