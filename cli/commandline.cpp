#include "cli/commandline.h"

namespace {

struct Flags
{
    bool regExp = false, filesOnly = false, extensionOnly = false, noReport = false,
         dryRun = false, before = false, after = false;
    bool journalGiven = false;
    QString journal;
    QStringList pairFinds, pairReplacements;
};

ParsedCommandLine Failure(const QString &error)
{
    ParsedCommandLine result;
    result.error = error;
    return result;
}

// Options start with "--" (and so does "--" itself). Taking such a word as an
// option's value would swallow the option the user meant: "--journal
// --dry-run" would make a real run with a journal called "--dry-run".
bool LooksLikeOption(const QString &argument)
{
    return argument.startsWith(QLatin1String("--"));
}

} // namespace

QString UsageText()
{
    return QStringLiteral(
        "usage: quillbarrow-cli replace FOLDER FIND REPLACEMENT [options]\n"
        "       quillbarrow-cli pairs FOLDER FIND_FILE REPLACEMENT_FILE [options]\n"
        "       quillbarrow-cli pairs FOLDER --pair FIND REPLACEMENT [--pair FIND REPLACEMENT]... "
        "[options]\n"
        "       quillbarrow-cli insert FOLDER TEXT --before|--after [options]\n"
        "       quillbarrow-cli undo JOURNAL\n"
        "options:\n"
        "  --regex           FIND is a regular expression (replace, pairs)\n"
        "  --files-only      leave folders alone\n"
        "  --extension-only  change only the extension of files\n"
        "  --no-report       write no rename report and keep old reports\n"
        "  --journal FILE    record every rename in FILE (a new file) for undo\n"
        "  --dry-run         list every rename a real run would try, each marked if it\n"
        "                    would fail and why, then its summary; change nothing\n"
        "  --                every later argument is a text, even one starting with --\n");
}

ParsedCommandLine ParseCommandLine(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return Failure(QStringLiteral("no subcommand given"));
    const QString name = arguments.first();
    CliRequest request;
    if (name == QLatin1String("--help") || name == QLatin1String("help")) {
        ParsedCommandLine result;
        result.ok = arguments.size() == 1;
        if (!result.ok)
            result.error = QStringLiteral("help takes no arguments");
        return result;
    }
    if (name == QLatin1String("replace"))
        request.command = CliCommand::Replace;
    else if (name == QLatin1String("pairs"))
        request.command = CliCommand::Pairs;
    else if (name == QLatin1String("insert"))
        request.command = CliCommand::Insert;
    else if (name == QLatin1String("undo"))
        request.command = CliCommand::Undo;
    else
        return Failure(QStringLiteral("unknown subcommand: ") + name);

    Flags flags;
    QStringList plain;
    bool optionsEnded = false;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(QLatin1String("--"))) {
            plain << argument;
            continue;
        }
        bool *flag = nullptr;
        if (argument == QLatin1String("--"))
            optionsEnded = true;
        else if (argument == QLatin1String("--regex"))
            flag = &flags.regExp;
        else if (argument == QLatin1String("--files-only"))
            flag = &flags.filesOnly;
        else if (argument == QLatin1String("--extension-only"))
            flag = &flags.extensionOnly;
        else if (argument == QLatin1String("--no-report"))
            flag = &flags.noReport;
        else if (argument == QLatin1String("--dry-run"))
            flag = &flags.dryRun;
        else if (argument == QLatin1String("--before"))
            flag = &flags.before;
        else if (argument == QLatin1String("--after"))
            flag = &flags.after;
        else if (argument == QLatin1String("--journal")) {
            if (flags.journalGiven)
                return Failure(QStringLiteral("--journal given twice"));
            if (i + 1 >= arguments.size() || arguments.at(i + 1).isEmpty())
                return Failure(QStringLiteral("--journal needs a file name"));
            if (LooksLikeOption(arguments.at(i + 1)))
                return Failure(QStringLiteral("--journal needs a file name, not the option %1 "
                                              "(for a file of that name write ./%1)")
                                   .arg(arguments.at(i + 1)));
            flags.journalGiven = true;
            flags.journal = arguments.at(++i);
        } else if (argument == QLatin1String("--pair")) {
            if (i + 2 >= arguments.size())
                return Failure(QStringLiteral("--pair needs FIND and REPLACEMENT"));
            for (int k = i + 1; k <= i + 2; ++k) {
                if (LooksLikeOption(arguments.at(k)))
                    return Failure(QStringLiteral("--pair needs FIND and REPLACEMENT, not the "
                                                  "option %1 (put texts that start with -- in "
                                                  "pair files)")
                                       .arg(arguments.at(k)));
            }
            flags.pairFinds << arguments.at(i + 1);
            flags.pairReplacements << arguments.at(i + 2);
            i += 2;
        } else {
            return Failure(QStringLiteral("unknown option: ") + argument);
        }
        if (flag) {
            if (*flag)
                return Failure(argument + QStringLiteral(" given twice"));
            *flag = true;
        }
    }

    const auto refuse = [&](bool given, const char *option) -> QString {
        return given ? QStringLiteral("%1 does not apply to %2").arg(QLatin1String(option), name)
                     : QString();
    };
    QString misuse;
    const bool renames = request.command != CliCommand::Undo;
    const bool insert = request.command == CliCommand::Insert;
    for (const QString &problem :
         {refuse(flags.regExp && (insert || !renames), "--regex"),
          refuse(!renames && flags.filesOnly, "--files-only"),
          refuse(!renames && flags.extensionOnly, "--extension-only"),
          refuse(!renames && flags.noReport, "--no-report"),
          refuse(!renames && flags.dryRun, "--dry-run"),
          refuse(!renames && flags.journalGiven, "--journal"),
          refuse(!insert && flags.before, "--before"), refuse(!insert && flags.after, "--after"),
          refuse(request.command != CliCommand::Pairs && !flags.pairFinds.isEmpty(), "--pair")}) {
        if (misuse.isEmpty())
            misuse = problem;
    }
    if (!misuse.isEmpty())
        return Failure(misuse);
    // A dry run writes nothing, so a journal asked for would silently stay empty.
    if (flags.dryRun && flags.journalGiven)
        return Failure(QStringLiteral("--dry-run writes no journal: leave out --journal"));

    const auto wrongCount = [&](const char *expected) {
        return Failure(name + QStringLiteral(" expects ") + QLatin1String(expected));
    };
    switch (request.command) {
    case CliCommand::Replace:
        if (plain.size() != 3)
            return wrongCount("FOLDER FIND REPLACEMENT");
        request.findText = plain.at(1);
        request.replacementText = plain.at(2);
        break;
    case CliCommand::Pairs:
        if (!flags.pairFinds.isEmpty()) {
            if (plain.size() != 1)
                return wrongCount("FOLDER and --pair options, or FOLDER FIND_FILE "
                                  "REPLACEMENT_FILE, not both");
            request.pairFinds = flags.pairFinds;
            request.pairReplacements = flags.pairReplacements;
        } else {
            if (plain.size() != 3)
                return wrongCount("FOLDER FIND_FILE REPLACEMENT_FILE, or FOLDER and --pair options");
            request.pairsFromFiles = true;
            request.findFile = plain.at(1);
            request.replacementFile = plain.at(2);
        }
        break;
    case CliCommand::Insert:
        if (plain.size() != 2)
            return wrongCount("FOLDER TEXT");
        if (flags.before == flags.after)
            return Failure(QStringLiteral("insert needs exactly one of --before and --after"));
        request.insertText = plain.at(1);
        request.insertBefore = flags.before;
        break;
    case CliCommand::Undo:
        if (plain.size() != 1 || plain.first().isEmpty())
            return wrongCount("JOURNAL");
        request.undoJournal = plain.first();
        break;
    case CliCommand::Help:
        break;
    }
    if (renames)
        request.folder = plain.first();
    request.regExpMode = flags.regExp;
    request.onlyFiles = flags.filesOnly;
    request.onlyExtension = flags.extensionOnly;
    request.noReport = flags.noReport;
    request.dryRun = flags.dryRun;
    request.journalPath = flags.journal;

    ParsedCommandLine result;
    result.ok = true;
    result.request = request;
    return result;
}
