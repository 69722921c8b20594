#pragma once

#include <string>

// Where the running program lies, as an 8-bit path in the local encoding
// (the form the settings file is opened by).

// Everything up to and including the last `separator` of `programPath`;
// empty when there is none.
std::string ProgramFolderOf(const std::string &programPath, char separator);

// The program's folder with its closing separator, from `argv0` (argv[0] as
// given): on POSIX argv[0]'s folder; on Windows see ProgramFolderFor, with
// the executable's path as the system has it. False, with `folder` empty,
// when no 8-bit path names the folder.
bool ProgramFolder(const std::string &argv0, std::string &folder);

#ifdef _WIN32
// Windows' 8-bit argv[0] is the wide one in the code page, with '?' or a
// look-alike for each character the code page lacks, so its folder may name
// no folder or another one. Sets `folder` to the program folder in 8-bit
// form in `codePage`, with its closing separator: argv[0]'s folder (as
// ProgramFolderOf gives it) while `modulePath`, the executable's wide path
// as the system has it, has an exact 8-bit form or argv[0] names no folder;
// else the folder of `modulePath` in its short form (the volume's 8.3 names),
// when that converts back exactly. False, with `folder` empty, when neither
// form does: no 8-bit path names the folder.
bool ProgramFolderFor(const std::string &argv0, const std::wstring &modulePath,
                      unsigned codePage, std::string &folder);
#endif
