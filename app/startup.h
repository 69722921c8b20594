#pragma once

#include <functional>
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
                                // (platform/programfolder.h ProgramFolder)
    std::string settingsPath;   // programFolder + "Quillbarrow.qzt"; empty when the
                                // folder has no 8-bit name, which the settings
                                // file takes for a missing file
};

// Fills the process-wide start-up fields from the argument vector.
void InitStartupFields(int argc, char **argv);

// The same, the program folder found by `programFolder` from argv[0]
// (platform/programfolder.h ProgramFolder, or a stand-in for a test).
using ProgramFolderFinder = std::function<bool(const std::string &argv0, std::string &folder)>;
void InitStartupFields(int argc, char **argv, const ProgramFolderFinder &programFolder);

const StartupFields &Startup();

// A new start ends one other running copy of the program, if any.
void ApplySingleInstanceRule();
