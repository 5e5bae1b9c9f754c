#pragma once

// The countdown room as the sending side sees it: the real window over
// whatever socket layer the test hands in, under the names the countdown's
// tests use.

#include "support/roomsfixture.h"

struct SendingCountdown
{
    explicit SendingCountdown(SocketFactory &factory) : console(factory) {}

    void addEntry(const QString &text) { console.addEntry(text); }
    void set(const QString &hms) { console.set(hms); }

    RoomsFixture console;
    TcpSocketArray &sockets = console.tcp;
    AddressList &addresses = console.list;
    DelayField &hours = console.inpDelay0;
    DelayField &minutes = console.inpDelay1;
    DelayField &seconds = console.inpDelay2;
    std::array<DelayField *, 3> fields{&hours, &minutes, &seconds};
    TimeFrameSender &sender = console.sender;
    struct Controls
    {
        QCheckBox &swGo;
        QPushButton &bReset;
        QTimer &timer;
        ShapeWidget &vert;
        ShapeWidget &rouge;
        Countdown &countdown;
    } controls{console.swGo, console.bReset, console.timRebour,
               console.vert, console.rouge,  console.countdown};
};
