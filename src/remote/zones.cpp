#include "remote/zones.h"

#include "remote/command.h"

namespace zones {

Zone zoneOf(const Thresholds &t, int secondsLeft, bool reachedZero)
{
    if (secondsLeft <= 0)
        return reachedZero ? Zone::Zero : Zone::Idle;
    if (t.danger > 0 && secondsLeft <= t.danger)
        return Zone::Danger;
    if (t.warning > 0 && secondsLeft <= t.warning)
        return Zone::Warning;
    return Zone::Normal;
}

QString name(Zone zone)
{
    switch (zone) {
    case Zone::Idle:
        return QStringLiteral("idle");
    case Zone::Normal:
        return QStringLiteral("normal");
    case Zone::Warning:
        return QStringLiteral("warning");
    case Zone::Danger:
        return QStringLiteral("danger");
    case Zone::Zero:
        return QStringLiteral("zero");
    }
    return QString();
}

QString text(int seconds)
{
    seconds = qMax(0, seconds);
    auto two = [](int v) { return QString::number(v).rightJustified(2, QLatin1Char('0')); };
    return two(seconds / 3600) + QLatin1Char(':') + two(seconds / 60 % 60) + QLatin1Char(':')
           + two(seconds % 60);
}

QString conflict(const Thresholds &t)
{
    if (t.warning > 0 && t.danger > t.warning)
        return QStringLiteral("danger %1 is above warning %2").arg(text(t.danger), text(t.warning));
    return QString();
}

QStringList toLines(const Thresholds &t)
{
    return {text(t.warning), text(t.danger)};
}

Thresholds fromLines(const QStringList &lines, QStringList *problems)
{
    Thresholds t;
    const Thresholds defaults;
    int *const values[2] = {&t.warning, &t.danger};
    for (int i = 0; i < 2 && i < lines.size(); ++i) {
        const remotecmd::Parsed p = remotecmd::parseTimeText(lines[i]);
        if (!p.ok) {
            problems->append(
                QStringLiteral("line %1 \"%2\": %3").arg(i + 1).arg(lines[i], p.error));
            continue;
        }
        *values[i] = 3600 * p.command.hours + 60 * p.command.minutes + p.command.seconds;
    }
    const QString why = conflict(t);
    if (!why.isEmpty()) {
        problems->append(QStringLiteral("line 2: %1").arg(why));
        t = defaults;
    }
    return t;
}

} // namespace zones
