#pragma once

#include "core/rundown.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

// The running order and its current segment. Loading a segment (a cue) does
// what the operator's typing does, through the hooks the composition point
// hands in; the list comes from "RUNDOWN.CSV", which only replace() writes,
// and the current segment survives a restart in "RUNDOWN.CUR".
class RunningOrder : public QObject
{
    Q_OBJECT
public:
    struct Hooks
    {
        std::function<void(const QString &message)> log;
        // The title into the title field, and its save as a typed title's.
        std::function<void(const QString &title)> setTitle;
        std::function<void()> saveTitle;
        // The three fields, each write sending its frame.
        std::function<void(int seconds)> setTime;
        // The count to the next such local time of day, as the remote's until.
        std::function<void(int secondOfDay)> until;
        std::function<void()> run;
        std::function<int()> maxTitle; // the title field's length
    };

    enum class Format { Csv, Json };
    enum class Replaced { Ok, Refused, NotSaved };

    explicit RunningOrder(Hooks hooks, QObject *parent = nullptr);

    void setFileNames(const QString &list, const QString &current);
    QString fileName() const { return m_fileName; }

    // Reads the list and the current segment at start-up. A bad file loads
    // nothing and leaves one log line naming the row and the column.
    void load();

    // Checks a new list as the file is checked, saves it as "RUNDOWN.CSV"
    // (a CSV as it came, JSON rendered as CSV) and takes it. `why` says what
    // was refused or why the file was not saved; nothing changes then.
    Replaced replace(const QByteArray &bytes, Format format, const QString &source, QString *why);

    // Loads segment `index` (from 1), and runs it when `run`. `source` heads
    // the log line ("REMOTE 127.0.0.1"; empty for the window). An error text,
    // or empty when it was loaded.
    QString cue(int index, bool run, const QString &source);
    // The next (+1) or the previous (-1) segment; from none loaded, +1 is the first.
    QString step(int delta, bool run, const QString &source);

    // Saves now what the last cue left to save (the console is closing).
    void flushSaves();

    // The countdown stopped at zero: an auto segment loads and runs the next one.
    void reachedZero();

    // A standby shows its main's list and current segment, loading nothing,
    // and saves both when it takes over. While following it takes no cue nor
    // list of its own.
    void setFollowing(bool following) { m_following = following; }
    void follow(const QList<rundown::Segment> &segments, int current);
    bool save();

    const QList<rundown::Segment> &segments() const { return m_segments; }
    int current() const { return m_current; } // from 1; 0 when none is loaded
    int count() const { return int(m_segments.size()); }
    // Changes with every new list, so a follower knows when to fetch it again.
    int revision() const { return m_revision; }
    QString titleAt(int index) const;
    // GET /api/rundown's answer.
    QByteArray json() const;

signals:
    void changed();

private:
    void take(const QList<rundown::Segment> &segments, int current);
    void saveLoaded();
    void saveCurrent();
    void log(const QString &message) const;

    Hooks m_hooks;
    QString m_fileName = QStringLiteral("RUNDOWN.CSV");
    QString m_currentFileName = QStringLiteral("RUNDOWN.CUR");
    QList<rundown::Segment> m_segments;
    int m_current = 0;
    int m_revision = 0;
    bool m_following = false;
    // A cue's files are saved once its frames have left: a zero timer runs
    // after the sockets' write notifications of the same loop turn, and a
    // disk's sync takes milliseconds.
    QTimer m_saveTimer;
};
