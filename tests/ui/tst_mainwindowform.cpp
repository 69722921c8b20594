// Walks the built form and checks it against the widget tree the window must
// have: object names are an interface (slots connect by them), so a renamed,
// re-parented or re-ordered widget is a real fault.
#include "ui/mainwindowform.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QtTest>

namespace {

struct WidgetRow
{
    const char *name;
    const char *className;
    const char *parent;
    const char *text; // button, label, check box or group box text; null when none
};

// In creation order.
const WidgetRow kWidgets[] = {
    {"centralWidget", "QWidget", "MainWindow", nullptr},
    {"tabWidget", "QTabWidget", "centralWidget", nullptr},
    {"wgt_AddToTab1", "QWidget", "qt_tabwidget_stackedwidget", nullptr},
    {"gBox_Setting", "QGroupBox", "wgt_AddToTab1", "对文件或文件夹名称进行查找修改。（操作不可逆,操作前请备份）"},
    {"widget_3", "QWidget", "gBox_Setting", nullptr},
    {"pBtn_SourcePath", "QPushButton", "widget_3", "选择文件所在文件夹"},
    {"lEdt_SourcePath", "QLineEdit", "widget_3", ""},
    {"cBox_JustShow_2", "QCheckBox", "widget_3", "只修改文件,不修改文件夹"},
    {"cBox_JustSuffix", "QCheckBox", "widget_3", "只改扩展名"},
    {"cBox_RegExpMode", "QCheckBox", "widget_3", "正则模式(不懂勿选)"},
    {"groupBox_2", "QGroupBox", "gBox_Setting", "1、查找替换"},
    {"lb_FindTextExplain", "QLabel", "groupBox_2", "查找内容："},
    {"lEdt_FindText", "QLineEdit", "groupBox_2", ""},
    {"lb_ReplaceExcelTextExplain", "QLabel", "groupBox_2", "替换为："},
    {"lEdt_ReplaceExcelText", "QLineEdit", "groupBox_2", ""},
    {"pBtn_ReplaceExcelText", "QPushButton", "groupBox_2", "全部替换"},
    {"widget_2", "QWidget", "groupBox_2", nullptr},
    {"label", "QLabel", "widget_2", nullptr},
    {"lb_FindTextExplain_2", "QLabel", "widget_2", "查找内容："},
    {"pTEdt_FindText", "QPlainTextEdit", "widget_2", ""},
    {"lb_ReplaceExcelTextExplain_2", "QLabel", "widget_2", "替换为："},
    {"pTEdt_ReplaceExcelText", "QPlainTextEdit", "widget_2", ""},
    {"pBtn_ReplaceExcelText_2", "QPushButton", "widget_2", "全部替换"},
    {"groupBox", "QGroupBox", "groupBox_2", "2、插入"},
    {"rBtn_InsertFront", "QRadioButton", "groupBox", "文件名前插入"},
    {"rBtn_InsertBehind", "QRadioButton", "groupBox", "文件名后插入"},
    {"label_2", "QLabel", "groupBox", "插入内容："},
    {"lEdt_InsertText", "QLineEdit", "groupBox", ""},
    {"pBtn_InsertText", "QPushButton", "groupBox", "插入"},
    {"lb_ShowDisposingFile", "QLabel", "wgt_AddToTab1", ""},
};

struct LayoutRow
{
    const char *name;
    const char *className;
    int spacing;
    int margins[4]; // left, top, right, bottom; -1: the toolkit's default
    const char *items;
};

const LayoutRow kLayouts[] = {
    {"verticalLayout_4", "QVBoxLayout", 6, {0, 0, 0, 0}, "tabWidget"},
    {"verticalLayout_3", "QVBoxLayout", 12, {0, 0, 0, 0}, "gBox_Setting lb_ShowDisposingFile"},
    {"verticalLayout", "QVBoxLayout", 6, {11, 11, 11, 11}, "widget_3 groupBox_2"},
    {"verticalLayout_7", "QVBoxLayout", 4, {-1, 2, -1, 5}, "horizontalLayout_2"},
    {"horizontalLayout_2", "QHBoxLayout", 6, {-1, -1, -1, 5},
     "pBtn_SourcePath lEdt_SourcePath cBox_JustShow_2 cBox_JustSuffix cBox_RegExpMode"},
    {"verticalLayout_8", "QVBoxLayout", 6, {-1, 5, -1, 5}, "horizontalLayout_4 widget_2 groupBox"},
    {"horizontalLayout_4", "QHBoxLayout", 6, {-1, -1, -1, 0},
     "lb_FindTextExplain lEdt_FindText lb_ReplaceExcelTextExplain lEdt_ReplaceExcelText "
     "pBtn_ReplaceExcelText"},
    {"verticalLayout_10", "QVBoxLayout", 6, {0, -1, 0, -1}, "label horizontalLayout_3"},
    {"horizontalLayout_3", "QHBoxLayout", 6, {-1, -1, -1, -1},
     "verticalLayout_2 verticalLayout_9 pBtn_ReplaceExcelText_2"},
    {"verticalLayout_2", "QVBoxLayout", 6, {-1, -1, -1, -1}, "lb_FindTextExplain_2 pTEdt_FindText"},
    {"verticalLayout_9", "QVBoxLayout", 6, {-1, -1, -1, -1},
     "lb_ReplaceExcelTextExplain_2 pTEdt_ReplaceExcelText"},
    {"horizontalLayout_5", "QHBoxLayout", 6, {11, 11, 11, 11},
     "rBtn_InsertFront rBtn_InsertBehind label_2 lEdt_InsertText pBtn_InsertText"},
};

QString TextOf(QWidget *widget)
{
    if (auto *button = qobject_cast<QAbstractButton *>(widget))
        return button->text();
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text();
    if (auto *box = qobject_cast<QGroupBox *>(widget))
        return box->title();
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        return edit->text();
    if (auto *edit = qobject_cast<QPlainTextEdit *>(widget))
        return edit->toPlainText();
    return QString();
}

QString ItemName(QLayoutItem *item)
{
    if (item->widget())
        return item->widget()->objectName();
    if (item->layout())
        return item->layout()->objectName();
    return QStringLiteral("<spacer>");
}

// The margin a layout really applies for a side given as -1: the style's
// layout margin for a widget's own layout, nothing for a nested one.
int ResolvedMargin(const QLayout *layout, int given, QStyle::PixelMetric metric)
{
    if (given >= 0)
        return given;
    QWidget *owner = layout->parentWidget();
    if (owner && owner->layout() == layout)
        return owner->style()->pixelMetric(metric, nullptr, owner);
    return 0;
}

} // namespace

class TestMainWindowForm : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        window.reset(new QMainWindow);
        form.reset(new MainWindowForm);
        form->setupUi(window.data());
    }

    void windowNameAndSize()
    {
        QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(window->size(), QSize(940, 640));
        QCOMPARE(window->windowTitle(), QStringLiteral("MainWindow"));
        QCOMPARE(window->centralWidget(), form->centralWidget);
    }

    void existingObjectNameIsKept()
    {
        QMainWindow named;
        named.setObjectName(QStringLiteral("AlreadyNamed"));
        MainWindowForm other;
        other.setupUi(&named);
        QCOMPARE(named.objectName(), QStringLiteral("AlreadyNamed"));
    }

    void widgetsHaveTheirNamesTypesParentsAndTexts()
    {
        for (const WidgetRow &row : kWidgets) {
            const QString name = QString::fromLatin1(row.name);
            QWidget *widget = window->findChild<QWidget *>(name);
            QVERIFY2(widget, row.name);
            QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), QString::fromLatin1(row.className));
            QVERIFY2(widget->parentWidget(), row.name);
            QCOMPARE(widget->parentWidget()->objectName(), QString::fromLatin1(row.parent));
            if (row.text)
                QCOMPARE(TextOf(widget), QString::fromUtf8(row.text));
            QVERIFY2(widget->isEnabled(), row.name);
            QVERIFY2(widget->toolTip().isEmpty(), row.name);
            // No two objects may share a name: connect-by-name would pick either.
            QCOMPARE(window->findChildren<QWidget *>(name).size(), 1);
        }
    }

    void siblingsAreInCreationOrder()
    {
        QMap<QString, QStringList> expected;
        for (const WidgetRow &row : kWidgets)
            expected[QString::fromLatin1(row.parent)].append(QString::fromLatin1(row.name));
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            QWidget *parent = it.key() == QLatin1String("MainWindow")
                ? window.data()
                : window->findChild<QWidget *>(it.key());
            QVERIFY(parent);
            QStringList actual;
            for (QObject *child : parent->children()) {
                if (it.value().contains(child->objectName()))
                    actual.append(child->objectName());
            }
            QCOMPARE(actual, it.value());
        }
    }

    void layoutsHaveTheirSpacingMarginsAndItems()
    {
        for (const LayoutRow &row : kLayouts) {
            QLayout *layout = window->findChild<QLayout *>(QString::fromLatin1(row.name));
            QVERIFY2(layout, row.name);
            QCOMPARE(QString::fromLatin1(layout->metaObject()->className()), QString::fromLatin1(row.className));
            QCOMPARE(layout->spacing(), row.spacing);
            const QMargins margins = layout->contentsMargins();
            QCOMPARE(margins.left(), ResolvedMargin(layout, row.margins[0], QStyle::PM_LayoutLeftMargin));
            QCOMPARE(margins.top(), ResolvedMargin(layout, row.margins[1], QStyle::PM_LayoutTopMargin));
            QCOMPARE(margins.right(), ResolvedMargin(layout, row.margins[2], QStyle::PM_LayoutRightMargin));
            QCOMPARE(margins.bottom(), ResolvedMargin(layout, row.margins[3], QStyle::PM_LayoutBottomMargin));
            QStringList items;
            for (int i = 0; i < layout->count(); ++i)
                items.append(ItemName(layout->itemAt(i)));
            QCOMPARE(items.join(QLatin1Char(' ')), QString::fromLatin1(row.items));
        }
    }

    void tabPage()
    {
        QCOMPARE(form->tabWidget->count(), 1);
        QCOMPARE(form->tabWidget->currentIndex(), 0);
        QCOMPARE(form->tabWidget->widget(0), form->wgt_AddToTab1);
        QCOMPARE(form->tabWidget->tabText(0), QStringLiteral("软件设置"));
    }

    void initialStates()
    {
        QVERIFY(form->rBtn_InsertFront->isChecked());
        QVERIFY(!form->rBtn_InsertBehind->isChecked());
        QCOMPARE(form->cBox_JustShow_2->checkState(), Qt::Unchecked);
        QVERIFY(!form->cBox_JustSuffix->isChecked());
        QVERIFY(!form->cBox_RegExpMode->isChecked());

        // The two radio buttons exclude each other through their shared parent.
        form->rBtn_InsertBehind->click();
        QVERIFY(form->rBtn_InsertBehind->isChecked());
        QVERIFY(!form->rBtn_InsertFront->isChecked());
    }

    void sizePoliciesFontsAndStyle()
    {
        const QSizePolicy expanding(QSizePolicy::Expanding, QSizePolicy::Expanding);
        QCOMPARE(form->gBox_Setting->sizePolicy(), expanding);
        QCOMPARE(form->widget_3->sizePolicy(), expanding);
        QCOMPARE(form->lb_ShowDisposingFile->sizePolicy(), expanding);
        QCOMPARE(form->pBtn_SourcePath->sizePolicy(), QSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed));

        QCOMPARE(form->pBtn_SourcePath->font().family(), QStringLiteral("Agency FB"));
        QVERIFY(form->pBtn_SourcePath->font().bold());
        QCOMPARE(form->pBtn_SourcePath->font().weight(), 75);

        QCOMPARE(form->groupBox_2->minimumSize(), QSize(0, 250));
        QCOMPARE(form->groupBox->minimumSize(), QSize(0, 0));
        QCOMPARE(form->lb_ShowDisposingFile->minimumSize(), QSize(0, 0));
        QCOMPARE(form->lb_ShowDisposingFile->maximumSize(), QSize(16777215, 16777215));
        QCOMPARE(form->lb_ShowDisposingFile->styleSheet(), QStringLiteral("color: rgb(255, 0, 0);"));
    }

    void pairsLabelIsRichTextWithBoldAndRedSpans()
    {
        QTextDocument document;
        document.setHtml(form->label->text());
        QCOMPARE(document.toPlainText(),
                 QStringLiteral("多个内容同时查找替换时,请换行表示,并一一对应（建议先备份）："));
        QStringList spans;
        for (QTextBlock::iterator it = document.begin().begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            QString kind;
            if (format.fontWeight() > QFont::Normal)
                kind = QStringLiteral("bold");
            else if (format.foreground().color() == QColor(0xff, 0, 0))
                kind = QStringLiteral("red");
            spans.append(kind + QLatin1Char(':') + fragment.text());
        }
        QCOMPARE(spans, QStringList({QStringLiteral("bold:多个内容同时查找替换时,请换行表示,并一一对应"),
                                     QStringLiteral("red:（建议先备份）"), QStringLiteral("bold:：")}));
    }

    void progressLabelSharesGrowthAndGroupNeverShorterThan250()
    {
        window->resize(940, 400);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.data()));
        QVERIFY(form->groupBox_2->height() >= 250);
        const int before = form->lb_ShowDisposingFile->height();
        window->resize(940, 1000);
        QTRY_VERIFY(form->lb_ShowDisposingFile->height() > before);
        QVERIFY(form->gBox_Setting->height() > 250);
    }

private:
    QScopedPointer<QMainWindow> window;
    QScopedPointer<MainWindowForm> form;
};

QTEST_MAIN(TestMainWindowForm)
#include "tst_mainwindowform.moc"
