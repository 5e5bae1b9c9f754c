#include "countdown/timemath.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace timemath {
namespace {

constexpr int kSecondsPerDay = 86400;
// Far beyond any two-character field; keeps every conversion to a whole number defined.
constexpr double kLimit = 1e9;

double clamped(double value)
{
    return std::isnan(value) ? 0 : std::clamp(value, -kLimit, kLimit);
}

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

} // namespace

double numericValue(const QString &text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && isBlank(text.at(i)))
        ++i;

    const qsizetype start = i;
    if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        ++i;
    // The full stop is the decimal point whatever the locale; a second one ends the number.
    bool seenPoint = false;
    bool seenDigit = false;
    for (; i < n; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('.') && !seenPoint)
            seenPoint = true;
        else if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            seenDigit = true;
        else
            break;
    }
    if (!seenDigit)
        return 0;
    QString number = text.mid(start, i - start);
    if (number.endsWith(QLatin1Char('.')))
        number.chop(1); // "9." reads as 9
    bool ok = false;
    const double value = QLocale::c().toDouble(number, &ok);
    return ok ? value : 0;
}

QString twoDigits(double value)
{
    const long long whole = std::llround(clamped(value)); // an exact half goes away from zero
    const QString digits
        = QString::number(whole < 0 ? -whole : whole).rightJustified(2, QLatin1Char('0'));
    return whole < 0 ? QLatin1Char('-') + digits : digits;
}

int roundHalfEven(double value)
{
    value = clamped(value);
    const double below = std::floor(value);
    const double fraction = value - below;
    double result = below;
    if (fraction > 0.5)
        result = below + 1;
    else if (fraction == 0.5)
        result = std::fmod(below, 2.0) == 0 ? below : below + 1;
    return static_cast<int>(result);
}

Hms tickDown(double hours, double minutes, double seconds)
{
    // The one second comes off before rounding, so '.5' seconds stays put.
    const long long h = roundHalfEven(hours);
    const long long m = roundHalfEven(minutes);
    const long long s = roundHalfEven(seconds - 1);
    const long long total = 3600 * h + 60 * m + s;
    if (total < 0)
        return {};
    const int r = static_cast<int>(total % kSecondsPerDay);
    return {r / 3600, (r / 60) % 60, r % 60};
}

Hms nudged(double hours, double minutes, double seconds, int delta)
{
    const long long total = 3600LL * roundHalfEven(hours) + 60LL * roundHalfEven(minutes)
                            + roundHalfEven(seconds) + delta;
    const int t = static_cast<int>(std::clamp<long long>(total, 0, kMaxNudgedSeconds));
    return {t / 3600, (t / 60) % 60, t % 60};
}

QString timeText(const QString &hours, const QString &minutes, const QString &seconds)
{
    const QString text = twoDigits(numericValue(hours)) + twoDigits(numericValue(minutes))
                         + twoDigits(numericValue(seconds));
    // The leading number of the joined text: '00-0100' counts as zero too.
    return numericValue(text) == 0 ? QStringLiteral("------") : text;
}

} // namespace timemath
