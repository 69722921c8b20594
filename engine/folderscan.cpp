#include "engine/folderscan.h"

#include <QDir>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

const QDir::Filters fileFilters = QDir::Files | QDir::Hidden | QDir::NoSymLinks;
const QDir::Filters folderFilters = QDir::Dirs | QDir::NoDotAndDotDot;

// QDir::NoSort would fall back to the QDir's own unstable name sort, so the
// raw listing is taken and sorted here.
QList<QFileInfo> Listing(const QDir &dir, QDir::Filters filters)
{
    QList<QFileInfo> entries = dir.entryInfoList(filters, QDir::Unsorted);
    SortSiblings(entries);
    return entries;
}

class Scanner
{
public:
    explicit Scanner(const ScanStopQuestion &stop) : stop_(stop) {}

    void CollectFiles(const QString &path, QList<QFileInfo> &result)
    {
        if (Stopped())
            return;
        const QDir dir(path);
        result.append(Listing(dir, fileFilters));
        for (const QFileInfo &folder : Listing(dir, folderFilters))
            Descend(folder, [&](const QString &sub) { CollectFiles(sub, result); });
    }

    void CollectFolders(const QString &path, QList<QFileInfo> &result)
    {
        if (Stopped())
            return;
        const QList<QFileInfo> folders = Listing(QDir(path), folderFilters);
        result.append(folders);
        for (const QFileInfo &folder : folders)
            Descend(folder, [&](const QString &sub) { CollectFolders(sub, result); });
    }

    void Start(const QString &root) { descent_.push_back(QFileInfo(root).canonicalFilePath()); }

private:
    // A link back to a folder on the way down would make the scan descend
    // without end; such a folder is listed but not entered.
    template <typename Collect>
    void Descend(const QFileInfo &folder, Collect collect)
    {
        const QString canonical = folder.canonicalFilePath();
        if (canonical.isEmpty()
            || std::find(descent_.begin(), descent_.end(), canonical) != descent_.end())
            return;
        descent_.push_back(canonical);
        collect(folder.absoluteFilePath());
        descent_.pop_back();
    }

    bool Stopped() const { return stop_ && stop_(); }

    const ScanStopQuestion &stop_;
    std::vector<QString> descent_;
};

} // namespace

QList<QFileInfo> ScanFiles(const QString &path, const ScanStopQuestion &stop)
{
    QList<QFileInfo> result;
    // QDir would read an empty path as the current directory.
    if (path.isEmpty())
        return result;
    Scanner scanner(stop);
    scanner.Start(path);
    scanner.CollectFiles(path, result);
    return result;
}

QList<QFileInfo> ScanFolders(const QString &path, const ScanStopQuestion &stop)
{
    QList<QFileInfo> result;
    if (path.isEmpty())
        return result;
    Scanner scanner(stop);
    scanner.Start(path);
    scanner.CollectFolders(path, result);
    return result;
}

bool SiblingNameLess(const QString &a, const QString &b)
{
    const int folded = a.toLower().compare(b.toLower());
    return folded != 0 ? folded < 0 : a.compare(b) < 0;
}

void SortSiblings(QList<QFileInfo> &entries)
{
    // Each name is lower-cased once, not once per comparison.
    std::vector<std::pair<QString, int>> keys;
    keys.reserve(entries.size());
    for (int i = 0; i < entries.size(); ++i)
        keys.emplace_back(entries.at(i).fileName().toLower(), i);
    std::stable_sort(keys.begin(), keys.end(), [&](const auto &x, const auto &y) {
        const int folded = x.first.compare(y.first);
        if (folded != 0)
            return folded < 0;
        return entries.at(x.second).fileName().compare(entries.at(y.second).fileName()) < 0;
    });
    QList<QFileInfo> sorted;
    sorted.reserve(entries.size());
    for (const auto &key : keys)
        sorted.append(entries.at(key.second));
    entries.swap(sorted);
}
