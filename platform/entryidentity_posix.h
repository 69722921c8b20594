#pragma once

// POSIX only: the one way the program tells POSIX entries apart.

#include "platform/entryidentity.h"

#include <sys/stat.h>

inline EntryIdentity IdentityOfStat(const struct stat &info)
{
    EntryIdentity identity;
    identity.volume = static_cast<std::uint64_t>(info.st_dev);
    identity.index = static_cast<std::uint64_t>(info.st_ino);
    return identity;
}
