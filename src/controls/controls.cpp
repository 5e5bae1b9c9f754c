#include "controls/controls.h"

#include <QTimer>

void setTimerInterval(QTimer *timer, int milliseconds)
{
    if (milliseconds <= 0) {
        timer->stop();
        return;
    }
    if (timer->isActive() && timer->interval() == milliseconds)
        return;
    timer->start(milliseconds);
}
