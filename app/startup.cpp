#include "app/startup.h"

#include "platform/processlist.h"
#include "platform/system.h"

const char *const kInstanceExecutableName = InstanceExecutableName();

namespace {

StartupFields &Fields()
{
    static StartupFields fields;
    return fields;
}

} // namespace

std::string ProgramFolderOf(const std::string &programPath, char separator)
{
    const std::string::size_type last = programPath.rfind(separator);
    return last == std::string::npos ? std::string() : programPath.substr(0, last + 1);
}

void InitStartupFields(int argc, char **argv)
{
    StartupFields fields;
    // A program may be started with no argument vector at all.
    if (argc >= 1 && argv && argv[0])
        fields.programPath = argv[0];
    if (argc >= 2 && argv && argv[1])
        fields.firstArgument = argv[1];
    fields.programFolder = ProgramFolderOf(fields.programPath, NativeSeparator());
    fields.settingsPath = fields.programFolder + "Quillbarrow.qzt";
    Fields() = fields;
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
