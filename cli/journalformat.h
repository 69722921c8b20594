#pragma once

#include "platform/entryidentity.h"

#include <QByteArray>

#include <cstdint>

// The journal's format: a text file of ASCII lines, written ahead of every
// rename so that a killed run leaves enough to put the tree back. Paths are
// absolute and are the bytes handed to the system, every byte outside 0x21
// to 0x7E and "%" itself written as "%" and two upper-case hex digits. The
// first line is the header; after it, for the N-th rename tried (N from 1 up):
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
//
// Only the lines and their fields are here; journalwriter.h writes them,
// journalreader.h reads them back.
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

// A record's number N: decimal digits only, as the writer puts them (no
// sign, no spaces), and no more than 64 bits hold.
bool ParseJournalNumber(const QByteArray &field, std::uint64_t &value);

// An intent's VOLUME and INDEX fields, as JournalIntentLine puts them; "- -"
// gives an identity that is not Known().
bool ParseJournalIdentity(const QByteArray &volume, const QByteArray &index,
                          EntryIdentity &identity);
