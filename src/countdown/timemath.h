#pragma once

#include <QString>

// The countdown's arithmetic, free of widgets.
namespace timemath {

// The leading decimal number of a text: leading blanks (space, tab, line feed)
// skipped, an optional sign, digits with at most one full stop; 0 when none.
double numericValue(const QString &text);

// Rounded to a whole number (an exact half away from zero), at least two
// digits, zero-padded; a negative value keeps its sign in front: -5 -> "-05".
QString twoDigits(double value);

// Round to nearest, an exact half to the even neighbour.
int roundHalfEven(double value);

struct Hms
{
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    bool operator==(const Hms &o) const
    {
        return hours == o.hours && minutes == o.minutes && seconds == o.seconds;
    }
};

// One tick: the time one second before the fields' values, normalised and
// reduced modulo one day. A negative total gives 00:00:00, so the countdown
// stops there instead of wrapping to 23:59:59.
Hms tickDown(double hours, double minutes, double seconds);

// The largest time a nudge leaves: 23:59:59, since the tick reduces a total
// modulo one day and a later one would turn into another time a second later.
constexpr int kMaxNudgedSeconds = 23 * 3600 + 59 * 60 + 59;

// The fields' values moved by `delta` seconds (either sign), each value rounded
// as the tick rounds it, the total clamped to 00:00:00 ... 23:59:59.
Hms nudged(double hours, double minutes, double seconds, int delta);

// The time text of the three fields' texts: their two-digit renderings joined,
// or "------" when the numeric value of the joined text is 0.
QString timeText(const QString &hours, const QString &minutes, const QString &seconds);

} // namespace timemath
