#include "engine/chosenfolder.h"

#include "engine/passfilesystem.h"
#include "engine/textencoding.h"
#include "platform/pathchecks.h"

#include <QDir>

ChosenFolder ResolveChosenFolder(PassFileSystem &fs, const QString &path)
{
    ChosenFolder chosen;
    // QDir would read an empty path as the current folder.
    if (path.isEmpty())
        return chosen;
    const std::string given = EncodeNativePath(path);
    std::string final;
    EntryIdentity identity;
    if (!fs.FinalPath(given, final) || final.empty() || !fs.Identify(final, identity))
        return chosen;
    // A path that can't be told is no folder to a job (a relative path once
    // the current folder is gone, say).
    if (QDir::isRelativePath(DecodeNativePath(final)))
        return chosen;
    EntryIdentity again;
    if (!fs.Identify(given, again) || !(again == identity))
        return chosen; // moved meanwhile: no answer to trust
    if (final.back() != '/')
        final.push_back('/');
    // A root is no folder to a job, however it was reached: it would rename
    // the whole drive.
    if (IsSystemRoot(final))
        return chosen;
    chosen.native = final;
    chosen.identity = identity;
    // Cleaned as text, the path may name another folder ("link/.." is not
    // the link's folder): kept only when it names this one.
    const QString clean = QDir::cleanPath(QDir::isRelativePath(path)
                                              ? QDir::current().absoluteFilePath(path)
                                              : QDir::fromNativeSeparators(path));
    EntryIdentity named;
    chosen.shown = fs.Identify(EncodeNativePath(clean), named) && named == identity
        ? clean
        : DecodeNativePath(final);
    if (!chosen.shown.endsWith(QLatin1Char('/')))
        chosen.shown += QLatin1Char('/');
    return chosen;
}
