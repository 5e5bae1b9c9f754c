#pragma once

#include <QTime>
#include <QtGlobal>

#include <functional>

// Times of day on the local wall clock, free of widgets and timers. Instants are
// milliseconds since the epoch (UTC), so a daylight-saving change is only a
// change of offset, and "now" is always handed in.
namespace timeofday {

// The local clock's offset from UTC, in seconds, at an instant.
using OffsetAt = std::function<int(qint64 utcMs)>;

// The system's time zone, as the C library has it (TZ, /etc/localtime).
int systemOffsetAt(qint64 utcMs);

// The next instant at which the local clock reads `at`, strictly after the
// second `nowMs` lies in: a target equal to the current second is tomorrow's.
// Where the clock skips `at` (a spring-forward gap), the instant it resumes
// after the gap; where it reads `at` twice (fall-back), the first one still ahead.
qint64 nextOccurrence(qint64 nowMs, QTime at, const OffsetAt &offsetAt = systemOffsetAt);

// What the countdown shows for a target `msLeft` ahead (> 0), and when its next
// tick must come so that zero lands on the target, not before it.
struct Until
{
    int seconds = 0;        // 1 .. 86399: the fields hold no more than 23:59:59
    qint64 firstTickMs = 0; // after which the ticks follow every 1000 ms
    bool operator==(const Until &o) const
    {
        return seconds == o.seconds && firstTickMs == o.firstTickMs;
    }
};
Until until(qint64 msLeft);

// The largest time an until shows: the tick wraps anything above a day.
constexpr int kMaxUntilSeconds = 86399;

} // namespace timeofday
