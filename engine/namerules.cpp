#include "engine/namerules.h"

#include <QDir>
#include <QFileInfo>
#include <QRegExp>

TrailingDot PlatformTrailingDot()
{
#ifdef Q_OS_WIN
    return TrailingDot::Keep;
#else
    return TrailingDot::DropWhenNoExtension;
#endif
}

QString ReplaceInName(const QString &namePart, const QString &find, const QString &replacement,
                      bool regExpMode)
{
    QString result = namePart;
    if (regExpMode)
        return result.replace(QRegExp(find, Qt::CaseSensitive, QRegExp::RegExp), replacement);
    return result.replace(find, replacement, Qt::CaseSensitive);
}

QString InsertIntoName(const QString &namePart, const QString &insertText, bool before)
{
    return before ? insertText + namePart : namePart + insertText;
}

FileNameParts SplitFileName(const QString &fileName)
{
    const QFileInfo info(fileName);
    return {info.fileName(), info.completeBaseName(), info.suffix()};
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
