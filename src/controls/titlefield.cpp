#include "controls/titlefield.h"

#include <QFocusEvent>

void TitleField::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    switch (event->reason()) {
    case Qt::ActiveWindowFocusReason:
    case Qt::PopupFocusReason:
        break;
    default:
        emit focusLost();
    }
}

#include "moc_titlefield.cpp"
