#pragma once

#include "remote/command.h"
#include "remote/listenaddress.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>

class QUdpSocket;
class RemoteHub;

namespace oscmsg {

// One OSC datagram decoded with liblo: a command, a feedback request, or an error.
struct Decoded
{
    enum class Kind { Command, Feedback, Error };
    Kind kind = Kind::Error;
    remotecmd::Parsed parsed; // Command, and the error text
    int replyPort = 0;        // Feedback: 0 = the sender's own port, -1 = stop
};
Decoded decode(const QByteArray &datagram);

// "/rv38t/feedback/time" with the time text, and "/rv38t/feedback/running" with 0 or 1.
QByteArray timeMessage(const QString &time);
QByteArray runningMessage(bool running);

} // namespace oscmsg

// OSC over UDP in the Qt event loop. liblo decodes and encodes the messages;
// the socket is Qt's, so the sender is checked before a byte of it is decoded.
class OscServer : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxDatagram = 4096;
    static constexpr int kMaxReplyTargets = 8;
    // UDP cannot prove who asked: what a forged source earns stays small.
    static constexpr int kMaxTargetsPerAddress = 2;
    static constexpr qint64 kLeaseMs = 3600 * 1000; // renewed by asking again
    static constexpr int kReplyGapMs = 100;         // at most 10 reply pairs a second per target

    explicit OscServer(RemoteHub &hub, QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port, QString *error);
    void setAllowed(const QList<listenaddress::Subnet> &allowed) { m_allowed = allowed; }
    quint16 port() const;
    // The leases' clock, in ms (a monotonic one by default); tests bring their own.
    void setClock(std::function<qint64()> now) { m_now = std::move(now); }

    // Datagrams refused: a sender outside the allowed ones, or one that is not a command.
    int refusedCount() const { return m_refused; }

signals:
    void refused(const QString &sender, const QString &why);

private:
    void onReadyRead();
    void ask(const QHostAddress &sender, quint16 port, const QString &who);
    void sendDue();

    struct Target
    {
        QHostAddress address;
        quint16 port = 0;
        qint64 leased = 0;    // m_now() when it last asked
        qint64 sentAt = -1;   // m_gap's ms at its last reply, -1 none yet
        QString sentTime;     // what it was last sent
        int sentRunning = -1; // 0, 1, or -1: nothing
        bool whole = true;    // it asked: send both messages
    };

    RemoteHub &m_hub;
    QUdpSocket *m_socket = nullptr;
    QList<listenaddress::Subnet> m_allowed;
    QList<Target> m_targets;
    QElapsedTimer m_gap; // spaces the replies, always real time
    QTimer m_replyTimer; // for replies held back by the gap
    std::function<qint64()> m_now;
    int m_refused = 0;
};
