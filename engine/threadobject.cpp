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

    void EntryStarting(const QString &oldPath) override { emit worker_.ShowDisposingFile(oldPath); }

    void PassEnded(const QString &summary) override
    {
        emit worker_.ShowDisposingFile(summary);
        emit worker_.Set_pBtn_Enable();
    }

    bool StopRequested() override { return QThread::currentThread()->isInterruptionRequested(); }

    // The window has no use for the log: only the report holds it.
    bool KeepsRenameLog() const override { return false; }

private:
    ThreadObject &worker_;
};

// The copy keeps a pass on the values it started with, whatever the main
// thread writes meanwhile.
template <typename RunPass>
void RunOnCopy(ThreadObject &worker, RunPass runPass)
{
    const JobParameters params = CurrentJobParameters();
    SignalSink sink(worker);
    runPass(params, sink);
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
    RunOnCopy(*this, RunReplacePass);
}

void ThreadObject::ReplaceExcelText_2()
{
    RunOnCopy(*this, RunMultiPairPass);
}

void ThreadObject::InsertText()
{
    RunOnCopy(*this, RunInsertPass);
}
