#pragma once

#include "cli/exitcode.h"
#include "engine/jobparameters.h"
#include "engine/renamepass.h"

#include <QByteArray>
#include <QList>
#include <QString>

struct PlannedRename
{
    QString oldPath;
    QString newPath;
    RenamePhase phase = RenamePhase::Files;
    int pair = 0;
    RenameResult result;
};

struct RenamePlan
{
    QList<PlannedRename> renames; // every rename the pass would try, in its order
    QString summary; // the line the real run would print
    PassOutcome outcome; // the counts of what the scans could not reach among them
    // The rename report, which a run that writes one tries when anything
    // was renamed: its path as the real run names it, and whether it would
    // be created (else `reportRefusal` says why).
    bool reportTried = false;
    bool reportWritten = false;
    QString reportPath;
    RenameResult reportRefusal;
};

// What a real run of the job `params` describes would do: the very same pass,
// run on an in-memory copy of the file system, so that nothing on the disk
// changes (no rename, no report, nothing deleted). With `deleteOldReports`
// the copy first loses the old reports, as a run without --no-report deletes
// them before its pass; with `params.writeReport` the report is made in the
// copy, where the real run would make it.
RenamePlan PlanRenameJob(const JobParameters &params, bool deleteOldReports);

// The same on the copy given, which is left as the real run would leave the
// disk.
class MemoryFileSystem;
RenamePlan PlanRenameJob(const JobParameters &params, bool deleteOldReports,
                         MemoryFileSystem &memory);

// Why a rename failed, in words; empty for one that succeeded.
QByteArray FailureReason(const RenameResult &result);

// What the real run would end with, for its exit code (RenameExitCode).
RunTally PlanTally(const RenamePlan &plan);

// "rename: OLD -> NEW", or "would fail, WHY: OLD -> NEW"; control bytes in
// the paths shown as \xNN.
QByteArray PlanLine(const PlannedRename &rename);
