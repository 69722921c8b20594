#include "cli/findpatterns.h"

#include "engine/patternbudget.h"

#include <QRegExp>

namespace {

// A pattern may be long (an over-budget one usually is); the message shows
// enough to recognise it.
QString Shown(const QString &pattern)
{
    const int shown = 60;
    return pattern.size() <= shown ? pattern : pattern.left(shown) + QStringLiteral("...");
}

QString Where(const CliRequest &request, int index)
{
    if (request.command != CliCommand::Pairs)
        return QString();
    if (request.pairsFromFiles)
        return QStringLiteral("line %1 of %2: ").arg(index + 1).arg(request.findFile);
    return QStringLiteral("pair %1: ").arg(index + 1);
}

} // namespace

QString FindPatternRefusal(const CliRequest &request, const QStringList &findTexts)
{
    if (!request.regExpMode)
        return QString();
    for (int i = 0; i < findTexts.size(); ++i) {
        const QString &pattern = findTexts.at(i);
        QString why;
        // The budget first: compiling an over-budget pattern is the very cost
        // it guards against.
        if (!PatternWithinBudget(pattern, &why))
            return QStringLiteral("%1the regular expression %2 is over the budget for regular "
                                  "expressions: %3")
                .arg(Where(request, i), Shown(pattern), why);
        const QRegExp compiled(pattern, Qt::CaseSensitive, QRegExp::RegExp);
        if (!compiled.isValid())
            return QStringLiteral("%1the regular expression %2 does not compile: %3")
                .arg(Where(request, i), Shown(pattern), compiled.errorString());
    }
    return QString();
}
