#include "cli/pairfile.h"

#include "engine/jobparameters.h"

#include <QFile>
#include <QFileInfo>
#include <QTextCodec>

namespace {

bool DecodesCleanly(QTextCodec *codec, const QByteArray &bytes, QString *text)
{
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    *text = codec->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars != 0 || state.remainingChars != 0)
        return false;
    // Not every codec counts what it could not decode: some put U+FFFD in,
    // some drop a cut-off last character. Bytes valid in the encoding come
    // back as they were.
    return codec->fromUnicode(*text) == bytes;
}

} // namespace

bool DecodePairFile(const QByteArray &bytes, QTextCodec *local, QString *text, QString *why)
{
    if (bytes.contains('\0')) {
        *why = QStringLiteral("it holds a zero byte (is it UTF-16?); pair files are UTF-8 or "
                              "the local code page");
        return false;
    }
    QByteArray data = bytes;
    const QByteArray byteOrderMark("\xEF\xBB\xBF");
    if (data.startsWith(byteOrderMark))
        data.remove(0, byteOrderMark.size());
    if (DecodesCleanly(QTextCodec::codecForName("UTF-8"), data, text))
        return true;
    if (local && local->mibEnum() != 106 /* UTF-8 */ && DecodesCleanly(local, bytes, text))
        return true;
    *why = QStringLiteral("it is neither valid UTF-8 nor valid in the local code page (%1)")
               .arg(QString::fromLatin1(local ? local->name() : QByteArray("none")));
    return false;
}

QStringList PairFileLines(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return SplitLines(text);
}

PairFile ReadPairFile(const QString &path)
{
    PairFile result;
    const auto refuse = [&](const QString &why) {
        result.error = QStringLiteral("cannot read %1: %2").arg(path, why);
        return result;
    };
    const QFileInfo info(path);
    if (!info.exists())
        return refuse(QStringLiteral("no such file"));
    // Checked before opening: opening a FIFO waits for a writer.
    if (!info.isFile())
        return refuse(QStringLiteral("it is not a regular file"));
    if (info.size() > kPairFileByteLimit)
        return refuse(QStringLiteral("it is larger than the %1 bytes a pair file may hold")
                          .arg(kPairFileByteLimit));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(file.errorString());
    // Read to the end, whatever size the file claims (files under /proc say
    // 0), but never past the limit.
    QByteArray bytes;
    while (bytes.size() <= kPairFileByteLimit) {
        const QByteArray chunk = file.read(64 * 1024);
        if (chunk.isEmpty())
            break; // the end, or an error
        bytes += chunk;
    }
    if (file.error() != QFileDevice::NoError)
        return refuse(file.errorString());
    if (bytes.size() > kPairFileByteLimit)
        return refuse(QStringLiteral("it is larger than the %1 bytes a pair file may hold")
                          .arg(kPairFileByteLimit));
    QString text, why;
    if (!DecodePairFile(bytes, QTextCodec::codecForLocale(), &text, &why))
        return refuse(why);
    result.ok = true;
    result.lines = PairFileLines(text);
    return result;
}
