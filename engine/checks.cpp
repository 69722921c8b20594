#include "engine/checks.h"

#include "engine/jobparameters.h"
#include "engine/namerules.h"
#include "engine/passfilesystem.h"
#include "engine/textencoding.h"

#include <QFile>

LaunchRefusal CheckLaunch(JobParameters &params, OldReports oldReports)
{
    LaunchRefusal refusal;
    if (params.kind == JobKind::Insert && !IsLegalFileName(params.insertText)) {
        refusal.shown = LaunchRefusal::Shown::ProgressLabel;
        refusal.message = QStringLiteral("插入内容包含非法字符,无法用于文件名!");
        return refusal;
    }
    if (params.kind == JobKind::Pairs && params.findList.size() != params.replacementList.size()) {
        refusal.shown = LaunchRefusal::Shown::AboutBox;
        refusal.message = QStringLiteral("查找数和替换数不一致,请核对!");
        return refusal;
    }
    if (oldReports == OldReports::Delete)
        DeleteOldReportFiles(params);
    // What is checked is what the job works on: the folder found here,
    // resolved once, not whatever its path leads to later.
    params.chosen = ChosenFolder();
    // A path the local code page can't hold exactly is neither checked
    // there (a look-alike may name another folder) nor remembered.
    QByteArray local;
    if (ExactLocal8Bit(params.folderPath, local) && FolderExists(local.toStdString())) {
        DiskFileSystem disk;
        params.chosen = ResolveChosenFolder(disk, params.folderPath);
    }
    if (!params.chosen.Found()) {
        refusal.shown = LaunchRefusal::Shown::ProgressLabel;
        refusal.message = QStringLiteral("文件夹不存在,请选择正确路径!");
    }
    return refusal;
}
