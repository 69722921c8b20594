#pragma once

#include "platform/entryidentity.h"
#include "platform/system.h"

#include <cstddef>
#include <string>
#include <vector>

// A file written only at its end, for a journal that must survive its
// process: every Append goes to the system before it returns (no buffer in
// this process), so whatever a killed process had appended is in the file.
// Paths are native (see platform/nativepath.h).
class AppendFile
{
public:
    AppendFile() = default;
    ~AppendFile(); // closes without pushing to the disk
    AppendFile(const AppendFile &) = delete;
    AppendFile &operator=(const AppendFile &) = delete;

    // Creates the file at `path`, which must name no entry at all: nothing,
    // not even a dangling link, is replaced or written through. False with
    // `systemCode` set; `exists` tells that something stood there.
    bool Create(const std::string &path, int &systemCode, bool &exists);

    // Appends all `size` bytes. False with `systemCode` set when the system
    // took fewer (a part of them may then be in the file).
    bool Append(const char *data, std::size_t size, int &systemCode);

    // The identity of the file itself.
    bool Identify(EntryIdentity &identity) const;

    // Pushes the file to the disk and closes it; false when either failed.
    bool SyncAndClose(int &systemCode);

    bool IsOpen() const;

private:
#ifdef _WIN32
    void *handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// SystemErrorText (platform/system.h) gives the words for their error codes.
