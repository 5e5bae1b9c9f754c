#pragma once

#include "standby/followed.h"

#include <QByteArray>
#include <QObject>
#include <QUrl>

#include <array>

class QTcpSocket;
class QWebSocket;

// The standby's two ways to the main's remote control: the push socket it
// follows and pings, and the one-off question for the state that tells a dead
// main from a dead link. The follower keeps every deadline; a link only
// reports what happened, always through the event loop.
class MainLink : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Opens the push socket; its messages arrive as message(), its end as closed().
    virtual void open() = 0;
    // Drops the push socket at once; no closed() follows.
    virtual void abort() = 0;
    virtual void ping() = 0;
    // GET /api/state over fresh connections; answered() with the body of the
    // first answer, refused() when the port is closed. Nothing is reported for
    // a main that never answers.
    virtual void probe() = 0;
    // Forgets a probe in flight; nothing of it is reported afterwards.
    virtual void cancelProbe() = 0;

signals:
    void message(const QByteArray &json);
    void pong();
    // `handOver`: the main said it is closing on purpose, not lost.
    void closed(bool handOver);
    // `status` is the HTTP status: any answer at all shows the main alive.
    // `proven`: the answer proved the shared token (or there is none to prove).
    void answered(int status, const QByteArray &body, bool proven);
    // A connection of the probe, or the push socket's opening, was refused:
    // nothing listens there any more.
    void refused();
    // The push socket's other end could not prove the shared token.
    void notTheMain();
};

// Over QWebSocket and plain TCP sockets: the probe's request is written by
// hand so that nothing between us and the socket keeps a connection alive or
// retries it behind our back.
class QtMainLink : public MainLink
{
    Q_OBJECT
public:
    // Two connections ask at once: on a lossy network one lost SYN alone
    // would cost a second, the whole of the probe's limit.
    static constexpr int kProbeConnections = 2;
    static constexpr qint64 kMaxMessage = 1024 * 1024;

    // What this console tells the main about itself: the address of its own
    // remote control ("HOST:PORT", or ":PORT" for the address the main sees),
    // and the token both consoles share (empty: none, nothing is proven).
    struct Fence
    {
        QString announce;
        QByteArray token;
    };

    QtMainLink(const followed::MainAddress &main, const Fence &fence, QObject *parent = nullptr);
    ~QtMainLink() override;

    void open() override;
    void abort() override;
    void ping() override;
    void probe() override;
    void cancelProbe() override;

private:
    void onMessage(const QString &text);
    void startProbeConnection(int index);
    void onProbeRead(int index);
    void onProbeEnded(int index, bool wasRefused);

    followed::MainAddress m_main;
    Fence m_fence;
    QUrl m_url;
    QWebSocket *m_ws;
    bool m_quiet = false;   // inside abort(): the socket's own disconnected() is ours
    QByteArray m_challenge; // the push socket's, until the main has answered it
    QByteArray m_probeChallenge;
    QByteArray m_probeRequest;
    std::array<bool, kProbeConnections> m_retried{};
    std::array<QTcpSocket *, kProbeConnections> m_probes{};
    std::array<QByteArray, kProbeConnections> m_replies;
};
