#include "cli/clijob.h"
#include "cli/commandline.h"
#include "cli/journal.h"
#include "cli/pairfile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Every field of a request on one line, so a row can state all of them.
QString Describe(const CliRequest &r)
{
    static const char *const names[] = {"help", "replace", "pairs", "insert", "undo"};
    QStringList parts{QLatin1String(names[int(r.command)])};
    const auto add = [&](const char *key, const QString &value) {
        if (!value.isEmpty())
            parts << QLatin1String(key) + QLatin1Char('=') + value;
    };
    add("folder", r.folder);
    add("find", r.findText);
    add("repl", r.replacementText);
    add("findfile", r.findFile);
    add("replfile", r.replacementFile);
    for (int i = 0; i < r.pairFinds.size(); ++i)
        parts << QStringLiteral("pair=%1>%2").arg(r.pairFinds.at(i), r.pairReplacements.at(i));
    add("insert", r.insertText);
    if (r.command == CliCommand::Insert)
        parts << QLatin1String(r.insertBefore ? "before" : "after");
    add("journal", r.journalPath);
    add("undo", r.undoJournal);
    const QList<QPair<bool, QString>> flags{{r.regExpMode, "regex"}, {r.onlyFiles, "files"},
                                            {r.onlyExtension, "ext"}, {r.noReport, "noreport"},
                                            {r.dryRun, "dry"}};
    for (const auto &flag : flags)
        if (flag.first)
            parts << flag.second;
    return parts.join(QLatin1Char(' '));
}

} // namespace

class TestCliParts : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected"); // a description, or "error: " and a part of it

        const auto row = [](const char *name, const QStringList &args, const char *expected) {
            QTest::newRow(name) << args << QString::fromUtf8(expected);
        };
        row("replace", {"replace", "F", "a", "b"}, "replace folder=F find=a repl=b");
        row("options anywhere", {"replace", "--regex", "F", "--files-only", "a", "b", "--no-report",
                                 "--extension-only", "--journal", "J"},
            "replace folder=F find=a repl=b journal=J regex files ext noreport");
        row("single dash is a text", {"replace", "F", "-", "_"}, "replace folder=F find=- repl=_");
        row("after -- every argument is a text", {"replace", "F", "--", "--regex", "--x"},
            "replace folder=F find=--regex repl=--x");
        row("empty texts", {"replace", "F", "", ""}, "replace folder=F");
        row("pairs from files", {"pairs", "F", "f.txt", "r.txt", "--regex"},
            "pairs folder=F findfile=f.txt replfile=r.txt regex");
        row("pairs given inline, in order", {"pairs", "F", "--pair", "a", "b", "--pair", "--x", ""},
            "pairs folder=F pair=a>b pair=--x>");
        row("insert before", {"insert", "F", "_1", "--before"}, "insert folder=F insert=_1 before");
        row("insert after", {"insert", "--after", "F", "_1", "--dry-run"},
            "insert folder=F insert=_1 after dry");
        row("undo", {"undo", "j.txt"}, "undo undo=j.txt");
        row("help", {"--help"}, "help");

        row("nothing", {}, "error: no subcommand");
        row("unknown subcommand", {"rename", "F"}, "error: unknown subcommand: rename");
        row("unknown option", {"replace", "F", "a", "b", "--force"}, "error: unknown option: --force");
        row("dry run with a journal", {"insert", "F", "x", "--after", "--dry-run", "--journal", "J"},
            "error: --dry-run writes no journal");
        row("replace short", {"replace", "F", "a"}, "error: replace expects FOLDER FIND REPLACEMENT");
        row("flag twice", {"replace", "F", "a", "b", "--regex", "--regex"}, "error: --regex given twice");
        row("journal without file", {"replace", "F", "a", "b", "--journal"},
            "error: --journal needs a file name");
        row("pair cut short", {"pairs", "F", "--pair", "a"}, "error: --pair needs FIND and REPLACEMENT");
        row("pair and files", {"pairs", "F", "f", "r", "--pair", "a", "b"}, "error: pairs expects FOLDER and --pair");
        row("pairs without any", {"pairs", "F"}, "error: pairs expects FOLDER FIND_FILE");
        row("pair in replace", {"replace", "F", "a", "b", "--pair", "a", "b"}, "error: --pair does not apply");
        row("regex in insert", {"insert", "F", "x", "--after", "--regex"}, "error: --regex does not apply");
        row("insert without side", {"insert", "F", "x"}, "error: exactly one of --before and --after");
        row("side in replace", {"replace", "F", "a", "b", "--after"}, "error: --after does not apply");
        row("undo takes no options", {"undo", "j", "--journal", "k"}, "error: --journal does not apply");
    }

    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        const ParsedCommandLine parsed = ParseCommandLine(arguments);
        if (expected.startsWith(QLatin1String("error: "))) {
            QVERIFY2(!parsed.ok, qPrintable(Describe(parsed.request)));
            QVERIFY2(parsed.error.contains(expected.mid(7)), qPrintable(parsed.error));
        } else {
            QVERIFY2(parsed.ok, qPrintable(parsed.error));
            QCOMPARE(Describe(parsed.request), expected);
        }
    }

    void pairFileLines_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("no final line feed") << QByteArray("a\nb") << QStringList{"a", "b"};
        QTest::newRow("final line feed ends the last line") << QByteArray("a\nb\n") << QStringList{"a", "b"};
        QTest::newRow("an empty last line needs a second one")
            << QByteArray("a\nb\n\n") << QStringList{"a", "b", ""};
        QTest::newRow("empty lines inside are pairs") << QByteArray("a\n\nb") << QStringList{"a", "", "b"};
        QTest::newRow("empty file is one empty line") << QByteArray() << QStringList{""};
        QTest::newRow("one line feed is one empty line") << QByteArray("\n") << QStringList{""};
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
        QTest::newRow("spaces kept, lone CR kept") << QByteArray(" a \rb\n") << QStringList{" a \rb"};
        QTest::newRow("UTF-8 with byte-order mark")
            << QByteArray("\xEF\xBB\xBF\xE7\x85\xA7\xE7\x89\x87\n") << QStringList{QStringLiteral("照片")};
    }

    void pairFileLines()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        QCOMPARE(PairFileLines(bytes), lines);
    }

    void journalFields_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("escaped");
        QTest::newRow("plain") << QByteArray("/tmp/a.txt") << QByteArray("/tmp/a.txt");
        QTest::newRow("space, tab, line feed, CR")
            << QByteArray("/a b\tc\nd\re") << QByteArray("/a%20b%09c%0Ad%0De");
        QTest::newRow("percent") << QByteArray("/100%.txt") << QByteArray("/100%25.txt");
        QTest::newRow("UTF-8 and stray bytes")
            << QByteArray("/\xE7\x85\xA7\xFF\x7F") << QByteArray("/%E7%85%A7%FF%7F");
        QTest::newRow("backslash and tilde stay") << QByteArray("C:\\x~") << QByteArray("C:\\x~");
    }

    void journalFields()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, escaped);
        QCOMPARE(EscapeJournalField(bytes), escaped);
        QByteArray back;
        QVERIFY(UnescapeJournalField(escaped, back));
        QCOMPARE(back, bytes);
    }

    void journalFieldRejects_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("raw space") << QByteArray("a b");
        QTest::newRow("raw high byte") << QByteArray("a\xE7");
        QTest::newRow("cut escape") << QByteArray("a%4");
        QTest::newRow("escape at the end") << QByteArray("a%");
        QTest::newRow("lower-case hex") << QByteArray("a%4a");
        QTest::newRow("not hex") << QByteArray("a%G0");
        QTest::newRow("NUL") << QByteArray("a%00b");
    }

    void journalFieldRejects()
    {
        QFETCH(QByteArray, field);
        QByteArray bytes;
        QVERIFY(!UnescapeJournalField(field, bytes));
    }

    void readJournal_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("records"); // -1: refused
        QTest::addColumn<bool>("cutOff");
        const QByteArray header = QByteArray(JournalHeader) + '\n';
        QTest::newRow("header only") << header << 0 << false;
        QTest::newRow("two records") << header + "/a /b\n/c%20d /e\n" << 2 << false;
        QTest::newRow("last record cut off") << header + "/a /b\n/c /" << 1 << true;
        QTest::newRow("cut inside the header") << QByteArray("quillbarrow-cli jour") << -1 << false;
        QTest::newRow("empty file") << QByteArray() << -1 << false;
        QTest::newRow("another header") << QByteArray("quillbarrow-cli journal 2\n") << -1 << false;
        QTest::newRow("three fields") << header + "/a /b /c\n" << -1 << false;
        QTest::newRow("one field") << header + "/a\n" << -1 << false;
        QTest::newRow("bad escape") << header + "/a /b%2\n" << -1 << false;
        QTest::newRow("CR LF line") << header + "/a /b\r\n" << -1 << false;
    }

    void readJournal()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, records);
        QFETCH(bool, cutOff);
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/j.txt");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        JournalContents contents;
        QString error;
        const bool ok = ReadJournal(path, contents, error);
        QCOMPARE(ok, records >= 0);
        if (!ok)
            return;
        QCOMPARE(contents.records.size(), records);
        QCOMPARE(contents.cutOff, cutOff);
        if (records == 2) {
            QCOMPARE(contents.records.at(1).oldPath, QByteArray("/c d"));
            QCOMPARE(contents.records.at(1).newPath, QByteArray("/e"));
        }
    }

    void jobFolderPath_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("expected");
        const QString cwd = QDir::currentPath();
        QTest::newRow("empty stays empty") << QString() << QString();
        QTest::newRow("absolute gets a slash") << "/x/photos" << "/x/photos/";
        QTest::newRow("slash kept") << "/x/photos/" << "/x/photos/";
        QTest::newRow("two slashes kept") << "/x/photos//" << "/x/photos//";
        QTest::newRow("relative") << "photos" << cwd + "/photos/";
        QTest::newRow("dot") << "." << cwd + "/./";
        QTest::newRow("dot-dot not resolved") << "a/../b" << cwd + "/a/../b/";
    }

    void jobFolderPath()
    {
        QFETCH(QString, argument);
        QFETCH(QString, expected);
        QCOMPARE(JobFolderPath(argument), expected);
    }
};

QTEST_GUILESS_MAIN(TestCliParts)
#include "tst_cliparts.moc"
