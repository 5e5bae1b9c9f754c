#pragma once

// The controls and rooms of the display-link side of the window, wired as the
// window wires them, over whatever socket layer the test hands in. Widgets are
// built hidden; the address file lives in a temporary directory made current.

#include "aids/eventlog.h"
#include "controls/controls.h"
#include "countdown/timeframesender.h"
#include "links/addresslist.h"
#include "core/socketarray.h"
#include "core/socketlayer.h"
#include "links/supervisor.h"

#include <QCheckBox>
#include <QColor>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTime>
#include <QTimer>
#include <QWidget>

#include <memory>

struct RoomsFixture
{
    static QDateTime fixedNow() { return QDateTime(QDate(2026, 12, 6), QTime(14, 3, 22)); }
    // What every log line starts with under the fixed clock.
    static QString logStamp() { return QStringLiteral("06/12/26 14:03:22 "); }
    static QColor green() { return QColor(0, 255, 0); }
    static QColor red() { return QColor(255, 0, 0); }

    explicit RoomsFixture(SocketFactory &factory)
        : previousDir(QDir::currentPath()),
          lstIp(&window),
          inpIp(&window),
          bAdd(QStringLiteral("Add"), &window),
          bDel(QStringLiteral("Del"), &window),
          tcpOk(ShapeWidget::Kind::Circle, &window),
          swCfg(&window),
          inpLog(&window),
          inpDelay0(QStringLiteral("00"), &window),
          inpDelay1(QStringLiteral("00"), &window),
          inpDelay2(QStringLiteral("00"), &window),
          tcp(factory),
          udp(factory.createUdp()),
          list(&lstIp, &inpIp, &bAdd, &bDel, tcp),
          log(&inpLog),
          sender({&inpDelay0, &inpDelay1, &inpDelay2}, list, tcp),
          supervisor(list, tcp, *udp, &tcpOk, &swCfg, log, sender, &timIpCon)
    {
        QDir::setCurrent(dir.path());
        lstIp.setObjectName(QStringLiteral("LST_IP"));
        inpIp.setObjectName(QStringLiteral("INP_IP"));
        bAdd.setObjectName(QStringLiteral("B_IP_ADD"));
        bDel.setObjectName(QStringLiteral("B_IP_DEL"));
        tcpOk.setObjectName(QStringLiteral("TCP_OK"));
        swCfg.setObjectName(QStringLiteral("SW_CFG"));
        inpLog.setObjectName(QStringLiteral("INP_LOG"));
        inpDelay0.setObjectName(QStringLiteral("INP_DELAY_0"));
        inpDelay1.setObjectName(QStringLiteral("INP_DELAY_1"));
        inpDelay2.setObjectName(QStringLiteral("INP_DELAY_2"));
        tcpOk.setFilled(true);
        tcpOk.setFillColor(red());
        log.setClock(&RoomsFixture::fixedNow);
        log.setDateSeparator(QLatin1Char('/'));
        timIpCon.setTimerType(Qt::PreciseTimer);
        timIpCon.setInterval(1000);
    }

    ~RoomsFixture() { QDir::setCurrent(previousDir); }

    RoomsFixture(const RoomsFixture &) = delete;
    RoomsFixture &operator=(const RoomsFixture &) = delete;

    // As the operator does it: type the text, press "Add".
    void addEntry(const QString &text)
    {
        inpIp.setText(text);
        list.B_IP_ADD_Click();
    }

    void setTime(const QString &hours, const QString &minutes, const QString &seconds)
    {
        inpDelay0.setText(hours);
        inpDelay1.setText(minutes);
        inpDelay2.setText(seconds);
    }

    void tick() { supervisor.TIM_IP_CON_Timer(); }
    QColor lamp() const { return tcpOk.fillColor(); }
    QString logLine(const QString &message) const
    {
        return logStamp() + message + QStringLiteral("\r\n");
    }

    QTemporaryDir dir;
    QString previousDir;
    QWidget window;
    QListWidget lstIp;
    QLineEdit inpIp;
    QPushButton bAdd;
    QPushButton bDel;
    ShapeWidget tcpOk;
    QCheckBox swCfg;
    LogArea inpLog;
    DelayField inpDelay0;
    DelayField inpDelay1;
    DelayField inpDelay2;
    QTimer timIpCon;
    TcpSocketArray tcp;
    std::unique_ptr<UdpEndpoint> udp;
    AddressList list;
    EventLog log;
    TimeFrameSender sender;
    Supervisor supervisor;
};
