#include "support/fakesockets.h"

void FakeTcpEndpoint::connectTo(const QString &host, quint16 port)
{
    ++connectCalls;
    m_host = host;
    m_port = port;
    m_state = SocketState::Connecting;
}

bool FakeTcpEndpoint::sendData(const QByteArray &bytes)
{
    if (m_sendFails || m_state != SocketState::Connected)
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
    m_state = SocketState::Closed;
}

void FakeTcpEndpoint::fireConnected()
{
    m_state = SocketState::Connected;
    emit connected();
}

void FakeTcpEndpoint::fireClosedByPeer()
{
    m_state = SocketState::PeerClosing;
    emit closedByPeer();
}

void FakeTcpEndpoint::fireFailed(const QString &description)
{
    m_state = SocketState::Error;
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
