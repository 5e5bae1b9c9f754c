#pragma once

#include "remote/httphead.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

// One client's connection to the remote control, from accept to close, or to
// the push socket it becomes. It frames requests (head, then body), holds the
// connection's one deadline, and asks its handler what each request means.
class HttpConnection : public QObject
{
    Q_OBJECT
public:
    enum class State {
        Idle,        // between requests: no byte of the next head yet
        ReadingHead, // a head has begun and must be complete by the deadline
        ReadingBody, // the head is taken; the body must come by the same deadline
        Answering,   // the last answer is written and the connection is closing
        HandedOver,  // a WebSocket handshake, read by Qt's server; awaiting its viewer
    };

    struct Limits
    {
        qint64 maxHead = 8192;
        qint64 maxBody = 4096;
        qint64 maxBacklog = 256 * 1024; // answers left unread before the client is dropped
        int idleMs = 15000;             // Idle this long: closed
        int requestMs = 10000;          // from a head's first byte to the end of its body
        int closeMs = 5000;             // for the last answer to drain
        int handshakeMs = 5000;         // for Qt's server to finish a handshake
        int maxRequests = 100;          // served on one keep-alive connection, then closed
        int lifeMs = 600000;            // a keep-alive connection closes after this long
    };

    // What the server makes of a request: it may answer at once (a refusal)
    // through answer(), or let the body be read, or take the push socket.
    class Handler
    {
    public:
        enum class Next { ReadBody, Answered, HandOver };
        virtual Next headReceived(HttpConnection &connection, const HttpHead &head) = 0;
        virtual void requestReceived(HttpConnection &connection, const HttpHead &head,
                                     const QByteArray &body)
            = 0;

    protected:
        ~Handler() = default;
    };

    HttpConnection(QTcpSocket *socket, const Limits &limits, Handler &handler,
                   QObject *parent = nullptr);
    ~HttpConnection() override;

    State state() const { return m_state; }
    // The client's address, IPv4-mapped addresses as plain IPv4.
    QHostAddress peer() const { return m_peer; }
    // The address the client reached this server at.
    QHostAddress local() const { return m_local; }
    // Since it went idle, or since its request began (head or body).
    qint64 msInState() const { return m_entered.elapsed(); }

    // A request of it carried the right token: it never gives its place to a newcomer.
    bool trusted() const { return m_trusted; }
    void setTrusted() { m_trusted = true; }

    // Taken over the server's caps, only to answer: one request at most, and
    // if none comes before its idle deadline, a 503 saying `why`.
    void setOverCaps(const QString &why);
    QString overCaps() const { return m_overCaps; }

    // Gives its place to a newcomer now: a request under way is answered 503
    // `why`, a connection between requests is closed.
    void displace(const QString &why);

    // Answers the request being handled. The connection stays open when the
    // client asked for it and the whole request was read; otherwise it closes.
    void answer(int status, const QByteArray &type, const QByteArray &body,
                const QByteArray &extraFields = QByteArray());
    // A JSON {"error"} answer.
    void answerError(int status, const QString &error,
                     const QByteArray &extraFields = QByteArray());

signals:
    // The handshake became a viewer; it is the receiver's from here.
    void upgraded(QWebSocket *viewer);
    // The connection is over (closed, refused, timed out, or upgraded).
    void finished();

private:
    void serve();
    void enter(State state);
    void expire();
    void handOver();
    void finish();

    QPointer<QTcpSocket> m_socket;
    Limits m_limits;
    Handler &m_handler;
    QHostAddress m_peer;
    QHostAddress m_local;
    State m_state = State::Idle;
    QTimer m_deadline;
    QElapsedTimer m_entered;
    QElapsedTimer m_born;
    int m_served = 0;
    bool m_trusted = false;
    QString m_overCaps;
    HttpHead m_head;            // the request being read or answered
    qint64 m_headBytes = 0;     // its head and blank line, still unread while ReadingBody
    bool m_continued = false;   // "100 Continue" sent for it
    bool m_requestRead = false; // all of it taken from the socket
    QWebSocketServer *m_handshake = nullptr; // one per hand-over: its viewer can only be ours
    bool m_finished = false;
};
