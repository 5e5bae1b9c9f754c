#include "countdown/timedstart.h"

#include <QDateTime>

#include <algorithm>

namespace {
// The longest single wait: how soon a stepped clock or a wake from sleep is seen.
constexpr qint64 kStepMs = 1000;
} // namespace

TimedStart::TimedStart(Fire fire, Missed missed, QObject *parent)
    : QObject(parent), m_fire(std::move(fire)), m_missed(std::move(missed)),
      m_clock([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &TimedStart::check);
}

void TimedStart::arm(QTime at, const QString &who, qint64 agoMs)
{
    if (!at.isValid())
        return;
    at = QTime(at.hour(), at.minute(), at.second());
    const qint64 now = m_clock();
    m_at = at;
    m_who = who;
    m_targetMs = timeofday::nextOccurrence(now - std::max<qint64>(0, agoMs), at, m_offsetAt);
    schedule(now);
    emit changed();
}

void TimedStart::disarm()
{
    if (!isArmed())
        return;
    m_timer.stop();
    m_at = QTime();
    m_who.clear();
    m_targetMs = 0;
    emit changed();
}

QString TimedStart::text() const
{
    return isArmed() ? m_at.toString(QStringLiteral("HH:mm:ss")) : QString();
}

void TimedStart::check()
{
    if (!isArmed())
        return;
    const qint64 now = m_clock();
    if (now < m_targetMs) {
        schedule(now);
        return;
    }
    const QString who = m_who;
    const QTime at = m_at;
    const bool late = now - m_targetMs > kGraceMs;
    // Disarmed first, so what the firing does (Run on) sees nothing armed.
    disarm();
    if (late) {
        if (m_missed)
            m_missed(who, at);
    } else if (m_fire) {
        m_fire(who);
    }
}

void TimedStart::schedule(qint64 now)
{
    m_timer.start(int(std::clamp<qint64>(m_targetMs - now, 0, kStepMs)));
}

#include "moc_timedstart.cpp"
