// The real passes on a small real tree, with a rename seam that only checks
// and refuses: whatever the texts and options, every rename a pass tries
// stays in the entry's own folder and names a plain entry there.

#include "fuzz/fuzzcheck.h"

#include "engine/jobparameters.h"
#include "engine/renamepass.h"
#include "engine/reportviewer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

namespace {

class CheckingSink final : public PassSink
{
public:
    void EntryStarting(const QString &) override {}
    void PassEnded(const QString &) override {}
    bool Rename(const QString &oldPath, const QString &targetPath) override
    {
        const QByteArray old = QFile::encodeName(oldPath);
        const QByteArray target = QFile::encodeName(targetPath);
        const QByteArray oldFolder = old.left(old.lastIndexOf('/'));
        const QByteArray newName = target.mid(target.lastIndexOf('/') + 1);
        CHECK(target.left(target.lastIndexOf('/')) == oldFolder);
        CHECK(!newName.isEmpty() && newName != "." && newName != "..");
        CHECK(!target.contains('\0'));
        CHECK(QFileInfo(QDir::cleanPath(targetPath)).absolutePath() == QFileInfo(oldPath).absolutePath());
        return false;  // nothing changes: every input sees the same tree
    }
};

QTemporaryDir *workDir;
QString chosen;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    SetReportViewer([](const QString &) {});
    workDir = new QTemporaryDir;
    chosen = workDir->path() + QStringLiteral("/chosen");
    for (const char *folder : {"/sub/deeper", "/a.b"})
        QDir().mkpath(chosen + QLatin1String(folder));
    for (const char *file : {"/a.txt", "/README", "/.profile", "/x.tar.gz", "/sub/b.c", "/a.b/c."}) {
        QFile entry(chosen + QLatin1String(file));
        entry.open(QIODevice::WriteOnly);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    JobParameters params;
    params.folderPath = chosen + (input.ConsumeBool() ? QStringLiteral("/") : QString());
    params.onlyFiles = input.ConsumeBool();
    params.onlyExtension = input.ConsumeBool();
    params.regExpMode = input.ConsumeBool();
    params.insertBefore = input.ConsumeBool();
    const int operation = input.ConsumeIntegralInRange<int>(0, 2);
    const int pairs = input.ConsumeIntegralInRange<int>(1, 3);
    for (int i = 0; i < pairs; ++i) {
        params.findList << fuzzcheck::ConsumeText(input, 8);
        params.replacementList << fuzzcheck::ConsumeText(input, 16);
    }
    params.findText = params.findList.first();
    params.replacementText = params.replacementList.first();
    params.insertText = params.replacementList.last();
    // One more entry, named by the input.
    const QString name = fuzzcheck::AsEntryName(fuzzcheck::ConsumeText(input, 24));
    std::unique_ptr<QFile> extra;
    const QString extraPath = chosen + QStringLiteral("/sub/") + name;
    if (!name.isEmpty() && !QFileInfo::exists(extraPath)) {
        extra.reset(new QFile(extraPath));
        if (extra->open(QIODevice::WriteOnly))
            extra->close();
        else
            extra.reset();
    }

    CheckingSink sink;
    const PassOutcome outcome = operation == 0 ? RunReplacePass(params, sink)
        : operation == 1                       ? RunMultiPairPass(params, sink)
                                               : RunInsertPass(params, sink);
    CHECK(outcome.filesChanged == 0 && outcome.foldersChanged == 0 && outcome.renameLog.isEmpty());
    CHECK(!outcome.reportWritten);
    if (extra)
        extra->remove();
    return 0;
}
