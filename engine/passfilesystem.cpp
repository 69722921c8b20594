#include "engine/passfilesystem.h"

#include <QFile>

namespace {

bool Utf8Names()
{
    static const bool utf8 = NativeNamesAreUtf8();
    return utf8;
}

// Whether every ASCII character is one byte of the same value in the native
// form, as in UTF-8 and in every locale encoding in practical use.
bool AsciiIsItself()
{
    static const bool same = [] {
        QByteArray ascii;
        for (char c = 1; c > 0; ++c)
            ascii.append(c);
        return Utf8Names() || QFile::encodeName(QString::fromLatin1(ascii)) == ascii;
    }();
    return same;
}

} // namespace

PassFileSystem::~PassFileSystem() = default;

bool DiskFileSystem::Identify(const std::string &path, EntryIdentity &identity)
{
    return IdentifyEntry(path, identity);
}

bool DiskFileSystem::ListFolder(const std::string &path, EntryIdentity &identity,
                                DirListing &listing)
{
    return ReadFolder(path, identity, listing);
}

bool DiskFileSystem::FinalPath(const std::string &path, std::string &final)
{
    return FinalPathOf(path, final);
}

TextFileStatus DiskFileSystem::CreateNewFile(const std::string &folder, const std::string &name,
                                             const std::vector<std::string> &blocks)
{
    return CreateTextFile(folder, name, blocks);
}

RenameResult ResultOf(const RenameStatus &status)
{
    RenameResult result;
    result.systemError = status.systemCode;
    switch (status.error) {
    case RenameError::None:
        result.outcome = RenameOutcome::Renamed;
        break;
    case RenameError::InvalidName:
        result.outcome = RenameOutcome::InvalidName;
        break;
    case RenameError::NameTooLong:
        result.outcome = RenameOutcome::NameTooLong;
        break;
    case RenameError::TargetExists:
        result.outcome = RenameOutcome::TargetExists;
        break;
    case RenameError::Vanished:
        result.outcome = RenameOutcome::Vanished;
        break;
    case RenameError::NotPermitted:
        result.outcome = RenameOutcome::NotPermitted;
        break;
    case RenameError::Other:
        result.outcome = RenameOutcome::OtherError;
        break;
    }
    return result;
}

// Keeps the folder of the last rename open: a run of renames in one folder
// costs one system call each.
bool DiskFileSystem::Hold(const std::string &folder, const EntryIdentity &identity)
{
    if (folder != openPath_ || !(identity == openIdentity_)) {
        open_.Close();
        openPath_ = folder;
        openIdentity_ = identity;
        EntryIdentity found;
        openMatches_ = open_.Open(folder, found) && found == identity;
        if (!openMatches_)
            open_.Close();
    }
    return openMatches_;
}

bool DiskFileSystem::ListFolderBelow(const std::string &base, const EntryIdentity &baseIdentity,
                                     const std::string &below, EntryIdentity &identity,
                                     DirListing &listing)
{
    if (!Hold(base, baseIdentity)) {
        listing.Clear();
        listing.unreadable = true;
        return false;
    }
    return open_.ReadBelow(below, identity, listing);
}

RenameResult DiskFileSystem::RenameIn(const std::string &folder, const EntryIdentity &identity,
                                      const char *name, const char *newName)
{
    if (!Hold(folder, identity)) {
        RenameResult moved;
        moved.outcome = RenameOutcome::FolderMoved;
        return moved;
    }
    return ResultOf(open_.Rename(name, newName));
}

bool DiskFileSystem::IdentifyIn(const std::string &folder, const EntryIdentity &identity,
                                const char *name, EntryIdentity &entry)
{
    return Hold(folder, identity) && open_.IdentifyEntry(name, entry);
}

std::string EncodeNativePath(const QString &path)
{
    if (AsciiIsItself()) {
        const ushort *unit = path.utf16();
        const int size = path.size();
        ushort any = 0;
        for (int i = 0; i < size; ++i)
            any |= unit[i];
        if (any < 0x80) {
            std::string bytes(static_cast<std::size_t>(size), '\0');
            for (int i = 0; i < size; ++i)
                bytes[static_cast<std::size_t>(i)] = static_cast<char>(unit[i]);
            return bytes;
        }
    }
    const QByteArray bytes = Utf8Names() ? path.toUtf8() : QFile::encodeName(path);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString DecodeNativePath(const std::string &path)
{
    const QByteArray bytes = QByteArray::fromRawData(path.data(), static_cast<int>(path.size()));
    return Utf8Names() ? QString::fromUtf8(bytes) : QFile::decodeName(bytes);
}

bool ExactLocal8Bit(const QString &text, QByteArray &local)
{
    local = text.toLocal8Bit();
    return QString::fromLocal8Bit(local) == text;
}

QByteArray ShownLocal8Bit(const QString &text)
{
    QByteArray local;
    if (ExactLocal8Bit(text, local))
        return local;
    local.clear();
    for (int i = 0; i < text.size(); ++i) {
        // A character beyond the first plane is two units, converted together.
        const int units = text.at(i).isHighSurrogate() && i + 1 < text.size()
                && text.at(i + 1).isLowSurrogate()
            ? 2
            : 1;
        QByteArray one;
        local += ExactLocal8Bit(text.mid(i, units), one) ? one : QByteArray("?");
        i += units - 1;
    }
    return local;
}
