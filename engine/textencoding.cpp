#include "engine/textencoding.h"

#include "platform/nativepath.h"

#include <QFile>
#include <QTextCodec>

namespace {

bool Utf8Names()
{
    static const bool utf8 = NativeNamesAreUtf8();
    return utf8;
}

// Whether every ASCII character is one byte of the same value in the native
// form, as in UTF-8 and in every locale encoding in practical use.
bool AsciiIsItself()
{
    static const bool same = [] {
        QByteArray ascii;
        for (char c = 1; c > 0; ++c)
            ascii.append(c);
        return Utf8Names() || QFile::encodeName(QString::fromLatin1(ascii)) == ascii;
    }();
    return same;
}

} // namespace

std::string EncodeNativePath(const QString &path)
{
    if (AsciiIsItself()) {
        const ushort *unit = path.utf16();
        const int size = path.size();
        ushort any = 0;
        for (int i = 0; i < size; ++i)
            any |= unit[i];
        if (any < 0x80) {
            std::string bytes(static_cast<std::size_t>(size), '\0');
            for (int i = 0; i < size; ++i)
                bytes[static_cast<std::size_t>(i)] = static_cast<char>(unit[i]);
            return bytes;
        }
    }
    const QByteArray bytes = Utf8Names() ? path.toUtf8() : QFile::encodeName(path);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString DecodeNativePath(const std::string &path)
{
    const QByteArray bytes = QByteArray::fromRawData(path.data(), static_cast<int>(path.size()));
    return Utf8Names() ? QString::fromUtf8(bytes) : QFile::decodeName(bytes);
}

bool ExactLocal8Bit(const QString &text, QByteArray &local)
{
    local = text.toLocal8Bit();
    return QString::fromLocal8Bit(local) == text;
}

QByteArray ShownLocal8Bit(const QString &text)
{
    QByteArray local;
    if (ExactLocal8Bit(text, local))
        return local;
    local.clear();
    for (int i = 0; i < text.size(); ++i) {
        // A character beyond the first plane is two units, converted together.
        const int units = text.at(i).isHighSurrogate() && i + 1 < text.size()
                && text.at(i + 1).isLowSurrogate()
            ? 2
            : 1;
        QByteArray one;
        local += ExactLocal8Bit(text.mid(i, units), one) ? one : QByteArray("?");
        i += units - 1;
    }
    return local;
}

bool LocaleIsUtf8()
{
    const QTextCodec *codec = QTextCodec::codecForLocale();
    return codec && codec->mibEnum() == 106;
}

NameDecoder::NameDecoder()
{
    if (NativeNamesAreUtf8())
        return;
    codec_ = QTextCodec::codecForLocale();
    const int mib = codec_ ? codec_->mibEnum() : 4;
    mode_ = mib == 106 ? Mode::Utf8 : mib == 3 ? Mode::Ascii : mib == 4 ? Mode::Latin1 : Mode::Other;
}

bool NameDecoder::DecodeByCodec(const char *bytes, int size, QString &out, bool &exact) const
{
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    out = codec_->toUnicode(bytes, size, &state);
    if (state.invalidChars != 0 || state.remainingChars != 0)
        return false;
    exact = codec_->fromUnicode(out) == QByteArray::fromRawData(bytes, size);
    return true;
}
