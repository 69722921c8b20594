#include "cli/clijob.h"
#include "cli/commandline.h"
#include "platform/system.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    // Before anything opens a file: a closed standard descriptor would be
    // taken by the journal, and the summary written into it.
    OpenClosedStandardStreams();
    // A reader that leaves must not stop a job half-way; the output lost
    // shows in the exit code.
    IgnoreBrokenPipes();
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
        return WithOutputChecked(0);
    case CliCommand::Undo:
        return WithOutputChecked(RunUndoCommand(parsed.request));
    default:
        return WithOutputChecked(RunRenameCommand(parsed.request));
    }
}
