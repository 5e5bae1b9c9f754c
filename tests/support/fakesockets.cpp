#include "support/fakesockets.h"

void FakeTcpEndpoint::connectTo(const QString &host, quint16 port)
{
    ++connectCalls;
    m_host = host;
    m_port = port;
    m_state = StateConnecting;
}

bool FakeTcpEndpoint::sendData(const QByteArray &bytes)
{
    if (m_sendFails || m_state != StateConnected)
        return false;
    sent.append(bytes);
    if (sendLog)
        sendLog->append({index, bytes});
    if (onSend && *onSend)
        (*onSend)(index, bytes);
    return true;
}

void FakeTcpEndpoint::close()
{
    ++closeCalls;
    m_state = StateClosed;
}

void FakeTcpEndpoint::fireConnected()
{
    m_state = StateConnected;
    emit connected();
}

void FakeTcpEndpoint::fireClosedByPeer()
{
    m_state = StatePeerClosing;
    emit closedByPeer();
}

void FakeTcpEndpoint::fireFailed(const QString &description)
{
    m_state = StateError;
    emit failed(description);
}

std::unique_ptr<TcpEndpoint> FakeSocketFactory::createTcp()
{
    auto socket = std::make_unique<FakeTcpEndpoint>();
    socket->index = tcp.size();
    socket->sendLog = &sendLog;
    socket->onSend = &onSend;
    tcp.append(socket.get());
    return socket;
}

std::unique_ptr<UdpEndpoint> FakeSocketFactory::createUdp()
{
    auto socket = std::make_unique<FakeUdpEndpoint>();
    udp = socket.get();
    return socket;
}
