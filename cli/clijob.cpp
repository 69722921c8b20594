#include "cli/clijob.h"

#include "cli/displaypath.h"
#include "cli/dryrun.h"
#include "cli/findpatterns.h"
#include "cli/journalfilesystem.h"
#include "cli/journalreader.h"
#include "cli/journalundo.h"
#include "cli/journalwriter.h"
#include "cli/pairfile.h"
#include "cli/progressline.h"
#include "engine/checks.h"
#include "engine/jobparameters.h"
#include "engine/passfilesystem.h"
#include "engine/renamepass.h"
#include "platform/pathchecks.h"
#include "platform/system.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <memory>

namespace {

volatile std::sig_atomic_t interruption = 0;

extern "C" void OnInterruption(int signal)
{
    interruption = signal;
}

void PrintLine(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, bytes.size(), stream);
    std::fflush(stream);
}

void PrintError(const QString &text)
{
    PrintLine(stderr, QStringLiteral("quillbarrow-cli: ") + text);
}

// The window's own refusal texts: printed as they are, nothing else.
int Refuse(const QString &windowMessage)
{
    PrintLine(stderr, windowMessage);
    return ExitRefused;
}

// The job's folder is absolute, so this is only a safeguard for the journal.
QString Absolute(const QString &path)
{
    return QDir::isRelativePath(path) ? QDir::current().absoluteFilePath(path) : path;
}

// The pass would rename the journal along with everything else. Folders
// are told apart by identity, so neither a link nor case hides the folder.
bool LiesInside(const QString &path, const std::string &folder)
{
    return PlaceOfJournal(EncodeNativePath(Absolute(path)), folder).insideFolder;
}

class CliSink final : public PassSink
{
public:
    explicit CliSink(ProgressLine &progress) : progress_(progress) {}

    void RenameStarting(const RenameAttempt &) override { ++tally_.attempted; }

    void RenameFinished(const RenameAttempt &attempt, const RenameResult &result) override
    {
        if (result.Succeeded())
            ++tally_.renamed;
        // The journal broke at this rename: that is the news, not the rename.
        if (result.outcome == RenameOutcome::JournalNotWritten
            || result.outcome == RenameOutcome::RenamedJournalNotWritten)
            ReportJournalFailure(attempt, result);
        else if (!result.Succeeded())
            ReportNotRenamed(attempt, result);
        progress_.Update(tally_.renamed, tally_.attempted - tally_.renamed);
    }

    void PassEnded(const QString &summary) override
    {
        progress_.Clear();
        PrintLine(stdout, summary);
    }

    void ReportFailed(const QString &path, const TextFileStatus &status) override
    {
        tally_.reportFailed = true;
        PrintError(status.result == TextFileResult::NotWritten
                       ? QStringLiteral("cannot write the rename report %1 whole (error %2); "
                                        "it was removed")
                             .arg(path)
                             .arg(status.systemCode)
                       : QStringLiteral("cannot create the rename report %1 (error %2)")
                             .arg(path)
                             .arg(status.systemCode));
    }

    // Asked before every entry and every rename: a signal stops the run
    // between two entries, so that every rename tried has its outcome.
    bool StopRequested() override { return interruption != 0; }

    // All but what the scans could not reach.
    const RunTally &Tally() const { return tally_; }

private:
    void ReportNotRenamed(const RenameAttempt &attempt, const RenameResult &result)
    {
        progress_.Clear();
        const QByteArray line = "not renamed, " + FailureReason(result) + ": "
            + DisplayPath(QFile::encodeName(attempt.oldPath)) + " -> "
            + DisplayPath(QFile::encodeName(attempt.targetPath));
        PrintError(QString::fromLocal8Bit(line));
    }

    // The pass stops at a journal that can't take a record.
    void ReportJournalFailure(const RenameAttempt &attempt, const RenameResult &result)
    {
        tally_.journalFailed = true;
        progress_.Clear();
        const QString why = QString::fromLocal8Bit(SystemErrorText(result.systemError).c_str());
        if (result.outcome == RenameOutcome::JournalNotWritten) {
            PrintError(QStringLiteral("cannot write the journal (%1); %2 was left as it was, "
                                      "stopping")
                           .arg(why, attempt.oldPath));
            return;
        }
        PrintError(QStringLiteral("cannot write the journal (%1); stopping. %2 was renamed to %3 "
                                  "and could not be taken back; its intent in the journal lets "
                                  "undo put it back")
                       .arg(why, attempt.oldPath, attempt.targetPath));
    }

    ProgressLine &progress_;
    RunTally tally_;
};

// What the scans could not reach, on standard error.
void ReportUnreached(const PassOutcome &outcome)
{
    const struct
    {
        int count;
        const char *why;
    } gaps[] = {
        {outcome.unreadableFolders, "folders that could not be read (or whose links could not be "
                                    "followed)"},
        {outcome.undecodableNames, "entries whose names are not text in the locale's encoding "
                                   "(and everything below such a folder)"},
        {outcome.tooLongPaths, "folders whose paths are longer than the system takes"},
    };
    for (const auto &gap : gaps) {
        if (gap.count == 0)
            continue;
        PrintError(QStringLiteral("not reached, left as they are: %1 %2")
                       .arg(gap.count)
                       .arg(QString::fromLatin1(gap.why)));
    }
}

// The plan, then the summary the real run would print, then what it would
// say on standard error; exit code as a real run's.
int PrintDryRun(const JobParameters &params, bool deleteOldReports)
{
    const RenamePlan plan = PlanRenameJob(params, deleteOldReports);
    for (const PlannedRename &rename : plan.renames) {
        const QByteArray line = PlanLine(rename) + '\n';
        std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    }
    PrintLine(stdout, plan.summary);
    if (plan.reportTried && !plan.reportWritten)
        PrintError(QStringLiteral("would not create the rename report %1: %2")
                       .arg(plan.reportPath, QString::fromLocal8Bit(
                                                 FailureReason(plan.reportRefusal))));
    ReportUnreached(plan.outcome);
    return RenameExitCode(PlanTally(plan));
}

} // namespace

QString JobFolderPath(const QString &argument)
{
    if (argument.isEmpty())
        return argument;
    QString path = QDir::fromNativeSeparators(argument);
    if (QDir::isRelativePath(path)) {
        QString current = QDir::currentPath();
        // The current folder is gone (or can't be told): no folder is named,
        // and the root must not stand in for it.
        if (current.isEmpty())
            return QString();
        if (!current.endsWith(QLatin1Char('/')))
            current += QLatin1Char('/');
        path = current + path; // not cleaned: ".." after a link means what the system says
    }
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

int RunRenameCommand(const CliRequest &request)
{
    JobParameters params;
    params.folderPath = JobFolderPath(request.folder);
    params.onlyFiles = request.onlyFiles;
    params.onlyExtension = request.onlyExtension;
    params.regExpMode = request.regExpMode;

    switch (request.command) {
    case CliCommand::Replace:
        params.kind = JobKind::Replace;
        params.findText = request.findText;
        params.replacementText = request.replacementText;
        break;
    case CliCommand::Pairs:
        params.kind = JobKind::Pairs;
        if (request.pairsFromFiles) {
            // The finds first: a replacement file is not read when they fail.
            const auto read = [](const QString &path, QStringList &lines) {
                const PairFile file = ReadPairFile(path);
                if (!file.ok)
                    PrintError(file.error);
                lines = file.lines;
                return file.ok;
            };
            if (!read(request.findFile, params.findList)
                || !read(request.replacementFile, params.replacementList))
                return ExitRefused;
        } else {
            params.findList = request.pairFinds;
            params.replacementList = request.pairReplacements;
        }
        break;
    case CliCommand::Insert:
        params.kind = JobKind::Insert;
        params.insertText = request.insertText;
        params.insertBefore = request.insertBefore;
        break;
    case CliCommand::Help:
    case CliCommand::Undo:
        return ExitRefused;
    }
    // The window's checks, in the window's order; each refusal changes
    // nothing. The window deletes old reports before the folder check; with
    // the folder ending in "/" the reports of a missing folder can't exist,
    // so keeping them until every check has passed changes no outcome.
    const LaunchRefusal refusal = CheckLaunch(params, OldReports::Keep);
    if (refusal.Refused())
        return Refuse(refusal.message);
    // The window runs a pattern it can't use and changes nothing; here it is
    // refused, as the mistake it almost always is.
    const QString patternRefusal = FindPatternRefusal(
        request,
        request.command == CliCommand::Pairs ? params.findList : QStringList{params.findText});
    if (!patternRefusal.isEmpty()) {
        PrintError(patternRefusal);
        return ExitRefused;
    }

    // Old reports are the user's to keep when this run writes none.
    params.writeReport = !request.noReport;

    // After the same checks, before anything on the disk is touched.
    if (request.dryRun)
        return PrintDryRun(params, params.writeReport);

    std::unique_ptr<JournalWriter> journal;
    if (!request.journalPath.isEmpty()) {
        if (LiesInside(request.journalPath, params.chosen.native)) {
            PrintError(QStringLiteral("the journal %1 must not lie inside the folder it renames")
                           .arg(request.journalPath));
            return ExitRefused;
        }
        journal.reset(new JournalWriter);
        QString error;
        if (!journal->Create(request.journalPath, error)) {
            PrintError(QStringLiteral("cannot create the journal %1: %2")
                           .arg(request.journalPath, error));
            return ExitRefused;
        }
    }

    if (params.writeReport)
        DeleteOldReportFiles(params);

    // Ctrl-C and a plain kill stop between two entries, so that the journal
    // holds the result of every rename; a hard kill leaves at most the last
    // intent without one, which undo resolves by the entry's identity.
    std::signal(SIGINT, OnInterruption);
    std::signal(SIGTERM, OnInterruption);
    ProgressLine progress(stderr);
    DiskFileSystem disk;
    std::unique_ptr<JournalFileSystem> journalFs;
    if (journal) {
        journalFs.reset(new JournalFileSystem(disk, *journal));
        // Never the journal itself, nor a folder holding it, whatever link
        // leads the job to them.
        const JournalPlace place = PlaceOfJournal(EncodeNativePath(Absolute(request.journalPath)),
                                                  params.chosen.native);
        for (const EntryIdentity &holder : place.holders)
            journalFs->Protect(holder);
        EntryIdentity own;
        if (journal->Identify(own))
            journalFs->Protect(own);
    }
    CliSink sink(progress);
    // The counter stands from the start, before the first scan; each rename
    // tried then moves it on.
    progress.Update(0, 0);
    const PassOutcome outcome =
        journalFs ? RunPass(params, sink, *journalFs) : RunPass(params, sink);
    RunTally tally = sink.Tally();
    tally.unreached = LeftUnreached(outcome);
    ReportUnreached(outcome);
    if (journal && !journal->Close()) {
        if (!tally.journalFailed)
            PrintError(QStringLiteral("cannot finish the journal %1").arg(request.journalPath));
        tally.journalFailed = true;
    }
    if (const int signal = interruption) {
        PrintError(QStringLiteral("interrupted; the summary above counts what was renamed"));
        // End as the signal would have ended us, for the caller's sake.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    return RenameExitCode(tally);
}

int WithOutputChecked(int exitCode)
{
    // A failed write leaves the stream's error flag set; the last buffered
    // bytes fail only now.
    const bool outLost = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    if (outLost)
        PrintError(QStringLiteral("standard output could not be written whole"));
    const bool errLost = std::ferror(stderr) != 0;
    return (outLost || errLost) && exitCode == ExitAllRenamed ? ExitSomeFailed : exitCode;
}

int RunUndoCommand(const CliRequest &request)
{
    JournalContents contents;
    QString error;
    if (!ReadJournal(request.undoJournal, contents, error)) {
        PrintError(QStringLiteral("cannot use the journal %1: %2").arg(request.undoJournal, error));
        return ExitRefused;
    }
    // In a version-1 journal a cut-off line is a rename made and lost; in a
    // later one it is a record never finished, of a rename not yet made or
    // one whose intent answers for it.
    const bool lostRename = contents.cutOff && contents.version == 1;
    if (lostRename)
        PrintError(QStringLiteral("the last line of the journal was cut off; that rename is not "
                                  "taken back"));
    const UndoCounts counts = UndoJournal(contents, stdout, stderr);
    std::fprintf(stdout, "undo: %d restored, %d skipped, %d failed\n", counts.restored,
                 counts.skipped, counts.failed);
    std::fflush(stdout);
    return counts.skipped == 0 && counts.failed == 0 && !lostRename ? ExitAllRenamed
                                                                     : ExitSomeFailed;
}
