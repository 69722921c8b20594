#pragma once

// The exit codes of quillbarrow-cli, and the one rule a rename run's code
// follows: the real run and the dry run (which ends as the real run would)
// both take theirs from RenameExitCode.

struct PassOutcome;

enum CliExitCode { ExitAllRenamed = 0, ExitSomeFailed = 1, ExitRefused = 2 };

// What a rename run's exit code depends on.
struct RunTally
{
    int attempted = 0;          // renames tried, or refused without trying
    int renamed = 0;            // of them, made
    bool reportFailed = false;  // the rename report was due and is not there whole
    bool unreached = false;     // the scans could not reach everything (LeftUnreached)
    bool journalFailed = false; // the journal could not be written, or finished
};

// ExitAllRenamed when every rename tried was made and nothing else went
// wrong; ExitSomeFailed otherwise.
int RenameExitCode(const RunTally &tally);

// Whether the scans of a pass met anything they could not take in.
bool LeftUnreached(const PassOutcome &outcome);
