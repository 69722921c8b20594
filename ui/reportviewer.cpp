#include "ui/reportviewer.h"

#include "platform/system.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

void StartReportViewer(const QString &reportPath)
{
    // A full path: given a bare name, QProcess searches PATH after fork(),
    // where it can block on a lock another thread held at the fork.
    const QString executable =
        QStandardPaths::findExecutable(QString::fromLatin1(PlainTextViewerProgram()));
    if (!executable.isEmpty())
        QProcess::startDetached(executable, QStringList{reportPath});
}
