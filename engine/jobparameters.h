#pragma once

#include "engine/chosenfolder.h"

#include <QString>
#include <QStringList>

class PassFileSystem;

enum class JobKind {
    Replace, // one find text by one replacement
    Pairs,   // several pairs, one after another
    Insert   // a text before or after every name
};

// What a rename job works on. One process-wide set is written by a launch on
// the main thread before its start signal; a pass copies it when it starts.
// Every kind reads folderPath (and chosen), onlyFiles, onlyExtension and
// writeReport; besides them
//   Replace  findText, replacementText, regExpMode
//   Pairs    findList, replacementList (pair k: the k-th of each), regExpMode;
//            a front end splits its texts into these (SplitLines)
//   Insert   insertText, insertBefore
// and nothing else: a field another kind reads may hold anything. The
// launch sets chosen and reportPaths; no pass reads reportPaths.
struct JobParameters
{
    JobKind kind = JobKind::Replace;
    QString folderPath;
    bool onlyFiles = false;
    bool onlyExtension = false;
    bool regExpMode = false;
    QString findText, replacementText;
    QStringList findList, replacementList;
    QString insertText;
    bool insertBefore = true;
    // The folder the launch checked (CheckLaunch sets it). A pass works on
    // this folder and nothing else; when it is not set, the pass resolves
    // folderPath once when it starts.
    ChosenFolder chosen;
    bool writeReport = true; // the rename report, when anything was renamed
};

JobParameters &CurrentJobParameters();

// The three report file names, in the order they are deleted.
QStringList ReportFileNames();

// The name of the one report a pass writes (the second of ReportFileNames()).
QString RenameReportFileName();

// Lines of a multi-line edit: cut at every line feed, empty parts kept, so an
// empty text gives one empty line and a final line feed one more.
QStringList SplitLines(const QString &text);

// The folder path followed directly by each report name.
QStringList ReportPathsIn(const QString &folderPath);

// Deletes, through `fs`, each of ReportPathsIn(folderPath) that exists as a
// file (PassFileSystem::RemoveReport). Failures are ignored.
void DeleteOldReportFiles(const QString &folderPath, PassFileSystem &fs);

// The same on the disk, for the job's folder.
void DeleteOldReportFiles(const JobParameters &params);
