#include "simulator/segmentface.h"

#include <QPainter>
#include <QPolygonF>

#include <array>

namespace {

struct Cell
{
    QChar c;
    bool colon;
};

// A segment as an elongated hexagon between two points on its axis.
QPolygonF bar(QPointF from, QPointF to, qreal thick)
{
    const bool horizontal = qFuzzyCompare(from.y(), to.y());
    const qreal h = thick / 2;
    if (horizontal)
        return QPolygonF({from,
                          {from.x() + h, from.y() - h},
                          {to.x() - h, to.y() - h},
                          to,
                          {to.x() - h, to.y() + h},
                          {from.x() + h, from.y() + h}});
    return QPolygonF({from,
                      {from.x() + h, from.y() + h},
                      {to.x() + h, to.y() - h},
                      to,
                      {to.x() - h, to.y() - h},
                      {from.x() - h, from.y() + h}});
}

} // namespace

SegmentFace::SegmentFace(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(180, 56);
}

void SegmentFace::setText(const QString &text)
{
    m_text = text;
    update();
}

void SegmentFace::setLit(bool lit)
{
    m_lit = lit;
    update();
}

quint8 SegmentFace::segments(QChar c)
{
    static constexpr std::array<quint8, 10> kDigits
        = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
        return kDigits[c.unicode() - '0'];
    if (c == QLatin1Char('-'))
        return 0x40;
    if (c == QLatin1Char(' '))
        return 0;
    // Anything else the display cannot show: three bars, so it is seen.
    return 0x49;
}

void SegmentFace::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 66), 2));
    p.setBrush(QColor(12, 12, 14));
    p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 6, 6);

    QList<Cell> cells;
    const bool clock = m_text.size() == 6;
    for (int i = 0; i < m_text.size(); ++i) {
        if (clock && (i == 2 || i == 4))
            cells.append({QChar(), true});
        cells.append({m_text.at(i), false});
    }
    if (cells.isEmpty())
        return;

    // Fit the row: digits are 0.55 of their height wide, colons a third of a digit.
    qreal units = 0;
    for (const Cell &cell : cells)
        units += cell.colon ? 0.4 : 1.2;
    const QRectF area = QRectF(rect()).adjusted(12, 10, -12, -10);
    const qreal digitH = qMin(area.height(), area.width() / units / 0.55);
    const qreal digitW = digitH * 0.55;
    const qreal pitch = digitW * 1.2 / 1.0;
    const qreal thick = digitH * 0.11;
    qreal x = area.center().x() - units * digitW / 2;
    const qreal top = area.center().y() - digitH / 2;

    const QColor on = m_lit ? QColor(255, 48, 32) : QColor(150, 40, 30);
    const QColor off(48, 14, 12);
    p.setPen(Qt::NoPen);
    for (const Cell &cell : cells) {
        if (cell.colon) {
            const qreal cx = x + 0.2 * digitW;
            p.setBrush(on);
            p.drawEllipse(QPointF(cx, top + digitH * 0.3), thick * 0.6, thick * 0.6);
            p.drawEllipse(QPointF(cx, top + digitH * 0.7), thick * 0.6, thick * 0.6);
            x += 0.4 * digitW;
            continue;
        }
        const quint8 lit = segments(cell.c);
        const qreal l = x + thick / 2, r = x + digitW - thick / 2;
        const qreal t = top + thick / 2, m = top + digitH / 2, b = top + digitH - thick / 2;
        const qreal g = thick * 0.2;
        const std::array<QPolygonF, 7> bars = {
            bar({l + g, t}, {r - g, t}, thick), // a
            bar({r, t + g}, {r, m - g}, thick), // b
            bar({r, m + g}, {r, b - g}, thick), // c
            bar({l + g, b}, {r - g, b}, thick), // d
            bar({l, m + g}, {l, b - g}, thick), // e
            bar({l, t + g}, {l, m - g}, thick), // f
            bar({l + g, m}, {r - g, m}, thick), // g
        };
        for (int s = 0; s < 7; ++s) {
            p.setBrush((lit >> s) & 1 ? on : off);
            p.drawPolygon(bars[s]);
        }
        x += pitch;
    }
}

#include "moc_segmentface.cpp"
