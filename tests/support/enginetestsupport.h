#pragma once

// Helpers shared by the engine tests: real trees in temporary folders, a sink
// that records what a pass reports, and a viewer that records instead of
// opening anything.

#include "engine/renamepass.h"
#include "engine/reportviewer.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>

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

class RecordingSink : public PassSink
{
public:
    void EntryStarting(const QString &oldPath) override { progress << oldPath; }
    void PassEnded(const QString &summary) override { summaries << summary; }
    bool StopRequested() override { return stopWhen && stopWhen(*this); }
    bool Rename(const QString &oldPath, const QString &targetPath) override
    {
        targets << targetPath;
        if (beforeRename)
            beforeRename(oldPath, targetPath);
        return PassSink::Rename(oldPath, targetPath);
    }

    QStringList progress;
    QStringList summaries;
    QStringList targets;
    std::function<bool(const RecordingSink &)> stopWhen;
    std::function<void(const QString &, const QString &)> beforeRename;
};

// Installed for a whole test program, so no test ever starts a real viewer.
class ViewerRecorder
{
public:
    void Install()
    {
        SetReportViewer([this](const QString &path) {
            const std::lock_guard<std::mutex> locker(lock_);
            shown_ << path;
        });
    }
    QStringList Shown() const
    {
        const std::lock_guard<std::mutex> locker(lock_);
        return shown_;
    }
    void Clear()
    {
        const std::lock_guard<std::mutex> locker(lock_);
        shown_.clear();
    }

private:
    mutable std::mutex lock_;
    QStringList shown_;
};

} // namespace enginetest
