#pragma once

// Small reference forms of the engine's rules, for tests and fuzzers: the
// same answers by the plainest means, to hold the fast forms against.

#include "engine/namerules.h"

#include <QFileInfo>
#include <QList>
#include <QString>

#include <algorithm>
#include <utility>
#include <vector>

// One name part through the replace rule, the pattern built for it alone.
inline QString ReplaceInName(const QString &namePart, const QString &find,
                             const QString &replacement, bool regExpMode)
{
    return ReplaceRule(find, replacement, regExpMode).Apply(namePart);
}

// Sibling order: by name ignoring case (lower-cased, then compared by UTF-16
// code units), ties broken case-sensitively.
inline bool SiblingNameLess(const QString &a, const QString &b)
{
    const int folded = a.toLower().compare(b.toLower());
    return folded != 0 ? folded < 0 : a.compare(b) < 0;
}

// Stable sort of one folder's entries by SiblingNameLess on their names.
inline void SortSiblings(QList<QFileInfo> &entries)
{
    std::vector<std::pair<QFileInfo, int>> keyed;
    for (int i = 0; i < entries.size(); ++i)
        keyed.emplace_back(entries.at(i), i);
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto &x, const auto &y) {
        return SiblingNameLess(x.first.fileName(), y.first.fileName());
    });
    entries.clear();
    for (const auto &entry : keyed)
        entries.append(entry.first);
}
