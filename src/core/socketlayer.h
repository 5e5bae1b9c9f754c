#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

// The console's socket layer: what the rooms above rely on, whatever carries it.
// Events (connected, closedByPeer, failed) are always delivered through the
// event loop, never from inside the call that caused them, and never after close().

// Socket states, numbered as the rooms above read them: 0 means closed.
enum class SocketState : int {
    Closed = 0,
    Open = 1,
    Listening = 2,
    ConnectionPending = 3,
    ResolvingHost = 4,
    HostResolved = 5,
    Connecting = 6,
    Connected = 7,
    PeerClosing = 8,
    Error = 9,
};

// One TCP client socket.
class TcpEndpoint : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual SocketState state() const = 0;
    // Returns at once, host-name look-ups included; the outcome arrives as
    // connected() or failed(). Only called while the state is closed.
    virtual void connectTo(const QString &host, quint16 port) = 0;
    virtual QString remoteHost() const = 0;
    virtual void setRemoteHost(const QString &host) = 0;
    // Appends to the connection's stream; false when not connected.
    virtual bool sendData(const QByteArray &bytes) = 0;
    // Back to closed at once; no event follows.
    virtual void close() = 0;
    // The kernel's smoothed round-trip time of the connection in microseconds;
    // -1 where the platform does not tell or nothing is connected.
    virtual qint64 roundTripMicros() const { return -1; }

signals:
    void connected();
    void closedByPeer();
    void failed(const QString &description);
};

// The one UDP sender; only ever sent on.
class UdpEndpoint : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual QString remoteHost() const = 0;
    virtual quint16 remotePort() const = 0;
    // One datagram to remoteHost():remotePort(); false when it could not leave.
    virtual bool sendData(const QByteArray &bytes) = 0;
    // Why the last sendData() failed, in the system's words.
    virtual QString errorString() const = 0;
};

class SocketFactory
{
public:
    virtual ~SocketFactory() = default;
    virtual std::unique_ptr<TcpEndpoint> createTcp() = 0;
    virtual std::unique_ptr<UdpEndpoint> createUdp() = 0;
};
