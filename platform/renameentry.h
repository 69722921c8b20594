#pragma once

#include "platform/openfolder.h"

#include <string>

// Renames the entry at the native path `from` to `to`, which must name an
// entry of the same folder (the same text up to the last separator).
RenameStatus RenameEntry(const std::string &from, const std::string &to);
