#include "cli/displaypath.h"

QByteArray DisplayPath(const QByteArray &path)
{
    QByteArray shown;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            shown += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0').toUpper();
        else
            shown += c;
    }
    return shown;
}
