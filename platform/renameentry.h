#pragma once

#include <string>

// Renames the entry at the 8-bit path `from` to `to`, both in the local
// encoding. Fails, changing nothing, when any directory entry already stands
// at `to` (a link of any kind, even a dangling one, included). Never copies
// and never writes through a link.
bool RenameEntry(const std::string &from, const std::string &to);
