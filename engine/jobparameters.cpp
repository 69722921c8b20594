#include "engine/jobparameters.h"

#include "engine/passfilesystem.h"
#include "platform/pathchecks.h"

#include <QFile>

#include <cstdio>

JobParameters &CurrentJobParameters()
{
    static JobParameters parameters;
    return parameters;
}

QStringList ReportFileNames()
{
    return {QStringLiteral("无法打开修改的文件目录(文件格式有误).txt"), RenameReportFileName(),
            QStringLiteral("不包含内容无修改的文件目录.txt")};
}

QString RenameReportFileName()
{
    return QStringLiteral("包含内容并成功修改的文件目录.txt");
}

QStringList SplitLines(const QString &text)
{
#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
    return text.split(QStringLiteral("\n"), Qt::KeepEmptyParts, Qt::CaseSensitive);
#else
    return text.split(QStringLiteral("\n"), QString::KeepEmptyParts, Qt::CaseSensitive);
#endif
}

QStringList ReportPathsIn(const QString &folderPath)
{
    QStringList paths;
    for (const QString &name : ReportFileNames())
        paths.append(folderPath + name);
    return paths;
}

void DeleteOldReportFiles(JobParameters &params)
{
    params.reportPaths = ReportPathsIn(params.folderPath);
    // Without a folder the names would point into the current directory,
    // where nothing is ours to delete.
    if (params.folderPath.isEmpty())
        return;
    // By the native form, which names exactly that entry on every system.
    for (const QString &path : params.reportPaths)
        RemoveNonFolder(EncodeNativePath(path));
}
