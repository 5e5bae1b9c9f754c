#pragma once

#include <QString>
#include <QStringList>

// The presenter's warning zones: two thresholds and the rule that puts the
// time left in one zone. Pure, so the rule's edges can be tabled.
namespace zones {

enum class Zone { Idle, Normal, Warning, Danger, Zero };

// In seconds; 0 switches a threshold off.
struct Thresholds
{
    int warning = 300;
    int danger = 60;
    bool operator==(const Thresholds &o) const
    {
        return warning == o.warning && danger == o.danger;
    }
};

// `secondsLeft` as the fields read (0 or less: zero or empty); `reachedZero`:
// a run has counted down to 00:00:00 and nothing has been set since.
Zone zoneOf(const Thresholds &thresholds, int secondsLeft, bool reachedZero);

// "idle", "normal", "warning", "danger", "zero": the state's and the page's words.
QString name(Zone zone);

// "HH:MM:SS" of a count of seconds; hours go past 23 for a long overtime.
QString text(int seconds);

// Why a pair of thresholds cannot stand ("" when it can): danger above a warning that is on.
QString conflict(const Thresholds &thresholds);

// The file "ZONES.CFG": the warning, then the danger, one "HH:MM:SS" a line.
QStringList toLines(const Thresholds &thresholds);
// What the lines give: a bad line keeps its default and is named in `problems`.
Thresholds fromLines(const QStringList &lines, QStringList *problems);

} // namespace zones
