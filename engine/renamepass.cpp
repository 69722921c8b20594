#include "engine/renamepass.h"

#include "engine/folderscan.h"
#include "engine/namerules.h"
#include "engine/textencoding.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <string>
#include <vector>

PassSink::~PassSink() = default;

void PassSink::RenameFinished(const RenameAttempt &, const RenameResult &) {}

void PassSink::ReportWritten(const QString &) {}

void PassSink::ReportFailed(const QString &, const TextFileStatus &) {}

bool PassSink::StopRequested()
{
    return false;
}

bool PassSink::KeepsRenameLog() const
{
    return true;
}

namespace {

// A file's new name: false when the rule leaves the name part as it is.
struct NewFileName
{
    bool changed = false;
    QString newPart;
    QString newName;
};

// One line of the report in the local encoding, "?" for what it lacks (as
// QString::toLocal8Bit has it where the locale is UTF-8, without its
// temporary).
void AppendReportLine(const QString &line, bool utf8, std::string &out)
{
    const std::size_t at = out.size();
    if (utf8) {
        out.resize(at + 3 * std::size_t(line.size()));
        if (char *end = WriteUtf8(line, &out[at])) {
            out.resize(std::size_t(end - out.data()));
            out.push_back('\n');
            return;
        }
        out.resize(at);
    }
    const QByteArray local = ShownLocal8Bit(line);
    out.append(local.constData(), std::size_t(local.size()));
    out.push_back('\n');
}

class Pass
{
public:
    Pass(const JobParameters &params, PassSink &sink, PassFileSystem &fs)
        : params_(params), sink_(sink), fs_(fs), dot_(PlatformTrailingDot()),
          keepLog_(sink.KeepsRenameLog()), utf8_(LocaleIsUtf8())
    {
        clock_.start();
        chosen_ = params.chosen.Found() ? params.chosen : ResolveChosenFolder(fs, params.folderPath);
    }

    TrailingDot Dot() const { return dot_; }

    bool Stopped()
    {
        if (!outcome_.stopped && sink_.StopRequested())
            outcome_.stopped = true;
        return outcome_.stopped;
    }

    // fileRule(const QString &fileName) -> NewFileName
    template <typename FileRule>
    void FilePhase(FileRule fileRule, bool countScanned, int pair = 0)
    {
        if (Stopped())
            return;
        const ScannedTree files =
            ScanTree(fs_, chosen_, ScanKind::Files, [this] { return Stopped(); });
        NoteGaps(files.Gaps());
        for (int i = 0; i < files.Size(); ++i) {
            if (Stopped())
                return;
            if (countScanned)
                ++outcome_.filesScanned;
            const QString name = files.Name(i);
            const NewFileName target = fileRule(name);
            if (!target.changed)
                continue;
            const QString oldPath = QDir::toNativeSeparators(files.FolderOf(i).path + name);
            if (TryRename(files, i, oldPath, files.FileTargetPrefixOf(i), target.newPart,
                          target.newName, RenamePhase::Files, pair))
                ++outcome_.filesChanged;
        }
    }

    // nameRule(const QString &folderName) -> new folder name
    template <typename NameRule>
    void FolderPhase(NameRule nameRule, bool countScanned, int pair = 0)
    {
        if (Stopped())
            return;
        const ScannedTree folders =
            ScanTree(fs_, chosen_, ScanKind::Folders, [this] { return Stopped(); });
        NoteGaps(folders.Gaps());
        if (countScanned)
            outcome_.foldersScanned = folders.Size();
        // Last to first: everything below a folder is renamed before the folder.
        for (int i = folders.Size() - 1; i >= 0; --i) {
            if (Stopped())
                return;
            const QString name = folders.Name(i);
            const QString newName = nameRule(name);
            if (newName == name)
                continue;
            const QString oldPath = QDir::toNativeSeparators(folders.FolderOf(i).path + name);
            if (TryRename(folders, i, oldPath, folders.FolderTargetPrefixOf(i), newName, newName,
                          RenamePhase::Folders, pair))
                ++outcome_.foldersChanged;
        }
    }

    qint64 ElapsedSeconds() const { return clock_.elapsed() / 1000; }

    PassOutcome Finish(const QString &summary)
    {
        outcome_.summary = summary;
        sink_.PassEnded(summary);
        if (renamed_ && params_.writeReport)
            WriteReport();
        return outcome_;
    }

    PassOutcome &Outcome() { return outcome_; }

private:
    // Every scan of a pass walks the same tree and meets the same gaps: the
    // largest count of each kind, not their sum.
    void NoteGaps(const ScanGaps &gaps)
    {
        outcome_.unreadableFolders = std::max(outcome_.unreadableFolders, gaps.unreadableFolders);
        outcome_.undecodableNames = std::max(outcome_.undecodableNames, gaps.undecodableNames);
        outcome_.tooLongPaths = std::max(outcome_.tooLongPaths, gaps.tooLongPaths);
    }

    // Announces the rename, tries it unless the new name is no name or the
    // old name can't be told exactly, and reports how it ended. False when
    // the entry was not renamed (or the pass was stopped before it).
    bool TryRename(const ScannedTree &tree, int i, const QString &oldPath, const QString &prefix,
                   const QString &newPart, const QString &newName, RenamePhase phase, int pair)
    {
        // The name rule may have taken long: a stop asked meanwhile comes
        // before any further rename.
        if (Stopped())
            return false;
        const QString targetPath = prefix + newName;
        const RenameAttempt attempt{oldPath, targetPath, phase, pair};
        sink_.RenameStarting(attempt);
        RenameResult result;
        const std::string nativeNewName = EncodeNativePath(newName);
        // A name that is no plain name would move the entry, or fail anyway;
        // a name whose bytes its text can't give back is never touched.
        if (!IsAcceptableNewName(newPart, newName) || nativeNewName.find('\0') != std::string::npos)
            result.outcome = RenameOutcome::InvalidName;
        else if (!tree.Exact(i))
            result.outcome = RenameOutcome::InexactName;
        else
            result = fs_.RenameIn(tree.FolderOf(i).native, tree.FolderOf(i).identity,
                                  tree.NativeName(i), nativeNewName.c_str());
        sink_.RenameFinished(attempt, result);
        if (result.StopsPass())
            outcome_.stopped = true;
        if (!result.Succeeded())
            return false;
        ++renamed_;
        if (keepLog_)
            outcome_.renameLog.append(oldPath);
        // The report's bytes are kept as they go, in blocks: never a second
        // copy of the whole log, nor a big buffer doubling.
        if (report_.empty() || report_.back().size() > kReportBlock - 4096) {
            report_.emplace_back();
            report_.back().reserve(kReportBlock);
        }
        AppendReportLine(oldPath, utf8_, report_.back());
        return true;
    }

    void WriteReport()
    {
        // The folder path is followed directly by the report's name: without
        // a closing separator the report lies beside the folder. With one it
        // lies in the folder the job renamed in, whatever its path leads to
        // by now.
        const QString &given = params_.folderPath;
        const bool inside = given.endsWith(QLatin1Char('/')) || given.endsWith(QDir::separator());
        std::string folder;
        QString shownPath;
        std::string name = EncodeNativePath(RenameReportFileName());
        if (inside && chosen_.Found()) {
            folder = chosen_.native;
            shownPath = QDir::toNativeSeparators(chosen_.shown + RenameReportFileName());
        } else {
            const QString reportPath = given + RenameReportFileName();
            const int cut = std::max(reportPath.lastIndexOf(QLatin1Char('/')),
                                     reportPath.lastIndexOf(QDir::separator()));
            folder = EncodeNativePath(reportPath.left(cut + 1));
            name = EncodeNativePath(reportPath.mid(cut + 1));
            shownPath = QDir::toNativeSeparators(reportPath);
        }
        const TextFileStatus status = fs_.CreateNewFile(folder, name, report_);
        outcome_.reportWritten = status.result == TextFileResult::Written;
        if (outcome_.reportWritten)
            sink_.ReportWritten(shownPath);
        else
            sink_.ReportFailed(shownPath, status);
    }

    const JobParameters &params_;
    PassSink &sink_;
    PassFileSystem &fs_;
    const TrailingDot dot_;
    ChosenFolder chosen_;
    QElapsedTimer clock_;
    PassOutcome outcome_;
    const bool keepLog_;
    const bool utf8_;
    int renamed_ = 0;
    static constexpr std::size_t kReportBlock = 1 << 20;
    std::vector<std::string> report_;
};

// Replace and multi-pair passes: whole file name, or the extension alone.
auto ReplaceFileRule(const QString &find, const QString &replacement, bool regExpMode,
                     bool onlyExtension, TrailingDot dot)
{
    return [rule = ReplaceRule(find, replacement, regExpMode), onlyExtension,
            dot](const QString &name) {
        NewFileName result;
        if (onlyExtension) {
            const FileNameParts parts = SplitFileName(name);
            result.newPart = rule.Apply(parts.suffix);
            result.changed = result.newPart != parts.suffix;
            if (result.changed)
                result.newName = NameWithNewSuffix(parts, result.newPart, dot);
        } else {
            result.newPart = rule.Apply(name);
            result.changed = result.newPart != name;
            result.newName = result.newPart;
        }
        return result;
    };
}

auto ReplaceFolderRule(const QString &find, const QString &replacement, bool regExpMode)
{
    return [rule = ReplaceRule(find, replacement, regExpMode)](const QString &name) {
        return rule.Apply(name);
    };
}


PassOutcome ReplacePass(const JobParameters &params, PassSink &sink, PassFileSystem &fs)
{
    Pass pass(params, sink, fs);
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

PassOutcome PairsPass(const JobParameters &params, PassSink &sink, PassFileSystem &fs)
{
    Pass pass(params, sink, fs);
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
            false, k);
        if (!params.onlyFiles)
            pass.FolderPhase(ReplaceFolderRule(find, replacement, params.regExpMode), false, k);
    }
    const PassOutcome &counts = pass.Outcome();
    return pass.Finish(
        ChangedSummary(counts.filesChanged, counts.foldersChanged, pass.ElapsedSeconds()));
}

PassOutcome InsertPass(const JobParameters &params, PassSink &sink, PassFileSystem &fs)
{
    Pass pass(params, sink, fs);
    const QString insert = params.insertText;
    const bool before = params.insertBefore;
    const bool onlyExtension = params.onlyExtension;
    const TrailingDot dot = pass.Dot();
    pass.FilePhase(
        [=](const QString &name) {
            NewFileName result;
            const FileNameParts parts = SplitFileName(name);
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

} // namespace

PassOutcome RunPass(const JobParameters &params, PassSink &sink, PassFileSystem &fs)
{
    switch (params.kind) {
    case JobKind::Pairs:
        return PairsPass(params, sink, fs);
    case JobKind::Insert:
        return InsertPass(params, sink, fs);
    case JobKind::Replace:
        break;
    }
    return ReplacePass(params, sink, fs);
}

PassOutcome RunPass(const JobParameters &params, PassSink &sink)
{
    DiskFileSystem disk;
    return RunPass(params, sink, disk);
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
