#include "countdown/presenterclock.h"

#include "countdown/timemath.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>

PresenterClock::PresenterClock(const std::array<QLineEdit *, 3> &fields, QCheckBox *swGo,
                               QObject *parent)
    : QObject(parent), m_fields(fields), m_swGo(swGo), m_overtimeTimer(new QTimer(this))
{
    m_overtimeTimer->setTimerType(Qt::PreciseTimer);
    m_overtimeTimer->setInterval(1000);
    connect(m_overtimeTimer, &QTimer::timeout, this, &PresenterClock::changed);
    connect(m_swGo, &QCheckBox::toggled, this, &PresenterClock::onRunToggled);
    for (QLineEdit *f : m_fields)
        connect(f, &QLineEdit::textChanged, this, &PresenterClock::onFieldChanged);
    m_lastLeft = secondsLeft();
}

int PresenterClock::secondsLeft() const
{
    using timemath::numericValue;
    using timemath::roundHalfEven;
    const long long total = 3600LL * roundHalfEven(numericValue(m_fields[0]->text()))
                            + 60LL * roundHalfEven(numericValue(m_fields[1]->text()))
                            + roundHalfEven(numericValue(m_fields[2]->text()));
    return int(std::clamp<long long>(total, -1, 1000 * 3600));
}

int PresenterClock::overtime() const
{
    return m_reachedZero ? int((m_sinceZero.elapsed() + 500) / 1000) : 0;
}

void PresenterClock::end()
{
    if (!m_reachedZero)
        return;
    m_reachedZero = false;
    m_overtimeTimer->stop();
    emit changed();
}

void PresenterClock::onRunToggled(bool on)
{
    if (on) {
        end();
        m_counting = secondsLeft() > 0;
        return;
    }
    // Run goes off with the fields at zero where the tick stops the countdown
    // there; a Run switched on at zero stops so too, but counted nothing down.
    const bool counted = m_counting;
    m_counting = false;
    if (!counted || secondsLeft() > 0 || m_reachedZero)
        return;
    m_reachedZero = true;
    m_sinceZero.start();
    m_overtimeTimer->start();
    emit changed();
}

void PresenterClock::onFieldChanged()
{
    // Once a tick ended in zero, nothing writes the fields but a set, a clearing or Reset.
    if (!m_swGo->isChecked())
        end();
    // The writes of one tick, nudge or set come one field at a time: the set
    // time is taken once they are all made.
    if (m_settling)
        return;
    m_settling = true;
    QMetaObject::invokeMethod(this, &PresenterClock::settle, Qt::QueuedConnection);
}

void PresenterClock::settle()
{
    m_settling = false;
    const int left = qMax(0, secondsLeft());
    const int delta = left - m_lastLeft;
    m_lastLeft = left;
    const int before = m_length;
    if (!m_swGo->isChecked()) {
        // Stopped: what the fields hold is the set time, except the zero a run reached.
        if (!m_reachedZero)
            m_length = left;
    } else {
        m_counting = m_counting || left > 0;
        // A tick takes one second off; anything else moved the target, and
        // the set time moves with it.
        if (delta != -1)
            m_length = qMax(left, m_length + delta);
    }
    if (m_length != before)
        emit changed();
}

#include "moc_presenterclock.cpp"
