#pragma once

#include <QRegExp>
#include <QString>

// Pure pieces of the rename passes: how a name part changes and how the new
// name and the target path are put together.

// Who drops the dot of a file name whose extension ends up empty. Windows
// drops a trailing dot itself, so the name is made with it; elsewhere the
// dot would stay in the name, so it is left out when there is no extension.
enum class TrailingDot { LeftToSystem, DropWhenNoExtension };
TrailingDot PlatformTrailingDot();

// Every non-overlapping match of `find` in a name part replaced, compared
// case-sensitively: as plain text, or as a QRegExp (RegExp syntax, greedy)
// whose \1.. in the replacement stand for captured groups; the pattern is
// built once for a whole phase. An empty plain find text matches before every
// character and at the end. A regular expression over PatternBudget
// (engine/patternbudget.h) is never compiled and, like a pattern QRegExp
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

// What a job allows in a new name. Whether the file system can then store
// it is the platform's to say (StoredNameOf, PlainName); these are the job's
// own rules, the same on every system.
//
// A text a job puts into names (the insert text) must hold none of
// ? * : " < > \ / |, checked once when the job is launched; nothing else is
// looked at.
bool IsLegalFileName(const QString &text);

// Every new name a rule makes, checked before its rename: false when the
// changed name part holds a path separator ("/" or "\") or a NUL, or the new
// name is empty, "." or "..": renaming to it would move the entry elsewhere
// or can't name an entry at all.
bool IsAcceptableNewName(const QString &newPart, const QString &newName);

// Target folder prefix of a file: its absolute path in native separators, up
// to and including the last native separator.
QString FileTargetPrefix(const QString &absoluteFilePath);

// Target folder prefix of a folder: the absolute path of the folder holding
// it, in native separators, followed by "/".
QString FolderTargetPrefix(const QString &absoluteParentPath);
