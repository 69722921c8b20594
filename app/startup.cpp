#include "app/startup.h"

#include "platform/processlist.h"
#include "platform/programfolder.h"
#include "platform/system.h"

const char *const kInstanceExecutableName = InstanceExecutableName();

namespace {

StartupFields &Fields()
{
    static StartupFields fields;
    return fields;
}

void ReadArguments(int argc, char **argv, StartupFields &fields)
{
    // A program may be started with no argument vector at all.
    if (argc >= 1 && argv && argv[0])
        fields.programPath = argv[0];
    if (argc >= 2 && argv && argv[1])
        fields.firstArgument = argv[1];
}

} // namespace

void InitStartupFields(int argc, char **argv, const ProgramFolderFinder &programFolder)
{
    StartupFields fields;
    ReadArguments(argc, argv, fields);
    // No look-alike path is ever handed on: with no settings path the settings
    // file counts as missing.
    if (programFolder(fields.programPath, fields.programFolder))
        fields.settingsPath = fields.programFolder + "Quillbarrow.qzt";
    Fields() = fields;
}

void InitStartupFields(int argc, char **argv)
{
    InitStartupFields(argc, argv, ProgramFolder);
}

const StartupFields &Startup()
{
    return Fields();
}

void ApplySingleInstanceRule()
{
    // The count includes this starting copy.
    if (CountProcessesByName(kInstanceExecutableName) >= 2)
        TerminateProcessByName(kInstanceExecutableName);
}
