#include "links/supervisor.h"

#include "aids/eventlog.h"
#include "app/shapewidget.h"
#include "countdown/timeframesender.h"
#include "links/addresslist.h"
#include "links/frames.h"
#include "links/socketarray.h"
#include "links/socketlayer.h"

#include <QCheckBox>
#include <QColor>
#include <QTimer>

namespace {
const QColor kLampGreen(0, 255, 0);
const QColor kLampRed(255, 0, 0);
const QString kCountReset = QStringLiteral("0");
} // namespace

Supervisor::Supervisor(AddressList &list, TcpSocketArray &tcp, UdpEndpoint &udp,
                       ShapeWidget *tcpOk, QCheckBox *swCfg, EventLog &log,
                       TimeFrameSender &sender, QTimer *timIpCon, QObject *parent)
    : QObject(parent),
      m_list(list),
      m_tcp(tcp),
      m_udp(udp),
      m_lamp(tcpOk),
      m_swCfg(swCfg),
      m_log(log),
      m_sender(sender),
      m_port(frames::kDisplayPort)
{
    if (timIpCon)
        connect(timIpCon, &QTimer::timeout, this, &Supervisor::TIM_IP_CON_Timer);
    connect(&m_tcp, &TcpSocketArray::connectEvent, this, &Supervisor::TCPIP_TCP_Connect);
    connect(&m_tcp, &TcpSocketArray::closeEvent, this, &Supervisor::TCPIP_TCP_Close);
    connect(&m_tcp, &TcpSocketArray::errorEvent, this, &Supervisor::TCPIP_TCP_Error);
}

void Supervisor::TIM_IP_CON_Timer()
{
    int marked = 0;
    const int n = m_list.count();
    for (int i = 0; i < n; ++i) {
        if (m_list.isMarked(i)) {
            // An entry marked by hand counts too, whatever its socket does.
            ++marked;
        } else if (m_tcp.state(i) != StateClosed) {
            // Whatever is left of an attempt or a connection gets one tick; the
            // next tick starts afresh from closed.
            m_tcp.close(i);
        } else {
            // Bad texts are the socket layer's business: they come back as error events.
            m_tcp.connectTo(i, m_list.text(i), m_port);
        }
    }
    if (m_lamp)
        m_lamp->setFillColor(marked == n ? kLampGreen : kLampRed);
}

void Supervisor::TCPIP_TCP_Connect(int index)
{
    m_list.setMarked(index, true);
    m_log.LOG_APPEND(m_tcp.remoteHost(index) + QStringLiteral("= CONNECT"));
    m_tcp.setTag(index, kCountReset);
    // The mark is already set, so the new display gets the current time too.
    m_sender.INP_DELAY_Change(0);
}

void Supervisor::TCPIP_TCP_Close(int index)
{
    // The socket stays as the peer left it; the next tick closes it.
    m_list.setMarked(index, false);
    m_log.LOG_APPEND(m_tcp.remoteHost(index) + QStringLiteral("= CLOSE"));
}

void Supervisor::TCPIP_TCP_Error(int index, const QString &description)
{
    m_list.setMarked(index, false);
    m_log.LOG_APPEND(m_tcp.remoteHost(index) + QStringLiteral("= ") + description);

    if (m_tcp.tag(index).toInt() >= kErrorThreshold) {
        // A program write raises the panel's own click handling before we go on.
        if (m_swCfg)
            m_swCfg->setChecked(true);
        // The entry's text names the display, even if the socket was pointed elsewhere.
        m_udp.sendData(frames::recoveryFrame(m_list.text(index)));
        m_tcp.setTag(index, kCountReset);
    }
    m_tcp.setTag(index, QString::number(m_tcp.tag(index).toInt() + 1));
}
