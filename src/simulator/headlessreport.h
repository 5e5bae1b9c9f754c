#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>

class QIODevice;
class DisplaySimulator;

// The simulator without a window: one line per event, written and flushed at
// once so that scripts and tests can follow it as it happens:
//   14:03:22.120 127.0.0.2:1024 listening
//   14:03:23.004 127.0.0.2:1024 connected 127.0.0.1:40112
//   14:03:23.005 127.0.0.2:1024 frame "000130"
//   14:03:25.310 127.0.0.2:1024 closed 127.0.0.1:40112
//   14:03:30.200 udp recovery "127.0.0.3" for 127.0.0.3:1024 from 10.99.0.1:51000
//   14:03:31.000 udp datagram 41 42 from 10.99.0.1:51000
// Frame texts show bytes outside printable ASCII as \xHH.
class HeadlessReport : public QObject
{
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;

    HeadlessReport(DisplaySimulator &simulator, QIODevice *out, QObject *parent = nullptr);

    void setClock(Clock clock) { m_clock = std::move(clock); }
    // The lines for what start() set up; call once it succeeded.
    void reportStarted();

    static QString quoted(const QString &text);

private:
    void line(const QString &subject, const QString &what);

    DisplaySimulator &m_simulator;
    QIODevice *m_out;
    Clock m_clock = [] { return QDateTime::currentDateTime(); };
};
