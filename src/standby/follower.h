#pragma once

#include "standby/followed.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QTimer;
class MainLink;

// The standby's one relation to its main: follows its state, pings it, and
// when the main has been silent for 2 s asks it once, with a 1-s limit, for
// its state over a fresh connection. An answer means the link failed, not the
// main: the push socket is opened again. No answer means the main is gone, and
// the standby takes over with what it last followed. Before the first state
// has come there is nothing to take over with, so it only keeps trying.
class Follower : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kPingMs = 500;
    static constexpr qint64 kSilenceMs = 2000;
    static constexpr qint64 kProbeMs = 1000;
    static constexpr qint64 kRetryMs = 2000;
    static constexpr int kPollMs = 50;

    enum class State {
        Connecting, // the push socket is opening; nothing has come on it yet
        Live,       // the main's state came on the push socket, and keeps coming
        Down,       // the push socket is closed; opened again every 2 s
        Probing,    // silent too long: the main is asked once, with a deadline
        TakenOver,  // the main is gone; this console drives the displays
    };

    struct Hooks
    {
        std::function<void(const QString &message)> log; // one event-log line
        std::function<void(const Followed &state)> show; // the main's state, as it changes
        std::function<void(bool live, bool green)> lamp; // green: the main's lamp is green
        // Once, with what was last followed and how long ago it came.
        std::function<void(const Followed &state, qint64 msSincePush)> takeOver;
    };
    using Clock = std::function<qint64()>; // milliseconds, monotonic

    Follower(const followed::MainAddress &main, std::unique_ptr<MainLink> link, Hooks hooks,
             QObject *parent = nullptr);
    ~Follower() override;

    // A clock of the test's own; poll() then decides by it alone.
    void setClock(Clock clock) { m_clock = std::move(clock); }

    // Opens the push socket and starts the poll timer.
    void start();
    // What the poll timer runs: pings, and every deadline above.
    void poll();

    State state() const { return m_state; }
    bool hasFollowed() const { return m_hasFollowed; }
    QString mainText() const { return m_main.text; }
    const Followed &followedState() const { return m_followed; }
    MainLink *link() const { return m_link.get(); }

private:
    void open();
    void onMessage(const QByteArray &json);
    void onPong();
    void onClosed();
    void onAnswered(int status, const QByteArray &body);
    void onProbeFailed();
    void startProbe();
    void leaveLive();
    bool take(const QByteArray &json);
    void takeOver();
    void logLine(const char *what);

    followed::MainAddress m_main;
    std::unique_ptr<MainLink> m_link;
    Hooks m_hooks;
    Clock m_clock;
    QTimer *m_timer;
    State m_state = State::Down;
    bool m_hasFollowed = false;
    Followed m_followed;
    qint64 m_lastHeard = 0; // the last message or pong, or the probe's answer
    qint64 m_lastPush = 0;  // the last state taken
    qint64 m_lastPing = 0;
    qint64 m_attemptAt = 0; // the push socket's last opening
    qint64 m_probeAt = 0;
};
