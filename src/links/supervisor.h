#pragma once

#include <QColor>
#include <QObject>
#include <QString>

#include <functional>

class QTimer;
class AddressList;
class HealthBook;
class TcpSocketArray;
class UdpEndpoint;

// Keeps one connection per display entry, paints the lamp, logs socket events,
// counts errors per socket and broadcasts the recovery frame after repeated ones.
class Supervisor : public QObject
{
    Q_OBJECT
public:
    static constexpr int kErrorThreshold = 3;
    static inline const QColor kLampGreen{0, 255, 0};
    static inline const QColor kLampRed{255, 0, 0};

    // What the supervisor asks of the rest of the window, and nothing more.
    struct Hooks
    {
        std::function<void(const QString &message)> log;       // one event-log line
        std::function<void()> sendCurrentTime;                 // the fields' change handling
        std::function<void(const QColor &colour)> paintLamp;   // TCP_OK's fill
        std::function<void()> openPanel;                       // SW_CFG on, by a program write
        std::function<void(const QString &text)> describeLamp; // TCP_OK's tooltip
    };

    // Wires the timer's ticks and the socket array's events to the handlers.
    Supervisor(AddressList &list, TcpSocketArray &tcp, UdpEndpoint &udp, Hooks hooks,
               QTimer *timIpCon, QObject *parent = nullptr);

    // The displays' TCP port (1024); tests inject their own.
    void setDisplayPort(quint16 port) { m_port = port; }
    quint16 displayPort() const { return m_port; }

    // Told of every event and tick; optional.
    void setHealthBook(HealthBook *health) { m_health = health; }
    // Whether this console drives the displays now, asked on every tick and
    // before any recovery datagram: a console that does not connects nothing.
    void setMayDrive(std::function<bool()> mayDrive) { m_mayDrive = std::move(mayDrive); }

    void TIM_IP_CON_Timer();
    void TCPIP_TCP_Connect(int index);
    void TCPIP_TCP_Close(int index);
    void TCPIP_TCP_Error(int index, const QString &description);

private:
    AddressList &m_list;
    TcpSocketArray &m_tcp;
    UdpEndpoint &m_udp;
    Hooks m_hooks;
    HealthBook *m_health = nullptr;
    std::function<bool()> m_mayDrive;
    quint16 m_port;
};
