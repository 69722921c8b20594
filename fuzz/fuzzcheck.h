#pragma once

#include "fuzz/check.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QString>

namespace fuzzcheck {

// A text from the input, as UTF-16: raw code units, so lone surrogates, NUL
// and every control character can occur.
inline QString ConsumeText(FuzzedDataProvider &input, std::size_t maxUnits)
{
    const std::size_t units = input.ConsumeIntegralInRange<std::size_t>(0, maxUnits);
    QString text;
    for (std::size_t i = 0; i < units && input.remaining_bytes() > 0; ++i) {
        // Mostly ASCII, where the interesting characters are.
        const bool wide = input.ConsumeIntegralInRange<int>(0, 7) == 0;
        text += QChar(wide ? input.ConsumeIntegral<ushort>() : input.ConsumeIntegralInRange<ushort>(0, 0x7f));
    }
    return text;
}

// A name as the file system can hold it: no "/" and no NUL, not "." or "..",
// at most 255 bytes in the file-name encoding; empty when the text is none.
inline QString AsEntryName(QString text)
{
    text.remove(QLatin1Char('/'));
    text.remove(QChar(0));
    if (text == QLatin1String(".") || text == QLatin1String("..") || text.toUtf8().size() > 255)
        return QString();
    return text;
}

} // namespace fuzzcheck
