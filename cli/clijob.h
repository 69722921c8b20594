#pragma once

#include "cli/commandline.h"
#include "cli/exitcode.h"

#include <QString>

// The folder as a job takes it: absolute, so that the journal and the report
// name whole paths, and ending in "/" as the window's folder dialog leaves it,
// so that the reports lie inside the folder. An empty argument stays empty
// (and fails the folder check, as in the window), and so does a relative one
// when the current folder can't be told (it was deleted).
QString JobFolderPath(const QString &argument);

// replace, pairs, insert: the window's checks in the window's order, then the
// window's pass with a sink that prints, journals and counts. Returns the
// exit code.
int RunRenameCommand(const CliRequest &request);

// undo JOURNAL. Returns the exit code.
int RunUndoCommand(const CliRequest &request);

// `exitCode`, or ExitSomeFailed in place of success when a write to standard
// output or standard error failed (a closed pipe, a full disk): output lost
// is a job not done whole.
int WithOutputChecked(int exitCode);
