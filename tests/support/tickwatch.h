#pragma once

// Watches the countdown's ticks beside a bare one-second timer that runs in a
// thread of its own over the same span: the bare timer shows what the machine
// itself allows (a loaded runner delays every timer), so the countdown is held
// to that, not to a fixed window that a busy machine would break.

#include <QElapsedTimer>
#include <QLineEdit>
#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdlib>

class TickWatch
{
public:
    explicit TickWatch(QLineEdit *seconds)
    {
        m_clock.start();
        QObject::connect(seconds, &QLineEdit::textChanged, &m_context,
                         [this] { m_ticks.append(m_clock.elapsed()); });
        m_thread.start();
        auto *bare = new QTimer;
        bare->setTimerType(Qt::PreciseTimer);
        bare->setInterval(1000);
        bare->moveToThread(&m_thread);
        QObject::connect(bare, &QTimer::timeout, bare, [this] {
            const QMutexLocker lock(&m_mutex);
            m_bare.append(m_clock.elapsed());
        });
        QObject::connect(&m_thread, &QThread::finished, bare, &QObject::deleteLater);
        QMetaObject::invokeMethod(bare, qOverload<>(&QTimer::start));
    }
    ~TickWatch()
    {
        m_thread.quit();
        m_thread.wait();
    }
    TickWatch(const TickWatch &) = delete;
    TickWatch &operator=(const TickWatch &) = delete;

    int ticks() const { return static_cast<int>(m_ticks.size()); }

    // "worst tick gap off by N ms (bare timer: M ms)", for the figures.
    QString summary() const
    {
        const QMutexLocker lock(&m_mutex);
        return QStringLiteral("worst tick gap off by %1 ms (bare timer: %2 ms)")
            .arg(worst(m_ticks))
            .arg(worst(m_bare));
    }

    // Empty when every gap between ticks lies within 1000 ms by no more than
    // 50 ms beyond the bare timer's own worst gap; else what went wrong.
    QString fault() const
    {
        QList<qint64> bare;
        {
            const QMutexLocker lock(&m_mutex);
            bare = m_bare;
        }
        const qint64 allowed = 50 + worst(bare);
        for (qsizetype i = 1; i < m_ticks.size(); ++i) {
            const qint64 gap = m_ticks[i] - m_ticks[i - 1];
            if (std::llabs(gap - 1000) > allowed)
                return QStringLiteral("tick gap %1 ms; the bare timer's worst was %2 ms off")
                    .arg(gap)
                    .arg(allowed - 50);
        }
        return {};
    }

private:
    static qint64 worst(const QList<qint64> &times)
    {
        qint64 w = 0;
        for (qsizetype i = 1; i < times.size(); ++i)
            w = std::max<qint64>(w, std::llabs(times[i] - times[i - 1] - 1000));
        return w;
    }

    QObject m_context;
    QElapsedTimer m_clock;
    QThread m_thread;
    mutable QMutex m_mutex;
    QList<qint64> m_ticks;
    QList<qint64> m_bare;
};
