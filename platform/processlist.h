#pragma once

// Counting and ending running copies of this program, by the executable file
// name that the system's process list reports (no folder). Names are 8-bit
// texts compared byte for byte, case-sensitively. Only the calling user's
// processes count, so an administrator or root never ends another user's
// copy: on Linux those whose real and effective user are the caller's; on
// Windows those of the caller's session whose token names the caller's user
// (see platform/processlist_choice.h). A process whose owner can't be told is
// neither counted nor ended.

// Number of such running processes whose executable file name equals `name`,
// the caller included when it matches. 0 when `name` is null or the process
// list (on Windows also the caller's own session and user) can't be read.
int CountProcessesByName(const char *name);

// Ends at once the first such process, in the system's process-list order
// (pid order on Linux), whose executable file name equals `name`, never the
// calling process itself. On Windows one that can't be opened or ended is
// passed over for the next. Returns 1 when a process was ended (its ending
// requested), else 0.
int TerminateProcessByName(const char *name);
