#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <array>

// What a standby takes from the main it follows, as the main published it.
struct Followed
{
    std::array<QString, 3> fields; // the three countdown fields' texts, as they are
    bool running = false;
    QString title;
    QStringList list; // the display addresses, in the main's order
    bool lampGreen = false;
    QString role;     // "main" or "standby"; empty from a main that does not say
    QString startsAt; // the main's armed start, "HH:MM:SS", or empty
    qint64 term = 0;  // which takeover the main is at: 0 for a console started as main
    // The presenter's view, as the main sent it and unchecked: whoever applies
    // it checks it as typed input. Empty from a main that does not say.
    QString warning; // "HH:MM:SS"
    QString danger;
    bool hasMessage = false;
    QString message;
    bool messageVisible = true;
    bool blackout = false;
    // The main's running order: its current segment, and the revision of its
    // list (fetched whole when it changes); -1 from a main without one.
    int cueIndex = 0;
    int cueRevision = -1;

    bool operator==(const Followed &o) const
    {
        return fields == o.fields && running == o.running && title == o.title && list == o.list
               && lampGreen == o.lampGreen && role == o.role && startsAt == o.startsAt
               && term == o.term && warning == o.warning && danger == o.danger
               && hasMessage == o.hasMessage && message == o.message
               && messageVisible == o.messageVisible && blackout == o.blackout
               && cueIndex == o.cueIndex && cueRevision == o.cueRevision;
    }
};

namespace followed {

// The main's remote control: "IPV4:PORT" or "[IPV6]:PORT", port 1..65535.
// Names are refused: a look-up could stall or change under a show.
struct MainAddress
{
    QHostAddress address;
    quint16 port = 0;
    QString text; // as the log and the remote name it: "10.0.0.5:8080", "[fd00::5]:8080"
};
bool parseMain(const QString &text, MainAddress *out, QString *error);

// What typing could have put in the fields a state fills, as the window's own
// fields allow it.
struct Rules
{
    int titleLength = 32767; // the title field's length
    int entryLength = 32767; // the address field's length
    int maxEntries = 99;
};

// The main's state message (GET /api/state, or a push), taken whole or not at
// all: every member with its type, every entry an address the list's Add would
// take. The title is cut to its field and stripped of control characters, as
// typing would leave it. False, with `out` untouched, for anything else.
bool fromJson(const QByteArray &json, const Rules &rules, Followed *out);

// What a console that drives the displays makes of another console's state.
enum class Verdict {
    Keep,     // not a main, or a main of a lower term: it steps down, not us
    StepDown, // a main of a higher term: it took over from us
    SameTerm, // a main of the same term: logged, and both keep driving
};
Verdict judge(qint64 ownTerm, const QString &theirRole, qint64 theirTerm);

// Where a running countdown is now: the total it last pushed, less the whole
// seconds since that push, never below zero.
int secondsNow(int pushedSeconds, qint64 msSincePush);

} // namespace followed
