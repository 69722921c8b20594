#include "cli/pairfile.h"

#include "engine/jobparameters.h"
#include "engine/passfilesystem.h"
#include "platform/regularfile.h"
#include "platform/system.h"

#include <QTextCodec>

#include <cerrno>
#include <cstdio>

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
    const auto tooLarge = [&]() {
        return refuse(QStringLiteral("it is larger than the %1 bytes a pair file may hold")
                          .arg(kPairFileByteLimit));
    };
    // Opened first and then looked at, never waiting: a path checked and then
    // opened may have become a FIFO in between, and its open would block.
    RegularFileStatus status;
    std::FILE *file = OpenRegularNativeFile(EncodeNativePath(path), status);
    if (!file) {
        if (status.missing)
            return refuse(QStringLiteral("no such file"));
        if (status.notRegular)
            return refuse(QStringLiteral("it is not a regular file"));
        return refuse(QString::fromLocal8Bit(SystemErrorText(status.systemCode).c_str()));
    }
    if (status.size > static_cast<std::uint64_t>(kPairFileByteLimit)) {
        std::fclose(file);
        return tooLarge();
    }
    // Read to the end, whatever size the file claims (files under /proc say
    // 0), but never past the limit.
    QByteArray bytes;
    char chunk[64 * 1024];
    bool readError = false;
    while (bytes.size() <= kPairFileByteLimit) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
        bytes.append(chunk, static_cast<int>(got));
        if (got < sizeof chunk) {
            readError = std::ferror(file) != 0;
            break; // the end, or an error
        }
    }
    const int readCode = errno;
    std::fclose(file);
    if (readError)
        return refuse(QString::fromLocal8Bit(SystemErrorText(readCode).c_str()));
    if (bytes.size() > kPairFileByteLimit)
        return tooLarge();
    QString text, why;
    if (!DecodePairFile(bytes, QTextCodec::codecForLocale(), &text, &why))
        return refuse(why);
    result.ok = true;
    result.lines = PairFileLines(text);
    return result;
}
