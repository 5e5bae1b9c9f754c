#include "controls/delayfield.h"

void DelayField::mouseDoubleClickEvent(QMouseEvent *event)
{
    QLineEdit::mouseDoubleClickEvent(event);
    emit doubleClicked();
}

#include "moc_delayfield.cpp"
