// The real passes on a small real tree, with a rename seam that only checks
// and refuses: whatever the texts and options, every rename a pass tries
// stays in the entry's own folder and names a plain entry there.

#include "fuzz/fuzzcheck.h"

#include "engine/jobparameters.h"
#include "engine/renamepass.h"
#include "engine/passfilesystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstring>
#include <memory>

namespace {

// The disk, read as it is, but every rename refused: every input sees the
// same tree.
class RefusingFileSystem final : public PassFileSystem
{
public:
    bool Identify(const std::string &path, EntryIdentity &identity) override
    {
        return disk_.Identify(path, identity);
    }
    bool ListFolder(const std::string &path, EntryIdentity &identity, DirListing &listing) override
    {
        return disk_.ListFolder(path, identity, listing);
    }
    bool ListFolderBelow(const std::string &base, const EntryIdentity &baseIdentity,
                         const std::string &below, EntryIdentity &identity,
                         DirListing &listing) override
    {
        return disk_.ListFolderBelow(base, baseIdentity, below, identity, listing);
    }
    bool IdentifyIn(const std::string &folder, const EntryIdentity &identity, const char *name,
                    EntryIdentity &entry) override
    {
        return disk_.IdentifyIn(folder, identity, name, entry);
    }
    bool FinalPath(const std::string &path, std::string &final) override
    {
        return disk_.FinalPath(path, final);
    }
    // Nothing is renamed, so no report is ever asked for.
    TextFileStatus CreateNewFile(const std::string &, const std::string &,
                                 const std::vector<std::string> &) override
    {
        CHECK(false);
        return TextFileStatus();
    }
    bool RemoveReport(const std::string &, const std::string &) override
    {
        CHECK(false);
        return false;
    }
    RenameResult RenameIn(const std::string &, const EntryIdentity &, const char *name,
                          const char *newName) override
    {
        for (const char *text : {name, newName})
            CHECK(*text && std::strchr(text, '/') == nullptr && std::strcmp(text, ".") != 0
                  && std::strcmp(text, "..") != 0);
        RenameResult refused;
        refused.outcome = RenameOutcome::NotPermitted;
        return refused;
    }

private:
    DiskFileSystem disk_;
};

class CheckingSink final : public PassSink
{
public:
    void RenameStarting(const RenameAttempt &) override {}
    void PassEnded(const QString &) override {}
    // Whatever reached the file system is a rename within the entry's folder.
    void RenameFinished(const RenameAttempt &attempt, const RenameResult &result) override
    {
        if (result.outcome == RenameOutcome::InvalidName)
            return;
        CHECK(result.outcome == RenameOutcome::NotPermitted);
        const QString &oldPath = attempt.oldPath;
        const QString &targetPath = attempt.targetPath;
        const QByteArray old = QFile::encodeName(oldPath);
        const QByteArray target = QFile::encodeName(targetPath);
        const QByteArray oldFolder = old.left(old.lastIndexOf('/'));
        const QByteArray newName = target.mid(target.lastIndexOf('/') + 1);
        CHECK(target.left(target.lastIndexOf('/')) == oldFolder);
        CHECK(!newName.isEmpty() && newName != "." && newName != "..");
        CHECK(!target.contains('\0'));
        CHECK(QFileInfo(QDir::cleanPath(targetPath)).absolutePath() == QFileInfo(oldPath).absolutePath());
    }
};

QTemporaryDir *workDir;
QString chosen;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
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
    RefusingFileSystem refusing;
    params.kind = operation == 0 ? JobKind::Replace : operation == 1 ? JobKind::Pairs : JobKind::Insert;
    const PassOutcome outcome = RunPass(params, sink, refusing);
    CHECK(outcome.filesChanged == 0 && outcome.foldersChanged == 0 && outcome.renameLog.isEmpty());
    CHECK(!outcome.reportWritten);
    if (extra)
        extra->remove();
    return 0;
}
