#include "engine/jobparameters.h"

#include "engine/passfilesystem.h"
#include "engine/textencoding.h"

#include <QDir>

#include <algorithm>

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

void DeleteOldReportFiles(const QString &folderPath, PassFileSystem &fs)
{
    // Without a folder the names would point into the current directory,
    // where nothing is ours to delete.
    if (folderPath.isEmpty())
        return;
    // The folder path is followed directly by each name: without a closing
    // separator the reports lie beside the folder, as the pass writes its own.
    for (const QString &path : ReportPathsIn(folderPath)) {
        const int cut = std::max(path.lastIndexOf(QLatin1Char('/')),
                                 path.lastIndexOf(QDir::separator()));
        fs.RemoveReport(EncodeNativePath(path.left(cut + 1)), EncodeNativePath(path.mid(cut + 1)));
    }
}

void DeleteOldReportFiles(const JobParameters &params)
{
    DiskFileSystem disk;
    DeleteOldReportFiles(params.folderPath, disk);
}
