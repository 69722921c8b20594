#pragma once

// Windows only: the one way the program tells Windows entries apart.

#include "platform/entryidentity.h"

#include <windows.h>

// The identity of the entry open at `handle` (see EntryIdentity), and its
// attributes when asked for. False when the system can't tell it.
bool IdentityOfHandle(HANDLE handle, EntryIdentity &identity, DWORD *attributes = nullptr);
