#include "cli/exitcode.h"

#include "engine/renamepass.h"

int RenameExitCode(const RunTally &tally)
{
    return tally.renamed == tally.attempted && !tally.reportFailed && !tally.unreached
            && !tally.journalFailed
        ? ExitAllRenamed
        : ExitSomeFailed;
}

bool LeftUnreached(const PassOutcome &outcome)
{
    return outcome.unreadableFolders != 0 || outcome.undecodableNames != 0
        || outcome.tooLongPaths != 0;
}
