#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>

class QTcpServer;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;
class RemoteHub;
struct HttpHead;

// HTTP/1.1 and WebSocket remote control over one listening socket. A small
// server of our own over QTcpServer: it refuses an oversized head or body
// before reading it, bounds connections and what each may leave unread, and
// hands the push socket's upgrade to Qt's WebSocket server.
class RemoteServer : public QObject
{
    Q_OBJECT
public:
    struct Limits
    {
        qint64 maxHead = 8192; // request line and header fields
        qint64 maxBody = 4096;
        int maxViewers = 64;                  // WebSocket viewers, handshakes in flight included
        qint64 maxViewerBacklog = 256 * 1024; // unsent bytes before a viewer is dropped
        int maxConnections = 100; // HTTP connections at once, upgrades not yet read included
        int idleMs = 15000;       // an HTTP connection silent this long is closed
    };

    explicit RemoteServer(RemoteHub &hub, QObject *parent = nullptr);
    ~RemoteServer() override;

    // Binds at once; false with a message the operator can act on.
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    // When set, every control request must carry "Authorization: Bearer TOKEN".
    void setToken(const QByteArray &token) { m_token = token; }
    void setLimits(const Limits &limits) { m_limits = limits; }

    quint16 port() const;
    QHostAddress address() const;
    int viewerCount() const { return static_cast<int>(m_viewers.size() + m_handshakes.size()); }
    int connectionCount() const { return m_connections; }

signals:
    void viewerDropped(const QString &peer);

private:
    void onNewConnection();
    void serve(QTcpSocket *socket);
    bool handle(QTcpSocket *socket, const HttpHead &head, const QByteArray &body);
    void respond(QTcpSocket *socket, int status, const QByteArray &type, const QByteArray &body,
                 bool keepAlive, const QByteArray &extraFields = QByteArray());
    void respondError(QTcpSocket *socket, int status, const QString &error, bool keepAlive,
                      const QByteArray &extraFields = QByteArray());
    void upgrade(QTcpSocket *socket);
    void onNewViewer();
    void push();
    void sendTo(QWebSocket *viewer, const QByteArray &json);
    bool authorised(const HttpHead &head) const;
    bool sameOrigin(const HttpHead &head) const;
    static QByteArray page(const QString &name);

    RemoteHub &m_hub;
    QTcpServer *m_tcp = nullptr;
    QWebSocketServer *m_ws = nullptr;
    QList<QWebSocket *> m_viewers;
    QByteArray m_token;
    QByteArray m_lastPush;
    Limits m_limits;
    int m_connections = 0;
    QList<QTcpSocket *> m_handshakes; // handed to Qt's WebSocket server, not yet viewers
};
