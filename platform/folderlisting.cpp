#include "platform/folderlisting.h"

void DirListing::Clear()
{
    entries.clear();
    names.clear();
    unreadable = false;
    unnamed = 0;
}

void DirListing::Add(const char *name, std::size_t size, DirEntryKind kind, LinkTargetKind target,
                     bool hidden)
{
    // No system allows a name this long; such an entry could not be renamed anyway.
    if (size > 0xFFFF)
        return;
    entries.push_back(Entry{static_cast<std::uint32_t>(names.size()),
                            static_cast<std::uint16_t>(size), kind, target, hidden});
    names.append(name, size);
    names.push_back('\0');
}
