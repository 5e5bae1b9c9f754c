#pragma once

#include "standby/followed.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QTimer;
class Follower;
class MainLink;

// Which console drives the displays. One explicit role, asked by the frame
// sender and the supervisor before anything leaves: a following standby, or a
// main that stalled and has not yet asked its standbys, sends nothing.
//
// Every takeover raises the term: a main started as such has term 0, a
// standby shows the term of the main it follows and takes over with one more.
// A driving console steps down for a main of a higher term that it can reach:
// it asks its standbys (and, after a takeover, its old main) every second, and
// at once after a stall of its own.
class StandbyRoom : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 kBeatMs = 100;
    static constexpr qint64 kStallMs = 1000; // no turn of the event loop this long: a stall
    static constexpr qint64 kAskMs = 300;    // a stalled main waits this long for each answer
    static constexpr qint64 kWatchMs = 1000; // every peer asked this often
    static constexpr int kMaxPeers = 8;

    enum class Role {
        Driving,   // this console's frames reach the displays
        Checking,  // stalled: its standbys are asked first; nothing is sent meanwhile
        Following, // a standby: the main's pushes move its fields, nothing is sent
    };

    // What the room asks of the window.
    struct Console
    {
        std::function<void(const QString &line)> log;
        // Controls off, caption naming the main, no tick, no supervisor, own list gone.
        std::function<void(const QString &main)> enterFollowing;
        std::function<void()> leaveFollowing;
        std::function<void(const QStringList &entries)> showEntries;
        std::function<void(const QString &title)> showTitle;
        // The fields and Run as the main has them; no tick of its own.
        std::function<void(const std::array<QString, 3> &fields, bool running)> showTime;
        // The seconds the three texts stand for, as the countdown reads them.
        std::function<int(const std::array<QString, 3> &fields)> secondsOf;
        std::function<void(bool live, bool green, const QString &main)> lamp;
        std::function<void()> save; // the list and the title, as every save does
        // Run on, zero `msLeft` from now: the first tick comes at `msLeft` % 1000.
        std::function<void(qint64 msLeft)> runFor;
        std::function<void(const QString &hhmmss, const QString &who, qint64 msLate)> arm;
        std::function<void()> stopCountdown;
        std::function<void()> sendCurrentTime;
        std::function<void()> connectDisplays; // the supervisor on, its tick now
        std::function<void()> dropDisplays;    // every display connection closed
    };
    using LinkFactory = std::function<std::unique_ptr<MainLink>(const followed::MainAddress &)>;
    using Clock = std::function<qint64()>;

    explicit StandbyRoom(Console console, QObject *parent = nullptr);
    ~StandbyRoom() override;

    // How links to other consoles are made; without, this console asks nobody.
    void setLinks(LinkFactory makeLink) { m_makeLink = std::move(makeLink); }
    // Whether both consoles share a token; a pair without one is not fenced.
    void setFenced(bool fenced) { m_fenced = fenced; }
    void setRules(const followed::Rules &rules) { m_rules = rules; }
    // More of the main's state that this console follows (the presenter's view,
    // the running order): shown as followed, and kept (saved) at a takeover.
    void addView(std::function<void(const Followed &)> show,
                 std::function<void(const Followed &)> keep)
    {
        m_views.push_back({std::move(show), std::move(keep)});
    }
    void setClock(Clock clock);

    // Asked before every frame and every tick of the supervisor; notices a stall.
    bool mayDrive();
    Role role() const { return m_role; }
    qint64 term() const { return m_term; }
    Follower *follower() const { return m_follower; }
    // For the lamp's tooltip: which standbys follow now; empty without links.
    QString standbyNote() const;

    // Becomes the standby of `main`; the follower is started by the caller.
    Follower *follow(const followed::MainAddress &main, std::unique_ptr<MainLink> link);
    // The one place the main's state reaches the window while following.
    void applyFollowed(const Followed &state);
    // The main is gone: this console drives, from where the main would be now.
    void takeOver(const Followed &state, qint64 msSinceTick);
    // Another console drives with a higher term: nothing more is sent, and it is followed.
    void stepDown(const followed::MainAddress &to);

    // From the remote control: a standby announced itself, or its link dropped.
    void standbyJoined(const QString &address);
    void standbyLeft(const QString &address);

    // The beat: stalls, the stalled main's deadline, and the watch.
    void beat();

signals:
    // The main followed now, or empty while this console drives.
    void followingChanged(const QString &main);
    // The term or the standbys changed.
    void changed();

private:
    struct Peer
    {
        followed::MainAddress where;
        std::unique_ptr<MainLink> link;
        qint64 askedAt = 0;
        bool waiting = false;
        bool sameTermLogged = false;
    };

    void noteTurn(qint64 now);
    void addPeer(const followed::MainAddress &where);
    void ask(Peer &peer, qint64 now);
    void onAnswer(const QString &peer, int status, const QByteArray &body, bool proven);
    void onSilent(const QString &peer);
    void endCheck(bool deadline);
    void dropPeers();
    Peer *peer(const QString &text);

    Console m_console;
    LinkFactory m_makeLink;
    struct View
    {
        std::function<void(const Followed &)> show;
        std::function<void(const Followed &)> keep;
    };
    std::vector<View> m_views;
    Clock m_clock;
    followed::Rules m_rules;
    QTimer *m_beat;
    Role m_role = Role::Driving;
    qint64 m_term = 0;
    bool m_fenced = false;
    qint64 m_lastTurn = 0;
    qint64 m_checkAt = 0;
    qint64 m_watchAt = 0;
    Follower *m_follower = nullptr;
    followed::MainAddress m_main; // followed, or taken over from
    std::vector<Peer> m_peers;
    QStringList m_joined; // standbys whose push sockets are open now
};
