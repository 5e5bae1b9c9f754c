#pragma once

#include <QObject>

#include <array>
#include <functional>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTimer;
class DelayField;
class ShapeWidget;

// The countdown: Run/stop, the once-a-second tick, Reset and the double-click
// clearing. Its only state is the three fields' text and the Run toggle.
class Countdown : public QObject
{
    Q_OBJECT
public:
    using ChangeHandler = std::function<void(int index)>;

    // Wires the controls' signals to the handlers below. `change` is the
    // fields' change handling, which Reset also calls directly.
    Countdown(const std::array<DelayField *, 3> &fields, QCheckBox *swGo, QPushButton *bReset,
              QTimer *timRebour, ShapeWidget *vert, ShapeWidget *rouge, ChangeHandler change,
              QObject *parent = nullptr);

    void SW_GO_Click();
    void TIM_REBOUR_Timer();
    void B_RESET_Click();
    void INP_DELAY_DblClick(int index);

    // Moves the countdown by `seconds` (either sign), written back field by
    // field as the tick writes, so each write sends its frame.
    void nudge(int seconds);

    // Counts to an instant `msLeft` from now: the fields show the time left,
    // rounded up to the second (at most 23:59:59), written as the tick writes;
    // while running, the next tick is moved so that zero lands on the instant,
    // never before it. Stopped, only the fields change.
    void countTo(qint64 msLeft);

signals:
    // The tick that wrote zero has stopped the countdown (not a pause, nor Reset).
    void reachedZero();

private:
    void setNextTickIn(qint64 ms);

    std::array<DelayField *, 3> m_fields;
    QCheckBox *m_swGo;
    QTimer *m_timer;
    ShapeWidget *m_vert;
    ShapeWidget *m_rouge;
    ChangeHandler m_change;
};
