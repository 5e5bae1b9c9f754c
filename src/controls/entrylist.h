#pragma once

#include <QListWidget>

// LST_IP's widget: a list whose current entry is only ever one the operator
// chose, by a click or by the arrow keys, Home or End. Qt's item views make the
// first row current when the focus arrives by keyboard while none is current;
// "Del" would then remove an entry nobody chose.
class EntryList : public QListWidget
{
    Q_OBJECT
public:
    using QListWidget::QListWidget;

protected:
    void focusInEvent(QFocusEvent *event) override;
};
