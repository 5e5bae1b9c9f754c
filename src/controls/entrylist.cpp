#include "controls/entrylist.h"

#include <QFocusEvent>
#include <QItemSelectionModel>

void EntryList::focusInEvent(QFocusEvent *event)
{
    const bool hadCurrent = currentIndex().isValid();
    QListWidget::focusInEvent(event);
    if (!hadCurrent && currentIndex().isValid())
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
}

#include "moc_entrylist.cpp"
