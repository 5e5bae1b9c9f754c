#include "standby/follower.h"

#include "standby/mainlink.h"

#include <QTimer>

#include <chrono>

Follower::Follower(const followed::MainAddress &main, std::unique_ptr<MainLink> link, Hooks hooks,
                   QObject *parent)
    : QObject(parent), m_main(main), m_link(std::move(link)), m_hooks(std::move(hooks)),
      m_clock([] {
          return std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now().time_since_epoch())
              .count();
      }),
      m_timer(new QTimer(this))
{
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(kPollMs);
    connect(m_timer, &QTimer::timeout, this, &Follower::poll);
    connect(m_link.get(), &MainLink::message, this, &Follower::onMessage);
    connect(m_link.get(), &MainLink::pong, this, &Follower::onPong);
    connect(m_link.get(), &MainLink::closed, this, &Follower::onClosed);
    connect(m_link.get(), &MainLink::answered, this, &Follower::onAnswered);
    connect(m_link.get(), &MainLink::refused, this, &Follower::onRefused);
    connect(m_link.get(), &MainLink::notTheMain, this, &Follower::onNotTheMain);
}

Follower::~Follower() = default;

void Follower::start()
{
    if (m_hooks.lamp)
        m_hooks.lamp(false, false);
    open();
    m_timer->start();
}

void Follower::open()
{
    m_state = State::Connecting;
    m_attemptAt = m_clock();
    m_link->open();
}

void Follower::poll()
{
    const qint64 now = m_clock();
    switch (m_state) {
    case State::Live:
        if (now - m_lastHeard >= kSilenceMs) {
            startProbe(true);
        } else if (now - m_lastPing >= kPingMs) {
            m_lastPing = now;
            m_link->ping();
        }
        break;
    case State::Connecting:
    case State::Down:
        // A main followed once is asked as soon as it has been silent too long,
        // whatever the push socket is doing.
        if (m_hasFollowed && now - m_lastHeard >= kSilenceMs)
            startProbe(true);
        else if (now - m_attemptAt >= kRetryMs)
            open(); // an opening that hangs is given up too
        break;
    case State::Probing:
        if (now - m_probeAt < kProbeMs)
            break;
        m_link->cancelProbe();
        if (m_probeAfterSilence && m_hasFollowed) {
            takeOver();
        } else {
            // Asked early, on a close: silence alone decides, by the rule above.
            m_state = State::Down;
            m_attemptAt = now - kRetryMs;
        }
        break;
    case State::TakenOver:
        break;
    }
}

void Follower::onMessage(const QByteArray &json)
{
    if (m_state != State::Connecting && m_state != State::Live)
        return;
    if (!take(json)) {
        logOnce("BAD STATE");
        return;
    }
    if (m_state != State::Live) {
        m_state = State::Live;
        m_lastPing = m_clock();
        m_complained = false;
        logLine("FOLLOWING");
    }
    if (m_hooks.lamp)
        m_hooks.lamp(true, m_followed.lampGreen);
}

void Follower::onPong()
{
    if (m_state == State::Live)
        m_lastHeard = m_clock();
}

void Follower::onClosed(bool handOver)
{
    if (m_state == State::Live) {
        if (handOver) {
            // The main closes on purpose and said so: a planned hand-over.
            logLine("HANDOVER");
            takeOver();
            return;
        }
        // Asked at once: a refusal shows a dead process without waiting out the silence.
        startProbe(false);
    } else if (m_state == State::Connecting) {
        m_state = State::Down;
    }
}

void Follower::leaveLive()
{
    logLine("LOST");
    if (m_hooks.lamp)
        m_hooks.lamp(false, false);
}

void Follower::startProbe(bool afterSilence)
{
    if (m_state == State::Live)
        leaveLive();
    // The push socket failed us; it is opened afresh once the main has answered.
    m_state = State::Probing;
    m_probeAfterSilence = afterSilence;
    m_link->abort();
    m_probeAt = m_clock();
    m_link->probe();
}

void Follower::onAnswered(int status, const QByteArray &body, bool proven)
{
    if (m_state != State::Probing)
        return;
    // Alive, whatever it said; its state, if it gave one and proved who it is,
    // is the freshest there is.
    m_lastHeard = m_clock();
    if (status == 200 && proven)
        take(body);
    open();
}

void Follower::onRefused()
{
    // A push socket opened again after a close that proved nothing is refused as
    // well; its refusal may come after its close.
    const bool reopening = m_state == State::Connecting || m_state == State::Down;
    if (m_state != State::Probing && !(reopening && m_hasFollowed))
        return;
    m_link->cancelProbe();
    if (m_hasFollowed) {
        takeOver();
        return;
    }
    m_state = State::Down;
}

void Follower::onNotTheMain()
{
    logOnce("NOT THE MAIN");
    if (m_state == State::Connecting || m_state == State::Live)
        m_state = State::Down;
}

bool Follower::take(const QByteArray &json)
{
    Followed f;
    // A standby is followed by nobody: were it to take over while its own main
    // lives, two consoles would drive the displays. Once it has taken over it
    // says "main", and is followed from then on.
    if (!followed::fromJson(json, m_rules, &f) || f.role == QLatin1String("standby"))
        return false;
    const qint64 now = m_clock();
    m_lastHeard = now;
    // The main's second begins when its time changes: that arrival is its phase.
    if (!m_hasFollowed || f.fields != m_followed.fields)
        m_lastTick = now;
    m_hasFollowed = true;
    const bool changed = !(f == m_followed);
    m_followed = f;
    if (changed && m_hooks.show)
        m_hooks.show(m_followed);
    return true;
}

void Follower::takeOver()
{
    m_state = State::TakenOver;
    m_timer->stop();
    m_link->abort();
    m_link->cancelProbe();
    logLine("TAKEOVER");
    if (m_hooks.takeOver)
        m_hooks.takeOver(m_followed, m_clock() - m_lastTick);
}

void Follower::logLine(const char *what)
{
    if (m_hooks.log)
        m_hooks.log(QStringLiteral("STANDBY ") + m_main.text + QStringLiteral("= ")
                    + QLatin1String(what));
}

void Follower::logOnce(const char *what)
{
    if (m_complained)
        return;
    m_complained = true;
    logLine(what);
}

#include "moc_follower.cpp"
