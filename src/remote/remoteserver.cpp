#include "remote/remoteserver.h"

#include "remote/command.h"
#include "remote/httphead.h"
#include "remote/listenaddress.h"
#include "remote/remotehub.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>

namespace {
// A page of another site may not frame the control page and steer the
// operator's clicks onto its buttons. The pages that only show may be framed.
const QByteArray kControlFields
    = "X-Frame-Options: SAMEORIGIN\r\nContent-Security-Policy: frame-ancestors 'self'\r\n";
} // namespace
#include <algorithm>

RemoteServer::RemoteServer(RemoteHub &hub, QObject *parent)
    : QObject(parent), m_hub(hub), m_tcp(new QTcpServer(this))
{
    connect(m_tcp, &QTcpServer::newConnection, this, &RemoteServer::onNewConnection);
    connect(&m_hub, &RemoteHub::changed, this, &RemoteServer::push);
}

RemoteServer::~RemoteServer()
{
    for (const Viewer &v : std::as_const(m_viewers)) {
        v.socket->disconnect(this);
        v.socket->abort();
        delete v.socket;
    }
    // Before the listening socket takes the connections' sockets with it.
    for (HttpConnection *c : std::as_const(m_connections)) {
        c->disconnect(this);
        delete c;
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

int RemoteServer::viewerCount() const
{
    int handshakes = 0;
    for (const HttpConnection *c : m_connections)
        handshakes += c->state() == HttpConnection::State::HandedOver;
    return static_cast<int>(m_viewers.size()) + handshakes;
}

int RemoteServer::connectionCount() const
{
    int n = 0;
    for (const HttpConnection *c : m_connections)
        n += c->state() != HttpConnection::State::HandedOver;
    return n;
}

int RemoteServer::fromAddress(const QHostAddress &peer) const
{
    int n = 0;
    for (const HttpConnection *c : m_connections)
        n += c->peer() == peer;
    for (const Viewer &v : m_viewers)
        n += v.peer == peer;
    return n;
}

void RemoteServer::onNewConnection()
{
    HttpConnection::Limits limits;
    limits.maxHead = m_limits.maxHead;
    // The connection reads up to the larger bound; the head settles which one applies.
    limits.maxBody = std::max(m_limits.maxBody, m_limits.maxRundownBody);
    limits.maxBacklog = m_limits.maxViewerBacklog;
    limits.idleMs = m_limits.idleMs;
    limits.requestMs = m_limits.requestMs;
    while (QTcpSocket *socket = m_tcp->nextPendingConnection()) {
        // Refused at once, before a byte is read: one client holding many
        // connections locks out only itself.
        if (connectionCount() >= m_limits.maxConnections
            || fromAddress(listenaddress::plain(socket->peerAddress())) >= m_limits.maxPerAddress) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto *c = new HttpConnection(socket, limits, *this, this);
        m_connections.append(c);
        connect(c, &HttpConnection::upgraded, this,
                [this, c](QWebSocket *viewer) { onUpgraded(c, viewer); });
        connect(c, &HttpConnection::finished, this, [this, c] {
            m_connections.removeOne(c);
            c->deleteLater();
        });
    }
}

HttpConnection::Handler::Next RemoteServer::headReceived(HttpConnection &c, const HttpHead &head)
{
    // Before anything else: a page whose name was rebound to this machine
    // learns nothing and changes nothing.
    if (!hostAllowed(head)) {
        c.answerError(403, QStringLiteral("the Host field must name this server (%1:%2)")
                               .arg(address().protocol() == QAbstractSocket::IPv6Protocol
                                        ? QLatin1Char('[') + address().toString() + QLatin1Char(']')
                                        : address().toString())
                               .arg(port()));
        return Next::Answered;
    }
    const QByteArray path = head.target.split('?').first();
    if (head.upgradeWebSocket && head.method == "GET" && path == "/api/ws") {
        if (!sameOrigin(head)) {
            c.answerError(403, QStringLiteral("a page from another origin may not watch"));
            return Next::Answered;
        }
        // Qt's server is handed only handshakes it will take.
        if (head.field("sec-websocket-key").isEmpty()
            || head.field("sec-websocket-version") != "13") {
            c.answerError(400,
                          QStringLiteral("a WebSocket handshake needs Sec-WebSocket-Key and "
                                         "Sec-WebSocket-Version: 13"),
                          "Sec-WebSocket-Version: 13\r\n");
            return Next::Answered;
        }
        if (viewerCount() >= m_limits.maxViewers) {
            c.answerError(503,
                          QStringLiteral("too many viewers (at most %1)").arg(m_limits.maxViewers));
            return Next::Answered;
        }
        return Next::HandOver;
    }
    if (remotecmd::isCommand(head.method, path)) {
        // Who may act is settled before the body is asked for or read.
        if (!authorised(head)) {
            c.answerError(401, QStringLiteral("missing or wrong token"),
                          "WWW-Authenticate: Bearer realm=\"rv38t\"\r\n");
            return Next::Answered;
        }
        if (!sameOrigin(head)) {
            c.answerError(403, QStringLiteral("a page from another origin may not send commands"));
            return Next::Answered;
        }
    }
    const bool rundownPut = head.method == "PUT" && path == "/api/rundown";
    const qint64 maxBody = rundownPut ? m_limits.maxRundownBody : m_limits.maxBody;
    if (head.contentLength > maxBody) {
        c.answerError(413, QStringLiteral("body larger than %1 bytes").arg(maxBody));
        return Next::Answered;
    }
    return Next::ReadBody;
}

void RemoteServer::requestReceived(HttpConnection &c, const HttpHead &head, const QByteArray &body)
{
    const remotecmd::Route r = remotecmd::route(head.method, head.target, body);
    switch (r.kind) {
    case remotecmd::Route::Kind::None:
        c.answerError(r.parsed.status, r.parsed.error,
                      r.allow.isEmpty() ? QByteArray() : "Allow: " + r.allow + "\r\n");
        return;
    case remotecmd::Route::Kind::DisplayPage:
        c.answer(200, "text/html; charset=utf-8", page(QStringLiteral("display.html")));
        return;
    case remotecmd::Route::Kind::ControlPage:
        c.answer(200, "text/html; charset=utf-8", page(QStringLiteral("control.html")),
                 kControlFields);
        return;
    case remotecmd::Route::Kind::PresenterPage:
        c.answer(200, "text/html; charset=utf-8", page(QStringLiteral("presenter.html")));
        return;
    case remotecmd::Route::Kind::State:
        c.answer(200, "application/json", m_hub.stateJson());
        return;
    case remotecmd::Route::Kind::Push:
        c.answerError(400, QStringLiteral("/api/ws takes a WebSocket upgrade"));
        return;
    case remotecmd::Route::Kind::Command:
        // A standby following its main takes no command: it names where to send them.
        if (!m_hub.refusal().isEmpty()) {
            c.answerError(409, m_hub.refusal());
            return;
        }
        if (const QString why = m_hub.rejection(r.parsed.command); !why.isEmpty()) {
            c.answerError(400, why);
            return;
        }
        if (const QString why
            = m_hub.execute(r.parsed.command, QStringLiteral("REMOTE ") + c.peer().toString());
            !why.isEmpty()) {
            c.answerError(400, why);
            return;
        }
        c.answer(200, "application/json", m_hub.stateJson());
        return;
    case remotecmd::Route::Kind::Rundown:
        c.answer(200, "application/json", m_hub.rundownJson());
        return;
    case remotecmd::Route::Kind::RundownPut:
        answerRundownPut(c, head, body);
        return;
    }
}

void RemoteServer::answerRundownPut(HttpConnection &c, const HttpHead &head, const QByteArray &body)
{
    QString error;
    const int status = m_hub.putRundown(body, remotecmd::isCsv(head.field("content-type")),
                                        QStringLiteral("REMOTE ") + c.peer().toString(), &error);
    if (status != 200) {
        c.answerError(status, error);
        return;
    }
    c.answer(200, "application/json", m_hub.rundownJson());
}

bool RemoteServer::hostAllowed(const HttpHead &head) const
{
    // With a token the token guards the commands, and a server off loopback
    // may be reached under any name the show network gives it.
    if (!m_token.isEmpty())
        return true;
    return listenaddress::hostNamesServer(head.field("host"), address(), port());
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
    // tools send no Origin. A page elsewhere must not drive the countdown nor
    // watch it through the operator's own browser.
    const QByteArray origin = head.field("origin");
    if (origin.isEmpty())
        return true;
    return origin == "http://" + head.field("host");
}

void RemoteServer::onUpgraded(HttpConnection *c, QWebSocket *viewer)
{
    viewer->setParent(this);
    viewer->setMaxAllowedIncomingMessageSize(4096);
    viewer->setMaxAllowedIncomingFrameSize(4096);
    m_viewers.append({viewer, c->peer()});
    connect(viewer, &QWebSocket::disconnected, this, [this, viewer] {
        removeViewer(viewer);
        viewer->deleteLater();
    });
    const QByteArray json = m_hub.stateJson();
    if (m_viewers.size() == 1)
        m_lastPush = json; // what every viewer now has
    sendTo(viewer, json);
}

void RemoteServer::removeViewer(QWebSocket *viewer)
{
    m_viewers.removeIf([viewer](const Viewer &v) { return v.socket == viewer; });
    if (m_viewers.isEmpty())
        m_lastPush.clear();
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
    const QList<Viewer> viewers = m_viewers;
    for (const Viewer &v : viewers)
        sendTo(v.socket, json);
}

void RemoteServer::sendTo(QWebSocket *viewer, const QByteArray &json)
{
    // A viewer that stops reading is dropped before its backlog passes the bound.
    if (viewer->bytesToWrite() + json.size() + 14 > m_limits.maxViewerBacklog) {
        const QString peer = viewer->peerAddress().toString();
        removeViewer(viewer);
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

#include "moc_remoteserver.cpp"
