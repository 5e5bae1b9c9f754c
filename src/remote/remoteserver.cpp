#include "remote/remoteserver.h"

#include "core/keyproof.h"
#include "remote/command.h"
#include "remote/httphead.h"
#include "remote/listenaddress.h"
#include "remote/remotehub.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>
#include <QHash>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <tuple>

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
        n += c->state() != HttpConnection::State::HandedOver && c->overCaps().isEmpty();
    return n;
}

int RemoteServer::fromAddress(const QHostAddress &peer) const
{
    int n = 0;
    for (const HttpConnection *c : m_connections)
        n += c->peer() == peer && c->overCaps().isEmpty();
    for (const Viewer &v : m_viewers)
        n += v.peer == peer;
    return n;
}

bool RemoteServer::makeRoom()
{
    // Places merely held give way: a connection between requests (the longest
    // idle first), or one whose request has stalled, of the address that holds
    // the most. One that carried the token keeps its place.
    QHash<QHostAddress, int> held;
    for (const HttpConnection *c : std::as_const(m_connections))
        held[c->peer()] += c->overCaps().isEmpty();
    for (const Viewer &v : std::as_const(m_viewers))
        ++held[v.peer];
    auto rank = [&held](const HttpConnection *c) {
        const bool between = c->state() == HttpConnection::State::Idle
                             || c->state() == HttpConnection::State::Answering;
        return std::make_tuple(held.value(c->peer()), between, c->msInState());
    };
    HttpConnection *victim = nullptr;
    for (HttpConnection *c : std::as_const(m_connections)) {
        const bool reading = c->state() == HttpConnection::State::ReadingHead
                             || c->state() == HttpConnection::State::ReadingBody;
        if (c->trusted() || !c->overCaps().isEmpty()
            || c->state() == HttpConnection::State::HandedOver
            || (reading && c->msInState() < m_limits.stalledMs))
            continue;
        if (!victim || rank(c) > rank(victim))
            victim = c;
    }
    if (!victim)
        return false;
    victim->displace(QStringLiteral("the server is full and this address holds the most places"));
    return true;
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
    limits.maxRequests = m_limits.maxRequests;
    limits.lifeMs = m_limits.lifeMs;
    HttpConnection::Limits overLimits = limits;
    overLimits.idleMs = overLimits.requestMs = m_limits.overCapsMs;
    while (QTcpSocket *socket = m_tcp->nextPendingConnection()) {
        // One client holding many connections locks out only itself; places
        // merely held give way to a newcomer. Over the caps a client is still
        // answered (a standby takes any answer as a sign of life), and a
        // request with the token is served.
        const QHostAddress peer = listenaddress::plain(socket->peerAddress());
        QString full;
        if (fromAddress(peer) >= m_limits.maxPerAddress)
            full = QStringLiteral("too many connections from %1 (at most %2)")
                       .arg(peer.toString())
                       .arg(m_limits.maxPerAddress);
        else if (connectionCount() >= m_limits.maxConnections && !makeRoom())
            full = QStringLiteral("too many connections (at most %1)").arg(m_limits.maxConnections);
        if (!full.isEmpty()) {
            QList<HttpConnection *> over;
            for (HttpConnection *c : std::as_const(m_connections)) {
                if (!c->overCaps().isEmpty() && c->state() != HttpConnection::State::HandedOver)
                    over.append(c);
            }
            // Bounded too: the longest waiting gives way.
            if (over.size() >= m_limits.maxOverCaps)
                over.first()->displace(over.first()->overCaps());
        }
        auto *c = new HttpConnection(socket, full.isEmpty() ? limits : overLimits, *this, this);
        if (!full.isEmpty())
            c->setOverCaps(full);
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
    if (!hostAllowed(c, head)) {
        c.answerError(403, QStringLiteral("the Host field must name this server by its address "
                                          "with the port (%1:%2), or by a --remote-name")
                               .arg(address().protocol() == QAbstractSocket::IPv6Protocol
                                        ? QLatin1Char('[') + address().toString() + QLatin1Char(']')
                                        : address().toString())
                               .arg(port()));
        return Next::Answered;
    }
    if (!m_token.isEmpty() && authorised(head))
        c.setTrusted();
    if (!c.overCaps().isEmpty() && !c.trusted()) {
        c.answerError(503, c.overCaps());
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
        if (viewerCount() >= m_limits.maxViewers && !makeViewerRoom(c)) {
            c.answerError(503,
                          QStringLiteral("too many viewers (at most %1)").arg(m_limits.maxViewers));
            return Next::Answered;
        }
        noteAnnouncement(c, head);
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
        c.answer(200, "application/json", m_hub.stateJson(), proofFields(head));
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

bool RemoteServer::makeViewerRoom(const HttpConnection &newcomer)
{
    // An address below its fair share takes the place of the oldest viewer of
    // the address furthest above it; the token takes any viewer's without it.
    QHash<QHostAddress, int> held;
    for (const Viewer &v : std::as_const(m_viewers))
        ++held[v.peer];
    if (!newcomer.trusted() && held.value(newcomer.peer()) >= m_limits.fairViewers)
        return false;
    qsizetype victim = -1;
    for (qsizetype i = 0; i < m_viewers.size(); ++i) {
        const Viewer &v = m_viewers[i];
        if (!v.trusted && (newcomer.trusted() || held.value(v.peer) >= m_limits.fairViewers)
            && (victim < 0 || held.value(v.peer) > held.value(m_viewers[victim].peer)))
            victim = i;
    }
    if (victim < 0)
        return false;
    QWebSocket *socket = m_viewers[victim].socket;
    removeViewer(socket);
    socket->disconnect(this);
    socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                  QStringLiteral("the server is full: a newer viewer took this place"));
    // Its close goes out before the socket does, if the client reads it soon.
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(1000, socket, &QObject::deleteLater);
    return true;
}

bool RemoteServer::hostAllowed(const HttpConnection &c, const HttpHead &head) const
{
    // With a token too: the token guards the commands, not what a page that
    // was rebound to this machine may read.
    return listenaddress::hostNamesServer(
        head.host, port(), m_names, [this, &c](const QHostAddress &a) {
            if (a == c.local() || a == listenaddress::plain(address()))
                return true;
            for (const QHostAddress &own : QNetworkInterface::allAddresses()) {
                if (listenaddress::plain(own) == a)
                    return true;
            }
            return false;
        });
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
    return origin == "http://" + head.host;
}

void RemoteServer::onUpgraded(HttpConnection *c, QWebSocket *viewer)
{
    viewer->setParent(this);
    viewer->setMaxAllowedIncomingMessageSize(4096);
    viewer->setMaxAllowedIncomingFrameSize(4096);
    m_viewers.append({viewer, c->peer(), c->trusted()});
    connect(viewer, &QWebSocket::disconnected, this, [this, viewer] {
        removeViewer(viewer);
        viewer->deleteLater();
    });
    adoptAnnouncement(c, viewer);
    const QByteArray json = m_hub.stateJson();
    if (m_viewers.size() == 1)
        m_lastPush = json; // what every viewer now has
    sendTo(viewer, json);
}

void RemoteServer::removeViewer(QWebSocket *viewer)
{
    forgetStandby(viewer);
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

void RemoteServer::noteAnnouncement(HttpConnection &c, const HttpHead &head)
{
    Announcement a;
    const QString standby = announcedAddress(head.target, c.peer());
    if (!standby.isEmpty()) {
        // Anybody could announce a fake standby and have this console step
        // down for it: only the shared token makes an announcement count.
        if (!m_token.isEmpty() && authorised(head))
            a.standby = standby;
        else
            m_hub.standbyNotFenced(standby);
    }
    const QByteArray challenge = head.field("x-rv38t-challenge");
    if (!m_token.isEmpty() && !challenge.isEmpty() && challenge.size() <= 128)
        a.challenge = challenge;
    if (a.standby.isEmpty() && a.challenge.isEmpty())
        return;
    m_announcements.insert(&c, a);
    const HttpConnection *key = &c;
    connect(&c, &HttpConnection::finished, this, [this, key] { m_announcements.remove(key); });
}

void RemoteServer::adoptAnnouncement(HttpConnection *c, QWebSocket *viewer)
{
    const Announcement a = m_announcements.take(c);
    // The proof of the shared token comes first, before any state.
    if (!a.challenge.isEmpty()) {
        const QJsonObject proof{
            {QStringLiteral("proof"), QString::fromLatin1(keyproof::answer(m_token, a.challenge))}};
        viewer->sendTextMessage(
            QString::fromUtf8(QJsonDocument(proof).toJson(QJsonDocument::Compact)));
    }
    if (!a.standby.isEmpty()) {
        m_standbys.insert(viewer, a.standby);
        m_hub.standbyJoined(a.standby);
    }
}

void RemoteServer::forgetStandby(QWebSocket *viewer)
{
    const auto it = m_standbys.constFind(viewer);
    if (it == m_standbys.constEnd())
        return;
    const QString standby = it.value();
    m_standbys.erase(it);
    m_hub.standbyLeft(standby);
}

QByteArray RemoteServer::proofFields(const HttpHead &head) const
{
    const QByteArray challenge = head.field("x-rv38t-challenge");
    if (m_token.isEmpty() || challenge.isEmpty() || challenge.size() > 128)
        return {};
    return "X-RV38T-Proof: " + keyproof::answer(m_token, challenge) + "\r\n";
}

QString RemoteServer::announcedAddress(const QByteArray &target, const QHostAddress &peer)
{
    const qsizetype mark = target.indexOf('?');
    if (mark < 0)
        return {};
    const QUrlQuery query(QString::fromLatin1(target.mid(mark + 1)));
    const QString text = query.queryItemValue(QStringLiteral("standby"), QUrl::FullyDecoded);
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (text.isEmpty() || text.size() > 64 || colon < 0)
        return {};
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    // ":PORT", or an address that means "any": the address this console sees it at.
    QHostAddress address = host.isEmpty() ? QHostAddress::Any : QHostAddress(host);
    if (!ok || port == 0 || port > 65535 || address.isNull())
        return {};
    // A loopback address from another machine would name this one: it is the peer's.
    if (address == QHostAddress::Any || address == QHostAddress::AnyIPv6
        || address == QHostAddress::AnyIPv4 || (address.isLoopback() && !peer.isLoopback()))
        address = peer;
    address = listenaddress::plain(address);
    const bool v6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    return (v6 ? QLatin1Char('[') + address.toString() + QLatin1Char(']') : address.toString())
           + QLatin1Char(':') + QString::number(port);
}

void RemoteServer::goingAway()
{
    const QList<Viewer> viewers = m_viewers;
    for (const Viewer &v : viewers) {
        v.socket->close(QWebSocketProtocol::CloseCodeGoingAway, QStringLiteral("closing"));
        v.socket->flush();
    }
}

QByteArray RemoteServer::page(const QString &name)
{
    QFile f(QStringLiteral(":/rv38t/remote/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

#include "moc_remoteserver.cpp"
