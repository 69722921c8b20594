// The window's own behaviour: placement, title and icon, the remembered
// folder, the folder dialog, the progress line, the action buttons and the
// tray. The settings file is always a copy in a temporary folder.
#include "app/startup.h"
#include "app/systemtray.h"
#include "ui/mainwindow.h"
#include "ui/windowplacement.h"

#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>

#include <vector>

namespace {

// Points the start-up fields at a program "installed" in `folder`, so the
// window reads that folder's settings file.
void StartAsIfInstalledIn(const QString &folder, const QByteArray &firstArgument = QByteArray())
{
    // As the system passes it: with its own separators.
    QByteArray program = QFile::encodeName(QDir::toNativeSeparators(folder + QStringLiteral("/Quillbarrow")));
    std::vector<char *> argv{program.data()};
    QByteArray argument = firstArgument;
    if (!argument.isNull())
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    InitStartupFields(int(argv.size()) - 1, argv.data());
}

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

// The window asks for 940 x 500. Its layout may need more in large fonts
// (Wine's Chinese ones take 530 px), and the toolkit then keeps the layout's
// minimum: the window never cuts its own form.
QSize StandardSize(const MainWindow &window)
{
    return QSize(940, 500).expandedTo(window.minimumSize());
}

QList<QAbstractButton *> ActionButtons(MainWindow &window)
{
    return {window.findChild<QAbstractButton *>(QStringLiteral("pBtn_ReplaceExcelText")),
            window.findChild<QAbstractButton *>(QStringLiteral("pBtn_ReplaceExcelText_2")),
            window.findChild<QAbstractButton *>(QStringLiteral("pBtn_InsertText"))};
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(resources);
        QVERIFY(home.isValid());
        StartAsIfInstalledIn(home.path());
    }

    void centring_data()
    {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QPoint>("topLeft");
        QTest::newRow("1920x1080") << QSize(1920, 1080) << QPoint(490, 220);
        QTest::newRow("1366x768") << QSize(1366, 768) << QPoint(213, 64);
        QTest::newRow("800x600, window larger") << QSize(800, 600) << QPoint(-70, -20);
        QTest::newRow("799 wide truncates toward zero") << QSize(799, 600) << QPoint(-70, -20);
    }

    void centring()
    {
        QFETCH(QSize, screen);
        QFETCH(QPoint, topLeft);
        QCOMPARE(CentredTopLeft(screen, QSize(940, 640)), topLeft);
    }

    void constructionPlacesTitlesAndShowsTheWindow()
    {
        MainWindow window;
        QVERIFY(window.isVisible());
        QCOMPARE(window.size(), StandardSize(window));
        // Centred for the form's 640 px height, then made 500 high without moving.
        QCOMPARE(window.pos(), CentredTopLeft(PrimaryScreenSize(), QSize(940, 640)));
        QCOMPARE(window.windowTitle(), QStringLiteral("文件批量重命名2.1"));
        QVERIFY(!window.windowIcon().isNull());
        QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
        for (QAbstractButton *button : ActionButtons(window))
            QVERIFY(button->isEnabled());
    }

    void autorunArgumentLeavesShowingToStartUp_data()
    {
        QTest::addColumn<QByteArray>("argument");
        QTest::addColumn<bool>("shownByWindow");
        QTest::newRow("no argument") << QByteArray() << true;
        QTest::newRow("-autorun") << QByteArray("-autorun") << false;
        QTest::newRow("other case") << QByteArray("-AUTORUN") << true;
        QTest::newRow("longer") << QByteArray("-autorunx") << true;
    }

    void autorunArgumentLeavesShowingToStartUp()
    {
        QFETCH(QByteArray, argument);
        QFETCH(bool, shownByWindow);
        StartAsIfInstalledIn(home.path(), argument);
        MainWindow window;
        StartAsIfInstalledIn(home.path());
        QCOMPARE(window.isVisible(), shownByWindow);
    }

    void rememberedFolderFillsTheField_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("field");
        QTest::newRow("plain") << QByteArray("sourcePath=D:\\Photos\r\n") << QStringLiteral("D:\\Photos");
        // The settings file is in the local code page.
        QTest::newRow("blanks trimmed")
            << "a=1\r\nsourcePath=  " + QStringLiteral("/srv/相册/").toLocal8Bit() + " \t\r\n"
            << QStringLiteral("/srv/相册/");
        QTest::newRow("no line end") << QByteArray("sourcePath=/srv") << QString();
        QTest::newRow("key absent") << QByteArray("other=1\r\n") << QString();
    }

    void rememberedFolderFillsTheField()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QString, field);
        QTemporaryDir folder;
        WriteFile(folder.filePath(QStringLiteral("Quillbarrow.qzt")), settings);
        StartAsIfInstalledIn(folder.path());
        MainWindow window;
        StartAsIfInstalledIn(home.path());
        QCOMPARE(window.findChild<QLineEdit *>(QStringLiteral("lEdt_SourcePath"))->text(), field);
    }

    void missingSettingsFileLeavesFieldEmptyAndIsNotCreated()
    {
        QTemporaryDir folder;
        StartAsIfInstalledIn(folder.path());
        MainWindow window;
        StartAsIfInstalledIn(home.path());
        QVERIFY(window.findChild<QLineEdit *>(QStringLiteral("lEdt_SourcePath"))->text().isEmpty());
        QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("Quillbarrow.qzt"))));
    }

    void folderDialogAddsSlashAndCancelKeepsText()
    {
        MainWindow window;
        QLineEdit *field = window.findChild<QLineEdit *>(QStringLiteral("lEdt_SourcePath"));
        QString answer = QStringLiteral("D:/photos");
        QString caption;
        QString startDirectory;
        QFileDialog::Options options;
        QWidget *dialogParent = nullptr;
        window.setFolderChooser([&](QWidget *parent, const QString &c, const QString &d, QFileDialog::Options o) {
            dialogParent = parent;
            caption = c;
            startDirectory = d;
            options = o;
            return answer;
        });
        QAbstractButton *button = window.findChild<QAbstractButton *>(QStringLiteral("pBtn_SourcePath"));
        button->click();
        QCOMPARE(field->text(), QStringLiteral("D:/photos/"));
        QCOMPARE(dialogParent, static_cast<QWidget *>(&window));
        QCOMPARE(caption, QStringLiteral("选择文件夹"));
        QCOMPARE(startDirectory, QStringLiteral("."));
        QCOMPARE(options, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);

        field->setText(QStringLiteral("typed by hand"));
        answer.clear();
        button->click();
        QCOMPARE(field->text(), QStringLiteral("typed by hand"));
    }

    void progressLineShowsOnlyTheLastText()
    {
        MainWindow window;
        QLabel *label = window.findChild<QLabel *>(QStringLiteral("lb_ShowDisposingFile"));
        QVERIFY(QMetaObject::invokeMethod(&window, "on_ShowDisposingFile", Q_ARG(QString, QStringLiteral("/a/一"))));
        QVERIFY(QMetaObject::invokeMethod(&window, "on_ShowDisposingFile", Q_ARG(QString, QStringLiteral("/b/二"))));
        // The label follows the progress at a bounded rate: the last text shows soon.
        QTRY_COMPARE(label->text(), QStringLiteral("/b/二"));
    }

    void progressStillWaitingNeverOverwritesTheWindowsOwnText()
    {
        MainWindow window;
        QLabel *label = window.findChild<QLabel *>(QStringLiteral("lb_ShowDisposingFile"));
        QLineEdit *insert = window.findChild<QLineEdit *>(QStringLiteral("lEdt_InsertText"));
        for (const QString &text : {QStringLiteral("/a"), QStringLiteral("/b"), QStringLiteral("/c")})
            QVERIFY(QMetaObject::invokeMethod(&window, "on_ShowDisposingFile", Q_ARG(QString, text)));
        insert->setText(QStringLiteral("bad|name"));
        window.findChild<QAbstractButton *>(QStringLiteral("pBtn_InsertText"))->click();
        const QString refusal = QStringLiteral("插入内容包含非法字符,无法用于文件名!");
        QCOMPARE(label->text(), refusal);
        QTest::qWait(150);
        QCOMPARE(label->text(), refusal);

        // The end of a job shows its summary at once, with the buttons.
        QVERIFY(QMetaObject::invokeMethod(&window, "on_ShowDisposingFile", Q_ARG(QString, QStringLiteral("/d"))));
        QVERIFY(QMetaObject::invokeMethod(&window, "on_ShowDisposingFile", Q_ARG(QString, QStringLiteral("summary"))));
        QVERIFY(QMetaObject::invokeMethod(&window, "on_Set_pBtn_Enable"));
        QCOMPARE(label->text(), QStringLiteral("summary"));
    }

    void actionButtonsSwitchTogether()
    {
        MainWindow window;
        QVERIFY(QMetaObject::invokeMethod(&window, "on_Set_pBtn_Disable"));
        for (QAbstractButton *button : ActionButtons(window))
            QVERIFY(!button->isEnabled());
        QVERIFY(window.findChild<QAbstractButton *>(QStringLiteral("pBtn_SourcePath"))->isEnabled());
        QVERIFY(QMetaObject::invokeMethod(&window, "on_Set_pBtn_Enable"));
        for (QAbstractButton *button : ActionButtons(window))
            QVERIFY(button->isEnabled());
    }

    void trayIconMenuAndTooltip()
    {
        MainWindow window;
        SystemTray *tray = window.findChild<SystemTray *>();
        QVERIFY(tray);
        QCOMPARE(tray->parent(), static_cast<QObject *>(&window));
        QCOMPARE(tray->toolTip(), QStringLiteral("文件批量重命名"));
        QVERIFY(!tray->icon().isNull());
        QVERIFY(tray->isVisible());
        QVERIFY(tray->contextMenu());
        QStringList entries;
        for (QAction *action : tray->contextMenu()->actions())
            entries.append(action->text());
        QCOMPARE(entries, QStringList({QStringLiteral("软件设置"), QStringLiteral("退出程序")}));
    }

    void trayBringsTheWindowBackInStandardSize_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("restores");
        QTest::newRow("click") << int(QSystemTrayIcon::Trigger) << true;
        QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << true;
        QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
        QTest::newRow("context") << int(QSystemTrayIcon::Context) << false;
        QTest::newRow("unknown") << int(QSystemTrayIcon::Unknown) << false;
    }

    void trayBringsTheWindowBackInStandardSize()
    {
        QFETCH(int, reason);
        QFETCH(bool, restores);
        MainWindow window;
        SystemTray *tray = window.findChild<SystemTray *>();

        window.resize(1000, 700);
        window.showMinimized();
        QTRY_VERIFY(window.isMinimized());
        emit tray->activated(QSystemTrayIcon::ActivationReason(reason));
        if (restores) {
            QTRY_VERIFY(!window.isMinimized());
            QVERIFY(window.isVisible());
            QCOMPARE(window.size(), StandardSize(window));
        } else {
            QVERIFY(window.isMinimized());
            QCOMPARE(window.size(), QSize(1000, 700));
        }
    }

    void traySettingsEntryRestoresTheWindow()
    {
        MainWindow window;
        SystemTray *tray = window.findChild<SystemTray *>();
        window.resize(1000, 700);
        window.hide();
        tray->contextMenu()->actions().at(0)->trigger();
        QVERIFY(window.isVisible());
        QCOMPARE(window.size(), StandardSize(window));
    }

    void trayQuitEntryEndsTheEventLoopWithZero()
    {
        MainWindow window;
        SystemTray *tray = window.findChild<SystemTray *>();
        QTimer::singleShot(0, tray->contextMenu()->actions().at(1), &QAction::trigger);
        QCOMPARE(QCoreApplication::exec(), 0);
    }

private:
    QTemporaryDir home;
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
