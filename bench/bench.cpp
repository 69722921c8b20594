// Speed and memory of the replace pass on big trees.
//
//   qb_bench [--sizes 10k,100k,300k,1m] [--repeat N] [--dir FOLDER]
//
// For every size it builds the same tree afresh for each run, and runs, each
// in a child process of its own: the raw baseline, the replace pass headless,
// and the replace pass through the real window (offscreen). It prints time,
// entries per second, the ratio to the baseline, peak memory per entry above
// a run on an empty tree, and, for the window, the longest stall of the main
// thread's event loop; it checks that every run left the same tree.

#include "app/startup.h"
#include "bench/benchtree.h"
#include "bench/rawbaseline.h"
#include "engine/jobparameters.h"
#include "engine/renamepass.h"
#include "ui/mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

// Q_INIT_RESOURCE must stand outside any namespace.
static void InitResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace {

const char *const kModes[] = {"baseline", "headless", "window"};

std::string ReportName()
{
    return RenameReportFileName().toLocal8Bit().toStdString();
}

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// --- Children: one run each, results on stdout as key=value ----------------

class CountingSink final : public PassSink
{
public:
    void RenameStarting(const RenameAttempt &) override { ++progress; }
    void PassEnded(const QString &text) override { summary = text; }
    // As the window's worker: the report only, no log kept besides.
    bool KeepsRenameLog() const override { return false; }
    long progress = 0;
    QString summary;
};

int RunHeadless(const std::string &root, int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    JobParameters params;
    params.folderPath = QString::fromLocal8Bit(root.c_str()) + QLatin1Char('/');
    params.findText = QString::fromLatin1(kBenchFind);
    params.replacementText = QString::fromLatin1(kBenchReplacement);
    CountingSink sink;
    const double start = Now();
    const PassOutcome out = RunPass(params, sink);
    const double seconds = Now() - start;
    std::printf("seconds=%.6f\nprogress=%ld\nchanged=%d\nscanned=%d\nsummary=%s\n", seconds,
                sink.progress, out.filesChanged + out.foldersChanged,
                out.filesScanned + out.foldersScanned, qPrintable(out.summary));
    return 0;
}

int RunBaseline(const std::string &root)
{
    const double start = Now();
    const BaselineCounts counts =
        RunRawBaseline(root + "/", kBenchFind, kBenchReplacement, ReportName());
    const double seconds = Now() - start;
    std::printf("seconds=%.6f\nchanged=%" PRIu64 "\nscanned=%" PRIu64 "\n", seconds,
                counts.filesChanged + counts.foldersChanged,
                counts.filesScanned + counts.foldersScanned);
    return 0;
}

int RunWindow(const std::string &root, const std::string &home, int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InitResources();
    const std::string program = home + "/Quillbarrow";
    std::FILE *settings = std::fopen((home + "/Quillbarrow.qzt").c_str(), "wb");
    if (settings) {
        std::fputs("sourcePath=\r\n", settings);
        std::fclose(settings);
    }
    std::vector<char> programCopy(program.begin(), program.end());
    programCopy.push_back('\0');
    char *fakeArgv[] = {programCopy.data(), nullptr};
    InitStartupFields(1, fakeArgv);

    std::atomic<double> finished{0};
    MainWindow window;
    window.setReportViewer([&finished](const QString &) {
        finished = Now();
        QMetaObject::invokeMethod(qApp, "quit", Qt::QueuedConnection);
    });
    auto edit = [&](const char *name) { return window.findChild<QLineEdit *>(QLatin1String(name)); };
    edit("lEdt_SourcePath")->setText(QString::fromLocal8Bit(root.c_str()) + QLatin1Char('/'));
    edit("lEdt_FindText")->setText(QString::fromLatin1(kBenchFind));
    edit("lEdt_ReplaceExcelText")->setText(QString::fromLatin1(kBenchReplacement));
    auto *start = window.findChild<QAbstractButton *>(QStringLiteral("pBtn_ReplaceExcelText"));
    auto *label = window.findChild<QLabel *>(QStringLiteral("lb_ShowDisposingFile"));
    // The longest gap between two ticks of a 5 ms timer on the main thread,
    // from the click to the end of the job.
    double begin = 0;
    double lastTick = 0;
    double longestGap = 0;
    double longestGapEnd = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const double now = Now();
        if (now - lastTick > longestGap) {
            longestGap = now - lastTick;
            longestGapEnd = now;
        }
        lastTick = now;
        // A tree where nothing changes gets no report: the job ends with
        // the buttons.
        if (start->isEnabled() && label->text().contains(QStringLiteral("修改文件名0个,修改文件夹名0个"))) {
            finished = now;
            app.quit();
        }
    });
    // The window is painted first (fonts found and loaded) as it would be
    // long before anyone clicks.
    QTimer::singleShot(500, [&] {
        begin = Now();
        lastTick = begin;
        ticker.start(5);
        start->click();
    });
    app.exec();
    ticker.stop();
    std::printf("seconds=%.6f\nstall_ms=%.1f\nstall_at_s=%.3f\nsummary=%s\n",
                finished.load() - begin, longestGap * 1000, longestGapEnd - begin,
                qPrintable(label->text()));
    return 0;
}

// --- The parent -------------------------------------------------------------

struct ChildResult
{
    bool ok = false;
    std::map<std::string, std::string> values;
    long maxRssKiB = 0;
};

ChildResult RunChild(const std::string &mode, const std::string &root, const std::string &home)
{
    ChildResult result;
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return result;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        // A fresh program image: the child's peak memory is its own.
        execl("/proc/self/exe", "qb_bench", "--child", mode.c_str(), root.c_str(), home.c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    std::string output;
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<std::size_t>(got));
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
        return result;
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.maxRssKiB = usage.ru_maxrss;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos)
            end = output.size();
        const std::string line = output.substr(start, end - start);
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos)
            result.values[line.substr(0, eq)] = line.substr(eq + 1);
        start = end + 1;
    }
    return result;
}

std::uint64_t ParseSize(std::string text)
{
    std::uint64_t factor = 1;
    if (!text.empty() && (text.back() == 'k' || text.back() == 'K'))
        factor = 1000;
    else if (!text.empty() && (text.back() == 'm' || text.back() == 'M'))
        factor = 1000000;
    if (factor != 1)
        text.pop_back();
    return std::strtoull(text.c_str(), nullptr, 10) * factor;
}

std::string SizeName(std::uint64_t size)
{
    if (size >= 1000000 && size % 1000000 == 0)
        return std::to_string(size / 1000000) + "M";
    if (size >= 1000 && size % 1000 == 0)
        return std::to_string(size / 1000) + "k";
    return std::to_string(size);
}

struct Measured
{
    std::vector<double> seconds;
    long maxRssKiB = 0;
    double stallMs = 0;
    TreeFingerprint print;
    std::string summary;
};

// A summary up to its elapsed seconds, which differ from run to run.
std::string WithoutSeconds(const std::string &summary)
{
    return summary.substr(0, summary.find("耗时"));
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double Best(const std::vector<double> &values)
{
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: qb_bench [--sizes 10k,100k,300k,1m] [--repeat N] [--dir FOLDER]\n"
                 "  --sizes   file counts to run (k = thousand, m = million)\n"
                 "  --repeat  runs of each kind per size; the best time counts (default 3,\n"
                 "            1 for a million files or more)\n"
                 "  --dir     where the trees are built (default: the system's temp folder)\n");
    return 2;
}

int RunParent(int argc, char **argv)
{
    // A long run shows each size as it ends, also into a file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::vector<std::uint64_t> sizes{10000, 100000, 300000, 1000000};
    int repeat = 0;
    std::string scratchBase = P_tmpdir;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--sizes" && i + 1 < argc) {
            sizes.clear();
            std::string list = argv[++i];
            std::size_t start = 0;
            while (start <= list.size()) {
                std::size_t end = list.find(',', start);
                if (end == std::string::npos)
                    end = list.size();
                if (end > start)
                    sizes.push_back(ParseSize(list.substr(start, end - start)));
                start = end + 1;
            }
        } else if (arg == "--repeat" && i + 1 < argc) {
            repeat = std::atoi(argv[++i]);
        } else if (arg == "--dir" && i + 1 < argc) {
            scratchBase = argv[++i];
        } else {
            return Usage();
        }
    }
    if (sizes.empty())
        return Usage();

    std::string scratch = scratchBase + "/qb-bench-XXXXXX";
    if (!mkdtemp(&scratch[0])) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string home = scratch + "/home";
    const std::string tree = scratch + "/tree";
    mkdir(home.c_str(), 0755);
    std::printf("trees in %s; find \"%s\", replace with \"%s\"\n\n", scratch.c_str(), kBenchFind,
                kBenchReplacement);

    // Peak memory of each kind of run on an empty tree.
    std::map<std::string, long> emptyRss;
    for (const char *mode : kModes) {
        TreeCounts counts;
        RemoveTree(tree);
        BuildBenchTree(tree, 0, counts);
        const ChildResult empty = RunChild(mode, tree, home);
        emptyRss[mode] = empty.maxRssKiB;
        RemoveTree(tree);
    }

    bool allSame = true;
    struct Row
    {
        std::uint64_t size;
        std::uint64_t entries;
        std::map<std::string, Measured> modes;
    };
    std::vector<Row> rows;
    std::printf("%-6s %-9s %9s %10s %12s %8s %10s %11s %9s\n", "size", "run", "entries", "best s",
                "entries/s", "/ base", "peak MiB", "B/entry+", "stall ms");
    for (const std::uint64_t size : sizes) {
        Row row{size, 0, {}};
        const int runs = repeat > 0 ? repeat : (size >= 1000000 ? 1 : 3);
        std::uint64_t freshPrint = 0;
        for (int r = 0; r < runs; ++r) {
            for (const char *mode : kModes) {
                TreeCounts counts;
                RemoveTree(tree);
                if (!BuildBenchTree(tree, size, counts)) {
                    std::fprintf(stderr, "could not build the tree in %s\n", tree.c_str());
                    RemoveTree(scratch);
                    return 1;
                }
                // Every run starts from the same tree.
                const std::uint64_t fresh = FingerprintTree(tree, ReportName()).tree;
                if (freshPrint == 0)
                    freshPrint = fresh;
                allSame = allSame && fresh == freshPrint;
                row.entries = counts.Entries();
                sync();
                const ChildResult result = RunChild(mode, tree, home);
                if (!result.ok) {
                    std::fprintf(stderr, "the %s run failed\n", mode);
                    allSame = false;
                }
                Measured &m = row.modes[mode];
                m.seconds.push_back(std::atof(result.values.count("seconds")
                                                  ? result.values.at("seconds").c_str()
                                                  : "0"));
                m.maxRssKiB = std::max(m.maxRssKiB, result.maxRssKiB);
                if (result.values.count("stall_ms"))
                    m.stallMs = std::max(m.stallMs, std::atof(result.values.at("stall_ms").c_str()));
                if (result.values.count("summary"))
                    m.summary = result.values.at("summary");
                m.print = FingerprintTree(tree, ReportName());
                RemoveTree(tree);
            }
        }
        const Measured &base = row.modes["baseline"];
        for (const char *mode : kModes) {
            const Measured &m = row.modes[mode];
            const double best = Best(m.seconds);
            const double perEntry =
                (double(m.maxRssKiB) - double(emptyRss[mode])) * 1024.0 / double(row.entries);
            char stall[32] = "";
            if (std::strcmp(mode, "window") == 0)
                std::snprintf(stall, sizeof stall, "%.1f", m.stallMs);
            std::printf("%-6s %-9s %9" PRIu64 " %10.3f %12.0f %8.2f %10.1f %11.1f %9s\n",
                        SizeName(size).c_str(), mode, row.entries, best, row.entries / best,
                        best / Best(base.seconds), m.maxRssKiB / 1024.0, perEntry, stall);
        }
        // The same tree after every run; the report lists the same renames
        // (the baseline in its own order), the window's byte for byte as
        // the headless pass's.
        const Measured &headless = row.modes["headless"];
        const Measured &window = row.modes["window"];
        const bool same = base.print.tree == headless.print.tree
            && window.print.tree == headless.print.tree
            && base.print.reportLines == headless.print.reportLines
            && window.print.reportBytes == headless.print.reportBytes
            && headless.print.reportLineCount > 0
            && WithoutSeconds(window.summary) == WithoutSeconds(headless.summary);
        std::printf("%-6s final trees %s (%" PRIu64 " entries, %" PRIu64 " renames); times: median headless %.3f s, window %.3f s, baseline %.3f s\n\n",
                    SizeName(size).c_str(), same ? "identical" : "DIFFER", headless.print.entries,
                    headless.print.reportLineCount, Median(headless.seconds),
                    Median(window.seconds), Median(base.seconds));
        allSame = allSame && same;
        rows.push_back(row);
    }
    RemoveTree(scratch);

    // The targets.
    std::printf("targets:\n");
    bool allMet = allSame;
    auto verdict = [&allMet](bool met) {
        allMet = allMet && met;
        return met ? "met" : "NOT MET";
    };
    const Row *at100k = nullptr;
    for (const Row &row : rows) {
        const double base = Best(row.modes.at("baseline").seconds);
        const double headless = Best(row.modes.at("headless").seconds);
        const double window = Best(row.modes.at("window").seconds);
        if (row.size == 100000 || row.size == 300000)
            std::printf("  %s: headless / baseline = %.2f (at most 1.30): %s\n",
                        SizeName(row.size).c_str(), headless / base, verdict(headless / base <= 1.3));
        for (const char *mode : {"headless", "window"}) {
            const double perEntry = (double(row.modes.at(mode).maxRssKiB) - double(emptyRss[mode]))
                * 1024.0 / double(row.entries);
            std::printf("  %s: %s peak memory above an empty run = %.0f bytes per entry (at most 250): %s\n",
                        SizeName(row.size).c_str(), mode, perEntry, verdict(perEntry <= 250));
        }
        if (row.size == 100000) {
            at100k = &row;
            std::printf("  100k: window / headless = %.2f (at most 1.15): %s\n", window / headless,
                        verdict(window / headless <= 1.15));
        }
        std::printf("  %s: longest event-loop stall in the window run = %.1f ms (at most 100): %s\n",
                    SizeName(row.size).c_str(), row.modes.at("window").stallMs,
                    verdict(row.modes.at("window").stallMs <= 100));
    }
    for (const Row &row : rows) {
        if (row.size == 1000000 && at100k) {
            const double big = Best(row.modes.at("headless").seconds) / double(row.entries);
            const double small = Best(at100k->modes.at("headless").seconds) / double(at100k->entries);
            std::printf("  1M: time per entry / that at 100k = %.2f (at most 1.20): %s\n", big / small,
                        verdict(big / small <= 1.2));
        }
    }
    std::printf("  every run left the same tree: %s\n", allSame ? "yes" : "NO");
    return allMet ? 0 : 3;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 5 && std::strcmp(argv[1], "--child") == 0) {
        // Qt's own notes (no tray host, offscreen) are not the benchmark's.
        if (!std::getenv("QB_BENCH_VERBOSE"))
            std::freopen("/dev/null", "w", stderr);
        const std::string mode = argv[2];
        const std::string root = argv[3];
        const std::string home = argv[4];
        if (mode == "baseline")
            return RunBaseline(root);
        if (mode == "headless")
            return RunHeadless(root, 1, argv);
        if (mode == "window")
            return RunWindow(root, home, 1, argv);
        if (mode == "build") {
            // For profiling one kind of run by hand: the tree alone.
            TreeCounts counts;
            return BuildBenchTree(root, ParseSize(home), counts) ? 0 : 1;
        }
        return 2;
    }
    return RunParent(argc, argv);
}
