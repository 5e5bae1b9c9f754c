#pragma once

#include "core/displayhealth.h"
#include "remote/zones.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// What a remote viewer sees of the console.
struct RemoteState
{
    QString time;  // the three fields' texts joined by ':' ("::" when empty)
    QString frame; // the six characters the displays show ("------" at zero)
    bool running = false;
    QString title;
    bool lampGreen = false;
    QList<DisplayHealth> displays;
    QString following;    // the main's "HOST:PORT" while this console follows one as its standby
    QString startsAt;     // "HH:MM:SS" while a start is armed, "" otherwise
    qint64 term = 0;      // which takeover this console is at: 0 for one started as main
    QStringList standbys; // the standbys following this console now, "HOST:PORT"

    // From the countdown, for the presenter's view:
    int secondsLeft = 0;      // the fields' total, as the tick reads them
    bool reachedZero = false; // a run counted down to zero and nothing was set since
    int overtime = 0;         // seconds since then
    int length = 0;           // the last set time, in seconds; 0 when none

    // The presenter's own, kept by the hub:
    zones::Thresholds zones;
    QString zone; // zones::name of the zone the time left is in
    QString message;
    bool messageVisible = true;
    bool blackout = false;

    // The running order's current segment; the list itself is GET /api/rundown's.
    struct Cue
    {
        int index = 0; // from 1; 0 when none is loaded
        int count = 0;
        QString title;
        QString next;     // what the next step loads
        int revision = 0; // changes with every new list: a follower fetches it again
    };
    Cue cue;
};

// What the presenter's view is given besides the countdown, as a standby
// follows it from its main.
struct PresenterSettings
{
    zones::Thresholds zones;
    QString message;
    bool messageVisible = true;
    bool blackout = false;
    bool operator==(const PresenterSettings &o) const
    {
        return zones == o.zones && message == o.message && messageVisible == o.messageVisible
               && blackout == o.blackout;
    }
};

namespace remotestate {
// {"time", "frame", "running", "title", "lamp": "green"|"red", "displays": [...],
//  "role": "main"|"standby", "following": "HOST:PORT"|"", "startsAt", "term",
//  "standbys": ["HOST:PORT", ...], "zones": {"warning", "danger"}, "zone",
//  "message": {"text", "visible"}, "overtime": "HH:MM:SS"|"", "blackout",
//  "length": "HH:MM:SS"|"", "cue": {"index", "count", "title", "next", "revision"}}, compact.
QByteArray toJson(const RemoteState &state);
} // namespace remotestate

// The narrow seam to the rest of the console, supplied by the composition point.
// Every action is the program write an operator's own action makes.
struct RemoteConsole
{
    std::function<void(int hours, int minutes, int seconds)> setTime;
    std::function<void()> run;
    std::function<void()> pause;
    std::function<void()> reset;
    std::function<void(int seconds)> nudge;
    // The fields to the time left until the next such local time of day.
    std::function<void(int hours, int minutes, int seconds)> until;
    // Arms a start at the next such local time of day; `source` names it in the
    // log line when it fires. A plain run, pause or reset disarms it.
    std::function<void(int hours, int minutes, int seconds, const QString &source)> runAt;
    std::function<void()> disarm;
    std::function<void(const QString &line)> log;
    std::function<RemoteState()> state;

    // The running order. `cue` loads segment `index` (from 1), or steps by
    // `step` when it is not 0, and runs it when `run`; it logs the cue with
    // `source` and gives an error text, or empty when the segment is loaded.
    std::function<QString(int index, int step, bool run, const QString &source)> cue;
    std::function<QByteArray()> rundownJson;
    // Checks and saves a new list (CSV or JSON): the HTTP status, and the error.
    std::function<int(const QByteArray &body, bool csv, const QString &source, QString *error)>
        putRundown;
};
