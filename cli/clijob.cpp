#include "cli/clijob.h"

#include "cli/dryrun.h"
#include "cli/findpatterns.h"
#include "cli/journal.h"
#include "cli/pairfile.h"
#include "cli/progressline.h"
#include "engine/checks.h"
#include "engine/jobparameters.h"
#include "engine/renamepass.h"
#include "engine/reportviewer.h"
#include "platform/pathchecks.h"
#include "platform/renameentry.h"

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

std::string LocalPath(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

// The job's folder is absolute, so this is only a safeguard for the journal.
QString Absolute(const QString &path)
{
    return QDir::isRelativePath(path) ? QDir::current().absoluteFilePath(path) : path;
}

// A name that did not decode cleanly (U+FFFD) may stand on disk in other
// bytes than the journal would record, and one the local encoding can't hold
// would be recorded as something else: such a rename could not be undone.
bool ExactInLocalBytes(const QString &path)
{
    return !path.contains(QChar::ReplacementCharacter)
        && QFile::decodeName(QFile::encodeName(path)) == path;
}

// The pass would rename the journal along with everything else.
bool LiesInside(const QString &path, const QString &folder)
{
    const QString parent = QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath();
    const QString root = QFileInfo(folder).canonicalFilePath();
    if (parent.isEmpty() || root.isEmpty())
        return false;
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity cs = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity cs = Qt::CaseSensitive;
#endif
    return parent.compare(root, cs) == 0
        || parent.startsWith(root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/'), cs);
}

class CliSink final : public PassSink
{
public:
    CliSink(JournalWriter *journal, ProgressLine &progress)
        : journal_(journal), progress_(progress)
    {
    }

    void EntryStarting(const QString &) override { ++attempted_; }

    void PassEnded(const QString &summary) override
    {
        progress_.Clear();
        PrintLine(stdout, summary);
    }

    // Asked before every entry, so every earlier attempt has its outcome.
    bool StopRequested() override
    {
        progress_.Update(renamed_, attempted_ - renamed_);
        return journalFailed_ || interruption != 0;
    }

    bool Rename(const QString &oldPath, const QString &targetPath) override
    {
        if (journalFailed_)
            return false;
        if (journal_ && (!ExactInLocalBytes(oldPath) || !ExactInLocalBytes(targetPath))) {
            progress_.Clear();
            PrintError(QStringLiteral("not renamed, the journal can't hold its name exactly: %1")
                           .arg(oldPath));
            return false;
        }
        if (!PassSink::Rename(oldPath, targetPath))
            return false;
        if (!journal_) {
            ++renamed_;
            return true;
        }
        const QByteArray from = QFile::encodeName(Absolute(oldPath));
        const QByteArray to = QFile::encodeName(Absolute(targetPath));
        if (journal_->Append(from, to)) {
            ++renamed_;
            return true;
        }
        // A rename the journal can't hold could never be undone: take it back,
        // count it as failed, and make no more.
        journalFailed_ = true;
        progress_.Clear();
        if (RenameEntry(to.toStdString(), from.toStdString())) {
            PrintError(QStringLiteral("cannot write the journal; %1 was left as it was, stopping")
                           .arg(oldPath));
            return false;
        }
        PrintError(QStringLiteral("cannot write the journal; stopping. Not in the journal: %1 "
                                  "renamed to %2")
                       .arg(oldPath, targetPath));
        ++renamed_;
        return true;
    }

    int Attempted() const { return attempted_; }
    int Renamed() const { return renamed_; }
    bool JournalFailed() const { return journalFailed_; }

private:
    JournalWriter *journal_;
    ProgressLine &progress_;
    int attempted_ = 0;
    int renamed_ = 0;
    bool journalFailed_ = false;
};

// The plan, then the summary the real run would print; exit code as a real
// run's.
int PrintDryRun(const CliRequest &request, const JobParameters &params)
{
#ifdef _WIN32
    // The in-memory copy resolves paths by the POSIX rules only.
    (void)request;
    (void)params;
    PrintError(QStringLiteral("--dry-run is not available on this system"));
    return ExitRefused;
#else
    const RenamePlan plan = PlanRenameJob(request.command, params, !request.noReport);
    bool allRenamed = true;
    for (const PlannedRename &rename : plan.renames) {
        const QByteArray line = PlanLine(rename) + '\n';
        std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
        allRenamed = allRenamed && rename.result == PlannedResult::Renamed;
    }
    PrintLine(stdout, plan.summary);
    return allRenamed ? ExitAllRenamed : ExitSomeFailed;
#endif
}

} // namespace

QString JobFolderPath(const QString &argument)
{
    if (argument.isEmpty())
        return argument;
    QString path = QDir::fromNativeSeparators(argument);
    if (QDir::isRelativePath(path)) {
        QString current = QDir::currentPath();
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

    // The window's checks, in the window's order; each refusal changes nothing.
    switch (request.command) {
    case CliCommand::Replace:
        params.findText = request.findText;
        params.replacementText = request.replacementText;
        break;
    case CliCommand::Pairs:
        if (request.pairsFromFiles) {
            const PairFile finds = ReadPairFile(request.findFile);
            if (!finds.ok) {
                PrintError(finds.error);
                return ExitRefused;
            }
            const PairFile replacements = ReadPairFile(request.replacementFile);
            if (!replacements.ok) {
                PrintError(replacements.error);
                return ExitRefused;
            }
            params.findList = finds.lines;
            params.replacementList = replacements.lines;
        } else {
            params.findList = request.pairFinds;
            params.replacementList = request.pairReplacements;
        }
        params.findText = params.findList.join(QLatin1Char('\n'));
        params.replacementText = params.replacementList.join(QLatin1Char('\n'));
        if (params.findList.size() != params.replacementList.size())
            return Refuse(QStringLiteral("查找数和替换数不一致,请核对!"));
        break;
    case CliCommand::Insert:
        params.insertText = request.insertText;
        params.insertBefore = request.insertBefore;
        if (!IsLegalFileName(params.insertText))
            return Refuse(QStringLiteral("插入内容包含非法字符,无法用于文件名!"));
        break;
    case CliCommand::Help:
    case CliCommand::Undo:
        return ExitRefused;
    }
    // The window deletes old reports before this check; with the folder
    // ending in "/" the reports of a missing folder can't exist, so checking
    // first keeps a refused run from touching anything.
    if (!FolderExists(LocalPath(params.folderPath)))
        return Refuse(QStringLiteral("文件夹不存在,请选择正确路径!"));
    // The window runs a pattern it can't use and changes nothing; here it is
    // refused, as the mistake it almost always is.
    const QString patternRefusal = FindPatternRefusal(
        request,
        request.command == CliCommand::Pairs ? params.findList : QStringList{params.findText});
    if (!patternRefusal.isEmpty()) {
        PrintError(patternRefusal);
        return ExitRefused;
    }

    // After the same checks, before anything on the disk is touched.
    if (request.dryRun)
        return PrintDryRun(request, params);

    std::unique_ptr<JournalWriter> journal;
    if (!request.journalPath.isEmpty()) {
        if (LiesInside(request.journalPath, params.folderPath)) {
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

    // Old reports are the user's to keep when this run writes none.
    if (request.noReport) {
        for (const QString &name : ReportFileNames())
            params.reportPaths << params.folderPath + name;
    } else {
        DeleteOldReportFiles(params);
    }

    SetReportViewer([](const QString &) {});
    // Ctrl-C and a plain kill stop between two entries, so that the journal
    // holds every rename made; only a hard kill can land between a rename and
    // its record.
    std::signal(SIGINT, OnInterruption);
    std::signal(SIGTERM, OnInterruption);
    ProgressLine progress(stderr);
    CliSink sink(journal.get(), progress);
    PassOutcome outcome;
    if (request.command == CliCommand::Replace)
        outcome = RunReplacePass(params, sink);
    else if (request.command == CliCommand::Pairs)
        outcome = RunMultiPairPass(params, sink);
    else
        outcome = RunInsertPass(params, sink);

    // The passes always write a report when something was renamed; until
    // they can be told not to, take back the one this pass just created.
    if (request.noReport && outcome.reportWritten)
        std::remove(LocalPath(params.folderPath + RenameReportFileName()).c_str());

    bool journalOk = !sink.JournalFailed();
    if (journal && !journal->Close()) {
        if (journalOk)
            PrintError(QStringLiteral("cannot finish the journal %1").arg(request.journalPath));
        journalOk = false;
    }
    if (const int signal = interruption) {
        PrintError(QStringLiteral("interrupted; the summary above counts what was renamed"));
        // End as the signal would have ended us, for the caller's sake.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    return journalOk && sink.Renamed() == sink.Attempted() ? ExitAllRenamed : ExitSomeFailed;
}

int RunUndoCommand(const CliRequest &request)
{
    JournalContents contents;
    QString error;
    if (!ReadJournal(request.undoJournal, contents, error)) {
        PrintError(QStringLiteral("cannot use the journal %1: %2").arg(request.undoJournal, error));
        return ExitRefused;
    }
    if (contents.cutOff)
        PrintError(QStringLiteral("the last line of the journal was cut off; that rename is not "
                                  "taken back"));
    const UndoCounts counts = UndoJournal(contents.records, stdout, stderr);
    std::fprintf(stdout, "undo: %d restored, %d skipped, %d failed\n", counts.restored,
                 counts.skipped, counts.failed);
    std::fflush(stdout);
    return counts.skipped == 0 && counts.failed == 0 && !contents.cutOff ? ExitAllRenamed
                                                                         : ExitSomeFailed;
}
