#pragma once

#include "platform/openfolder.h"

#include <string>

// Renames the entry at the native path `from` to `to`, which must name an
// entry of the same folder (the same text up to the last separator).
RenameStatus RenameEntry(const std::string &from, const std::string &to);

// Whether the native `path` names an entry, its last part not followed when
// it is a link; if so, that entry's own identity.
bool IdentifyEntryItself(const std::string &path, EntryIdentity &identity);
