#pragma once

// What the hardening tests share: a job description that runs in-process or
// through the driver program, the names a job may give an entry, and the
// driver's printed outcome.

#include "tests/support/treesnapshot.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QMetaType>
#include <QRegExp>
#include <QString>
#include <QStringList>

#include <functional>

namespace hardening {

using namespace testtree;

struct Job
{
    enum Op { Replace, Insert, Multi };
    Op op = Replace;
    QString find, replacement;
    QStringList finds, replacements;
    QString insert;
    bool before = true;
    bool regExp = false;
    bool onlyFiles = false;
    bool onlyExtension = false;

    static Job Replacing(const QString &find, const QString &replacement, bool regExp = false)
    {
        Job job;
        job.find = find;
        job.replacement = replacement;
        job.regExp = regExp;
        return job;
    }
    static Job Inserting(const QString &text, bool before)
    {
        Job job;
        job.op = Insert;
        job.insert = text;
        job.before = before;
        return job;
    }
    static Job Pairs(const QStringList &finds, const QStringList &replacements, bool regExp = false)
    {
        Job job;
        job.op = Multi;
        job.finds = finds;
        job.replacements = replacements;
        job.regExp = regExp;
        return job;
    }
    Job &OnlyFiles() { onlyFiles = true; return *this; }
    Job &OnlyExtension() { onlyExtension = true; return *this; }

    // Arguments of the driver program after its own path.
    QList<QByteArray> DriverArguments(const QByteArray &folder, bool quiet = false) const
    {
        QList<QByteArray> args;
        if (regExp)
            args << "--regexp";
        if (onlyFiles)
            args << "--only-files";
        if (onlyExtension)
            args << "--only-extension";
        if (quiet)
            args << "--quiet";
        args << folder;
        switch (op) {
        case Replace:
            args << "replace" << find.toUtf8() << replacement.toUtf8();
            break;
        case Insert:
            args << "insert" << insert.toUtf8() << (before ? "before" : "after");
            break;
        case Multi:
            args << "multi";
            for (int i = 0; i < finds.size(); ++i)
                args << finds.at(i).toUtf8() << replacements.at(i).toUtf8();
            break;
        }
        return args;
    }
};

// The names, other than its own, that `job` may give an entry in its folder
// (every intermediate name for the multi-pair job), worked out here from the
// job's meaning as the user sees it, with Qt's own string operations.
// Links are never renamed.
inline QList<QByteArray> NamesAfter(const Job &job, const Node &node)
{
    if (node.kind != Kind::File && node.kind != Kind::Folder)
        return {};
    const bool folder = node.kind == Kind::Folder;
    if (folder && (job.onlyFiles || (job.onlyExtension && job.op != Job::Multi)))
        return {};
    const auto replaced = [&job](QString text, const QString &find, const QString &replacement) {
        if (job.regExp)
            return text.replace(QRegExp(find, Qt::CaseSensitive, QRegExp::RegExp), replacement);
        return text.replace(find, replacement, Qt::CaseSensitive);
    };
    const auto changed = [&](const QString &name, const std::function<QString(const QString &)> &rule,
                             bool wholeName) {
        if (wholeName)
            return rule(name);
        const int dot = name.lastIndexOf(QLatin1Char('.'));
        const QString base = dot < 0 ? name : name.left(dot);
        const QString suffix = dot < 0 ? QString() : name.mid(dot + 1);
        if (job.onlyExtension) {
            const QString newSuffix = rule(suffix);
            if (newSuffix == suffix)
                return name;
            // A name is never left ending in a dot here.
            return newSuffix.isEmpty() ? base : base + QLatin1Char('.') + newSuffix;
        }
        const QString newBase = rule(base);
        if (newBase == base)
            return name;
        return dot < 0 ? newBase : newBase + QLatin1Char('.') + suffix;
    };

    QString name = QFile::decodeName(node.name);
    QList<QByteArray> names;
    const auto note = [&](const QString &next) {
        if (next != name) {
            name = next;
            names << QFile::encodeName(name);
        }
    };
    switch (job.op) {
    case Job::Replace:
        note(changed(name, [&](const QString &part) { return replaced(part, job.find, job.replacement); },
                     folder || !job.onlyExtension));
        break;
    case Job::Insert:
        note(changed(name,
                     [&](const QString &part) {
                         return job.before ? job.insert + part : part + job.insert;
                     },
                     folder));
        break;
    case Job::Multi:
        for (int i = 0; i < job.finds.size(); ++i)
            note(changed(name,
                         [&](const QString &part) {
                             return replaced(part, job.finds.at(i), job.replacements.at(i));
                         },
                         folder || !job.onlyExtension));
        break;
    }
    return names;
}

// What a pass reported, in-process or as printed by the driver.
struct Outcome
{
    bool valid = false;
    int filesScanned = -1;
    int foldersScanned = -1;
    int filesChanged = -1;
    int foldersChanged = -1;
    bool reportWritten = false;
    QString summary;
    QStringList renameLog;
};

inline Outcome ParseDriverOutput(const QByteArray &output)
{
    Outcome outcome;
    int seen = 0;
    for (const QByteArray &line : output.split('\n')) {
        const int space = line.indexOf(' ');
        if (space < 0)
            continue;
        const QByteArray key = line.left(space);
        const QByteArray value = line.mid(space + 1);
        if (key == "filesScanned")
            outcome.filesScanned = value.toInt(), ++seen;
        else if (key == "foldersScanned")
            outcome.foldersScanned = value.toInt(), ++seen;
        else if (key == "filesChanged")
            outcome.filesChanged = value.toInt(), ++seen;
        else if (key == "foldersChanged")
            outcome.foldersChanged = value.toInt(), ++seen;
        else if (key == "reportWritten")
            outcome.reportWritten = value == "1", ++seen;
        else if (key == "summary")
            outcome.summary = QString::fromUtf8(QByteArray::fromHex(value)), ++seen;
        else if (key == "log")
            outcome.renameLog << QString::fromUtf8(QByteArray::fromHex(value));
    }
    outcome.valid = seen == 6;
    return outcome;
}

} // namespace hardening

Q_DECLARE_METATYPE(hardening::Job)
