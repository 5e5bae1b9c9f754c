#pragma once

#include "standby/followed.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QTimer;
class MainLink;

// The standby's one relation to its main: follows its state, pings it, and
// asks it for its state over a fresh connection as soon as the push socket
// closes, or once it has been silent for 2 s. A refused connection means the
// main's process is gone: the standby takes over at once. An answer means the
// link failed, not the main: the push socket is opened again. After 2 s of
// silence a probe unanswered within 1 s means the main is gone too. A main
// that closes on purpose says so first, and is taken over from at once.
// Before the first state has come there is nothing to take over with, so it
// only keeps trying.
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
        Probing,    // the main is asked once, with a deadline
        TakenOver,  // the main is gone; this console drives the displays
    };

    struct Hooks
    {
        std::function<void(const QString &message)> log; // one event-log line
        std::function<void(const Followed &state)> show; // the main's state, as it changes
        std::function<void(bool live, bool green)> lamp; // green: the main's lamp is green
        // Once, with what was last followed and how long ago the main's last
        // second began (the push in which its time last changed).
        std::function<void(const Followed &state, qint64 msSinceTick)> takeOver;
    };
    using Clock = std::function<qint64()>; // milliseconds, monotonic

    Follower(const followed::MainAddress &main, std::unique_ptr<MainLink> link, Hooks hooks,
             QObject *parent = nullptr);
    ~Follower() override;

    // A clock of the test's own; poll() then decides by it alone.
    void setClock(Clock clock) { m_clock = std::move(clock); }
    void setRules(const followed::Rules &rules) { m_rules = rules; }

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
    void onClosed(bool handOver);
    void onAnswered(int status, const QByteArray &body, bool proven);
    void onRefused();
    void onNotTheMain();
    void startProbe(bool afterSilence);
    void leaveLive();
    bool take(const QByteArray &json);
    void takeOver();
    void logLine(const char *what);
    void logOnce(const char *what);

    followed::MainAddress m_main;
    std::unique_ptr<MainLink> m_link;
    Hooks m_hooks;
    Clock m_clock;
    followed::Rules m_rules;
    QTimer *m_timer;
    State m_state = State::Down;
    bool m_hasFollowed = false;
    Followed m_followed;
    qint64 m_lastHeard = 0; // the last message or pong, or the probe's answer
    qint64 m_lastTick = 0;  // the last state whose time differed from the one before
    qint64 m_lastPing = 0;
    qint64 m_attemptAt = 0; // the push socket's last opening
    qint64 m_probeAt = 0;
    bool m_probeAfterSilence = false; // else asked because the push socket closed
    bool m_complained = false;        // BAD STATE or NOT THE MAIN logged since the last FOLLOWING
};
