#pragma once

// The real window over whatever socket layer the test hands in, its rooms
// wired by the one composition point, with the controls and rooms under short
// names. The supervisor's timer is stopped (tests drive ticks by hand), the
// log's clock is fixed, and the files live in a temporary directory made
// current for the fixture's life.

#include "aids/eventlog.h"
#include "aids/title.h"
#include "app/mainwindow.h"
#include "controls/controls.h"
#include "core/socketarray.h"
#include "core/socketlayer.h"
#include "countdown/countdown.h"
#include "countdown/timeframesender.h"
#include "links/addresslist.h"
#include "links/healthbook.h"
#include "links/supervisor.h"
#include "support/testfiles.h"

#include <QCheckBox>
#include <QColor>
#include <QDate>
#include <QDateTime>
#include <QListWidget>
#include <QPushButton>
#include <QTime>
#include <QTimer>

#include <optional>

struct RoomsFixture
{
    static QDateTime fixedNow() { return QDateTime(QDate(2026, 12, 6), QTime(14, 3, 22)); }
    // What every log line starts with under the fixed clock.
    static QString logStamp() { return QStringLiteral("06/12/26 14:03:22 "); }
    static QColor green() { return Supervisor::kLampGreen; }
    static QColor red() { return Supervisor::kLampRed; }
    static QColor running() { return QColor(192, 255, 192); }
    static QColor stopped() { return QColor(255, 192, 192); }

    // ownDir false: the test already made a directory current for its files.
    explicit RoomsFixture(SocketFactory &factory, bool ownDir = true)
        : dir(ownDir ? std::make_optional<TempCurrentDir>() : std::nullopt), window(factory)
    {
        timIpCon.stop();
        log.setClock(&RoomsFixture::fixedNow);
        log.setDateSeparator(QLatin1Char('/'));
        // Start-up applies the stopped state once.
        countdown.SW_GO_Click();
    }

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
    // "h:m:s" into the three fields.
    void set(const QString &hms)
    {
        const QStringList parts = hms.split(QLatin1Char(':'));
        setTime(parts.at(0), parts.at(1), parts.at(2));
    }
    QString texts() const
    {
        return inpDelay0.text() + QLatin1Char(':') + inpDelay1.text() + QLatin1Char(':')
               + inpDelay2.text();
    }

    void tick() { supervisor.TIM_IP_CON_Timer(); }
    QColor lamp() const { return tcpOk.fillColor(); }
    QString logLine(const QString &message) const
    {
        return logStamp() + message + QStringLiteral("\r\n");
    }

    std::optional<TempCurrentDir> dir;
    MainWindow window;
    QListWidget &lstIp = *window.LST_IP;
    QLineEdit &inpIp = *window.INP_IP;
    QPushButton &bAdd = *window.B_IP_ADD;
    QPushButton &bDel = *window.B_IP_DEL;
    ShapeWidget &tcpOk = *window.TCP_OK;
    QCheckBox &swCfg = *window.SW_CFG;
    LogArea &inpLog = *window.INP_LOG;
    TitleField &inpTitle = *window.INP_TITLE;
    DelayField &inpDelay0 = *window.INP_DELAY[0];
    DelayField &inpDelay1 = *window.INP_DELAY[1];
    DelayField &inpDelay2 = *window.INP_DELAY[2];
    QCheckBox &swGo = *window.SW_GO;
    QPushButton &bReset = *window.B_RESET;
    ShapeWidget &vert = *window.VERT;
    ShapeWidget &rouge = *window.ROUGE;
    QTimer &timIpCon = *window.TIM_IP_CON;
    QTimer &timRebour = *window.TIM_REBOUR;
    TcpSocketArray &tcp = *window.TCPIP_TCP;
    UdpEndpoint &udp = *window.TCPIP_UDP;
    AddressList &list = *window.addressList();
    EventLog &log = *window.eventLog();
    Title &title = *window.title();
    TimeFrameSender &sender = *window.frameSender();
    Countdown &countdown = *window.countdown();
    Supervisor &supervisor = *window.supervisor();
    HealthBook &health = *window.healthBook();
};
