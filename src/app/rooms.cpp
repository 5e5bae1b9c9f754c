#include "app/rooms.h"

#include "aids/eventlog.h"
#include "aids/title.h"
#include "app/mainwindow.h"
#include "controls/controls.h"
#include "core/socketarray.h"
#include "countdown/countdown.h"
#include "countdown/timeframesender.h"
#include "links/addresslist.h"
#include "links/healthbook.h"
#include "links/supervisor.h"

#include <QCheckBox>
#include <QLineEdit>

Rooms wireRooms(MainWindow &w)
{
    Rooms r;
    r.log = new EventLog(w.INP_LOG, &w);
    EventLog *log = r.log;
    const auto logLine = [log](const QString &message) { log->LOG_APPEND(message); };
    r.title = new Title(w.INP_TITLE, logLine, &w);
    r.list = new AddressList(w.LST_IP, w.INP_IP, w.B_IP_ADD, w.B_IP_DEL, *w.TCPIP_TCP, logLine, &w);

    AddressList *list = r.list;
    const std::array<QLineEdit *, 3> fields{w.INP_DELAY[0], w.INP_DELAY[1], w.INP_DELAY[2]};
    r.sender = new TimeFrameSender(fields, *w.TCPIP_TCP,
                                   [list](int index) { return list->isMarked(index); }, &w);

    TimeFrameSender *sender = r.sender;
    r.countdown = new Countdown(w.INP_DELAY, w.SW_GO, w.B_RESET, w.TIM_REBOUR, w.VERT, w.ROUGE,
                                [sender](int index) { sender->INP_DELAY_Change(index); }, &w);

    ShapeWidget *lamp = w.TCP_OK;
    QCheckBox *swCfg = w.SW_CFG;
    Supervisor::Hooks hooks;
    hooks.log = logLine;
    hooks.sendCurrentTime = [sender] { sender->INP_DELAY_Change(0); };
    hooks.paintLamp = [lamp](const QColor &colour) {
        lamp->setFillColor(colour);
        // A screen reader hears what the colour shows.
        lamp->setAccessibleDescription(
            colour == Supervisor::kLampGreen
                ? QStringLiteral("TCP CONNECTION STATUS: every display connected")
                : QStringLiteral("TCP CONNECTION STATUS: not every display connected"));
    };
    hooks.openPanel = [swCfg] { swCfg->setChecked(true); };
    hooks.describeLamp = [lamp](const QString &text) { lamp->setToolTip(text); };
    r.supervisor = new Supervisor(*list, *w.TCPIP_TCP, *w.TCPIP_UDP, std::move(hooks), w.TIM_IP_CON, &w);
    r.health = new HealthBook(*list, *w.TCPIP_TCP, [log] { return log->now(); }, &w);
    r.supervisor->setHealthBook(r.health);
    return r;
}
