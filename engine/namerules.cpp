#include "engine/namerules.h"

#include "engine/patternbudget.h"
#include "platform/system.h"

#include <QDir>
#include <QRegExp>

TrailingDot PlatformTrailingDot()
{
    return SystemDropsTrailingDots() ? TrailingDot::LeftToSystem : TrailingDot::DropWhenNoExtension;
}

QString InsertIntoName(const QString &namePart, const QString &insertText, bool before)
{
    return before ? insertText + namePart : namePart + insertText;
}

FileNameParts SplitFileName(const QString &fileName)
{
    // As QFileInfo splits a bare name, without building one per entry.
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return {fileName, fileName, QString()};
    return {fileName, fileName.left(dot), fileName.mid(dot + 1)};
}

ReplaceRule::ReplaceRule(const QString &find, const QString &replacement, bool regExpMode)
    : find_(find)
    , replacement_(replacement)
    , regExpMode_(regExpMode)
    , withinBudget_(!regExpMode || PatternWithinBudget(find))
    , pattern_(regExpMode && withinBudget_ ? QRegExp(find, Qt::CaseSensitive, QRegExp::RegExp)
                                           : QRegExp())
{
}

QString ReplaceRule::Apply(const QString &namePart) const
{
    // QString::replace works on its own copy of the pattern, so one pattern
    // serves every entry just as a fresh one would.
    QString result = namePart;
    if (regExpMode_)
        return withinBudget_ ? result.replace(pattern_, replacement_) : result;
    return result.replace(find_, replacement_, Qt::CaseSensitive);
}

QString NameWithNewSuffix(const FileNameParts &parts, const QString &newSuffix, TrailingDot dot)
{
    if (dot == TrailingDot::DropWhenNoExtension && newSuffix.isEmpty())
        return parts.base;
    return parts.base + QLatin1Char('.') + newSuffix;
}

QString NameWithNewBase(const FileNameParts &parts, const QString &newBase, TrailingDot dot)
{
    const bool hadDot = parts.name.size() > parts.base.size();
    if (dot == TrailingDot::DropWhenNoExtension && parts.suffix.isEmpty() && !hadDot)
        return newBase;
    return newBase + QLatin1Char('.') + parts.suffix;
}

bool IsLegalFileName(const QString &text)
{
    const QRegExp forbidden(QStringLiteral("[?*:\"<>\\\\/\\|]"), Qt::CaseSensitive, QRegExp::RegExp);
    return text.indexOf(forbidden, 0) == -1;
}

bool IsAcceptableNewName(const QString &newPart, const QString &newName)
{
    const auto holdsSeparatorOrNul = [](const QString &text) {
        return text.contains(QLatin1Char('/')) || text.contains(QLatin1Char('\\'))
            || text.contains(QChar(0));
    };
    if (holdsSeparatorOrNul(newPart))
        return false;
    if (newName.contains(QLatin1Char('/')) || newName.contains(QChar(0)))
        return false;
    return !newName.isEmpty() && newName != QLatin1String(".") && newName != QLatin1String("..");
}

QString FileTargetPrefix(const QString &absoluteFilePath)
{
    const QString native = QDir::toNativeSeparators(absoluteFilePath);
    return native.mid(0, native.lastIndexOf(QDir::separator()) + 1);
}

QString FolderTargetPrefix(const QString &absoluteParentPath)
{
    return QDir::toNativeSeparators(absoluteParentPath) + QLatin1Char('/');
}
