#include "engine/threadobject.h"

#include "engine/folderscan.h"
#include "engine/jobparameters.h"
#include "engine/renamepass.h"

#include <QThread>

namespace {

class SignalSink final : public PassSink
{
public:
    explicit SignalSink(ThreadObject &worker) : worker_(worker) {}

    void RenameStarting(const RenameAttempt &attempt) override
    {
        emit worker_.ShowDisposingFile(attempt.oldPath);
    }

    void PassEnded(const QString &summary) override
    {
        emit worker_.ShowDisposingFile(summary);
        emit worker_.Set_pBtn_Enable();
    }

    // A stopped pass belongs to a window on its way out: nothing opens then.
    void ReportWritten(const QString &path) override
    {
        if (!StopRequested())
            emit worker_.RenameReportWritten(path);
    }

    bool StopRequested() override { return QThread::currentThread()->isInterruptionRequested(); }

    // The window has no use for the log: only the report holds it.
    bool KeepsRenameLog() const override { return false; }

private:
    ThreadObject &worker_;
};

// The copy keeps a pass on the values it started with, whatever the main
// thread writes meanwhile; each slot runs its own kind of job.
void RunOnCopy(ThreadObject &worker, JobKind kind)
{
    JobParameters params = CurrentJobParameters();
    params.kind = kind;
    SignalSink sink(worker);
    RunPass(params, sink);
}

} // namespace

ThreadObject::ThreadObject(QObject *parent) : QObject(parent) {}

QList<QFileInfo> ThreadObject::CollectFiles(const QString &path)
{
    return ScanFiles(path);
}

QList<QFileInfo> ThreadObject::CollectFolders(const QString &path)
{
    return ScanFolders(path);
}

void ThreadObject::ReplaceExcelText()
{
    RunOnCopy(*this, JobKind::Replace);
}

void ThreadObject::ReplaceExcelText_2()
{
    RunOnCopy(*this, JobKind::Pairs);
}

void ThreadObject::InsertText()
{
    RunOnCopy(*this, JobKind::Insert);
}
