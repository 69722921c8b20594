#pragma once

#include "engine/jobparameters.h"
#include "engine/passfilesystem.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The three rename passes, free of any window or thread: a worker slot, a
// command-line front end or a benchmark runs them with its own sink.

class PassRenameRequest;

class PassSink
{
public:
    virtual ~PassSink();

    // An entry whose name changes, by its old path, before its rename is tried.
    virtual void EntryStarting(const QString &oldPath) = 0;

    // Once, with the summary line, after the last rename and before the
    // rename report is written.
    virtual void PassEnded(const QString &summary) = 0;

    // Asked between two entries; true stops the pass there.
    virtual bool StopRequested();

    // Whether PassOutcome::renameLog is to be filled (by default it is). The
    // rename report is written either way; a pass over a big tree holds the
    // log twice as compactly without it.
    virtual bool KeepsRenameLog() const;

    // The rename itself, never replacing an existing entry, never copying and
    // never writing through a link. By default: handed the paths of the entry
    // the pass is renaming, the pass's file system renames it by the exact
    // bytes the scan found, in the very folder the scan read; other paths
    // are encoded and renamed through the same file system (the disk outside
    // a pass), within one folder only.
    virtual bool Rename(const QString &oldPath, const QString &targetPath);

private:
    friend class PassRenameRequest;
    const PassRenameRequest *request_ = nullptr;
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
};

// Each pass renames files (first to last) and then folders (last to first),
// sends the summary, and, when anything was renamed, writes the rename report
// into folderPath and shows it (not when stopped). The report is never written
// over an entry that already stands at its path: a launch has deleted the old
// reports, so whatever stands there is the user's.
// The ...On forms run the same pass on the file system given; the others on
// the disk (a DiskFileSystem of their own).
PassOutcome RunReplacePass(const JobParameters &params, PassSink &sink);
PassOutcome RunMultiPairPass(const JobParameters &params, PassSink &sink);
PassOutcome RunInsertPass(const JobParameters &params, PassSink &sink);
PassOutcome RunReplacePassOn(const JobParameters &params, PassSink &sink, PassFileSystem &fs);
PassOutcome RunMultiPairPassOn(const JobParameters &params, PassSink &sink, PassFileSystem &fs);
PassOutcome RunInsertPassOn(const JobParameters &params, PassSink &sink, PassFileSystem &fs);

// Summary of the replace and insert passes.
QString ScannedSummary(int filesScanned, int foldersScanned, int filesChanged, int foldersChanged,
                       qint64 seconds);
// Summary of the multi-pair pass.
QString ChangedSummary(int filesChanged, int foldersChanged, qint64 seconds);

// The report's bytes: one old path per line, each ended by a line feed, in the
// local 8-bit encoding.
QByteArray RenameReportContent(const QStringList &renameLog);
