#pragma once

#include "core/frames.h"
#include "core/socketlayer.h"

#include <QString>

// The socket layer over QTcpSocket and QUdpSocket.
class QtSocketFactory : public SocketFactory
{
public:
    // The recovery frame's destination; tests inject a loopback address.
    explicit QtSocketFactory(const QString &udpHost = frames::kBroadcastHost,
                             quint16 udpPort = frames::kDisplayPort);

    std::unique_ptr<TcpEndpoint> createTcp() override;
    std::unique_ptr<UdpEndpoint> createUdp() override;

private:
    QString m_udpHost;
    quint16 m_udpPort;
};
