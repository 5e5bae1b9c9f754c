#include "controls/artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <array>

namespace artwork {
namespace {

// Where the window lays the countdown row: the face window surrounds it with a
// few pixels of dark glass, the bezel and the housing frame the rest.
constexpr QRect kHousing(0, 0, 232, 97);
constexpr QRect kBezel(12, 27, 213, 60);
constexpr QRect kFace(16, 31, 206, 52);

void drawScrew(QPainter &p, QPointF centre)
{
    // A countersunk cross-head screw lit from the top left.
    QRadialGradient head(centre - QPointF(1.0, 1.0), 3.5);
    head.setColorAt(0.0, QColor(250, 250, 252));
    head.setColorAt(0.6, QColor(170, 173, 178));
    head.setColorAt(1.0, QColor(105, 108, 114));
    p.setPen(QPen(QColor(80, 83, 88), 0.8));
    p.setBrush(head);
    p.drawEllipse(centre, 2.6, 2.6);
    p.setPen(QPen(QColor(70, 72, 78), 0.9));
    p.drawLine(centre + QPointF(-1.4, 0.0), centre + QPointF(1.4, 0.0));
    p.drawLine(centre + QPointF(0.0, -1.4), centre + QPointF(0.0, 1.4));
}

void drawHousing(QPainter &p)
{
    // Brushed aluminium with a darker edge: light enough that the black
    // caption laid over its top left corner stays readable.
    const QRectF outer = QRectF(kHousing).adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient metal(0, 0, 0, kHousing.height());
    metal.setColorAt(0.0, QColor(228, 230, 233));
    metal.setColorAt(0.45, QColor(210, 213, 218));
    metal.setColorAt(1.0, QColor(178, 182, 188));
    p.setPen(QPen(QColor(82, 86, 93), 1.0));
    p.setBrush(metal);
    p.drawRoundedRect(outer, 5, 5);

    // Faint brushing strokes.
    for (int y = 3; y < kHousing.height() - 3; y += 2) {
        const int shade = (y * 37) % 7;
        p.setPen(QPen(QColor(255, 255, 255, 18 + shade * 3), 1.0));
        p.drawLine(QPointF(4, y + 0.5), QPointF(kHousing.width() - 4, y + 0.5));
    }

    // Bevel: a highlight along the top and left, a shadow along the bottom and right.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 200), 1.0));
    p.drawLine(QPointF(5, 1.5), QPointF(kHousing.width() - 5, 1.5));
    p.drawLine(QPointF(1.5, 5), QPointF(1.5, kHousing.height() - 5));
    p.setPen(QPen(QColor(60, 64, 70, 150), 1.0));
    p.drawLine(QPointF(5, kHousing.height() - 1.5),
               QPointF(kHousing.width() - 5, kHousing.height() - 1.5));
    p.drawLine(QPointF(kHousing.width() - 1.5, 5),
               QPointF(kHousing.width() - 1.5, kHousing.height() - 5));

    // Corner screws that hold the front panel.
    const qreal right = kHousing.width() - 6.0;
    for (const QPointF &at :
         {QPointF(6.0, 5.0), QPointF(right, 5.0), QPointF(6.0, 91.5), QPointF(right, 91.5)})
        drawScrew(p, at);
}

void drawTopStrip(QPainter &p)
{
    // Silk-screened legend, left of the model plate.
    QFont legend;
    legend.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    legend.setPixelSize(7);
    legend.setBold(true);
    legend.setLetterSpacing(QFont::AbsoluteSpacing, 1.0);
    p.setFont(legend);
    p.setPen(QColor(96, 100, 108));
    p.drawText(QRectF(72, 9, 78, 12), Qt::AlignCenter, QStringLiteral("COUNTDOWN"));

    // Power LED in its chrome ring, lit.
    const QPointF led(156.5, 15.5);
    p.setPen(QPen(QColor(110, 114, 120), 0.8));
    p.setBrush(QColor(150, 154, 160));
    p.drawEllipse(led, 3.6, 3.6);
    QRadialGradient glow(led - QPointF(0.7, 0.7), 2.8);
    glow.setColorAt(0.0, QColor(220, 255, 200));
    glow.setColorAt(0.5, QColor(60, 220, 60));
    glow.setColorAt(1.0, QColor(10, 110, 20));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(led, 2.5, 2.5);

    // The model plate: dark anodised, engraved text, two rivets.
    const QRectF plate(165.5, 8.5, 52, 14);
    QLinearGradient anodised(plate.topLeft(), plate.bottomLeft());
    anodised.setColorAt(0.0, QColor(70, 75, 84));
    anodised.setColorAt(1.0, QColor(38, 41, 47));
    p.setPen(QPen(QColor(30, 32, 36), 1.0));
    p.setBrush(anodised);
    p.drawRoundedRect(plate, 2, 2);
    p.setPen(QPen(QColor(255, 255, 255, 90), 1.0));
    p.drawLine(plate.bottomLeft() + QPointF(2, 1), plate.bottomRight() + QPointF(-2, 1));
    for (const qreal x : {plate.left() + 3.0, plate.right() - 3.0}) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(150, 154, 160));
        p.drawEllipse(QPointF(x, plate.center().y()), 1.1, 1.1);
    }
    QFont model;
    model.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    model.setPixelSize(9);
    model.setBold(true);
    p.setFont(model);
    p.setPen(QColor(225, 228, 232));
    p.drawText(plate.adjusted(4, 0, -4, 0), Qt::AlignCenter, QStringLiteral("RV-38T"));
}

void drawFace(QPainter &p)
{
    // The bezel: a dark moulded frame, lit from above, stepping down to the glass.
    const QRectF bezel = QRectF(kBezel).adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient moulding(bezel.topLeft(), bezel.bottomLeft());
    moulding.setColorAt(0.0, QColor(92, 96, 104));
    moulding.setColorAt(0.5, QColor(62, 65, 71));
    moulding.setColorAt(1.0, QColor(40, 42, 47));
    p.setPen(QPen(QColor(36, 38, 42), 1.0));
    p.setBrush(moulding);
    p.drawRoundedRect(bezel, 4, 4);
    // Where the housing meets the bezel: a bright lip above, a shadow below.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 150), 1.0));
    p.drawLine(bezel.bottomLeft() + QPointF(4, 1), bezel.bottomRight() + QPointF(-4, 1));
    p.setPen(QPen(QColor(0, 0, 0, 60), 1.0));
    p.drawLine(bezel.topLeft() + QPointF(4, -1), bezel.topRight() + QPointF(-4, -1));

    // The recessed face window, smoked glass over a black LED board.
    const QRectF face(kFace);
    QLinearGradient glass(face.topLeft(), face.bottomLeft());
    glass.setColorAt(0.0, QColor(6, 7, 9));
    glass.setColorAt(0.5, QColor(16, 18, 22));
    glass.setColorAt(1.0, QColor(24, 27, 32));
    p.setPen(Qt::NoPen);
    p.setBrush(glass);
    p.drawRect(face);
    // Inner shadow: the glass sits below the bezel.
    p.setPen(QPen(QColor(0, 0, 0), 1.0));
    p.drawLine(face.topLeft() + QPointF(0, 0.5), face.topRight() + QPointF(0, 0.5));
    p.drawLine(face.topLeft() + QPointF(0.5, 0), face.bottomLeft() + QPointF(0.5, 0));
    p.setPen(QPen(QColor(120, 124, 132, 160), 1.0));
    p.drawLine(face.bottomLeft() + QPointF(1, -0.5), face.bottomRight() + QPointF(0, -0.5));
    p.drawLine(face.topRight() + QPointF(-0.5, 1), face.bottomRight() + QPointF(-0.5, 0));

    // A faint reflection across the glass, mostly hidden behind the fields.
    QPainterPath sheen;
    sheen.moveTo(face.left() + 1, face.top() + 1);
    sheen.lineTo(face.left() + 70, face.top() + 1);
    sheen.lineTo(face.left() + 30, face.bottom() - 1);
    sheen.lineTo(face.left() + 1, face.bottom() - 1);
    sheen.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 14));
    p.drawPath(sheen);
}

void drawBottomStrip(QPainter &p)
{
    // Ventilation slots under the face, centred.
    constexpr int slotCount = 14;
    constexpr qreal pitch = 5.0;
    const qreal left = (kHousing.width() - (slotCount - 1) * pitch - 2.0) / 2.0;
    for (int i = 0; i < slotCount; ++i) {
        const QRectF slot(left + i * pitch, 89.5, 2.0, 4.0);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(58, 61, 67));
        p.drawRoundedRect(slot, 1, 1);
        p.setPen(QPen(QColor(255, 255, 255, 150), 1.0));
        p.drawLine(slot.bottomLeft() + QPointF(0, 0.5), slot.bottomRight() + QPointF(0, 0.5));
    }
}

// The 16 colours of the classic palette; the icon uses nothing else.
constexpr QRgb kBlack = qRgb(0, 0, 0);
constexpr QRgb kGrey = qRgb(128, 128, 128);
constexpr QRgb kSilver = qRgb(192, 192, 192);
constexpr QRgb kWhite = qRgb(255, 255, 255);
constexpr QRgb kLime = qRgb(0, 255, 0);
constexpr QRgb kRed = qRgb(255, 0, 0);
constexpr QRgb kNavy = qRgb(0, 0, 128);

// Segments a..g of a 4 x 7 pixel digit, one pixel thick.
void drawTinyDigit(QPainter &p, int x, int y, int digit)
{
    static constexpr std::array<quint8, 10> kSegments
        = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
    const quint8 on = kSegments[digit];
    const QRect bars[7] = {
        {x + 1, y, 2, 1},     // a
        {x + 3, y + 1, 1, 2}, // b
        {x + 3, y + 4, 1, 2}, // c
        {x + 1, y + 6, 2, 1}, // d
        {x, y + 4, 1, 2},     // e
        {x, y + 1, 1, 2},     // f
        {x + 1, y + 3, 2, 1}, // g
    };
    for (int s = 0; s < 7; ++s) {
        if ((on >> s) & 1)
            p.fillRect(bars[s], QColor(kLime));
    }
}

} // namespace

QPixmap displayUnit(qreal devicePixelRatio)
{
    // Painted in logical pixels at the device's ratio: on a scaled screen every
    // line and letter is drawn at full resolution instead of being enlarged.
    QImage image(kHousing.size() * devicePixelRatio, QImage::Format_RGB32);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    drawHousing(p);
    drawTopStrip(p);
    drawFace(p);
    drawBottomStrip(p);
    p.end();
    return QPixmap::fromImage(image);
}

void paintIcon(QPainter &p)
{
    // Hard pixels in the classic 16 colours, as small icons were drawn.
    p.setRenderHint(QPainter::Antialiasing, false);

    // Housing with a one-pixel bevel and two feet.
    p.fillRect(QRect(1, 6, 30, 20), QColor(kSilver));
    p.fillRect(QRect(1, 6, 30, 1), QColor(kWhite));
    p.fillRect(QRect(1, 6, 1, 20), QColor(kWhite));
    p.fillRect(QRect(1, 25, 30, 1), QColor(kGrey));
    p.fillRect(QRect(30, 7, 1, 19), QColor(kGrey));
    p.fillRect(QRect(0, 5, 32, 1), QColor(kBlack));
    p.fillRect(QRect(0, 26, 32, 1), QColor(kBlack));
    p.fillRect(QRect(0, 5, 1, 22), QColor(kBlack));
    p.fillRect(QRect(31, 5, 1, 22), QColor(kBlack));
    p.fillRect(QRect(4, 27, 4, 2), QColor(kGrey));
    p.fillRect(QRect(24, 27, 4, 2), QColor(kGrey));

    // Model plate and power lamp on the top strip.
    p.fillRect(QRect(19, 8, 9, 2), QColor(kNavy));
    p.fillRect(QRect(4, 8, 2, 2), QColor(kRed));

    // The black face with a grey recess line, showing 12:30.
    p.fillRect(QRect(3, 11, 26, 12), QColor(kGrey));
    p.fillRect(QRect(4, 12, 25, 11), QColor(kBlack));
    if (p.worldTransform().m11() < 1.0) {
        // Below 32 pixels a one-unit stroke falls between pixels and the digits
        // turn to noise: a lit bar for each digit and the colon stand for them.
        for (const int x : {6, 10, 20, 24})
            p.fillRect(QRect(x, 14, 2, 6), QColor(kLime));
        p.fillRect(QRect(14, 14, 2, 2), QColor(kLime));
        p.fillRect(QRect(14, 18, 2, 2), QColor(kLime));
        return;
    }
    drawTinyDigit(p, 5, 14, 1);
    drawTinyDigit(p, 10, 14, 2);
    p.fillRect(QRect(15, 15, 1, 1), QColor(kLime));
    p.fillRect(QRect(15, 18, 1, 1), QColor(kLime));
    drawTinyDigit(p, 17, 14, 3);
    drawTinyDigit(p, 22, 14, 0);
}

QImage iconImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.scale(size / 32.0, size / 32.0);
    paintIcon(p);
    p.end();
    return image;
}

QIcon windowIcon()
{
    // One bitmap per size, each painted for it: a scaled screen or a large
    // launcher picks a size that is drawn, not enlarged.
    QIcon icon;
    for (const int size : kIconSizes)
        icon.addPixmap(QPixmap::fromImage(iconImage(size)));
    return icon;
}

} // namespace artwork
