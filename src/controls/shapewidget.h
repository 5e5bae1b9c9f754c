#pragma once

#include <QColor>
#include <QWidget>

// A filled or outlined rectangle or circle: the lamp, the band, the swatches.
class ShapeWidget : public QWidget
{
    Q_OBJECT
public:
    enum class Kind { Rectangle, Circle };

    explicit ShapeWidget(Kind kind, QWidget *parent = nullptr);

    QColor fillColor() const { return m_fill; }
    void setFillColor(const QColor &color);
    bool isFilled() const { return m_filled; }
    void setFilled(bool filled);
    void setBorder(const QColor &color, int width);

signals:
    // Only when the colour really changes.
    void fillColorChanged(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Kind m_kind;
    QColor m_fill = Qt::white;
    bool m_filled = false;
    QColor m_border = Qt::black;
    int m_borderWidth = 1;
};
