#pragma once

#include <string>

// Path checks on 8-bit paths in the local encoding (QFile::encodeName). Both
// answer as the Windows directory search does: a path that ends in a separator
// names nothing, a link is an entry of its own, a path the system can't take
// (too long, a zero byte, a wildcard on Windows) names nothing.

// True when the file system has an entry of exactly that name, file or folder
// (a dangling link included).
bool FileExists(const std::string &path);

// True when the path, less one trailing "/", names an existing folder (or a
// link to one) other than the root of the file system, however it is
// written: the directory search finds no root.
bool FolderExists(const std::string &path);

// True when the native `path` (a final path: see FinalPathOf) names the top
// of a file system: "/" on POSIX; on Windows a volume's root, wherever it is
// mounted, or a share's ("C:/", "//server/share/"), told by the system
// (GetVolumePathNameW), and any path whose volume can't be told. No job
// starts there: it would rename a whole drive.
bool IsSystemRoot(const std::string &path);

// Removes the entry at the native `path` (see platform/nativepath.h) when one
// stands there that is neither a folder nor a link to one: our reports are
// files, and an empty folder of that name is not one. True when removed.
bool RemoveNonFolder(const std::string &path);
