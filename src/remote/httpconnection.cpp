#include "remote/httpconnection.h"

#include "remote/listenaddress.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

HttpConnection::HttpConnection(QTcpSocket *socket, const Limits &limits, Handler &handler,
                               QObject *parent)
    : QObject(parent), m_socket(socket), m_limits(limits), m_handler(handler),
      m_peer(listenaddress::plain(socket->peerAddress())),
      m_local(listenaddress::plain(socket->localAddress()))
{
    m_born.start();
    // Qt stops reading from the kernel once this much is unread, so a client
    // that sends without end fills its own buffers, not ours.
    socket->setReadBufferSize(limits.maxHead + 4 + limits.maxBody);
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &HttpConnection::expire);
    connect(socket, &QTcpSocket::readyRead, this, &HttpConnection::serve);
    connect(socket, &QTcpSocket::disconnected, this, &HttpConnection::finish);
    enter(State::Idle);
}

HttpConnection::~HttpConnection() = default;

void HttpConnection::enter(State state)
{
    m_state = state;
    if (state != State::ReadingBody)
        m_entered.start();
    switch (state) {
    case State::Idle:
        m_deadline.start(m_limits.idleMs);
        break;
    case State::ReadingHead:
        // From the first byte, not the last: a client that trickles a byte at a
        // time holds its place no longer than an honest slow one.
        m_deadline.start(m_limits.requestMs);
        break;
    case State::ReadingBody:
        break; // the request's deadline runs on
    case State::Answering:
        m_deadline.start(m_limits.closeMs);
        break;
    case State::HandedOver:
        // Whatever becomes of it, a handshake holds its place no longer than this.
        m_deadline.start(m_limits.handshakeMs + 1000);
        break;
    }
}

void HttpConnection::serve()
{
    while (m_socket && m_socket->bytesAvailable() > 0
           && (m_state == State::Idle || m_state == State::ReadingHead
               || m_state == State::ReadingBody)) {
        if (m_socket->bytesToWrite() > m_limits.maxBacklog) {
            m_socket->abort(); // asks and never reads the answers
            return;
        }
        if (m_state == State::Idle)
            enter(State::ReadingHead);
        if (m_state == State::ReadingHead) {
            // The head is only peeked at until it is whole, so a push upgrade
            // reaches Qt's server untouched.
            const QByteArray peeked = m_socket->peek(m_limits.maxHead + 4);
            const qsizetype end = peeked.indexOf("\r\n\r\n");
            m_head = HttpHead();
            m_requestRead = false;
            m_continued = false;
            if (end < 0) {
                if (peeked.size() >= m_limits.maxHead + 4) {
                    m_head.keepAlive = false;
                    answerError(
                        431,
                        QStringLiteral("request head larger than %1 bytes").arg(m_limits.maxHead));
                }
                return; // wait for the rest of the head
            }
            m_headBytes = end + 4;
            int status = 400;
            QString error;
            if (!httphead::parse(peeked.left(end), &m_head, &status, &error)) {
                m_head.keepAlive = false;
                answerError(status, error);
                return;
            }
            switch (m_handler.headReceived(*this, m_head)) {
            case Handler::Next::Answered:
                continue; // idle again, or closing
            case Handler::Next::HandOver:
                handOver();
                return;
            case Handler::Next::ReadBody:
                enter(State::ReadingBody);
                break;
            }
        }
        if (m_socket->bytesAvailable() < m_headBytes + m_head.contentLength) {
            // The client was told who may act before it is asked for the body.
            if (m_head.expectContinue && !m_continued) {
                m_continued = true;
                m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
            }
            return; // wait for the body
        }
        m_socket->skip(m_headBytes);
        const QByteArray body = m_socket->read(m_head.contentLength);
        m_requestRead = true;
        m_handler.requestReceived(*this, m_head, body);
    }
}

void HttpConnection::answer(int status, const QByteArray &type, const QByteArray &body,
                            const QByteArray &extraFields)
{
    if (!m_socket || m_state == State::Answering || m_state == State::HandedOver)
        return;
    // Refused from its head: the request is dropped whole when it is all here,
    // else nothing more of this connection can be read as a request.
    if (!m_requestRead && m_head.keepAlive
        && m_socket->bytesAvailable() >= m_headBytes + m_head.contentLength) {
        m_socket->skip(m_headBytes + m_head.contentLength);
        m_requestRead = true;
    }
    ++m_served;
    // However busy, a connection is not a place held for ever: the client
    // opens a new one and meets the admission rules again.
    const bool keep = m_head.keepAlive && m_requestRead && m_overCaps.isEmpty()
                      && m_served < m_limits.maxRequests && m_born.elapsed() < m_limits.lifeMs;
    QByteArray out
        = "HTTP/1.1 " + QByteArray::number(status) + ' ' + httphead::reason(status) + "\r\n";
    out += "Content-Type: " + type + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    out += "Cache-Control: no-store\r\n";
    out += "X-Content-Type-Options: nosniff\r\n";
    out += extraFields;
    out += keep ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    // An answer to HEAD has no body: a client that keeps the connection would
    // read it as the start of the next answer.
    if (m_head.method != "HEAD")
        out += body;
    m_socket->write(out);
    if (keep) {
        enter(State::Idle);
        return;
    }
    enter(State::Answering);
    m_socket->disconnectFromHost();
}

void HttpConnection::answerError(int status, const QString &error, const QByteArray &extraFields)
{
    answer(
        status, "application/json",
        QJsonDocument(QJsonObject{{QStringLiteral("error"), error}}).toJson(QJsonDocument::Compact),
        extraFields);
}

void HttpConnection::expire()
{
    // Taken over the caps and still without its one answer: a 503 says why.
    if (!m_overCaps.isEmpty() && m_served == 0
        && (m_state == State::Idle || m_state == State::ReadingHead
            || m_state == State::ReadingBody)) {
        m_head.keepAlive = false;
        m_requestRead = false;
        answerError(503, m_overCaps);
        return;
    }
    switch (m_state) {
    case State::ReadingHead:
    case State::ReadingBody:
        m_head.keepAlive = false;
        m_requestRead = false;
        answerError(408, QStringLiteral("request not complete within %1 s of its first byte")
                             .arg(m_limits.requestMs / 1000.0));
        return;
    case State::Idle:
    case State::Answering:
    case State::HandedOver:
        finish();
        return;
    }
}

void HttpConnection::setOverCaps(const QString &why)
{
    m_overCaps = why;
}

void HttpConnection::displace(const QString &why)
{
    switch (m_state) {
    case State::Idle:
        if (m_served > 0)
            break; // between requests a client expects a close, not an answer
        [[fallthrough]];
    case State::ReadingHead:
    case State::ReadingBody:
        m_head.keepAlive = false;
        m_requestRead = false;
        answerError(503, why);
        break;
    case State::Answering:
    case State::HandedOver:
        break;
    }
    // The place is free now, not once the client gets round to closing.
    if (m_socket)
        m_socket->flush();
    finish();
}

void HttpConnection::handOver()
{
    enter(State::HandedOver);
    // From here Qt's server reads the handshake itself.
    disconnect(m_socket, &QTcpSocket::readyRead, this, &HttpConnection::serve);
    // A server of its own per hand-over: whatever viewer it makes is this
    // connection's, with no matching of sockets to viewers.
    m_handshake = new QWebSocketServer(QStringLiteral("rv38t-timer"),
                                       QWebSocketServer::NonSecureMode, this);
    m_handshake->setHandshakeTimeout(m_limits.handshakeMs);
    connect(m_handshake, &QWebSocketServer::newConnection, this, [this] {
        QWebSocket *viewer = m_handshake->nextPendingConnection();
        if (!viewer || m_finished)
            return;
        // The viewer owns the socket now.
        disconnect(m_socket, nullptr, this, nullptr);
        m_socket = nullptr;
        emit upgraded(viewer);
        finish();
    });
    // A handshake Qt's server refuses or times out takes its socket with it.
    connect(m_socket, &QObject::destroyed, this, &HttpConnection::finish);
    m_handshake->handleConnection(m_socket);
}

void HttpConnection::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_deadline.stop();
    if (m_socket) {
        disconnect(m_socket, nullptr, this, nullptr);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    emit finished();
}

#include "moc_httpconnection.cpp"
