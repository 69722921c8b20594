#pragma once

#include <string>

// Renames the entry at the 8-bit path `from` to `to`, both in the local
// encoding. Fails, changing nothing, when any directory entry already stands
// at `to` (a link of any kind, even a dangling one, or an empty folder
// included). Never copies and never writes through a link. On Windows a
// change of case only is allowed, since there the old entry answers to the
// new name too.
bool RenameEntry(const std::string &from, const std::string &to);
