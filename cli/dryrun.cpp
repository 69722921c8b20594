#include "cli/dryrun.h"

#include "cli/journal.h"
#include "cli/memoryfilesystem.h"
#include "engine/namerules.h"
#include "engine/passfilesystem.h"
#include "engine/renamepass.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

namespace {

// Counts the scans of a pass: each begins by listing the chosen folder, by
// the same path every time, which no folder below it can have.
class ScanCounter final : public PassFileSystem
{
public:
    explicit ScanCounter(PassFileSystem &fs) : fs_(fs) {}

    int Scans() const { return scans_; }

    bool Identify(const std::string &path, EntryIdentity &identity) override
    {
        return fs_.Identify(path, identity);
    }
    bool ListFolder(const std::string &path, EntryIdentity &identity,
                    DirListing &listing) override
    {
        if (scans_ == 0 || path == top_) {
            top_ = path;
            ++scans_;
        }
        return fs_.ListFolder(path, identity, listing);
    }
    bool RenameIn(const std::string &folder, const EntryIdentity &identity, const char *name,
                  const char *newName) override
    {
        return fs_.RenameIn(folder, identity, name, newName);
    }

private:
    PassFileSystem &fs_;
    std::string top_;
    int scans_ = 0;
};

PlannedResult ResultOf(MemoryFileSystem::Failure failure)
{
    switch (failure) {
    case MemoryFileSystem::Failure::InvalidName:
        return PlannedResult::InvalidName;
    case MemoryFileSystem::Failure::EntryGone:
        return PlannedResult::EntryGone;
    case MemoryFileSystem::Failure::TargetExists:
        return PlannedResult::TargetExists;
    case MemoryFileSystem::Failure::TargetTaken:
        return PlannedResult::TargetTaken;
    case MemoryFileSystem::Failure::NotPermitted:
        return PlannedResult::NotPermitted;
    case MemoryFileSystem::Failure::None: // the rename never reached the copy
    case MemoryFileSystem::Failure::FolderMoved:
        break;
    }
    return PlannedResult::FolderMoved;
}

class PlanSink final : public PassSink
{
public:
    PlanSink(CliCommand command, const JobParameters &params, MemoryFileSystem &memory,
             const ScanCounter &scans, RenamePlan &plan)
        : command_(command), params_(params), memory_(memory), scans_(scans), plan_(plan)
    {
    }

    void EntryStarting(const QString &oldPath) override
    {
        Settle();
        pending_ = oldPath;
        pendingScan_ = scans_.Scans() - 1;
        waiting_ = true;
    }

    // Nothing is renamed on the disk, so this answers false: the pass then
    // counts nothing and writes no report; the plan keeps the counts.
    bool Rename(const QString &oldPath, const QString &targetPath) override
    {
        waiting_ = false;
        const bool renamed = PassSink::Rename(oldPath, targetPath);
        PlannedRename planned{oldPath, targetPath, PlannedResult::Renamed};
        if (renamed)
            ++(memory_.LastRenamedNonFile() ? plan_.foldersRenamed : plan_.filesRenamed);
        else
            planned.result = ResultOf(memory_.LastFailure());
        plan_.renames.append(planned);
        return false;
    }

    void PassEnded(const QString &) override { Settle(); }

private:
    // An announced entry whose rename the pass did not hand over: it refused
    // the new name, or the old name's bytes, before trying. Its target is
    // put together here only to show it.
    void Settle()
    {
        if (!waiting_)
            return;
        waiting_ = false;
        const int scan = pendingScan_;
        int pair = 0;
        bool folderPhase = scan > 0;
        if (command_ == CliCommand::Pairs) {
            pair = params_.onlyFiles ? scan : scan / 2;
            folderPhase = !params_.onlyFiles && scan % 2 == 1;
        }
        const QString path = QDir::fromNativeSeparators(pending_);
        const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
        QString newPart, newName;
        if (command_ == CliCommand::Insert) {
            const FileNameParts parts = SplitFileName(name);
            const QString &part = folderPhase ? name
                : params_.onlyExtension       ? parts.suffix
                                              : parts.base;
            newPart = InsertIntoName(part, params_.insertText, params_.insertBefore);
            newName = folderPhase           ? newPart
                : params_.onlyExtension     ? NameWithNewSuffix(parts, newPart, PlatformTrailingDot())
                                            : NameWithNewBase(parts, newPart, PlatformTrailingDot());
        } else {
            const bool pairs = command_ == CliCommand::Pairs;
            const ReplaceRule rule(pairs ? params_.findList.value(pair) : params_.findText,
                                   pairs ? params_.replacementList.value(pair)
                                         : params_.replacementText,
                                   params_.regExpMode);
            if (!folderPhase && params_.onlyExtension) {
                const FileNameParts parts = SplitFileName(name);
                newPart = rule.Apply(parts.suffix);
                newName = NameWithNewSuffix(parts, newPart, PlatformTrailingDot());
            } else {
                newPart = newName = rule.Apply(name);
            }
        }
        const QString prefix = folderPhase
            ? FolderTargetPrefix(QFileInfo(path).dir().absolutePath())
            : FileTargetPrefix(QFileInfo(path).absoluteFilePath());
        plan_.renames.append({pending_, prefix + newName,
                              IsAcceptableNewName(newPart, newName) ? PlannedResult::InexactName
                                                                    : PlannedResult::InvalidName});
    }

    const CliCommand command_;
    const JobParameters &params_;
    MemoryFileSystem &memory_;
    const ScanCounter &scans_;
    RenamePlan &plan_;
    QString pending_;
    int pendingScan_ = 0; // which scan of the pass listed it
    bool waiting_ = false;
};

const char *Why(PlannedResult result)
{
    switch (result) {
    case PlannedResult::Renamed:
        break;
    case PlannedResult::TargetExists:
        return "target exists";
    case PlannedResult::TargetTaken:
        return "an earlier rename of this job takes that name";
    case PlannedResult::InvalidName:
        return "not a valid name";
    case PlannedResult::InexactName:
        return "the name's bytes can't be told exactly";
    case PlannedResult::EntryGone:
        return "an earlier rename of this job moved it";
    case PlannedResult::FolderMoved:
        return "an earlier rename of this job moved its folder";
    case PlannedResult::NotPermitted:
        return "not permitted";
    }
    return "";
}

} // namespace

RenamePlan PlanRenameJob(CliCommand command, const JobParameters &params, bool deleteOldReports)
{
    MemoryFileSystem memory;
    return PlanRenameJob(command, params, deleteOldReports, memory);
}

RenamePlan PlanRenameJob(CliCommand command, const JobParameters &params, bool deleteOldReports,
                         MemoryFileSystem &memory)
{
    RenamePlan plan;
    if (deleteOldReports && !params.folderPath.isEmpty()) {
        const std::string folder = EncodeNativePath(params.folderPath);
        for (const QString &name : ReportFileNames())
            memory.RemoveNonFolder(folder, EncodeNativePath(name).c_str());
    }
    ScanCounter counted(memory);
    PlanSink sink(command, params, memory, counted, plan);
    QElapsedTimer clock;
    clock.start();
    PassOutcome outcome;
    if (command == CliCommand::Pairs)
        outcome = RunMultiPairPassOn(params, sink, counted);
    else if (command == CliCommand::Insert)
        outcome = RunInsertPassOn(params, sink, counted);
    else
        outcome = RunReplacePassOn(params, sink, counted);
    const qint64 seconds = clock.elapsed() / 1000;
    plan.summary = command == CliCommand::Pairs
        ? ChangedSummary(plan.filesRenamed, plan.foldersRenamed, seconds)
        : ScannedSummary(outcome.filesScanned, outcome.foldersScanned, plan.filesRenamed,
                         plan.foldersRenamed, seconds);
    return plan;
}

QByteArray PlanLine(const PlannedRename &rename)
{
    const QByteArray paths = DisplayPath(QFile::encodeName(rename.oldPath)) + " -> "
        + DisplayPath(QFile::encodeName(rename.newPath));
    if (rename.result == PlannedResult::Renamed)
        return "rename: " + paths;
    return QByteArray("would fail, ") + Why(rename.result) + ": " + paths;
}
