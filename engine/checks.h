#pragma once

#include "platform/pathchecks.h"

#include <QString>

struct JobParameters;

// Why a launch refuses a job, and how the window shows it.
struct LaunchRefusal
{
    enum class Shown { None, ProgressLabel, AboutBox };
    Shown shown = Shown::None;
    QString message;
    bool Refused() const { return shown != Shown::None; }
};

enum class OldReports { Delete, Keep };

// The checks a launch makes before a job starts, in their order: an insert
// text with a character no file name may hold; find and replacement lists of
// different lengths; then (after deleting the old reports, when asked to, so
// that those go even when the folder turns out to be missing) a folder that
// doesn't exist (or is a root). Sets params.chosen to the folder found,
// which the pass then works on. A refusal changes nothing else.
LaunchRefusal CheckLaunch(JobParameters &params, OldReports oldReports);
