#pragma once

#include "remote/httpconnection.h"

#include <QByteArray>
#include <QHash>
#include <QByteArrayList>
#include <QHostAddress>
#include <QList>
#include <QObject>

class QTcpServer;
class QWebSocket;
class RemoteHub;
struct HttpHead;

// HTTP/1.1 and WebSocket remote control over one listening socket. A small
// server of our own over QTcpServer: each client is one HttpConnection with its
// own deadline; the server bounds how many there are, from all and from one
// address, settles who may do what before a body is read, and keeps the viewers
// that the push socket's upgrades become.
class RemoteServer : public QObject, private HttpConnection::Handler
{
    Q_OBJECT
public:
    struct Limits
    {
        qint64 maxHead = 8192; // request line and header fields
        qint64 maxBody = 4096;
        qint64 maxRundownBody = 512 * 1024;   // PUT /api/rundown: a list of 200 segments
        int maxViewers = 64;                  // WebSocket viewers, handshakes in flight included
        qint64 maxViewerBacklog = 256 * 1024; // unsent bytes before a viewer is dropped
        int maxConnections = 100; // HTTP connections at once, upgrades not yet read included
        int maxPerAddress = 16;   // connections and viewers from one client address
        int idleMs = 15000;       // an HTTP connection silent this long is closed
        int requestMs = 10000;    // a request must be whole this long after its first byte
        int maxRequests = 100;    // served on one keep-alive connection, then closed
        int lifeMs = 600000;      // a keep-alive connection closes after its answer past this
        int stalledMs = 2000;     // a request still incomplete this long may give way
        int maxOverCaps = 32;     // taken over the caps, only to answer 503 or serve a token
        int overCapsMs = 2000;    // for those to send their request
        int fairViewers = 4;      // an address below this may displace one above it
    };

    explicit RemoteServer(RemoteHub &hub, QObject *parent = nullptr);
    ~RemoteServer() override;

    // Binds at once; false with a message the operator can act on.
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    // When set, every control request must carry "Authorization: Bearer TOKEN".
    // Without one, every request must name this server in its Host field.
    void setToken(const QByteArray &token) { m_token = token; }
    // Host names a client may use besides this machine's addresses and
    // "localhost" (lower case): the show network's own names for it.
    void setNames(const QByteArrayList &names) { m_names = names; }
    void setLimits(const Limits &limits) { m_limits = limits; }

    quint16 port() const;
    QHostAddress address() const;
    int viewerCount() const;
    int connectionCount() const;

    // The console closes on purpose: every viewer is told so ("going away"),
    // and a standby among them takes over at once, as a planned hand-over.
    void goingAway();

signals:
    void viewerDropped(const QString &peer);

private:
    struct Viewer
    {
        QWebSocket *socket = nullptr;
        QHostAddress peer;
        bool trusted = false; // its upgrade carried the token
    };

    void onNewConnection();
    Next headReceived(HttpConnection &connection, const HttpHead &head) override;
    void requestReceived(HttpConnection &connection, const HttpHead &head,
                         const QByteArray &body) override;
    void answerRundownPut(HttpConnection &connection, const HttpHead &head, const QByteArray &body);
    void onUpgraded(HttpConnection *connection, QWebSocket *viewer);
    void removeViewer(QWebSocket *viewer);
    void push();
    void sendTo(QWebSocket *viewer, const QByteArray &json);
    int fromAddress(const QHostAddress &peer) const;
    bool makeRoom();
    bool makeViewerRoom(const HttpConnection &newcomer);
    bool hostAllowed(const HttpConnection &connection, const HttpHead &head) const;
    bool authorised(const HttpHead &head) const;
    bool sameOrigin(const HttpHead &head) const;
    static QByteArray page(const QString &name);

    // The standby's side of a push upgrade: its announcement and its challenge,
    // kept from the head until the viewer exists.
    struct Announcement
    {
        QString standby; // "HOST:PORT" when taken (the shared token came with it)
        QByteArray challenge;
    };
    void noteAnnouncement(HttpConnection &connection, const HttpHead &head);
    void adoptAnnouncement(HttpConnection *connection, QWebSocket *viewer);
    void forgetStandby(QWebSocket *viewer);
    QByteArray proofFields(const HttpHead &head) const;
    static QString announcedAddress(const QByteArray &target, const QHostAddress &peer);

    RemoteHub &m_hub;
    QTcpServer *m_tcp = nullptr;
    QList<HttpConnection *> m_connections; // until each is finished
    QList<Viewer> m_viewers;
    QHash<const HttpConnection *, Announcement> m_announcements;
    QHash<const QWebSocket *, QString> m_standbys; // the viewers that are standbys
    QByteArray m_token;
    QByteArrayList m_names;
    QByteArray m_lastPush;
    Limits m_limits;
};
