#pragma once

#include <QByteArray>
#include <QString>

// One remote action, whatever it came over: the same few buttons everywhere.
struct Command
{
    enum class Kind {
        SetTime,
        Run,
        Pause,
        Reset,
        Nudge,
        Until,
        RunAt,
        Disarm,
        Zones,
        Message,
        Blackout,
        Cue
    };

    Kind kind = Kind::Run;
    int hours = 0;   // SetTime, Until, RunAt: 0..23
    int minutes = 0; // SetTime: 0..59
    int seconds = 0; // SetTime: 0..59; Nudge: the signed amount
    // Zones: the thresholds in seconds, -1 where left out.
    int warning = -1;
    int danger = -1;
    // Message: the text, when given, and whether it shows (-1 where left out).
    QString text;
    bool hasText = false;
    int visible = -1;
    bool on = false; // Blackout
    // Cue: a segment of the running order by its number (from 1), or a step
    // (+1, -1) from the current one; `run` runs it once loaded.
    int cueIndex = 0;
    int cueStep = 0;
    bool run = false;

    // What the event log names after the source: "TIME 00:01:30", "RUN", "NUDGE -60",
    // "UNTIL 20:00:00", "RUN AT 19:30:00", "ZONES 00:05:00 00:01:00", "MESSAGE \"Wrap up\"",
    // "MESSAGE HIDDEN", "BLACKOUT ON". Zones and Message as the hub completes them.
    QString logText() const;
    bool operator==(const Command &o) const
    {
        return kind == o.kind && hours == o.hours && minutes == o.minutes && seconds == o.seconds
               && warning == o.warning && danger == o.danger && text == o.text
               && hasText == o.hasText && visible == o.visible && on == o.on
               && cueIndex == o.cueIndex && cueStep == o.cueStep && run == o.run;
    }
};

namespace remotecmd {

// The remote sets at most a day less a second: the tick reduces a total modulo
// one day, so a later time would show as another one a second later.
constexpr int kMaxHours = 23;
// The largest amount a nudge may carry: the whole of that range.
constexpr int kMaxNudge = kMaxHours * 3600 + 59 * 60 + 59;
// Request bodies above this are refused before they are read.
constexpr int kMaxBody = 4096;
// The presenter's message, in characters (code points).
constexpr int kMaxMessage = 200;

// A command, or why there is none. `status` is the HTTP status to answer with
// when there is none (400, 404, 405, 413).
struct Parsed
{
    bool ok = false;
    Command command;
    int status = 400;
    QString error;

    static Parsed fail(int status, const QString &error)
    {
        Parsed p;
        p.status = status;
        p.error = error;
        return p;
    }
    static Parsed of(const Command &c)
    {
        Parsed p;
        p.ok = true;
        p.command = c;
        p.status = 200;
        return p;
    }
};

// "HH:MM:SS" with one or two digits per part, hours 0..23, minutes and seconds 0..59.
Parsed parseTimeText(const QString &text);

// A time of day "HH:MM:SS", one or two digits per part, within 23:59:59; the
// command's kind is `kind` (Until or RunAt).
Parsed parseTimeOfDay(const QString &text, Command::Kind kind);

// Why a message text cannot be shown ("" when it can): too long, a control
// character or a line break, or half of a surrogate pair.
QString messageError(const QString &text);

// What an HTTP request asks for. Reads (pages, state, the push socket) need no body;
// a command carries its parsed value.
struct Route
{
    // Rundown: GET /api/rundown; RundownPut: its replacement, whose body the
    // server hands to the running order as it came.
    enum class Kind {
        None,
        DisplayPage,
        ControlPage,
        PresenterPage,
        State,
        Push,
        Command,
        Rundown,
        RundownPut
    };
    Kind kind = Kind::None;
    Parsed parsed;    // for Command, and for None: the error to answer with
    QByteArray allow; // for 405: the methods the path takes
};

// Whether a request is a command (a POST to one of the command paths, or the
// running order's replacement), from its head alone: who may send it is
// settled before its body is read.
bool isCommand(const QByteArray &method, const QByteArray &target);

// The whole request to action mapping: method, path (a query string is ignored)
// and body. Pure, so it can be fed anything.
Route route(const QByteArray &method, const QByteArray &target, const QByteArray &body);

// The body of a POST to one of the command paths; `path` without the query.
Parsed parseCommandBody(const QByteArray &path, const QByteArray &body);

// An OSC message's address, type tags and arguments, already decoded.
struct OscArg
{
    char type = 0; // 'i', 'f', 'd', 'h', 's' …
    qint64 integer = 0;
    double real = 0;
    QString text;
};
Parsed parseOsc(const QByteArray &path, const QList<OscArg> &args);

// The running order's paths: POST /api/cue's body ({"index":N} or {"step":±1},
// and "run":true), and the OSC cue addresses (/rv38t/cue/next, /rv38t/cue/prev,
// /rv38t/cue ,i). Whether the segment exists is the running order's to say.
Parsed parseCueBody(const QByteArray &body);
Parsed parseCueOsc(const QByteArray &path, const QList<OscArg> &args);
// A replacement's body is CSV by its Content-Type ("text/csv"), JSON otherwise.
bool isCsv(const QByteArray &contentType);
// The running order's replacement may be larger than a command: a list of 200
// segments with their notes.
constexpr int kMaxRundownBody = 512 * 1024;

} // namespace remotecmd
