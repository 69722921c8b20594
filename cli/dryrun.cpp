#include "cli/dryrun.h"

#include "cli/displaypath.h"
#include "engine/memoryfilesystem.h"
#include "engine/passfilesystem.h"
#include "platform/system.h"

#include <QFile>


namespace {

// Writes down what the pass says it tries and how each try ended.
class PlanSink final : public PassSink
{
public:
    explicit PlanSink(RenamePlan &plan) : plan_(plan) {}

    void RenameStarting(const RenameAttempt &) override {}

    void RenameFinished(const RenameAttempt &attempt, const RenameResult &result) override
    {
        plan_.renames.append({attempt.oldPath, attempt.targetPath, attempt.phase, attempt.pair,
                              result});
    }

    void PassEnded(const QString &summary) override { plan_.summary = summary; }

    void ReportWritten(const QString &path) override
    {
        plan_.reportTried = plan_.reportWritten = true;
        plan_.reportPath = path;
    }

    void ReportFailed(const QString &path, const TextFileStatus &) override
    {
        plan_.reportTried = true;
        plan_.reportPath = path;
    }

private:
    RenamePlan &plan_;
};

} // namespace

RenamePlan PlanRenameJob(const JobParameters &params, bool deleteOldReports)
{
    MemoryFileSystem memory;
    return PlanRenameJob(params, deleteOldReports, memory);
}

RenamePlan PlanRenameJob(const JobParameters &params, bool deleteOldReports,
                         MemoryFileSystem &memory)
{
    RenamePlan plan;
    if (deleteOldReports)
        DeleteOldReportFiles(params.folderPath, memory);
    PlanSink sink(plan);
    const PassOutcome outcome = RunPass(params, sink, memory);
    if (plan.reportTried && !plan.reportWritten)
        plan.reportRefusal.outcome = memory.CreateRefusal();
    plan.outcome = outcome;
    return plan;
}

RunTally PlanTally(const RenamePlan &plan)
{
    RunTally tally;
    tally.attempted = plan.renames.size();
    for (const PlannedRename &rename : plan.renames)
        if (rename.result.Succeeded())
            ++tally.renamed;
    tally.reportFailed = plan.reportTried && !plan.reportWritten;
    tally.unreached = LeftUnreached(plan.outcome);
    return tally;
}

QByteArray FailureReason(const RenameResult &result)
{
    switch (result.outcome) {
    case RenameOutcome::Renamed:
    case RenameOutcome::RenamedJournalNotWritten:
        break;
    case RenameOutcome::TargetExists:
        return "target exists";
    case RenameOutcome::TargetTaken:
        return "an earlier rename of this job takes that name";
    case RenameOutcome::InvalidName:
        return "not a valid name";
    case RenameOutcome::NameTooLong:
        return "name too long";
    case RenameOutcome::InexactName:
        return "the name's bytes can't be told exactly";
    case RenameOutcome::EntryMoved:
        return "an earlier rename of this job moved it";
    case RenameOutcome::FolderMoved:
        return "an earlier rename of this job moved its folder";
    case RenameOutcome::NotPermitted:
        return "not permitted";
    case RenameOutcome::Vanished:
        return "it is gone";
    case RenameOutcome::OtherError:
        return "error " + QByteArray::number(result.systemError) + " ("
            + QByteArray::fromStdString(SystemErrorText(result.systemError)) + ")";
    case RenameOutcome::JournalNotWritten:
        return "the journal could not be written: error " + QByteArray::number(result.systemError)
            + " (" + QByteArray::fromStdString(SystemErrorText(result.systemError)) + ")";
    }
    return QByteArray();
}

QByteArray PlanLine(const PlannedRename &rename)
{
    const QByteArray paths = DisplayPath(QFile::encodeName(rename.oldPath)) + " -> "
        + DisplayPath(QFile::encodeName(rename.newPath));
    if (rename.result.Succeeded())
        return "rename: " + paths;
    return "would fail, " + FailureReason(rename.result) + ": " + paths;
}
