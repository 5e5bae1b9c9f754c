#pragma once

// The countdown room's controls around three given fields, wired as the window
// wires them; `change` stands for the fields' change handling. And the same
// room sending through a time-frame sender to an address list, over whatever
// socket layer the test hands in.

#include "controls/controls.h"
#include "countdown/countdown.h"
#include "countdown/timeframesender.h"
#include "links/addresslist.h"
#include "core/socketarray.h"
#include "support/testfiles.h"

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>

struct CountdownControls
{
    static QColor running() { return QColor(192, 255, 192); }
    static QColor stopped() { return QColor(255, 192, 192); }

    CountdownControls(const std::array<DelayField *, 3> &fields, Countdown::ChangeHandler change,
                      QWidget *parent = nullptr)
        : swGo(QStringLiteral("&Run"), parent),
          bReset(QStringLiteral("&Reset"), parent),
          vert(ShapeWidget::Kind::Rectangle, parent),
          rouge(ShapeWidget::Kind::Rectangle, parent),
          countdown(fields, &swGo, &bReset, &timer, &vert, &rouge, std::move(change))
    {
        for (DelayField *field : fields) {
            field->setMaxLength(2);
            field->setText(QStringLiteral("00"));
        }
        timer.setTimerType(Qt::PreciseTimer);
        vert.setFillColor(running());
        rouge.setFillColor(stopped());
        vert.hide();
        rouge.hide();
        countdown.SW_GO_Click(); // start-up applies the stopped state once
    }

    QCheckBox swGo;
    QPushButton bReset;
    QTimer timer;
    ShapeWidget vert;
    ShapeWidget rouge;
    Countdown countdown;
};

struct SendingCountdown
{
    explicit SendingCountdown(SocketFactory &factory) : sockets(factory) {}

    // As the operator does it: type the text, press "Add".
    void addEntry(const QString &text)
    {
        inpIp.setText(text);
        addresses.B_IP_ADD_Click();
    }
    // "h:m:s" into the three fields.
    void set(const QString &hms)
    {
        const QStringList parts = hms.split(QLatin1Char(':'));
        for (int i = 0; i < 3; ++i)
            fields[i]->setText(parts.at(i));
    }

    TempCurrentDir dir; // adding entries writes the address file
    TcpSocketArray sockets;
    QListWidget lstIp;
    QLineEdit inpIp;
    QPushButton bAdd;
    QPushButton bDel;
    AddressList addresses{&lstIp, &inpIp, &bAdd, &bDel, sockets};
    DelayField hours;
    DelayField minutes;
    DelayField seconds;
    std::array<DelayField *, 3> fields{&hours, &minutes, &seconds};
    TimeFrameSender sender{{&hours, &minutes, &seconds}, addresses, sockets};
    CountdownControls controls{fields, [this](int index) { sender.INP_DELAY_Change(index); }};
};
