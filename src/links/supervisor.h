#pragma once

#include <QObject>
#include <QString>

class QCheckBox;
class QTimer;
class AddressList;
class EventLog;
class ShapeWidget;
class TcpSocketArray;
class TimeFrameSender;
class UdpEndpoint;

// Keeps one connection per display entry, paints the lamp, logs socket events,
// counts errors per socket and broadcasts the recovery frame after repeated ones.
class Supervisor : public QObject
{
    Q_OBJECT
public:
    static constexpr int kErrorThreshold = 3;

    // Wires the timer's ticks and the socket array's events to the handlers.
    Supervisor(AddressList &list, TcpSocketArray &tcp, UdpEndpoint &udp, ShapeWidget *tcpOk,
               QCheckBox *swCfg, EventLog &log, TimeFrameSender &sender, QTimer *timIpCon,
               QObject *parent = nullptr);

    // The displays' TCP port (1024); tests inject their own.
    void setDisplayPort(quint16 port) { m_port = port; }
    quint16 displayPort() const { return m_port; }

    void TIM_IP_CON_Timer();
    void TCPIP_TCP_Connect(int index);
    void TCPIP_TCP_Close(int index);
    void TCPIP_TCP_Error(int index, const QString &description);

private:
    AddressList &m_list;
    TcpSocketArray &m_tcp;
    UdpEndpoint &m_udp;
    ShapeWidget *m_lamp;
    QCheckBox *m_swCfg;
    EventLog &m_log;
    TimeFrameSender &m_sender;
    quint16 m_port;
};
