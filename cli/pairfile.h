#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QTextCodec;

// The most bytes a pair file may hold. Every line is one more pass over the
// whole tree, so a real list is far smaller; the bound keeps a wrong file (a
// disk image, a log) from being read into memory whole.
constexpr qint64 kPairFileByteLimit = 16 * 1024 * 1024;

// The text of a pair file: UTF-8 when the bytes are valid UTF-8 (a leading
// byte-order mark dropped), otherwise the 8-bit encoding `local` (the local
// code page), so a file saved by an older Windows editor still reads right.
// False, with `why`, when the bytes are valid in neither (they would put
// U+FFFD or guessed characters into names) or hold a zero byte (no name can,
// and a UTF-16 file of plain letters is otherwise valid UTF-8).
bool DecodePairFile(const QByteArray &bytes, QTextCodec *local, QString *text, QString *why);

// The lines of a pair file's text, split as the window splits its edits
// (SplitLines), after two adjustments for how files are written: CR LF is
// one line break, and a single final line feed ends the last line instead of
// adding an empty one. An empty file is one empty line, like an empty edit.
QStringList PairFileLines(QString text);

struct PairFile
{
    bool ok = false;
    QStringList lines;
    QString error; // when not ok: "cannot read PATH: why", for standard error
};

// Reads the pair file at `path` whole and splits it. Refused: a path that
// names no regular file (a folder, a device such as /dev/zero, a FIFO, which
// would block or never end), a file over kPairFileByteLimit, one that can't
// be read to its end, and one that does not decode cleanly (DecodePairFile
// with the local code page).
PairFile ReadPairFile(const QString &path);
