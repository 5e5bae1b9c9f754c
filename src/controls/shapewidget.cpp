#include "controls/shapewidget.h"

#include <QPainter>

ShapeWidget::ShapeWidget(Kind kind, QWidget *parent) : QWidget(parent), m_kind(kind)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ShapeWidget::setFillColor(const QColor &color)
{
    if (m_fill == color)
        return;
    m_fill = color;
    update();
    emit fillColorChanged(color);
}

void ShapeWidget::setFilled(bool filled)
{
    m_filled = filled;
    update();
}

void ShapeWidget::setBorder(const QColor &color, int width)
{
    m_border = color;
    m_borderWidth = width;
    update();
}

void ShapeWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, m_kind == Kind::Circle);
    QPen pen(m_border, m_borderWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(m_borderWidth > 0 ? pen : QPen(Qt::NoPen));
    painter.setBrush(m_filled ? QBrush(m_fill) : QBrush(Qt::NoBrush));
    const qreal inset = m_borderWidth / 2.0;
    QRectF box = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
    if (m_kind == Kind::Circle) {
        const qreal d = qMin(box.width(), box.height());
        box = QRectF(box.center().x() - d / 2, box.center().y() - d / 2, d, d);
        painter.drawEllipse(box);
    } else {
        painter.drawRect(box);
    }
}

#include "moc_shapewidget.cpp"
