#include "platform/entryidentity_posix.h"

#include "platform/nativepath.h"

namespace {

bool Identify(const std::string &path, bool followLast, EntryIdentity &identity)
{
    struct stat info;
    if (!IsUsablePath(path)
        || (followLast ? stat(path.c_str(), &info) : lstat(path.c_str(), &info)) != 0)
        return false;
    identity = IdentityOfStat(info);
    return true;
}

} // namespace

bool IdentifyEntry(const std::string &path, EntryIdentity &identity)
{
    return Identify(path, true, identity);
}

bool IdentifyEntryItself(const std::string &path, EntryIdentity &identity)
{
    return Identify(path, false, identity);
}
