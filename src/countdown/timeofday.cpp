#include "countdown/timeofday.h"

#include <QDateTime>

#include <algorithm>

namespace timeofday {
namespace {

constexpr qint64 kMsPerSecond = 1000;
constexpr qint64 kMsPerDay = 86400 * kMsPerSecond;

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// The local clock's reading at an instant, in ms as if the zone were UTC.
qint64 localMs(qint64 utcMs, const OffsetAt &offsetAt)
{
    return utcMs + qint64(offsetAt(utcMs)) * kMsPerSecond;
}

// The instants at which the local clock reads `wall` (local ms, as if the zone
// were UTC), earliest first: one, two in a fall-back overlap, none in a gap. The
// offsets in force a day either side cover any real zone's change on that day.
int instantsReading(qint64 wall, const OffsetAt &offsetAt, qint64 out[2])
{
    const qint64 offsets[2] = {qint64(offsetAt(wall - kMsPerDay)) * kMsPerSecond,
                               qint64(offsetAt(wall + kMsPerDay)) * kMsPerSecond};
    int n = 0;
    for (qint64 offset : offsets) {
        const qint64 u = wall - offset;
        if (localMs(u, offsetAt) == wall && (n == 0 || out[0] != u))
            out[n++] = u;
    }
    if (n == 2 && out[1] < out[0])
        std::swap(out[0], out[1]);
    return n;
}

// In a gap: the first instant whose local time lies past `wall`, found by
// bisection between the instants the two offsets give.
qint64 gapEnd(qint64 wall, const OffsetAt &offsetAt)
{
    const qint64 a = wall - qint64(offsetAt(wall - kMsPerDay)) * kMsPerSecond;
    const qint64 b = wall - qint64(offsetAt(wall + kMsPerDay)) * kMsPerSecond;
    qint64 lo = std::min(a, b); // local time before the gap
    qint64 hi = std::max(a, b); // local time after it
    while (hi - lo > 1) {
        const qint64 mid = lo + (hi - lo) / 2;
        if (localMs(mid, offsetAt) < wall)
            lo = mid;
        else
            hi = mid;
    }
    return hi;
}

} // namespace

int systemOffsetAt(qint64 utcMs)
{
    return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::LocalTime).offsetFromUtc();
}

qint64 nextOccurrence(qint64 nowMs, QTime at, const OffsetAt &offsetAt)
{
    const qint64 second = floorDiv(nowMs, kMsPerSecond) * kMsPerSecond;
    const qint64 day = floorDiv(localMs(second, offsetAt), kMsPerDay);
    const qint64 timeOfDay = qint64(at.msecsSinceStartOfDay());
    // Yesterday's covers a clock behind by a fall-back; two days on covers a skipped day.
    for (qint64 d = day - 1; d <= day + 2; ++d) {
        const qint64 wall = d * kMsPerDay + timeOfDay;
        qint64 found[2] = {0, 0};
        const int n = instantsReading(wall, offsetAt, found);
        if (n == 0) {
            const qint64 end = gapEnd(wall, offsetAt);
            if (end > second)
                return end;
        }
        for (int i = 0; i < n; ++i) {
            if (found[i] > second)
                return found[i];
        }
    }
    return second + kMsPerDay; // not reached for any real zone
}

Until until(qint64 msLeft)
{
    Until u;
    // Rounded up: a part second left still shows as one, and zero never comes early.
    const qint64 whole = (std::max<qint64>(msLeft, 1) + kMsPerSecond - 1) / kMsPerSecond;
    u.seconds = int(std::min<qint64>(whole, kMaxUntilSeconds));
    // What is beyond the fields' range is spent holding the first value.
    u.firstTickMs = std::max<qint64>(msLeft, 1) - qint64(u.seconds - 1) * kMsPerSecond;
    return u;
}

} // namespace timeofday
