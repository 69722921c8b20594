#include "cli/journalformat.h"

const char JournalHeader[] = "quillbarrow-cli journal 2";
const char JournalHeaderV1[] = "quillbarrow-cli journal 1";

namespace {

bool Escaped(unsigned char byte)
{
    return byte <= 0x20 || byte >= 0x7F || byte == '%';
}

int HexValue(char digit)
{
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    if (digit >= 'A' && digit <= 'F')
        return digit - 'A' + 10;
    return -1;
}

} // namespace

QByteArray EscapeJournalField(const QByteArray &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    QByteArray result;
    result.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (Escaped(byte)) {
            result += '%';
            result += digits[byte >> 4];
            result += digits[byte & 0xF];
        } else {
            result += c;
        }
    }
    return result;
}

bool UnescapeJournalField(const QByteArray &field, QByteArray &bytes)
{
    bytes.clear();
    for (int i = 0; i < field.size(); ++i) {
        const auto byte = static_cast<unsigned char>(field.at(i));
        if (byte != '%') {
            if (Escaped(byte))
                return false;
            bytes += field.at(i);
            continue;
        }
        if (i + 2 >= field.size())
            return false;
        const int high = HexValue(field.at(i + 1));
        const int low = HexValue(field.at(i + 2));
        if (high < 0 || low < 0)
            return false;
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return !bytes.isEmpty() && !bytes.contains('\0');
}

QByteArray JournalIntentLine(std::uint64_t number, const EntryIdentity &identity,
                             const QByteArray &oldPath, const QByteArray &newPath)
{
    QByteArray fields;
    if (identity.ByPath() || !identity.Known()) {
        // A final path names whatever stands there, not the entry: undo
        // takes the entry at NEW as it is.
        fields = "- -";
    } else {
        fields = QByteArray::number(static_cast<qulonglong>(identity.volume)) + ' ';
        if (identity.indexHigh == 0)
            fields += QByteArray::number(static_cast<qulonglong>(identity.index));
        else
            fields += "0x" + QByteArray::number(static_cast<qulonglong>(identity.indexHigh), 16)
                                 .rightJustified(16, '0')
                                 .toUpper()
                + QByteArray::number(static_cast<qulonglong>(identity.index), 16)
                      .rightJustified(16, '0')
                      .toUpper();
    }
    return "intent " + QByteArray::number(static_cast<qulonglong>(number)) + ' ' + fields + ' '
        + EscapeJournalField(oldPath) + ' ' + EscapeJournalField(newPath) + '\n';
}

QByteArray JournalResultLine(std::uint64_t number, bool done)
{
    return (done ? "done " : "failed ") + QByteArray::number(static_cast<qulonglong>(number))
        + '\n';
}

bool ParseJournalNumber(const QByteArray &field, std::uint64_t &value)
{
    value = 0;
    if (field.isEmpty() || field.size() > 20)
        return false;
    for (const char c : field) {
        if (c < '0' || c > '9')
            return false;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return true;
}

bool ParseJournalIdentity(const QByteArray &volume, const QByteArray &index,
                          EntryIdentity &identity)
{
    identity = EntryIdentity();
    if (volume == "-" && index == "-")
        return true; // the entry had no number: none to check it by
    if (!ParseJournalNumber(volume, identity.volume))
        return false;
    if (!index.startsWith("0x"))
        return ParseJournalNumber(index, identity.index) && identity.Known();
    if (index.size() != 34)
        return false;
    for (int i = 2; i < 34; ++i) {
        const int digit = HexValue(index.at(i));
        if (digit < 0)
            return false;
        std::uint64_t &half = i < 18 ? identity.indexHigh : identity.index;
        half = half << 4 | static_cast<std::uint64_t>(digit);
    }
    return identity.Known();
}
