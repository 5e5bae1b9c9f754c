#pragma once

#include "core/frames.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class QTcpServer;
class QTcpSocket;
class QUdpSocket;

struct SimulatorOptions
{
    // One display per address, each listening for the console on `port`.
    QList<QHostAddress> listen{QHostAddress(QHostAddress::LocalHost)};
    // 0 gives each display an ephemeral port (tests).
    quint16 port = frames::kDisplayPort;
    // Recovery frames arrive as broadcasts, so the default binds every address.
    bool udp = true;
    QHostAddress udpAddress = QHostAddress(QHostAddress::AnyIPv4);
    int udpPort = -1; // -1: the same number as `port`; 0: ephemeral

    // Misbehaviour, to try the console against.
    bool refuse = false;   // no listener: connects are refused
    bool noAccept = false; // connects hang, never completed
    bool flood = false;    // send bytes back without end
    int closeAfterMs = 0;  // close each connection this long after it opened; 0: never
};

// The networking of the display simulator, without any window: it listens as
// the displays do and reports what the console sends. The window and the
// headless report both sit on its signals.
class DisplaySimulator : public QObject
{
    Q_OBJECT
public:
    // How long a connection must stay quiet before the frame in progress
    // counts as complete; the console sends no terminator.
    static constexpr int kQuietMs = 20;
    // Bytes kept queued towards a peer in flood mode.
    static constexpr qint64 kFloodChunk = 16 * 1024;

    explicit DisplaySimulator(const SimulatorOptions &options, QObject *parent = nullptr);
    ~DisplaySimulator() override;

    // False, with a reason, when an address or the UDP port could not be bound.
    bool start(QString *error = nullptr);

    const SimulatorOptions &options() const { return m_options; }
    int displayCount() const { return int(m_displays.size()); }
    QHostAddress address(int display) const;
    // The port the display listens on; with --refuse the port it would use.
    quint16 port(int display) const;
    quint16 udpPort() const;
    int connectionCount(int display) const;
    // "127.0.0.2:1024"
    QString displayName(int display) const;
    // The display whose address is the text, -1 for none.
    int displayNamed(const QString &addressText) const;

signals:
    // With --no-accept, once the display's queue is full and connects hang.
    void ready(int display);
    void connectionOpened(int display, const QString &peer);
    void connectionClosed(int display, const QString &peer);
    void frameReceived(int display, const QString &text);
    // A recovery frame; `display` is the one it names, -1 when none of ours.
    void recoveryReceived(const QString &addressText, int display, const QString &from);
    // Any other datagram on the port.
    void datagramReceived(const QByteArray &bytes, const QString &from);

private:
    struct Display
    {
        QHostAddress address;
        QTcpServer *server = nullptr;
        std::vector<QTcpSocket *> fillers;
        int connections = 0;
    };

    bool startDisplay(int index, QString *error);
    void accept(int index);
    void serve(int index, QTcpSocket *socket);
    void flood(QTcpSocket *socket);
    void fillQueue(int index);
    void readDatagrams();

    SimulatorOptions m_options;
    std::vector<Display> m_displays;
    QUdpSocket *m_udp = nullptr;
};
