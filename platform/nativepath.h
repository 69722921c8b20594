#pragma once

#include <string>

// Paths and names in the file system's own form ("native"): the bytes as
// stored on POSIX, UTF-8 on Windows (converted to and from the wide names the
// system takes).

// True when native names are UTF-8 (Windows); false when they are the stored
// bytes, read in the locale's encoding (POSIX).
bool NativeNamesAreUtf8();

// The native separators: "/" on POSIX; "\" and "/" on Windows.
bool IsNativeSeparator(char c);

// Whether the native `path` is absolute: starting with "/" on POSIX; on
// Windows a drive ("C:\", "C:/") or a UNC path ("\\server\share").
bool IsAbsoluteNativePath(const std::string &path);

// A path that can be handed to the system at all: not empty, no zero byte
// (which would cut it short).
bool IsUsablePath(const std::string &path);

// A name that stays in its folder: not empty, no separator, not "." or "..".
// Every name handed to a folder's own operations must be one.
bool IsPlainName(const char *name);

// Whether the native path of a folder, ending in a separator, is short
// enough for the system to open that folder by it.
bool FolderPathFits(const std::string &folderPath);

// The path the native `path` leads to with every link on the way and at its
// end followed and every "." and ".." taken as the system takes them: on
// POSIX the absolute path without links (realpath); on Windows the final
// path of the entry opened (GetFinalPathNameByHandleW), backslashes turned
// into "/" (no name holds either) and without the extended-length prefix
// the system puts first ("C:/x", "//server/share/x"). False when the path
// leads to no entry or its final path can't be told.
bool FinalPathOf(const std::string &path, std::string &final);
