#pragma once

#include <QString>
#include <QStringList>

enum class CliCommand { Help, Replace, Pairs, Insert, Undo };

// One invocation of quillbarrow-cli, as typed; nothing is checked against the
// file system here.
struct CliRequest
{
    CliCommand command = CliCommand::Help;
    QString folder;

    QString findText, replacementText; // replace

    bool pairsFromFiles = false; // pairs: two files, or the --pair lists
    QString findFile, replacementFile;
    QStringList pairFinds, pairReplacements;

    QString insertText; // insert
    bool insertBefore = true;

    bool regExpMode = false;
    bool onlyFiles = false;
    bool onlyExtension = false;
    bool noReport = false;
    bool dryRun = false;
    QString journalPath;

    QString undoJournal; // undo
};

struct ParsedCommandLine
{
    bool ok = false;
    CliRequest request;
    QString error; // what is wrong, for the line above the usage text
};

// `arguments` without the program name. Options are the "--" forms only and
// may stand anywhere after the subcommand; "--" makes every later argument a
// plain one, so a text may start with "--". A single "-" or "-1" is a text.
// The value of --journal or --pair is never a word starting with "--": that
// is refused rather than taken.
ParsedCommandLine ParseCommandLine(const QStringList &arguments);

QString UsageText();
