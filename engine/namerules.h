#pragma once

#include <QRegExp>
#include <QString>

// Pure pieces of the rename passes: how a name part changes and how the new
// name and the target path are put together.

// Whether a file name whose extension ends up empty keeps its dot. Windows
// drops a trailing dot itself; elsewhere the dot would stay in the name.
enum class TrailingDot { Keep, DropWhenNoExtension };
TrailingDot PlatformTrailingDot();


// The budget a regular expression must keep before QRegExp compiles it.
// QRegExp reads the part before a counted repetition {m,n} again for each of
// n copies, so nested counts multiply; the pattern written out that way may
// hold at most `elements` tokens. Joining two parts links every exit state of
// the first to every entry state of the second, so repeating an optional
// part makes transitions grow with the square of the count; matching costs,
// at each character of a name, up to every transition, so their number is
// bounded too. A lookahead is a separate automaton, run again at many
// positions of a name: its transitions count 64 times (about what one costs
// in matching, measured against the pattern's own); two nested lookaheads
// are always over, which also covers QRegExp parsing a failed lookahead
// twice. Anchors (^, $, \b, \B, lookaheads) on a part that can match empty
// combine as conditions whose alternatives multiply when such parts follow
// each other: (?:$|^|\b|\B){16} takes seconds; their number, counted
// without QRegExp's simplifications, is bounded as well. QRegExp's parser
// recurses once per group level, on the worker's stack: `depth` bounds that.
//
// Measured on 255-character names: within the budget a pattern compiles in
// milliseconds; the slowest patterns found, such as (a*){61}b, take one to two
// seconds per name, ordinary ones microseconds.
struct PatternBudget
{
    static constexpr int elements = 4096;
    static constexpr int transitions = 2048;
    static constexpr int lookaheadWeight = 64;
    static constexpr int anchorAlternatives = 256;
    static constexpr int depth = 100;
};

// True when the automaton QRegExp would build from `pattern` (RegExp syntax)
// stays within PatternBudget; computed from the pattern's text alone, in time
// linear in its length, without compiling it. Otherwise false, with `why`
// naming the limit it goes past. Says nothing about whether the pattern is
// valid: an invalid one within budget still fails to compile, cheaply.
bool PatternWithinBudget(const QString &pattern, QString *why = nullptr);

// Every non-overlapping match of `find` in a name part replaced, compared
// case-sensitively: as plain text, or as a QRegExp (RegExp syntax, greedy)
// whose \1.. in the replacement stand for captured groups; the pattern is
// built once for a whole phase. An empty plain find text matches before every
// character and at the end. A regular expression over PatternBudget is never compiled and, like a pattern QRegExp
// finds invalid, matches nothing: a job with it changes no name instead of
// compiling for minutes or running out of memory.
class ReplaceRule
{
public:
    ReplaceRule(const QString &find, const QString &replacement, bool regExpMode);
    QString Apply(const QString &namePart) const;

private:
    QString find_;
    QString replacement_;
    bool regExpMode_;
    bool withinBudget_;
    QRegExp pattern_;
};

QString InsertIntoName(const QString &namePart, const QString &insertText, bool before);

// A file name split as QFileInfo does: base before the last dot, suffix after it.
struct FileNameParts
{
    QString name;
    QString base;
    QString suffix;
};
FileNameParts SplitFileName(const QString &fileName);

// The file name with a new extension after the base name.
QString NameWithNewSuffix(const FileNameParts &parts, const QString &newSuffix, TrailingDot dot);

// The file name with a new base name before the extension. A dot the old name
// had before an empty extension stays.
QString NameWithNewBase(const FileNameParts &parts, const QString &newBase, TrailingDot dot);

// False when the changed name part holds a path separator ("/" or "\") or a
// NUL, or the new name is empty, "." or "..": renaming to it would move the
// entry elsewhere or can't name an entry at all.
bool IsAcceptableNewName(const QString &newPart, const QString &newName);

// Target folder prefix of a file: its absolute path in native separators, up
// to and including the last native separator.
QString FileTargetPrefix(const QString &absoluteFilePath);

// Target folder prefix of a folder: the absolute path of the folder holding
// it, in native separators, followed by "/".
QString FolderTargetPrefix(const QString &absoluteParentPath);
