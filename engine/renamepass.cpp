#include "engine/renamepass.h"

#include "engine/folderscan.h"
#include "engine/namerules.h"
#include "engine/reportviewer.h"
#include "platform/pathchecks.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextCodec>

#include <algorithm>
#include <cstdio>
#include <cstring>

// The rename a pass is handing to its sink, so that the sink's default
// Rename can do it by the exact bytes of the scan.
class PassRenameRequest
{
public:
    PassRenameRequest(PassSink &sink, PassFileSystem &fs, const QString &oldPath,
                      const QString &targetPath, const std::string &folder,
                      const EntryIdentity &identity, const char *name, const std::string &newName)
        : sink_(sink), previous_(sink.request_), fs_(fs), oldPath_(oldPath),
          targetPath_(targetPath), folder_(folder), identity_(identity), name_(name),
          newName_(newName)
    {
        sink_.request_ = this;
    }
    ~PassRenameRequest() { sink_.request_ = previous_; }
    PassRenameRequest(const PassRenameRequest &) = delete;
    PassRenameRequest &operator=(const PassRenameRequest &) = delete;

    static bool Rename(const PassSink &sink, const QString &oldPath, const QString &targetPath)
    {
        const PassRenameRequest *request = sink.request_;
        if (!request) {
            DiskFileSystem disk;
            return RenameByPaths(disk, oldPath, targetPath);
        }
        if (oldPath == request->oldPath_ && targetPath == request->targetPath_)
            return request->fs_.RenameIn(request->folder_, request->identity_, request->name_,
                                         request->newName_.c_str());
        return RenameByPaths(request->fs_, oldPath, targetPath);
    }

private:
    // Paths other than the pass's own: split into folder and name; both
    // folders must be one, as a rename here never moves an entry.
    static bool RenameByPaths(PassFileSystem &fs, const QString &oldPath, const QString &targetPath)
    {
        const auto split = [](const QString &path, std::string &folder, std::string &name) {
            const int cut = std::max(path.lastIndexOf(QLatin1Char('/')),
                                     path.lastIndexOf(QDir::separator()));
            if (cut < 0)
                return false;
            folder = EncodeNativePath(path.left(cut + 1));
            name = EncodeNativePath(path.mid(cut + 1));
            // A zero byte would cut the path short on its way to the system.
            return folder.find('\0') == std::string::npos && name.find('\0') == std::string::npos;
        };
        std::string fromFolder, fromName, toFolder, toName;
        EntryIdentity from, to;
        return split(oldPath, fromFolder, fromName) && split(targetPath, toFolder, toName)
            && fs.Identify(fromFolder, from) && fs.Identify(toFolder, to) && from == to
            && fs.RenameIn(fromFolder, from, fromName.c_str(), toName.c_str());
    }

    PassSink &sink_;
    const PassRenameRequest *previous_;
    PassFileSystem &fs_;
    const QString &oldPath_;
    const QString &targetPath_;
    const std::string &folder_;
    const EntryIdentity &identity_;
    const char *name_;
    const std::string &newName_;
};

PassSink::~PassSink() = default;

bool PassSink::StopRequested()
{
    return false;
}

bool PassSink::KeepsRenameLog() const
{
    return true;
}

bool PassSink::Rename(const QString &oldPath, const QString &targetPath)
{
    return PassRenameRequest::Rename(*this, oldPath, targetPath);
}

namespace {

// A file's new name: false when the rule leaves the name part as it is.
struct NewFileName
{
    bool changed = false;
    QString newPart;
    QString newName;
};

// UTF-8 of a line into `out` (room for three bytes per code unit); null
// when the line holds a lone surrogate, which is left to the toolkit's
// encoder.
char *WriteUtf8(const QString &line, char *out)
{
    const ushort *unit = line.utf16();
    const int length = line.size();
    for (int i = 0; i < length; ++i) {
        uint c = unit[i];
        if (c < 0x80) {
            *out++ = char(c);
            continue;
        }
        if (c < 0x800) {
            *out++ = char(0xC0 | (c >> 6));
        } else if (QChar::isSurrogate(c)) {
            if (!QChar::isHighSurrogate(c) || i + 1 == length || !QChar::isLowSurrogate(unit[i + 1]))
                return nullptr;
            c = QChar::surrogateToUcs4(ushort(c), unit[++i]);
            *out++ = char(0xF0 | (c >> 18));
            *out++ = char(0x80 | ((c >> 12) & 0x3F));
            *out++ = char(0x80 | ((c >> 6) & 0x3F));
        } else {
            *out++ = char(0xE0 | (c >> 12));
            *out++ = char(0x80 | ((c >> 6) & 0x3F));
        }
        *out++ = char(0x80 | (c & 0x3F));
    }
    return out;
}

// One line of the report, as QString::toLocal8Bit has it (without its
// temporary where the locale is UTF-8).
void AppendReportLine(const QString &line, bool utf8, std::string &out)
{
    const std::size_t at = out.size();
    if (utf8) {
        out.resize(at + 3 * std::size_t(line.size()));
        if (char *end = WriteUtf8(line, &out[at])) {
            out.resize(std::size_t(end - out.data()));
            out.push_back('\n');
            return;
        }
        out.resize(at);
    }
    const QByteArray local = line.toLocal8Bit();
    out.append(local.constData(), std::size_t(local.size()));
    out.push_back('\n');
}

bool LocaleIsUtf8()
{
    const QTextCodec *codec = QTextCodec::codecForLocale();
    return codec && codec->mibEnum() == 106;
}

std::string ReportBytes(const QStringList &renameLog)
{
    const bool utf8 = LocaleIsUtf8();
    std::string bytes;
    for (const QString &line : renameLog)
        AppendReportLine(line, utf8, bytes);
    return bytes;
}

// As WriteTextFile (text mode, created or truncated), from blocks.
bool WriteReportFile(const std::string &path, const std::vector<std::string> &blocks)
{
    if (path.find('\0') != std::string::npos)
        return false;
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (!file)
        return false;
    bool written = true;
    for (const std::string &block : blocks)
        written = written && (block.empty()
                              || std::fwrite(block.data(), 1, block.size(), file) == block.size());
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

class Pass
{
public:
    Pass(const JobParameters &params, PassSink &sink, PassFileSystem &fs)
        : params_(params), sink_(sink), fs_(fs), dot_(PlatformTrailingDot()),
          keepLog_(sink.KeepsRenameLog()), utf8_(LocaleIsUtf8())
    {
        clock_.start();
    }

    TrailingDot Dot() const { return dot_; }

    bool Stopped()
    {
        if (!outcome_.stopped && sink_.StopRequested())
            outcome_.stopped = true;
        return outcome_.stopped;
    }

    // fileRule(const QString &fileName) -> NewFileName
    template <typename FileRule>
    void FilePhase(FileRule fileRule, bool countScanned)
    {
        if (Stopped())
            return;
        const ScannedTree files =
            ScanTree(fs_, params_.folderPath, ScanKind::Files, [this] { return Stopped(); });
        for (int i = 0; i < files.Size(); ++i) {
            if (Stopped())
                return;
            if (countScanned)
                ++outcome_.filesScanned;
            const QString name = files.Name(i);
            const NewFileName target = fileRule(name);
            if (!target.changed)
                continue;
            const QString oldPath = QDir::toNativeSeparators(files.FolderOf(i).path + name);
            sink_.EntryStarting(oldPath);
            if (TryRename(files, i, oldPath, files.FileTargetPrefixOf(i), target.newPart,
                          target.newName))
                ++outcome_.filesChanged;
        }
    }

    // nameRule(const QString &folderName) -> new folder name
    template <typename NameRule>
    void FolderPhase(NameRule nameRule, bool countScanned)
    {
        if (Stopped())
            return;
        const ScannedTree folders =
            ScanTree(fs_, params_.folderPath, ScanKind::Folders, [this] { return Stopped(); });
        if (countScanned)
            outcome_.foldersScanned = folders.Size();
        // Last to first: everything below a folder is renamed before the folder.
        for (int i = folders.Size() - 1; i >= 0; --i) {
            if (Stopped())
                return;
            const QString name = folders.Name(i);
            const QString newName = nameRule(name);
            if (newName == name)
                continue;
            const QString oldPath = QDir::toNativeSeparators(folders.FolderOf(i).path + name);
            sink_.EntryStarting(oldPath);
            if (TryRename(folders, i, oldPath, folders.FolderTargetPrefixOf(i), newName, newName))
                ++outcome_.foldersChanged;
        }
    }

    qint64 ElapsedSeconds() const { return clock_.elapsed() / 1000; }

    PassOutcome Finish(const QString &summary)
    {
        outcome_.summary = summary;
        sink_.PassEnded(summary);
        if (renamed_)
            WriteReport();
        return outcome_;
    }

    PassOutcome &Outcome() { return outcome_; }

private:
    bool TryRename(const ScannedTree &tree, int i, const QString &oldPath, const QString &prefix,
                   const QString &newPart, const QString &newName)
    {
        // A name that is no plain name would move the entry, or fail anyway;
        // a name whose bytes its text can't give back is never touched.
        if (!IsAcceptableNewName(newPart, newName) || !tree.Exact(i))
            return false;
        const QString targetPath = prefix + newName;
        const ScannedTree::Folder &folder = tree.FolderOf(i);
        const std::string nativeNewName = EncodeNativePath(newName);
        if (nativeNewName.find('\0') != std::string::npos)
            return false;
        const PassRenameRequest request(sink_, fs_, oldPath, targetPath, folder.native,
                                        folder.identity, tree.NativeName(i), nativeNewName);
        if (!sink_.Rename(oldPath, targetPath))
            return false;
        ++renamed_;
        if (keepLog_)
            outcome_.renameLog.append(oldPath);
        // The report's bytes are kept as they go, in blocks: never a second
        // copy of the whole log, nor a big buffer doubling.
        if (report_.empty() || report_.back().size() > kReportBlock - 4096) {
            report_.emplace_back();
            report_.back().reserve(kReportBlock);
        }
        AppendReportLine(oldPath, utf8_, report_.back());
        return true;
    }

    void WriteReport()
    {
        const QString reportPath = params_.folderPath + RenameReportFileName();
        const std::string local = QFile::encodeName(reportPath).toStdString();
        // The launch deleted the old report, so an entry here now came from a
        // rename of this pass (or from someone else): never write over it.
        if (FileExists(local))
            return;
        outcome_.reportWritten = WriteReportFile(local, report_);
        // A stopped pass belongs to a program on its way out: no window opens.
        if (outcome_.reportWritten && !outcome_.stopped)
            ShowRenameReport(QDir::toNativeSeparators(reportPath));
    }

    const JobParameters &params_;
    PassSink &sink_;
    PassFileSystem &fs_;
    const TrailingDot dot_;
    QElapsedTimer clock_;
    PassOutcome outcome_;
    const bool keepLog_;
    const bool utf8_;
    int renamed_ = 0;
    static constexpr std::size_t kReportBlock = 1 << 20;
    std::vector<std::string> report_;
};

// Replace and multi-pair passes: whole file name, or the extension alone.
auto ReplaceFileRule(const QString &find, const QString &replacement, bool regExpMode,
                     bool onlyExtension, TrailingDot dot)
{
    return [rule = ReplaceRule(find, replacement, regExpMode), onlyExtension,
            dot](const QString &name) {
        NewFileName result;
        if (onlyExtension) {
            const FileNameParts parts = SplitFileName(name);
            result.newPart = rule.Apply(parts.suffix);
            result.changed = result.newPart != parts.suffix;
            if (result.changed)
                result.newName = NameWithNewSuffix(parts, result.newPart, dot);
        } else {
            result.newPart = rule.Apply(name);
            result.changed = result.newPart != name;
            result.newName = result.newPart;
        }
        return result;
    };
}

auto ReplaceFolderRule(const QString &find, const QString &replacement, bool regExpMode)
{
    return [rule = ReplaceRule(find, replacement, regExpMode)](const QString &name) {
        return rule.Apply(name);
    };
}

} // namespace

PassOutcome RunReplacePass(const JobParameters &params, PassSink &sink)
{
    DiskFileSystem disk;
    return RunReplacePassOn(params, sink, disk);
}

PassOutcome RunMultiPairPass(const JobParameters &params, PassSink &sink)
{
    DiskFileSystem disk;
    return RunMultiPairPassOn(params, sink, disk);
}

PassOutcome RunInsertPass(const JobParameters &params, PassSink &sink)
{
    DiskFileSystem disk;
    return RunInsertPassOn(params, sink, disk);
}

PassOutcome RunReplacePassOn(const JobParameters &params, PassSink &sink, PassFileSystem &fs)
{
    Pass pass(params, sink, fs);
    pass.FilePhase(ReplaceFileRule(params.findText, params.replacementText, params.regExpMode,
                                   params.onlyExtension, pass.Dot()),
                   true);
    if (!params.onlyFiles && !params.onlyExtension)
        pass.FolderPhase(
            ReplaceFolderRule(params.findText, params.replacementText, params.regExpMode), true);
    const PassOutcome &counts = pass.Outcome();
    return pass.Finish(ScannedSummary(counts.filesScanned, counts.foldersScanned,
                                      counts.filesChanged, counts.foldersChanged,
                                      pass.ElapsedSeconds()));
}

PassOutcome RunMultiPairPassOn(const JobParameters &params, PassSink &sink, PassFileSystem &fs)
{
    Pass pass(params, sink, fs);
    // The launch refuses lists of different lengths; a pass given such lists
    // anyway changes nothing rather than a part.
    const int pairs =
        params.findList.size() == params.replacementList.size() ? params.findList.size() : 0;
    for (int k = 0; k < pairs && !pass.Stopped(); ++k) {
        const QString &find = params.findList.at(k);
        const QString &replacement = params.replacementList.at(k);
        // Each pair scans afresh, so it sees the names the pairs before it made.
        pass.FilePhase(
            ReplaceFileRule(find, replacement, params.regExpMode, params.onlyExtension, pass.Dot()),
            false);
        if (!params.onlyFiles)
            pass.FolderPhase(ReplaceFolderRule(find, replacement, params.regExpMode), false);
    }
    const PassOutcome &counts = pass.Outcome();
    return pass.Finish(
        ChangedSummary(counts.filesChanged, counts.foldersChanged, pass.ElapsedSeconds()));
}

PassOutcome RunInsertPassOn(const JobParameters &params, PassSink &sink, PassFileSystem &fs)
{
    Pass pass(params, sink, fs);
    const QString insert = params.insertText;
    const bool before = params.insertBefore;
    const bool onlyExtension = params.onlyExtension;
    const TrailingDot dot = pass.Dot();
    pass.FilePhase(
        [=](const QString &name) {
            NewFileName result;
            const FileNameParts parts = SplitFileName(name);
            const QString &part = onlyExtension ? parts.suffix : parts.base;
            result.newPart = InsertIntoName(part, insert, before);
            result.changed = result.newPart != part;
            if (result.changed)
                result.newName = onlyExtension ? NameWithNewSuffix(parts, result.newPart, dot)
                                               : NameWithNewBase(parts, result.newPart, dot);
            return result;
        },
        true);
    if (!params.onlyFiles && !onlyExtension)
        pass.FolderPhase(
            [=](const QString &name) { return InsertIntoName(name, insert, before); }, true);
    const PassOutcome &counts = pass.Outcome();
    return pass.Finish(ScannedSummary(counts.filesScanned, counts.foldersScanned,
                                      counts.filesChanged, counts.foldersChanged,
                                      pass.ElapsedSeconds()));
}

QString ScannedSummary(int filesScanned, int foldersScanned, int filesChanged, int foldersChanged,
                       qint64 seconds)
{
    return QStringLiteral("扫描文件") + QString::number(filesScanned) + QStringLiteral("个,")
        + QStringLiteral("扫描文件夹") + QString::number(foldersScanned) + QStringLiteral("个,")
        + ChangedSummary(filesChanged, foldersChanged, seconds);
}

QString ChangedSummary(int filesChanged, int foldersChanged, qint64 seconds)
{
    return QStringLiteral("修改文件名") + QString::number(filesChanged) + QStringLiteral("个,")
        + QStringLiteral("修改文件夹名") + QString::number(foldersChanged) + QStringLiteral("个,")
        + QStringLiteral("耗时") + QString::number(seconds) + QStringLiteral("秒。");
}

QByteArray RenameReportContent(const QStringList &renameLog)
{
    const std::string bytes = ReportBytes(renameLog);
    return QByteArray(bytes.data(), static_cast<int>(bytes.size()));
}
