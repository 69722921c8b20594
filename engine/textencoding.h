#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>

#include <string>

class QTextCodec;

// Text and paths in and out of the engine, in one place. Three forms meet:
//
// - Native path bytes: what the engine hands the system and reads from its
//   listings (platform/dirscan.h). On POSIX the file system's own bytes,
//   turned into text in the locale's encoding as the toolkit turns them
//   (UTF-8 where names are UTF-8); on Windows UTF-8, which the platform
//   layer turns into the system's wide names. A listed name whose text does
//   not give back its bytes is inexact: shown, never renamed.
// - Local 8-bit (QString::toLocal8Bit): what calls taking the code page get.
//   The system may put a look-alike where the code page lacks a character,
//   and a path so converted can name another, existing entry: only an exact
//   conversion may name anything (ExactLocal8Bit); ShownLocal8Bit is for
//   showing only.
// - The rename report: each line in the locale's encoding, "?" for what it
//   can't hold; where the locale is UTF-8, written directly by WriteUtf8.
//
// The decoding and the report's encoding run once per entry on trees of
// millions: their fast paths are inline here.

// The native form of a path or a name (QFile::encodeName on POSIX, UTF-8 on
// Windows), and back for a whole path.
std::string EncodeNativePath(const QString &path);
QString DecodeNativePath(const std::string &path);

// The local 8-bit form of `text` (QString::toLocal8Bit) in `local`; false
// when it does not read back as the same text.
bool ExactLocal8Bit(const QString &text, QByteArray &local);

// `text` in the local 8-bit form for showing only: each character the code
// page can't hold exactly is "?", which no name can hold, so the text never
// names another entry.
QByteArray ShownLocal8Bit(const QString &text);

// Whether the locale's encoding is UTF-8.
bool LocaleIsUtf8();

inline bool IsAscii(const char *bytes, int size)
{
    for (int i = 0; i < size; ++i)
        if (static_cast<unsigned char>(bytes[i]) >= 0x80)
            return false;
    return true;
}

// Strict UTF-8, as the toolkit checks names before it lists them: no
// overlong forms, no surrogates, nothing above U+10FFFF. A leading byte
// order mark is part of the name (it stands inside a path).
inline bool DecodeUtf8(const char *text, int size, QString &out)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(text);
    out.resize(size);
    ushort *begin = reinterpret_cast<ushort *>(out.data());
    ushort *unit = begin;
    int i = 0;
    while (i < size) {
        const unsigned lead = bytes[i];
        if (lead < 0x80) {
            *unit++ = static_cast<ushort>(lead);
            ++i;
            continue;
        }
        int need;
        unsigned point, low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 1;
            point = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need = 2;
            point = lead & 0x0F;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need = 3;
            point = lead & 0x07;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (size - i - 1 < need)
            return false;
        for (int k = 1; k <= need; ++k) {
            const unsigned next = bytes[i + k];
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF))
                return false;
            point = (point << 6) | (next & 0x3F);
        }
        i += need + 1;
        if (point >= 0x10000) {
            *unit++ = QChar::highSurrogate(point);
            *unit++ = QChar::lowSurrogate(point);
        } else {
            *unit++ = static_cast<ushort>(point);
        }
    }
    out.resize(static_cast<int>(unit - begin));
    return true;
}

// Names as the toolkit reads them in a folder listing.
class NameDecoder
{
public:
    // The one for this process: the locale's encoding is settled before any
    // job runs.
    static const NameDecoder &Local()
    {
        static const NameDecoder decoder;
        return decoder;
    }

    bool AsciiReadsAsLatin1() const { return mode_ != Mode::Other; }

    // False when the toolkit's listing leaves the name out; `exact` is false
    // when encoding `out` would not give back the same bytes.
    bool Decode(const char *bytes, int size, QString &out, bool &exact) const
    {
        exact = true;
        if (AsciiReadsAsLatin1() && IsAscii(bytes, size)) {
            out = QString::fromLatin1(bytes, size);
            return true;
        }
        switch (mode_) {
        case Mode::Utf8:
            return DecodeUtf8(bytes, size, out);
        case Mode::Ascii:
            return false;
        case Mode::Latin1:
            out = QString::fromLatin1(bytes, size);
            return true;
        case Mode::Other:
            break;
        }
        return DecodeByCodec(bytes, size, out, exact);
    }

private:
    NameDecoder();
    bool DecodeByCodec(const char *bytes, int size, QString &out, bool &exact) const;

    enum class Mode { Utf8, Ascii, Latin1, Other };
    Mode mode_ = Mode::Utf8;
    QTextCodec *codec_ = nullptr;
};

// UTF-8 of a line into `out` (room for three bytes per code unit); null
// when the line holds a lone surrogate, which is left to the toolkit's
// encoder.
inline char *WriteUtf8(const QString &line, char *out)
{
    const ushort *unit = line.utf16();
    const int length = line.size();
    for (int i = 0; i < length; ++i) {
        uint c = unit[i];
        if (c < 0x80) {
            *out++ = char(c);
            continue;
        }
        if (c < 0x800) {
            *out++ = char(0xC0 | (c >> 6));
        } else if (QChar::isSurrogate(c)) {
            if (!QChar::isHighSurrogate(c) || i + 1 == length || !QChar::isLowSurrogate(unit[i + 1]))
                return nullptr;
            c = QChar::surrogateToUcs4(ushort(c), unit[++i]);
            *out++ = char(0xF0 | (c >> 18));
            *out++ = char(0x80 | ((c >> 12) & 0x3F));
            *out++ = char(0x80 | ((c >> 6) & 0x3F));
        } else {
            *out++ = char(0xE0 | (c >> 12));
            *out++ = char(0x80 | ((c >> 6) & 0x3F));
        }
        *out++ = char(0x80 | (c & 0x3F));
    }
    return out;
}
