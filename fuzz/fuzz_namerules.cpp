// Name rules and target formation: arbitrary names, find texts, patterns,
// replacement and insert texts, options. No crash, and a new name the engine
// accepts always names an entry in the old entry's own folder.

#include "fuzz/fuzzcheck.h"

#include "engine/namerules.h"
#include "tests/support/referencemodels.h"

#include <QDir>
#include <QFileInfo>

using fuzzcheck::ConsumeText;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const bool folder = input.ConsumeBool();
    const bool insert = input.ConsumeBool();
    const bool regExp = input.ConsumeBool();
    const bool onlyExtension = !folder && input.ConsumeBool();
    const bool before = input.ConsumeBool();
    const TrailingDot dot = input.ConsumeBool() ? TrailingDot::LeftToSystem : TrailingDot::DropWhenNoExtension;
    const QString segment = fuzzcheck::AsEntryName(ConsumeText(input, 8));
    const QString folderPath = QStringLiteral("/home/u/") + (segment.isEmpty() ? QStringLiteral("f") : segment);
    const QString find = ConsumeText(input, 12);
    const QString text = ConsumeText(input, 24);
    const QString name = fuzzcheck::AsEntryName(ConsumeText(input, 40));
    if (name.isEmpty())
        return 0;

    const FileNameParts parts = SplitFileName(name);
    CHECK(parts.name == name);
    // The split puts the name back together.
    const bool hadDot = parts.name.size() > parts.base.size();
    CHECK(hadDot ? parts.base + QLatin1Char('.') + parts.suffix == name
                 : parts.base == name && parts.suffix.isEmpty());
    if (dot == TrailingDot::DropWhenNoExtension || hadDot)
        CHECK(NameWithNewBase(parts, parts.base, dot) == name);

    // As the passes form a new name and its target.
    QString newPart;
    QString newName;
    if (folder) {
        newPart = insert ? InsertIntoName(name, text, before) : ReplaceInName(name, find, text, regExp);
        newName = newPart;
    } else if (onlyExtension) {
        newPart = insert ? InsertIntoName(parts.suffix, text, before)
                         : ReplaceInName(parts.suffix, find, text, regExp);
        newName = NameWithNewSuffix(parts, newPart, dot);
    } else if (insert) {
        newPart = InsertIntoName(parts.base, text, before);
        newName = NameWithNewBase(parts, newPart, dot);
    } else {
        newPart = ReplaceInName(name, find, text, regExp);
        newName = newPart;
    }

    const QString target = folder ? FolderTargetPrefix(folderPath) + newName
                                  : FileTargetPrefix(folderPath + QLatin1Char('/') + name) + newName;
    if (!IsAcceptableNewName(newPart, newName))
        return 0;
    CHECK(!newName.isEmpty() && newName != QLatin1String(".") && newName != QLatin1String(".."));
    CHECK(!newName.contains(QLatin1Char('/')) && !newName.contains(QChar(0)));
    CHECK(!newPart.contains(QLatin1Char('\\')));
    CHECK(target == folderPath + QLatin1Char('/') + newName);
    const QFileInfo info(target);
    CHECK(info.path() == folderPath);
    CHECK(info.fileName() == newName);
    CHECK(QFileInfo(QDir::cleanPath(target)).path() == folderPath);
    return 0;
}
