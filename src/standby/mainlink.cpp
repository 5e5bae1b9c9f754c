#include "standby/mainlink.h"

#include <QTcpSocket>
#include <QWebSocket>

namespace {
// Far more than a state with 99 displays; a main that sends more is not one.
constexpr qint64 kMaxAnswer = 512 * 1024;
} // namespace

QtMainLink::QtMainLink(const followed::MainAddress &main, QObject *parent)
    : MainLink(parent), m_main(main),
      m_ws(new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this))
{
    m_url.setScheme(QStringLiteral("ws"));
    m_url.setHost(main.address.toString());
    m_url.setPort(main.port);
    m_url.setPath(QStringLiteral("/api/ws"));
    m_ws->setMaxAllowedIncomingMessageSize(kMaxMessage);
    m_ws->setMaxAllowedIncomingFrameSize(kMaxMessage);
    connect(m_ws, &QWebSocket::textMessageReceived, this,
            [this](const QString &text) { emit message(text.toUtf8()); });
    connect(m_ws, &QWebSocket::pong, this, [this] { emit pong(); });
    connect(m_ws, &QWebSocket::disconnected, this, [this] {
        if (!m_quiet)
            emit closed();
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
    m_ws->open(m_url);
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
    const QByteArray request = "GET /api/state HTTP/1.1\r\nHost: " + host
                               + "\r\nAccept: application/json\r\nConnection: close\r\n\r\n";
    m_probesLeft = kProbeConnections;
    for (int i = 0; i < kProbeConnections; ++i) {
        auto *socket = new QTcpSocket(this);
        socket->setReadBufferSize(kMaxAnswer);
        m_probes[i] = socket;
        m_replies[i].clear();
        connect(socket, &QTcpSocket::connected, this,
                [socket, request] { socket->write(request); });
        connect(socket, &QTcpSocket::readyRead, this, [this, i] { onProbeRead(i); });
        connect(socket, &QTcpSocket::disconnected, this, [this, i] { onProbeEnded(i); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, i] { onProbeEnded(i); });
        socket->connectToHost(m_main.address, m_main.port);
    }
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
    m_probesLeft = 0;
}

void QtMainLink::onProbeRead(int index)
{
    QTcpSocket *socket = m_probes[index];
    m_replies[index] += socket->readAll();
    if (m_replies[index].size() > kMaxAnswer)
        onProbeEnded(index);
}

void QtMainLink::onProbeEnded(int index)
{
    QTcpSocket *socket = m_probes[index];
    if (!socket)
        return;
    m_replies[index] += socket->readAll();
    const QByteArray reply = m_replies[index];
    // "HTTP/1.1 200 OK\r\n...\r\n\r\nbody": the main answered, whatever it said.
    const qsizetype end = reply.indexOf("\r\n\r\n");
    const QList<QByteArray> statusLine = reply.left(reply.indexOf("\r\n")).split(' ');
    const int status
        = statusLine.size() >= 2 && statusLine[0].startsWith("HTTP/") ? statusLine[1].toInt() : 0;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    m_probes[index] = nullptr;
    if (status > 0 && end >= 0) {
        const QByteArray body = reply.mid(end + 4);
        cancelProbe();
        emit answered(status, body);
        return;
    }
    if (--m_probesLeft == 0)
        emit probeFailed();
}

#include "moc_mainlink.cpp"
