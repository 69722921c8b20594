#include "platform/entryidentity_posix.h"

bool IdentifyEntry(const std::string &path, EntryIdentity &identity)
{
    struct stat info;
    if (path.empty() || path.find('\0') != std::string::npos || stat(path.c_str(), &info) != 0)
        return false;
    identity = IdentityOfStat(info);
    return true;
}

bool IdentifyEntryItself(const std::string &path, EntryIdentity &identity)
{
    struct stat info;
    if (path.empty() || path.find('\0') != std::string::npos || lstat(path.c_str(), &info) != 0)
        return false;
    identity = IdentityOfStat(info);
    return true;
}
