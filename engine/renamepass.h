#pragma once

#include "engine/jobparameters.h"
#include "engine/passfilesystem.h"
#include "platform/textfile.h"

#include <QString>
#include <QStringList>

// The three rename passes, free of any window or thread: a worker slot, a
// command-line front end or a benchmark runs them with its own sink.

enum class RenamePhase { Files, Folders };

// One rename a pass is about to try, or has tried. The paths are references
// into the pass's own strings, valid only during the sink call that is given
// the attempt: a sink that keeps anything keeps copies.
struct RenameAttempt
{
    const QString &oldPath;    // native separators, as in the progress line
    const QString &targetPath; // the path the entry is renamed to
    RenamePhase phase;
    int pair; // which find-and-replace pair (0 for the single replace and the insert)
};

// How a pass reports, and where a front end decides.
class PassSink
{
public:
    virtual ~PassSink();

    // Every entry whose name changes, before its rename is tried. The old
    // path is the entry's progress text.
    virtual void RenameStarting(const RenameAttempt &attempt) = 0;

    // The same entry, once its rename was tried (or refused without trying).
    virtual void RenameFinished(const RenameAttempt &attempt, const RenameResult &result);

    // Once, with the summary line, after the last rename and before the
    // rename report is written.
    virtual void PassEnded(const QString &summary) = 0;

    // The rename report was written whole at `path` (native separators).
    virtual void ReportWritten(const QString &path);

    // The rename report could not be created, or not written whole (then it
    // was removed again).
    virtual void ReportFailed(const QString &path, const TextFileStatus &status);

    // Asked before every entry and right before every rename; true stops the
    // pass there.
    virtual bool StopRequested();

    // Whether PassOutcome::renameLog is to be filled (by default it is). The
    // rename report is written either way; a pass over a big tree holds the
    // log twice as compactly without it.
    virtual bool KeepsRenameLog() const;
};

struct PassOutcome
{
    int filesScanned = 0;
    int foldersScanned = 0;
    int filesChanged = 0;
    int foldersChanged = 0;
    QString summary;
    QStringList renameLog; // old path of every successful rename, in order (see KeepsRenameLog)
    bool stopped = false;
    bool reportWritten = false;
    // What the scans met but could not take in (see ScanGaps in
    // engine/folderscan.h): each kind counted once, however many scans of
    // the pass met it.
    int unreadableFolders = 0;
    int undecodableNames = 0;
    int tooLongPaths = 0;
};

// Runs the job `params.kind` describes on `fs`: files first to last, then
// folders last to first (per pair, for the pairs job); then the summary; then,
// when anything was renamed and `params.writeReport` is set, the rename report
// in `params.folderPath`, created new (never over or through an entry that
// stands at its path: a launch has deleted the old reports, so whatever
// stands there now is not ours).
PassOutcome RunPass(const JobParameters &params, PassSink &sink, PassFileSystem &fs);

// The same on the disk.
PassOutcome RunPass(const JobParameters &params, PassSink &sink);

// Summary of the replace and insert passes.
QString ScannedSummary(int filesScanned, int foldersScanned, int filesChanged, int foldersChanged,
                       qint64 seconds);
// Summary of the multi-pair pass.
QString ChangedSummary(int filesChanged, int foldersChanged, qint64 seconds);
