#pragma once

// Displays mimicked on loopback: listeners on 127.0.0.x with ephemeral ports.

#include "core/socketlayer.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

// A port on 127.0.0.1 nobody listens on: listened on once, then released.
inline quint16 unusedPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// A display on one loopback address; it keeps the sockets it accepts.
struct LoopbackDisplay
{
    QTcpServer server;
    explicit LoopbackDisplay(const QString &address = QStringLiteral("127.0.0.1"))
    {
        server.listen(QHostAddress(address), 0);
    }
    bool isListening() const { return server.isListening(); }
    quint16 port() const { return server.serverPort(); }
    QTcpSocket *accepted()
    {
        if (!server.hasPendingConnections() && !server.waitForNewConnection(5000))
            return nullptr;
        return server.nextPendingConnection();
    }
    // Connects `endpoint` to this display; the display's side once both are up, else null.
    QTcpSocket *connect(TcpEndpoint &endpoint)
    {
        QSignalSpy connected(&endpoint, &TcpEndpoint::connected);
        endpoint.connectTo(server.serverAddress().toString(), port());
        return connected.wait(5000) ? accepted() : nullptr;
    }
};

// Reads what the peer sends into `buffer` until `done()` holds, waiting on
// readyRead with the event loop running (the console's side writes from it),
// never on a fixed sleep; false on timeout. Keeps the side effect of reading
// out of QTRY_* conditions.
inline bool readUntil(QTcpSocket *peer, QByteArray &buffer, const std::function<bool()> &done,
                      int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        QSignalSpy more(peer, &QTcpSocket::readyRead);
        buffer += peer->readAll();
        if (done())
            return true;
        if (deadline.hasExpired() || !more.wait(int(qMax<qint64>(1, deadline.remainingTime())))) {
            buffer += peer->readAll();
            return done();
        }
    }
}

// Reads until `buffer` holds at least `bytes` bytes.
inline bool readAtLeast(QTcpSocket *peer, QByteArray &buffer, qsizetype bytes, int timeoutMs = 5000)
{
    return readUntil(
        peer, buffer, [&] { return buffer.size() >= bytes; }, timeoutMs);
}
