#pragma once

#include <string>

// Fixed name of this program's executable, as the process list reports it.
// A copy under any other name is neither counted nor ended.
extern const char *const kInstanceExecutableName;

// Where the program's files lie, worked out once at start-up before any Qt
// object exists. Texts are 8-bit, in the local encoding.
struct StartupFields
{
    std::string firstArgument;  // argv[1], or empty
    std::string programPath;    // argv[0] as given
    std::string programFolder;  // programPath up to and including its last separator
                                // (on Windows see ProgramFolderFor)
    std::string settingsPath;   // programFolder + "Quillbarrow.qzt"; empty when the
                                // folder has no 8-bit name, which the settings
                                // file takes for a missing file
};

// Everything up to and including the last `separator` of `programPath`;
// empty when there is none.
std::string ProgramFolderOf(const std::string &programPath, char separator);

// Fills the process-wide start-up fields from the argument vector.
void InitStartupFields(int argc, char **argv);

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

// InitStartupFields with the executable's path given, in the local code page.
void InitStartupFields(int argc, char **argv, const std::wstring &modulePath);
#endif

const StartupFields &Startup();

// A new start ends one other running copy of the program, if any.
void ApplySingleInstanceRule();
