// Runs one rename pass on a folder, as a launch of the window would (old
// reports deleted first), and prints its outcome. The hardening tests run it
// under another user and kill it mid-pass.
//
//   qb_pass_driver [--regexp] [--only-files] [--only-extension] [--quiet]
//                  FOLDER replace FIND REPLACEMENT
//                  FOLDER insert TEXT before|after
//                  FOLDER multi FIND REPLACEMENT [FIND REPLACEMENT ...]
//
// FOLDER is taken in the local encoding, the texts as UTF-8. Output, one item a
// line: filesScanned, foldersScanned, filesChanged, foldersChanged,
// reportWritten, then "summary HEX" and, without --quiet, "log HEX" for every
// rename, HEX being the UTF-8 bytes in hexadecimal.

#include "engine/jobparameters.h"
#include "engine/renamepass.h"

#include <QFile>

#include <cstdio>
#include <cstring>

namespace {

class QuietSink final : public PassSink
{
public:
    void RenameStarting(const RenameAttempt &) override {}
    void PassEnded(const QString &) override {}
};

int Usage()
{
    std::fprintf(stderr, "usage: qb_pass_driver [--regexp] [--only-files] [--only-extension] "
                         "[--quiet] FOLDER replace|insert|multi ...\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    JobParameters params;
    bool quiet = false;
    int at = 1;
    for (; at < argc && std::strncmp(argv[at], "--", 2) == 0; ++at) {
        if (std::strcmp(argv[at], "--regexp") == 0)
            params.regExpMode = true;
        else if (std::strcmp(argv[at], "--only-files") == 0)
            params.onlyFiles = true;
        else if (std::strcmp(argv[at], "--only-extension") == 0)
            params.onlyExtension = true;
        else if (std::strcmp(argv[at], "--quiet") == 0)
            quiet = true;
        else
            return Usage();
    }
    if (argc - at < 2)
        return Usage();
    params.folderPath = QFile::decodeName(argv[at]) + QLatin1Char('/');
    const QByteArray operation = argv[at + 1];
    QStringList texts;
    for (int i = at + 2; i < argc; ++i)
        texts << QString::fromUtf8(argv[i]);

    DeleteOldReportFiles(params);

    QuietSink sink;
    PassOutcome outcome;
    if (operation == "replace" && texts.size() == 2) {
        params.findText = texts.at(0);
        params.replacementText = texts.at(1);
        params.kind = JobKind::Replace;
        outcome = RunPass(params, sink);
    } else if (operation == "insert" && texts.size() == 2
               && (texts.at(1) == QLatin1String("before") || texts.at(1) == QLatin1String("after"))) {
        params.insertText = texts.at(0);
        params.insertBefore = texts.at(1) == QLatin1String("before");
        params.kind = JobKind::Insert;
        outcome = RunPass(params, sink);
    } else if (operation == "multi" && !texts.isEmpty() && texts.size() % 2 == 0) {
        for (int i = 0; i < texts.size(); i += 2) {
            params.findList << texts.at(i);
            params.replacementList << texts.at(i + 1);
        }
        params.kind = JobKind::Pairs;
        outcome = RunPass(params, sink);
    } else {
        return Usage();
    }

    std::printf("filesScanned %d\nfoldersScanned %d\nfilesChanged %d\nfoldersChanged %d\n"
                "reportWritten %d\nsummary %s\n",
                outcome.filesScanned, outcome.foldersScanned, outcome.filesChanged,
                outcome.foldersChanged, outcome.reportWritten ? 1 : 0,
                outcome.summary.toUtf8().toHex().constData());
    if (!quiet)
        for (const QString &line : outcome.renameLog)
            std::printf("log %s\n", line.toUtf8().toHex().constData());
    return std::fflush(stdout) == 0 ? 0 : 1;
}
