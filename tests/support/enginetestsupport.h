#pragma once

// Helpers shared by the engine tests: real trees in temporary folders and a
// sink that records what a pass reports.

#include "engine/renamepass.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <QList>

#include <functional>
#include <string>

namespace enginetest {

// Creates the file `relative` ('/'-separated) below `root`, parents included.
inline bool MakeFile(const QString &root, const QString &relative, const QByteArray &content = "x")
{
    const QString path = root + QLatin1Char('/') + relative;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

inline bool MakeFolder(const QString &root, const QString &relative)
{
    return QDir().mkpath(root + QLatin1Char('/') + relative);
}

// A symbolic link at `relative` below `root` pointing to `target` as given.
inline bool MakeLink(const QString &target, const QString &root, const QString &relative)
{
    return QFile::link(target, root + QLatin1Char('/') + relative);
}

inline QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Every entry below `root`, relative and sorted; folders end in "/", links in
// "@" (not followed).
inline QStringList Tree(const QString &root, const QString &relative = QString())
{
    QStringList result;
    const QDir dir(relative.isEmpty() ? root : root + QLatin1Char('/') + relative);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        const QString name = relative.isEmpty() ? entry.fileName()
                                                : relative + QLatin1Char('/') + entry.fileName();
        if (entry.isSymLink()) {
            result << name + QLatin1Char('@');
        } else if (entry.isDir()) {
            result << name + QLatin1Char('/');
            result << Tree(root, name);
        } else {
            result << name;
        }
    }
    result.sort();
    return result;
}

inline QStringList Sorted(QStringList list)
{
    list.sort();
    return list;
}

// Paths relative to `root` (which has no trailing '/').
inline QStringList Relative(const QString &root, const QStringList &paths)
{
    QStringList result;
    for (const QString &path : paths)
        result << (path.startsWith(root + QLatin1Char('/')) ? path.mid(root.size() + 1)
                                                              : QStringLiteral("<outside> ") + path);
    return result;
}

inline QStringList Relative(const QString &root, const QList<QFileInfo> &entries)
{
    QStringList paths;
    for (const QFileInfo &entry : entries)
        paths << entry.filePath();
    return Relative(root, paths);
}

// What comes before the first "/" of an absolute path written by hand: a
// drive on Windows, nothing elsewhere.
inline QByteArray AbsoluteStart()
{
#ifdef _WIN32
    return "C:";
#else
    return QByteArray();
#endif
}

// A path as bytes in the native form the passes take (see
// platform/nativepath.h), and back.
inline QByteArray NativeBytes(const QString &path)
{
    return QByteArray::fromStdString(EncodeNativePath(path));
}

inline QString FromNativeBytes(const QByteArray &path)
{
    return DecodeNativePath(path.toStdString());
}

inline std::string Native(const QString &path)
{
    return EncodeNativePath(path);
}

// The path as Windows' wide functions take it, with its own separators.
inline std::wstring WideOf(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

// The rename report of these old paths as a pass writes it: native
// separators, the local encoding, and every line ended as a text file ends
// it on this system (CR LF where the separator is "\\": Windows' text mode).
inline QByteArray ReportText(const QStringList &oldPaths)
{
    const QByteArray lineEnd = QDir::separator() == QLatin1Char('\\') ? "\r\n" : "\n";
    QByteArray bytes;
    for (const QString &path : oldPaths)
        bytes += QDir::toNativeSeparators(path).toLocal8Bit() + lineEnd;
    return bytes;
}

class RecordingSink : public PassSink
{
public:
    void RenameStarting(const RenameAttempt &attempt) override
    {
        progress << attempt.oldPath;
        targets << attempt.targetPath;
        phases << attempt.phase;
        pairs << attempt.pair;
        if (beforeRename)
            beforeRename(attempt.oldPath, attempt.targetPath);
    }
    void RenameFinished(const RenameAttempt &, const RenameResult &result) override
    {
        results << result;
    }
    void PassEnded(const QString &summary) override { summaries << summary; }
    void ReportWritten(const QString &path) override { reports << path; }
    void ReportFailed(const QString &path, const TextFileStatus &) override
    {
        failedReports << path;
    }
    bool StopRequested() override { return stopWhen && stopWhen(*this); }

    QStringList progress;
    QStringList summaries;
    QStringList targets;
    QList<RenamePhase> phases;
    QList<int> pairs;
    QList<RenameResult> results;
    QStringList reports;       // reports written, native separators
    QStringList failedReports;
    std::function<bool(const RecordingSink &)> stopWhen;
    // Called right before each rename, so a test can change the tree there.
    std::function<void(const QString &, const QString &)> beforeRename;
};

// The disk, noting what the file at `watched` (a journal) held at the moment
// of each rename. Past the first `renamesAllowed` renames (-1: all allowed),
// each comes back as `refusal`, made first when that outcome is one that
// renames.
class WatchedDisk final : public PassFileSystem
{
public:
    explicit WatchedDisk(const QByteArray &watched = QByteArray()) : watched_(watched) {}

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
    RenameResult RenameIn(const std::string &folder, const EntryIdentity &identity,
                          const char *name, const char *newName) override
    {
        journalAtRename << ReadFile(FromNativeBytes(watched_));
        if (renamesAllowed >= 0 && journalAtRename.size() > renamesAllowed) {
            RenameResult refused;
            refused.outcome = refusal;
            if (refused.Succeeded())
                disk_.RenameIn(folder, identity, name, newName);
            return refused;
        }
        return disk_.RenameIn(folder, identity, name, newName);
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
    TextFileStatus CreateNewFile(const std::string &folder, const std::string &name,
                                 const std::vector<std::string> &blocks) override
    {
        return disk_.CreateNewFile(folder, name, blocks);
    }
    bool RemoveReport(const std::string &folder, const std::string &name) override
    {
        return disk_.RemoveReport(folder, name);
    }

    QList<QByteArray> journalAtRename;
    int renamesAllowed = -1;
    RenameOutcome refusal = RenameOutcome::NotPermitted;

private:
    QByteArray watched_;
    DiskFileSystem disk_;
};

// Runs the job of that kind.
inline PassOutcome RunJob(JobKind kind, JobParameters params, PassSink &sink)
{
    params.kind = kind;
    return RunPass(params, sink);
}

} // namespace enginetest
