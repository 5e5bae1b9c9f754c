#include "simulator/displaysimulator.h"

#include "core/ansi.h"
#include "simulator/framereader.h"

#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

namespace {

// Enough self-made connections to fill any queue a backlog of 0 leaves.
constexpr int kMaxFillers = 8;
// A filler whose connect has not completed by then hangs: the queue is full.
constexpr int kFillerPatienceMs = 250;

QString endpointText(const QHostAddress &address, quint16 port)
{
    QHostAddress shown = address;
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped)
        shown = QHostAddress(v4);
    return shown.toString() + QLatin1Char(':') + QString::number(port);
}

} // namespace

DisplaySimulator::DisplaySimulator(const SimulatorOptions &options, QObject *parent)
    : QObject(parent), m_options(options)
{}

DisplaySimulator::~DisplaySimulator()
{
    // Sockets closing while this object goes away must not call back into it.
    const auto sockets = findChildren<QAbstractSocket *>();
    for (QAbstractSocket *socket : sockets)
        socket->disconnect(this);
}

bool DisplaySimulator::start(QString *error)
{
    m_displays.clear();
    for (const QHostAddress &address : m_options.listen) {
        Display display;
        display.address = address;
        m_displays.push_back(display);
    }
    for (int i = 0; i < displayCount(); ++i) {
        if (!startDisplay(i, error))
            return false;
    }
    if (m_options.udp) {
        m_udp = new QUdpSocket(this);
        const quint16 udpPort = m_options.udpPort < 0 ? m_options.port : quint16(m_options.udpPort);
        // Shared, so that several simulators (and other listeners) can hear the broadcast.
        if (!m_udp->bind(m_options.udpAddress, udpPort,
                         QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
            if (error)
                *error
                    = QStringLiteral("UDP %1: %2")
                          .arg(endpointText(m_options.udpAddress, udpPort), m_udp->errorString());
            return false;
        }
        connect(m_udp, &QUdpSocket::readyRead, this, &DisplaySimulator::readDatagrams);
    }
    return true;
}

bool DisplaySimulator::startDisplay(int index, QString *error)
{
    if (m_options.refuse)
        return true;
    Display &display = m_displays[index];
    display.server = new QTcpServer(this);
    if (m_options.noAccept) {
        // The server never takes a connection off the queue, and a backlog of
        // 0 keeps that queue to one or two: once fillQueue() has taken those
        // places, the kernel drops the console's SYNs and its connect hangs.
        // (A bound port without a listener would refuse instead.)
        display.server->setListenBacklogSize(0);
        display.server->setMaxPendingConnections(0);
    }
    if (!display.server->listen(display.address, m_options.port)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(endpointText(display.address, m_options.port),
                                                  display.server->errorString());
        return false;
    }
    if (m_options.noAccept) {
        fillQueue(index);
    } else {
        connect(display.server, &QTcpServer::newConnection, this, [this, index] { accept(index); });
    }
    return true;
}

QHostAddress DisplaySimulator::address(int display) const
{
    return m_displays.at(display).address;
}

quint16 DisplaySimulator::port(int display) const
{
    const QTcpServer *server = m_displays.at(display).server;
    return server ? server->serverPort() : m_options.port;
}

quint16 DisplaySimulator::udpPort() const
{
    return m_udp ? m_udp->localPort() : 0;
}

int DisplaySimulator::connectionCount(int display) const
{
    return m_displays.at(display).connections;
}

QString DisplaySimulator::displayName(int display) const
{
    return endpointText(address(display), port(display));
}

int DisplaySimulator::displayNamed(const QString &addressText) const
{
    const QHostAddress named(addressText);
    if (named.isNull())
        return -1;
    for (int i = 0; i < displayCount(); ++i) {
        if (m_displays[i].address.isEqual(named, QHostAddress::TolerantConversion))
            return i;
    }
    return -1;
}

void DisplaySimulator::accept(int index)
{
    QTcpServer *server = m_displays[index].server;
    while (server->hasPendingConnections())
        serve(index, server->nextPendingConnection());
}

void DisplaySimulator::serve(int index, QTcpSocket *socket)
{
    const QString peer = endpointText(socket->peerAddress(), socket->peerPort());
    ++m_displays[index].connections;
    emit connectionOpened(index, peer);

    auto reader = std::make_shared<FrameReader>();
    auto *quiet = new QTimer(socket);
    quiet->setSingleShot(true);
    quiet->setInterval(kQuietMs);

    const auto report = [this, index](const QStringList &texts) {
        for (const QString &text : texts)
            emit frameReceived(index, text);
    };
    connect(socket, &QTcpSocket::readyRead, this, [socket, reader, quiet, report] {
        report(reader->feed(socket->readAll()));
        if (reader->hasPending())
            quiet->start();
    });
    connect(quiet, &QTimer::timeout, this, [reader, report] { report(reader->flush()); });
    connect(socket, &QTcpSocket::disconnected, this, [this, index, socket, reader, peer, report] {
        report(reader->feed(socket->readAll()));
        report(reader->flush());
        --m_displays[index].connections;
        emit connectionClosed(index, peer);
        socket->deleteLater();
    });

    if (m_options.closeAfterMs > 0)
        QTimer::singleShot(m_options.closeAfterMs, socket,
                           [socket] { socket->disconnectFromHost(); });
    if (m_options.flood)
        flood(socket);
}

void DisplaySimulator::flood(QTcpSocket *socket)
{
    // Keep a bounded amount queued: refill as the peer takes it, and stop
    // growing when it does not read.
    const QByteArray chunk(kFloodChunk, '\x55');
    connect(socket, &QTcpSocket::bytesWritten, this, [socket, chunk] {
        if (socket->bytesToWrite() < kFloodChunk)
            socket->write(chunk);
    });
    socket->write(chunk);
    socket->write(chunk);
}

void DisplaySimulator::fillQueue(int index)
{
    Display &display = m_displays[index];
    QHostAddress target = display.address;
    if (target == QHostAddress::AnyIPv4 || target == QHostAddress::Any)
        target = QHostAddress(QHostAddress::LocalHost);

    auto *filler = new QTcpSocket(this);
    display.fillers.push_back(filler);
    auto *patience = new QTimer(filler);
    patience->setSingleShot(true);
    connect(filler, &QTcpSocket::connected, this, [this, index, patience] {
        patience->stop();
        if (int(m_displays[index].fillers.size()) < kMaxFillers)
            fillQueue(index);
        else
            emit ready(index);
    });
    const auto full = [this, index, filler, patience] {
        patience->stop();
        filler->disconnect(this);
        filler->abort();
        emit ready(index);
    };
    connect(patience, &QTimer::timeout, this, full);
    connect(filler, &QTcpSocket::errorOccurred, this, full);
    filler->connectToHost(target, display.server->serverPort());
    patience->start(kFillerPatienceMs);
}

void DisplaySimulator::readDatagrams()
{
    while (m_udp->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_udp->receiveDatagram();
        const QByteArray bytes = datagram.data();
        const QString from = endpointText(datagram.senderAddress(), quint16(datagram.senderPort()));
        if (bytes.startsWith(frames::kRecoveryMark)) {
            const QString text = ansi::decode(bytes.mid(frames::kRecoveryMark.size()));
            emit recoveryReceived(text, displayNamed(text), from);
        } else {
            emit datagramReceived(bytes, from);
        }
    }
}

#include "moc_displaysimulator.cpp"
