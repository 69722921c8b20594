#pragma once

#include "platform/appendfile.h"
#include "platform/entryidentity.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <string>

// Writes a new journal (journalformat.h), one record line at a time, each
// handed to the system before the call returns. After a write fails it
// takes nothing more, so a half-written line is never followed by another.
class JournalWriter
{
public:
    JournalWriter() = default;
    JournalWriter(const JournalWriter &) = delete;
    JournalWriter &operator=(const JournalWriter &) = delete;

    // Creates `path`, which must not exist yet (an old journal may still be
    // needed for an undo), and writes the header. On failure `error` says why.
    bool Create(const QString &path, QString &error);

    // The intent of the next rename, then its result. Each is handed to the
    // system before returning. False, with the system's error code, when it
    // could not be written whole; the journal takes nothing more after that.
    bool WriteIntent(const std::string &oldPath, const std::string &newPath,
                     const EntryIdentity &identity, int &systemCode);
    bool WriteResult(bool done, int &systemCode);

    // The journal file's own identity.
    bool Identify(EntryIdentity &identity) const;

    // Pushes the journal to the disk once and closes it.
    bool Close();

private:
    bool Write(const QByteArray &line, int &systemCode);

    AppendFile file_;
    std::uint64_t number_ = 0; // of the last intent written
    bool broken_ = false;
    int lastError_ = 0;
};
