#pragma once

#include "core/socketlayer.h"

#include <QByteArrayList>
#include <QList>
#include <QPointer>
#include <QString>

#include <functional>

// A socket layer for the rooms' tests: records what the rooms do and lets the
// test raise the events. fire*() emit at once, as the event loop would deliver them.
class FakeTcpEndpoint : public TcpEndpoint
{
    Q_OBJECT
public:
    SocketState state() const override { return m_state; }
    void connectTo(const QString &host, quint16 port) override;
    QString remoteHost() const override { return m_host; }
    void setRemoteHost(const QString &host) override { m_host = host; }
    bool sendData(const QByteArray &bytes) override;
    void close() override;

    void setState(SocketState state) { m_state = state; }
    void setSendFails(bool fails) { m_sendFails = fails; }
    void fireConnected();
    void fireClosedByPeer();
    void fireFailed(const QString &description);

    SocketState m_state = SocketState::Closed;
    QString m_host;
    quint16 m_port = 0;
    bool m_sendFails = false;
    QByteArrayList sent;                              // every successful sendData, in order
    QList<QPair<int, QByteArray>> *sendLog = nullptr; // shared with the factory
    const std::function<void(int, const QByteArray &)> *onSend = nullptr; // the factory's
    int index = -1; // creation order in the factory
    int connectCalls = 0;
    int closeCalls = 0;
};

class FakeUdpEndpoint : public UdpEndpoint
{
    Q_OBJECT
public:
    QString remoteHost() const override { return m_host; }
    quint16 remotePort() const override { return m_port; }
    bool sendData(const QByteArray &bytes) override
    {
        if (!failure.isEmpty())
            return false;
        sent.append(bytes);
        return true;
    }
    QString errorString() const override { return failure; }

    QString failure; // non-empty: every send fails with this reason

    QString m_host = QStringLiteral("255.255.255.255");
    quint16 m_port = 1024;
    QByteArrayList sent;
};

class FakeSocketFactory : public SocketFactory
{
public:
    std::unique_ptr<TcpEndpoint> createTcp() override;
    std::unique_ptr<UdpEndpoint> createUdp() override;

    // Every TCP socket made so far, in creation order; null once destroyed.
    QList<QPointer<FakeTcpEndpoint>> tcp;
    QPointer<FakeUdpEndpoint> udp;
    // Sends on any socket, in order, as (socket index in `tcp`, bytes).
    QList<QPair<int, QByteArray>> sendLog;
    // Called inside every successful send on any socket, while the sender runs.
    std::function<void(int socket, const QByteArray &bytes)> onSend;
};
