#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Regular files opened without being led astray: never blocking on a FIFO
// or a device, refusing anything that is not a regular file.

struct RegularFileStatus
{
    bool missing = false;    // nothing stands at the path
    bool notRegular = false; // a folder, a FIFO, a device, a socket
    int systemCode = 0;      // errno, or GetLastError() on Windows, for any other failure
    std::uint64_t size = 0;  // the size the open file claims
};

// Opens the regular file at `path` for reading ("rb"), or for reading and
// writing ("rb+") when `forUpdate`, binary on every system, and never waits
// for a writer: anything but a regular file is closed again at once and
// refused. `path` is as fopen takes it (the bytes on POSIX, the local code
// page on Windows). Null, with `status` saying why, when refused.
std::FILE *OpenRegularFile(const std::string &path, bool forUpdate, RegularFileStatus &status);

// The same for reading, with a native path (see platform/nativepath.h).
std::FILE *OpenRegularNativeFile(const std::string &path, RegularFileStatus &status);
