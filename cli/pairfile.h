#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The text of a pair file: UTF-8 when the bytes are valid UTF-8 (a leading
// byte-order mark dropped), otherwise the local 8-bit encoding, so a file
// saved by an older Windows editor in the code page still reads right.
QString DecodePairFile(const QByteArray &bytes);

// The lines of a pair file, split as the window splits its edits (SplitLines),
// after two adjustments for how files are written: CR LF is one line break,
// and a single final line feed ends the last line instead of adding an empty
// one. An empty file is one empty line, like an empty edit.
QStringList PairFileLines(const QByteArray &bytes);
