#pragma once

#include "platform/entryidentity.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

// Reads a journal (journalformat.h) back: the renames it confirms, and the
// last intent when its result is missing. A journal is taken whole or not
// at all.

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
