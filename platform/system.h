#pragma once

#include <cstdio>
#include <string>

// What differs between the target system and the others, for the layers
// above this one, which keep no branches of their own.

// The program's executable file name, as the process list shows it.
const char *InstanceExecutableName();

// The separator the system puts between folders in a path it gives.
char NativeSeparator();

// Windows drops a dot at the end of a name by itself.
bool SystemDropsTrailingDots();

// The plain-text editor that opens a rename report: a bare program name,
// to be looked up on the search path.
const char *PlainTextViewerProgram();

// Whether `stream` writes to a terminal.
bool IsTerminal(std::FILE *stream);

// The system's own words for one of its error codes (errno; GetLastError()
// on Windows).
std::string SystemErrorText(int code);

// The size of the primary display as the system reports it, where the
// system has a call for it (Windows); false elsewhere.
bool SystemScreenSize(int &width, int &height);
