#pragma once

#include <QFileInfo>
#include <QList>
#include <QString>

#include <functional>

// Asked once per folder during a scan; true ends the scan early with what it
// has collected so far.
using ScanStopQuestion = std::function<bool()>;

// Every file below `path` (hidden ones included, links to files left out):
// a folder's own files, then the whole collection of each subfolder in turn.
// Hidden folders are not entered. A link to a folder is entered unless it
// leads back to a folder on the current descent path.
QList<QFileInfo> ScanFiles(const QString &path, const ScanStopQuestion &stop = {});

// Every folder below `path` (hidden ones left out, links to folders listed):
// a folder's direct subfolders, then the collection of each in turn, so every
// folder stands after the folder that holds it.
QList<QFileInfo> ScanFolders(const QString &path, const ScanStopQuestion &stop = {});

// Sibling order: by name ignoring case (lower-cased, then compared by UTF-16
// code units), ties broken case-sensitively.
bool SiblingNameLess(const QString &a, const QString &b);

// Stable sort of one folder's entries by SiblingNameLess on their names.
void SortSiblings(QList<QFileInfo> &entries);
