#pragma once

#include "platform/entryidentity.h"

#include <QString>

#include <string>

class PassFileSystem;

// The folder a job works on, resolved once: the launch checks it, and every
// scan of the job reads that same folder, however its path was spelt (a
// ".." after a link, a link to it, a relative path) and whatever that path
// leads to later.
struct ChosenFolder
{
    // Its final path: every link followed, "." and ".." taken as the system
    // takes them; native, ending in "/". Every path the job hands to the
    // system below it starts so. Empty when the folder was not found.
    std::string native;
    EntryIdentity identity;
    // How the paths below it begin in progress lines, reports and messages,
    // ending in "/": the path as given, made absolute and clean, when that
    // names this same folder (so a folder reached through a link keeps the
    // name the user knows); its final path otherwise.
    QString shown;

    bool Found() const { return !native.empty(); }
};

// The folder `path` leads to, as `fs` resolves it; not found when the path
// leads to no entry, to a root ("/", a drive), or its final path can't be
// told.
ChosenFolder ResolveChosenFolder(PassFileSystem &fs, const QString &path);
