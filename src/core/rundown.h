#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The running order: a show's segments, as a spreadsheet exports them to
// "RUNDOWN.CSV" and as the remote control sends them. Pure functions only, so
// the list window and the remote control check a list by the same rules.
namespace rundown {

constexpr int kMaxSegments = 200;
// A note is a few lines for the operator, not a script.
constexpr int kMaxNote = 1000;
// Anything larger is no running order of 200 segments.
constexpr int kMaxFileBytes = 1024 * 1024;

struct Segment
{
    QString title;
    int duration = -1; // seconds, 1 .. 23:59:59; -1 when the segment runs until a time of day
    int until = -1;    // seconds since midnight, 0 .. 23:59:59; -1 when it has a duration
    QString note;
    bool autoNext = false; // at zero, the next segment is loaded and run at once

    bool operator==(const Segment &o) const
    {
        return title == o.title && duration == o.duration && until == o.until && note == o.note
               && autoNext == o.autoNext;
    }
};

// A whole list, or why there is none: one bad row loads nothing.
struct Parsed
{
    bool ok = false;
    QList<Segment> segments;
    QString error;       // `row 4, duration: "1:75:00" is no time`
    QStringList notices; // what was mended, one log line each: a title cut at the field's length
};

// A spreadsheet's CSV export: UTF-8 with or without a byte-order mark (a file
// that is no UTF-8 is read as Windows-1252, as a spreadsheet's plain CSV is),
// `,` or `;` as the header row uses it, `"` quotes with doubled quotes and line
// breaks inside, CR LF or LF. Rows count as the spreadsheet numbers them: the
// header is row 1.
Parsed parseCsv(const QByteArray &bytes, int maxTitle);

// {"items":[{"title","duration","until","note","auto"}]}, as GET /api/rundown
// gives it ("current" is ignored). Items count from 1 in the errors.
Parsed parseJson(const QByteArray &bytes, int maxTitle);

// The list as a UTF-8 CSV file with a byte-order mark, comma-separated, CR LF,
// quoted where needed: what a spreadsheet opens as it was meant.
QByteArray toCsv(const QList<Segment> &segments);

// {"items":[...],"current":N}, times as "HH:MM:SS", a missing one as "".
QByteArray toJson(const QList<Segment> &segments, int current);

// "HH:MM:SS" for seconds 0 .. 86399; "" for -1.
QString timeText(int seconds);

// What two parts mean: "20:00" is twenty minutes as a duration, eight in the
// evening as a time of day.
enum class TwoParts { MinutesSeconds, HoursMinutes };

// "HH:MM:SS", or two parts, with one or two digits each, within 23:59:59:
// seconds, or -1 when it is no time ("1:75:00").
int parseTime(const QString &text, TwoParts twoParts);

} // namespace rundown
