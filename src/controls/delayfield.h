#pragma once

#include <QLineEdit>

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
