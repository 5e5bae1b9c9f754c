#include "links/supervisor.h"

#include "core/frames.h"
#include "core/socketarray.h"
#include "core/socketlayer.h"
#include "links/addresslist.h"
#include "links/healthbook.h"

#include <QTimer>

namespace {
const QString kCountReset = QStringLiteral("0");
} // namespace

Supervisor::Supervisor(AddressList &list, TcpSocketArray &tcp, UdpEndpoint &udp, Hooks hooks,
                       QTimer *timIpCon, QObject *parent)
    : QObject(parent), m_list(list), m_tcp(tcp), m_udp(udp), m_hooks(std::move(hooks)),
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
    if (m_mayDrive && !m_mayDrive())
        return;
    int marked = 0;
    const int n = m_list.count();
    for (int i = 0; i < n; ++i) {
        if (m_list.isMarked(i)) {
            // An entry marked by hand counts too, whatever its socket does.
            ++marked;
        } else if (m_tcp.state(i) != SocketState::Closed) {
            // Whatever is left of an attempt or a connection gets one tick; the
            // next tick starts afresh from closed.
            m_tcp.close(i);
        } else {
            // Bad texts are the socket layer's business: they come back as error events.
            m_tcp.connectTo(i, m_list.text(i), m_port);
        }
    }
    if (m_hooks.paintLamp)
        m_hooks.paintLamp(marked == n ? kLampGreen : kLampRed);
    if (m_health) {
        m_health->refresh();
        if (m_hooks.describeLamp)
            m_hooks.describeLamp(m_health->lampToolTip());
    }
}

void Supervisor::TCPIP_TCP_Connect(int index)
{
    m_list.setMarked(index, true);
    m_hooks.log(m_tcp.remoteHost(index) + QStringLiteral("= CONNECT"));
    m_tcp.setTag(index, kCountReset);
    // The mark is already set, so the new display gets the current time too.
    if (m_hooks.sendCurrentTime)
        m_hooks.sendCurrentTime();
    if (m_health)
        m_health->connected(index);
}

void Supervisor::TCPIP_TCP_Close(int index)
{
    // The socket stays as the peer left it; the next tick closes it.
    m_list.setMarked(index, false);
    m_hooks.log(m_tcp.remoteHost(index) + QStringLiteral("= CLOSE"));
    if (m_health)
        m_health->closed(index);
}

void Supervisor::TCPIP_TCP_Error(int index, const QString &description)
{
    m_list.setMarked(index, false);
    m_hooks.log(m_tcp.remoteHost(index) + QStringLiteral("= ") + description);

    if (m_tcp.tag(index).toInt() >= kErrorThreshold && (!m_mayDrive || m_mayDrive())) {
        // A program write raises the panel's own click handling before we go on.
        if (m_hooks.openPanel)
            m_hooks.openPanel();
        // The entry's text names the display, even if the socket was pointed elsewhere.
        if (!m_udp.sendData(frames::recoveryFrame(m_list.text(index))))
            m_hooks.log(m_udp.remoteHost() + QStringLiteral("= ") + m_udp.errorString());
        m_tcp.setTag(index, kCountReset);
        if (m_health)
            m_health->recoverySent(index);
    }
    m_tcp.setTag(index, QString::number(m_tcp.tag(index).toInt() + 1));
    if (m_health)
        m_health->failed(index, description);
}

#include "moc_supervisor.cpp"
