#pragma once

#include "cli/commandline.h"
#include "engine/jobparameters.h"

#include <QByteArray>
#include <QList>
#include <QString>

enum class PlannedResult {
    Renamed,
    TargetExists, // the entry at the new name has stood there from the start
    TargetTaken,  // an earlier rename of the same job put the entry at the new name there
    InvalidName,  // the new name is no plain name: the pass does not even try
    InexactName,  // the old name's bytes can't be told exactly: never touched
    EntryGone,    // an earlier rename moved the entry (it was reached twice, through a link)
    FolderMoved,  // an earlier rename moved the folder it was reached through
    NotPermitted  // the folder can't be changed by this process
};

struct PlannedRename
{
    QString oldPath;
    QString newPath;
    PlannedResult result = PlannedResult::Renamed;
};

struct RenamePlan
{
    QList<PlannedRename> renames; // every rename the pass would try, in its order
    int filesRenamed = 0;
    int foldersRenamed = 0;
    QString summary; // the line the real run would print
};

// What a real run of replace, pairs or insert with these parameters would
// do: the very same pass, run on an in-memory copy of the file system, so
// that nothing on the disk changes (no rename, no report, nothing deleted).
// With `deleteOldReports` the copy first loses the old reports, as a run
// without --no-report deletes them before its pass.
RenamePlan PlanRenameJob(CliCommand command, const JobParameters &params, bool deleteOldReports);

// The same on the copy given, which is left as the real run would leave the
// disk.
class MemoryFileSystem;
RenamePlan PlanRenameJob(CliCommand command, const JobParameters &params, bool deleteOldReports,
                         MemoryFileSystem &memory);

// "rename: OLD -> NEW", or "would fail, WHY: OLD -> NEW"; control bytes in
// the paths shown as \xNN.
QByteArray PlanLine(const PlannedRename &rename);
