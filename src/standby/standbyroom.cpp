#include "standby/standbyroom.h"

#include "standby/follower.h"
#include "standby/mainlink.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace {

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

StandbyRoom::StandbyRoom(Console console, QObject *parent)
    : QObject(parent), m_console(std::move(console)), m_clock(&steadyMs), m_beat(new QTimer(this))
{
    m_lastTurn = m_clock();
    m_beat->setTimerType(Qt::PreciseTimer);
    m_beat->setInterval(kBeatMs);
    connect(m_beat, &QTimer::timeout, this, &StandbyRoom::beat);
    m_beat->start();
}

StandbyRoom::~StandbyRoom() = default;

void StandbyRoom::setClock(Clock clock)
{
    m_clock = std::move(clock);
    m_lastTurn = m_clock();
}

bool StandbyRoom::mayDrive()
{
    noteTurn(m_clock());
    return m_role == Role::Driving;
}

QString StandbyRoom::standbyNote() const
{
    if (!m_makeLink)
        return {}; // no remote control: no standby can follow, and nothing is said
    return m_joined.isEmpty() ? QStringLiteral("no standby follows")
                              : QStringLiteral("STANDBY %1 follows").arg(m_joined.join(", "));
}

void StandbyRoom::noteTurn(qint64 now)
{
    const qint64 gap = now - m_lastTurn;
    m_lastTurn = now;
    if (gap > kStallMs && m_role == Role::Driving && !m_peers.empty()) {
        // Frozen, and perhaps taken over from meanwhile: nothing leaves before
        // the standbys have had their say.
        m_role = Role::Checking;
        m_checkAt = now;
        for (Peer &p : m_peers)
            ask(p, now);
    }
}

void StandbyRoom::beat()
{
    const qint64 now = m_clock();
    noteTurn(now);
    if (m_role == Role::Checking) {
        if (now - m_checkAt >= kAskMs)
            endCheck(true);
        return;
    }
    if (m_role != Role::Driving)
        return;
    for (Peer &p : m_peers) {
        if (p.waiting && now - p.askedAt >= kWatchMs) {
            p.link->cancelProbe();
            p.waiting = false;
        }
    }
    if (now - m_watchAt < kWatchMs)
        return;
    m_watchAt = now;
    for (Peer &p : m_peers) {
        if (!p.waiting)
            ask(p, now);
    }
}

void StandbyRoom::ask(Peer &peer, qint64 now)
{
    peer.link->cancelProbe();
    peer.waiting = true;
    peer.askedAt = now;
    peer.link->probe();
}

StandbyRoom::Peer *StandbyRoom::peer(const QString &text)
{
    for (Peer &p : m_peers) {
        if (p.where.text == text)
            return &p;
    }
    return nullptr;
}

void StandbyRoom::addPeer(const followed::MainAddress &where)
{
    if (!m_makeLink || peer(where.text))
        return;
    if (m_peers.size() >= kMaxPeers) {
        m_peers.front().link->cancelProbe();
        m_peers.front().link.release()->deleteLater();
        m_peers.erase(m_peers.begin());
    }
    Peer p;
    p.where = where;
    p.link = m_makeLink(where);
    const QString text = where.text;
    connect(p.link.get(), &MainLink::answered, this,
            [this, text](int status, const QByteArray &body, bool proven) {
                onAnswer(text, status, body, proven);
            });
    connect(p.link.get(), &MainLink::refused, this, [this, text] { onSilent(text); });
    m_peers.push_back(std::move(p));
}

void StandbyRoom::dropPeers()
{
    // Later: one of them may be reporting right now.
    for (Peer &p : m_peers) {
        p.link->cancelProbe();
        p.link.release()->deleteLater();
    }
    m_peers.clear();
}

void StandbyRoom::onAnswer(const QString &text, int status, const QByteArray &body, bool proven)
{
    Peer *p = peer(text);
    if (!p)
        return;
    p->waiting = false;
    const QJsonObject o = QJsonDocument::fromJson(body).object();
    // Only a console that proved the shared token may make this one step down.
    if (status == 200 && proven && (m_role == Role::Driving || m_role == Role::Checking)) {
        const QString role = o.value(QLatin1String("role")).toString();
        const qint64 term = static_cast<qint64>(o.value(QLatin1String("term")).toDouble(-1));
        switch (followed::judge(m_term, role, term)) {
        case followed::Verdict::StepDown:
            stepDown(p->where);
            return;
        case followed::Verdict::SameTerm:
            if (!p->sameTermLogged)
                m_console.log(QStringLiteral("STANDBY %1= MAIN OF THE SAME TERM %2, DRIVING ON")
                                  .arg(text)
                                  .arg(term));
            p->sameTermLogged = true;
            break;
        case followed::Verdict::Keep:
            p->sameTermLogged = false;
            break;
        }
    }
    if (m_role == Role::Checking
        && std::none_of(m_peers.begin(), m_peers.end(), [](const Peer &q) { return q.waiting; }))
        endCheck(false);
}

void StandbyRoom::onSilent(const QString &text)
{
    Peer *p = peer(text);
    if (!p)
        return;
    p->waiting = false;
    if (m_role == Role::Checking) {
        m_console.log(QStringLiteral("STANDBY %1= NO ANSWER").arg(text));
        if (std::none_of(m_peers.begin(), m_peers.end(), [](const Peer &q) { return q.waiting; }))
            endCheck(false);
    }
}

void StandbyRoom::endCheck(bool deadline)
{
    if (deadline) {
        for (Peer &p : m_peers) {
            if (!p.waiting)
                continue;
            p.link->cancelProbe();
            p.waiting = false;
            m_console.log(QStringLiteral("STANDBY %1= NO ANSWER").arg(p.where.text));
        }
    }
    // It cannot know more: it drives on, and the displays get the time held back.
    m_role = Role::Driving;
    m_watchAt = m_clock();
    if (m_console.sendCurrentTime)
        m_console.sendCurrentTime();
}

Follower *StandbyRoom::follow(const followed::MainAddress &main, std::unique_ptr<MainLink> link)
{
    m_role = Role::Following;
    m_main = main;
    dropPeers();
    m_console.enterFollowing(main.text);
    emit followingChanged(main.text);
    if (!m_fenced)
        m_console.log(QStringLiteral("STANDBY %1= NOT FENCED: no --remote-token shared with it")
                          .arg(main.text));
    Follower::Hooks hooks;
    hooks.log = m_console.log;
    hooks.show = [this](const Followed &f) { applyFollowed(f); };
    hooks.lamp = [this](bool live, bool green) {
        if (m_console.lamp)
            m_console.lamp(live, green, m_main.text);
    };
    hooks.takeOver = [this](const Followed &f, qint64 ms) { takeOver(f, ms); };
    if (m_follower)
        m_follower->deleteLater();
    m_follower = new Follower(main, std::move(link), std::move(hooks), this);
    m_follower->setClock(m_clock);
    m_follower->setRules(m_rules);
    return m_follower;
}

void StandbyRoom::applyFollowed(const Followed &f)
{
    for (const View &v : m_views)
        v.show(f);
    m_console.showEntries(f.list);
    m_console.showTitle(f.title);
    m_console.showTime(f.fields, f.running);
    if (m_term != f.term) {
        m_term = f.term;
        emit changed();
    }
}

void StandbyRoom::takeOver(const Followed &f, qint64 msSinceTick)
{
    m_term = f.term + 1;
    m_role = Role::Driving;
    m_lastTurn = m_watchAt = m_clock();
    emit followingChanged(QString());
    m_console.leaveFollowing();
    // Saved as every save does, so a restart comes back with the show's list and title.
    m_console.showEntries(f.list);
    m_console.showTitle(f.title);
    m_console.save();
    for (const View &v : m_views)
        v.keep(f);
    if (f.running) {
        // Where the main would be now, on its own second: the displays must
        // not be set back by the time detection took, nor see a tick early or late.
        const int now = followed::secondsNow(m_console.secondsOf(f.fields), msSinceTick) % 86400;
        if (now > 0)
            m_console.runFor(qint64(now) * 1000 - qMax<qint64>(0, msSinceTick) % 1000);
        else
            m_console.showTime({QStringLiteral("00"), QStringLiteral("00"), QStringLiteral("00")},
                               false);
    }
    // The main's armed start goes on here, named as this console's.
    if (!f.startsAt.isEmpty())
        m_console.arm(f.startsAt, QStringLiteral("STANDBY ") + m_main.text, msSinceTick);
    // Every display is connected now, not at the next tick, and gets the time on connecting.
    m_console.connectDisplays();
    // The old main is asked every second from now on: should it come back, it steps down.
    addPeer(m_main);
    emit changed();
}

void StandbyRoom::stepDown(const followed::MainAddress &to)
{
    // First of all: from here on nothing is sent.
    m_role = Role::Following;
    m_console.log(QStringLiteral("STEP DOWN FOR ") + to.text);
    m_console.dropDisplays();
    m_console.stopCountdown();
    Follower *f = follow(to, m_makeLink(to));
    f->start();
}

void StandbyRoom::standbyJoined(const QString &address)
{
    followed::MainAddress where;
    QString error;
    if (!followed::parseMain(address, &where, &error))
        return;
    if (!m_joined.contains(where.text))
        m_joined.append(where.text);
    if (m_role != Role::Following)
        addPeer(where);
    emit changed();
}

void StandbyRoom::standbyLeft(const QString &address)
{
    m_joined.removeAll(address);
    emit changed();
    // A standby's link that drops may be this console's own stall: ask before sending.
    if (m_role == Role::Driving && peer(address)) {
        const qint64 now = m_clock();
        m_role = Role::Checking;
        m_checkAt = now;
        for (Peer &p : m_peers)
            ask(p, now);
    }
}

#include "moc_standbyroom.cpp"
