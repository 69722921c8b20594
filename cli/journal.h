#pragma once

#include "platform/appendfile.h"
#include "platform/entryidentity.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

// The journal: a text file of ASCII lines, written ahead of every rename so
// that a killed run leaves enough to put the tree back. Paths are absolute
// and are the bytes handed to the system, every byte outside 0x21 to 0x7E
// and "%" itself written as "%" and two upper-case hex digits. The first line
// is the header; after it, for the N-th rename tried (N from 1 up):
//
//   intent N VOLUME INDEX OLD NEW   before the rename; VOLUME and INDEX are
//                                   the identity of the entry at OLD: decimal,
//                                   INDEX "0x" and 32 hex digits for a 128-bit
//                                   file id, both "-" where the system gives
//                                   the entry no number
//   done N                          after it, when it was made
//   failed N                        after it, when it was not
//
// Each intent is followed by its result before the next intent. Only the last
// intent may lack one: the run ended between the two. A last line without its
// line feed was cut off by a kill and is not used; an intent cut off so
// means that rename was never asked for.
//
// Version 1 (still undone): after its header, one "OLD NEW" line per rename
// made, written after the rename.
extern const char JournalHeader[];
extern const char JournalHeaderV1[];

QByteArray EscapeJournalField(const QByteArray &bytes);
// False when `field` is empty, holds a byte outside the escaped alphabet or a
// malformed escape, or decodes to bytes with a NUL.
bool UnescapeJournalField(const QByteArray &field, QByteArray &bytes);

// The record lines, line feed included.
QByteArray JournalIntentLine(std::uint64_t number, const EntryIdentity &identity,
                             const QByteArray &oldPath, const QByteArray &newPath);
QByteArray JournalResultLine(std::uint64_t number, bool done);

struct JournalRecord
{
    QByteArray oldPath;
    QByteArray newPath;
    EntryIdentity identity; // of the entry renamed; none in version 1, nor where unknown
};

// The renames of a journal, kept compactly for undo: the paths' bytes in
// large blocks, a new path sharing its old path's folder part, and no file
// text kept beside them.
class JournalRecordList
{
public:
    void Append(const QByteArray &oldPath, const QByteArray &newPath,
                const EntryIdentity &identity);
    int size() const { return static_cast<int>(entries_.size()); }
    bool isEmpty() const { return entries_.empty(); }
    JournalRecord at(int i) const;
    JournalRecord first() const { return at(0); }
    JournalRecord last() const { return at(size() - 1); }

private:
    struct Entry
    {
        std::uint32_t block;
        std::uint32_t offset;
        std::uint32_t oldSize;
        std::uint32_t shared; // bytes the new path shares with the start of the old one
        std::uint32_t tailSize;
        // A journal holds numbers only (never a final path): kept as such.
        std::uint64_t volume, index, indexHigh;
    };
    std::deque<Entry> entries_;
    std::vector<std::string> blocks_;
};

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

// The last intent of a journal, when it has no result.
struct PendingIntent
{
    bool present = false;
    JournalRecord paths;
    EntryIdentity identity;
};

struct JournalContents
{
    int version = 0;
    JournalRecordList records;    // renames made, in the order they happened
    PendingIntent pending;        // a rename that may or may not have been made
    bool cutOff = false;          // the last line lacked its line feed
};

// Reads the journal line by line. False, with `error` set, when the file
// can't be read, lacks a header or holds a malformed record (a relative path
// included: the journal's paths are absolute); then nothing of it should be
// used.
bool ReadJournal(const QString &path, JournalContents &contents, QString &error);

struct UndoCounts
{
    int restored = 0;
    int skipped = 0;
    int failed = 0;
};

// Takes the renames back, last first, never over an existing entry, each
// inside its folder opened once without following any link (a link on the
// way was not there when the job ran, which recorded link-free paths), and
// never from one folder to another: a pending intent first, by the identity
// it records (put back only when the entry at NEW is the one that stood at
// OLD and OLD is free), then each rename made, when the entry at NEW is the
// one renamed (version 2; version 1 recorded no identity) and OLD is free;
// an entry already back at OLD counts as restored. Each gets one line: on
// `out` when restored or when there was nothing to undo, on `err` when
// skipped or failed.
UndoCounts UndoJournal(const JournalContents &contents, std::FILE *out, std::FILE *err);

// A path for a message line: raw bytes, control bytes shown as \xNN.
QByteArray DisplayPath(const QByteArray &path);
