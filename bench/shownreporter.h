#pragma once

#include <QElapsedTimer>
#include <QEvent>
#include <QObject>

#include <cstdio>

// For the start-up benchmark: installed on a window, prints "shown N ms" once,
// at its first paint, N counted from construction of the reporter.
class ShownReporter : public QObject
{
public:
    ShownReporter() { m_since.start(); }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            std::printf("shown %lld ms\n", static_cast<long long>(m_since.elapsed()));
            std::fflush(stdout);
            watched->removeEventFilter(this);
        }
        return false;
    }

private:
    QElapsedTimer m_since;
};
