#pragma once

#include "cli/commandline.h"

#include <QString>
#include <QStringList>

// Why a regular-expression job can't run with these find texts: the first
// one over PatternBudget (said with the budget's limit) or that QRegExp can't
// compile (with QRegExp's own error text), named as the user gave it: FIND,
// "pair N" or "line N of FILE". Empty when every text can be used, and for a
// job that is not in regular-expression mode. The window has no such check:
// there a pattern that can't be used matches nothing.
QString FindPatternRefusal(const CliRequest &request, const QStringList &findTexts);
