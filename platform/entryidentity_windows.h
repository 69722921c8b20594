#pragma once

// Windows only: the one way the program tells Windows entries apart.

#include "platform/entryidentity.h"

#include <windows.h>

#include <string>

// The identity of the entry open at `handle` (see EntryIdentity), and its
// attributes when asked for. False when the system can't tell it.
bool IdentityOfHandle(HANDLE handle, EntryIdentity &identity, DWORD *attributes = nullptr);

// Opens the entry at the system path `path` only to ask about it: no
// access, every sharing allowed. `flags` as CreateFileW takes them.
HANDLE OpenEntryToAsk(const std::wstring &path, DWORD flags);

// The identity of the entry at the system path `path`, and whether it is a
// folder when asked.
bool IdentityOfPath(const std::wstring &path, EntryIdentity &identity, DWORD flags = 0,
                    bool *folder = nullptr);
