#include "engine/checks.h"

#include <QRegExp>

bool IsLegalFileName(const QString &text)
{
    const QRegExp forbidden(QStringLiteral("[?*:\"<>\\\\/\\|]"), Qt::CaseSensitive, QRegExp::RegExp);
    return text.indexOf(forbidden, 0) == -1;
}
