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
    std::string settingsPath;   // programFolder + "Quillbarrow.qzt"
};

// Everything up to and including the last `separator` of `programPath`;
// empty when there is none.
std::string ProgramFolderOf(const std::string &programPath, char separator);

// Fills the process-wide start-up fields from the argument vector.
void InitStartupFields(int argc, char **argv);
const StartupFields &Startup();

// A new start ends one other running copy of the program, if any.
void ApplySingleInstanceRule();
