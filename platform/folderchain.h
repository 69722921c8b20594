#pragma once

#include "platform/entryidentity.h"

#include <string>
#include <vector>

// The identities of the folder at `path` (links followed) and of every
// folder above it up to the top of the file system, as the system really
// nests them: a link on the way is no parent, its target's parents are.
// False when the folder can't be reached.
bool RealFolderChain(const std::string &path, std::vector<EntryIdentity> &chain);
