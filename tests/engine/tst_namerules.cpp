#include "engine/folderscan.h"
#include "engine/jobparameters.h"
#include "engine/namerules.h"
#include "engine/patternbudget.h"
#include "engine/renamepass.h"
#include "tests/support/referencemodels.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

class NameRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void replaceInName_data();
    void replaceInName();
    void replaceMatchesEmptyExtension();
    void insertIntoName_data();
    void insertIntoName();
    void splitFileName_data();
    void splitFileName();
    void nameWithNewSuffix_data();
    void nameWithNewSuffix();
    void nameWithNewBase_data();
    void nameWithNewBase();
    // What a job allows in a new name.
    void legalFileName_data();
    void legalFileName();
    void acceptableNewName_data();
    void acceptableNewName();
    void targetPrefixes();
    void siblingOrderFoldsCaseThenBreaksTies();
    void siblingOrderMatchesQDirNameIgnoreCase();
    void summaries();
    void splitLines_data();
    void splitLines();

    // The pattern budget (engine/patternbudget.h), and the rule that keeps it.
    void patternBudget_data();
    void patternBudget();
    void overBudgetPatternMatchesNothing_data();
    void overBudgetPatternMatchesNothing();
    void classicPatternsPassTheBudget_data();
    void classicPatternsPassTheBudget();
};

void NameRulesTest::replaceInName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("find");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<bool>("regExp");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << "photo.jpg" << "jpg" << "png" << false << "photo.png";
    QTest::newRow("plain_caseSensitive") << "photo.JPG" << "jpg" << "png" << false << "photo.JPG";
    QTest::newRow("regExp_caseSensitive") << "photo.JPG" << "jpg" << "png" << true << "photo.JPG";
    QTest::newRow("plain_everyNonOverlapping") << "aaaaa" << "aa" << "b" << false << "bba";
    QTest::newRow("plain_dotIsLiteral") << "a.b" << "." << "_" << false << "a_b";
    QTest::newRow("plain_dollarIsLiteral") << "a" << "a" << "$1\\1" << false << "$1\\1";
    QTest::newRow("plain_emptyFind") << "ab" << "" << "x" << false << "xaxbx";
    QTest::newRow("plain_emptyFindEmptyReplacement") << "ab" << "" << "" << false << "ab";
    QTest::newRow("regExp_backReference") << "a12b" << "(\\d+)" << "[\\1]" << true << "a[12]b";
    QTest::newRow("regExp_twoGroupsSwapped") << "ab-cd" << "(\\w+)-(\\w+)" << "\\2-\\1" << true
                                             << "cd-ab";
    QTest::newRow("regExp_greedy") << "a123b45" << "\\d+" << "#" << true << "a#b#";
    QTest::newRow("regExp_dotIsAnyChar") << "a.b" << "." << "_" << true << "___";
    QTest::newRow("regExp_emptyOnlyMatchesEmpty") << "gz" << "^$" << "txt" << true << "gz";
    QTest::newRow("regExp_onEmptyName") << "" << "^$" << "txt" << true << "txt";
    QTest::newRow("regExp_invalidChangesNothing") << "a(b" << "(" << "x" << true << "a(b";
    QTest::newRow("chinese") << QStringLiteral("照片01.jpg") << QStringLiteral("照片")
                             << QStringLiteral("相片") << false << QStringLiteral("相片01.jpg");
}

void NameRulesTest::replaceInName()
{
    QFETCH(QString, name);
    QFETCH(QString, find);
    QFETCH(QString, replacement);
    QFETCH(bool, regExp);
    QFETCH(QString, expected);
    QCOMPARE(ReplaceInName(name, find, replacement, regExp), expected);
}

void NameRulesTest::replaceMatchesEmptyExtension()
{
    // The extension of a name without a dot comes from QFileInfo as a null
    // string; ^$ must still match it.
    const QString suffix = QFileInfo(QStringLiteral("README")).suffix();
    QCOMPARE(ReplaceInName(suffix, QStringLiteral("^$"), QStringLiteral("txt"), true),
             QStringLiteral("txt"));
    QCOMPARE(ReplaceInName(suffix, QStringLiteral("R"), QStringLiteral("X"), false), QString());
}

void NameRulesTest::insertIntoName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("before");
    QTest::addColumn<QString>("expected");
    QTest::newRow("before") << "photo" << "_1" << true << "_1photo";
    QTest::newRow("after") << "photo" << "_1" << false << "photo_1";
    QTest::newRow("emptyText") << "photo" << "" << true << "photo";
    QTest::newRow("emptyName") << "" << "X" << false << "X";
}

void NameRulesTest::insertIntoName()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(bool, before);
    QFETCH(QString, expected);
    QCOMPARE(InsertIntoName(name, text, before), expected);
}

void NameRulesTest::splitFileName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("simple") << "photo.jpg" << "photo" << "jpg";
    QTest::newRow("multiDot") << "a.tar.gz" << "a.tar" << "gz";
    QTest::newRow("noDot") << "README" << "README" << "";
    QTest::newRow("dotFile") << ".profile" << "" << "profile";
    QTest::newRow("trailingDot") << "a." << "a" << "";
}

void NameRulesTest::splitFileName()
{
    QFETCH(QString, name);
    QFETCH(QString, base);
    QFETCH(QString, suffix);
    const FileNameParts parts = SplitFileName(name);
    QCOMPARE(parts.name, name);
    QCOMPARE(parts.base, base);
    QCOMPARE(parts.suffix, suffix);
}

void NameRulesTest::nameWithNewSuffix_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("newSuffix");
    QTest::addColumn<bool>("keepDot");
    QTest::addColumn<QString>("expected");
    for (const bool keep : {true, false}) {
        const QByteArray tag = keep ? "_keepDot" : "_dropDot";
        QTest::newRow("multiDot" + tag) << "a.tar.gz" << "zip" << keep << "a.tar.zip";
        QTest::newRow("noDotGetsExtension" + tag) << "README" << "txt" << keep << "README.txt";
        QTest::newRow("appended" + tag) << "a.txt" << "txt2" << keep << "a.txt2";
        QTest::newRow("dotFile" + tag) << ".profile" << "rc" << keep << ".rc";
    }
    QTest::newRow("emptied_keepDot") << "a.txt" << "" << true << "a.";
    QTest::newRow("emptied_dropDot") << "a.txt" << "" << false << "a";
    QTest::newRow("dotFileEmptied_keepDot") << ".txt" << "" << true << ".";
    QTest::newRow("dotFileEmptied_dropDot") << ".txt" << "" << false << "";
}

void NameRulesTest::nameWithNewSuffix()
{
    QFETCH(QString, name);
    QFETCH(QString, newSuffix);
    QFETCH(bool, keepDot);
    QFETCH(QString, expected);
    QCOMPARE(NameWithNewSuffix(SplitFileName(name), newSuffix,
                               keepDot ? TrailingDot::LeftToSystem : TrailingDot::DropWhenNoExtension),
             expected);
}

void NameRulesTest::nameWithNewBase_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("newBase");
    QTest::addColumn<bool>("keepDot");
    QTest::addColumn<QString>("expected");
    for (const bool keep : {true, false}) {
        const QByteArray tag = keep ? "_keepDot" : "_dropDot";
        QTest::newRow("simple" + tag) << "photo.jpg" << "photo_1" << keep << "photo_1.jpg";
        QTest::newRow("multiDot" + tag) << "a.tar.gz" << "a.tar_x" << keep << "a.tar_x.gz";
        QTest::newRow("dotFile" + tag) << ".profile" << "X" << keep << "X.profile";
        QTest::newRow("trailingDotStays" + tag) << "a." << "a_1" << keep << "a_1.";
    }
    QTest::newRow("noDot_keepDot") << "README" << "README_1" << true << "README_1.";
    QTest::newRow("noDot_dropDot") << "README" << "README_1" << false << "README_1";
}

void NameRulesTest::nameWithNewBase()
{
    QFETCH(QString, name);
    QFETCH(QString, newBase);
    QFETCH(bool, keepDot);
    QFETCH(QString, expected);
    QCOMPARE(NameWithNewBase(SplitFileName(name), newBase,
                             keepDot ? TrailingDot::LeftToSystem : TrailingDot::DropWhenNoExtension),
             expected);
}

void NameRulesTest::legalFileName_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("legal");
    QTest::newRow("empty") << "" << true;
    QTest::newRow("chinese") << QStringLiteral("照片_新") << true;
    QTest::newRow("spacesAndDots") << " . .. " << true;
    QTest::newRow("controlCharacter") << "a\tb" << true;
    const QString forbidden = QStringLiteral("?*:\"<>\\/|");
    for (const QChar c : forbidden)
        QTest::newRow(qPrintable(QStringLiteral("forbidden ") + c))
            << QString(QStringLiteral("a") + c + QStringLiteral("b")) << false;
}

void NameRulesTest::legalFileName()
{
    QFETCH(QString, text);
    QFETCH(bool, legal);
    QCOMPARE(IsLegalFileName(text), legal);
}

void NameRulesTest::acceptableNewName_data()
{
    QTest::addColumn<QString>("newPart");
    QTest::addColumn<QString>("newName");
    QTest::addColumn<bool>("acceptable");
    QTest::newRow("plain") << "b.txt" << "b.txt" << true;
    QTest::newRow("chineseAndSpaces") << QStringLiteral("新 文件") << QStringLiteral("新 文件")
                                      << true;
    QTest::newRow("threeDots") << "..." << "..." << true;
    QTest::newRow("extensionPartEmpty") << "" << "a" << true;
    QTest::newRow("slash") << "sub/b.txt" << "sub/b.txt" << false;
    QTest::newRow("backslash") << "sub\\b.txt" << "sub\\b.txt" << false;
    QTest::newRow("parentPrefix") << "../b.txt" << "../b.txt" << false;
    QTest::newRow("slashInExtensionPart") << "x/y" << "a.x/y" << false;
    QTest::newRow("dotDot") << ".." << ".." << false;
    QTest::newRow("dot") << "." << "." << false;
    QTest::newRow("emptyName") << "" << "" << false;
    QTest::newRow("emptiedToDot") << "" << "." << false;
    QTest::newRow("nul") << QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b"))
                         << QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b")) << false;
}

void NameRulesTest::acceptableNewName()
{
    QFETCH(QString, newPart);
    QFETCH(QString, newName);
    QFETCH(bool, acceptable);
    QCOMPARE(IsAcceptableNewName(newPart, newName), acceptable);
}

void NameRulesTest::targetPrefixes()
{
    QCOMPARE(FileTargetPrefix(QStringLiteral("/data/photos/a.jpg")),
             QDir::toNativeSeparators(QStringLiteral("/data/photos/")));
    QCOMPARE(FileTargetPrefix(QStringLiteral("/data/a.b/c")),
             QDir::toNativeSeparators(QStringLiteral("/data/a.b/")));
    // The folder prefix ends in "/" even where the native separator differs.
    QCOMPARE(FolderTargetPrefix(QStringLiteral("/data/photos")),
             QDir::toNativeSeparators(QStringLiteral("/data/photos")) + QLatin1Char('/'));
}

void NameRulesTest::siblingOrderFoldsCaseThenBreaksTies()
{
    const QStringList input{"b", "a.txt", "B", "_x", "A.txt", "a.TXT", "a1", "A"};
    // '_' sorts before every letter once case is folded; equal names ignoring
    // case fall back to code-unit order, upper case first.
    const QStringList expected{"_x", "A", "A.txt", "a.TXT", "a.txt", "a1", "B", "b"};
    QStringList names = input;
    std::sort(names.begin(), names.end(), SiblingNameLess);
    QCOMPARE(names, expected);
    QVERIFY(!SiblingNameLess("a", "a"));

    // The scan's sort gives the same order whatever order it is handed.
    QStringList shuffled = input;
    for (int round = 0; round < 3; ++round) {
        QList<QFileInfo> entries;
        for (const QString &name : shuffled)
            entries << QFileInfo(QStringLiteral("/nowhere/") + name);
        SortSiblings(entries);
        QStringList sorted;
        for (const QFileInfo &entry : entries)
            sorted << entry.fileName();
        QCOMPARE(sorted, expected);
        std::reverse(shuffled.begin(), shuffled.end());
        std::rotate(shuffled.begin(), shuffled.begin() + 3, shuffled.end());
    }
}

void NameRulesTest::siblingOrderMatchesQDirNameIgnoreCase()
{
    // For names that differ ignoring case, the order is QDir's own
    // Name | IgnoreCase order.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QStringList names{"_x", "Zeta", "alpha", "10", "9", "-dash", QStringLiteral("Éclair"),
                            QStringLiteral("écu"), QStringLiteral("中文"), "b.TXT", "B1", "~t"};
    for (const QString &name : names) {
        QFile file(dir.path() + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QStringList byQDir = QDir(dir.path()).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase);
    QList<QFileInfo> entries = QDir(dir.path()).entryInfoList(QDir::Files, QDir::Unsorted);
    SortSiblings(entries);
    QStringList ours;
    for (const QFileInfo &entry : entries)
        ours << entry.fileName();
    QCOMPARE(ours, byQDir);
}

void NameRulesTest::summaries()
{
    QCOMPARE(ScannedSummary(12, 3, 5, 1, 0),
             QStringLiteral("扫描文件12个,扫描文件夹3个,修改文件名5个,修改文件夹名1个,耗时0秒。"));
    QCOMPARE(ChangedSummary(7, 0, 2), QStringLiteral("修改文件名7个,修改文件夹名0个,耗时2秒。"));
    // ASCII commas, a full-width full stop.
    const QString line = ChangedSummary(1, 2, 3);
    QCOMPARE(line.count(QLatin1Char(',')), 2);
    QCOMPARE(line.right(1), QString(QChar(0x3002)));
    QCOMPARE(line.toUtf8().left(3), QByteArray("\xe4\xbf\xae")); // 修
}

void NameRulesTest::splitLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty") << "" << QStringList{""};
    QTest::newRow("two") << "a\nb" << QStringList{"a", "b"};
    QTest::newRow("finalLineFeed") << "a\nb\n" << QStringList{"a", "b", ""};
    QTest::newRow("emptyMiddle") << "a\n\nb" << QStringList{"a", "", "b"};
    QTest::newRow("carriageReturnKept") << "a\r\nb" << QStringList{"a\r", "b"};
}

void NameRulesTest::splitLines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QCOMPARE(SplitLines(text), lines);
}

// The pattern budget.

void NameRulesTest::patternBudget_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("over"); // empty: within the budget; else a part of the reason

    const auto row = [](const char *name, const QString &pattern, const char *over) {
        QTest::newRow(name) << pattern << QString::fromLatin1(over);
    };
    const auto nested = [](int depth) {
        return QString(depth, QLatin1Char('(')) + QLatin1Char('a') + QString(depth, QLatin1Char(')'));
    };
    row("digits", "(\\d+)", "");
    row("anchored count", "^IMG_(\\d{4})", "");
    row("class count", "[a-z]{1,8}", "");
    row("repeated alternation", "(a|b){0,30}", "");
    row("extensions", "^(.*)\\.(jpe?g|png)$", "");
    row("words", "\\b\\w+\\b", "");
    row("date", "(\\d{4})-(\\d{2})-(\\d{2})", "");
    row("one lookahead", "IMG(?!_\\d)", "");
    row("long count of one character", "a{1,1024}", "");
    row("as long as a name", ".{0,255}", "");
    row("empty", "", "");
    row("invalid but small (compiling fails cheaply)", "(", "");
    row("what looks explosive inside a class", "[((a{0,30}){0,30}){0,30}]", "");
    // The explosions found: 12 s and 1.25 GB to compile; out of memory.
    row("nested counts", "((a{0,30}){0,30}){0,30}", "more than 2048 transitions");
    row("nested counts, larger", "((a{0,50}){0,50}){0,50}", "more than 2048 transitions");
    row("nested counts after a class with a ]", "[]]((a{0,30}){0,30}){0,30}", "more than 2048");
    row("nested counts before an error", "((a{0,30}){0,30}){0,30}(", "more than 2048");
    row("nested counts in a failing lookahead", "(?=((a{0,30}){0,30}){0,30}]", "more than 2048");
    // Each edge, one step either side.
    row("optional part 62 times", "(?:a?){62}", "");
    row("optional part 63 times", "(?:a?){63}", "more than 2048 transitions");
    row("4096 elements", "(?:^){1024}(?:^){340}^^", "");
    row("4097 elements", "(?:^){1024}(?:^){340}^^^", "more than 4096 elements");
    row("copies of parts with no state", "(x*(?:(){0,200}){1,1024}){,7}x*", "more than 4096 elements");
    row("100 groups deep", nested(100), "");
    row("101 groups deep", nested(101), "more than 100 deep");
    row("lookahead in a lookahead", "(?=(?=a))", "more than 2048 transitions");
    row("anchor alternatives 8 times", "(?:$|^){8}", "");
    row("anchor alternatives 9 times", "(?:$|^){9}", "more than 256 alternatives");
    row("four anchors, repeated", "(?:$|^|\\b|\\B){16}", "more than 256 alternatives");
}

// The budget is decided from the text alone, so a refusal is immediate.
void NameRulesTest::patternBudget()
{
    QFETCH(QString, pattern);
    QFETCH(QString, over);
    QString why;
    const bool within = PatternWithinBudget(pattern, &why);
    if (over.isEmpty()) {
        QVERIFY2(within, qPrintable(why));
    } else {
        QVERIFY(!within);
        QVERIFY2(why.contains(over), qPrintable(why));
    }
}

void NameRulesTest::overBudgetPatternMatchesNothing_data()
{
    QTest::addColumn<QString>("pattern");
    // Each matches the empty string, so compiled it would put x between
    // every two characters; first at a cost of seconds.
    QTest::newRow("nested counts") << "((a{0,30}){0,30}){0,30}";
    QTest::newRow("anchor alternatives") << "(?:$|^|\\b|\\B){16}";
}

// As an invalid pattern does: the name stays (compiled, the pattern would
// change it, after seconds).
void NameRulesTest::overBudgetPatternMatchesNothing()
{
    QFETCH(QString, pattern);
    const QString name = QString(100, QLatin1Char('a')) + QStringLiteral(" b.txt");
    const ReplaceRule rule(pattern, QStringLiteral("x"), true);
    QCOMPARE(rule.Apply(name), name);
    QCOMPARE(ReplaceInName(name, pattern, QStringLiteral("x"), true), name);
    // Plain text is never a pattern, whatever it looks like.
    QCOMPARE(ReplaceRule(pattern, QStringLiteral("x"), false).Apply(pattern + QLatin1Char('1')),
             QStringLiteral("x1"));
}

void NameRulesTest::classicPatternsPassTheBudget_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    const QString as(254, QLatin1Char('a'));
    QTest::newRow("(a+)+b") << "(a+)+b" << as << as;
    QTest::newRow("(a|aa)+b") << "(a|aa)+b" << as + "c" << as + "c";
    QTest::newRow("(a|a?)+b") << "(a|a?)+b" << as << as;
    QTest::newRow("(x+x+)+y") << "(x+x+)+y" << QString(254, 'x') << QString(254, 'x');
    QTest::newRow("(.*a){20}") << "(.*a){20}" << QString(254, 'b') + "a" << QString(254, 'b') + "a";
    QTest::newRow("(.*a){3}") << "(.*a){3}" << "aaab" << "Xb";
    QTest::newRow("^(a+)\\1+$") << "^(a+)\\1+$" << "aaaa" << "X";
    QTest::newRow("^(a+)\\1+$, no match") << "^(a+)\\1+$" << as + "b" << as + "b";
    QTest::newRow("(\\w+\\s?)+$") << "(\\w+\\s?)+$" << QString(254, 'w') + "!" << QString(254, 'w') + "!";
    QTest::newRow("((a+)+)+b") << "((a+)+)+b" << as << as;
}

// Backtracking traps for other engines; QRegExp's automaton takes them in
// microseconds, and the budget must keep letting them through.
void NameRulesTest::classicPatternsPassTheBudget()
{
    QFETCH(QString, pattern);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QString why;
    QVERIFY2(PatternWithinBudget(pattern, &why), qPrintable(why));
    QCOMPARE(ReplaceRule(pattern, QStringLiteral("X"), true).Apply(name), expected);
}

QTEST_GUILESS_MAIN(NameRulesTest)
#include "tst_namerules.moc"
