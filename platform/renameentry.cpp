#include "platform/renameentry.h"
#include "platform/nativepath.h"

namespace {

// Where the last part of a path begins; 0 when it has no separator.
std::size_t LastPartAt(const std::string &path)
{
    for (std::size_t i = path.size(); i > 0; --i)
        if (IsNativeSeparator(path[i - 1]))
            return i;
    return 0;
}

} // namespace

RenameStatus RenameEntry(const std::string &from, const std::string &to)
{
    RenameStatus status;
    const std::size_t fromAt = LastPartAt(from);
    const std::size_t toAt = LastPartAt(to);
    // Both in one folder, by the same text: a rename here never moves an entry.
    if (fromAt == 0 || fromAt != toAt || from.compare(0, fromAt, to, 0, toAt) != 0
        || from.find('\0') != std::string::npos || to.find('\0') != std::string::npos) {
        status.error = RenameError::InvalidName;
        return status;
    }
    OpenFolder folder;
    EntryIdentity identity;
    if (!folder.Open(from.substr(0, fromAt), identity)) {
        status.error = RenameError::Vanished;
        return status;
    }
    return folder.Rename(from.c_str() + fromAt, to.c_str() + toAt);
}
