#pragma once

#include "remote/command.h"
#include "remote/listenaddress.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>

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

    explicit OscServer(RemoteHub &hub, QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port, QString *error);
    void setAllowed(const QList<listenaddress::Subnet> &allowed) { m_allowed = allowed; }
    quint16 port() const;

    // Datagrams refused: a sender outside the allowed ones, or one that is not a command.
    int refusedCount() const { return m_refused; }

signals:
    void refused(const QString &sender, const QString &why);

private:
    void onReadyRead();
    void onChanged();

    struct Target
    {
        QHostAddress address;
        quint16 port = 0;
    };

    RemoteHub &m_hub;
    QUdpSocket *m_socket = nullptr;
    QList<listenaddress::Subnet> m_allowed;
    QList<Target> m_targets;
    QString m_lastTime;
    int m_lastRunning = -1;
    int m_refused = 0;
};
