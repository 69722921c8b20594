#pragma once

// Counting and ending running copies of this program, by the executable file
// name that the system's process list reports (no folder). Names are 8-bit
// texts compared byte for byte, case-sensitively. On Linux only processes of
// the calling user are seen, so root never ends another user's copy.

// Number of running processes whose executable file name equals `name`, the
// caller included when it matches. 0 when `name` is null or the process list
// can't be read.
int CountProcessesByName(const char *name);

// Ends at once the first process, in the system's process-list order (pid
// order on Linux), whose executable file name equals `name`, never the calling
// process itself. Returns 1 when such a process was found and its ending
// requested, else 0 (also when it may not be ended).
int TerminateProcessByName(const char *name);
