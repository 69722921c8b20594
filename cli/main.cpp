#include "cli/clijob.h"
#include "cli/commandline.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const ParsedCommandLine parsed = ParseCommandLine(QCoreApplication::arguments().mid(1));
    if (!parsed.ok) {
        if (!parsed.error.isEmpty())
            std::fprintf(stderr, "quillbarrow-cli: %s\n", parsed.error.toLocal8Bit().constData());
        std::fputs(UsageText().toLocal8Bit().constData(), stderr);
        return ExitRefused;
    }
    switch (parsed.request.command) {
    case CliCommand::Help:
        std::fputs(UsageText().toLocal8Bit().constData(), stdout);
        return 0;
    case CliCommand::Undo:
        return RunUndoCommand(parsed.request);
    default:
        return RunRenameCommand(parsed.request);
    }
}
