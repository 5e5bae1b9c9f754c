// The countdown arithmetic on arbitrary field texts: numeric value, two-digit
// rendering, the tick and the time text must neither crash nor leave their range.

#include "countdown/timemath.h"

#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // Three texts, split at the first two zero bytes; read as Latin-1 and UTF-8.
    QByteArray parts[3];
    int p = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && p < 2)
            ++p;
        else
            parts[p].append(char(data[i]));
    }
    for (int codec = 0; codec < 2; ++codec) {
        QString t[3];
        double v[3];
        for (int k = 0; k < 3; ++k) {
            t[k] = codec ? QString::fromUtf8(parts[k]) : QString::fromLatin1(parts[k]);
            v[k] = timemath::numericValue(t[k]);
            (void)timemath::twoDigits(v[k]);
        }
        const timemath::Hms next = timemath::tickDown(v[0], v[1], v[2]);
        if (next.hours < 0 || next.hours > 23 || next.minutes < 0 || next.minutes > 59
            || next.seconds < 0 || next.seconds > 59)
            std::abort();
        (void)timemath::twoDigits(next.hours);
        const QString text = timemath::timeText(t[0], t[1], t[2]);
        (void)text;
        if (std::isfinite(v[0]) && std::fabs(v[0]) < 1e9)
            (void)timemath::roundHalfEven(v[0]);
    }
    return 0;
}
