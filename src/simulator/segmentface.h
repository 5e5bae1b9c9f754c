#pragma once

#include <QString>
#include <QWidget>

// The LED face of one display: seven-segment digits drawn as the display shows
// them. Six characters read as HH:MM:SS; any other text is shown as sent.
class SegmentFace : public QWidget
{
    Q_OBJECT
public:
    explicit SegmentFace(QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);
    // A display without its console shows its last value dimmed.
    void setLit(bool lit);

    // Segments a..g of a character, bit 0 = a; 0 for a blank.
    static quint8 segments(QChar c);

    QSize sizeHint() const override { return {300, 86}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text = QStringLiteral("------");
    bool m_lit = false;
};
