#include "standby/mainlink.h"

#include "core/keyproof.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QWebSocket>

namespace {
// Far more than a state with 99 displays; a main that sends more is not one.
constexpr qint64 kMaxAnswer = 512 * 1024;
} // namespace

QtMainLink::QtMainLink(const followed::MainAddress &main, const Fence &fence, QObject *parent)
    : MainLink(parent), m_main(main), m_fence(fence),
      m_ws(new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this))
{
    m_url.setScheme(QStringLiteral("ws"));
    m_url.setHost(main.address.toString());
    m_url.setPort(main.port);
    m_url.setPath(QStringLiteral("/api/ws"));
    if (!fence.announce.isEmpty()) {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("standby"), fence.announce);
        m_url.setQuery(query);
    }
    m_ws->setMaxAllowedIncomingMessageSize(kMaxMessage);
    m_ws->setMaxAllowedIncomingFrameSize(kMaxMessage);
    connect(m_ws, &QWebSocket::textMessageReceived, this, &QtMainLink::onMessage);
    connect(m_ws, &QWebSocket::pong, this, [this] { emit pong(); });
    // Refused on opening: nothing listens on the main's port, as for a probe.
    connect(m_ws, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            [this](QAbstractSocket::SocketError error) {
                if (!m_quiet && error == QAbstractSocket::ConnectionRefusedError)
                    emit refused();
            });
    connect(m_ws, &QWebSocket::disconnected, this, [this] {
        if (m_quiet)
            return;
        // Only a main that proved itself may hand over.
        const bool proven = m_fence.token.isEmpty() || m_challenge.isEmpty();
        emit closed(proven && m_ws->closeCode() == QWebSocketProtocol::CloseCodeGoingAway);
    });
}

QtMainLink::~QtMainLink()
{
    cancelProbe();
    m_ws->disconnect(this);
    m_ws->abort();
}

void QtMainLink::open()
{
    abort();
    QNetworkRequest request(m_url);
    if (!m_fence.token.isEmpty()) {
        // The token goes to the main; the main's proof comes back as the first message.
        m_challenge = keyproof::challenge();
        request.setRawHeader("Authorization", "Bearer " + m_fence.token);
        request.setRawHeader("X-RV38T-Challenge", m_challenge);
    }
    m_ws->open(request);
}

void QtMainLink::onMessage(const QString &text)
{
    if (!m_challenge.isEmpty()) {
        const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
        const QByteArray proof = o.value(QLatin1String("proof")).toString().toLatin1();
        if (!keyproof::proves(m_fence.token, m_challenge, proof)) {
            abort();
            emit notTheMain();
            return;
        }
        m_challenge.clear();
        return;
    }
    emit message(text.toUtf8());
}

void QtMainLink::abort()
{
    m_quiet = true;
    m_ws->abort();
    m_quiet = false;
}

void QtMainLink::ping()
{
    if (m_ws->state() == QAbstractSocket::ConnectedState)
        m_ws->ping();
}

void QtMainLink::probe()
{
    cancelProbe();
    const QByteArray host = m_main.text.toLatin1();
    QByteArray request = "GET /api/state HTTP/1.1\r\nHost: " + host
                         + "\r\nAccept: application/json\r\nConnection: close\r\n";
    m_probeChallenge.clear();
    if (!m_fence.token.isEmpty()) {
        m_probeChallenge = keyproof::challenge();
        request += "X-RV38T-Challenge: " + m_probeChallenge + "\r\n";
    }
    request += "\r\n";
    m_probeRequest = request;
    for (int i = 0; i < kProbeConnections; ++i) {
        m_retried[i] = false;
        startProbeConnection(i);
    }
}

void QtMainLink::startProbeConnection(int i)
{
    auto *socket = new QTcpSocket(this);
    socket->setReadBufferSize(kMaxAnswer);
    m_probes[i] = socket;
    m_replies[i].clear();
    const QByteArray request = m_probeRequest;
    connect(socket, &QTcpSocket::connected, this, [socket, request] { socket->write(request); });
    connect(socket, &QTcpSocket::readyRead, this, [this, i] { onProbeRead(i); });
    connect(socket, &QTcpSocket::disconnected, this, [this, i] { onProbeEnded(i, false); });
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this, i](QAbstractSocket::SocketError error) {
                onProbeEnded(i, error == QAbstractSocket::ConnectionRefusedError);
            });
    socket->connectToHost(m_main.address, m_main.port);
}

void QtMainLink::cancelProbe()
{
    for (QTcpSocket *&socket : m_probes) {
        if (!socket)
            continue;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        socket = nullptr;
    }
}

void QtMainLink::onProbeRead(int index)
{
    QTcpSocket *socket = m_probes[index];
    m_replies[index] += socket->readAll();
    if (m_replies[index].size() > kMaxAnswer)
        onProbeEnded(index, false);
}

void QtMainLink::onProbeEnded(int index, bool wasRefused)
{
    QTcpSocket *socket = m_probes[index];
    if (!socket)
        return;
    m_replies[index] += socket->readAll();
    const QByteArray reply = m_replies[index];
    // "HTTP/1.1 200 OK\r\n...\r\n\r\nbody": the main answered, whatever it said.
    const qsizetype end = reply.indexOf("\r\n\r\n");
    const QList<QByteArray> lines = reply.left(end).split('\n');
    const QList<QByteArray> statusLine = lines.value(0).trimmed().split(' ');
    const int status
        = statusLine.size() >= 2 && statusLine[0].startsWith("HTTP/") ? statusLine[1].toInt() : 0;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    m_probes[index] = nullptr;
    if (status > 0 && end >= 0) {
        QByteArray proof;
        for (const QByteArray &line : lines) {
            if (line.toLower().startsWith("x-rv38t-proof:"))
                proof = line.mid(14).trimmed();
        }
        const bool proven
            = m_fence.token.isEmpty() || keyproof::proves(m_fence.token, m_probeChallenge, proof);
        const QByteArray body = reply.mid(end + 4);
        cancelProbe();
        emit answered(status, body, proven);
        return;
    }
    // Refused: the port is closed, the process behind it gone. Anything else
    // (a reset, a close without an answer) proves nothing: the limit decides.
    if (wasRefused) {
        cancelProbe();
        emit refused();
        return;
    }
    // Taken and dropped without a word: a dying process's last queue, or a
    // server that turned us away. Asked once more, a closed port refuses.
    if (!m_retried[index]) {
        m_retried[index] = true;
        startProbeConnection(index);
    }
}

#include "moc_mainlink.cpp"
