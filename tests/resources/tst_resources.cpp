// The compiled-in icon: present, all four sizes readable, and real artwork.

#include <QtGui/QGuiApplication>
#include <QtGui/QIcon>
#include <QtGui/QImage>
#include <QtGui/QImageReader>
#include <QtTest/QtTest>

#include <QSet>

#include <algorithm>

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void iconHasAllSizes();
    void imagesAreNotBlank_data();
    void imagesAreNotBlank();
};

void TestResources::initTestCase()
{
    // A static library's resources are linked in only through this call.
    Q_INIT_RESOURCE(resources);
    QVERIFY(QFile::exists(QStringLiteral(":/images/qzt.ico")));
    QVERIFY2(QImageReader::supportedImageFormats().contains("ico"),
             "the Qt image format plugin for .ico (qico) is missing");
}

void TestResources::iconHasAllSizes()
{
    const QIcon icon(QStringLiteral(":/images/qzt.ico"));
    QVERIFY(!icon.isNull());
    QList<int> sizes;
    for (const QSize &size : icon.availableSizes()) {
        QCOMPARE(size.width(), size.height());
        sizes << size.width();
    }
    std::sort(sizes.begin(), sizes.end());
    QCOMPARE(sizes, (QList<int>() << 16 << 32 << 48 << 128));
}

void TestResources::imagesAreNotBlank_data()
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < 4; ++i)
        QTest::newRow(qPrintable(QString::number(i))) << i;
}

void TestResources::imagesAreNotBlank()
{
    QFETCH(int, index);
    QImageReader reader(QStringLiteral(":/images/qzt.ico"));
    QCOMPARE(reader.imageCount(), 4);
    QVERIFY(reader.jumpToImage(index));
    const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32);
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));

    int opaque = 0;
    int transparent = 0;
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) == 255)
                ++opaque;
            else if (qAlpha(pixel) == 0)
                ++transparent;
            colours.insert(pixel);
        }
    }
    const int area = image.width() * image.height();
    // Mostly drawn, with a see-through margin somewhere, and more than a blot.
    QVERIFY2(opaque > area / 3, qPrintable(QStringLiteral("%1 opaque of %2").arg(opaque).arg(area)));
    QVERIFY(transparent > 0);
    QVERIFY2(colours.size() >= 5, qPrintable(QStringLiteral("%1 colours").arg(colours.size())));
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
