#pragma once

#include <QColor>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QWidget>

class QTimer;

// Positions and sizes are laid out in twips; 15 twips are one pixel at 96 dpi.
constexpr int kTwipsPerPixel = 15;
inline int twipsToPixels(int twips)
{
    // Round half away from zero so negative positions mirror positive ones.
    return twips >= 0 ? (twips + kTwipsPerPixel / 2) / kTwipsPerPixel
                      : -((-twips + kTwipsPerPixel / 2) / kTwipsPerPixel);
}
inline int pixelsToTwips(int pixels)
{
    return pixels * kTwipsPerPixel;
}

// A timer whose interval 0 means "no ticks"; setting the interval it already
// runs with leaves its schedule alone.
void setTimerInterval(QTimer *timer, int milliseconds);

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

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Kind m_kind;
    QColor m_fill = Qt::white;
    bool m_filled = false;
    QColor m_border = Qt::black;
    int m_borderWidth = 1;
};

// A countdown field: one line of at most two characters that reports double-clicks.
class DelayField : public QLineEdit
{
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;

signals:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
};

// The title field: reports the focus going to another control of the window
// (not a switch to another application or a popup).
class TitleField : public QLineEdit
{
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;

signals:
    void focusLost();

protected:
    void focusOutEvent(QFocusEvent *event) override;
};

// The log area: several lines the operator can type in, reporting double-clicks.
class LogArea : public QPlainTextEdit
{
    Q_OBJECT
public:
    using QPlainTextEdit::QPlainTextEdit;

signals:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;
};
