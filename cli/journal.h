#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdio>

// The journal: a text file of ASCII lines. The first line is the header
// below; every further line is one successful rename, "OLD NEW" and a line
// feed, where OLD and NEW are the paths exactly as handed to the system
// (absolute, local 8-bit bytes), in which every byte outside 0x21 to 0x7E,
// and "%" itself, is written as "%" and two upper-case hex digits. A last line without its line feed is a record cut off by a
// killed run and is not part of the journal.
extern const char JournalHeader[];

QByteArray EscapeJournalField(const QByteArray &bytes);
// False when `field` is empty, holds a byte outside the escaped alphabet or a
// malformed escape, or decodes to bytes with a NUL.
bool UnescapeJournalField(const QByteArray &field, QByteArray &bytes);

struct JournalRecord
{
    QByteArray oldPath;
    QByteArray newPath;
};

class JournalWriter
{
public:
    JournalWriter() = default;
    JournalWriter(const JournalWriter &) = delete;
    JournalWriter &operator=(const JournalWriter &) = delete;
    ~JournalWriter();

    // Creates `path`, which must not exist yet (an old journal may still be
    // needed for an undo), and writes the header. On failure `error` says why.
    bool Create(const QString &path, QString &error);

    // One record, handed to the system before returning (no buffer of our
    // own), so that a killed process leaves every record it reported. False
    // when the write failed; the journal then ends with the record before.
    bool Append(const QByteArray &oldPath, const QByteArray &newPath);

    // Pushes the journal to the disk once (fsync) and closes it.
    bool Close();

private:
    int fd_ = -1;
    qint64 size_ = 0;
};

struct JournalContents
{
    QList<JournalRecord> records; // in the order the renames happened
    bool cutOff = false;          // the last line lacked its line feed
};

// False, with `error` set, when the file can't be read, lacks the header or
// holds a malformed record; then nothing of it should be used.
bool ReadJournal(const QString &path, JournalContents &contents, QString &error);

struct UndoCounts
{
    int restored = 0;
    int skipped = 0;
    int failed = 0;
};

// Takes the records back, last first: renames NEW to OLD when NEW still
// stands and OLD is free, never over an existing entry. Each record gets one
// line: on `out` when restored, on `err` when skipped or failed.
UndoCounts UndoJournal(const QList<JournalRecord> &records, std::FILE *out, std::FILE *err);

// A path for a message line: raw bytes, control bytes shown as \xNN.
QByteArray DisplayPath(const QByteArray &path);
