#include "engine/renamepass.h"

#include "engine/folderscan.h"
#include "engine/namerules.h"
#include "engine/reportviewer.h"
#include "platform/pathchecks.h"
#include "platform/renameentry.h"
#include "platform/textfile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

PassSink::~PassSink() = default;

bool PassSink::StopRequested()
{
    return false;
}

bool PassSink::Rename(const QString &oldPath, const QString &targetPath)
{
    return RenameEntry(QFile::encodeName(oldPath).toStdString(),
                       QFile::encodeName(targetPath).toStdString());
}

namespace {

// A file's new name: false when the rule leaves the name part as it is.
struct NewFileName
{
    bool changed = false;
    QString newPart;
    QString newName;
};

class Pass
{
public:
    Pass(const JobParameters &params, PassSink &sink)
        : params_(params), sink_(sink), dot_(PlatformTrailingDot())
    {
        clock_.start();
    }

    TrailingDot Dot() const { return dot_; }

    bool Stopped()
    {
        if (!outcome_.stopped && sink_.StopRequested())
            outcome_.stopped = true;
        return outcome_.stopped;
    }

    // fileRule(const QFileInfo &) -> NewFileName
    template <typename FileRule>
    void FilePhase(FileRule fileRule, bool countScanned)
    {
        if (Stopped())
            return;
        const QList<QFileInfo> files = ScanFiles(params_.folderPath, [this] { return Stopped(); });
        for (const QFileInfo &file : files) {
            if (Stopped())
                return;
            if (countScanned)
                ++outcome_.filesScanned;
            const NewFileName target = fileRule(file);
            if (!target.changed)
                continue;
            const QString oldPath = QDir::toNativeSeparators(file.filePath());
            sink_.EntryStarting(oldPath);
            if (TryRename(oldPath, FileTargetPrefix(file.absoluteFilePath()), target.newPart,
                          target.newName))
                ++outcome_.filesChanged;
        }
    }

    // nameRule(const QString &folderName) -> new folder name
    template <typename NameRule>
    void FolderPhase(NameRule nameRule, bool countScanned)
    {
        if (Stopped())
            return;
        const QList<QFileInfo> folders =
            ScanFolders(params_.folderPath, [this] { return Stopped(); });
        if (countScanned)
            outcome_.foldersScanned = folders.size();
        // Last to first: everything below a folder is renamed before the folder.
        for (int i = folders.size() - 1; i >= 0; --i) {
            if (Stopped())
                return;
            const QFileInfo &folder = folders.at(i);
            const QString name = folder.fileName();
            const QString newName = nameRule(name);
            if (newName == name)
                continue;
            const QString oldPath = QDir::toNativeSeparators(folder.filePath());
            sink_.EntryStarting(oldPath);
            if (TryRename(oldPath, FolderTargetPrefix(folder.dir().absolutePath()), newName,
                          newName))
                ++outcome_.foldersChanged;
        }
    }

    qint64 ElapsedSeconds() const { return clock_.elapsed() / 1000; }

    PassOutcome Finish(const QString &summary)
    {
        outcome_.summary = summary;
        sink_.PassEnded(summary);
        if (!outcome_.renameLog.isEmpty())
            WriteReport();
        return outcome_;
    }

    PassOutcome &Outcome() { return outcome_; }

private:
    bool TryRename(const QString &oldPath, const QString &prefix, const QString &newPart,
                   const QString &newName)
    {
        // A name that is no plain name would move the entry, or fail anyway.
        if (!IsAcceptableNewName(newPart, newName) || !sink_.Rename(oldPath, prefix + newName))
            return false;
        outcome_.renameLog.append(oldPath);
        return true;
    }

    void WriteReport()
    {
        const QString reportPath = params_.folderPath + RenameReportFileName();
        const std::string local = QFile::encodeName(reportPath).toStdString();
        // The launch deleted the old report, so an entry here now came from a
        // rename of this pass (or from someone else): never write over it.
        if (FileExists(local))
            return;
        outcome_.reportWritten =
            WriteTextFile(local, RenameReportContent(outcome_.renameLog).toStdString());
        // A stopped pass belongs to a program on its way out: no window opens.
        if (outcome_.reportWritten && !outcome_.stopped)
            ShowRenameReport(QDir::toNativeSeparators(reportPath));
    }

    const JobParameters &params_;
    PassSink &sink_;
    const TrailingDot dot_;
    QElapsedTimer clock_;
    PassOutcome outcome_;
};

// Replace and multi-pair passes: whole file name, or the extension alone.
auto ReplaceFileRule(const QString &find, const QString &replacement, bool regExpMode,
                     bool onlyExtension, TrailingDot dot)
{
    return [=](const QFileInfo &file) {
        NewFileName result;
        if (onlyExtension) {
            const QString suffix = file.suffix();
            result.newPart = ReplaceInName(suffix, find, replacement, regExpMode);
            result.changed = result.newPart != suffix;
            if (result.changed)
                result.newName = NameWithNewSuffix(
                    {file.fileName(), file.completeBaseName(), suffix}, result.newPart, dot);
        } else {
            const QString name = file.fileName();
            result.newPart = ReplaceInName(name, find, replacement, regExpMode);
            result.changed = result.newPart != name;
            result.newName = result.newPart;
        }
        return result;
    };
}

auto ReplaceFolderRule(const QString &find, const QString &replacement, bool regExpMode)
{
    return [=](const QString &name) { return ReplaceInName(name, find, replacement, regExpMode); };
}

} // namespace

PassOutcome RunReplacePass(const JobParameters &params, PassSink &sink)
{
    Pass pass(params, sink);
    pass.FilePhase(ReplaceFileRule(params.findText, params.replacementText, params.regExpMode,
                                   params.onlyExtension, pass.Dot()),
                   true);
    if (!params.onlyFiles && !params.onlyExtension)
        pass.FolderPhase(
            ReplaceFolderRule(params.findText, params.replacementText, params.regExpMode), true);
    const PassOutcome &counts = pass.Outcome();
    return pass.Finish(ScannedSummary(counts.filesScanned, counts.foldersScanned,
                                      counts.filesChanged, counts.foldersChanged,
                                      pass.ElapsedSeconds()));
}

PassOutcome RunMultiPairPass(const JobParameters &params, PassSink &sink)
{
    Pass pass(params, sink);
    // The launch refuses lists of different lengths; a pass given such lists
    // anyway changes nothing rather than a part.
    const int pairs =
        params.findList.size() == params.replacementList.size() ? params.findList.size() : 0;
    for (int k = 0; k < pairs && !pass.Stopped(); ++k) {
        const QString &find = params.findList.at(k);
        const QString &replacement = params.replacementList.at(k);
        // Each pair scans afresh, so it sees the names the pairs before it made.
        pass.FilePhase(
            ReplaceFileRule(find, replacement, params.regExpMode, params.onlyExtension, pass.Dot()),
            false);
        if (!params.onlyFiles)
            pass.FolderPhase(ReplaceFolderRule(find, replacement, params.regExpMode), false);
    }
    const PassOutcome &counts = pass.Outcome();
    return pass.Finish(
        ChangedSummary(counts.filesChanged, counts.foldersChanged, pass.ElapsedSeconds()));
}

PassOutcome RunInsertPass(const JobParameters &params, PassSink &sink)
{
    Pass pass(params, sink);
    const QString insert = params.insertText;
    const bool before = params.insertBefore;
    const bool onlyExtension = params.onlyExtension;
    const TrailingDot dot = pass.Dot();
    pass.FilePhase(
        [=](const QFileInfo &file) {
            NewFileName result;
            const FileNameParts parts{file.fileName(), file.completeBaseName(), file.suffix()};
            const QString &part = onlyExtension ? parts.suffix : parts.base;
            result.newPart = InsertIntoName(part, insert, before);
            result.changed = result.newPart != part;
            if (result.changed)
                result.newName = onlyExtension ? NameWithNewSuffix(parts, result.newPart, dot)
                                               : NameWithNewBase(parts, result.newPart, dot);
            return result;
        },
        true);
    if (!params.onlyFiles && !onlyExtension)
        pass.FolderPhase(
            [=](const QString &name) { return InsertIntoName(name, insert, before); }, true);
    const PassOutcome &counts = pass.Outcome();
    return pass.Finish(ScannedSummary(counts.filesScanned, counts.foldersScanned,
                                      counts.filesChanged, counts.foldersChanged,
                                      pass.ElapsedSeconds()));
}

QString ScannedSummary(int filesScanned, int foldersScanned, int filesChanged, int foldersChanged,
                       qint64 seconds)
{
    return QStringLiteral("扫描文件") + QString::number(filesScanned) + QStringLiteral("个,")
        + QStringLiteral("扫描文件夹") + QString::number(foldersScanned) + QStringLiteral("个,")
        + ChangedSummary(filesChanged, foldersChanged, seconds);
}

QString ChangedSummary(int filesChanged, int foldersChanged, qint64 seconds)
{
    return QStringLiteral("修改文件名") + QString::number(filesChanged) + QStringLiteral("个,")
        + QStringLiteral("修改文件夹名") + QString::number(foldersChanged) + QStringLiteral("个,")
        + QStringLiteral("耗时") + QString::number(seconds) + QStringLiteral("秒。");
}

QByteArray RenameReportContent(const QStringList &renameLog)
{
    QString text;
    for (const QString &line : renameLog)
        text += line + QLatin1Char('\n');
    return text.toLocal8Bit();
}
