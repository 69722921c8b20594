#include "cli/pairfile.h"

#include "engine/jobparameters.h"

#include <QTextCodec>

QString DecodePairFile(const QByteArray &bytes)
{
    QByteArray data = bytes;
    const QByteArray byteOrderMark("\xEF\xBB\xBF");
    if (data.startsWith(byteOrderMark))
        data.remove(0, byteOrderMark.size());
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    const QString text = utf8->toUnicode(data.constData(), data.size(), &state);
    if (state.invalidChars == 0 && state.remainingChars == 0)
        return text;
    return QString::fromLocal8Bit(bytes);
}

QStringList PairFileLines(const QByteArray &bytes)
{
    QString text = DecodePairFile(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return SplitLines(text);
}
