#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Opening without being led astray: regular files that never block on a
// FIFO or a device, and folders reached without following any link (see
// OpenFolder::OpenWithoutLinks in platform/renameentry.h).

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

// The same for reading, with a native path (see platform/dirscan.h).
std::FILE *OpenRegularNativeFile(const std::string &path, RegularFileStatus &status);
