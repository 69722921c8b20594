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

// Opens the null device on each of the standard descriptors 0, 1 and 2
// that is closed, so that the first files the program opens don't take
// their numbers and receive what is meant for those streams. Nothing to do
// on Windows. Call before anything opens a file.
void OpenClosedStandardStreams();

// A reader that went away makes writes fail (EPIPE) instead of ending the
// process, so that a job is never stopped half-way by its output. Nothing
// to do on Windows.
void IgnoreBrokenPipes();
