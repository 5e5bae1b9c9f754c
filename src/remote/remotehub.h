#pragma once

#include "remote/command.h"
#include "remote/remoteconsole.h"

#include <QObject>

// Where remote commands meet the console: carries them out through the seam,
// logs each with its source, and turns the console's changes into one state
// message per event-loop turn, so a tick's three field writes give one push.
class RemoteHub : public QObject
{
    Q_OBJECT
public:
    explicit RemoteHub(QObject *parent = nullptr);

    void setConsole(RemoteConsole console);

    // `source` is what the log line starts with: "REMOTE 127.0.0.1", "OSC 10.0.0.5".
    // An error text when the command could not be carried out (a cue out of
    // range), empty otherwise.
    QString execute(const Command &command, const QString &source);
    // Why `command` cannot be carried out now, "" when it can: a threshold that
    // would put danger above the warning it leaves. The servers answer it, 400.
    QString rejection(const Command &command) const;

    // The thresholds from `fileName` ("ZONES.CFG"): a missing or unreadable
    // file gives the defaults, a bad line is logged and ignored. Every change
    // of them is saved there, from then on.
    void loadZones(const QString &fileName);
    // Writes the thresholds to that file; false, with one log line, when it failed.
    bool saveZones();
    PresenterSettings presenter() const;
    // What a standby takes from its main: shown as it is, neither logged nor saved.
    void followPresenter(const PresenterSettings &settings);

    // While set, this console is a standby that follows the main at `main`
    // ("HOST:PORT"): its state says so and every command is refused.
    void setFollowing(const QString &main);
    // Why commands are refused now ("standby: send commands to HOST:PORT"), or empty.
    QString refusal() const;

    // A standby that proved the shared token announced itself ("HOST:PORT"),
    // or its push socket closed. Logged, and shown in the state.
    void standbyJoined(const QString &address);
    void standbyLeft(const QString &address);
    // An announcement not taken: without the shared token the pair is not fenced.
    void standbyNotFenced(const QString &address);
    // The running order: GET /api/rundown's answer, and PUT's (the HTTP status).
    QByteArray rundownJson() const;
    int putRundown(const QByteArray &body, bool csv, const QString &source, QString *error);

    RemoteState state() const;
    QByteArray stateJson() const;

    // Called by the composition point on every change; cheap, and never sends
    // anything itself: the push goes out after the current handler returns.
    void notifyChanged();

signals:
    // Once per event-loop turn in which something changed; pushJson() is the new state.
    void changed();
    void joined(const QString &address);
    void left(const QString &address);

public:
    // The state as of the last changed(), built once however many viewers ask.
    QByteArray pushJson();

private:
    void flush();
    QString cue(const Command &command, const QString &source);
    Command completed(const Command &command) const;
    void log(const QString &line);

    RemoteConsole m_console;
    PresenterSettings m_presenter;
    QString m_zonesFile;
    QString m_following;
    QStringList m_standbys;
    QString m_notFenced; // the last announcement logged as not fenced
    bool m_pending = false;
    QByteArray m_pushJson;
};
