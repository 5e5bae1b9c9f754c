#pragma once

#include <QLineEdit>

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
