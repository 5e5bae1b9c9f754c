#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// SIGTERM (logout, shutdown), SIGINT (Ctrl+C in the terminal) and SIGHUP (the
// terminal gone) brought to the event loop, so the console can close as its
// window's own close does. The handler only writes the signal's number into a
// pipe; everything else happens on the event loop. One instance at a time;
// a no-op where the platform has no such signals.
class UnixSignals : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<void(int signalNumber)>;

    explicit UnixSignals(Handler handler, QObject *parent = nullptr);
    ~UnixSignals() override;

    // False when the signals could not be caught (not a Unix, or the pipe failed).
    bool isActive() const { return m_notifier != nullptr; }

private:
    void onReadable();

    Handler m_handler;
    QSocketNotifier *m_notifier = nullptr;
};
