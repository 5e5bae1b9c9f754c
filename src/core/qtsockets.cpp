#include "core/qtsockets.h"

#include "core/qtendpoints.h"
#include "core/sockopts.h"

#include <QHostAddress>
#include <QMetaObject>
#include <QTcpSocket>
#include <QUdpSocket>

QtTcpEndpoint::QtTcpEndpoint(QObject *parent) : TcpEndpoint(parent), m_socket(new QTcpSocket(this))
{
    m_socket->setReadBufferSize(kReadBufferSize);
    connect(m_socket, &QTcpSocket::connected, this, &QtTcpEndpoint::onConnected);
    connect(m_socket, &QTcpSocket::disconnected, this, &QtTcpEndpoint::onDisconnected);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &QtTcpEndpoint::onErrorOccurred);
    connect(m_socket, &QTcpSocket::readyRead, this, &QtTcpEndpoint::onReadyRead);
}

QtTcpEndpoint::~QtTcpEndpoint()
{
    // The socket is our child and dies after us; silence it first so nothing
    // it raises while going reaches a half-destroyed endpoint.
    m_socket->disconnect(this);
    m_socket->abort();
}

SocketState QtTcpEndpoint::state() const
{
    // An ended connection stays visibly not closed until close(), so the
    // supervisor closes it at its next tick.
    if (m_ending == Ending::Failed)
        return SocketState::Error;
    if (m_ending == Ending::PeerClosed)
        return SocketState::PeerClosing;
    switch (m_socket->state()) {
    case QAbstractSocket::UnconnectedState:
        return SocketState::Closed;
    case QAbstractSocket::HostLookupState:
        return SocketState::ResolvingHost;
    case QAbstractSocket::ConnectingState:
        return SocketState::Connecting;
    case QAbstractSocket::ConnectedState:
        return SocketState::Connected;
    case QAbstractSocket::BoundState:
        return SocketState::Open;
    case QAbstractSocket::ListeningState:
        return SocketState::Listening;
    case QAbstractSocket::ClosingState:
        return SocketState::PeerClosing;
    }
    return SocketState::Error;
}

void QtTcpEndpoint::connectTo(const QString &host, quint16 port)
{
    // Callers only connect a closed socket; anything else would disturb a
    // connection in progress, so it is ignored.
    if (state() != SocketState::Closed)
        return;
    m_host = host;
    m_ending = Ending::None;
    // Name look-ups run on Qt's look-up thread; an empty or malformed host
    // ends in HostNotFoundError, reported like any other failure.
    m_socket->connectToHost(host, port);
}

bool QtTcpEndpoint::sendData(const QByteArray &bytes)
{
    if (m_ending != Ending::None || m_socket->state() != QAbstractSocket::ConnectedState)
        return false;
    return m_socket->write(bytes) == bytes.size();
}

void QtTcpEndpoint::close()
{
    ++m_generation;
    m_ending = Ending::None;
    // abort() raises disconnected() inside the call; close() promises no event.
    m_aborting = true;
    m_socket->abort();
    m_aborting = false;
}

void QtTcpEndpoint::onConnected()
{
    if (m_aborting || m_ending != Ending::None)
        return;
    armDeadPeerDetection();
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation == m_generation)
                emit connected();
        },
        Qt::QueuedConnection);
}

void QtTcpEndpoint::onDisconnected()
{
    // After a peer's close QTcpSocket reports RemoteHostClosedError first;
    // that has been reported already.
    if (m_aborting || m_ending != Ending::None)
        return;
    end(Ending::PeerClosed, QString());
}

void QtTcpEndpoint::onErrorOccurred(QAbstractSocket::SocketError error)
{
    if (m_aborting || m_ending != Ending::None)
        return;
    if (error == QAbstractSocket::RemoteHostClosedError)
        end(Ending::PeerClosed, QString());
    else
        end(Ending::Failed, m_socket->errorString());
}

void QtTcpEndpoint::onReadyRead()
{
    // Nothing a display sends is used: drop it as it comes so memory stays bounded.
    char sink[4096];
    while (m_socket->read(sink, sizeof sink) > 0) {
    }
}

void QtTcpEndpoint::end(Ending ending, const QString &description)
{
    m_ending = ending;
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation, ending, description] {
            if (generation != m_generation)
                return;
            if (ending == Ending::PeerClosed)
                emit closedByPeer();
            else
                emit failed(description);
        },
        Qt::QueuedConnection);
}

void QtTcpEndpoint::armDeadPeerDetection()
{
    // Portable keep-alive first; the platform's finer timings (sockopts) where it has them.
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    sockopts::armDeadPeerDetection(m_socket->socketDescriptor());
}

QtUdpEndpoint::QtUdpEndpoint(const QString &host, quint16 port, QObject *parent)
    : UdpEndpoint(parent), m_socket(new QUdpSocket(this)), m_host(host), m_port(port)
{}

bool QtUdpEndpoint::sendData(const QByteArray &bytes)
{
    const QHostAddress address(m_host);
    if (address.isNull()) {
        m_error = QStringLiteral("Invalid address");
        return false;
    }
    // Qt enables SO_BROADCAST on its UDP sockets, so the limited broadcast may leave.
    if (m_socket->writeDatagram(bytes, address, m_port) == bytes.size())
        return true;
    m_error = m_socket->errorString();
    return false;
}

QtSocketFactory::QtSocketFactory(const QString &udpHost, quint16 udpPort)
    : m_udpHost(udpHost), m_udpPort(udpPort)
{}

std::unique_ptr<TcpEndpoint> QtSocketFactory::createTcp()
{
    return std::make_unique<QtTcpEndpoint>();
}

std::unique_ptr<UdpEndpoint> QtSocketFactory::createUdp()
{
    return std::make_unique<QtUdpEndpoint>(m_udpHost, m_udpPort);
}

qint64 QtTcpEndpoint::roundTripMicros() const
{
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        return -1;
    return sockopts::smoothedRttMicros(m_socket->socketDescriptor());
}

// The endpoints have no source of their own: their moc output is built here.
#include "moc_qtendpoints.cpp"
