#include "countdown/countdown.h"

#include "controls/controls.h"
#include "countdown/timemath.h"
#include "countdown/timeofday.h"

#include <QCheckBox>
#include <QPalette>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {
constexpr int kTickMs = 1000;
}

Countdown::Countdown(const std::array<DelayField *, 3> &fields, QCheckBox *swGo,
                     QPushButton *bReset, QTimer *timRebour, ShapeWidget *vert, ShapeWidget *rouge,
                     ChangeHandler change, QObject *parent)
    : QObject(parent), m_fields(fields), m_swGo(swGo), m_timer(timRebour), m_vert(vert),
      m_rouge(rouge), m_change(std::move(change))
{
    // toggled, not clicked: a program write of the value must run the handling too.
    connect(m_swGo, &QCheckBox::toggled, this, &Countdown::SW_GO_Click);
    connect(m_timer, &QTimer::timeout, this, &Countdown::TIM_REBOUR_Timer);
    connect(bReset, &QPushButton::clicked, this, &Countdown::B_RESET_Click);
    for (int i = 0; i < 3; ++i)
        connect(m_fields[i], &DelayField::doubleClicked, this,
                [this, i] { INP_DELAY_DblClick(i); });
}

void Countdown::SW_GO_Click()
{
    QColor colour;
    if (m_swGo->isChecked()) {
        setTimerInterval(m_timer, kTickMs);
        colour = m_vert->fillColor();
    } else {
        setTimerInterval(m_timer, 0);
        colour = m_rouge->fillColor();
    }
    // A palette change leaves the text alone, so no frame goes out here.
    for (DelayField *field : m_fields) {
        QPalette palette = field->palette();
        palette.setColor(QPalette::Base, colour);
        field->setPalette(palette);
    }
}

void Countdown::TIM_REBOUR_Timer()
{
    if (!m_swGo->isChecked())
        return;
    // After a moved tick, back to the second from here.
    if (m_timer->isActive() && m_timer->interval() != kTickMs)
        m_timer->start(kTickMs);
    const double h = timemath::numericValue(m_fields[0]->text());
    const double m = timemath::numericValue(m_fields[1]->text());
    const double s = timemath::numericValue(m_fields[2]->text());
    const timemath::Hms next = timemath::tickDown(h, m, s);

    // Each write sends its own frame before the next one is made.
    m_fields[0]->setText(timemath::twoDigits(next.hours));
    m_fields[1]->setText(timemath::twoDigits(next.minutes));
    m_fields[2]->setText(timemath::twoDigits(next.seconds));

    // The test looks at what was written, after the displays have it.
    const double sum = timemath::numericValue(m_fields[1]->text())
                       + timemath::numericValue(m_fields[2]->text())
                       + timemath::numericValue(m_fields[0]->text());
    if (sum == 0) {
        m_swGo->setChecked(false);
        // After the stop has run its course: whoever loads the next segment
        // starts from a stopped countdown.
        emit reachedZero();
    }
}

void Countdown::nudge(int seconds)
{
    const timemath::Hms next = timemath::nudged(
        timemath::numericValue(m_fields[0]->text()), timemath::numericValue(m_fields[1]->text()),
        timemath::numericValue(m_fields[2]->text()), seconds);
    m_fields[0]->setText(timemath::twoDigits(next.hours));
    m_fields[1]->setText(timemath::twoDigits(next.minutes));
    m_fields[2]->setText(timemath::twoDigits(next.seconds));
}

void Countdown::countTo(qint64 msLeft)
{
    const timeofday::Until u = timeofday::until(msLeft);
    // The tick first: the writes send frames, which must not move the target.
    setNextTickIn(u.firstTickMs);
    m_fields[0]->setText(timemath::twoDigits(u.seconds / 3600));
    m_fields[1]->setText(timemath::twoDigits(u.seconds / 60 % 60));
    m_fields[2]->setText(timemath::twoDigits(u.seconds % 60));
}

void Countdown::setNextTickIn(qint64 ms)
{
    if (!m_swGo->isChecked() || !m_timer->isActive())
        return;
    m_timer->start(int(std::clamp<qint64>(ms, 1, std::numeric_limits<int>::max())));
}

void Countdown::B_RESET_Click()
{
    m_swGo->setChecked(false);
    for (DelayField *field : m_fields)
        field->setText(QString());
    // The displays get the blank frame even when the fields were empty already.
    if (m_change)
        m_change(0);
}

void Countdown::INP_DELAY_DblClick(int index)
{
    if (index < 0 || index >= static_cast<int>(m_fields.size()))
        return;
    m_fields[static_cast<std::size_t>(index)]->setText(QString());
}

#include "moc_countdown.cpp"
