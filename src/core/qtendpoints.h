#pragma once

#include "core/socketlayer.h"

#include <QAbstractSocket>
#include <QString>

class QTcpSocket;
class QUdpSocket;

// One display connection over QTcpSocket. QTcpSocket raises some of its
// signals inside the call that caused them (abort(), a refused loopback
// connect) and reports a peer's close twice; this class turns them into the
// queued, once-only events the rooms above rely on.
class QtTcpEndpoint : public TcpEndpoint
{
    Q_OBJECT
public:
    // What a display may send is thrown away; this bounds what is held meanwhile.
    static constexpr qint64 kReadBufferSize = 4096;

    explicit QtTcpEndpoint(QObject *parent = nullptr);
    ~QtTcpEndpoint() override;

    SocketState state() const override;
    void connectTo(const QString &host, quint16 port) override;
    QString remoteHost() const override { return m_host; }
    void setRemoteHost(const QString &host) override { m_host = host; }
    bool sendData(const QByteArray &bytes) override;
    void close() override;
    qint64 roundTripMicros() const override;

private:
    enum class Ending { None, PeerClosed, Failed };

    void onConnected();
    void onDisconnected();
    void onErrorOccurred(QAbstractSocket::SocketError error);
    void onReadyRead();
    void end(Ending ending, const QString &description);
    void armDeadPeerDetection();

    QTcpSocket *m_socket;
    QString m_host;
    Ending m_ending = Ending::None;
    // Bumped by close(): events queued before it carry an older number and are dropped.
    quint64 m_generation = 0;
    bool m_aborting = false;
};

// The one UDP sender.
class QtUdpEndpoint : public UdpEndpoint
{
    Q_OBJECT
public:
    QtUdpEndpoint(const QString &host, quint16 port, QObject *parent = nullptr);

    QString remoteHost() const override { return m_host; }
    quint16 remotePort() const override { return m_port; }
    bool sendData(const QByteArray &bytes) override;
    QString errorString() const override { return m_error; }

private:
    QUdpSocket *m_socket;
    QString m_error;
    QString m_host;
    quint16 m_port;
};
