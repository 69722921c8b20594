#pragma once

#include "cli/journalreader.h"

#include <cstdio>

// Takes back the renames a journal records (journalreader.h).

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
