#include "cli/clijob.h"
#include "cli/commandline.h"
#include "cli/findpatterns.h"
#include "cli/journalformat.h"
#include "cli/journalreader.h"
#include "cli/pairfile.h"
#include "tests/support/enginetestsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#ifndef _WIN32
#include <sys/stat.h>
#endif

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
        row("pairs given inline, in order", {"pairs", "F", "--pair", "a", "b", "--pair", "-x", ""},
            "pairs folder=F pair=a>b pair=-x>");
        row("journal named like an option, as a path", {"replace", "F", "a", "b", "--journal", "./--dry-run"},
            "replace folder=F find=a repl=b journal=./--dry-run");
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
        // An option where a value should be is never taken as the value.
        row("journal followed by an option", {"replace", "F", "a", "b", "--journal", "--dry-run"},
            "error: --journal needs a file name, not the option --dry-run");
        row("journal followed by --", {"replace", "F", "--journal", "--", "a", "b"},
            "error: --journal needs a file name, not the option --");
        row("pair find is an option", {"pairs", "F", "--pair", "--regex", "b"},
            "error: --pair needs FIND and REPLACEMENT, not the option --regex");
        row("pair replacement is an option", {"pairs", "F", "--pair", "a", "--dry-run", "--pair", "b", "c"},
            "error: --pair needs FIND and REPLACEMENT, not the option --dry-run");
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
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("no final line feed") << "a\nb" << QStringList{"a", "b"};
        QTest::newRow("final line feed ends the last line") << "a\nb\n" << QStringList{"a", "b"};
        QTest::newRow("an empty last line needs a second one") << "a\nb\n\n" << QStringList{"a", "b", ""};
        QTest::newRow("empty lines inside are pairs") << "a\n\nb" << QStringList{"a", "", "b"};
        QTest::newRow("empty file is one empty line") << QString() << QStringList{""};
        QTest::newRow("one line feed is one empty line") << "\n" << QStringList{""};
        QTest::newRow("CR LF") << "a\r\nb\r\n" << QStringList{"a", "b"};
        QTest::newRow("spaces kept, lone CR kept") << " a \rb\n" << QStringList{" a \rb"};
    }

    void pairFileLines()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, lines);
        QCOMPARE(PairFileLines(text), lines);
    }

    void decodePairFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("localCodec");
        QTest::addColumn<QString>("expected"); // the text, or "error: " and a part of the reason

        const auto row = [](const char *name, const QByteArray &bytes, const char *codec,
                            const QString &expected) {
            QTest::newRow(name) << bytes << QByteArray(codec) << expected;
        };
        row("UTF-8", "\xE7\x85\xA7\xE7\x89\x87\n", "ISO-8859-1", QStringLiteral("照片\n"));
        row("UTF-8 with byte-order mark", "\xEF\xBB\xBF\xE7\x85\xA7", "ISO-8859-1", QStringLiteral("照"));
        row("U+FFFD written in UTF-8 is text", "\xEF\xBF\xBD", "UTF-8", QStringLiteral("\uFFFD"));
        row("not UTF-8, Latin-1 code page", "caf\xE9\n", "ISO-8859-1", QStringLiteral("café\n"));
        row("not UTF-8, GBK code page", "\xD5\xD5\xC6\xAC", "GBK", QStringLiteral("照片"));
        row("invalid UTF-8, UTF-8 code page", "caf\xE9\n", "UTF-8",
            "error: neither valid UTF-8 nor valid in the local code page (UTF-8)");
        row("UTF-8 cut off, UTF-8 code page", "\xE7\x85", "UTF-8", "error: neither valid UTF-8");
        row("invalid in GBK too", "\xD5\x20\xFF", "GBK", "error: neither valid UTF-8");
        row("GBK cut off at the end", "\xD5\xD5\xC6", "GBK", "error: neither valid UTF-8");
        row("invalid in Shift_JIS", "a\x81\x20", "Shift_JIS", "error: neither valid UTF-8");
        row("zero byte", QByteArray("a\0b", 3), "ISO-8859-1", "error: holds a zero byte");
        row("UTF-16 without a byte-order mark", QByteArray("a\0b\0", 4), "UTF-8",
            "error: holds a zero byte");
    }

    void decodePairFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, localCodec);
        QFETCH(QString, expected);
        QTextCodec *codec = QTextCodec::codecForName(localCodec);
        QVERIFY(codec);
        QString text, why;
        const bool ok = DecodePairFile(bytes, codec, &text, &why);
        if (expected.startsWith(QLatin1String("error: "))) {
            QVERIFY2(!ok, qPrintable(text));
            QVERIFY2(why.contains(expected.mid(7)), qPrintable(why));
        } else {
            QVERIFY2(ok, qPrintable(why));
            QCOMPARE(text, expected);
        }
    }

    // Files of every kind, read through the path a user would give.
    void readPairFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("expected"); // lines joined by "|", or "error: " and a part

        QTest::newRow("text file") << "text" << "a|b";
#ifndef _WIN32
        // The toolkit's links on Windows are shortcut files, which the system never follows.
        QTest::newRow("link to a text file") << "link" << "a|b";
#endif
        QTest::newRow("at the size limit") << "at limit" << "at limit|";
        QTest::newRow("one byte over the limit") << "over limit" << "error: larger than the 16777216 bytes";
        QTest::newRow("over 2 GB, sparse") << "huge" << "error: larger than the 16777216 bytes";
        QTest::newRow("missing") << "missing" << "error: no such file";
        QTest::newRow("folder") << "folder" << "error: it is not a regular file";
#ifdef _WIN32
        // Refused, never read: Wine finds no such file, Windows a device.
        QTest::newRow("console device") << "CON" << "error: ";
        QTest::newRow("null device") << "NUL" << "error: ";
#else
        QTest::newRow("FIFO") << "fifo" << "error: it is not a regular file";
        QTest::newRow("endless device") << "/dev/zero" << "error: it is not a regular file";
        QTest::newRow("link to a device") << "device link" << "error: it is not a regular file";
#endif
        QTest::newRow("not text") << "not text" << "error: neither valid UTF-8";
        QTest::newRow("unreadable (needs a user other than root)") << "unreadable" << "error: ";
    }

    void readPairFile()
    {
        QFETCH(QString, kind);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString path = dir.filePath(QStringLiteral("pairs.txt"));
        const auto write = [&](const QByteArray &bytes) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        };
        QByteArray atLimit(int(kPairFileByteLimit), 'x');
        atLimit.replace(0, 9, "at limit\n");
        atLimit[atLimit.size() - 1] = '\n';
        if (kind == QLatin1String("text")) {
            QVERIFY(write("a\nb\n"));
        } else if (kind == QLatin1String("link")) {
            QVERIFY(write("a\nb\n"));
            const QString link = dir.filePath(QStringLiteral("link.txt"));
            QVERIFY(QFile::link(path, link));
            path = link;
        } else if (kind == QLatin1String("at limit")) {
            QVERIFY(write(atLimit));
        } else if (kind == QLatin1String("over limit")) {
            QVERIFY(write(atLimit + 'x'));
        } else if (kind == QLatin1String("huge")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(qint64(3) << 30));
        } else if (kind == QLatin1String("missing")) {
        } else if (kind == QLatin1String("folder")) {
            path = dir.path();
#ifdef _WIN32
        } else if (kind == QLatin1String("CON") || kind == QLatin1String("NUL")) {
            path = kind;
#else
        } else if (kind == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == QLatin1String("/dev/zero")) {
            path = kind;
#endif
        } else if (kind == QLatin1String("device link")) {
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        } else if (kind == QLatin1String("not text")) {
            QVERIFY(write("\xFF\xFE\n")); // neither UTF-8 nor GBK, the code pages these tests run in
        } else if (kind == QLatin1String("unreadable")) {
            QVERIFY(write("a\n"));
            QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
            QFile probe(path);
            if (probe.open(QIODevice::ReadOnly))
                QSKIP("this user reads any file");
        }
        const PairFile file = ReadPairFile(path);
        if (expected.startsWith(QLatin1String("error: "))) {
            QVERIFY2(!file.ok, qPrintable(file.lines.join(QLatin1Char('|')).left(100)));
            QVERIFY2(file.error.startsWith(QStringLiteral("cannot read %1: ").arg(path)),
                     qPrintable(file.error));
            QVERIFY2(file.error.contains(expected.mid(7)), qPrintable(file.error));
        } else {
            QVERIFY2(file.ok, qPrintable(file.error));
            QCOMPARE(file.lines.size(), expected.count(QLatin1Char('|')) + 1);
            QCOMPARE(file.lines.first(), expected.section(QLatin1Char('|'), 0, 0));
            QCOMPARE(file.lines.last().size(),
                     kind == QLatin1String("at limit") ? int(kPairFileByteLimit) - 10 : 1);
        }
    }

    void findPatternRefusal_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("finds");
        QTest::addColumn<QString>("expected"); // empty: accepted

        QTest::newRow("valid patterns") << QStringList{"replace", "F", "x", "y", "--regex"}
                                        << QStringList{"(\\d+)", "^IMG_(\\d{4})"} << QString();
        QTest::newRow("plain text is no pattern") << QStringList{"replace", "F", "(", "y"}
                                                  << QStringList{"("} << QString();
        QTest::newRow("replace") << QStringList{"replace", "F", "(", "y", "--regex"} << QStringList{"("}
                                 << "the regular expression ( does not compile: unexpected end";
        QTest::newRow("inline pairs name the pair")
            << QStringList{"pairs", "F", "--pair", "a", "b", "--pair", "[x", "y", "--regex"}
            << QStringList{"a", "[x"} << "pair 2: the regular expression [x does not compile: unexpected end";
        QTest::newRow("pair files name the line")
            << QStringList{"pairs", "F", "find.txt", "r.txt", "--regex"} << QStringList{"a", "b", "a{2,1}"}
            << "line 3 of find.txt: the regular expression a{2,1} does not compile: invalid interval";
        QTest::newRow("the first one that fails")
            << QStringList{"pairs", "F", "find.txt", "r.txt", "--regex"} << QStringList{"(", ")"}
            << "line 1 of find.txt: the regular expression ( does not compile";
        QTest::newRow("over the budget, checked before compiling")
            << QStringList{"replace", "F", "x", "y", "--regex"} << QStringList{"((a{0,50}){0,50}){0,50}"}
            << "the regular expression ((a{0,50}){0,50}){0,50} is over the budget for regular "
               "expressions: QRegExp would build more than 2048 transitions";
        QTest::newRow("long patterns are cut short in the message")
            << QStringList{"replace", "F", "x", "y", "--regex"}
            << QStringList{"(" + QString(70, 'a') + "){1000}"}
            << "the regular expression (" + QString(59, 'a') + "... is over the budget";
    }

    void findPatternRefusal()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, finds);
        QFETCH(QString, expected);
        const ParsedCommandLine parsed = ParseCommandLine(arguments);
        QVERIFY2(parsed.ok, qPrintable(parsed.error));
        const QString refusal = FindPatternRefusal(parsed.request, finds);
        if (expected.isEmpty())
            QCOMPARE(refusal, QString());
        else
            QVERIFY2(refusal.startsWith(expected), qPrintable(refusal));
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
        // Version 1 (tst_clijournal has version 2): still read, for undo.
        const QByteArray header = QByteArray(JournalHeaderV1) + '\n';
        const QByteArray r = enginetest::AbsoluteStart();
        const QByteArray ab = r + "/a " + r + "/b";
        QTest::newRow("header only") << header << 0 << false;
        QTest::newRow("two records") << header + ab + "\n" + r + "/c%20d " + r + "/e\n" << 2 << false;
        QTest::newRow("last record cut off") << header + ab + "\n" + r + "/c /" << 1 << true;
        QTest::newRow("cut inside the header") << QByteArray("quillbarrow-cli jour") << -1 << false;
        QTest::newRow("empty file") << QByteArray() << -1 << false;
        QTest::newRow("another header") << QByteArray("quillbarrow-cli journal 3\n") << -1 << false;
        QTest::newRow("three fields") << header + ab + " " + r + "/c\n" << -1 << false;
        QTest::newRow("one field") << header + r + "/a\n" << -1 << false;
        QTest::newRow("bad escape") << header + ab + "%2\n" << -1 << false;
        QTest::newRow("CR LF line") << header + ab + "\r\n" << -1 << false;
        QTest::newRow("relative path") << header + ab + "\nc " + r + "/d\n" << -1 << false;
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
            QCOMPARE(contents.records.at(1).oldPath, enginetest::AbsoluteStart() + "/c d");
            QCOMPARE(contents.records.at(1).newPath, enginetest::AbsoluteStart() + "/e");
        }
    }

    void jobFolderPath_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("currentGone"); // run in a current folder deleted meanwhile
        const QString cwd = QDir::currentPath();
        QTest::newRow("empty stays empty") << QString() << QString() << false;
        QTest::newRow("absolute gets a slash") << "/x/photos" << "/x/photos/" << false;
        QTest::newRow("slash kept") << "/x/photos/" << "/x/photos/" << false;
        QTest::newRow("two slashes kept") << "/x/photos//" << "/x/photos//" << false;
        QTest::newRow("relative") << "photos" << cwd + "/photos/" << false;
        QTest::newRow("dot") << "." << cwd + "/./" << false;
        QTest::newRow("dot-dot not resolved") << "a/../b" << cwd + "/a/../b/" << false;
#ifndef _WIN32
        // Not the root in its place: no folder at all.
        QTest::newRow("relative, current folder deleted") << "tmp" << QString() << true;
        QTest::newRow("absolute, current folder deleted") << "/x/photos" << "/x/photos/" << true;
#endif
    }

    void jobFolderPath()
    {
        QFETCH(QString, argument);
        QFETCH(QString, expected);
        QFETCH(bool, currentGone);
        const QString before = QDir::currentPath();
        QTemporaryDir gone;
        if (currentGone)
            QVERIFY(QDir::setCurrent(gone.path()) && QDir().rmdir(gone.path()));
        const QString path = JobFolderPath(argument);
        QVERIFY(QDir::setCurrent(before));
        QCOMPARE(path, expected);
    }
};

QTEST_GUILESS_MAIN(TestCliParts)
#include "tst_cliparts.moc"
