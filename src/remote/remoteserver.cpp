#include "remote/remoteserver.h"

#include "remote/command.h"
#include "remote/httphead.h"
#include "remote/listenaddress.h"
#include "remote/remotehub.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

namespace {

// Per-connection bookkeeping kept on the socket itself.
constexpr const char *kIdleTimer = "rv38tIdle";
constexpr const char *kContinued = "rv38tContinued";

// What a connection may leave unread before it is refused: a full head and body.
qint64 readBound(const RemoteServer::Limits &l)
{
    return l.maxHead + 4 + l.maxBody;
}

QByteArray errorBody(const QString &error)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("error"), error}})
        .toJson(QJsonDocument::Compact);
}

} // namespace

RemoteServer::RemoteServer(RemoteHub &hub, QObject *parent)
    : QObject(parent), m_hub(hub), m_tcp(new QTcpServer(this)),
      m_ws(new QWebSocketServer(QStringLiteral("rv38t-timer"), QWebSocketServer::NonSecureMode,
                                this))
{
    m_ws->setHandshakeTimeout(5000);
    connect(m_tcp, &QTcpServer::newConnection, this, &RemoteServer::onNewConnection);
    connect(m_ws, &QWebSocketServer::newConnection, this, &RemoteServer::onNewViewer);
    connect(&m_hub, &RemoteHub::changed, this, &RemoteServer::push);
}

RemoteServer::~RemoteServer()
{
    for (QWebSocket *v : std::as_const(m_viewers)) {
        v->disconnect(this);
        v->abort();
        delete v;
    }
}

bool RemoteServer::listen(const QHostAddress &address, quint16 port, QString *error)
{
    if (m_tcp->listen(address, port))
        return true;
    const QString where
        = (address.protocol() == QAbstractSocket::IPv6Protocol ? QStringLiteral("[%1]:%2")
                                                               : QStringLiteral("%1:%2"))
              .arg(address.toString())
              .arg(port);
    switch (m_tcp->serverError()) {
    case QAbstractSocket::AddressInUseError:
        *error = QStringLiteral("%1 is in use by another program").arg(where);
        break;
    case QAbstractSocket::SocketAddressNotAvailableError:
        *error = QStringLiteral("%1: the address is not on this machine").arg(where);
        break;
    default:
        *error = QStringLiteral("cannot listen on %1: %2").arg(where, m_tcp->errorString());
    }
    return false;
}

quint16 RemoteServer::port() const
{
    return m_tcp->serverPort();
}

QHostAddress RemoteServer::address() const
{
    return m_tcp->serverAddress();
}

void RemoteServer::onNewConnection()
{
    while (QTcpSocket *socket = m_tcp->nextPendingConnection()) {
        if (m_connections >= m_limits.maxConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_connections;
        // Qt stops reading from the kernel once this much is unread, so a client
        // that sends without end fills its own buffers, not ours.
        socket->setReadBufferSize(readBound(m_limits));
        auto *idle = new QTimer(socket);
        idle->setSingleShot(true);
        idle->setInterval(m_limits.idleMs);
        socket->setProperty(kIdleTimer, QVariant::fromValue(static_cast<QObject *>(idle)));
        connect(idle, &QTimer::timeout, socket, &QTcpSocket::abort);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            --m_connections;
            socket->deleteLater();
        });
        idle->start();
    }
}

void RemoteServer::serve(QTcpSocket *socket)
{
    if (auto *idle = qobject_cast<QTimer *>(socket->property(kIdleTimer).value<QObject *>()))
        idle->start();
    // Requests are taken one at a time; the head is only peeked at until the
    // whole request is there, so a push upgrade reaches Qt's server untouched.
    while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesAvailable() > 0) {
        if (socket->bytesToWrite() > m_limits.maxViewerBacklog) {
            socket->abort(); // asks and never reads the answers
            return;
        }
        const QByteArray peeked = socket->peek(m_limits.maxHead + 4);
        const qsizetype end = peeked.indexOf("\r\n\r\n");
        if (end < 0) {
            if (peeked.size() >= m_limits.maxHead + 4)
                respondError(
                    socket, 431,
                    QStringLiteral("request head larger than %1 bytes").arg(m_limits.maxHead),
                    false);
            return; // wait for the rest of the head
        }
        HttpHead head;
        int status = 400;
        QString error;
        if (!httphead::parse(peeked.left(end), &head, &status, &error)) {
            respondError(socket, status, error, false);
            return;
        }
        if (head.contentLength > m_limits.maxBody) {
            respondError(socket, 413,
                         QStringLiteral("body larger than %1 bytes").arg(m_limits.maxBody), false);
            return;
        }
        const qint64 total = end + 4 + head.contentLength;
        if (socket->bytesAvailable() < total) {
            if (head.expectContinue && !socket->property(kContinued).toBool()) {
                socket->setProperty(kContinued, true);
                socket->write("HTTP/1.1 100 Continue\r\n\r\n");
            }
            return; // wait for the body
        }
        socket->setProperty(kContinued, false);
        if (head.upgradeWebSocket && head.method == "GET"
            && head.target.split('?').first() == "/api/ws") {
            // Qt's server is handed only handshakes it will take.
            if (head.field("sec-websocket-key").isEmpty()
                || head.field("sec-websocket-version") != "13") {
                respondError(socket, 400,
                             QStringLiteral("a WebSocket handshake needs Sec-WebSocket-Key and "
                                            "Sec-WebSocket-Version: 13"),
                             false, "Sec-WebSocket-Version: 13\r\n");
                return;
            }
            if (viewerCount() >= m_limits.maxViewers) {
                respondError(
                    socket, 503,
                    QStringLiteral("too many viewers (at most %1)").arg(m_limits.maxViewers),
                    false);
                return;
            }
            upgrade(socket);
            return;
        }
        socket->skip(end + 4);
        const QByteArray body = socket->read(head.contentLength);
        if (!handle(socket, head, body))
            return;
    }
}

bool RemoteServer::handle(QTcpSocket *socket, const HttpHead &head, const QByteArray &body)
{
    const bool keep = head.keepAlive;
    const remotecmd::Route r = remotecmd::route(head.method, head.target, body);
    const bool control = r.kind == remotecmd::Route::Kind::Command
                         || (r.kind == remotecmd::Route::Kind::None && r.parsed.status != 404
                             && r.parsed.status != 405 && head.method == "POST");
    if (control) {
        // Who may act is settled before what the body says.
        if (!authorised(head)) {
            respondError(socket, 401, QStringLiteral("missing or wrong token"), keep,
                         "WWW-Authenticate: Bearer realm=\"rv38t\"\r\n");
            return keep;
        }
        if (!sameOrigin(head)) {
            respondError(socket, 403,
                         QStringLiteral("a page from another origin may not send commands"), keep);
            return keep;
        }
    }
    switch (r.kind) {
    case remotecmd::Route::Kind::None:
        respondError(socket, r.parsed.status, r.parsed.error, keep,
                     r.allow.isEmpty() ? QByteArray() : "Allow: " + r.allow + "\r\n");
        return keep;
    case remotecmd::Route::Kind::DisplayPage:
        respond(socket, 200, "text/html; charset=utf-8", page(QStringLiteral("display.html")),
                keep);
        return keep;
    case remotecmd::Route::Kind::ControlPage:
        respond(socket, 200, "text/html; charset=utf-8", page(QStringLiteral("control.html")),
                keep);
        return keep;
    case remotecmd::Route::Kind::State:
        respond(socket, 200, "application/json", m_hub.stateJson(), keep);
        return keep;
    case remotecmd::Route::Kind::Push:
        respondError(socket, 400, QStringLiteral("/api/ws takes a WebSocket upgrade"), keep);
        return keep;
    case remotecmd::Route::Kind::Command: {
        if (!m_hub.refusal().isEmpty()) {
            respondError(socket, 409, m_hub.refusal(), keep);
            return keep;
        }
        const QString peer = socket->peerAddress().toString();
        bool mapped = false;
        const quint32 v4 = socket->peerAddress().toIPv4Address(&mapped);
        m_hub.execute(r.parsed.command,
                      QStringLiteral("REMOTE ") + (mapped ? QHostAddress(v4).toString() : peer));
        respond(socket, 200, "application/json", m_hub.stateJson(), keep);
        return keep;
    }
    }
    return keep;
}

bool RemoteServer::authorised(const HttpHead &head) const
{
    if (m_token.isEmpty())
        return true;
    const QByteArray auth = head.field("authorization");
    if (!auth.toLower().startsWith("bearer "))
        return false;
    return listenaddress::tokenMatches(m_token, auth.mid(7).trimmed());
}

bool RemoteServer::sameOrigin(const HttpHead &head) const
{
    // Browsers name the page a request comes from; scripts and show-control
    // tools send no Origin. A page elsewhere must not drive the countdown
    // through the operator's own browser.
    const QByteArray origin = head.field("origin");
    if (origin.isEmpty())
        return true;
    return origin == "http://" + head.field("host");
}

void RemoteServer::respond(QTcpSocket *socket, int status, const QByteArray &type,
                           const QByteArray &body, bool keepAlive, const QByteArray &extraFields)
{
    QByteArray out
        = "HTTP/1.1 " + QByteArray::number(status) + ' ' + httphead::reason(status) + "\r\n";
    out += "Content-Type: " + type + "\r\n";
    out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    out += "Cache-Control: no-store\r\n";
    out += "X-Content-Type-Options: nosniff\r\n";
    out += extraFields;
    out += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    out += body;
    socket->write(out);
    if (!keepAlive) {
        // Nothing more is read from a connection that is being closed.
        socket->disconnect(this, nullptr);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            --m_connections;
            socket->deleteLater();
        });
        socket->disconnectFromHost();
    }
}

void RemoteServer::respondError(QTcpSocket *socket, int status, const QString &error,
                                bool keepAlive, const QByteArray &extraFields)
{
    respond(socket, status, "application/json", errorBody(error), keepAlive, extraFields);
}

void RemoteServer::upgrade(QTcpSocket *socket)
{
    // From here Qt's WebSocket server owns the socket and reads the handshake itself.
    socket->disconnect(this);
    if (auto *idle = socket->property(kIdleTimer).value<QObject *>())
        delete idle;
    --m_connections;
    m_handshakes.append(socket);
    // A handshake that fails or times out takes its socket with it.
    connect(socket, &QObject::destroyed, this, [this, socket] { m_handshakes.removeOne(socket); });
    // Whatever becomes of it, a handshake holds its place no longer than this.
    QPointer<QTcpSocket> guard(socket);
    QTimer::singleShot(m_ws->handshakeTimeoutMS() + 1000, this, [this, guard, socket] {
        if (!m_handshakes.removeOne(socket) || !guard)
            return;
        guard->disconnect(this);
        guard->abort();
    });
    m_ws->handleConnection(socket);
}

void RemoteServer::onNewViewer()
{
    while (QWebSocket *viewer = m_ws->nextPendingConnection()) {
        viewer->setParent(this);
        // The viewer is the handshake that came from its peer's address and port.
        for (qsizetype i = 0; i < m_handshakes.size(); ++i) {
            QTcpSocket *h = m_handshakes[i];
            if (h->peerPort() == viewer->peerPort() && h->peerAddress() == viewer->peerAddress()) {
                h->disconnect(this);
                m_handshakes.removeAt(i);
                break;
            }
        }
        viewer->setMaxAllowedIncomingMessageSize(4096);
        viewer->setMaxAllowedIncomingFrameSize(4096);
        m_viewers.append(viewer);
        connect(viewer, &QWebSocket::disconnected, this, [this, viewer] {
            m_viewers.removeOne(viewer);
            if (m_viewers.isEmpty())
                m_lastPush.clear();
            viewer->deleteLater();
        });
        const QByteArray json = m_hub.stateJson();
        if (m_viewers.size() == 1)
            m_lastPush = json; // what every viewer now has
        sendTo(viewer, json);
    }
}

void RemoteServer::push()
{
    if (m_viewers.isEmpty()) {
        m_lastPush.clear(); // whoever comes next starts from the state sent on connect
        return;
    }
    const QByteArray json = m_hub.pushJson();
    // A change signal that changed nothing a viewer sees sends nothing.
    if (json == m_lastPush)
        return;
    m_lastPush = json;
    const QList<QWebSocket *> viewers = m_viewers;
    for (QWebSocket *v : viewers)
        sendTo(v, json);
}

void RemoteServer::sendTo(QWebSocket *viewer, const QByteArray &json)
{
    // A viewer that stops reading is dropped before its backlog passes the bound.
    if (viewer->bytesToWrite() + json.size() + 14 > m_limits.maxViewerBacklog) {
        const QString peer = viewer->peerAddress().toString();
        m_viewers.removeOne(viewer);
        if (m_viewers.isEmpty())
            m_lastPush.clear();
        viewer->disconnect(this);
        viewer->abort();
        viewer->deleteLater();
        emit viewerDropped(peer);
        return;
    }
    viewer->sendTextMessage(QString::fromUtf8(json));
}

QByteArray RemoteServer::page(const QString &name)
{
    QFile f(QStringLiteral(":/rv38t/remote/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
