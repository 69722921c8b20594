#pragma once

#include <QByteArray>

// A path as a message line shows it on a terminal: its raw bytes, each
// control byte written as \xNN so that no name can move the cursor or end
// the line.
QByteArray DisplayPath(const QByteArray &path);
