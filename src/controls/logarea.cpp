#include "controls/logarea.h"

void LogArea::mouseDoubleClickEvent(QMouseEvent *event)
{
    QPlainTextEdit::mouseDoubleClickEvent(event);
    emit doubleClicked();
}

#include "moc_logarea.cpp"
