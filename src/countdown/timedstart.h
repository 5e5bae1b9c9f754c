#pragma once

#include "countdown/timeofday.h"

#include <QObject>
#include <QString>
#include <QTime>
#include <QTimer>

#include <functional>

// A start armed for a time of day. It owns one single-shot Qt::PreciseTimer,
// computed from the wall clock and never longer than a second, so a stepped
// clock or a suspend is noticed within a second and the last wait lands on the
// wall-clock second. When the second comes it disarms, then calls `fire` with
// the text the arming named (the log line's source).
class TimedStart : public QObject
{
    Q_OBJECT
public:
    using Clock = std::function<qint64()>; // the wall clock, ms since the epoch
    using Fire = std::function<void(const QString &who)>;
    using Missed = std::function<void(const QString &who, QTime at)>;

    // A start found more than this late (the machine slept, the clock was
    // stepped past it) is dropped, not fired: a late start is the wrong one.
    static constexpr qint64 kGraceMs = 5000;

    TimedStart(Fire fire, Missed missed, QObject *parent = nullptr);

    // The wall clock; QDateTime::currentMSecsSinceEpoch by default.
    void setClock(Clock clock) { m_clock = std::move(clock); }
    void setOffsetAt(timeofday::OffsetAt offsetAt) { m_offsetAt = std::move(offsetAt); }

    // Arms (or re-arms) for the next time the local clock reads `at` after the
    // instant `agoMs` before now. A takeover passes how old its main's state is,
    // so a start that fell due while the main's death was being noticed fires
    // at once instead of a day later.
    void arm(QTime at, const QString &who, qint64 agoMs = 0);
    void disarm();

    bool isArmed() const { return m_at.isValid(); }
    QTime armedFor() const { return m_at; }        // invalid when not armed
    qint64 targetMs() const { return m_targetMs; } // the instant it fires at
    // "HH:MM:SS" while armed, "" otherwise.
    QString text() const;

    // The pending wait in ms, -1 when none: never more than a second.
    int nextWaitMs() const { return m_timer.isActive() ? m_timer.interval() : -1; }

    // The timer's handler, public so tests can drive it with a fake clock.
    void check();

signals:
    void changed();

private:
    void schedule(qint64 now);

    Fire m_fire;
    Missed m_missed;
    Clock m_clock;
    timeofday::OffsetAt m_offsetAt = timeofday::systemOffsetAt;
    QTimer m_timer;
    QTime m_at;
    QString m_who;
    qint64 m_targetMs = 0;
};
