#pragma once

#include <QPlainTextEdit>

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
