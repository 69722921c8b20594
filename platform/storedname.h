#pragma once

#include <string>

// What the file system can store: the rule of the system, not of a job
// (what a job allows in a new name is the engine's, engine/namerules.h).

// The name the system stores for an entry renamed to the native `newName`,
// in `stored`; false when no entry can bear that name: empty, ".", "..", or
// holding a separator; on Windows also a name with a character Windows names
// can't hold (control characters and < > : " | ? *), a device name (CON,
// NUL, COM1 and the like, with or without an extension), or one of only
// dots and spaces. Windows drops a name's trailing dots and spaces; POSIX
// stores `newName` as it is. OpenFolder::Rename renames to `stored`.
bool StoredNameOf(const char *newName, std::string &stored);
