#pragma once

// The listing of a folder already open, for the folder handle
// (platform/openfolder.h): not for other callers.

#include "platform/folderlisting.h"

#ifdef _WIN32
#include <string>

// The entries of the folder at the system path `folder`, found by the
// directory search.
void ListFolderEntries(std::wstring folder, DirListing &listing);
#else
// The entries of the folder open at the descriptor `folder`, which is closed.
void ReadOpenFolder(int folder, DirListing &listing);
#endif
