#pragma once

#include "platform/pathchecks.h"

#include <QString>

// False when the text holds one of ? * : " < > \ / | (a text to be put into
// file names). Nothing else is looked at.
bool IsLegalFileName(const QString &text);
