#include "controls/artwork.h"

#include <QDir>
#include <QImage>
#include <QSet>
#include <QtTest>

// The pictures are drawn by code; these checks hold whatever the drawing looks like.
// Set RV38T_ARTWORK_DIR to a folder to get both pictures there as PNG files.
class TestArtwork : public QObject
{
    Q_OBJECT

private:
    static double meanLightness(const QImage &image, const QRect &area)
    {
        double sum = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                sum += QColor(image.pixel(x, y)).lightness();
        return sum / (area.width() * area.height());
    }

private slots:
    void initTestCase()
    {
        const QByteArray dir = qgetenv("RV38T_ARTWORK_DIR");
        if (dir.isEmpty())
            return;
        QVERIFY(
            artwork::displayUnit().save(QDir(QString::fromLocal8Bit(dir)).filePath("unit.png")));
        const QPixmap icon = artwork::windowIcon().pixmap(32, 32);
        QVERIFY(icon.scaled(128, 128).save(QDir(QString::fromLocal8Bit(dir)).filePath("icon.png")));
    }

    void sizes()
    {
        QCOMPARE(artwork::displayUnit().size(), QSize(232, 97));
        const QIcon icon = artwork::windowIcon();
        QVERIFY(icon.availableSizes().contains(QSize(32, 32)));
        QCOMPARE(icon.pixmap(32, 32).size(), QSize(32, 32));
    }

    // The countdown row is laid over the face: its surroundings must read as a
    // dark window set in a lighter housing, so the light fields stand out.
    void faceIsDarkerThanHousing_data()
    {
        QTest::addColumn<QRect>("face");
        QTest::addColumn<QRect>("housing");
        // Face margins left visible around the fields, against the housing nearby.
        QTest::newRow("above-row") << QRect(18, 32, 200, 3) << QRect(70, 2, 90, 20);
        QTest::newRow("below-row") << QRect(18, 79, 200, 3) << QRect(20, 88, 40, 6);
        QTest::newRow("left-end") << QRect(16, 34, 3, 46) << QRect(2, 30, 6, 40);
        QTest::newRow("right-end") << QRect(218, 34, 3, 46) << QRect(225, 30, 5, 40);
        // Behind the caption placed at the top left: black text must stay readable.
        QTest::newRow("caption-corner") << QRect(18, 32, 50, 3) << QRect(20, 8, 41, 13);
    }
    void faceIsDarkerThanHousing()
    {
        QFETCH(QRect, face);
        QFETCH(QRect, housing);
        const QImage image = artwork::displayUnit().toImage();
        const double faceLight = meanLightness(image, face);
        const double housingLight = meanLightness(image, housing);
        QVERIFY2(faceLight < 50, qPrintable(QString::number(faceLight)));
        QVERIFY2(housingLight > faceLight + 80,
                 qPrintable(QStringLiteral("%1 vs %2").arg(housingLight).arg(faceLight)));
    }

    // On a scaled screen the picture is painted at the ratio, not enlarged: an
    // enlarged bitmap would have every 2 x 2 block of one colour.
    void unitPaintedAtRatio()
    {
        const QPixmap unit = artwork::displayUnit(2.0);
        QCOMPARE(unit.size(), QSize(464, 194));
        QCOMPARE(unit.deviceIndependentSize(), QSizeF(232, 97));
        const QImage image = unit.toImage();
        int mixed = 0, blocks = 0;
        for (int y = 0; y + 1 < image.height(); y += 2) {
            for (int x = 0; x + 1 < image.width(); x += 2, ++blocks) {
                const QRgb c = image.pixel(x, y);
                if (image.pixel(x + 1, y) != c || image.pixel(x, y + 1) != c
                    || image.pixel(x + 1, y + 1) != c)
                    ++mixed;
            }
        }
        QVERIFY2(mixed > blocks / 10,
                 qPrintable(QStringLiteral("%1 of %2").arg(mixed).arg(blocks)));
    }

    void iconSizes_data()
    {
        QTest::addColumn<int>("size");
        for (const int size : artwork::kIconSizes)
            QTest::newRow(qPrintable(QStringLiteral("px-%1").arg(size))) << size;
    }
    // Every size is painted from the grid, edges hard: no blend of two palette
    // colours, as smooth scaling would leave, and the same picture at each size.
    void iconSizes()
    {
        QFETCH(int, size);
        const QIcon icon = artwork::windowIcon();
        QVERIFY(icon.availableSizes().contains(QSize(size, size)));
        const QImage image
            = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.size(), QSize(size, size));
        QCOMPARE(image, artwork::iconImage(size));
        const QImage grid = artwork::iconImage(32);
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const QRgb px = image.pixel(x, y);
                QVERIFY(qAlpha(px) == 0 || qAlpha(px) == 255);
                if (size >= 32 && size % 32 == 0)
                    QCOMPARE(px, grid.pixel(x * 32 / size, y * 32 / size));
            }
        }
    }

    void iconKeepsToSixteenColours()
    {
        static const QSet<QRgb> palette
            = {qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
               qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
               qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
               qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
        const QImage image
            = artwork::windowIcon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb px = image.pixel(x, y);
                if (qAlpha(px) == 0)
                    continue;
                QCOMPARE(qAlpha(px), 255);
                QVERIFY2(palette.contains(px | 0xFF000000u),
                         qPrintable(QStringLiteral("(%1,%2)").arg(x).arg(y)));
                ++opaque;
            }
        }
        QVERIFY(opaque > 32 * 32 / 2);
    }
};

QTEST_MAIN(TestArtwork)
#include "tst_artwork.moc"
